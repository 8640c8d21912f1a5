#include "config/transfer_messages.h"

#include <cstdio>

namespace qv {

namespace {

MessageBoxRequest box(std::string text, std::string caption, MessageIcon icon,
                      MessageButtons buttons, MessageAnswer defaultAnswer) {
    MessageBoxRequest r;
    r.text = std::move(text);
    r.caption = std::move(caption);
    r.icon = icon;
    r.buttons = buttons;
    r.defaultAnswer = defaultAnswer;
    return r;
}

// Questions have the second button as their default.
MessageBoxRequest okCancel(std::string text, std::string caption) {
    return box(std::move(text), std::move(caption), MessageIcon::Warning, MessageButtons::OkCancel,
               MessageAnswer::Cancel);
}

MessageBoxRequest yesNo(std::string text, std::string caption) {
    return box(std::move(text), std::move(caption), MessageIcon::Information, MessageButtons::YesNo,
               MessageAnswer::No);
}

const char* structureName(StructureKind kind, bool capital) {
    switch (kind) {
        case StructureKind::Public:
            return capital ? "Public" : "public";
        case StructureKind::Private:
            return capital ? "Private" : "private";
        case StructureKind::Motor:
            return capital ? "Motor" : "motor";
    }
    return "";
}

}  // namespace

MessageBoxRequest transferError(std::string text, std::string caption) {
    return box(std::move(text), std::move(caption), MessageIcon::Error, MessageButtons::Ok,
               MessageAnswer::Ok);
}

MessageBoxRequest transferInformation(std::string text, std::string caption) {
    return box(std::move(text), std::move(caption), MessageIcon::Information, MessageButtons::Ok,
               MessageAnswer::Ok);
}

MessageBoxRequest transferConnectFailureMessage() {
    return transferError("Could not open TCP connection\r\n\r\nCheck your network and IP settings",
                         "Connect Failure");
}

std::optional<MessageBoxRequest> downloadStageFailure(StructureKind kind,
                                                      StreamParseResult result) {
    std::string text;
    switch (result) {
        case StreamParseResult::TransferFailed:
            text = "Stream transfer failure";
            break;
        case StreamParseResult::NoValidHeader:
            text = std::string("No valid ") + structureName(kind, false) +
                   " config file on the Quelvane";
            break;
        case StreamParseResult::SizeMismatch:
            text = std::string(structureName(kind, true)) + " config size mismatch";
            break;
        case StreamParseResult::ChecksumMismatch:
            text = std::string(structureName(kind, true)) + " Config checksum mismatch";
            break;
        case StreamParseResult::Ok:
        case StreamParseResult::RecoveryImageTaken:
        case StreamParseResult::Aborted:
            return std::nullopt;
    }
    return transferError(std::move(text), "Download");
}

MessageBoxRequest newerVersionNotice() {
    return transferInformation(
        "Have downloaded a newer config version.\r\n\r\nThe new config items cannot be edited in "
        "this version, however it is safe to upload any changes to the Quelvane.\r\n\r\nPlease "
        "download the latest version of this program for future use.",
        "Download");
}

MessageBoxRequest olderVersionNotice() {
    return transferInformation(
        "Have downloaded an older config version than which is required by the current Quelvane "
        "firmware.\r\n\r\nYou MUST upload the config in order to be able to use the controller.",
        "Download");
}

MessageBoxRequest needDownloadMessage() {
    return transferError("Need to download or open config before uploading", "Upload verification");
}

MessageBoxRequest invalidConfigurationMessage() {
    return transferError(
        "You are trying to upload an invalid configuration file.\r\nTry to download config from "
        "controller again.",
        "Upload");
}

MessageBoxRequest overwriteOtherControllerQuestion(std::uint32_t deviceSerial,
                                                   std::uint32_t configSerial) {
    char text[128];
    std::snprintf(text, sizeof text,
                  "Overwrite config for controller %06lu with config for controller %06lu.",
                  static_cast<unsigned long>(deviceSerial),
                  static_cast<unsigned long>(configSerial));
    return okCancel(text, "Upload");
}

MessageBoxRequest corruptConfigurationQuestion(std::uint32_t configSerial) {
    char text[384];
    std::snprintf(text, sizeof text,
                  "The configuration file in your Quelvane is corrupt.\r\n\r\nPROCEED WITH THIS "
                  "UPLOAD ONLY IF THE SERIAL NUMBER ON YOUR QUELVANE IS:\r\n\r\n%06lu\r\n\r\nIf "
                  "you do not have a backup configuration file with a serial matching your "
                  "Quelvane contact Brenlow.",
                  static_cast<unsigned long>(configSerial));
    return okCancel(text, "Upload verification");
}

MessageBoxRequest versionReadFailure() {
    return transferError("Could not read the config version", "Upload verification");
}

MessageBoxRequest olderThanRequiredMessage() {
    return transferError(
        "The config to upload is older than the required version in your Quelvane.\r\n\r\nSave "
        "any changes to disk and download the config from the Quelvane",
        "Upload verification");
}

MessageBoxRequest upToDateQuestion() {
    return yesNo("The config on your Quelvane is up to date.\r\n\r\nUpload not required. Continue?",
                 "Upload verification");
}

MessageBoxRequest upgradeQuestionA(std::uint16_t required, std::uint16_t held) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "The config on your Quelvane is about to be upgraded.\r\n\r\nFrom: %0.2f.\r\n\r\n"
                  "To: %0.2f.\r\n\r\nProceed?",
                  required / 100.0, held / 100.0);
    return yesNo(text, "Upload verification");
}

MessageBoxRequest upgradeQuestionB(std::uint16_t held) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "The config on your Quelvane is about to be upgraded.\r\n\r\nFrom: %0.2f.\r\nTo: "
                  "%0.2f.\r\n\r\nProceed?",
                  held / 100.0, kConfigVersion / 100.0);
    return yesNo(text, "Upload verification");
}

MessageBoxRequest overwriteQuestion() {
    return yesNo("Overwrite config?", "Upload");
}

MessageBoxRequest streamTransferFailure() {
    return transferError("Stream transfer failure", "Download");
}

MessageBoxRequest acknowledgeTimeoutMessage() {
    return transferError("Config write acknowledge timeout", "Download");
}

MessageBoxRequest resetFailedMessage() {
    return transferError("Quelvane reset failed", "Reset");
}

}  // namespace qv
