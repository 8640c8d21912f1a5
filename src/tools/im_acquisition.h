#pragma once
// The induction-motor acquisition (tool 3). A first status gives the count N (word 0, unsigned),
// the sampling interval S (word 1, signed, in 100 us units) and the acquisition mode (word 2);
// N data frames of two single floats follow:
//   mode 0, frequency sweep: bytes 0-3 the current amplitude (A), bytes 4-7 the voltage
//           amplitude (V) of one excitation frequency, in sweep order;
//   mode 1, step response: two consecutive current samples (A), the first the zero reference;
//   any other mode: the frames are read and nothing is kept.
#include <optional>
#include <string>
#include <vector>

#include "tools/tool_exchange.h"

namespace qv {

namespace im_timeout {
inline constexpr int kStatus = 120000;
inline constexpr int kFirstDataFrame = 120000;
inline constexpr int kDataFrame = 500;
}  // namespace im_timeout

namespace im_mode {
inline constexpr int kSweep = 0;
inline constexpr int kStep = 1;
}  // namespace im_mode

struct ImRecording {
    int count = 0;             // N, data frames
    int samplingInterval = 0;  // S (step response)
    int mode = 0;
    std::vector<double> amplitudeV;  // mV, frequency sweep
    std::vector<double> currentA;    // A: one per sweep point, or two per step frame
};

// Why an acquisition failed: stage 0 no (usable) status, 1 data frame `index` missing, 2 a step
// response whose sampling interval is not above 0 (refused at the status).
struct ImAcqException {
    int stage = 0;
    int index = 0;
};

namespace im_stage {
inline constexpr int kStatus = 0;
inline constexpr int kData = 1;
inline constexpr int kInterval = 2;
}  // namespace im_stage

std::string imAcquisitionErrorText(const ImAcqException& error, const ImRecording& recording);

class ImAcquisitionScript : public AcquisitionScript {
  public:
    std::optional<AcquisitionStep> nextStep() const override;
    bool accept(const CanFrame::Data& data) override;
    void timedOut() override;
    MessageBoxRequest failureMessage() const override;

    const ImRecording& recording() const { return recording_; }
    const std::optional<ImAcqException>& error() const { return error_; }
    int framesReceived() const { return frames_; }

  private:
    bool statusTaken_ = false;
    int frames_ = 0;
    ImRecording recording_;
    std::optional<ImAcqException> error_;
};

}  // namespace qv
