#pragma once
// The induction-motor extraction ("Induction Motor Extraction") without its window: the
// acquisition of a frequency sweep or a step response, the fit of the matching model on a worker
// thread, the log text, the chart and the status field, and the rotor resistance and
// magnetising inductance written into the motor record the user picks (upload action 4).
//
// The window shows status(), logText() and figure() whenever generation() changes, keeps its
// controls disabled while busy(), and keeps pumping frames (pumpFrames) while busy(): that also
// collects the fit once the worker has finished it.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/commissioning_tool.h"
#include "tools/im_acquisition.h"
#include "tools/im_fit_runner.h"
#include "tools/tool_plots.h"

namespace qv {

// The text and colours (0x00BBGGRR) of a tool's status field.
struct ToolStatus {
    std::string text;
    std::uint32_t background = tool_colour::kIdle;
    std::uint32_t textColour = tool_colour::kText;
    friend bool operator==(const ToolStatus&, const ToolStatus&) = default;
};

namespace im_status {
ToolStatus idle();                 // "Idle" on grey
ToolStatus extracting();           // "Extracting, please wait..." on orange
ToolStatus completed();            // "Completed" on green
ToolStatus error();                // "Error" on red
ToolStatus notUsable();            // "Fit not usable" on red
ToolStatus unknownMode(int mode);  // "Unknown mode 7, not fitted" on red
}  // namespace im_status

inline constexpr const char* kImCaption = "Induction Motor Extraction";

// What the last complete acquisition gave.
struct ImExtraction {
    ImRecording recording;
    bool fitted = false;    // mode 0 or 1: the fit ran
    ImFitResult fit;        // when fitted
    std::vector<double> x;  // the fitted points' ω (rad/s) or t (s)
    std::vector<double> y;  // their measured currents (step response: less the zero reference)
    // May be written into a motor record: fitted, every value finite, rotor values above 0.
    bool usable = false;
    std::string problem;  // why not, when not
    // The write-back: mode 0 the fit's own values, Rr and Lm in ohm and henry; mode 1 the ratios
    // Rr/Rs and Lm/Rs, multiplied by the record's line resistance.
    double rotorX = 0;
    double rotorY = 0;
    bool relativeToLineResistance = false;
};

// The values written into `motor` for `extraction`; nothing, with the reason, when they may not
// be (not usable; mode 1 with a line resistance that is 0, negative or not finite; a product
// that is not a finite positive single float).
struct RotorValues {
    float resistance = 0;  // ohm
    float inductance = 0;  // henry
};
std::optional<RotorValues> rotorValues(const ImExtraction& extraction, const MotorConfig& motor,
                                       std::string* refusal = nullptr);

class ImExtractionTool : public CommissioningTool {
  public:
    // `runner` runs the fits (a ThreadFitRunner in the program); it lives as long as the tool.
    ImExtractionTool(ToolContext context, std::unique_ptr<ImFitRunner> runner);
    ~ImExtractionTool() override;

    // Selects tool 3 on the controller and resets the status to "Idle" (unless busy).
    void shown() override;

    const ToolStatus& status() const { return status_; }
    const std::string& logText() const { return log_; }
    // Nothing before the first fit and after an acquisition of an unknown mode.
    const std::optional<PlotFigure>& figure() const { return figure_; }
    const std::optional<ImExtraction>& extraction() const { return extraction_; }

    // "Save Data...": the last complete acquisition of mode 0 or 1, in the file qvcli fit-im
    // reads. canSaveData() tells whether there is one; saveData() asks for the file (offered in
    // `directory`, "" the current one), writes it (a failure leaves any file of that name as it
    // was and says why in a box) and returns the path written.
    bool canSaveData() const { return sampleFileText().has_value(); }
    std::optional<std::string> saveData(const std::string& directory = {});
    std::optional<std::string> sampleFileText() const;

  protected:
    std::unique_ptr<AcquisitionScript> makeScript() override;
    // Its request goes out at once as one multicast frame, not queued over the connection.
    RequestSending requestSending() const override { return RequestSending::Immediate; }
    void analyse(const AcquisitionScript& script) override;
    bool analysisFinished() override;
    void abandonAnalysis() override;
    bool resultWritable() const override;
    bool writeResult(MotorConfig& motor) const override;
    std::optional<MessageBoxRequest> unusableResultMessage() const override;
    void starting() override;
    void failing() override;
    void writtenBack(int motor) override;

  private:
    void present(ImExtraction extraction);

    std::unique_ptr<ImFitRunner> runner_;
    std::shared_ptr<ImFitJob> job_;
    std::optional<ImExtraction> pending_;  // acquired, its fit still running
    std::optional<ImExtraction> extraction_;
    ToolStatus status_ = im_status::idle();
    std::string log_;
    std::optional<PlotFigure> figure_;
    mutable std::optional<std::string> refusal_;  // why the last write-back wrote nothing
};

}  // namespace qv
