// Legible text on any background: the contrast ratio and the ink it chooses.
#include "monitor/text_ink.h"

#include <gtest/gtest.h>

#include "monitor/monitor_types.h"

namespace qv {
namespace {

Rgb rgbOf(ColorRef c) {
    return {redOf(c), greenOf(c), blueOf(c)};
}

TEST(TextInk, ContrastRatioAndTheInkChosen) {
    EXPECT_NEAR(contrastRatio({0, 0, 0}, {255, 255, 255}), 21.0, 1e-9);
    EXPECT_NEAR(contrastRatio({255, 255, 255}, {0, 0, 0}), 21.0, 1e-9);
    EXPECT_NEAR(contrastRatio({118, 118, 118}, {255, 255, 255}), 4.54, 0.01);
    EXPECT_NEAR(contrastRatio({1, 2, 3}, {1, 2, 3}), 1.0, 1e-12);
    // The cells' own colours take black; a dark palette's button colour and pure blue white.
    for (ColorRef c :
         {kErrorRed, kWarningOrange, kRunGreen, kWhite, kLoadGreen, kLoadYellow, kLoadRed})
        EXPECT_TRUE(darkInkOn(rgbOf(c))) << std::hex << c;
    for (Rgb c : {Rgb{53, 53, 53}, Rgb{0, 0, 255}, Rgb{0, 0, 0}, Rgb{100, 60, 60}})
        EXPECT_FALSE(darkInkOn(c)) << int(c.r) << "," << int(c.g) << "," << int(c.b);
    // Whichever it picks reads at least as well as the other, on every grey.
    for (int v = 0; v < 256; ++v) {
        const Rgb grey{static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v),
                       static_cast<std::uint8_t>(v)};
        const double black = contrastRatio(grey, {0, 0, 0});
        const double white = contrastRatio(grey, {255, 255, 255});
        EXPECT_GE(darkInkOn(grey) ? black : white, std::max(black, white) - 1e-12) << v;
    }
}

}  // namespace
}  // namespace qv
