#include "ui/colour_static.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>

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

}  // namespace
}  // namespace qv
