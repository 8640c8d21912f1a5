// The block transfer engine: negotiation, toggled blocks with acknowledgement and resend,
// variable-length chunks, retries and time-outs. Pure protocol logic; frames leave through the
// owner's queue and flush functions and time comes from the owner's clock.
#include "link/stream_engine.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

namespace qv {

namespace {

constexpr std::size_t kSlotSize = 8;
constexpr std::uint8_t kEmptySlot = 0xFF;
constexpr std::uint32_t kMaxStandardId = 0x7FF;
constexpr double kMaxWireValue = 65535.0;
// How long a full block waits for the rest of a transmission that did not end with its last
// frame (all frames of a block leave in one flush, so they come within a few milliseconds).
constexpr double kSettleMs = 20.0;
// Values of the last-command record that steer the receiving end's repeats.
constexpr std::uint16_t kLastAck = 0;

constexpr std::uint16_t framesFor(std::uint16_t blockSize) {
    return static_cast<std::uint16_t>((blockSize + 6u) / 7u);
}

// Command and data frames are standard data frames of length 8; anything else is not ours.
bool isProtocolFrame(const CanFrame& frame, std::uint32_t id) {
    return !frame.extended() && !frame.remote() && frame.length() == 8 && id <= kMaxStandardId &&
           frame.identifier() == id;
}

std::uint16_t wordAt(const CanFrame& frame, std::size_t i) {
    const auto& d = frame.data();
    return static_cast<std::uint16_t>(d[2 * i] | (d[2 * i + 1] << 8));
}

TransferInfo infoOf(const CanFrame& frame) {
    return TransferInfo{wordAt(frame, 0), wordAt(frame, 1), wordAt(frame, 2), wordAt(frame, 3)};
}

TransferInfo codeInfo(std::uint16_t code) {
    return TransferInfo{code, 0, 0, 0};
}

// What a peer's time-out or retry count makes of ours: the responder takes the larger, the
// initiator the peer's, and either way a peer raises it to `cap` at most (never below our own).
template <typename T>
T agreed(T own, T peer, T cap, bool larger) {
    const T raised = std::min(peer, std::max(own, cap));
    return larger ? std::max(own, raised) : raised;
}

}  // namespace

struct StreamEngine::State {
    Io io;

    // Configuration.
    std::uint32_t controlId = kNoStreamId;
    std::uint32_t dataId = 0;
    std::uint16_t cfgBlockSize = kDefaultBlockSize;
    double cfgTimeoutMs = kDefaultStreamTimeoutMs;
    std::uint32_t cfgRetries = kDefaultStreamRetries;
    PacketReceivedListener* listener = nullptr;

    // Transfer parameters.
    std::uint16_t blockSize = kDefaultBlockSize;
    double timeoutMs = kDefaultStreamTimeoutMs;
    std::uint32_t retries = kDefaultStreamRetries;
    std::span<std::uint8_t> user;
    std::uint16_t index = 0;
    std::uint16_t length = 0;
    std::uint16_t startLength = 0;  // the length the transfer started with
    bool sends = false;
    bool variable = false;
    std::uint16_t peerLength = 0;
    std::uint16_t frames = framesFor(kDefaultBlockSize);
    std::vector<std::uint8_t> block;
    std::uint16_t received = 0;
    std::uint32_t blockIndex = 0;
    double startMs = 0;

    // Transfer flags.
    bool pending = false;  // this end opened the transfer (stays set until the end)
    bool negotiated = false;
    bool active = false;
    bool awaiting = false;
    // The block in progress must be sent again (Block incomplete): a frame with an index beyond
    // the block arrived, or two different frames for one slot.
    bool damaged = false;
    // Two different frames came for one slot: stale frames are about, and until the Block
    // incomplete goes out no frame is taken (the rest of what arrives with them may be stale
    // too, and could fill the block anew; the sender repeats the block only when asked).
    bool conflict = false;
    bool blockComplete = false;
    // The block is full but its last frame has not come since (see onData).
    bool settling = false;
    double settleSinceMs = 0;
    bool lengthChange = false;
    bool finished = false;  // a responder that moved all data and waits for the peer's Close
    // A chunked receive between chunks that heard a Close (0) and holds it (see onClose).
    bool closeHeld = false;
    double closeHeldSinceMs = 0;
    std::uint32_t retryCount = 0;
    double lastActivity = 0;
    std::uint16_t lastCommand = 0;
    std::uint8_t toggle = 0;
    std::uint32_t chunksTaken = 0;  // receiving end: chunks handed to the listener

    // Bumped whenever a transfer starts or ends, so that a handler can tell after raising an
    // event whether the listener started or ended a transfer from inside it.
    std::uint64_t generation = 0;

    explicit State(Io i) : io(std::move(i)) {}

    // ---- I/O -------------------------------------------------------------------------------

    double now() const {
        try {
            return io.nowMs ? io.nowMs() : 0.0;
        } catch (...) {
            return lastActivity;
        }
    }

    bool queue(const CanFrame& frame) {
        try {
            return io.queueFrame && io.queueFrame(frame);
        } catch (...) {
            return false;
        }
    }

    bool flush() {
        try {
            return io.flush && io.flush();
        } catch (...) {
            return false;
        }
    }

    // Queues and flushes one command frame; a send restarts the time-out.
    bool sendCommand(std::uint16_t cmd, std::uint16_t p1, std::uint16_t p2, std::uint16_t p3) {
        if (controlId > kMaxStandardId) return false;
        const std::array<std::uint16_t, 4> words{cmd, p1, p2, p3};
        CanFrame::Data data{};
        for (std::size_t i = 0; i < 4; ++i) {
            data[2 * i] = static_cast<std::uint8_t>(words[i] & 0xFF);
            data[2 * i + 1] = static_cast<std::uint8_t>(words[i] >> 8);
        }
        if (!queue(CanFrame(controlId, false, false, 8, data)) || !flush()) return false;
        lastActivity = now();
        return true;
    }

    std::uint16_t wireTimeout() const {
        return static_cast<std::uint16_t>(std::clamp(timeoutMs, 0.0, kMaxWireValue));
    }
    std::uint16_t wireRetries() const {
        return static_cast<std::uint16_t>(std::min<std::uint32_t>(retries, 65535u));
    }

    bool sendOpening() {
        const auto direction =
            static_cast<std::uint16_t>(((sends ? 0u : 1u) << 8) | (variable ? 1u : 0u));
        return sendCommand(stream_cmd::kRequest, index, length, direction) &&
               sendCommand(stream_cmd::kPropose, blockSize, wireTimeout(), wireRetries());
    }

    bool sendAccept() {
        return sendCommand(stream_cmd::kAccept, blockSize, wireTimeout(), wireRetries());
    }

    bool sendAck(std::uint16_t p1) {
        const auto p2 = static_cast<std::uint16_t>(p1 == 0 ? toggle << 8 : 0);
        return sendCommand(stream_cmd::kBlockAck, p1, p2, 0);
    }

    // Queues all N frames of block `number` and sends them with one flush.
    bool sendBlock(std::uint32_t number) {
        if (controlId > kMaxStandardId || dataId > kMaxStandardId) return false;
        std::size_t pos = static_cast<std::size_t>(blockSize) * number;
        std::size_t used = 0;
        for (std::uint16_t k = 0; k < frames; ++k) {
            CanFrame::Data data{};
            data[0] = static_cast<std::uint8_t>((toggle << 7) | k);
            for (std::size_t j = 1; j < kSlotSize; ++j) {
                if (used >= blockSize || pos >= length || pos >= user.size()) break;
                data[j] = user[pos++];
                ++used;
            }
            if (!queue(CanFrame(dataId, false, false, 8, data))) return false;
        }
        if (!flush()) return false;
        awaiting = true;
        blockIndex = number + 1;
        lastActivity = now();
        return true;
    }

    // Sends block `number`; a failed send aborts the transfer. False when aborted.
    bool sendBlockOrAbort(std::uint32_t number) {
        if (sendBlock(number)) return true;
        abort(codeInfo(kAbortTimeout));
        return false;
    }

    // The block sent last (block 0 when none was sent yet).
    std::uint32_t lastBlock() const { return blockIndex > 0 ? blockIndex - 1 : 0; }

    // ---- events ----------------------------------------------------------------------------

    int raise(int type, TransferInfo& info) {
        PacketReceivedListener* l = listener;
        return l != nullptr ? l->onStreamEvent(type, info) : 1;
    }

    // Reports the end of a transfer; raised last, after the state is final.
    void raiseEnd(int type, TransferInfo info) { raise(type, info); }

    // ---- state -----------------------------------------------------------------------------

    void resetFlags() {
        pending = negotiated = active = awaiting = false;
        damaged = conflict = blockComplete = settling = lengthChange = finished = closeHeld = false;
        chunksTaken = 0;
        retryCount = 0;
        lastCommand = 0;
        toggle = 0;
        received = 0;
    }

    void endTransfer() {
        resetFlags();
        block.clear();
        ++generation;
    }

    bool running() const { return active || negotiated || awaiting; }

    void abort(TransferInfo info) {
        if (negotiated) sendCommand(stream_cmd::kClose, 1, 0, 0);
        endTransfer();
        raiseEnd(kStreamAborted, info);
    }

    void emptyBlock() {
        std::fill(block.begin(), block.end(), kEmptySlot);
        received = 0;
        settling = false;
    }

    void setupBlocks() {
        frames = framesFor(blockSize);
        block.assign(static_cast<std::size_t>(frames) * kSlotSize, kEmptySlot);
        received = 0;
        blockIndex = 0;
    }

    // The initiator's end of a transfer: Close (0) is repeated on time-out until the peer's
    // Close (2) arrives. False when the send failed and the transfer was aborted.
    bool closeTransfer() {
        if (!sendCommand(stream_cmd::kClose, 0, 0, 0)) {
            abort(codeInfo(kAbortTimeout));
            return false;
        }
        endTransfer();
        awaiting = true;
        lastActivity = now();
        return true;
    }

    // A responder that moved all data waits for the initiator's Close.
    void awaitPeerClose() {
        negotiated = false;
        finished = true;
        awaiting = true;
        lastActivity = now();
    }

    // Closing: this end sent Close (0) and waits for Close (2).
    bool closing() const { return awaiting && !active && !negotiated; }

    // Whether the data of a fixed-length transfer has all gone out (sending end) or come in.
    bool allDataMoved() const {
        return finished || static_cast<std::size_t>(blockSize) * blockIndex >= length;
    }

    // Copies the completed block into the caller's buffer; true when the data is complete.
    bool copyBlock() {
        std::size_t pos = static_cast<std::size_t>(blockSize) * blockIndex;
        std::size_t used = 0;
        for (std::uint16_t k = 0; k < frames; ++k) {
            const std::size_t slot = static_cast<std::size_t>(k) * kSlotSize;
            for (std::size_t j = 1; j < kSlotSize; ++j) {
                if (used >= blockSize || pos >= length || pos >= user.size()) break;
                user[pos++] = block[slot + j];
                ++used;
            }
        }
        ++blockIndex;
        return static_cast<std::size_t>(blockSize) * blockIndex >= length;
    }

    // ---- commands --------------------------------------------------------------------------

    void onPropose(const CanFrame& f) {
        if (!active || negotiated || pending || !awaiting) return;
        const std::uint16_t p1 = wordAt(f, 1);
        if (p1 == 0) return;
        awaiting = false;
        const std::uint16_t limit = (sends && variable && peerLength > length) ? length : blockSize;
        // Never more than 127 frames per block, whatever the peer proposes.
        blockSize = std::min({limit, p1, kMaxBlockSize});
        timeoutMs = agreed(timeoutMs, static_cast<double>(wordAt(f, 2)), kMaxPeerTimeoutMs, true);
        retries = agreed<std::uint32_t>(retries, wordAt(f, 3), kMaxPeerRetries, true);
        setupBlocks();
        if (!sendAccept()) {
            abort(codeInfo(kAbortTimeout));
            return;
        }
        retryCount = 0;
        lastCommand = stream_cmd::kAccept;
        negotiated = true;
        if (!sends) {
            toggle = 1;
            awaiting = true;
            lastActivity = now();
            return;
        }
        toggle = 0;
        if (peerLength > length && variable) {
            toggle = 1;
            if (!sendCommand(stream_cmd::kSetLength, length, 0, 0)) {
                abort(codeInfo(kAbortTimeout));
                return;
            }
            lengthChange = true;
            awaiting = true;
            return;
        }
        sendBlockOrAbort(0);
    }

    void onAccept(const CanFrame& f) {
        if (negotiated) {
            // A receiving responder repeats Accept while block 0 never reached it: send it again.
            if (sends && pending && awaiting && blockIndex == 1 && !lengthChange)
                sendBlockOrAbort(0);
            return;
        }
        if (!awaiting || !pending) return;
        const std::uint16_t p1 = wordAt(f, 1);
        if (p1 == 0 || p1 > blockSize) {
            abort(infoOf(f));
            return;
        }
        awaiting = false;
        blockSize = p1;
        timeoutMs = agreed(timeoutMs, static_cast<double>(wordAt(f, 2)), kMaxPeerTimeoutMs, false);
        retries = agreed<std::uint32_t>(retries, wordAt(f, 3), kMaxPeerRetries, false);
        setupBlocks();
        negotiated = true;
        retryCount = 0;
        lastActivity = now();
        if (sends) {
            toggle = 0;
            sendBlockOrAbort(0);
        } else {
            toggle = 1;
            awaiting = true;
        }
    }

    // Whether a Close (0) from the peer can end this transfer. A late Close of an earlier
    // transfer (the peer repeats it until acknowledged) must not end a later one as done.
    bool closeFits() const {
        // Our own Close crossed the peer's, or we moved all data and wait for exactly this.
        if (!active || finished) return true;
        // Nothing agreed yet: the peer has nothing to close.
        if (!negotiated) return false;
        // A receiver with all data of the current length, whose final acknowledgement was lost.
        if (sends) return allDataMoved();
        // A variable-length sender ends between chunks, once at least one chunk was taken and
        // before it announced another length or sent a block of another chunk (frames of a
        // block not complete yet are stale ones then); a fixed-length transfer ends only after
        // all its data (then this end is finished).
        return variable && chunksTaken > 0 && blockIndex == 0 && !lengthChange && !blockComplete;
    }

    // A Close (0) that ends a running transfer without its final acknowledgement (between
    // chunks of a receive, or after our last block when the acknowledgement was lost) is held
    // for a moment before it counts: a late copy of the previous transfer's Close looks exactly
    // like the real one, and taking it would end a read with chunks missing. A sender that goes
    // on sends its next block or length right after our acknowledgement; any of it clears the
    // hold, and the Close is dropped. A real Close stays alone and is taken by the poll.
    // No hold once the sender has shortened its length (senderShortened()).
    void holdClose() {
        if (closeHeld) return;
        closeHeld = true;
        closeHeldSinceMs = now();
    }

    // The peer's Close (0) ends this transfer as done.
    void takeClose() {
        const TransferInfo info{0, 0, 0, length};
        endTransfer();
        if (!sendCommand(stream_cmd::kClose, 2, 0, 0)) {
            raiseEnd(kStreamAborted, codeInfo(kAbortTimeout));
            return;
        }
        raiseEnd(kStreamDone, info);
    }

    // A sending end shortens its length only for its last chunk, and the length never grows
    // again: once a receiver took such a chunk, nothing but the Close can follow, so a Close
    // (a copy of an earlier one or not) is taken at once. This is the usual end of a chunked
    // transfer (an object not a multiple of the chunk), which thus waits for nothing.
    bool senderShortened() const { return !sends && variable && length < startLength; }

    void onClose(const CanFrame& f) {
        if (!negotiated && !awaiting) return;
        const std::uint16_t p1 = wordAt(f, 1);
        if (p1 == 0) {
            if (!closeFits()) return;
            if (active && !finished && !senderShortened())
                holdClose();
            else
                takeClose();
        } else if (p1 == 1) {
            const TransferInfo info = infoOf(f);
            endTransfer();
            raiseEnd(kStreamAborted, info);
        } else if (p1 == 2 && !active) {
            const TransferInfo info{0, 0, 0, length};
            endTransfer();
            raiseEnd(kStreamDone, info);
        }
    }

    // Asks the sending listener for the next chunk once the current length has gone out.
    void nextChunk() {
        blockIndex = 0;
        TransferInfo info{4, 0, 0, length};
        const std::uint64_t gen = generation;
        const int answer = raise(kStreamChunk, info);
        if (gen != generation || !negotiated) return;
        if (answer == 0) {
            toggle ^= 1;
            sendBlockOrAbort(0);
        } else if (answer == 1) {
            closeTransfer();
        } else if (answer == 2 && info.word1 >= 1 && info.word1 <= length) {
            if (!sendCommand(stream_cmd::kSetLength, info.word1, 0, 0)) {
                abort(codeInfo(kAbortTimeout));
                return;
            }
            length = info.word1;
            lengthChange = true;
            awaiting = true;
        } else {
            // A new length outside 1..L or an unknown answer: the listener cannot go on.
            abort(codeInfo(kAbortTimeout));
        }
    }

    void onBlockAck(const CanFrame& f) {
        if (!negotiated || !awaiting || !sends) return;
        const std::uint16_t p1 = wordAt(f, 1);
        // "All data received" before the last block of the current length went out is a late
        // acknowledgement of an earlier transfer, not this one's end.
        if (p1 == 1 && !allDataMoved()) return;
        awaiting = false;
        retryCount = 0;
        lastActivity = now();
        if (p1 == 0) {
            if (lengthChange) {
                awaiting = true;
            } else if ((wordAt(f, 2) >> 8) != toggle) {
                sendBlockOrAbort(lastBlock());
            } else if (variable && allDataMoved()) {
                nextChunk();
            } else {
                toggle ^= 1;
                sendBlockOrAbort(blockIndex);
            }
        } else if (p1 == 1) {
            if (pending)
                closeTransfer();
            else
                awaitPeerClose();
        } else {
            awaiting = true;
        }
    }

    void onResend() {
        if (!negotiated || !sends) return;
        awaiting = false;
        if (lengthChange) {
            // No block is out while the new length waits for its reply: repeat the Set length.
            if (!sendCommand(stream_cmd::kSetLength, length, 0, 0)) {
                abort(codeInfo(kAbortTimeout));
                return;
            }
            awaiting = true;
            return;
        }
        sendBlockOrAbort(lastBlock());
    }

    void onRequest(const CanFrame& f) {
        if (negotiated || active) return;
        if (closing()) {
            // Our Close (2) never came, but the peer has moved on to a new transfer: all data
            // of the previous one was acknowledged, so it ends here as done.
            const TransferInfo done{0, 0, 0, length};
            endTransfer();
            raiseEnd(kStreamDone, done);
            if (negotiated || active) return;
        }
        peerLength = wordAt(f, 2);
        TransferInfo info = infoOf(f);
        if (raise(kStreamRequest, info) == 0 && active) startMs = now();
    }

    void onSetLength(const CanFrame& f) {
        if (!negotiated || !awaiting || !variable) return;
        closeHeld = false;
        if (sends) {
            awaiting = false;
            if (lengthChange) {
                lengthChange = false;
                retryCount = 0;
                toggle ^= 1;
                sendBlockOrAbort(blockIndex);
            } else {
                sendBlockOrAbort(lastBlock());
            }
            return;
        }
        const std::uint16_t p1 = wordAt(f, 1);
        if (p1 == 0) return;
        if (p1 > length) {
            abort(infoOf(f));
            return;
        }
        awaiting = false;
        length = p1;
        if (!sendCommand(stream_cmd::kSetLength, 0, 0, 0)) {
            abort(codeInfo(kAbortTimeout));
            return;
        }
        retryCount = 0;
        lengthChange = true;
        awaiting = true;
    }

    // ---- data and poll ---------------------------------------------------------------------

    void onData(const CanFrame& f) {
        if (!negotiated || sends || block.empty()) return;
        const std::uint8_t head = f.data()[0];
        const std::uint16_t k = head & 0x7F;
        // A completed block waits for the poll to copy it; nothing may overwrite it meanwhile.
        // Its frames may still come (a repeat, or the real last frame after a stale copy of it
        // completed the block): a frame with other bytes for one of its slots damages it.
        if (blockComplete) {
            if ((head >> 7) == toggle && k < frames &&
                !std::equal(f.data().begin(), f.data().end(),
                            block.begin() + static_cast<std::ptrdiff_t>(k) * kSlotSize)) {
                blockComplete = false;
                toggle ^= 1;
                emptyBlock();
                damaged = conflict = true;
                awaiting = true;
            }
            return;
        }
        if (conflict || (head >> 7) != (toggle ^ 1)) return;
        closeHeld = false;
        if (k >= frames || (static_cast<std::size_t>(k) + 1) * kSlotSize > block.size()) {
            damaged = true;
            return;
        }
        auto* slot = block.data() + static_cast<std::size_t>(k) * kSlotSize;
        if (slot[0] != kEmptySlot && !std::equal(f.data().begin(), f.data().end(), slot)) {
            // Two different frames for one slot: one is stale (a late copy, or a frame of the
            // block two back, which has the same toggle). Keep neither; the block comes again.
            emptyBlock();
            damaged = conflict = true;
            return;
        }
        if (slot[0] == kEmptySlot) {
            ++received;
            // A new frame is progress: the repeats start again from zero.
            retryCount = 0;
        }
        std::copy(f.data().begin(), f.data().end(), slot);
        lastActivity = now();
        // The sender sends a block's frames in index order. When the block fills up before its
        // last frame came, a later slot was filled earlier, perhaps by a stale frame: the rest of
        // this transmission, coming right after, may still show the conflict. Wait for it.
        if (received >= frames) {
            if (k + 1u == frames) {
                completeBlock();
            } else if (!settling) {
                settling = true;
                settleSinceMs = lastActivity;
            }
        }
    }

    void completeBlock() {
        settling = false;
        blockComplete = true;
        awaiting = false;
        toggle ^= 1;
    }

    // The repeat due after a time-out; false when a send failed.
    bool repeatOnTimeout() {
        if (!active) return sendCommand(stream_cmd::kClose, 0, 0, 0);
        if (sends) {
            if (lengthChange && negotiated)
                return sendCommand(stream_cmd::kSetLength, length, 0, 0);
            if (!negotiated && pending) return sendOpening();
            return true;
        }
        if (!negotiated) return pending ? sendOpening() : true;
        if (received == 0 && lastCommand == stream_cmd::kAccept) return sendAccept();
        if (received == 0 && lastCommand != stream_cmd::kResend) return sendAck(0);
        if (received == 0 && lengthChange) return sendCommand(stream_cmd::kSetLength, 0, 0, 0);
        lastCommand = stream_cmd::kResend;
        return sendCommand(stream_cmd::kResend, 0, 0, 0);
    }

    bool poll() {
        const double t = now();
        if (awaiting && t - lastActivity > timeoutMs) {
            if (retryCount >= retries) return false;
            const bool sent = repeatOnTimeout();
            ++retryCount;
            lastActivity = now();
            return sent;
        }
        if (damaged) {
            damaged = conflict = false;
            // A block completed since is kept; only a partial one is asked for again.
            if (negotiated && !sends && !blockComplete) {
                if (retryCount >= retries) return false;
                emptyBlock();
                const bool sent = sendCommand(stream_cmd::kBlockIncomplete, 0, frames, 0);
                lastCommand = stream_cmd::kBlockIncomplete;
                ++retryCount;
                lastActivity = now();
                return sent;
            }
        }
        if (settling && negotiated && t - settleSinceMs >= kSettleMs) completeBlock();
        if (closeHeld && t - closeHeldSinceMs >= kSettleMs) {
            closeHeld = false;
            if (closeFits() && received == 0) {
                takeClose();
                return true;
            }
        }
        if (blockComplete && negotiated) return deliverBlock();
        return true;
    }

    bool deliverBlock() {
        blockComplete = false;
        awaiting = false;
        received = 0;
        retryCount = 0;
        lastActivity = now();
        bool more = !copyBlock();
        if (!more && variable) {
            TransferInfo info{0, 0, 0, length};
            const std::uint64_t gen = generation;
            const int answer = raise(kStreamChunk, info);
            if (gen != generation || !negotiated) return true;
            if (answer == 0) {
                // A Set length exchange, if any, belonged to the chunk just taken.
                blockIndex = 0;
                ++chunksTaken;
                lengthChange = false;
                more = true;
            }
        }
        if (more) {
            emptyBlock();
            if (!sendAck(0)) return false;
            lastCommand = kLastAck;
            awaiting = true;
            return true;
        }
        if (!sendAck(1)) return false;
        if (pending) return closeTransfer();
        awaitPeerClose();
        return true;
    }
};

StreamEngine::StreamEngine(Io io) : s_(std::make_unique<State>(std::move(io))) {}
StreamEngine::~StreamEngine() = default;

bool StreamEngine::configureStream(std::uint32_t controlId, std::uint32_t dataId,
                                   std::uint16_t blockSize, double timeoutMs, std::uint32_t retries,
                                   PacketReceivedListener* listener) {
    State& s = *s_;
    if (s.running()) return false;
    s.resetFlags();
    if (controlId > kMaxStandardId && controlId != kNoStreamId) return false;
    if (dataId > kMaxStandardId || controlId == dataId) return false;
    if (blockSize > kMaxBlockSize || listener == nullptr) return false;
    // Time-out and retries travel as 16-bit values.
    if (!std::isfinite(timeoutMs) || timeoutMs < 0 || timeoutMs > kMaxWireValue) return false;
    if (retries > 65535u) return false;
    s.controlId = controlId;
    s.dataId = dataId;
    s.cfgBlockSize = blockSize == 0 ? kDefaultBlockSize : blockSize;
    s.cfgTimeoutMs = timeoutMs == 0 ? kDefaultStreamTimeoutMs : timeoutMs;
    s.cfgRetries = retries == 0 ? kDefaultStreamRetries : retries;
    s.listener = listener;
    s.frames = framesFor(s.cfgBlockSize);
    return true;
}

void StreamEngine::clear() {
    State& s = *s_;
    const bool wasRunning = s.running();
    PacketReceivedListener* l = s.listener;
    s.endTransfer();
    s.user = {};
    s.controlId = kNoStreamId;
    s.dataId = 0;
    s.cfgBlockSize = kDefaultBlockSize;
    s.cfgTimeoutMs = kDefaultStreamTimeoutMs;
    s.cfgRetries = kDefaultStreamRetries;
    s.frames = framesFor(kDefaultBlockSize);
    s.listener = nullptr;
    // Whoever waits for the end of a running transfer learns that it failed.
    if (wasRunning && l != nullptr) {
        TransferInfo info = codeInfo(kAbortTimeout);
        l->onStreamEvent(kStreamAborted, info);
    }
}

bool StreamEngine::startTransfer(std::span<std::uint8_t> buffer, std::uint16_t index,
                                 std::uint16_t length, bool thisEndSends, bool initiate,
                                 bool variableLength) {
    State& s = *s_;
    if (buffer.empty() || index == 0 || length == 0 || length > buffer.size()) return false;
    // Also refused while unconfigured, and while the previous transfer still closes: its end
    // has not been reported yet.
    if (s.running() || s.listener == nullptr || s.controlId > kMaxStandardId) return false;
    s.resetFlags();
    ++s.generation;
    s.user = buffer.first(length);
    s.index = index;
    s.length = s.startLength = length;
    s.sends = thisEndSends;
    s.variable = variableLength;
    s.blockSize = s.cfgBlockSize;
    s.timeoutMs = s.cfgTimeoutMs;
    s.retries = s.cfgRetries;
    s.frames = framesFor(s.blockSize);
    s.block.clear();
    s.blockIndex = 0;
    if (initiate) {
        s.peerLength = 0;
        if (!s.sendOpening()) {
            s.resetFlags();
            return false;
        }
        s.pending = true;
    }
    s.startMs = s.now();
    s.awaiting = true;
    s.retryCount = 0;
    s.lastActivity = s.startMs;
    s.active = true;
    return true;
}

void StreamEngine::abortTransfer() {
    if (s_->negotiated) s_->abort(codeInfo(kAbortUser));
}

void StreamEngine::handleCommand(const CanFrame& frame) {
    State& s = *s_;
    if (!isProtocolFrame(frame, s.controlId)) return;
    switch (wordAt(frame, 0)) {
        case stream_cmd::kPropose:
            s.onPropose(frame);
            break;
        case stream_cmd::kClose:
            s.onClose(frame);
            break;
        case stream_cmd::kAccept:
            s.onAccept(frame);
            break;
        case stream_cmd::kBlockAck:
            s.onBlockAck(frame);
            break;
        case stream_cmd::kResend:
        case stream_cmd::kBlockIncomplete:
            s.onResend();
            break;
        case stream_cmd::kRequest:
            s.onRequest(frame);
            break;
        case stream_cmd::kSetLength:
            s.onSetLength(frame);
            break;
        default:
            break;
    }
}

void StreamEngine::handleData(const CanFrame& frame) {
    if (isProtocolFrame(frame, s_->dataId)) s_->onData(frame);
}

bool StreamEngine::pollTransfer() {
    return s_->poll();
}

void StreamEngine::abortAfterTimeout() {
    if (s_->running()) s_->abort(codeInfo(kAbortTimeout));
}

std::uint32_t StreamEngine::controlId() const {
    return s_->controlId;
}
std::uint32_t StreamEngine::dataId() const {
    return s_->dataId;
}
bool StreamEngine::wantsData() const {
    return s_->negotiated && !s_->sends;
}
bool StreamEngine::busy() const {
    return s_->running();
}
std::uint16_t StreamEngine::framesPerBlock() const {
    return s_->running() ? s_->frames : framesFor(s_->cfgBlockSize);
}

}  // namespace qv
