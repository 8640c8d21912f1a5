#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>

#include "link/platform/settings_store.h"
#include "monitor/telem_window.h"
#include "monitor/telemetry_panel.h"
#include "ui/about_dialog.h"
#include "ui/app_icon.h"
#include "ui/caption_room.h"
#include "ui_rig.h"

namespace qv {
namespace {

using test::floats;
using test::UiRig;

QStringList titles(const QList<QAction*>& actions) {
    QStringList out;
    for (QAction* a : actions) out << (a->isSeparator() ? "-" : a->text());
    return out;
}

TEST(MainWindowUi, EveryControlHasItsIdAsObjectName) {
    UiRig rig;
    EXPECT_EQ(rig.window->windowTitle(), "Quelvane CFG");
    for (const int id : TelemetryPanel::cellIds()) EXPECT_NE(rig.cell(id), nullptr) << id;
    for (const int id : TelemetryPanel::captionIds()) EXPECT_NE(rig.cell(id), nullptr) << id;
    EXPECT_TRUE(rig.cell(1199)->isHidden());
    EXPECT_TRUE(rig.cell(1200)->isHidden());
    EXPECT_FALSE(rig.cell(1029)->isEnabled());
    EXPECT_EQ(rig.cell(1202)->text(), "Not Connected...");
    EXPECT_EQ(rig.cell(1000)->text(), "0 V");
    EXPECT_EQ(rig.cell(1018)->text(), QString::fromUtf8("0 \xC2\xB0"
                                                        "C"));

    auto* list = rig.window->findChild<QListWidget*>("id1159");
    ASSERT_NE(list, nullptr);
    EXPECT_TRUE(test::hasEqualAdvances(list->font()));
    EXPECT_EQ(list->font().pointSize(), 8);

    // The seven tool windows exist, hidden and disabled, with their captions.
    for (std::size_t i = 0; i < kToolCount; ++i) {
        const Tool t = static_cast<Tool>(i);
        auto* w = rig.window->findChild<QWidget*>(ui::toolObjectName(t));
        ASSERT_NE(w, nullptr) << toolCaption(t);
        EXPECT_FALSE(w->isVisible()) << toolCaption(t);
        EXPECT_FALSE(w->isEnabled()) << toolCaption(t);
        EXPECT_EQ(w->windowTitle(), toolCaption(t));
    }
    auto* telem = rig.side->telemetryWindow();
    for (const TelemCellInfo& c : telemCells()) {
        ASSERT_NE(telem->cell(c.id), nullptr) << c.id;
        EXPECT_EQ(telem->cell(c.id)->text(), "-");
        EXPECT_EQ(telem->cell(c.id)->objectName(), QString("id%1").arg(c.id));
    }
}

TEST(MainWindowUi, MenusAsListedWithGreyedItems) {
    UiRig rig;
    QMenuBar* bar = rig.window->menuBar();
    EXPECT_EQ(titles(bar->actions()), (QStringList{"&File", "&Tools", "&Log", "&ELog", "&Help"}));
    const auto menu = [&](int i) { return bar->actions()[i]->menu(); };
    EXPECT_EQ(titles(menu(0)->actions()),
              (QStringList{"Re-Connect to Bridge", "Load Factory File...", "-", "Exit"}));
    EXPECT_EQ(
        titles(menu(1)->actions()),
        (QStringList{"Controls", "Configuration...", "DuvodaRezir", "ParamExtract", "ImExtract",
                     "Telemetry", "Reset Controller", "Plot Telemetry...", "Bus Monitor..."}));
    EXPECT_EQ(titles(menu(2)->actions()), (QStringList{"Start...", "&Update"}));
    QMenu* update = menu(2)->actions()[1]->menu();
    EXPECT_EQ(titles(update->actions()), (QStringList{"0.2s", "1s", "10s"}));
    EXPECT_TRUE(update->actions()[0]->isChecked());
    EXPECT_FALSE(update->actions()[1]->isChecked());
    EXPECT_EQ(titles(menu(3)->actions()), (QStringList{"View Log", "Erase Log"}));
    for (QAction* a : menu(3)->actions()) EXPECT_FALSE(a->isEnabled());
    EXPECT_EQ(titles(menu(4)->actions()), (QStringList{"About"}));

    // No device: the device tools are greyed, Configuration... never.
    EXPECT_FALSE(rig.window->action(kCmdControls)->isEnabled());
    EXPECT_FALSE(rig.window->action(kCmdLogStartStop)->isEnabled());
    EXPECT_TRUE(rig.window->action(kCmdConfiguration)->isEnabled());
    rig.announce(0x400, "KX01", 7);
    rig.logic().onTimer();
    EXPECT_TRUE(rig.window->action(kCmdControls)->isEnabled());
    EXPECT_TRUE(rig.window->action(kCmdLogStartStop)->isEnabled());
    EXPECT_FALSE(rig.window->action(kCmdViewLog)->isEnabled());

    // Log > Update moves the check mark.
    rig.window->action(kCmdUpdate10s)->trigger();
    EXPECT_FALSE(update->actions()[0]->isChecked());
    EXPECT_TRUE(update->actions()[2]->isChecked());
    EXPECT_EQ(rig.logic().logPeriodTicks(), 50);
}

// The main window and the seven tool windows carry the program's icon, drawn from the SVG at
// every size from 16 to 256 pixels.
TEST(MainWindowUi, EveryWindowCarriesTheProgramIcon) {
    UiRig rig;
    const QIcon icon = ui::applicationIcon();
    for (const int size : {16, 24, 32, 48, 64, 128, 256})
        EXPECT_TRUE(icon.availableSizes().contains(QSize(size, size))) << size;
    const QImage image = icon.pixmap(QSize(48, 48)).toImage();
    ASSERT_EQ(image.size(), QSize(48, 48));
    EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0);     // the rounded tile's corner
    EXPECT_EQ(image.pixelColor(24, 4).alpha(), 255);  // the tile
    EXPECT_EQ(rig.window->windowIcon().cacheKey(), icon.cacheKey());
    for (std::size_t i = 0; i < kToolCount; ++i) {
        const Tool t = static_cast<Tool>(i);
        auto* w = rig.window->findChild<QWidget*>(ui::toolObjectName(t));
        ASSERT_NE(w, nullptr) << toolCaption(t);
        EXPECT_EQ(w->windowIcon().cacheKey(), icon.cacheKey()) << toolCaption(t);
    }
}

TEST(MainWindowUi, AboutBoxShowsTheVersion) {
    UiRig rig;
    QString caption, text;
    int width = 0;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<ui::CAboutDlg*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        caption = box->windowTitle();
        width = box->width();
        for (QLabel* l : box->findChildren<QLabel*>()) text += l->text();
        box->accept();
    });
    rig.window->action(kCmdAbout)->trigger();
    EXPECT_EQ(caption, "About Quelvane Configuration Tool");
    EXPECT_EQ(text, "qvConfig Version 1.14");
    // Wide enough for its caption, which is longer than its text.
    EXPECT_GE(width, ui::captionWidth(caption));
}

TEST(MainWindowUi, F1OpensTheAboutBoxAndTheMenuTextStays) {
    UiRig rig;
    EXPECT_EQ(rig.window->action(kCmdAbout)->text(), "About");
    bool shown = false;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<ui::CAboutDlg*>(QApplication::activeModalWidget());
        shown = box != nullptr;
        if (box) box->accept();
    });
    rig.window->activateWindow();
    QTest::keyClick(rig.window, Qt::Key_F1);
    EXPECT_TRUE(shown);
}

TEST(MainWindowUi, DevicesListedSortedAndAClickOnACellSendsARemoteRequest) {
    UiRig rig;
    rig.announce(0x400, "KX01", 111);
    rig.announce(0x080, "KX02", 222);
    rig.announce(0x200, "KX01", 333);
    rig.logic().onTimer();
    auto* list = rig.window->deviceList();
    ASSERT_EQ(list->count(), 3);
    EXPECT_EQ(list->item(0)->text(), "0x080   qvm7   0000222");
    EXPECT_EQ(list->item(2)->text(), "0x400   qvm40  0000111");
    EXPECT_EQ(list->currentRow(), 2);

    rig.frame(0x402, floats(48.5f, 1.25f));
    rig.logic().onTimer();
    EXPECT_EQ(rig.cell(1000)->text(), "48.50 V");
    EXPECT_EQ(rig.cell(1001)->text(), "1.25 A");

    QTest::mouseClick(rig.cell(1006), Qt::LeftButton);
    QTest::mouseClick(rig.cell(1209), Qt::LeftButton);  // a caption sends nothing
    const auto sent = rig.sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].identifier(), 0x403u);
    EXPECT_TRUE(sent[0].remote());

    // Choosing another row selects that device.
    list->setCurrentRow(0);
    EXPECT_EQ(rig.logic().monitor().selected().base, 0x080);
}

// A cell repaints only when its text or colour changed, and its size never follows its text.
TEST(MainWindowUi, CellsRepaintOnlyOnChangeAndKeepTheirSize) {
    UiRig rig;
    rig.announce(0x400, "KX01", 111);
    rig.logic().onTimer();
    rig.frame(0x402, floats(48.5f, 1.25f));
    rig.logic().onTimer();
    ui::CColourStatic* v = rig.cell(1000);
    const QRect before = v->geometry();
    const int paints = v->repaintRequests();
    rig.frame(0x402, floats(48.5f, 1.25f));
    rig.logic().onTimer();
    EXPECT_EQ(v->repaintRequests(), paints);
    rig.frame(0x402, floats(-12345.25f, 1.25f));
    rig.logic().onTimer();
    EXPECT_EQ(v->text(), "-12345.25 V");
    EXPECT_EQ(v->repaintRequests(), paints + 1);
    QApplication::processEvents();
    EXPECT_EQ(v->geometry(), before);

    // Errors on red, then none on the normal colour.
    rig.frame(0x401, {0x05, 0x00, 0x21, 0x02, 0, 0, 0, 0});
    rig.logic().onTimer();
    EXPECT_EQ(rig.cell(1004)->text(), "OVSPD, CFG, HWOC");
    EXPECT_EQ(rig.cell(1004)->background(), kErrorRed);
    EXPECT_EQ(rig.cell(1003)->text(), "vel, PWM");
}

TEST(MainWindowUi, EscapeClosesAndSavesEveryPositionEnterDoesNothing) {
    UiRig rig;
    rig.window->move(120, 80);
    QTest::keyClick(rig.window, Qt::Key_Return);
    QTest::keyClick(rig.window, Qt::Key_Enter);
    EXPECT_TRUE(rig.window->isVisible());
    EXPECT_FALSE(rig.logic().shutDown());
    rig.window->deviceList()->setFocus();
    QTest::keyClick(rig.window->deviceList(), Qt::Key_Escape);  // from the list too
    EXPECT_TRUE(rig.logic().shutDown());
    EXPECT_FALSE(rig.window->isVisible());
    EXPECT_FALSE(rig.app->port().isOpen());
    const SettingsStore s(rig.dir.file("settings.ini"));
    for (const char* stem : {"MainDlg", "CtrlDlg", "CfgDlg", "PhSenseDlg", "PmExtractDlg",
                             "ImExtractDlg", "TelemDlg"}) {
        EXPECT_TRUE(s.value(kWindowPositionsKey, std::string(stem) + "(X)")) << stem;
        EXPECT_TRUE(s.value(kWindowPositionsKey, std::string(stem) + "(Y)")) << stem;
    }
    EXPECT_EQ(s.value(kWindowPositionsKey, "MainDlg(X)"), "120");
    EXPECT_EQ(s.value(kWindowPositionsKey, "MainDlg(Y)"), "80");
}

TEST(MainWindowUi, StoredPositionsAreRestored) {
    test::TempDir dir;
    {
        SettingsStore s(dir.file("settings.ini"));
        s.setValue(kWindowPositionsKey, "MainDlg(X)", "64");
        s.setValue(kWindowPositionsKey, "MainDlg(Y)", "48");
        s.setValue(kWindowPositionsKey, "TelemDlg(X)", "-5");
        s.setValue(kWindowPositionsKey, "TelemDlg(Y)", "10");
        ASSERT_TRUE(s.save());
    }
    UiRig rig;
    // The rig has its own folder: build a second app on the prepared file.
    test::FakeClient::Log log;
    test::ScriptedUi ui;
    ui::QtWindowFactory factory;
    AppSettings settings;
    settings.settingsPath = dir.file("settings.ini");
    settings.logDirectory = dir.path();
    settings.clientFactory = [&log] { return std::make_unique<test::FakeClient>(log); };
    CQVDrvCtrlsApp app(settings, ui, factory);
    app.start();
    EXPECT_EQ(app.mainWindow()->position(), (ScreenPoint{64, 48}));
    EXPECT_EQ(app.tool(Tool::Telemetry)->position(), (ScreenPoint{250, 10}));
}

TEST(MainWindowUi, AltOpensTheMenuBar) {
    UiRig rig;
    rig.window->activateWindow();
    QApplication::setActiveWindow(rig.window);
    QTest::keyPress(rig.window, Qt::Key_Alt, Qt::AltModifier);
    QTest::keyRelease(rig.window, Qt::Key_Alt);
    EXPECT_TRUE(
        rig.waitUntil([&] { return rig.window->menuBar()->activeAction() != nullptr; }, 1000));
}

TEST(TelemetryWindowUi, ShownByToolsTelemetryAndClosedByEscape) {
    UiRig rig;
    rig.announce(0x400, "KX01", 111);
    rig.logic().onTimer();
    rig.window->action(kCmdTelemetry)->trigger();
    ui::CTelem* telem = rig.side->telemetryWindow();
    EXPECT_TRUE(telem->isVisible());
    EXPECT_TRUE(telem->isEnabled());
    EXPECT_TRUE(rig.logic().monitor().telemetryWindow().rawLog().isOpen());

    rig.frame(0x402, floats(324.0f, 2.0f));
    rig.frame(0x263, {0, 4, 0, 0, 0, 0, 0, 0});
    rig.logic().onTimer();
    EXPECT_EQ(telem->cell(1186)->text(), "324.00 V");
    EXPECT_EQ(telem->cell(1190)->text(), "3.00 V");
    EXPECT_EQ(telem->cell(1182)->text(), "RUN");
    EXPECT_EQ(telem->cell(1182)->background(), kRunGreen);

    QTest::keyClick(telem, Qt::Key_Escape);
    EXPECT_FALSE(telem->isVisible());
    EXPECT_FALSE(telem->isEnabled());
    EXPECT_FALSE(rig.logic().monitor().telemetryWindow().rawLog().isOpen());
    EXPECT_TRUE(rig.window->isVisible());  // the main window stays
}

}  // namespace
}  // namespace qv
