// The windows on a dark desktop palette: every text of the main and Telemetry windows reads,
// the coloured cells included. With QV_SCREENSHOT_DIR set the pictures are saved there.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "monitor/text_ink.h"
#include "ui/status_lines.h"
#include "ui_rig.h"

namespace qv {
namespace {

using test::floats;
using test::UiRig;

QPalette darkPalette() {
    QPalette p;
    p.setColor(QPalette::Window, QColor(45, 45, 45));
    p.setColor(QPalette::WindowText, QColor(225, 225, 225));
    p.setColor(QPalette::Base, QColor(30, 30, 30));
    p.setColor(QPalette::AlternateBase, QColor(45, 45, 45));
    p.setColor(QPalette::Text, QColor(225, 225, 225));
    p.setColor(QPalette::Button, QColor(53, 53, 53));
    p.setColor(QPalette::ButtonText, QColor(225, 225, 225));
    p.setColor(QPalette::Highlight, QColor(42, 130, 218));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Light, QColor(80, 80, 80));
    p.setColor(QPalette::Midlight, QColor(65, 65, 65));
    p.setColor(QPalette::Mid, QColor(90, 90, 90));
    p.setColor(QPalette::Dark, QColor(25, 25, 25));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(140, 140, 140));
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(140, 140, 140));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(140, 140, 140));
    return p;
}

// The application's palette for the scope of a test.
struct PaletteScope {
    explicit PaletteScope(const QPalette& p) : old(QApplication::palette()) {
        QApplication::setPalette(p);
    }
    ~PaletteScope() { QApplication::setPalette(old); }
    QPalette old;
};

double contrast(const QColor& a, const QColor& b) {
    auto rgb = [](const QColor& c) {
        return Rgb{static_cast<std::uint8_t>(c.red()), static_cast<std::uint8_t>(c.green()),
                   static_cast<std::uint8_t>(c.blue())};
    };
    return contrastRatio(rgb(a), rgb(b));
}

void save(QWidget& w, const char* name) {
    if (const char* dir = std::getenv("QV_SCREENSHOT_DIR"))
        w.grab().save(QString("%1/%2").arg(dir, name));
}

TEST(DarkPalette, EveryTextOfTheMainAndTelemetryWindowsReads) {
    PaletteScope dark(darkPalette());
    UiRig rig;
    rig.window->tickTimer().stop();
    rig.announce(0x400, "KX01", 123456);
    rig.logic().onTimer();
    CanFrame::Data status{0x05, 0x00, 0x21, 0x02, 0x01, 0x00, 0x00, 0x03};  // errors, counts
    rig.frame(0x401, status);
    rig.frame(0x402, floats(96.3f, 7.4f));
    rig.frame(0x403, floats(1000.0f, 26.2f));
    rig.frame(0x40B, floats(33.9f, 31.9f));
    rig.window->action(kCmdTelemetry)->trigger();
    rig.logic().onTimer();
    QApplication::processEvents();

    ui::CTelem* telem = rig.side->telemetryWindow();
    int checked = 0;
    for (QWidget* window : {static_cast<QWidget*>(rig.window), static_cast<QWidget*>(telem)})
        for (ui::CColourStatic* c : window->findChildren<ui::CColourStatic*>()) {
            if (!c->isVisible() || c->text().isEmpty()) continue;
            const double needed = c->isEnabled() && !c->stale() ? 4.5 : 3.0;
            EXPECT_GE(contrast(c->ink(), c->paintedBackground()), needed)
                << c->objectName().toStdString() << " " << c->text().toStdString();
            ++checked;
        }
    EXPECT_GT(checked, 40);
    EXPECT_EQ(rig.cell(1004)->background(), kErrorRed);
    EXPECT_EQ(rig.cell(1178)->background(), kWarningOrange);
    EXPECT_EQ(rig.cell(1004)->ink(), QColor(Qt::black));
    EXPECT_EQ(rig.cell(1000)->ink(), QColor(225, 225, 225));
    save(*rig.window, "main-window-dark.png");
    save(*telem, "telemetry-window-dark.png");
}

// The picture of a device that fell silent: greyed values, the status bar names it.
TEST(DarkPalette, StaleValuesLookStale) {
    UiRig rig;
    rig.window->tickTimer().stop();
    rig.announce(0x400, "KX01", 123456);
    rig.logic().onTimer();
    rig.frame(0x402, floats(96.3f, 7.4f));
    rig.logic().onTimer();
    EXPECT_FALSE(rig.cell(1000)->stale());
    for (int t = 0; t < Monitor::kSilentTicks; ++t) rig.logic().onTimer();
    QApplication::processEvents();
    EXPECT_TRUE(rig.cell(1000)->stale());
    EXPECT_EQ(rig.cell(1000)->text(), "96.30 V");
    EXPECT_TRUE(rig.window->statusLines()->line(2).startsWith("No frames from the bridge since"));
    save(*rig.window, "main-window-stale.png");
}

}  // namespace
}  // namespace qv
