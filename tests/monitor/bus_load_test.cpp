// The bus-load figure of the status line.
#include "monitor/bus_load.h"

#include <gtest/gtest.h>

#include "config/config_data_bank.h"
#include "monitor/monitor.h"

namespace qv {
namespace {

// Five ticks of `perTick` frames each; the figure of the fifth.
std::optional<BusLoadFigure> second(BusLoad& load, std::uint64_t perTick, std::uint32_t rate,
                                    bool selected = true) {
    std::optional<BusLoadFigure> f;
    for (int i = 0; i < 5; ++i) f = load.tick(perTick, true, rate, selected);
    return f;
}

TEST(BusLoad, FiguresAndColoursAt500kbit) {
    BusLoad load;
    auto f = second(load, 200, 500000);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->text, "CAN BUS loading is 24.00%");
    EXPECT_EQ(f->colour, kLoadGreen);
    f = second(load, 400, 500000);
    EXPECT_EQ(f->text, "CAN BUS loading is 48.00%");
    EXPECT_EQ(f->colour, kLoadYellow);
    f = second(load, 500, 500000);
    EXPECT_EQ(f->text, "CAN BUS loading is 60.00%");
    EXPECT_EQ(f->colour, kLoadRed);
    EXPECT_EQ(BusLoad::colourFor(29.99), kLoadGreen);
    EXPECT_EQ(BusLoad::colourFor(30.0), kLoadYellow);
    EXPECT_EQ(BusLoad::colourFor(0.0), kBlack);
}

TEST(BusLoad, WindowIsTheLastFiveTicks) {
    BusLoad load;
    // 1000 frames in one tick, then quiet: counted in exactly one figure.
    EXPECT_FALSE(load.tick(1000, true, 500000, true));
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(load.tick(0, true, 500000, true));
    auto f = load.tick(0, true, 500000, true);
    ASSERT_TRUE(f);
    EXPECT_DOUBLE_EQ(f->percent, 24.0);
    f = second(load, 0, 500000, false);
    EXPECT_EQ(f->text, "Not Connected...");
    EXPECT_EQ(f->colour, kBlack);
    f = second(load, 0, 500000, true);
    EXPECT_EQ(f->text, "CAN BUS loading is 0.00%");
}

TEST(BusLoad, NoFigureUntilTheBridgeAndAUsableBitRateAreKnown) {
    BusLoad load;
    for (int i = 0; i < 7; ++i) EXPECT_FALSE(load.tick(100, false, 500000, true));
    // A bit rate of 0 is no rate: no figure, and no division by it.
    for (int i = 0; i < 7; ++i) EXPECT_FALSE(load.tick(100, true, 0, true));
    // Tried again on every tick once heard with a rate: 500 frames in the last five ticks.
    const auto f = load.tick(100, true, 500000, true);
    ASSERT_TRUE(f);
    EXPECT_DOUBLE_EQ(f->percent, 12.0);
}

TEST(BusLoad, MonitorKeepsTheStatusLineUntilAFigureComes) {
    CConfigDataBank store;
    Monitor m(store);
    m.refreshPanel();
    for (int i = 0; i < 10; ++i) m.updateBusLoad(300, true, 0);
    m.refreshPanel();
    EXPECT_EQ(m.panel().cell(kStatusLineCell).text, "Not Connected...");
    EXPECT_EQ(m.panel().cell(kStatusBoxCell).background, kBlack);
    // The first tick with a rate gives the figure of the last five ticks at once.
    m.updateBusLoad(1000, true, 1000000);
    const PanelChanges& c = m.refreshPanel();
    EXPECT_EQ(c.cells, (std::vector<int>{kStatusLineCell, kStatusBoxCell}));
    EXPECT_EQ(m.panel().cell(kStatusLineCell).text, "CAN BUS loading is 26.40%");
    EXPECT_EQ(m.panel().cell(kStatusBoxCell).background, kLoadGreen);
    for (int i = 0; i < 5; ++i) m.updateBusLoad(1000, true, 1000000);
    m.refreshPanel();
    EXPECT_EQ(m.panel().cell(kStatusLineCell).text, "CAN BUS loading is 60.00%");
    EXPECT_EQ(m.panel().cell(kStatusBoxCell).background, kLoadRed);
    EXPECT_EQ(m.panel().cell(kStatusBoxCell).textColour, kLoadRed);
}

}  // namespace
}  // namespace qv
