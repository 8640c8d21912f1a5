#pragma once
// The analysis of a permanent-magnet acquisition: a straight line through the DC V-I points
// gives the phase resistance, an exponential through the decay gives the time constant and with
// it the inductance. A result is usable only when both are finite and positive; only a usable
// result is ever written into a motor record.
#include <span>
#include <string>
#include <vector>

#include "config/config_records.h"
#include "tools/pm_acquisition.h"

namespace qv {

// Physical values, two per frame (an odd count leaves one extra point at the end).
struct PmSamples {
    std::vector<double> voltage;       // V
    std::vector<double> current;       // A
    std::vector<double> decayTime;     // s
    std::vector<double> decayCurrent;  // A
};

PmSamples pmSamples(const PmRecording& recording);

struct LineFit {
    double m = 0;  // slope
    double c = 0;  // intercept
};

struct DecayFit {
    double tau = 0;  // time constant, s
    double io = 0;   // initial current, A
};

// Ordinary least squares y = m x + c over the points given (the shorter of the two spans).
LineFit fitLine(std::span<const double> x, std::span<const double> y);
// i = Io exp(-t / tau) by least squares on ln i, each point weighted by its current. Currents
// that are not above 0 give a result that is not finite.
DecayFit fitDecay(std::span<const double> t, std::span<const double> i);

struct PmReport {
    PmSamples samples;
    int n1 = 0;
    int n2 = 0;
    LineFit line;
    DecayFit decay;
    double resistance = 0;  // ohm, phase to neutral
    double inductance = 0;  // henry
    std::string log;        // the text log, CR LF line ends
    // "50.0mR" and "100.0uH", or "not usable".
    std::string resistanceText;
    std::string inductanceText;
    bool usable = false;
    // Why the result is not usable; empty when it is.
    std::string problem;
};

PmReport analysePm(const PmRecording& recording);

// Writes the line resistance and inductance; false, with nothing written, unless the report is
// usable.
bool writePmResult(const PmReport& report, MotorConfig& motor);

}  // namespace qv
