#include "tools/phase_acquisition.h"

#include <cstdio>

namespace qv {

namespace {

constexpr int kFirstDataStep = 2;
constexpr int kFinalStep = kFirstDataStep + kPhaseSampleCount;

}  // namespace

PhaseCalibration phaseCalibration(const PrivateConfig& config) {
    PhaseCalibration c;
    c.baseVoltage = config.baseVoltage;
    c.phaseA = config.phaseAVoltage;
    c.phaseB = config.phaseBVoltage;
    c.phaseC = config.phaseCVoltage;
    return c;
}

RawPhaseSample decodePhaseSample(const CanFrame::Data& data) {
    const auto w = dataWords(data);
    return {static_cast<std::uint16_t>(w[0] & 7u), static_cast<std::uint16_t>(w[0] & 0xFFF8u), w[1],
            w[2], w[3]};
}

CanFrame::Data encodePhaseSample(const RawPhaseSample& s) {
    const auto word0 = static_cast<std::uint16_t>((s.position & 0xFFF8u) | (s.hall & 7u));
    return packWords({word0, s.r1, s.r2, s.r3});
}

std::string phaseAcquisitionErrorText(const PSAcqException& error) {
    if (error.code == -1) return "No reply from the controller";
    if (error.code == -2) return "Failed to obtain sufficient speed";
    char text[96];
    std::snprintf(text, sizeof text,
                  "Error occurred while receiving CAN packet %d of DuvodaRezir acquisition",
                  error.code);
    return text;
}

PhaseAcquisitionScript::PhaseAcquisitionScript(const PhaseCalibration& calibration) {
    recording_.calibration = calibration;
    recording_.samples.reserve(kPhaseSampleCount);
}

std::optional<AcquisitionStep> PhaseAcquisitionScript::nextStep() const {
    if (error_ || step_ > kFinalStep) return std::nullopt;
    if (step_ == 0) return AcquisitionStep{kAcquisitionStatusOffset, phase_timeout::kAccepted};
    if (step_ == 1) return AcquisitionStep{kAcquisitionStatusOffset, phase_timeout::kSpeed};
    if (step_ < kFinalStep)
        return AcquisitionStep{kAcquisitionDataOffset, phase_timeout::kDataFrame};
    return AcquisitionStep{kAcquisitionStatusOffset, phase_timeout::kFinished};
}

bool PhaseAcquisitionScript::accept(const CanFrame::Data& data) {
    if (step_ == 0) {
        const auto status = AcquisitionStatus::decode(data);
        if (status.phase != acquisition_phase::kAccepted) {
            error_ = PSAcqException{-1};
            return false;
        }
        recording_.sensorMode = data[4];
        recording_.hallsPresent = data[5];
    } else if (step_ == 1) {
        if (AcquisitionStatus::decode(data).phase != acquisition_phase::kDataFollow) {
            error_ = PSAcqException{-2};
            return false;
        }
    } else if (step_ < kFinalStep) {
        recording_.samples.push_back(decodePhaseSample(data));
    } else {
        const auto status = AcquisitionStatus::decode(data);
        if (status.phase != acquisition_phase::kFinished) {
            error_ = PSAcqException{kPhaseSampleCount};
            return false;
        }
        recording_.finalWords = {static_cast<std::int16_t>(status.word0),
                                 static_cast<std::int16_t>(status.word1),
                                 static_cast<std::int16_t>(status.word2)};
    }
    ++step_;
    return true;
}

void PhaseAcquisitionScript::timedOut() {
    if (step_ == 0)
        error_ = PSAcqException{-1};
    else if (step_ == 1)
        error_ = PSAcqException{-2};
    else
        error_ = PSAcqException{step_ - kFirstDataStep};
}

MessageBoxRequest PhaseAcquisitionScript::failureMessage() const {
    return acquisitionErrorMessage(phaseAcquisitionErrorText(error_.value_or(PSAcqException{})));
}

}  // namespace qv
