#include "tools/im_acquisition.h"

#include <cstdint>
#include <cstdio>

namespace qv {

std::string imAcquisitionErrorText(const ImAcqException& error, const ImRecording& recording) {
    char text[160];
    switch (error.stage) {
        case im_stage::kStatus:
            return "No reply from the controller in response to data acquisition request";
        case im_stage::kData:
            std::snprintf(text, sizeof text,
                          "Error occurred while receiving CAN packet %d of acquisition",
                          error.index);
            return text;
        default:
            std::snprintf(text, sizeof text,
                          "The controller reported a step response sampled every %d x 100 us; "
                          "the interval must be above 0",
                          recording.samplingInterval);
            return text;
    }
}

std::optional<AcquisitionStep> ImAcquisitionScript::nextStep() const {
    if (error_) return std::nullopt;
    if (!statusTaken_) return AcquisitionStep{kAcquisitionStatusOffset, im_timeout::kStatus};
    if (frames_ < recording_.count)
        return AcquisitionStep{kAcquisitionDataOffset,
                               frames_ == 0 ? im_timeout::kFirstDataFrame : im_timeout::kDataFrame};
    return std::nullopt;
}

bool ImAcquisitionScript::accept(const CanFrame::Data& data) {
    if (!statusTaken_) {
        const auto status = AcquisitionStatus::decode(data);
        recording_.count = status.word0;
        recording_.samplingInterval = static_cast<std::int16_t>(status.word1);
        recording_.mode = status.word2;
        if ((status.phase != acquisition_phase::kDataFollow &&
             status.phase != acquisition_phase::kFinished) ||
            recording_.count == 0) {
            error_ = ImAcqException{im_stage::kStatus, 0};
            return false;
        }
        if (recording_.mode == im_mode::kStep && recording_.samplingInterval < 1) {
            error_ = ImAcqException{im_stage::kInterval, 0};
            return false;
        }
        statusTaken_ = true;
        const auto n = static_cast<std::size_t>(recording_.count);
        if (recording_.mode == im_mode::kSweep) {
            recording_.amplitudeV.reserve(n);
            recording_.currentA.reserve(n);
        } else if (recording_.mode == im_mode::kStep) {
            recording_.currentA.reserve(2 * n);
        }
        return true;
    }
    const auto values = dataFloats(data);
    if (recording_.mode == im_mode::kSweep) {
        recording_.amplitudeV.push_back(static_cast<double>(values[1]) * 1000);
        recording_.currentA.push_back(values[0]);
    } else if (recording_.mode == im_mode::kStep) {
        recording_.currentA.push_back(values[0]);
        recording_.currentA.push_back(values[1]);
    }
    ++frames_;
    return true;
}

void ImAcquisitionScript::timedOut() {
    error_ = statusTaken_ ? ImAcqException{im_stage::kData, frames_}
                          : ImAcqException{im_stage::kStatus, 0};
}

MessageBoxRequest ImAcquisitionScript::failureMessage() const {
    return acquisitionErrorMessage(
        imAcquisitionErrorText(error_.value_or(ImAcqException{}), recording_));
}

}  // namespace qv
