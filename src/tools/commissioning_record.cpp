#include "tools/commissioning_record.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "qv_version.h"

namespace qv {

namespace {

constexpr std::array<const char*, kPassStepCount> kNames = {"device", "backup", "phases", "params",
                                                            "review", "write",  "verify", "report"};
constexpr std::array<const char*, kPassStepCount> kTitles = {"Device and motor",
                                                             "Backup",
                                                             "Phase and hall allocation",
                                                             "Motor parameters",
                                                             "Review of changes",
                                                             "Write",
                                                             "Verification",
                                                             "Report"};

}  // namespace

const char* passStepName(PassStep step) {
    return kNames.at(static_cast<std::size_t>(step));
}

const char* passStepTitle(PassStep step) {
    return kTitles.at(static_cast<std::size_t>(step));
}

const char* outcomeName(StepOutcome outcome) {
    switch (outcome) {
        case StepOutcome::Pending:
            return "pending";
        case StepOutcome::Running:
            return "running";
        case StepOutcome::Succeeded:
            return "ok";
        case StepOutcome::Failed:
            return "failed";
        case StepOutcome::Cancelled:
            return "cancelled";
        case StepOutcome::Skipped:
            return "skipped";
    }
    return "?";
}

std::string motorTypeName(int type) {
    switch (type) {
        case motor_type::kBldc:
            return "BLDC";
        case motor_type::kInduction:
            return "Induction";
        case motor_type::kIpm:
            return "IPM";
        default:
            return "type " + std::to_string(type);
    }
}

std::string passFolderName(std::uint32_t base, std::uint32_t serial, const std::tm& t) {
    char text[96];
    std::snprintf(text, sizeof text, "0x%03X_%u_%04d-%02d-%02d_%02d-%02d-%02d",
                  static_cast<unsigned>(base), static_cast<unsigned>(serial), t.tm_year + 1900,
                  t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return text;
}

std::string defaultCommissioningRoot() {
    const char* home = std::getenv("HOME");
    if (!home || !*home) return {};
    return (std::filesystem::path(home) / "qvconfig" / "commissioning").string();
}

std::string programVersionText() {
    return QV_VERSION;
}

}  // namespace qv
