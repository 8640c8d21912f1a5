#pragma once
// The message boxes and questions of the configuration transfer, with their captions, icons,
// buttons and default answers, and the captions of the progress window's stages.
#include <cstdint>
#include <optional>
#include <string>

#include "common/user_interaction.h"
#include "config/config_records.h"
#include "config/config_stream.h"

namespace qv {

namespace caption {
inline constexpr const char* kDownload = "QV -> PC - Config";
inline constexpr const char* kDownloadMaskPublic = "QV -> PC - Public Config";
inline constexpr const char* kDownloadPublicRecovery = "QV -> PC - Public Config (Recovery)";
inline constexpr const char* kDownloadMaskPrivate = "QV -> PC - Private Config";
inline constexpr const char* kDownloadMaskMotor = "QV -> PC - Motor Config";
inline constexpr const char* kUpload = "PC -> QV - Reading Config Ver";
inline constexpr const char* kUploadPublic = "PC -> QV - Public Config";
inline constexpr const char* kUploadPrivate = "PC -> QV - Private Config";
inline constexpr const char* kUploadMotor = "PC -> QV - Motor Config";
inline constexpr const char* kFlash = "QV -> FLASH";
// The read-back verification after an upload.
inline constexpr const char* kVerifyWait = "QV -> PC - Waiting for the restart";
inline constexpr const char* kVerifyPublic = "QV -> PC - Verify Public Config";
inline constexpr const char* kVerifyPrivate = "QV -> PC - Verify Private Config";
inline constexpr const char* kVerifyMotor = "QV -> PC - Verify Motor Config";
}  // namespace caption

// A box with an error icon and OK.
MessageBoxRequest transferError(std::string text, std::string caption);
// A box with an information icon and OK.
MessageBoxRequest transferInformation(std::string text, std::string caption);

MessageBoxRequest transferConnectFailureMessage();
// The download's message for a stage that failed; nothing to show for Ok, a recovery image or
// a user abort (the caption of the box is "Download").
std::optional<MessageBoxRequest> downloadStageFailure(StructureKind kind, StreamParseResult result);
MessageBoxRequest newerVersionNotice();
MessageBoxRequest olderVersionNotice();

MessageBoxRequest needDownloadMessage();
MessageBoxRequest invalidConfigurationMessage();
// OK/Cancel: the device's serial first, then the configuration's.
MessageBoxRequest overwriteOtherControllerQuestion(std::uint32_t deviceSerial,
                                                   std::uint32_t configSerial);
MessageBoxRequest corruptConfigurationQuestion(std::uint32_t configSerial);
MessageBoxRequest versionReadFailure();
MessageBoxRequest olderThanRequiredMessage();
MessageBoxRequest upToDateQuestion();
// Upgrade question A: from the required version R to the held version H.
MessageBoxRequest upgradeQuestionA(std::uint16_t required, std::uint16_t held);
// Upgrade question B: from the held version H to this program's 2.00.
MessageBoxRequest upgradeQuestionB(std::uint16_t held);
MessageBoxRequest overwriteQuestion();
MessageBoxRequest streamTransferFailure();
MessageBoxRequest acknowledgeTimeoutMessage();
MessageBoxRequest resetFailedMessage();

}  // namespace qv
