#include "tools/im_extraction.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "tools/acquisition_csv.h"
#include "tools/im_log.h"
#include "tools/im_sample_file.h"

namespace qv {

namespace im_status {
ToolStatus idle() {
    return {"Idle", tool_colour::kIdle};
}
ToolStatus extracting() {
    return {"Extracting, please wait...", tool_colour::kBusy};
}
ToolStatus completed() {
    return {"Completed", tool_colour::kSuccess};
}
ToolStatus error() {
    return {"Error", tool_colour::kFailure};
}
ToolStatus notUsable() {
    return {"Fit not usable", tool_colour::kFailure};
}
ToolStatus unknownMode(int mode) {
    return {"Unknown mode " + std::to_string(mode) + ", not fitted", tool_colour::kFailure};
}
}  // namespace im_status

namespace {

bool finiteSingle(double v) {
    return std::isfinite(v) && std::fabs(v) <= FLT_MAX;
}

std::string unknownModeText(const ImRecording& r) {
    char text[200];
    std::snprintf(text, sizeof text,
                  "Acquisition mode %d is neither 0 (frequency sweep) nor 1 (step response): %d "
                  "frames were read, nothing was fitted and nothing is written.\r\n",
                  r.mode, r.count);
    return text;
}

// Whether the fit may be written, with the write-back values of its mode.
void judge(ImExtraction& e) {
    const ImParameters& p = e.fit.parameters;
    const bool sweep = e.recording.mode == im_mode::kSweep;
    e.rotorX = sweep ? p[1] / 1000 : p[0];
    e.rotorY = sweep ? p[3] / 1000 : p[1];
    e.relativeToLineResistance = !sweep;
    if (!e.fit.usable) {
        e.problem =
            "The fit gave no usable result (a parameter or model value is not finite); nothing "
            "is written.";
    } else if (!(e.rotorX > 0) || !(e.rotorY > 0)) {
        e.problem =
            "The fit gave a rotor resistance or magnetising inductance that is not above 0; "
            "nothing is written.";
    }
    e.usable = e.problem.empty();
}

}  // namespace

std::optional<RotorValues> rotorValues(const ImExtraction& e, const MotorConfig& motor,
                                       std::string* refusal) {
    const auto refuse = [refusal](std::string why) -> std::optional<RotorValues> {
        if (refusal) *refusal = std::move(why);
        return std::nullopt;
    };
    if (!e.usable) return refuse(e.problem.empty() ? "There is no usable fit." : e.problem);
    double scale = 1;
    if (e.relativeToLineResistance) {
        scale = motor.lineResistance;
        if (!std::isfinite(scale) || scale <= 0) {
            char text[300];
            std::snprintf(text, sizeof text,
                          "The chosen motor record has no usable line resistance (%g ohm). The "
                          "step response gives the rotor resistance and inductance only in "
                          "proportion to it: measure the line resistance first. Nothing was "
                          "written.",
                          scale);
            return refuse(text);
        }
    }
    const double r = scale * e.rotorX;
    const double l = scale * e.rotorY;
    if (!finiteSingle(r) || !finiteSingle(l) || !(static_cast<float>(r) > 0) ||
        !(static_cast<float>(l) > 0))
        return refuse(
            "The rotor resistance or inductance does not fit the motor record. Nothing was "
            "written.");
    return RotorValues{static_cast<float>(r), static_cast<float>(l)};
}

ImExtractionTool::ImExtractionTool(ToolContext context, std::unique_ptr<ImFitRunner> runner)
    : CommissioningTool(std::move(context), tool_number::kImExtraction, tool_action::kImExtraction),
      runner_(std::move(runner)) {
    if (!runner_) throw std::invalid_argument("the extraction needs a fit runner");
}

ImExtractionTool::~ImExtractionTool() {
    if (job_) job_->cancel();
}

void ImExtractionTool::shown() {
    CommissioningTool::shown();
    // A fit still running keeps saying so.
    if (!busy()) status_ = im_status::idle();
}

void ImExtractionTool::starting() {
    status_ = im_status::extracting();
}

void ImExtractionTool::failing() {
    status_ = im_status::error();
}

std::unique_ptr<AcquisitionScript> ImExtractionTool::makeScript() {
    return std::make_unique<ImAcquisitionScript>();
}

void ImExtractionTool::analyse(const AcquisitionScript& script) {
    const ImRecording& recording = static_cast<const ImAcquisitionScript&>(script).recording();
    ImExtraction e;
    e.recording = recording;
    std::optional<ImFitInput> input;
    if (recording.mode == im_mode::kSweep)
        input = sweepFitInput(recording.amplitudeV, recording.currentA);
    else if (recording.mode == im_mode::kStep)
        input = stepFitInput(recording.currentA, recording.samplingInterval);
    if (input) {
        e.fitted = true;
        e.x = input->x;
        e.y = input->y;
        job_ = runner_->start(std::move(*input));
    }
    pending_ = std::move(e);
}

bool ImExtractionTool::analysisFinished() {
    if (!pending_) return true;
    if (job_) {
        if (!job_->ready()) return false;
        std::string error;
        auto result = job_->result(&error);
        job_.reset();
        if (!result) {
            pending_.reset();
            throw std::runtime_error(error);
        }
        pending_->fit = std::move(*result);
    }
    ImExtraction e = std::move(*pending_);
    pending_.reset();
    present(std::move(e));
    return true;
}

void ImExtractionTool::abandonAnalysis() {
    if (job_) job_->cancel();
    job_.reset();
    pending_.reset();
    status_ = im_status::idle();
}

void ImExtractionTool::present(ImExtraction e) {
    const ImRecording& r = e.recording;
    if (!e.fitted) {
        log_ = unknownModeText(r);
        figure_.reset();
        status_ = im_status::unknownMode(r.mode);
        extraction_ = std::move(e);
        return;
    }
    judge(e);
    const ImParameters& p = e.fit.parameters;
    if (r.mode == im_mode::kSweep) {
        log_ = sweepLogText(r.amplitudeV, r.currentA, p);
        figure_ = imSweepPlot(logFrequencies(e.x), r.currentA, e.fit.model);
    } else {
        log_ = stepLogText(r.currentA, p);
        figure_ = imStepPlot(e.x, e.y, e.fit.model);
    }
    if (e.usable) {
        status_ = im_status::completed();
    } else {
        log_ += "\r\n" + e.problem + "\r\n";
        status_ = im_status::notUsable();
    }
    extraction_ = std::move(e);
}

bool ImExtractionTool::resultWritable() const {
    return extraction_ && extraction_->usable;
}

bool ImExtractionTool::writeResult(MotorConfig& motor) const {
    refusal_.reset();
    if (!extraction_) return false;
    std::string why;
    const auto values = rotorValues(*extraction_, motor, &why);
    if (!values) {
        refusal_ = why;
        return false;
    }
    motor.rotorResistance = values->resistance;
    motor.rotorInductance = values->inductance;
    return true;
}

std::optional<MessageBoxRequest> ImExtractionTool::unusableResultMessage() const {
    if (!extraction_ || extraction_->usable) return std::nullopt;
    const std::string text =
        extraction_->fitted ? extraction_->problem : unknownModeText(extraction_->recording);
    return MessageBoxRequest{text, kImCaption, MessageIcon::Warning, MessageButtons::Ok,
                             MessageAnswer::Ok};
}

void ImExtractionTool::writtenBack(int motor) {
    if (motor >= 0 || !refusal_) return;
    const std::string text = std::move(*refusal_);
    refusal_.reset();
    context().ui->messageBox(
        {text, kImCaption, MessageIcon::Warning, MessageButtons::Ok, MessageAnswer::Ok});
}

std::optional<std::string> ImExtractionTool::sampleFileText() const {
    if (!extraction_ || !extraction_->fitted) return std::nullopt;
    const ImRecording& r = extraction_->recording;
    const ImSampleFile samples{r.amplitudeV, r.currentA, r.samplingInterval};
    return formatImSampleFile(
        samples, r.mode == im_mode::kSweep ? ImModel::FrequencyResponse : ImModel::StepResponse);
}

std::optional<std::string> ImExtractionTool::saveData(const std::string& directory) {
    const auto text = sampleFileText();
    if (!text || busy()) return std::nullopt;
    const bool sweep = extraction_->recording.mode == im_mode::kSweep;
    FileDialogRequest request;
    request.save = true;
    request.filter = "Sample files (*.txt)|*.txt|All files (*.*)|*.*||";
    request.defaultExtension = "txt";
    request.kind = FileKind::Acquisition;
    request.initialPath = (directory.empty() ? std::string() : directory + "/") +
                          (sweep ? "im_sweep.txt" : "im_step.txt");
    const auto path = context().ui->fileDialog(request);
    if (!path || path->empty()) return std::nullopt;
    std::string error;
    if (!writeTextFile(*path, *text, &error)) {
        context().ui->messageBox({"Could not save the samples:\r\n\r\n" + error, "Save Data",
                                  MessageIcon::Error, MessageButtons::Ok, MessageAnswer::Ok});
        return std::nullopt;
    }
    return path;
}

}  // namespace qv
