// The error-log windows: the review count's validation and the inert action buttons.
#include "drive/error_log.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "scripted_ui.h"

namespace qv {
namespace {

constexpr const char* kNotANumber = "Please enter a positive integer.";
constexpr const char* kOutOfRange = "Please enter an integer between 0 and 16896.";

TEST(ErrorLogReview, CountIsAnUnsignedNumberUpTo16896) {
    struct Case {
        std::string text;
        const char* prompt;  // null: accepted
        std::uint32_t count;
    };
    const Case cases[] = {
        {"16896", nullptr, 16896},      {"0", nullptr, 0},
        {" 42 ", nullptr, 42},          {"16897", kOutOfRange, 0},
        {"4294967296", kOutOfRange, 0}, {"99999999999999999999999", kOutOfRange, 0},
        {"abc", kNotANumber, 0},        {"-1", kNotANumber, 0},
        {"", kNotANumber, 0},           {"12a", kNotANumber, 0},
        {"+5", kNotANumber, 0},         {"1e3", kNotANumber, 0},
    };
    for (const Case& c : cases) {
        test::ScriptedUi ui;
        CelogRead window(ui, "qvConfig");
        EXPECT_EQ(window.countText(), "0");
        window.setCountText(c.text);
        EXPECT_EQ(window.ok(), c.prompt == nullptr) << c.text;
        EXPECT_EQ(window.count(), c.count) << c.text;
        EXPECT_EQ(window.focusOnCount(), c.prompt != nullptr) << c.text;
        ASSERT_EQ(ui.boxes.size(), c.prompt ? 1u : 0u) << c.text;
        if (c.prompt) {
            EXPECT_EQ(ui.boxes[0].text, c.prompt);
            EXPECT_EQ(ui.boxes[0].caption, "qvConfig");
            // A good value afterwards closes and clears the focus request.
            window.setCountText("7");
            EXPECT_TRUE(window.ok());
            EXPECT_EQ(window.count(), 7u);
            EXPECT_FALSE(window.focusOnCount());
        }
    }
}

TEST(ErrorLogWindows, GoAndEraseChangeNothing) {
    test::ScriptedUi ui;
    CelogRead review(ui, "qvConfig");
    review.setCountText("12");
    review.go();
    EXPECT_EQ(review.countText(), "12");
    EXPECT_EQ(review.count(), 0u);
    CelogErase erase;
    erase.erase();
    EXPECT_FALSE(erase.finishedVisible());
    EXPECT_EQ(erase.progress(), CelogErase::kProgressMinimum);
    EXPECT_TRUE(ui.boxes.empty());
}

TEST(ErrorLogWindows, SeventeenDistinctEventNames) {
    EXPECT_EQ(kErrorLogEventNames.front(), "Hardware Phase A Over Current");
    EXPECT_EQ(kErrorLogEventNames[7], "Bad Hall Sequence (Volt-Curr)");
    EXPECT_EQ(kErrorLogEventNames[10], "Bad Config Private Struct CheckSum");
    EXPECT_EQ(kErrorLogEventNames[13], "Bad Config Private Struct Size");
    EXPECT_EQ(kErrorLogEventNames.back(), "15V Under Voltage");
    const std::set<std::string_view> names(kErrorLogEventNames.begin(), kErrorLogEventNames.end());
    EXPECT_EQ(names.size(), 17u);
}

}  // namespace
}  // namespace qv
