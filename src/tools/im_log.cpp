#include "tools/im_log.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace qv {

std::string formatFixed(double value, int precision, int width) {
    std::string text;
    if (std::isnan(value)) {
        text = std::signbit(value) ? "-nan" : "nan";
    } else if (std::isinf(value)) {
        text = value < 0 ? "-inf" : "inf";
    } else {
        char buffer[400];  // the largest double has 309 digits before the point
        const auto r = std::to_chars(buffer, buffer + sizeof buffer, value,
                                     std::chars_format::fixed, precision);
        text.assign(buffer, r.ptr);
    }
    if (static_cast<int>(text.size()) < width) text.insert(0, width - text.size(), ' ');
    return text;
}

std::string sweepLogText(std::span<const double> amplitudeV, std::span<const double> currentA,
                         const ImParameters& p) {
    std::string log;
    const std::size_t n = std::min(amplitudeV.size(), currentA.size());
    for (std::size_t k = 0; k < n; ++k)
        log +=
            formatFixed(amplitudeV[k], 3, 3) + ", " + formatFixed(currentA[k], 3, 3) + "; ...\r\n";
    log += "\r\nRs = " + formatFixed(p[0], 6) + " mR \r\nRr = " + formatFixed(p[1], 6) +
           " mR \r\nLls = " + formatFixed(p[2], 6) + " mH \r\nLm = " + formatFixed(p[3], 6) +
           " mH \r\nIb = " + formatFixed(p[4], 6) + " A \r\n";
    return log;
}

std::string stepLogText(std::span<const double> currentA, const ImParameters& p) {
    std::string log = "Rr/Rs = " + formatFixed(p[0], 6) + " \r\nLm/Rs = " + formatFixed(p[1], 6) +
                      " H/R \r\nLls/Rs = " + formatFixed(p[2], 6) +
                      " H/R \r\nscale = " + formatFixed(p[3], 6) +
                      " A \r\ntime offset = " + formatFixed(p[4], 6) +
                      " s \r\n\r\n Lm/Rr = " + formatFixed(p[1] / p[0], 6) + " s \r\n\r\n";
    for (double sample : currentA) log += formatFixed(sample, 3, 3) + "; ...\r\n";
    return log;
}

}  // namespace qv
