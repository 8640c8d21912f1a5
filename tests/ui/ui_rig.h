#pragma once
// The real windows on the offscreen platform, on a CAN port whose bridge client is a fake
// (or, for the end-to-end tests, the real client on loopback).
#include <gtest/gtest.h>

#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <QTest>
#include <functional>

#include "app/app_rig.h"
#include "app/qv_drv_ctrls_app.h"
#include "ui/colour_static.h"
#include "ui/main_window.h"
#include "ui/qt_windows.h"
#include "ui/telem_window.h"

namespace qv::test {

// A fixed-pitch font is one whose characters all advance alike, whether or not the font
// database flags the face that a family name resolves to (Noto Sans Mono is not flagged).
inline ::testing::AssertionResult hasEqualAdvances(const QFont& font) {
    const QFontMetrics fm(font);
    const int m = fm.horizontalAdvance(QLatin1Char('M'));
    for (QChar c : QStringLiteral("il.:W0 #_|"))
        if (fm.horizontalAdvance(c) != m)
            return ::testing::AssertionFailure()
                   << QFontInfo(font).family().toStdString() << ": '" << c.toLatin1()
                   << "' advances " << fm.horizontalAdvance(c) << ", 'M' " << m;
    return ::testing::AssertionSuccess();
}

class UiRig {
  public:
    // With `bridge`, the real bridge client; without, a fake one. `beforeStart` may plug
    // windows and services into the application before its windows are made.
    using Setup = std::function<void(UiRig&)>;
    explicit UiRig(std::optional<BridgeSettings> bridge = std::nullopt,
                   const Setup& beforeStart = {}) {
        AppSettings s;
        s.settingsPath = dir.file("settings.ini");
        s.logDirectory = dir.path();
        if (bridge)
            s.bridge = *bridge;
        else
            s.clientFactory = [this] { return std::make_unique<FakeClient>(client); };
        app = std::make_unique<CQVDrvCtrlsApp>(s, ui, factory);
        if (beforeStart) beforeStart(*this);
        app->start();
        side = static_cast<ui::QtMainSide*>(app->mainWindow());
        window = side->window();
        window->show();
        QApplication::processEvents();
    }
    ~UiRig() {
        app.reset();
        QApplication::processEvents();
    }

    CQVDrvCtrlsDlg& logic() { return *app->dialog(); }
    ui::CColourStatic* cell(int id) {
        return window->findChild<ui::CColourStatic*>(QString("id%1").arg(id));
    }
    void announce(std::uint32_t base, const char* product, std::uint32_t serial) {
        CanFrame::Data d{};
        for (std::size_t i = 0; i < 4; ++i) d[i] = static_cast<std::uint8_t>(product[i]);
        for (std::size_t i = 0; i < 4; ++i) d[4 + i] = static_cast<std::uint8_t>(serial >> (8 * i));
        frame(base, d);
    }
    void frame(std::uint32_t id, const CanFrame::Data& data) {
        CanPacket p;
        p.frame = CanFrame(id, false, false, 8, data);
        app->port().onPacketReceived(p);
    }
    std::vector<CanFrame> sent() {
        std::lock_guard l(client.mutex);
        return client.sent;
    }
    // Processes events until `condition` holds (false after `ms`).
    template <typename Condition>
    bool waitUntil(Condition condition, int ms = 5000) {
        QDeadlineTimer deadline(ms);
        while (!condition()) {
            if (deadline.hasExpired()) return false;
            QTest::qWait(10);
        }
        return true;
    }

    TempDir dir;
    FakeClient::Log client;
    ScriptedUi ui;
    ui::QtWindowFactory factory;
    std::unique_ptr<CQVDrvCtrlsApp> app;
    ui::QtMainSide* side = nullptr;
    ui::MainWindow* window = nullptr;
};

}  // namespace qv::test
