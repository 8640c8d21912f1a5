#include "monitor/text_ink.h"

#include <algorithm>
#include <cmath>

namespace qv {

namespace {

double linear(std::uint8_t channel) {
    const double c = channel / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

}  // namespace

double relativeLuminance(Rgb c) {
    return 0.2126 * linear(c.r) + 0.7152 * linear(c.g) + 0.0722 * linear(c.b);
}

double contrastRatio(Rgb a, Rgb b) {
    const double la = relativeLuminance(a);
    const double lb = relativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

bool darkInkOn(Rgb background) {
    return contrastRatio(background, Rgb{0, 0, 0}) >= contrastRatio(background, Rgb{255, 255, 255});
}

}  // namespace qv
