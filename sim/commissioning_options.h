#pragma once
// Settings of the simulated motor that the commissioning tools measure, and the faults a
// controller can put into its replies to them.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace qv::sim {

struct SimMotor {
    bool phasesReversed = false;  // wired A-C-B instead of A-B-C
    int sensorMode = 1;           // 1 halls, 2 position sensor, 3 both; reported as given
    int hallsPresent = -1;        // -1: 1 for modes 1 and 3, else 0
    std::array<int, 3> hallWiring{0, 1, 2};  // controller hall input j reads motor sensor [j]
    double hallShiftDegrees = 5;             // hall edges this far from where they belong
    int poleRatio = 4;  // electrical per sensor revolution; the sign is the direction
    double positionOffsetDegrees = 30;  // sensor reading (of 360) at rotor angle 0
    double speedHz = 12.5;              // electrical speed while sampling
    double emfVolts = 20;               // phase voltage amplitude
    double noisePercent = 0.5;          // measurement noise, percent of the signal
    double resistanceOhm = 0.05;        // phase to neutral
    double inductanceHenry = 100e-6;
    int viPoints = 20;     // N1 of the DC test
    int decayPoints = 20;  // N2 of the decay test
    // The induction motor's equivalent circuit at standstill: Rs (resistanceOhm) and the stator
    // leakage inductance Lls in series with the rotor resistance Rr parallel to the magnetising
    // inductance Lm; and how its test is run.
    double rotorResistanceOhm = 0.05;          // Rr
    double leakageInductanceHenry = 1e-3;      // Lls
    double magnetisingInductanceHenry = 0.02;  // Lm
    int imMode = 0;             // acquisition mode reported: 0 sweep, 1 step, others as given
    int imPoints = -1;          // N; -1: 40 for the sweep, 100 otherwise
    int imInterval = 200;       // S of the step response, 100 us units (signed, as reported)
    double imCurrentAmps = 20;  // current at the sweep's first point, and the step's final one

    int imFrameCount() const { return imPoints >= 0 ? imPoints : imMode == 0 ? 40 : 100; }

    bool hallsFitted() const {
        return hallsPresent >= 0 ? hallsPresent != 0 : sensorMode == 1 || sensorMode == 3;
    }
};

struct ToolFaults {
    bool silent = false;            // no reply to a request at all
    std::optional<int> omitData;    // leave out data frame K (counted from 0)
    std::optional<int> stopData;    // send no data frame from K on, nor the final status
    std::optional<int> omitStatus;  // leave out status reply K
    std::optional<int> wrongPhase;  // status reply K carries phase 0
};

struct CommissioningOptions {
    SimMotor motor;
    ToolFaults faults;
};

// Takes one option of these settings: true when `name` is one (its value is read through
// `value`). Throws UsageError for a bad value.
bool parseCommissioningOption(CommissioningOptions& options, const std::string& name,
                              const std::function<const std::string&()>& value);

}  // namespace qv::sim
