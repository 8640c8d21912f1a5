#include "config/config_verify.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>

#include "config/transfer_messages.h"

namespace qv {

namespace {

constexpr std::uint16_t kShortBlock = 7;
constexpr std::uint16_t kStreamBlock = 0;
constexpr std::uint32_t kControlOffset = 0x12;
constexpr std::uint32_t kDataOffset = 0x14;
constexpr std::uint32_t kTcpRangeCount = 4;
// Names listed on the first line of the message before "..." stands for the rest.
constexpr std::size_t kNamesOnFirstLine = 4;

constexpr std::array<StructureKind, 3> kKinds = {StructureKind::Public, StructureKind::Private,
                                                 StructureKind::Motor};

const char* recordName(StructureKind kind) {
    switch (kind) {
        case StructureKind::Public:
            return "public";
        case StructureKind::Private:
            return "private";
        case StructureKind::Motor:
            return "motor";
    }
    return "";
}

const char* verifyCaption(StructureKind kind) {
    switch (kind) {
        case StructureKind::Public:
            return caption::kVerifyPublic;
        case StructureKind::Private:
            return caption::kVerifyPrivate;
        case StructureKind::Motor:
            return caption::kVerifyMotor;
    }
    return "";
}

std::string hexBytes(std::span<const std::uint8_t> bytes) {
    static const char* const kDigits = "0123456789ABCDEF";
    std::string out;
    for (std::uint8_t b : bytes) {
        out += kDigits[b >> 4];
        out += kDigits[b & 0xF];
    }
    return out.empty() ? "-" : out;
}

// The progress window, the TCP path and the port's progress hook while the read-back runs, put
// back as the upload's own ending leaves them.
class ReadBackSession {
  public:
    explicit ReadBackSession(TransferContext& c) : c_(c), running_(c.store) {
        c_.progress.setCaption(caption::kVerifyWait);
        c_.progress.setPosition(0);
        if (!c_.progress.isEnabled()) c_.progress.showAndEnable();
        c_.port.setProgressHook([this](std::uint16_t bytes) {
            c_.progress.advance(bytes);
            if (c_.portProgressHook) c_.portProgressHook(bytes);
        });
    }
    ~ReadBackSession() {
        c_.port.setProgressHook(c_.portProgressHook);
        c_.port.closeTcp();
        c_.progress.disableAndHide();
        c_.progress.setPosition(0);
        c_.store.cancelEvent.reset();
    }
    ReadBackSession(const ReadBackSession&) = delete;
    ReadBackSession& operator=(const ReadBackSession&) = delete;

    // Waits up to `ms`; true when the user cancelled meanwhile.
    bool cancelledWithin(int ms) {
        return c_.store.cancelEvent.waitFor(std::chrono::milliseconds(ms));
    }

    bool connect() {
        if (c_.target.bridgeAddress != 0) c_.port.setBridgeAddress(c_.target.bridgeAddress);
        return c_.port.connectTcp(c_.target.base + kControlOffset, kTcpRangeCount) == 1;
    }
    void configure(std::uint16_t blockSize) {
        c_.port.configureStream(blockSize, c_.target.base + kControlOffset,
                                c_.target.base + kDataOffset);
    }

  private:
    TransferContext& c_;
    TransferScope running_;
};

// One attempt at reading back every written stream.
enum class Attempt { Done, NotBack, TransferFailed, BadStream, Aborted };

struct AttemptResult {
    Attempt attempt = Attempt::NotBack;
    StructureKind failedKind = StructureKind::Public;
    StreamParseResult parse = StreamParseResult::Ok;
};

AttemptResult readBackOnce(TransferContext& c, ReadBackSession& session,
                           const WrittenStreams& written, VerifyResult& result) {
    if (!session.connect()) return {Attempt::NotBack};
    session.configure(kShortBlock);
    // The identification block answers as soon as the controller runs again.
    std::array<std::uint8_t, kReadOnlySize> info{};
    std::uint16_t length = kReadOnlySize;
    const int rc = c.port.transfer(&length, info.data(), kReadOnlyInfoObject, false, false);
    if (rc == kTransferAborted) return {Attempt::Aborted};
    if (rc != kTransferOk) return {Attempt::NotBack};

    std::uint32_t range = 0;
    for (StructureKind kind : kKinds)
        range += static_cast<std::uint32_t>(written.streams[static_cast<std::size_t>(kind)].size());
    c.progress.setRange(range);
    session.configure(kStreamBlock);
    for (StructureKind kind : kKinds) {
        if (!written.has(kind)) continue;
        c.progress.setCaption(verifyCaption(kind));
        std::vector<std::uint8_t> buffer(kMaxStreamBytes, 0);
        std::uint16_t got = static_cast<std::uint16_t>(buffer.size());
        const int streamRc = c.port.transfer(&got, buffer.data(), streamObject(kind), false, true);
        if (streamRc == kTransferAborted) return {Attempt::Aborted};
        if (streamRc != kTransferOk)
            return {Attempt::TransferFailed, kind, StreamParseResult::TransferFailed};
        buffer.resize(std::min<std::size_t>(got, buffer.size()));
        const StreamParseResult parsed = decodeConfigStream(buffer, recordCount(kind), nullptr);
        if (parsed != StreamParseResult::Ok) return {Attempt::BadStream, kind, parsed};
        result.readBack[static_cast<std::size_t>(kind)] = std::move(buffer);
    }
    return {Attempt::Done};
}

std::string failureReason(const AttemptResult& a) {
    const auto message = downloadStageFailure(a.failedKind, a.parse);
    return message ? message->text : std::string("Stream transfer failure");
}

}  // namespace

bool WrittenStreams::any() const {
    return std::any_of(streams.begin(), streams.end(), [](const auto& s) { return !s.empty(); });
}

std::vector<FieldDifference> compareWrittenStream(StructureKind kind,
                                                  std::span<const std::uint8_t> sent,
                                                  std::span<const std::uint8_t> readBack) {
    std::vector<FieldDifference> out;
    if (std::equal(sent.begin(), sent.end(), readBack.begin(), readBack.end())) return out;
    const std::string name = recordName(kind);
    StreamView a, b;
    if (decodeConfigStream(sent, recordCount(kind), &a) != StreamParseResult::Ok ||
        decodeConfigStream(readBack, recordCount(kind), &b) != StreamParseResult::Ok) {
        out.push_back({name, "stream", hexBytes(sent.first(std::min<std::size_t>(sent.size(), 8))),
                       hexBytes(readBack.first(std::min<std::size_t>(readBack.size(), 8)))});
        return out;
    }
    if (a.version != b.version)
        out.push_back({name, "version", std::to_string(a.version), std::to_string(b.version)});
    if (a.recordSize != b.recordSize)
        out.push_back(
            {name, "recordSize", std::to_string(a.recordSize), std::to_string(b.recordSize)});

    // Both from the same starting point, so only what the streams carry can differ.
    auto left = std::make_unique<CConfigDataBank>();
    auto right = std::make_unique<CConfigDataBank>();
    left->resetToDefaults();
    right->resetToDefaults();
    left->placeRecords(kind, a.records, a.recordSize);
    right->placeRecords(kind, b.records, b.recordSize);
    DiffScope scope;
    scope.kinds = {false, false, false};
    scope.kinds[static_cast<std::size_t>(kind)] = true;
    scope.readOnly = false;
    // The checksums follow the fields; they are named only when no field tells the difference
    // (bytes the listing does not show, such as those after a description's terminator).
    auto fields = diffConfigs(*left, *right, scope);
    if (fields.empty()) {
        scope.checksums = true;
        fields = diffConfigs(*left, *right, scope);
    }
    for (FieldDifference& d : fields) out.push_back(std::move(d));
    for (std::size_t i = 0; i < recordCount(kind); ++i) {
        const auto x = left->extraBlock(kind, i);
        const auto y = right->extraBlock(kind, i);
        if (std::equal(x.begin(), x.end(), y.begin(), y.end())) continue;
        out.push_back({kind == StructureKind::Motor ? name + "[" + std::to_string(i) + "]" : name,
                       "extra bytes", hexBytes(x), hexBytes(y)});
    }
    const std::size_t usedA = kStreamHeaderSize + a.records.size();
    const std::size_t usedB = kStreamHeaderSize + b.records.size();
    if (sent.size() - usedA != readBack.size() - usedB)
        out.push_back(
            {name, "stream length", std::to_string(sent.size()), std::to_string(readBack.size())});
    else if (out.empty())  // only bytes after the records differ
        out.push_back({name, "stream tail", hexBytes(sent.subspan(usedA)),
                       hexBytes(readBack.subspan(usedB))});
    return out;
}

MessageBoxRequest verificationFailure(const VerifyResult& result, const std::string& reason) {
    std::string text = "Read-back verification failed: ";
    switch (result.status) {
        case VerifyStatus::Differs: {
            text += "the controller holds other values than were written in ";
            for (std::size_t i = 0; i < result.differences.size() && i < kNamesOnFirstLine; ++i) {
                const FieldDifference& d = result.differences[i];
                text += (i ? ", " : "") + d.record + " " + d.field;
            }
            if (result.differences.size() > kNamesOnFirstLine) text += ", ...";
            text += ".\r\n\r\nRecord, field, value written, value read back:\r\n";
            for (const FieldDifference& d : result.differences)
                text += d.record + " " + d.field + " " + d.a + " " + d.b + "\r\n";
            break;
        }
        case VerifyStatus::NoAnswer:
            text +=
                "the controller did not answer after its restart; what was written could not be "
                "checked.";
            break;
        default:
            text += (reason.empty() ? std::string("the configuration could not be read back")
                                    : reason) +
                    ".";
            break;
    }
    return transferError(std::move(text), "Upload verification");
}

VerifyResult verifyWrittenConfig(TransferContext& c, const WrittenStreams& written) {
    VerifyResult result;
    if (!written.any()) {
        result.status = VerifyStatus::Verified;
        return result;
    }
    ReadBackSession session(c);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kVerifyAnswerTimeoutMs);
    // One retry of the streams: a restart that comes late may cut the first reading short.
    int transferFailures = 0;
    AttemptResult attempt;
    if (session.cancelledWithin(kVerifyRestartSettleMs)) {
        result.status = VerifyStatus::Aborted;
        return result;
    }
    for (;;) {
        attempt = readBackOnce(c, session, written, result);
        if (attempt.attempt == Attempt::TransferFailed) ++transferFailures;
        const bool again = attempt.attempt == Attempt::NotBack ||
                           (attempt.attempt == Attempt::TransferFailed && transferFailures < 2);
        if (!again || std::chrono::steady_clock::now() >= deadline) break;
        c.port.closeTcp();
        c.progress.setCaption(caption::kVerifyWait);
        c.progress.setPosition(0);
        // A controller that refuses at once is not asked again in a tight loop.
        if (session.cancelledWithin(100)) {
            attempt.attempt = Attempt::Aborted;
            break;
        }
    }
    switch (attempt.attempt) {
        case Attempt::Aborted:
            result.status = VerifyStatus::Aborted;
            return result;
        case Attempt::NotBack:
            result.status = VerifyStatus::NoAnswer;
            c.ui.messageBox(verificationFailure(result));
            return result;
        case Attempt::TransferFailed:
        case Attempt::BadStream:
            result.status = VerifyStatus::ReadFailed;
            c.ui.messageBox(verificationFailure(result, failureReason(attempt)));
            return result;
        case Attempt::Done:
            break;
    }
    for (StructureKind kind : kKinds) {
        const auto k = static_cast<std::size_t>(kind);
        if (!written.has(kind)) continue;
        auto differences = compareWrittenStream(kind, written.streams[k], result.readBack[k]);
        if (differences.empty()) continue;
        c.store.markModified(kind);
        for (FieldDifference& d : differences) result.differences.push_back(std::move(d));
    }
    result.status = result.differences.empty() ? VerifyStatus::Verified : VerifyStatus::Differs;
    if (!result.verified()) c.ui.messageBox(verificationFailure(result));
    return result;
}

void placeReadBack(CConfigDataBank& store, const VerifyResult& result) {
    for (StructureKind kind : kKinds) {
        StreamView view;
        const auto& bytes = result.readBack[static_cast<std::size_t>(kind)];
        if (bytes.empty() ||
            decodeConfigStream(bytes, recordCount(kind), &view) != StreamParseResult::Ok)
            continue;
        store.placeRecords(kind, view.records, view.recordSize);
    }
}

bool uploadAndVerify(TransferContext& c, bool verify, UploadOutcome* outcome) {
    UploadOutcome local;
    UploadOutcome& o = outcome ? *outcome : local;
    o = UploadOutcome{};
    WrittenStreams* const previous = c.written;
    c.written = &o.written;
    o.uploaded = uploadConfig(c);
    c.written = previous;
    if (previous) *previous = o.written;
    if (o.uploaded && verify) o.verification = verifyWrittenConfig(c, o.written);
    // What the controller was seen to hold (or, unverified, acknowledged) is not lost.
    if (o.ok())
        for (StructureKind kind : kKinds)
            if (o.written.has(kind)) c.store.markSaved(kind);
    return o.ok();
}

}  // namespace qv
