// The Configuration window driven as a new user would, on a real X server with a window manager:
// the keys come from the X server (XTest), the window manager decides where they go, and the
// file dialog is the real one. Edit a limit, save, type the old value back, save again: each
// file holds what the page showed when it was saved, and the title says when nothing is saved.
// The test starts Xvfb and openbox, then runs this program again on that display for the part
// that drives the windows (the window tests themselves run on the offscreen platform).
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QTimer>
#include <filesystem>

#include "app/config_transfer_service.h"
#include "config/config_file.h"
#include "stoppable_world.h"
#include "support/loopback.h"
#include "support/ports.h"
#include "support/process.h"
#include "ui/config_install.h"
#include "ui/config_window.h"
#include "ui/qt_user_interaction.h"
#include "ui_rig.h"

namespace qv {
namespace {

namespace fs = std::filesystem;
constexpr const char* kChild = "KeyboardUnderAWindowManager.TheChildDrivesTheWindows";

// The few Xlib and XTest calls needed, loaded at run time (the X headers' macros clash with
// Qt's names); without the libraries the test is skipped.
struct X11 {
    struct Display;
    X11() : x11(dlopen("libX11.so.6", RTLD_NOW)), xtst(dlopen("libXtst.so.6", RTLD_NOW)) {
        if (!x11 || !xtst) return;
        open = reinterpret_cast<decltype(open)>(dlsym(x11, "XOpenDisplay"));
        close = reinterpret_cast<decltype(close)>(dlsym(x11, "XCloseDisplay"));
        keysym = reinterpret_cast<decltype(keysym)>(dlsym(x11, "XStringToKeysym"));
        keycode = reinterpret_cast<decltype(keycode)>(dlsym(x11, "XKeysymToKeycode"));
        sync = reinterpret_cast<decltype(sync)>(dlsym(x11, "XSync"));
        atom = reinterpret_cast<decltype(atom)>(dlsym(x11, "XInternAtom"));
        fakeKey = reinterpret_cast<decltype(fakeKey)>(dlsym(xtst, "XTestFakeKeyEvent"));
    }
    bool ok() const { return open && close && keysym && keycode && sync && atom && fakeKey; }
    void* x11;
    void* xtst;
    Display* (*open)(const char*) = nullptr;
    int (*close)(Display*) = nullptr;
    unsigned long (*keysym)(const char*) = nullptr;
    unsigned char (*keycode)(Display*, unsigned long) = nullptr;
    int (*sync)(Display*, int) = nullptr;
    unsigned long (*atom)(Display*, const char*, int) = nullptr;
    int (*fakeKey)(Display*, unsigned int, int, unsigned long) = nullptr;
};

// Key presses through the X server, as a keyboard makes them.
class Keyboard {
  public:
    explicit Keyboard(X11& x) : x_(x), display_(x.open(nullptr)) {}
    ~Keyboard() {
        if (display_) x_.close(display_);
    }
    // Holds the keys in order, then lets them go ("Control_L", "a").
    void chord(const std::vector<std::string>& keys) {
        for (const auto& k : keys) press(k, true);
        for (auto k = keys.rbegin(); k != keys.rend(); ++k) press(*k, false);
        QTest::qWait(15);  // the windows take what was pressed
    }
    void type(const std::string& text) {
        for (char c : text) chord({c == '/' ? "slash" : c == '.' ? "period" : std::string(1, c)});
    }
    X11::Display* display() const { return display_; }

  private:
    void press(const std::string& key, bool down) {
        x_.fakeKey(display_, x_.keycode(display_, x_.keysym(key.c_str())), down, 0);
        x_.sync(display_, 0);
    }
    X11& x_;
    X11::Display* display_;
};

// Runs `action` once `ready` holds, from the event loop: also from a modal dialog's own loop,
// which the test's code does not leave while the dialog is open.
class WhenReady {
  public:
    template <typename R, typename A>
    WhenReady(R ready, A action) {
        QObject::connect(&timer_, &QTimer::timeout, [this, ready, action] {
            if (done_ || !ready()) return;
            done_ = true;
            action();
        });
        timer_.start(20);
    }
    bool done() const { return done_; }

  private:
    QTimer timer_;
    bool done_ = false;
};

std::optional<float> savedSpeedLimit(const fs::path& file) {
    struct : UserInteraction {
        MessageAnswer messageBox(const MessageBoxRequest&) override { return MessageAnswer::No; }
        std::optional<std::string> fileDialog(const FileDialogRequest&) override { return {}; }
    } quiet;
    CConfigDataBank store;
    if (!loadConfigFile(store, file.string(), quiet, true, true)) return std::nullopt;
    return store.publicConfig.speedLimit;
}

TEST(KeyboardUnderAWindowManager, EditSaveRevertSaveSavesWhatThePageShows) {
    X11 x;
    for (const char* program : {"/usr/bin/Xvfb", "/usr/bin/openbox"})
        if (!fs::exists(program)) GTEST_SKIP() << program << " is not installed";
    if (!x.ok()) GTEST_SKIP() << "libX11 or libXtst is missing";
    int number = 60 + static_cast<int>(::getpid() % 800);  // a display nobody uses
    while (fs::exists("/tmp/.X" + std::to_string(number) + "-lock")) ++number;
    const std::string display = ":" + std::to_string(number);
    test::BackgroundProcess server("/usr/bin/Xvfb",
                                   {display, "-screen", "0", "1280x1024x24", "-nolisten", "tcp"});
    X11::Display* connection = nullptr;
    ASSERT_TRUE(QTest::qWaitFor([&] { return (connection = x.open(display.c_str())); }, 10000));
    test::BackgroundProcess manager("/usr/bin/env",
                                    {"DISPLAY=" + display, "/usr/bin/openbox", "--sm-disable"});
    // Openbox names the atom of its supporting-WM check when it starts.
    EXPECT_TRUE(QTest::qWaitFor([&] { return x.atom(connection, "_OB_THEME", 1) != 0; }, 10000));
    x.close(connection);
    const auto child = test::runProcess(
        "/usr/bin/env",
        {"-u", "XDG_CURRENT_DESKTOP", "-u", "QT_QPA_PLATFORMTHEME", "DISPLAY=" + display,
         "QT_QPA_PLATFORM=xcb", "QV_KEYBOARD_UNDER_X=1", "ASAN_OPTIONS=detect_leaks=0",
         fs::read_symlink("/proc/self/exe").string(), std::string("--gtest_filter=") + kChild},
        60000);
    EXPECT_EQ(child.exitCode, 0) << child.out << child.err;
    EXPECT_NE(child.out.find("[  PASSED  ] 1 test."), std::string::npos) << child.out;
}

// Run by the test above on its display.
TEST(KeyboardUnderAWindowManager, TheChildDrivesTheWindows) {
    if (!std::getenv("QV_KEYBOARD_UNDER_X")) GTEST_SKIP() << "run by the test above";
    X11 x;
    Keyboard keys(x);
    ASSERT_TRUE(keys.display());
    const fs::path dir = "/tmp/qvkeys" + std::to_string(::getpid());
    fs::create_directories(dir);
    sim::Options world;
    world.port = test::freePort();
    world.devices.push_back(sim::parseDevice("0x400:123456:KX01"));
    test::StoppableWorld sim(world);
    ui::QtUserInteraction dialogs;
    test::UiRig rig(test::loopbackSettings(world.port), [&](test::UiRig& r) {
        ui::installConfigurationWindows(r.factory, *r.app, dialogs,
                                        installConfigTransferService(*r.app, dialogs), &dialogs);
    });
    dialogs.setOwner(rig.window);
    auto* config = rig.window->findChild<ui::ConfigWindow*>("id107");
    ASSERT_NE(config, nullptr);
    auto* speed = config->findChild<QLineEdit*>("id1061");
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.logic().monitor().selected().selected; }, 9000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.window->isActiveWindow(); }))
        << "the window manager did not give the main window the keyboard";

    // Tools > Configuration... downloads and opens the window, named after the controller.
    auto menu = [&](const char* letter) {
        keys.chord({"Alt_L", letter});
        ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activePopupWidget(); }));
        keys.chord({"Down"});
    };
    menu("t");
    keys.chord({"Return"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return config->isActiveWindow(); }, 10000));
    EXPECT_TRUE(config->windowTitle().startsWith("Configuration - 0x400 qvm40 0123456, downloaded"))
        << config->windowTitle().toStdString();
    const QString first = speed->text();
    auto unsaved = [&] { return config->windowTitle().endsWith(" *"); };

    // Tab to the speed limit as a keyboard user does, and type over it.
    auto typeSpeed = [&](const QString& text) {
        for (int i = 0; i < 60 && config->focusWidget() != speed; ++i) keys.chord({"Tab"});
        keys.chord({"Control_L", "a"});
        keys.type(text.toStdString());
        EXPECT_EQ(speed->text(), text);
        EXPECT_TRUE(QTest::qWaitFor(unsaved)) << "an edit not saved shows no '*'";
    };
    // File > Save to PC; the path is typed into the dialog once it has the keyboard.
    auto saveAs = [&](const fs::path& file) {
        const WhenReady answer(
            [] {
                auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
                return d && d->isActiveWindow();
            },
            [&] {
                keys.type(file.string());
                keys.chord({"Return"});
            });
        menu("f");
        keys.chord({"Return"});
        ASSERT_TRUE(QTest::qWaitFor([&] { return answer.done() && fs::exists(file); }));
        EXPECT_TRUE(QTest::qWaitFor([&] { return !unsaved(); })) << "saved, yet marked unsaved";
    };
    typeSpeed("4000");
    saveAs(dir / "edited.cfg");
    typeSpeed(first);
    saveAs(dir / "reverted.cfg");
    EXPECT_EQ(savedSpeedLimit(dir / "edited.cfg"), 4000.0f);
    EXPECT_EQ(savedSpeedLimit(dir / "reverted.cfg"), speed->text().toFloat());

    // Escape closes the window; nothing unsaved, so Escape on the main window quits at once.
    keys.chord({"Escape"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.window->isActiveWindow(); }));
    keys.chord({"Escape"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return !rig.window->isVisible(); }));
    fs::remove_all(dir);
}

}  // namespace
}  // namespace qv
