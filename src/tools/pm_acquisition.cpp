#include "tools/pm_acquisition.h"

#include <cstdio>

namespace qv {

std::string pmAcquisitionErrorText(const AcqException& error, const PmRecording& recording) {
    char text[160];
    switch (error.stage) {
        case pm_stage::kStatus:
            return "No reply from the controller in response to data acquisition request";
        case pm_stage::kResistance:
            std::snprintf(text, sizeof text,
                          "Error occurred while receiving CAN packet %d of resistance acquisition",
                          error.index);
            return text;
        case pm_stage::kInductance:
            std::snprintf(text, sizeof text,
                          "Error occurred while receiving CAN packet %d of inductance acquisition",
                          error.index);
            return text;
        case pm_stage::kCounts:
            std::snprintf(text, sizeof text,
                          "The controller reported %d resistance points and %d inductance "
                          "points; each count must be between 1 and %d",
                          recording.n1, recording.n2, kPmMaxPoints);
            return text;
        default:
            std::snprintf(text, sizeof text,
                          "The controller reported a decay time base of %d; it must be above 0",
                          recording.s);
            return text;
    }
}

std::optional<int> pmCountsRefusal(int n1, int n2, int s) {
    if (n1 < 1 || n1 > kPmMaxPoints || n2 < 1 || n2 > kPmMaxPoints) return pm_stage::kCounts;
    if (s <= 0) return pm_stage::kTimeBase;
    return std::nullopt;
}

PmAcquisitionScript::PmAcquisitionScript(double baseVoltage, double baseCurrent) {
    recording_.baseVoltage = baseVoltage;
    recording_.baseCurrent = baseCurrent;
}

std::optional<AcquisitionStep> PmAcquisitionScript::nextStep() const {
    if (error_) return std::nullopt;
    if (!statusTaken_) return AcquisitionStep{kAcquisitionStatusOffset, pm_timeout::kStatus};
    if (static_cast<int>(recording_.frames.size()) < framesWanted_)
        return AcquisitionStep{kAcquisitionDataOffset, pm_timeout::kDataFrame};
    return std::nullopt;
}

bool PmAcquisitionScript::accept(const CanFrame::Data& data) {
    const auto words = dataWords(data);
    if (!statusTaken_) {
        const auto status = AcquisitionStatus::decode(data);
        // The counts are stored before the phase is judged.
        recording_.n1 = static_cast<std::int16_t>(status.word2);
        recording_.n2 = static_cast<std::int16_t>(status.word1);
        recording_.s = static_cast<std::int16_t>(status.word0);
        if (status.phase != acquisition_phase::kDataFollow &&
            status.phase != acquisition_phase::kFinished) {
            error_ = AcqException{pm_stage::kStatus, 0};
            return false;
        }
        if (const auto refusal = pmCountsRefusal(recording_.n1, recording_.n2, recording_.s)) {
            error_ = AcqException{*refusal, 0};
            return false;
        }
        statusTaken_ = true;
        framesWanted_ = pmFrameCount(recording_.n1) + pmFrameCount(recording_.n2);
        recording_.frames.reserve(static_cast<std::size_t>(framesWanted_));
        return true;
    }
    recording_.frames.push_back(
        {static_cast<std::int16_t>(words[0]), static_cast<std::int16_t>(words[1]),
         static_cast<std::int16_t>(words[2]), static_cast<std::int16_t>(words[3])});
    return true;
}

AcqException PmAcquisitionScript::missing() const {
    if (!statusTaken_) return {pm_stage::kStatus, 0};
    const int frame = static_cast<int>(recording_.frames.size());
    const int resistanceFrames = pmFrameCount(recording_.n1);
    if (frame < resistanceFrames) return {pm_stage::kResistance, 2 * frame};
    return {pm_stage::kInductance, 2 * (frame - resistanceFrames)};
}

void PmAcquisitionScript::timedOut() {
    error_ = missing();
}

MessageBoxRequest PmAcquisitionScript::failureMessage() const {
    return acquisitionErrorMessage(
        pmAcquisitionErrorText(error_.value_or(AcqException{}), recording_));
}

}  // namespace qv
