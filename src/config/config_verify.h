#pragma once
// Read-back verification of an upload: once the controller is back from the reset that ends an
// upload, the structures just written are read again (into scratch buffers, never into the
// store) and compared byte for byte with the streams that were sent. A difference names the
// fields with the names of `qvcli diff`. Runs on the transfer worker, like the upload.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "config/config_changes.h"
#include "config/config_transfer.h"

namespace qv {

// How long the controller may stay silent after its reset before the verification gives up.
inline constexpr int kVerifyAnswerTimeoutMs = 15000;
// The wait before the first question after the reset: the restart takes effect meanwhile.
inline constexpr int kVerifyRestartSettleMs = 400;

// The configuration streams an upload sent and the controller acknowledged, by structure kind;
// an empty vector: that structure was not written.
struct WrittenStreams {
    std::array<std::vector<std::uint8_t>, 3> streams;
    bool any() const;
    bool has(StructureKind kind) const { return !streams[static_cast<std::size_t>(kind)].empty(); }
};

enum class VerifyStatus {
    Verified,    // every written structure reads back byte for byte as sent
    Differs,     // the controller holds something else: the differences name the fields
    NoAnswer,    // the controller did not answer within the wait after its reset
    ReadFailed,  // a read-back stream failed (transfer, header, size or checksum)
    Aborted,     // the user cancelled in the progress window (no message shown)
};

struct VerifyResult {
    VerifyStatus status = VerifyStatus::NoAnswer;
    // Per differing field: record, field, a = the value written, b = the value read back.
    std::vector<FieldDifference> differences;
    std::array<std::vector<std::uint8_t>, 3> readBack;  // empty where not read
    bool verified() const { return status == VerifyStatus::Verified; }
};

// The fields in which the stream read back differs from the stream sent for `kind` (both must
// decode as configuration streams of that kind; a stream that does not is named as a whole).
std::vector<FieldDifference> compareWrittenStream(StructureKind kind,
                                                  std::span<const std::uint8_t> sent,
                                                  std::span<const std::uint8_t> readBack);

// The message of a failed verification (caption "Upload verification", error icon). Its first
// line says it all; the differences follow, one "record field written read-back" line each.
MessageBoxRequest verificationFailure(const VerifyResult& result, const std::string& reason = {});

// Waits until the controller answers after its reset (bounded, cancellable), reads back every
// structure in `written` and compares. Anything but Verified and Aborted is shown once. On
// Differs the structures that differ are marked modified again: the store still holds what the
// user wanted on the controller.
VerifyResult verifyWrittenConfig(TransferContext& context, const WrittenStreams& written);

// Places the streams read back into `store` (flags untouched): what the controller holds after
// a verification that found differences.
void placeReadBack(CConfigDataBank& store, const VerifyResult& result);

struct UploadOutcome {
    bool uploaded = false;  // uploadConfig returned true
    WrittenStreams written;
    std::optional<VerifyResult> verification;  // empty when not verified
    bool ok() const { return uploaded && (!verification || verification->verified()); }
};

// uploadConfig with all its questions, then, when `verify` and the upload succeeded, the
// verification of what it wrote. True only when uploaded and (verify == false or) verified.
bool uploadAndVerify(TransferContext& context, bool verify = true,
                     UploadOutcome* outcome = nullptr);

}  // namespace qv
