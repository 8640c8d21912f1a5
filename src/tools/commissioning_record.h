#pragma once
// What a commissioning pass did, step by step: the record the assistant shows, qvcli prints and
// the report keeps.
#include <array>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "config/config_changes.h"

namespace qv {

// The steps of a pass, in the order they run.
enum class PassStep : int { Device, Backup, Phases, Parameters, Review, Write, Verify, Report };
inline constexpr int kPassStepCount = 8;

// "device", "backup", "phases", "params", "review", "write", "verify", "report": the names of
// qvcli's result lines and of --steps.
const char* passStepName(PassStep step);
// "Device and motor", "Backup", "Phase and hall allocation", ...
const char* passStepTitle(PassStep step);

enum class StepOutcome { Pending, Running, Succeeded, Failed, Cancelled, Skipped };
// "pending", "running", "ok", "failed", "cancelled", "skipped"
const char* outcomeName(StepOutcome outcome);

// The motor types of a motor record (its motorType field).
namespace motor_type {
inline constexpr int kBldc = 0;
inline constexpr int kInduction = 1;
inline constexpr int kIpm = 2;
}  // namespace motor_type
// "BLDC", "Induction", "IPM", or "type N" for any other value.
std::string motorTypeName(int type);

struct PassValue {
    std::string name;
    std::string value;
};

// A chart of a step, drawn into the pass's folder.
struct PassPlot {
    std::string title;
    std::string file;     // the PNG's name in the folder; empty when it could not be drawn
    std::string problem;  // why not, when not
};

struct StepRecord {
    PassStep step = PassStep::Device;
    StepOutcome outcome = StepOutcome::Pending;
    std::string summary;  // one line: what the step found, or why it stopped
    std::string text;     // the analysis text or log, "\n" line ends
    std::vector<PassValue> values;
    std::vector<PassPlot> plots;
    std::vector<std::string> files;  // the step's files in the folder (raw data, backups)
    int attempts = 0;
};

struct PassRecord {
    std::uint32_t base = 0;
    std::uint32_t serial = 0;
    std::uint16_t deviceType = 0;
    int motor = 0;
    int motorType = -1;       // -1 until known
    std::string description;  // of the motor record, once downloaded
    std::string programVersion;
    std::string folder;
    std::tm started{};
    std::optional<std::tm> ended;
    std::array<StepRecord, kPassStepCount> steps{};
    // The fields the write changes (review), in the names and values of qvcli diff.
    std::vector<FieldDifference> changes;
    // Every step ran and succeeded and the read-back matched.
    bool complete = false;
    // Where and why the pass stopped short (nothing while it runs or when complete).
    std::optional<PassStep> stoppedAt;
    std::string stopReason;

    StepRecord& at(PassStep s) { return steps[static_cast<std::size_t>(s)]; }
    const StepRecord& at(PassStep s) const { return steps[static_cast<std::size_t>(s)]; }
};

// "0x400_123456_2024-05-01_14-03-07": the default name of a pass's folder.
std::string passFolderName(std::uint32_t base, std::uint32_t serial, const std::tm& local);
// $HOME/qvconfig/commissioning (empty without a home folder).
std::string defaultCommissioningRoot();
// The program's version, as the reports give it.
std::string programVersionText();

}  // namespace qv
