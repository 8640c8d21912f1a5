#include "tools/commissioning_tool.h"

#include <exception>

namespace qv {

CommissioningTool::CommissioningTool(ToolContext context, std::uint16_t toolNumber, int actionCode)
    : context_(std::move(context)), toolNumber_(toolNumber), actionCode_(actionCode) {}

CommissioningTool::~CommissioningTool() = default;

void CommissioningTool::shown() {
    selectTool(*context_.link, context_.base, toolNumber_);
}

void CommissioningTool::hidden() {
    deselectTool(*context_.link, context_.base);
}

void CommissioningTool::closed() {
    if (acquisition_) {
        acquisition_->abandon();
        acquisition_.reset();
        script_.reset();
        ++generation_;
    }
    if (analysing_) {
        analysing_ = false;
        abandonAnalysis();
        context_.link->closeTcp();
        ++generation_;
    }
    deselectTool(*context_.link, context_.base);
}

bool CommissioningTool::busy() const {
    return analysing_ || (acquisition_ && acquisition_->waiting());
}

void CommissioningTool::showFailure(const MessageBoxRequest& box) {
    failing();
    ++generation_;
    context_.ui->messageBox(box);
}

bool CommissioningTool::acquire(const std::function<double()>& now) {
    if (busy()) return false;
    lastWritten_ = -1;
    starting();
    try {
        script_ = makeScript();
        acquisition_ = std::make_unique<ToolAcquisition>(*context_.link, context_.base, *script_,
                                                         requestSending());
        if (acquisition_->start(now) == ToolAcquisition::State::NotConnected) {
            acquisition_.reset();
            script_.reset();
            showFailure(connectFailureMessage());
            return false;
        }
    } catch (const std::exception&) {
        acquisition_.reset();
        script_.reset();
        context_.link->closeTcp();
        showFailure(unknownExceptionMessage());
        return false;
    }
    ++generation_;
    settle();
    return true;
}

std::optional<std::uint32_t> CommissioningTool::wantedIdentifier() const {
    return acquisition_ ? acquisition_->wantedIdentifier() : std::nullopt;
}

bool CommissioningTool::offerFrame(std::uint32_t identifier, const CanFrame::Data& data,
                                   double nowMs) {
    if (!acquisition_ || !acquisition_->offerFrame(identifier, data, nowMs)) return false;
    settle();
    return true;
}

void CommissioningTool::poll(double nowMs) {
    if (analysing_) {
        finishAnalysis();
        return;
    }
    if (!acquisition_) return;
    acquisition_->poll(nowMs);
    settle();
}

// Once the acquisition has ended: the failure box, or the analysis, the connection closed and
// the write-back.
void CommissioningTool::settle() {
    const auto state = acquisition_->state();
    if (state == ToolAcquisition::State::Waiting) return;
    // Both objects are released before any box is shown, so that nothing re-enters them.
    auto acquisition = std::move(acquisition_);
    auto script = std::move(script_);
    ++generation_;
    if (state == ToolAcquisition::State::Failed) {
        showFailure(script->failureMessage());
        return;
    }
    if (state != ToolAcquisition::State::Complete) return;
    try {
        analyse(*script);
    } catch (const std::exception&) {
        context_.link->closeTcp();
        showFailure(unknownExceptionMessage());
        return;
    }
    analysing_ = true;
    finishAnalysis();
}

// Once the analysis is done: the connection closed and the write-back.
void CommissioningTool::finishAnalysis() {
    try {
        if (!analysisFinished()) return;
    } catch (const std::exception&) {
        analysing_ = false;
        context_.link->closeTcp();
        ++generation_;
        showFailure(unknownExceptionMessage());
        return;
    }
    analysing_ = false;
    context_.link->closeTcp();
    ++generation_;
    if (!resultWritable()) {
        if (const auto note = unusableResultMessage()) context_.ui->messageBox(*note);
        return;
    }
    lastWritten_ = writeBackToMotor(
        *context_.store, context_.chooseMotor,
        [this](MotorConfig& motor) { return writeResult(motor); }, context_.startUpload,
        actionCode_);
    writtenBack(lastWritten_);
}

DuvodaRezirTool::DuvodaRezirTool(ToolContext context)
    : CommissioningTool(std::move(context), tool_number::kDuvodaRezir, tool_action::kDuvodaRezir) {}

std::unique_ptr<AcquisitionScript> DuvodaRezirTool::makeScript() {
    return std::make_unique<PhaseAcquisitionScript>(
        phaseCalibration(context().store->privateConfig));
}

void DuvodaRezirTool::analyse(const AcquisitionScript& script) {
    const auto& phase = static_cast<const PhaseAcquisitionScript&>(script);
    recording_ = phase.recording();
    report_ = analysePhases(*recording_);
}

bool DuvodaRezirTool::resultWritable() const {
    return report_ && report_->success();
}

bool DuvodaRezirTool::writeResult(MotorConfig& motor) const {
    return report_ && writePhaseResult(*report_, motor);
}

PmExtractionTool::PmExtractionTool(ToolContext context)
    : CommissioningTool(std::move(context), tool_number::kPmExtraction,
                        tool_action::kPmExtraction) {}

std::unique_ptr<AcquisitionScript> PmExtractionTool::makeScript() {
    const PrivateConfig& p = context().store->privateConfig;
    return std::make_unique<PmAcquisitionScript>(p.baseVoltage, p.baseCurrent);
}

void PmExtractionTool::analyse(const AcquisitionScript& script) {
    const auto& pm = static_cast<const PmAcquisitionScript&>(script);
    recording_ = pm.recording();
    report_ = analysePm(*recording_);
}

bool PmExtractionTool::resultWritable() const {
    return report_ && report_->usable;
}

std::optional<MessageBoxRequest> PmExtractionTool::unusableResultMessage() const {
    if (!report_ || report_->usable) return std::nullopt;
    return MessageBoxRequest{report_->problem, "Parameter extraction", MessageIcon::Warning,
                             MessageButtons::Ok, MessageAnswer::Ok};
}

bool PmExtractionTool::writeResult(MotorConfig& motor) const {
    return report_ && writePmResult(*report_, motor);
}

}  // namespace qv
