// The error-log windows: the review count's validation and the inert action buttons.
#include "drive/error_log.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "scripted_ui.h"

namespace qv {
namespace {

TEST(ErrorLogReview, CountIsAnUnsignedNumberUpTo16896) {
    struct Case {
        std::string text;
        bool accepted;
        std::uint32_t count;
    };
    const Case cases[] = {
        {"16896", true, 16896},
        {"0", true, 0},
        {" 42 ", true, 42},
        {"16897", false, 0},
        {"abc", false, 0},
        {"-1", false, 0},
        {"", false, 0},
        {"12a", false, 0},
        {"4294967296", false, 0},
        {"+5", false, 0},
        {"99999999999999999999999", false, 0},
    };
    for (const Case& c : cases) {
        test::ScriptedUi ui;
        CelogRead window(ui, "qvConfig");
        EXPECT_EQ(window.countText(), "0");
        window.setCountText(c.text);
        EXPECT_EQ(window.ok(), c.accepted) << c.text;
        EXPECT_EQ(window.count(), c.count) << c.text;
        EXPECT_EQ(window.focusOnCount(), !c.accepted) << c.text;
        EXPECT_EQ(ui.boxes.size(), c.accepted ? 0u : 1u) << c.text;
    }
}

TEST(ErrorLogReview, PromptsSayWhatIsWrong) {
    test::ScriptedUi ui;
    CelogRead window(ui, "qvConfig");
    window.setCountText("16897");
    EXPECT_FALSE(window.ok());
    window.setCountText("1e3");
    EXPECT_FALSE(window.ok());
    ASSERT_EQ(ui.boxes.size(), 2u);
    EXPECT_EQ(ui.boxes[0].text, "Please enter an integer between 0 and 16896.");
    EXPECT_EQ(ui.boxes[1].text, "Please enter a positive integer.");
    EXPECT_EQ(ui.boxes[0].caption, "qvConfig");
    EXPECT_EQ(ui.boxes[0].buttons, MessageButtons::Ok);
    // A good value afterwards closes and clears the focus request.
    window.setCountText("7");
    EXPECT_TRUE(window.ok());
    EXPECT_EQ(window.count(), 7u);
    EXPECT_FALSE(window.focusOnCount());
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
    EXPECT_EQ(kErrorLogEventNames[4], "Software Bus Over Current");
    EXPECT_EQ(kErrorLogEventNames[7], "Bad Hall Sequence (Volt-Curr)");
    EXPECT_EQ(kErrorLogEventNames[10], "Bad Config Private Struct CheckSum");
    EXPECT_EQ(kErrorLogEventNames[13], "Bad Config Private Struct Size");
    EXPECT_EQ(kErrorLogEventNames.back(), "15V Under Voltage");
    const std::set<std::string_view> names(kErrorLogEventNames.begin(), kErrorLogEventNames.end());
    EXPECT_EQ(names.size(), 17u);
}

}  // namespace
}  // namespace qv
