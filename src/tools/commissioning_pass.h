#pragma once
// One guided commissioning pass over one motor record of a controller: back up the whole
// configuration, find the phase and hall allocation, measure the motor's parameters, review the
// fields that change, write the motor record with the transfer's own questions and verify what
// the controller stored, keeping everything in the pass's folder with a report.
//
// The pass is made of the cores the tool windows use: the tools themselves (acquisition,
// analysis, fit and write-back into the motor record) and the configuration transfer. Nothing is
// written to the controller before the write step. The pass never waits: its driver (the
// assistant window or qvcli) offers it every received frame (pumpFrames), calls poll() while
// busy(), and moves it on with next(), retry() and cancel() when it is not. Configuration
// transfers run on the driver's worker; their questions and messages go through the driver's
// UserInteraction (from the worker's thread).
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "common/user_interaction.h"
#include "config/config_changes.h"
#include "config/config_progress.h"
#include "config/config_transfer.h"
#include "tools/commissioning_record.h"
#include "tools/commissioning_tool.h"
#include "tools/im_extraction.h"
#include "tools/port_tool_link.h"

namespace qv {

// Runs the pass's configuration transfers away from the driver's thread.
class PassWorker {
  public:
    virtual ~PassWorker() = default;
    // Starts `work`; false when it cannot start now (another transfer runs).
    virtual bool start(std::function<void()> work) = 0;
};

// Runs the work at once, inside start(): for a driver that may block (qvcli).
class InlinePassWorker final : public PassWorker {
  public:
    bool start(std::function<void()> work) override {
        work();
        return true;
    }
};

// Draws a chart into a PNG file.
class PlotRenderer {
  public:
    virtual ~PlotRenderer() = default;
    virtual bool writePng(const PlotFigure& figure, const std::string& path,
                          std::string* error) = 0;
};

struct PassServices {
    CBcan* port = nullptr;
    // The transfer's questions and, when forwardMessages is set, every other box too (boxes are
    // always recorded). Called from the worker's thread during transfers.
    UserInteraction* ui = nullptr;
    bool forwardMessages = false;
    PassWorker* worker = nullptr;
    // Runs the induction-motor fits; empty: they run inside poll().
    std::function<std::unique_ptr<ImFitRunner>()> fitRunner;
    // Draws the report's charts; null: the report has none.
    PlotRenderer* plots = nullptr;
    // The port's progress hook outside transfers (each transfer puts it back at its end).
    std::function<void(std::uint16_t)> portProgressHook;
    // Each step's end, in order (the record is final for that step).
    std::function<void(const StepRecord&)> stepEnded;
};

struct PassSetup {
    TransferTarget target;  // the controller
    std::uint16_t deviceType = 0;
    int motor = 0;                 // the record to commission, 0 to 9
    std::optional<int> motorType;  // nothing: the type the record holds
    bool phases = true;            // phase and hall allocation
    bool parameters = true;        // resistance and inductance, or the equivalent circuit
    std::string folder;            // created when the pass starts
    std::tm started{};             // local time
    std::string programVersion;
};

// Waits between telling the controller which tool is open and asking it to acquire.
inline constexpr double kToolSelectSettleMs = 100;

// The files of a pass's folder.
namespace pass_file {
inline constexpr const char* kReport = "report.html";
inline constexpr const char* kBefore = "before.cfg";
inline constexpr const char* kAfter = "after.cfg";
}  // namespace pass_file

class CommissioningPass final : public FrameConsumer {
  public:
    CommissioningPass(PassServices services, PassSetup setup);
    ~CommissioningPass() override;
    CommissioningPass(const CommissioningPass&) = delete;
    CommissioningPass& operator=(const CommissioningPass&) = delete;

    const PassRecord& record() const { return record_; }
    // The step shown now: the one running, waiting to be started, or just ended.
    PassStep step() const { return current_; }
    StepOutcome outcome() const { return record_.at(current_).outcome; }
    // A step runs (or a cancel waits for a transfer to end): keep polling.
    bool busy() const;
    // The report is written; nothing more happens.
    bool finished() const { return finished_; }
    // The controller's configuration was written (the write step succeeded).
    bool written() const { return record_.at(PassStep::Write).outcome == StepOutcome::Succeeded; }

    // What the driver may do now.
    bool canContinue() const;
    bool canRetry() const;
    bool canCancel() const { return !finished_ && !cancelRequested_; }

    // Starts the step shown when it waits to be started, else moves on to the next one.
    void next(double nowMs);
    // Runs the step shown again (backup, phases, parameters).
    void retry(double nowMs);
    // Stops the pass: what runs is given up (a transfer is aborted and waited for), the
    // controller keeps what it holds, and the report is written, marked incomplete, saying
    // where and why. A failed step's own failure is the reason when `reason` is empty.
    void cancel(const std::string& reason, double nowMs);

    // FrameConsumer: the frames of the acquisition under way. poll() also collects transfers
    // and fits that ended elsewhere.
    std::optional<std::uint32_t> wantedIdentifier() const override;
    bool offerFrame(std::uint32_t identifier, const CanFrame::Data& data, double nowMs) override;
    void poll(double nowMs) override;

    // Changes whenever there is something new to show.
    std::uint64_t generation() const { return generation_; }

    // The state of the transfer under way, for a progress bar.
    ConfigProgressState transferProgress() const;
    // The tools, for a window that shows their results.
    const DuvodaRezirTool& phaseTool() const { return *phaseTool_; }
    const PmExtractionTool& pmTool() const { return *pmTool_; }
    const ImExtractionTool& imTool() const { return *imTool_; }
    // The parameter step measures the equivalent circuit (induction motor), not R and L.
    bool inductionParameters() const;

  private:
    struct Shared;
    enum class Wait { None, Transfer, Selecting, Acquiring };

    void begin(PassStep step, double nowMs);
    void startDevice();
    void startBackup();
    void startAcquisition(PassStep step, double nowMs);
    void startReview();
    void startWrite();
    void finishBackup();
    void finishWrite();
    void recordVerification();
    void finishAcquisition();
    void recordPhases(StepRecord& r, int attempt);
    void recordPm(StepRecord& r, int attempt);
    void recordIm(StepRecord& r, int attempt);
    bool startTransfer(std::function<bool()> job);
    CommissioningTool& activeTool();
    std::optional<PassStep> following(PassStep step) const;
    void advanceFrom(PassStep step, double nowMs);
    void end(StepOutcome outcome, std::string summary);
    void stop(PassStep at, std::string reason, StepOutcome outcome);
    void writeReport();
    bool writeReportFile();
    std::string pathOf(const std::string& name) const;
    void addFile(StepRecord& r, const std::string& name);
    bool writeFile(StepRecord& r, const std::string& name, const std::string& text);
    void drawPlot(StepRecord& r, const std::string& title, const std::string& name,
                  const PlotFigure& figure);
    std::string attemptName(const std::string& stem, const std::string& extension,
                            int attempt) const;
    TransferContext transferContext(CConfigDataBank& store);

    PassServices services_;
    PassSetup setup_;
    PassRecord record_;
    std::shared_ptr<Shared> shared_;
    PortToolLink link_;
    std::unique_ptr<DuvodaRezirTool> phaseTool_;
    std::unique_ptr<PmExtractionTool> pmTool_;
    std::unique_ptr<ImExtractionTool> imTool_;
    PassStep current_ = PassStep::Device;
    Wait wait_ = Wait::None;
    double selectUntilMs_ = 0;
    double lastNowMs_ = 0;
    std::size_t messagesAtStart_ = 0;
    bool cancelRequested_ = false;
    std::string cancelReason_;
    bool finished_ = false;
    std::uint64_t generation_ = 0;
};

// Runs `pass` to its end without a window, as qvcli does: frames pumped while it acquires (the
// others let go), polled while it is busy, moved on while it can, and given up where a step
// failed. `eachTurn` runs on every turn of the loop (to cancel, for instance).
void runPassHeadless(CommissioningPass& pass, CBcan& port, const std::function<double()>& clock,
                     const std::function<void()>& eachTurn = {});

}  // namespace qv
