// The plot and bus monitor windows over their recordings: the trace model's one insertion per
// tick (checked by Qt's model tester while the ring lets frames go), the tail followed only at
// the end, the plot's CSV export and keys, the places and sizes both windows keep.
#include <gtest/gtest.h>

#include <qcustomplot.h>
#include <QAbstractItemModelTester>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QTableView>
#include <QTest>
#include <cstring>
#include <fstream>
#include <iterator>

#include "config/config_data_bank.h"
#include "config_rig.h"
#include "link/platform/settings_store.h"
#include "monitor/monitor.h"
#include "ui/bus_monitor_window.h"
#include "ui/fixed_pitch_delegate.h"
#include "ui/monitor_windows.h"
#include "ui/plot_window.h"
#include "ui/tick_window.h"
#include "ui_rig.h"

namespace qv {
namespace {

CanFrame frame(std::uint32_t id, std::uint8_t b) {
    return CanFrame(id, false, 8, CanFrame::Data{b, 1, 2, 3, 4, 5, 6, 7});
}

TEST(TraceModel, OneInsertionPerTickAndFrontRemovalsAsTheRingLetsGo) {
    BusMonitorModel core(100);
    ui::TraceItemModel model(core);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    model.apply(core.takeChanges());
    std::int64_t t = 0;
    for (int tick = 0; tick < 30; ++tick) {
        for (int i = 0; i < 17; ++i)
            core.add(t += 1000,
                     frame(0x100 + static_cast<std::uint32_t>(i), static_cast<std::uint8_t>(tick)));
        model.apply(core.takeChanges());
        ASSERT_EQ(model.rowCount(), static_cast<int>(core.traceRows()));
    }
    EXPECT_EQ(model.rowCount(), 100);
    EXPECT_EQ(model.insertions(), 30);
    // The last row is the newest frame.
    EXPECT_EQ(model.data(model.index(99, kTraceData), Qt::DisplayRole).toString(),
              "1D 01 02 03 04 05 06 07");
}

// The trace's glyph-run delegate paints what the standard delegate paints: texts that fit and
// texts cut at the right end, in columns aligned left and right, at device pixel ratios 1 and
// 2; cells it does not take (a selected row, a character beyond ASCII) go to the standard one.
TEST(FixedPitchDelegate, PaintsTheStandardDelegatesPixels) {
    QStandardItemModel model(6, 4);
    const QString texts[] = {"00012.345678",
                             "18FF00A1 x",
                             "8",
                             "7F 00 01 02 03 04 05 06",
                             "Bus Voltage and Current: 48.5 V 1.25 A",
                             "",
                             "  leading and trailing  ",
                             QString::fromUtf16(u"Temperatures 25 \u00B0C")};
    for (int r = 0; r < model.rowCount(); ++r)
        for (int c = 0; c < model.columnCount(); ++c) {
            auto* item = new QStandardItem(texts[(r * 3 + c) % std::size(texts)]);
            if (c % 2 == 0) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            model.setItem(r, c, item);
        }
    QTableView view;
    view.setModel(&model);
    view.setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    view.setShowGrid(false);
    view.setWordWrap(false);
    view.setAlternatingRowColors(true);
    view.setSelectionBehavior(QAbstractItemView::SelectRows);
    for (int c = 0; c < 4; ++c) view.setColumnWidth(c, 40 + 47 * c);
    view.resize(520, 260);
    view.show();
    view.selectRow(4);
    auto* fast = new ui::FixedPitchDelegate(&view);
    auto* standard = new QStyledItemDelegate(&view);
    for (const qreal ratio : {1.0, 2.0}) {
        auto picture = [&](QAbstractItemDelegate* delegate) {
            view.setItemDelegate(delegate);
            QImage image(view.viewport()->size() * ratio, QImage::Format_ARGB32_Premultiplied);
            image.setDevicePixelRatio(ratio);
            image.fill(Qt::white);
            view.viewport()->render(&image);
            return image;
        };
        const int before = fast->fastCells();
        const QImage mine = picture(fast);
        EXPECT_EQ(fast->fastCells() - before, 18);  // all but the selected row and the two "°C"
        EXPECT_TRUE(mine == picture(standard)) << "at device pixel ratio " << ratio;
    }
}

// A window whose work is put off after the tick: ticks that come while it is pending give one
// piece of work, run once the delay has passed, and timed.
TEST(QtTickWindow, PutOffWorkRunsOnceAfterTheDelay) {
    QWidget widget;
    int calls = 0;
    ui::QtTickWindow tick(
        &widget, [&calls] { ++calls; }, 20);
    tick.onTick();
    tick.onTick();
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(QTest::qWaitFor([&calls] { return calls > 0; }, 2000));
    QTest::qWait(40);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(tick.cost().calls, 1);
}

TEST(BusMonitorWindow, FollowsTheTailOnlyAtTheEnd) {
    CConfigDataBank store;
    Monitor monitor(store);
    test::Answers answers;
    ui::BusMonitorWindow w(monitor, answers);
    w.resize(700, 300);
    w.show();
    std::int64_t t = 0;
    auto tick = [&](int frames) {
        for (int i = 0; i < frames; ++i) monitor.busMonitor().add(t += 1000, frame(0x123, 0));
        w.onTick();
        QCoreApplication::processEvents();
    };
    tick(500);
    QScrollBar* bar = w.traceView()->verticalScrollBar();
    EXPECT_EQ(bar->value(), bar->maximum());
    bar->setValue(10);
    tick(200);
    EXPECT_EQ(bar->value(), 10);
    // A filter that leaves nothing, then a bad one: a message, the filter stays.
    EXPECT_TRUE(w.setIdFilter("200-2FF"));
    EXPECT_EQ(w.traceView()->model()->rowCount(), 0);
    EXPECT_FALSE(w.setIdFilter("2FF-200"));
    ASSERT_EQ(answers.shown().size(), 1u);
    EXPECT_EQ(monitor.busMonitor().filter().ranges.size(), 1u);
    QTest::keyClick(&w, Qt::Key_Escape);
    EXPECT_FALSE(w.isVisible());
}

TEST(PlotWindow, ExportsTheShownSpanAndKeysNavigate) {
    CConfigDataBank store;
    Monitor monitor(store);
    monitor.setRecording(true);
    auto feed = [&](std::int64_t t, std::uint32_t id, const CanFrame::Data& d) {
        CanPacket p;
        p.frame = CanFrame(id, false, 8, d);
        p.arrivalNs = t;
        monitor.takePacket(p);
        monitor.handleFrame(id, 0, d);
    };
    CanFrame::Data ident{'K', 'X', '0', '1', 5, 0, 0, 0};
    feed(0, 0x400, ident);
    for (int i = 0; i < 50; ++i) {
        CanFrame::Data d{};
        const float v = 90.0f + static_cast<float>(i);
        std::memcpy(d.data(), &v, 4);
        feed(i * 100'000'000LL, 0x402, d);
    }
    test::Answers answers;
    ui::PlotWindow w(monitor, answers);
    w.choose(1000, true);
    w.show();
    w.onTick();
    EXPECT_EQ(w.chart()->graph(0)->data()->size(), 50);
    test::TempDir dir;
    ASSERT_TRUE(w.exportCsvTo(dir.file("a.csv")));
    std::ifstream in(dir.file("a.csv"));
    const std::string csv((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(csv.substr(0, csv.find('\n')), "Time (s),Bus Voltage (V)");
    EXPECT_NE(csv.find("\n4.900000,139\n"), std::string::npos) << csv;
    ASSERT_TRUE(w.exportPngTo(dir.file("a.png")));
    // Keys on the chart: zooming pauses the strip chart, Home goes back to the live tail.
    w.chart()->setFocus();
    const double span = w.chart()->xAxis->range().size();
    QTest::keyClick(w.chart(), Qt::Key_Plus);
    EXPECT_TRUE(w.paused());
    EXPECT_DOUBLE_EQ(w.chart()->xAxis->range().size(), span / 2);
    QTest::keyClick(w.chart(), Qt::Key_Home);
    EXPECT_FALSE(w.paused());
    QTest::keyClick(&w, Qt::Key_Escape);
    EXPECT_FALSE(w.isVisible());
}

// Each window comes back where it was and as large as it was, under its own keys; a stored
// place off the screen gives the default one. Saved at shutdown, or at once when the windows go
// before the main window.
TEST(MonitorWindows, KeepTheirPlacesAndSizes) {
    test::UiRig rig;
    const std::string settings = rig.dir.file("settings.ini");
    {
        SettingsStore s(settings);
        for (const auto& [key, value] : {std::pair{"PlotDlg(X)", "300"},
                                         {"PlotDlg(Y)", "200"},
                                         {"PlotDlg(W)", "700"},
                                         {"PlotDlg(H)", "450"},
                                         {"BusMonDlg(X)", "4294967291"},
                                         {"BusMonDlg(Y)", "20"}})
            s.setValue(kWindowPositionsKey, key, value);
        ASSERT_TRUE(s.save());
    }
    auto value = [&](const char* key) {
        return SettingsStore(settings).value(kWindowPositionsKey, key).value_or("none");
    };
    {
        ui::MonitorWindows windows(*rig.app, rig.ui);
        EXPECT_EQ(windows.plot()->pos(), QPoint(300, 200));
        EXPECT_EQ(windows.plot()->size(), QSize(700, 450));
        EXPECT_EQ(windows.busMonitor()->pos(), QPoint(270, 30));
        EXPECT_EQ(windows.busMonitor()->size(), QSize(980, 600));
        windows.busMonitor()->move(40, 50);
        windows.busMonitor()->resize(660, 380);
    }
    EXPECT_EQ(value("BusMonDlg(X)") + "," + value("BusMonDlg(Y)") + " " + value("BusMonDlg(W)") +
                  "x" + value("BusMonDlg(H)"),
              "40,50 660x380");
    ui::MonitorWindows windows(*rig.app, rig.ui);
    EXPECT_EQ(windows.busMonitor()->size(), QSize(660, 380));
    rig.logic().onCommand(kCmdPlotTelemetry);
    EXPECT_TRUE(windows.plot()->isVisible());
    windows.plot()->move(120, 90);
    windows.plot()->resize(650, 410);
    rig.logic().onCancel();
    EXPECT_EQ(value("PlotDlg(X)") + "," + value("PlotDlg(Y)") + " " + value("PlotDlg(W)") + "x" +
                  value("PlotDlg(H)"),
              "120,90 650x410");
}

}  // namespace
}  // namespace qv
