#pragma once
// The phase and hall allocation acquisition (tool 1): 500 samples, 1 ms apart, of the three
// phase voltages, the three hall inputs and the position sensor, as the controller reports
// them, with the calibration needed to turn the raw readings into volts.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "config/config_records.h"
#include "tools/tool_exchange.h"

namespace qv {

inline constexpr int kPhaseSampleCount = 500;

// Timeouts of the acquisition, in milliseconds.
namespace phase_timeout {
inline constexpr int kAccepted = 100;
inline constexpr int kSpeed = 10000;
inline constexpr int kDataFrame = 1000;
inline constexpr int kFinished = 500;
}  // namespace phase_timeout

// The calibration of the three phase voltage inputs: V = (r / 65536 + offset) * gain * base.
struct PhaseCalibration {
    double baseVoltage = 0;
    CalibrationChannel phaseA{};  // raw reading r1
    CalibrationChannel phaseB{};  // r2
    CalibrationChannel phaseC{};  // r3
};

PhaseCalibration phaseCalibration(const PrivateConfig& config);

struct RawPhaseSample {
    std::uint16_t hall = 0;      // 0-7, bit 0 = hall 1
    std::uint16_t position = 0;  // 0-65528 in steps of 8
    std::uint16_t r1 = 0;
    std::uint16_t r2 = 0;
    std::uint16_t r3 = 0;
    friend bool operator==(const RawPhaseSample&, const RawPhaseSample&) = default;
};

// A data frame's sample: hall in bits 0-2 and position in bits 3-15 of word 0, then r1, r2, r3.
RawPhaseSample decodePhaseSample(const CanFrame::Data& data);
CanFrame::Data encodePhaseSample(const RawPhaseSample& sample);

struct PhaseRecording {
    int sensorMode = 0;    // 1 halls, 2 position sensor, 3 both
    int hallsPresent = 0;  // with sensor mode 3: whether halls are fitted too
    PhaseCalibration calibration;
    std::vector<RawPhaseSample> samples;  // kPhaseSampleCount from an acquisition
    // The final status words, signed (word0, word1, word2).
    std::array<std::int16_t, 3> finalWords{};
};

// The error record of a failed acquisition: -1 no reply, -2 no speed, else the frame number
// (0-499 a data frame, 500 the final status).
struct PSAcqException {
    int code = 0;
};

std::string phaseAcquisitionErrorText(const PSAcqException& error);

class PhaseAcquisitionScript : public AcquisitionScript {
  public:
    explicit PhaseAcquisitionScript(const PhaseCalibration& calibration);

    std::optional<AcquisitionStep> nextStep() const override;
    bool accept(const CanFrame::Data& data) override;
    void timedOut() override;
    MessageBoxRequest failureMessage() const override;

    const PhaseRecording& recording() const { return recording_; }
    const std::optional<PSAcqException>& error() const { return error_; }

  private:
    // 0 accepted, 1 speed, 2 .. 501 data frames, 502 final status, 503 complete.
    int step_ = 0;
    PhaseRecording recording_;
    std::optional<PSAcqException> error_;
};

}  // namespace qv
