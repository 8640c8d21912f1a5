#pragma once
// The induction-motor extraction's log texts, with "\r\n" line ends. Numbers are formatted as
// printf's %f and %3.3f would in the C locale, whatever the process's locale.
#include <span>
#include <string>

#include "tools/im_models.h"

namespace qv {

// One "V, I; ..." line per point, then Rs, Rr, Lls, Lm and Ib.
std::string sweepLogText(std::span<const double> amplitudeV, std::span<const double> currentA,
                         const ImParameters& p);

// The five parameters and the rotor time constant Lm/Rr = p[1]/p[0], then one "I; ..." line per
// raw sample (the zero reference included).
std::string stepLogText(std::span<const double> currentA, const ImParameters& p);

// printf("%*.*f", width, precision, value) in the C locale.
std::string formatFixed(double value, int precision, int width = 0);

}  // namespace qv
