#pragma once
// What a commissioning tool window does, without the window: tell the controller the tool is
// shown or hidden, run the acquisition without blocking (the window offers it every received
// frame and polls it from its event loop, with its controls disabled while busy()), analyse,
// report failures with the tool's boxes, and write a usable result into the motor record the
// user picks.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "common/user_interaction.h"
#include "config/config_data_bank.h"
#include "tools/phase_analysis.h"
#include "tools/pm_analysis.h"
#include "tools/tool_exchange.h"
#include "tools/write_back.h"

namespace qv {

// Takes received frames while an acquisition waits for one.
class FrameConsumer {
  public:
    virtual ~FrameConsumer() = default;
    // The identifier waited for; nothing while no acquisition waits.
    virtual std::optional<std::uint32_t> wantedIdentifier() const = 0;
    // True when the frame was taken; anything else goes on to the telemetry decoder.
    virtual bool offerFrame(std::uint32_t identifier, const CanFrame::Data& data, double nowMs) = 0;
    // Judges the time-outs; call after offering every frame received so far.
    virtual void poll(double nowMs) = 0;
};

struct ToolContext {
    ToolLink* link = nullptr;
    UserInteraction* ui = nullptr;
    CConfigDataBank* store = nullptr;
    std::uint32_t base = 0;  // CAN base address of the selected device
    MotorChooser chooseMotor;
    UploadStarter startUpload;
};

class CommissioningTool : public FrameConsumer {
  public:
    CommissioningTool(ToolContext context, std::uint16_t toolNumber, int actionCode);
    ~CommissioningTool() override;
    CommissioningTool(const CommissioningTool&) = delete;
    CommissioningTool& operator=(const CommissioningTool&) = delete;

    // The device the tool talks to (the selection may change while the window is hidden).
    void setBase(std::uint32_t base) { context_.base = base; }
    // The window was shown / hidden: the controller is told which tool is open.
    virtual void shown();
    void hidden();
    // Close, Cancel, Escape or the close box: an acquisition under way is given up (and so is an
    // analysis still running), then the controller is told no tool is open.
    void closed();

    // The acquire button. False when nothing started (no connection: the "Connect Failure" box
    // was shown; or an acquisition is already under way). `now` is the window's clock; the
    // first wait starts when the request has gone out.
    bool acquire(const std::function<double()>& now);
    // The same for a caller whose clock reads `nowMs` throughout.
    bool acquire(double nowMs) {
        return acquire([nowMs] { return nowMs; });
    }
    // An acquisition waits, or its analysis still runs (the window keeps its controls disabled
    // and keeps calling poll()).
    bool busy() const;

    std::optional<std::uint32_t> wantedIdentifier() const override;
    bool offerFrame(std::uint32_t identifier, const CanFrame::Data& data, double nowMs) override;
    // Judges the time-outs, and collects an analysis that has finished elsewhere.
    void poll(double nowMs) override;

    // Changes whenever there is something new to show.
    std::uint64_t generation() const { return generation_; }
    // The record the last write-back wrote (-1: none since the last acquisition).
    int lastWrittenMotor() const { return lastWritten_; }
    std::uint16_t toolNumber() const { return toolNumber_; }

  protected:
    virtual std::unique_ptr<AcquisitionScript> makeScript() = 0;
    // How the acquisition request goes out (queued over the connection unless a tool says).
    virtual RequestSending requestSending() const { return RequestSending::Queued; }
    // The acquisition is complete (the connection is still open): analyse and keep the result.
    virtual void analyse(const AcquisitionScript& script) = 0;
    // Whether the result just analysed may be written, and the writing itself.
    virtual bool resultWritable() const = 0;
    virtual bool writeResult(MotorConfig& motor) const = 0;
    // Shown (after the connection closed) when the result may not be written; nothing by default.
    virtual std::optional<MessageBoxRequest> unusableResultMessage() const { return std::nullopt; }

    // For a tool whose analysis runs on another thread: analyse() starts it, and
    // analysisFinished() is asked from every poll() until it returns true, having taken the
    // result on the caller's thread; the write-back follows. abandonAnalysis() drops an analysis
    // still running when the window closes. The default analysis is done when analyse() returns.
    virtual bool analysisFinished() { return true; }
    virtual void abandonAnalysis() {}
    // The acquire button was pressed (before connecting); a failure box is about to be shown;
    // the write-back ended with record `motor` written (-1: none).
    virtual void starting() {}
    virtual void failing() {}
    virtual void writtenBack(int /*motor*/) {}

    const ToolContext& context() const { return context_; }

  private:
    void settle();
    void finishAnalysis();
    void showFailure(const MessageBoxRequest& box);

    ToolContext context_;
    std::uint16_t toolNumber_;
    int actionCode_;
    std::unique_ptr<AcquisitionScript> script_;
    std::unique_ptr<ToolAcquisition> acquisition_;
    std::uint64_t generation_ = 0;
    int lastWritten_ = -1;
    bool analysing_ = false;
};

// The phase and hall allocation tool (DuvodaRezir).
class DuvodaRezirTool : public CommissioningTool {
  public:
    explicit DuvodaRezirTool(ToolContext context);

    // The last complete acquisition and its analysis (kept until the next complete one; a
    // failed acquisition leaves both as they were).
    const std::optional<PhaseRecording>& recording() const { return recording_; }
    const std::optional<PhaseReport>& report() const { return report_; }

  protected:
    std::unique_ptr<AcquisitionScript> makeScript() override;
    void analyse(const AcquisitionScript& script) override;
    bool resultWritable() const override;
    bool writeResult(MotorConfig& motor) const override;

  private:
    std::optional<PhaseRecording> recording_;
    std::optional<PhaseReport> report_;
};

// The permanent-magnet parameter extraction tool.
class PmExtractionTool : public CommissioningTool {
  public:
    explicit PmExtractionTool(ToolContext context);

    const std::optional<PmRecording>& recording() const { return recording_; }
    const std::optional<PmReport>& report() const { return report_; }

  protected:
    std::unique_ptr<AcquisitionScript> makeScript() override;
    void analyse(const AcquisitionScript& script) override;
    bool resultWritable() const override;
    bool writeResult(MotorConfig& motor) const override;
    // Why a fit is not usable (caption "Parameter extraction").
    std::optional<MessageBoxRequest> unusableResultMessage() const override;

  private:
    std::optional<PmRecording> recording_;
    std::optional<PmReport> report_;
};

}  // namespace qv
