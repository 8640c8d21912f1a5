#pragma once
// The permanent-magnet parameter acquisition (tool 2): a DC test of N1 applied voltages with
// the currents they drive, then N2 points of a current decaying through the winding, two points
// to a data frame, as four signed 16-bit words.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "config/config_records.h"
#include "tools/tool_exchange.h"

namespace qv {

// Points of each test the tool takes at most.
inline constexpr int kPmMaxPoints = 30;

namespace pm_timeout {
inline constexpr int kStatus = 2000;
inline constexpr int kDataFrame = 500;
}  // namespace pm_timeout

using PmFrame = std::array<std::int16_t, 4>;  // bytes 0-1, 2-3, 4-5, 6-7

struct PmRecording {
    double baseVoltage = 0;
    double baseCurrent = 0;
    int n1 = 0;  // V-I points
    int n2 = 0;  // decay points
    int s = 0;   // decay time base: seconds = raw time / s
    // The resistance frames, then the decay frames.
    std::vector<PmFrame> frames;
};

// Frames that carry `points` points (two to a frame).
constexpr int pmFrameCount(int points) {
    return points > 0 ? (points + 1) / 2 : 0;
}

// Why an acquisition failed: stage 0 status, 1 resistance data, 2 inductance data, with the
// index of the first point the missing frame would carry; stage 3 counts outside 1 to 30,
// stage 4 a time base that is not above 0 (both refused at the status).
struct AcqException {
    int stage = 0;
    int index = 0;
};

namespace pm_stage {
inline constexpr int kStatus = 0;
inline constexpr int kResistance = 1;
inline constexpr int kInductance = 2;
inline constexpr int kCounts = 3;
inline constexpr int kTimeBase = 4;
}  // namespace pm_stage

std::string pmAcquisitionErrorText(const AcqException& error, const PmRecording& recording);

// The counts and time base of a status (or a file) that the tool can take; nothing when they
// fit, else the stage that refuses them.
std::optional<int> pmCountsRefusal(int n1, int n2, int s);

class PmAcquisitionScript : public AcquisitionScript {
  public:
    PmAcquisitionScript(double baseVoltage, double baseCurrent);

    std::optional<AcquisitionStep> nextStep() const override;
    bool accept(const CanFrame::Data& data) override;
    void timedOut() override;
    MessageBoxRequest failureMessage() const override;

    const PmRecording& recording() const { return recording_; }
    const std::optional<AcqException>& error() const { return error_; }

  private:
    AcqException missing() const;

    bool statusTaken_ = false;
    int framesWanted_ = 0;
    PmRecording recording_;
    std::optional<AcqException> error_;
};

}  // namespace qv
