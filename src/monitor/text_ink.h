#pragma once
// Which ink keeps a text legible on a background: the windows follow the desktop's palette
// (light or dark), while some cells carry colours of their own (error red, warning orange).
#include <cstdint>

namespace qv {

struct Rgb {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
};

// Relative luminance of an sRGB colour, 0 (black) to 1 (white).
double relativeLuminance(Rgb colour);
// Contrast ratio of two colours, 1 to 21 (4.5 and above reads well).
double contrastRatio(Rgb a, Rgb b);
// True when black text reads better than white text on `background`.
bool darkInkOn(Rgb background);

}  // namespace qv
