#include "config/config_transfer.h"

#include <array>
#include <chrono>
#include <ctime>
#include <map>
#include <mutex>
#include <vector>

#include "config/config_verify.h"
#include "config/transfer_messages.h"

namespace qv {

namespace {

constexpr std::uint16_t kShortBlock = 7;   // one frame per block: short objects and the reset
constexpr std::uint16_t kStreamBlock = 0;  // the default 140 bytes: the structure streams
constexpr std::uint32_t kControlOffset = 0x12;
constexpr std::uint32_t kDataOffset = 0x14;
constexpr std::uint32_t kTcpRangeCount = 4;

constexpr std::array<StructureKind, 3> kKinds = {StructureKind::Public, StructureKind::Private,
                                                 StructureKind::Motor};

// Stores on which a transfer works now (a reset may run inside an upload).
std::mutex runningLock;
std::map<const CConfigDataBank*, int>& runningStores() {
    static std::map<const CConfigDataBank*, int> stores;
    return stores;
}

bool connect(TransferContext& c) {
    if (c.target.bridgeAddress != 0) c.port.setBridgeAddress(c.target.bridgeAddress);
    return c.port.connectTcp(c.target.base + kControlOffset, kTcpRangeCount) == 1;
}

void configure(TransferContext& c, std::uint16_t blockSize) {
    c.port.configureStream(blockSize, c.target.base + kControlOffset, c.target.base + kDataOffset);
}

// Reads a short object whole; true on success.
bool readObject(TransferContext& c, std::uint16_t index, std::uint8_t* data, std::uint16_t length) {
    std::uint16_t got = length;
    return c.port.transfer(&got, data, index, false, false) == kTransferOk;
}

// The common opening and ending of a download or upload, and what both need while it runs:
// the cancel test of each stage and the bytes moved by the stream under way.
class Session {
  public:
    Session(TransferContext& c, const char* caption) : c_(c), running_(c.store) {
        c_.progress.setCaption(caption);
        c_.progress.setPosition(0);
        if (!c_.progress.isEnabled()) {
            c_.progress.setCaption(caption);
            c_.progress.showAndEnable();
        }
        // The port reports every chunk moved; the bar follows, and a send that fails can tell
        // how far it got.
        c_.port.setProgressHook([this](std::uint16_t bytes) {
            moved_ += bytes;
            c_.progress.advance(bytes);
            if (c_.portProgressHook) c_.portProgressHook(bytes);
        });
    }
    ~Session() {
        c_.port.setProgressHook(c_.portProgressHook);
        c_.port.closeTcp();
        c_.progress.disableAndHide();
        c_.progress.setPosition(0);
        c_.store.cancelEvent.reset();
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Tests the cancel event without waiting (a set event is consumed).
    bool cancelled() { return c_.store.cancelEvent.tryWait(); }
    void restartCount() { moved_ = 0; }
    std::uint64_t moved() const { return moved_; }

    bool fail(const MessageBoxRequest& message) {
        c_.ui.messageBox(message);
        return false;
    }

  private:
    TransferContext& c_;
    TransferScope running_;
    std::atomic<std::uint64_t> moved_{0};
};

// The session of the transfer this thread runs.
thread_local Session* currentSession = nullptr;

const char* downloadCaption(StructureKind kind) {
    switch (kind) {
        case StructureKind::Public:
            return caption::kDownloadMaskPublic;
        case StructureKind::Private:
            return caption::kDownloadMaskPrivate;
        case StructureKind::Motor:
            return caption::kDownloadMaskMotor;
    }
    return "";
}

const char* uploadCaption(StructureKind kind) {
    switch (kind) {
        case StructureKind::Public:
            return caption::kUploadPublic;
        case StructureKind::Private:
            return caption::kUploadPrivate;
        case StructureKind::Motor:
            return caption::kUploadMotor;
    }
    return "";
}

int maskBit(StructureKind kind) {
    return 1 << static_cast<int>(kind);
}

// Stream length of a structure as the upload sends it.
std::uint32_t uploadLength(const CConfigDataBank& store, StructureKind kind) {
    return static_cast<std::uint32_t>(
        kStreamHeaderSize + recordCount(kind) * (knownSize(kind) + store.extraLength(kind)));
}

bool anyModifiedButInvalid(const CConfigDataBank& store) {
    for (StructureKind kind : kKinds)
        if (store.isModified(kind) && !store.isValid(kind)) return true;
    return false;
}

// A download replaced the records: they are the controller's now.
void noteDownloaded(TransferContext& c) {
    ConfigOrigin& o = c.store.origin;
    o = ConfigOrigin{};
    o.kind = ConfigOrigin::Kind::Controller;
    o.base = c.target.base;
    o.serial = c.target.serial;
    o.deviceName = c.target.deviceName;
    o.time = std::time(nullptr);
}

// Whatever the download's outcome, what the store held before is gone: the records are the
// defaults and what the controller sent, nothing the user could lose.
class MarkSavedOnExit {
  public:
    explicit MarkSavedOnExit(CConfigDataBank& store) : store_(store) {}
    ~MarkSavedOnExit() { store_.markSaved(); }
    MarkSavedOnExit(const MarkSavedOnExit&) = delete;
    MarkSavedOnExit& operator=(const MarkSavedOnExit&) = delete;

  private:
    CConfigDataBank& store_;
};

class SessionScope {
  public:
    explicit SessionScope(Session& s) : previous_(currentSession) { currentSession = &s; }
    ~SessionScope() { currentSession = previous_; }
    SessionScope(const SessionScope&) = delete;
    SessionScope& operator=(const SessionScope&) = delete;

  private:
    Session* previous_;
};

}  // namespace

UploadVersionStep uploadVersionStep(bool anyModified, std::uint16_t held, std::uint16_t required) {
    if (held < required) return UploadVersionStep::OlderThanRequired;
    if (held >= kConfigVersion) {
        if (!anyModified) return UploadVersionStep::UpToDateQuestion;
        return required == held ? UploadVersionStep::Proceed : UploadVersionStep::UpgradeQuestionA;
    }
    return required == held ? UploadVersionStep::UpgradeQuestionB
                            : UploadVersionStep::UpgradeQuestionA;
}

TransferScope::TransferScope(const CConfigDataBank& store) : store_(&store) {
    std::lock_guard lock(runningLock);
    ++runningStores()[store_];
}

TransferScope::~TransferScope() {
    std::lock_guard lock(runningLock);
    auto& stores = runningStores();
    if (--stores[store_] <= 0) stores.erase(store_);
}

bool transferRunning(const CConfigDataBank& store) {
    std::lock_guard lock(runningLock);
    return runningStores().count(&store) != 0;
}

void cancelTransfer(CConfigDataBank& store, CBcan& port, TransferProgress& progress) {
    store.cancelEvent.set();
    if (port.isOpen()) port.abortTransfer();
    progress.disableCancel();
}

StreamParseResult parseConfigStream(TransferContext& c, StructureKind kind, std::size_t knownSize,
                                    std::size_t count, std::uint16_t reportedLength,
                                    bool recoveryAllowed) {
    if (knownSize != qv::knownSize(kind) || count != recordCount(kind))
        return StreamParseResult::SizeMismatch;
    std::vector<std::uint8_t> buffer(kMaxStreamBytes, 0);
    std::uint16_t length = static_cast<std::uint16_t>(buffer.size());
    const int rc = c.port.transfer(&length, buffer.data(), streamObject(kind), false, true);
    if (rc == kTransferAborted) return StreamParseResult::Aborted;
    if (rc != kTransferOk) return StreamParseResult::TransferFailed;
    const std::size_t received = std::min<std::size_t>(length, buffer.size());
    return takeConfigStream(c.store, kind, reportedLength,
                            std::span<const std::uint8_t>(buffer).first(received), recoveryAllowed,
                            c.clearFallbackDriverControlsBase);
}

StreamSendResult sendConfigStream(TransferContext& c, StructureKind kind, std::size_t knownSize,
                                  std::size_t count) {
    if (knownSize != qv::knownSize(kind) || count != recordCount(kind))
        return StreamSendResult::TransferFailed;
    std::vector<std::uint8_t> stream = buildUploadStream(c.store, kind);
    if (stream.size() > 0xFFFF) return StreamSendResult::TransferFailed;
    if (currentSession) currentSession->restartCount();
    auto length = static_cast<std::uint16_t>(stream.size());
    const int rc = c.port.transfer(&length, stream.data(), streamObject(kind), true, true);
    if (rc == kTransferOk) return StreamSendResult::Ok;
    if (rc == kTransferAborted) return StreamSendResult::Aborted;
    // Chunk events report each chunk once all its blocks were acknowledged. When every chunk
    // but the last was, the stream may have failed only in its closing exchange.
    const std::size_t lastChunk = (stream.size() - 1) % kChunkSize + 1;
    if (currentSession && currentSession->moved() + lastChunk >= stream.size())
        return StreamSendResult::Unconfirmed;
    return StreamSendResult::TransferFailed;
}

bool downloadConfig(TransferContext& c, int mask) {
    Session session(c, caption::kDownload);
    SessionScope scope(session);
    if (!connect(c)) return session.fail(transferConnectFailureMessage());

    c.store.clearExtraBlocks();
    c.store.resetToDefaults();
    const MarkSavedOnExit replaced(c.store);

    configure(c, kShortBlock);
    if (!readObject(c, kReadOnlyInfoObject, reinterpret_cast<std::uint8_t*>(&c.store.readOnly),
                    kReadOnlySize))
        return session.fail(
            transferError("Could not read the readonly config info", "Download verification"));
    std::array<std::uint8_t, 6> lengthBytes{};
    if (!readObject(c, kStreamLengthsObject, lengthBytes.data(), 6))
        return session.fail(transferError("Struct size read failed", "Download verification"));
    const std::array<std::uint16_t, 3> lengths = {readU16(lengthBytes, 0), readU16(lengthBytes, 2),
                                                  readU16(lengthBytes, 4)};

    const bool recovery = c.target.configError;
    if (recovery) mask = kDownloadMaskAll;
    std::uint32_t range = 0;
    if (mask & kDownloadMaskPublic) range += lengths[0];
    if (!recovery) {
        if (mask & kDownloadMaskPrivate) range += lengths[1];
        if (mask & kDownloadMaskMotor) range += lengths[2];
    }
    c.progress.setRange(range);

    configure(c, kStreamBlock);
    for (StructureKind kind : kKinds) {
        if ((mask & maskBit(kind)) == 0) continue;
        if (session.cancelled()) return false;
        const bool publicStage = kind == StructureKind::Public;
        c.progress.setCaption(publicStage && recovery ? caption::kDownloadPublicRecovery
                                                      : downloadCaption(kind));
        const auto i = static_cast<std::size_t>(kind);
        const StreamParseResult result = parseConfigStream(
            c, kind, knownSize(kind), recordCount(kind), lengths[i], publicStage && recovery);
        if (result == StreamParseResult::Ok && publicStage && recovery) {
            if (mask & kDownloadMaskPrivate) range += lengths[1];
            if (mask & kDownloadMaskMotor) range += lengths[2];
            c.progress.setRange(range);
        }
        if (result == StreamParseResult::RecoveryImageTaken) mask = 0;
        if (result != StreamParseResult::Ok && result != StreamParseResult::RecoveryImageTaken) {
            if (const auto message = downloadStageFailure(kind, result)) c.ui.messageBox(*message);
            return false;
        }
        c.store.setValid(kind, true);
        c.store.clearModified(kind);
        if (publicStage && c.clearFallbackDriverControlsBase) c.clearFallbackDriverControlsBase();
    }

    noteDownloaded(c);
    if (isNewerVersion(c.store.heldVersion)) c.ui.messageBox(newerVersionNotice());
    if (recovery) c.ui.messageBox(olderVersionNotice());
    return true;
}

bool uploadConfig(TransferContext& c) {
    Session session(c, caption::kUpload);
    SessionScope scope(session);
    CConfigDataBank& store = c.store;
    if (anyModifiedButInvalid(store)) return session.fail(needDownloadMessage());

    const std::uint32_t configSerial = store.privateConfig.serialNumber;
    const std::uint32_t deviceSerial = c.target.serial;
    if (configSerial == 0) return session.fail(invalidConfigurationMessage());
    if (configSerial != deviceSerial && deviceSerial != 0 &&
        c.ui.messageBox(overwriteOtherControllerQuestion(deviceSerial, configSerial)) !=
            MessageAnswer::Ok)
        return false;

    if (c.target.configError) {
        if (deviceSerial == 0 &&
            c.ui.messageBox(corruptConfigurationQuestion(configSerial)) != MessageAnswer::Ok)
            return false;
        for (StructureKind kind : kKinds) store.markModified(kind);
        c.progress.disableCancel();
        // Writing every structure needs every structure from the controller or a file.
        if (anyModifiedButInvalid(store)) return session.fail(needDownloadMessage());
    }

    if (!connect(c)) return session.fail(transferConnectFailureMessage());
    configure(c, kShortBlock);
    std::array<std::uint8_t, 2> requiredBytes{};
    if (!readObject(c, kRequiredVersionObject, requiredBytes.data(), 2))
        return session.fail(versionReadFailure());
    const std::uint16_t required = readU16(requiredBytes, 0);
    const std::uint16_t held = store.heldVersion;
    const bool anyModified = store.isModified(StructureKind::Public) ||
                             store.isModified(StructureKind::Private) ||
                             store.isModified(StructureKind::Motor);
    std::optional<MessageBoxRequest> upgrade;
    switch (uploadVersionStep(anyModified, held, required)) {
        case UploadVersionStep::OlderThanRequired:
            return session.fail(olderThanRequiredMessage());
        case UploadVersionStep::UpToDateQuestion:
            if (c.ui.messageBox(upToDateQuestion()) != MessageAnswer::Yes) return false;
            if (!store.isValid(StructureKind::Public) || !store.isValid(StructureKind::Motor))
                return session.fail(needDownloadMessage());
            store.markModified(StructureKind::Public);
            store.markModified(StructureKind::Motor);
            break;
        case UploadVersionStep::Proceed:
            break;
        case UploadVersionStep::UpgradeQuestionA:
            upgrade = upgradeQuestionA(required, held);
            break;
        case UploadVersionStep::UpgradeQuestionB:
            upgrade = upgradeQuestionB(held);
            break;
    }
    if (upgrade) {
        if (c.ui.messageBox(*upgrade) != MessageAnswer::Yes) return false;
        store.markModified(StructureKind::Public);
        store.markModified(StructureKind::Motor);
        c.progress.disableCancel();
        // An upgrade writes public and motor in full: never defaults that were not downloaded.
        if (anyModifiedButInvalid(store)) return session.fail(needDownloadMessage());
    }

    const std::string changes = describeUploadChanges(
        store, c.lastDownload, deviceSerial != 0 ? deviceSerial : configSerial);
    if (c.ui.messageBoxWithDetails(overwriteQuestion(), changes) != MessageAnswer::Yes)
        return false;

    store.refreshChecksums(true);
    std::uint32_t range = 0;
    for (StructureKind kind : kKinds)
        if (store.isModified(kind)) range += uploadLength(store, kind);
    c.progress.setRange(range);

    configure(c, kStreamBlock);
    for (StructureKind kind : kKinds) {
        if (session.cancelled()) return false;
        if (!store.isModified(kind)) continue;
        c.progress.setCaption(uploadCaption(kind));
        // The send clears the completion event before it starts, so an acknowledgement left
        // over from an earlier write cannot count for this one.
        const StreamSendResult sent = sendConfigStream(c, kind, knownSize(kind), recordCount(kind));
        if (sent == StreamSendResult::Aborted) return false;
        if (sent == StreamSendResult::TransferFailed) return session.fail(streamTransferFailure());
        c.progress.setCaption(caption::kFlash);
        const bool acknowledged =
            c.port.completionEvent().waitFor(std::chrono::milliseconds(kFlashAckTimeoutMs));
        if (!acknowledged)
            return session.fail(sent == StreamSendResult::Unconfirmed
                                    ? streamTransferFailure()
                                    : acknowledgeTimeoutMessage());
        store.clearModified(kind);
        // The store is unchanged since the send: this is the stream the controller took.
        if (c.written)
            c.written->streams[static_cast<std::size_t>(kind)] = buildUploadStream(store, kind);
    }

    resetController(c);
    return true;
}

bool resetController(TransferContext& c) {
    TransferScope running(c.store);
    if (!connect(c)) {
        c.ui.messageBox(transferConnectFailureMessage());
        return false;
    }
    configure(c, kShortBlock);
    std::uint8_t zero = 0;
    std::uint16_t length = 1;
    const bool sent = c.port.transfer(&length, &zero, kResetObject, true, false) == kTransferOk;
    if (!sent) c.ui.messageBox(resetFailedMessage());
    c.port.closeTcp();
    return sent;
}

}  // namespace qv
