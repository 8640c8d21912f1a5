#include "link/can_port.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "link/exceptions.h"

namespace qv {

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

CBcan::CBcan(ClientFactory factory) : factory_(std::move(factory)) {
    if (!factory_) factory_ = [] { return std::make_unique<CanUdpClient>(); };
}

CBcan::~CBcan() {
    close();
}

std::shared_ptr<CanUdpClient> CBcan::current() {
    std::lock_guard lock(clientLock_);
    return client_;
}

int CBcan::open() {
    std::lock_guard life(lifecycleLock_);
    if (open_) return 0;
    std::shared_ptr<CanUdpClient> client;
    try {
        client = factory_();
        client->setListener(this);
        client->setTcpLostHook([this] { tcpOpen_ = false; });
        {
            std::lock_guard lock(clientLock_);
            client_ = client;
        }
        client->open();
    } catch (const IOException&) {
        std::lock_guard lock(clientLock_);
        client_.reset();
        return 0;
    }
    {
        std::lock_guard state(transferStateLock_);
        thisEndSends_ = chunked_ = notify_ = ackTransfer_ = false;
    }
    {
        std::lock_guard queue(queueLock_);
        bridgeHeard_ = false;
    }
    open_ = true;
    return 1;
}

int CBcan::close() {
    std::lock_guard life(lifecycleLock_);
    open_ = false;
    tcpOpen_ = false;
    if (const auto client = current()) {
        // Its receive threads end here: no callback comes after.
        client->close();
        std::lock_guard lock(clientLock_);
        client_.reset();
    }
    {
        std::lock_guard queue(queueLock_);
        queue_.clear();
    }
    // With the client gone no stream event can come: end a transfer still waiting as failed.
    finishTransfer(-1);
    return 1;
}

int CBcan::sendOne(const std::function<CanFrame()>& build) {
    if (!open_) return 0;
    try {
        const CanFrame frame = build();
        const auto client = current();
        if (!client) return 0;
        client->sendFrame(frame);
        return 1;
    } catch (const IOException&) {
        return 0;
    } catch (const OverflowException&) {
        return 0;
    }
}

int CBcan::sendFrame(std::uint32_t identifier, const CanFrame::Data& data) {
    return sendOne([&] { return CanFrame(identifier, identifier > 0x7FF, false, 8, data); });
}

// Nothing is sent while the port is closed, so that is a failure, not a success.
int CBcan::sendRemoteRequest(std::uint32_t identifier) {
    return sendOne([&] { return CanFrame(identifier, false, true, 8); });
}

bool CBcan::queueFrame(std::uint32_t identifier, const CanFrame::Data& data) {
    if (!open_) return false;
    try {
        const CanFrame frame(identifier, false, false, 8, data);
        const auto client = current();
        return client && client->queueFrame(frame);
    } catch (const OverflowException&) {
        return false;
    }
}

bool CBcan::flush() {
    if (!open_) return false;
    const auto client = current();
    return client && client->flush();
}

int CBcan::waitForFrame(std::uint32_t identifier, CanFrame::Data* out, int timeoutMs) {
    DecoderHook decoder;
    RawLogHook rawLog;
    {
        std::lock_guard lock(hookLock_);
        decoder = decoder_;
        rawLog = rawLog_;
    }
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::milliseconds(timeoutMs);
    bool took = false;
    while (Clock::now() < deadline || took) {
        std::optional<CanPacket> packet;
        {
            std::unique_lock lock(queueLock_);
            if (queue_.empty() && !took)
                queueReady_.wait_until(lock, deadline, [this] { return !queue_.empty(); });
            if (!queue_.empty()) {
                packet = queue_.front();
                queue_.pop_front();
            }
        }
        took = packet.has_value();
        if (!packet) continue;
        if (rawLog) rawLog(*packet);
        // Waits and the decoder deal in data frames with standard identifiers: a remote request
        // carries no data, and an extended identifier is not the standard one of equal value.
        if (packet->frame.remote() || packet->frame.extended()) continue;
        if (packet->frame.identifier() == identifier) {
            if (out) *out = packet->frame.data();
            return 1;
        }
        if (decoder)
            decoder(packet->frame.identifier(), packet->sourceAddress, packet->frame.data());
    }
    return 0;
}

int CBcan::transfer(std::uint16_t* length, std::uint8_t* data, std::uint16_t index,
                    bool thisEndSends, bool chunked) {
    if (length == nullptr || data == nullptr) return kTransferFailed;
    if (thisEndSends && *length == 0) return kTransferFailed;
    // A whole (not chunked) transfer goes through the 4096-byte buffer in one piece.
    if (!chunked && *length > kSharedBufferSize) return kTransferFailed;
    if (!open_) return kTransferFailed;
    std::unique_lock running(transferLock_, std::try_to_lock);
    if (!running.owns_lock()) return kTransferFailed;

    std::uint16_t engineLength = *length;
    {
        std::lock_guard state(transferStateLock_);
        completion_.reset();
        if (chunked && thisEndSends) {
            engineLength = chunkSender_.start(std::span(data, *length), sharedBuffer_);
            result_ = *length;
        } else if (chunked) {
            engineLength = chunkReceiver_.start(std::span(data, *length), sharedBuffer_);
            result_ = 0;
        } else {
            if (thisEndSends) std::memcpy(sharedBuffer_.data(), data, *length);
            result_ = 0;
        }
        thisEndSends_ = thisEndSends;
        total_ = *length;
        chunked_ = chunked;
        notify_ = true;
        ackTransfer_ = false;
        transferRunning_ = true;
    }
    bool started = false;
    if (const auto client = current())
        started = engineLength > 0 && client->startTransfer(sharedBuffer_, index, engineLength,
                                                            thisEndSends, true, chunked);
    if (!started) {
        std::lock_guard state(transferStateLock_);
        transferRunning_ = false;
        return kTransferFailed;
    }
    // Events of a controller's acknowledgement transfer signal the event too; wait for ours, at
    // most until the overall limit, when the transfer is ended as if its retries ran out.
    const auto limit = limitBase_ + std::chrono::milliseconds(static_cast<std::int64_t>(
                                        limitMsPerByte_ * static_cast<double>(*length)));
    const auto deadline = Clock::now() + limit;
    for (bool aborted = false;;) {
        const auto now = Clock::now();
        if (!aborted && now >= deadline) {
            aborted = true;
            if (const auto client = current()) client->abortAfterTimeout();
        }
        if (aborted && now >= deadline + std::chrono::seconds(1)) finishTransfer(-1);
        const auto toDeadline =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
        completion_.waitFor(aborted ? std::chrono::milliseconds(100)
                                    : std::clamp(toDeadline, std::chrono::milliseconds(1),
                                                 std::chrono::milliseconds(1000)));
        std::lock_guard state(transferStateLock_);
        if (!transferRunning_) break;
    }
    std::lock_guard state(transferStateLock_);
    if (result_ == -1) return kTransferFailed;
    if (result_ == -2) return kTransferAborted;
    if (thisEndSends) return kTransferOk;
    if (chunked) {
        *length = static_cast<std::uint16_t>(chunkReceiver_.received());
        return kTransferOk;
    }
    std::memcpy(data, sharedBuffer_.data(), engineLength);
    return kTransferOk;
}

void CBcan::abortTransfer() {
    if (!open_) return;
    if (const auto client = current()) client->abortTransfer();
}

bool CBcan::configureStream(std::uint16_t blockSize, std::uint32_t controlId,
                            std::uint32_t dataId) {
    const auto client = current();
    return client && client->configureStream(controlId, dataId, blockSize, 0, 0, this);
}

int CBcan::connectTcp(std::uint32_t word1, std::uint32_t word2) {
    if (!open_) return 0;
    const auto client = current();
    if (!client) return 0;
    try {
        client->connectTcp(bridgeAddress_.load(), word1, word2);
        tcpOpen_ = true;
        // Lost right away: the client's hook may have run before the line above.
        if (!client->isTcpOpen()) tcpOpen_ = false;
        return 1;
    } catch (const IOException&) {
        return 0;
    }
}

int CBcan::closeTcp() {
    tcpOpen_ = false;
    if (const auto client = current()) client->closeTcp();
    return 1;
}

bool CBcan::bridgeHeard() {
    std::lock_guard lock(queueLock_);
    return bridgeHeard_;
}

std::size_t CBcan::queuedPackets() {
    std::lock_guard lock(queueLock_);
    return queue_.size();
}

void CBcan::setDecoderHook(DecoderHook hook) {
    std::lock_guard lock(hookLock_);
    decoder_ = std::move(hook);
}

void CBcan::setRawLogHook(RawLogHook hook) {
    std::lock_guard lock(hookLock_);
    rawLog_ = std::move(hook);
}

void CBcan::setProgressHook(ProgressHook hook) {
    std::lock_guard lock(hookLock_);
    progress_ = std::move(hook);
}

void CBcan::setTransferLimit(std::chrono::milliseconds base, double msPerByte) {
    limitBase_ = base;
    limitMsPerByte_ = msPerByte;
}

void CBcan::onPacketReceived(const CanPacket& packet) {
    {
        std::lock_guard lock(queueLock_);
        if (packet.status) {
            ++statusFrames_;
            if (!bridgeHeard_) {
                const auto& d = packet.frame.data();
                busBitRate_ = (static_cast<std::uint32_t>(d[0]) * 256 + d[1]) * 1000;
                bridgeHeard_ = true;
            }
            return;
        }
        if (queue_.size() >= kQueueLimit) {
            queue_.pop_front();
            ++droppedPackets_;
        }
        queue_.push_back(packet);
        // The time of arrival travels with the frame: the tick takes it up to 200 ms later.
        queue_.back().arrivalNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                      std::chrono::system_clock::now().time_since_epoch())
                                      .count();
        ++receivedFrames_;
    }
    queueReady_.notify_one();
}

void CBcan::progress(std::uint16_t value) {
    ProgressHook hook;
    {
        std::lock_guard lock(hookLock_);
        hook = progress_;
    }
    if (hook) hook(value);
}

void CBcan::finishTransfer(int result) {
    {
        std::lock_guard state(transferStateLock_);
        if (!transferRunning_) return;
        result_ = result;
        transferRunning_ = false;
    }
    completion_.set();
}

int CBcan::onStreamEvent(int type, TransferInfo& info) {
    switch (type) {
        case kStreamRequest: {
            // Only a controller's flash-write acknowledgement may start a transfer here. Its
            // data go to a buffer of their own, never over a transfer being prepared.
            if (info.word1 != kAckObjectIndex || info.word2 > ackBuffer_.size()) return 3;
            const bool sends = (info.word3 & 0x0F00) != 0;
            const bool variable = (info.word3 & 0x000F) != 0;
            {
                std::lock_guard state(transferStateLock_);
                if (transferRunning_) return 3;
                ackTransfer_ = true;
            }
            const auto client = current();
            if (!client || !client->startTransfer(ackBuffer_, info.word1, info.word2, sends, false,
                                                  variable)) {
                std::lock_guard state(transferStateLock_);
                ackTransfer_ = false;
                return 3;
            }
            return 0;
        }
        case kStreamDone: {
            bool report = false;
            std::uint16_t sent = info.word3;
            {
                std::lock_guard state(transferStateLock_);
                if (ackTransfer_) {
                    ackTransfer_ = false;
                } else if (transferRunning_) {
                    report = thisEndSends_ && notify_;
                    // The whole length, also when it went in chunks (the engine's is the last
                    // chunk's).
                    if (chunked_) sent = static_cast<std::uint16_t>(total_);
                    transferRunning_ = false;
                }
            }
            if (report) progress(sent);
            completion_.set();
            return 0;
        }
        case kStreamAborted: {
            {
                std::lock_guard state(transferStateLock_);
                if (ackTransfer_) {
                    ackTransfer_ = false;
                } else if (transferRunning_) {
                    result_ = info.word0 == kAbortUser ? -2 : -1;
                    transferRunning_ = false;
                }
            }
            completion_.set();
            return 0;
        }
        case kStreamChunk: {
            bool report = false;
            int answer = 0;
            {
                std::lock_guard state(transferStateLock_);
                if (ackTransfer_) return info.word0 == 4 ? 1 : 0;
                if (!transferRunning_) return 1;
                report = notify_;
                if (info.word0 == 4)
                    answer = chunkSender_.onChunk(info);
                else
                    answer = chunkReceiver_.onChunk(info);
            }
            if (report) progress(info.word3);
            if (const auto client = current()) receivedFrames_ += client->framesPerBlock();
            return answer;
        }
        default:
            return 0;
    }
}

CBcan& canPort() {
    static CBcan port;
    return port;
}

int canOpen() {
    return canPort().open();
}
int canClose() {
    return canPort().close();
}
int canSendFrame(std::uint32_t identifier, const CanFrame::Data& data) {
    return canPort().sendFrame(identifier, data);
}
int canSendRemoteRequest(std::uint32_t identifier) {
    return canPort().sendRemoteRequest(identifier);
}
bool canQueueFrame(std::uint32_t identifier, const CanFrame::Data& data) {
    return canPort().queueFrame(identifier, data);
}
bool canFlush() {
    return canPort().flush();
}
int canWaitForFrame(std::uint32_t identifier, CanFrame::Data* out, int timeoutMs) {
    return canPort().waitForFrame(identifier, out, timeoutMs);
}
int canTransfer(std::uint16_t* length, std::uint8_t* data, std::uint16_t index, bool thisEndSends,
                bool chunked) {
    return canPort().transfer(length, data, index, thisEndSends, chunked);
}
void canAbortTransfer() {
    canPort().abortTransfer();
}
bool canConfigureStream(std::uint16_t blockSize, std::uint32_t controlId, std::uint32_t dataId) {
    return canPort().configureStream(blockSize, controlId, dataId);
}
int canConnectTcp(std::uint32_t word1, std::uint32_t word2) {
    return canPort().connectTcp(word1, word2);
}
int canCloseTcp() {
    return canPort().closeTcp();
}
bool canBridgeHeard() {
    return canPort().bridgeHeard();
}

}  // namespace qv
