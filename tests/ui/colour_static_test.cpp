#include "ui/colour_static.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>

#include "monitor/text_ink.h"

namespace qv {
namespace {

TEST(CColourStatic, RepaintsOnlyForNewTextOrColoursAndClicksOnlyWhenEnabled) {
    ui::CColourStatic cell;
    cell.setFixedSize(80, 20);
    EXPECT_EQ(cell.background(), kButtonFace);
    EXPECT_EQ(cell.toQColor(kButtonFace), cell.palette().color(QPalette::Button));
    EXPECT_EQ(cell.toQColor(kErrorRed), QColor(230, 100, 100));
    const int start = cell.repaintRequests();
    cell.setText("12.00 V");
    cell.setText("12.00 V");
    cell.setColours(kWarningOrange, kBlack);
    cell.setColours(kWarningOrange, kBlack);
    EXPECT_EQ(cell.repaintRequests(), start + 2);
    cell.setText("a text far too long for eighty pixels of cell");
    EXPECT_EQ(cell.size(), QSize(80, 20));

    QSignalSpy clicks(&cell, &ui::CColourStatic::clicked);
    QTest::mouseClick(&cell, Qt::LeftButton);
    cell.setEnabled(false);
    QTest::mouseClick(&cell, Qt::LeftButton);
    EXPECT_EQ(clicks.count(), 1);
}

double contrast(const QColor& a, const QColor& b) {
    auto rgb = [](const QColor& c) {
        return Rgb{static_cast<std::uint8_t>(c.red()), static_cast<std::uint8_t>(c.green()),
                   static_cast<std::uint8_t>(c.blue())};
    };
    return contrastRatio(rgb(a), rgb(b));
}

// On a dark palette the model's black text turns light on the palette's colour, stays dark on
// the cells' own light colours; a colour box keeps its one colour; stale is greyed.
TEST(CColourStatic, InkFollowsTheBackground) {
    ui::CColourStatic cell;
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(42, 42, 42));
    dark.setColor(QPalette::WindowText, QColor(230, 230, 230));
    dark.setColor(QPalette::Button, QColor(53, 53, 53));
    dark.setColor(QPalette::ButtonText, QColor(240, 240, 240));
    dark.setColor(QPalette::Disabled, QPalette::WindowText, QColor(150, 150, 150));
    for (const QPalette& palette : {QPalette(QColor(239, 239, 239)), dark}) {
        cell.setPalette(palette);
        for (ColorRef background : {kButtonFace, kErrorRed, kWarningOrange, kRunGreen, kWhite}) {
            cell.setColours(background, kBlack);
            EXPECT_GE(contrast(cell.ink(), cell.paintedBackground()), 4.5) << background;
        }
    }
    cell.setColours(kButtonFace, kBlack);
    EXPECT_EQ(cell.ink(), QColor(240, 240, 240));
    cell.setColours(kErrorRed, kBlack);
    EXPECT_EQ(cell.ink(), QColor(Qt::black));
    cell.setColours(kLoadGreen, kLoadGreen);
    EXPECT_EQ(cell.ink(), cell.paintedBackground());
    cell.setStale(true);
    EXPECT_EQ(cell.paintedBackground(), QColor(42, 42, 42));
    EXPECT_EQ(cell.ink(), QColor(150, 150, 150));
}

}  // namespace
}  // namespace qv
