// What the pass records of its acquisitions: the raw data in the files qvcli reads, the charts,
// the values found and whether they went into the motor record.
#include <cmath>

#include "tools/acquisition_csv.h"
#include "tools/commissioning_pass_shared.h"
#include "tools/tool_plots.h"

namespace qv {

namespace {

// The box that ended an acquisition before it had data: no connection, a missing or wrong
// frame, or an exception.
const PassBox* acquisitionFailure(const std::vector<PassBox>& boxes) {
    for (const PassBox& b : boxes) {
        const std::string& c = b.request.caption;
        if (c == "Acquisition error" || c == "Connect Failure" || c == "Unknown exception")
            return &b;
    }
    return nullptr;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& l : lines) out += (out.empty() ? "" : "\n") + l;
    return out;
}

std::string sensorModeText(int mode, int hallsPresent) {
    switch (mode) {
        case 1:
            return "1 (halls)";
        case 2:
            return "2 (position sensor)";
        case 3:
            return hallsPresent ? "3 (position sensor and halls)"
                                : "3 (position sensor, no halls fitted)";
        default:
            return std::to_string(mode) + " (unknown)";
    }
}

std::string ohms(double value) {
    return numberText(value, 5) + " ohm";
}

std::string henries(double value) {
    return numberText(value, 5) + " H";
}

}  // namespace

void CommissioningPass::recordPhases(StepRecord& r, int attempt) {
    const auto boxes = shared_->interaction.since(messagesAtStart_);
    if (const PassBox* failed = acquisitionFailure(boxes)) {
        r.text = plainText(failed->request.text);
        return end(StepOutcome::Failed, firstLine(r.text));
    }
    const DuvodaRezirTool& tool = *phaseTool_;
    if (!tool.recording() || !tool.report())
        return end(StepOutcome::Failed, "the acquisition gave nothing to analyse");
    const PhaseRecording& recording = *tool.recording();
    const PhaseReport& report = *tool.report();
    writeFile(r, attemptName("phases", ".csv", attempt), formatPhaseCsv(recording));
    drawPlot(r, "Line to line voltages acquired by the controller",
             attemptName("phases_voltages", ".png", attempt), lineVoltagePlot(report.samples));
    if (const auto sensors =
            sensorPlot(report.samples, recording.sensorMode, recording.hallsPresent))
        drawPlot(r, "Hall inputs to the controller", attemptName("phases_sensors", ".png", attempt),
                 *sensors);

    r.text = plainText(report.text);
    r.values.push_back({"Verdict", report.verdict ? *report.verdict : "not analysed"});
    r.values.push_back(
        {"Sensor mode", sensorModeText(recording.sensorMode, recording.hallsPresent)});
    if (report.lines.ok)
        r.values.push_back(
            {"Phase order", report.lines.phaseOrder == 1 ? "A-B-C" : "A-C-B (BC => CB)"});
    if (!report.list.empty()) r.values.push_back({"Result list", joined(report.list)});

    if (tool.lastWrittenMotor() == setup_.motor) {
        std::string summary = "SUCCESS, phase order ";
        summary += report.lines.phaseOrder == 1 ? "A-B-C" : "A-C-B";
        if (report.position)
            summary += ", pole ratio " + numberText(std::round(report.position->poleRatio));
        return end(StepOutcome::Succeeded, summary);
    }
    std::string why;
    if (!report.verdict)
        why = firstLine(r.text);
    else if (!report.success() && (recording.sensorMode < 1 || recording.sensorMode > 3))
        why = "FAILED: sensor mode " + std::to_string(recording.sensorMode) +
              " is none of 1 (halls), 2 (position sensor) and 3 (both)";
    else if (!report.success() && report.lines.ok && !report.position &&
             recording.sensorMode != 1 && !(recording.sensorMode == 3 && recording.hallsPresent))
        why = "FAILED: the position sensor could not be analysed";
    else if (!report.success())
        why = "FAILED: the hall inputs do not change exactly once in each 60 degree segment";
    else
        why = "the result cannot be written into a motor record (an angle is not a number)";
    end(StepOutcome::Failed, why);
}

void CommissioningPass::recordPm(StepRecord& r, int attempt) {
    const auto boxes = shared_->interaction.since(messagesAtStart_);
    if (const PassBox* failed = acquisitionFailure(boxes)) {
        r.text = plainText(failed->request.text);
        return end(StepOutcome::Failed, firstLine(r.text));
    }
    const PmExtractionTool& tool = *pmTool_;
    if (!tool.recording() || !tool.report())
        return end(StepOutcome::Failed, "the acquisition gave nothing to analyse");
    const PmReport& report = *tool.report();
    writeFile(r, attemptName("pm", ".csv", attempt), formatPmCsv(*tool.recording()));
    drawPlot(r, "DC V-I curve to find phase resistance", attemptName("pm_vi", ".png", attempt),
             viPlot(report));
    drawPlot(r, "Decay of motor current through resistance and inductance",
             attemptName("pm_decay", ".png", attempt), decayPlot(report));
    r.text = plainText(report.log);
    r.values = {
        {"Resistance (phase to neutral)", report.resistanceText},
        {"Inductance (phase to neutral)", report.inductanceText},
        {"Resistance", ohms(report.resistance)},
        {"Inductance", henries(report.inductance)},
        {"V-I points, decay points", std::to_string(report.n1) + ", " + std::to_string(report.n2)},
        {"Line fit",
         "m = " + numberText(report.line.m) + " A/V, c = " + numberText(report.line.c) + " A"},
        {"Decay fit", "tau = " + numberText(report.decay.tau) +
                          " s, Io = " + numberText(report.decay.io) + " A"}};
    if (tool.lastWrittenMotor() == setup_.motor)
        return end(StepOutcome::Succeeded,
                   "R " + report.resistanceText + ", L " + report.inductanceText);
    end(StepOutcome::Failed, report.usable ? "the result cannot be written into the motor record"
                                           : firstLine(plainText(report.problem)));
}

void CommissioningPass::recordIm(StepRecord& r, int attempt) {
    const auto boxes = shared_->interaction.since(messagesAtStart_);
    if (const PassBox* failed = acquisitionFailure(boxes)) {
        r.text = plainText(failed->request.text);
        return end(StepOutcome::Failed, firstLine(r.text));
    }
    const ImExtractionTool& tool = *imTool_;
    if (!tool.extraction()) return end(StepOutcome::Failed, "the acquisition gave nothing to fit");
    const ImExtraction& e = *tool.extraction();
    const bool sweep = e.recording.mode == im_mode::kSweep;
    if (const auto samples = tool.sampleFileText())
        writeFile(r, attemptName(sweep ? "im_sweep" : "im_step", ".txt", attempt), *samples);
    if (tool.figure())
        drawPlot(r,
                 sweep ? "Frequency sweep: measured and fitted current"
                       : "Step response: measured and fitted current",
                 attemptName("im_fit", ".png", attempt), *tool.figure());
    r.text = plainText(tool.logText());
    r.values.push_back({"Acquisition", sweep ? "frequency sweep"
                                       : e.recording.mode == im_mode::kStep
                                           ? "step response"
                                           : "mode " + std::to_string(e.recording.mode)});
    if (e.fitted) {
        const ImParameters& p = e.fit.parameters;
        if (sweep) {
            r.values.push_back({"Rs", numberText(p[0]) + " mohm"});
            r.values.push_back({"Rr", numberText(p[1]) + " mohm"});
            r.values.push_back({"Lls", numberText(p[2]) + " mH"});
            r.values.push_back({"Lm", numberText(p[3]) + " mH"});
            r.values.push_back({"Ib", numberText(p[4]) + " A"});
        } else {
            r.values.push_back({"Rr/Rs", numberText(p[0])});
            r.values.push_back({"Lm/Rs", numberText(p[1]) + " H/ohm"});
            r.values.push_back({"Lls/Rs", numberText(p[2]) + " H/ohm"});
            r.values.push_back({"Final current", numberText(p[3]) + " A"});
            r.values.push_back({"Time offset", numberText(p[4]) + " s"});
        }
    }
    const MotorConfig& m = shared_->store.motor[static_cast<std::size_t>(setup_.motor)];
    if (tool.lastWrittenMotor() == setup_.motor) {
        if (e.relativeToLineResistance)
            r.values.push_back({"Line resistance used", ohms(m.lineResistance)});
        r.values.push_back({"Rotor resistance written", ohms(m.rotorResistance)});
        r.values.push_back({"Magnetising inductance written", henries(m.rotorInductance)});
        return end(StepOutcome::Succeeded,
                   "Rr " + ohms(m.rotorResistance) + ", Lm " + henries(m.rotorInductance));
    }
    // The tool said why it wrote nothing (unusable fit, unknown mode, no line resistance).
    std::string why = "the result cannot be written into the motor record";
    for (const PassBox& b : boxes)
        if (b.request.caption == kImCaption) why = firstLine(plainText(b.request.text));
    end(StepOutcome::Failed, why);
}

}  // namespace qv
