// The Configuration window driven as a new user would, on a real X server with a window manager:
// the keys come from the X server (XTest), the window manager decides where they go, and the
// file dialog is the real one. Edit a limit, save, type the old value back, save again: each
// file holds what the page showed when it was saved, and the title says when something is not.
//
// The test starts Xvfb and openbox, then runs this program again on that display for the part
// that drives the windows (the window tests themselves run on the offscreen platform).
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QTimer>
#include <filesystem>
#include <string>
#include <vector>

#include "app/config_transfer_service.h"
#include "config/config_file.h"
#include "sim/world.h"
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

constexpr const char* kChildVariable = "QV_KEYBOARD_UNDER_X";
constexpr const char* kChildTest = "KeyboardUnderAWindowManager.TheChildDrivesTheWindows";

// The few Xlib and XTest calls needed, loaded at run time: no X headers (their macros clash
// with Qt's names) and no link dependency; without the libraries the test is skipped.
class X11 {
  public:
    struct Display;

    X11() : x11_(dlopen("libX11.so.6", RTLD_NOW)), xtst_(dlopen("libXtst.so.6", RTLD_NOW)) {
        if (!x11_ || !xtst_) return;
        load(x11_, "XOpenDisplay", open);
        load(x11_, "XCloseDisplay", close);
        load(x11_, "XStringToKeysym", keysym);
        load(x11_, "XKeysymToKeycode", keycode);
        load(x11_, "XSync", sync);
        load(x11_, "XInternAtom", atom);
        load(x11_, "XDefaultRootWindow", root);
        load(x11_, "XGetWindowProperty", property);
        load(x11_, "XFree", free);
        load(xtst_, "XTestFakeKeyEvent", fakeKey);
    }
    ~X11() {
        if (xtst_) dlclose(xtst_);
        if (x11_) dlclose(x11_);
    }
    X11(const X11&) = delete;
    X11& operator=(const X11&) = delete;
    bool ok() const { return open && close && keysym && keycode && sync && fakeKey && property; }

    Display* (*open)(const char*) = nullptr;
    int (*close)(Display*) = nullptr;
    unsigned long (*keysym)(const char*) = nullptr;
    unsigned char (*keycode)(Display*, unsigned long) = nullptr;
    int (*sync)(Display*, int) = nullptr;
    unsigned long (*atom)(Display*, const char*, int) = nullptr;
    unsigned long (*root)(Display*) = nullptr;
    int (*property)(Display*, unsigned long, unsigned long, long, long, int, unsigned long,
                    unsigned long*, int*, unsigned long*, unsigned long*,
                    unsigned char**) = nullptr;
    int (*free)(void*) = nullptr;
    int (*fakeKey)(Display*, unsigned int, int, unsigned long) = nullptr;

  private:
    template <typename F>
    static void load(void* library, const char* name, F& f) {
        f = reinterpret_cast<F>(dlsym(library, name));
    }
    void* x11_;
    void* xtst_;
};

// A window manager runs on `display`: it has set the root window's supporting-WM property.
bool windowManagerRuns(X11& x, X11::Display* display) {
    const unsigned long check = x.atom(display, "_NET_SUPPORTING_WM_CHECK", 1);
    if (check == 0) return false;
    unsigned long type = 0, items = 0, after = 0;
    int format = 0;
    unsigned char* data = nullptr;
    x.property(display, x.root(display), check, 0, 1, 0, 0, &type, &format, &items, &after, &data);
    if (data) x.free(data);
    return items == 1;
}

// Key presses through the X server, as a keyboard makes them.
class Keyboard {
  public:
    explicit Keyboard(X11& x) : x_(x), display_(x.open(nullptr)) {}
    ~Keyboard() {
        if (display_) x_.close(display_);
    }
    bool ok() const { return display_ != nullptr; }

    // Holds the keys in order, then lets them go in reverse ("Control_L", "a").
    void chord(const std::vector<std::string>& keys) {
        for (const auto& k : keys) press(k, true);
        for (auto k = keys.rbegin(); k != keys.rend(); ++k) press(*k, false);
        settle();
    }
    void tap(const std::string& key) { chord({key}); }
    void type(const std::string& text) {
        for (char c : text) {
            if (c >= 'A' && c <= 'Z')
                chord({"Shift_L", std::string(1, static_cast<char>(c - 'A' + 'a'))});
            else if (c == '/')
                tap("slash");
            else if (c == '.')
                tap("period");
            else
                tap(std::string(1, c));
        }
    }

  private:
    void press(const std::string& key, bool down) {
        const unsigned char code = x_.keycode(display_, x_.keysym(key.c_str()));
        EXPECT_NE(code, 0) << "no key for " << key;
        x_.fakeKey(display_, code, down ? 1 : 0, 0);
        x_.sync(display_, 0);
    }
    // Lets the windows take what was pressed.
    static void settle() { QTest::qWait(15); }

    X11& x_;
    X11::Display* display_;
};

// Runs `action` once `ready` holds, from the event loop: also from a modal dialog's own loop,
// which the test's code does not leave while the dialog is open.
class WhenReady {
  public:
    template <typename R, typename A>
    WhenReady(R ready, A action) {
        timer_.setInterval(20);
        QObject::connect(&timer_, &QTimer::timeout, [this, ready, action] {
            if (!ready()) return;
            timer_.stop();
            action();
            done_ = true;
        });
        timer_.start();
    }
    bool done() const { return done_; }

  private:
    QTimer timer_;
    bool done_ = false;
};

// Waits (processing events) until `condition` holds.
template <typename C>
bool waitFor(C condition, int ms = 5000) {
    return QTest::qWaitFor(condition, ms);
}

std::optional<float> savedSpeedLimit(const fs::path& file) {
    struct Quiet : UserInteraction {
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
    // A display number nobody uses.
    int number = 60 + static_cast<int>(::getpid() % 800);
    while (fs::exists("/tmp/.X" + std::to_string(number) + "-lock")) ++number;
    const std::string display = ":" + std::to_string(number);
    test::BackgroundProcess server("/usr/bin/Xvfb",
                                   {display, "-screen", "0", "1280x1024x24", "-nolisten", "tcp"});
    X11::Display* connection = nullptr;
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return (connection = x.open(display.c_str())) != nullptr; }, 10000))
        << "Xvfb did not start";
    test::BackgroundProcess manager("/usr/bin/env",
                                    {"DISPLAY=" + display, "/usr/bin/openbox", "--sm-disable"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return windowManagerRuns(x, connection); }, 10000))
        << "openbox did not start";
    x.close(connection);

    const auto child = test::runProcess(
        "/usr/bin/env",
        {"-u", "XDG_CURRENT_DESKTOP", "-u", "QT_QPA_PLATFORMTHEME", "DISPLAY=" + display,
         "QT_QPA_PLATFORM=xcb", std::string(kChildVariable) + "=1", "ASAN_OPTIONS=detect_leaks=0",
         fs::read_symlink("/proc/self/exe").string(), std::string("--gtest_filter=") + kChildTest},
        60000);
    EXPECT_EQ(child.exitCode, 0) << child.out << child.err;
    EXPECT_NE(child.out.find("[  PASSED  ] 1 test."), std::string::npos) << child.out;
}

// Run by the test above on its display.
TEST(KeyboardUnderAWindowManager, TheChildDrivesTheWindows) {
    if (!std::getenv(kChildVariable))
        GTEST_SKIP() << "run by EditSaveRevertSaveSavesWhatThePageShows";
    X11 x;
    Keyboard keys(x);
    ASSERT_TRUE(keys.ok());
    const fs::path dir = "/tmp/qvkeys" + std::to_string(::getpid());
    fs::create_directories(dir);

    const std::uint16_t port = test::freePort();
    sim::Options world;
    world.port = port;
    world.devices.push_back(sim::parseDevice("0x400:123456:KX01"));
    test::StoppableWorld sim(world);
    ui::QtUserInteraction dialogs;
    test::UiRig rig(test::loopbackSettings(port), [&](test::UiRig& r) {
        ui::installConfigurationWindows(r.factory, *r.app, dialogs,
                                        installConfigTransferService(*r.app, dialogs), &dialogs);
    });
    dialogs.setOwner(rig.window);
    auto* config = rig.window->findChild<ui::ConfigWindow*>("id107");
    ASSERT_NE(config, nullptr);
    ASSERT_TRUE(waitFor([&] { return rig.logic().monitor().selected().selected; }, 10000));
    ASSERT_TRUE(waitFor([&] { return rig.window->isActiveWindow(); }))
        << "the window manager did not give the main window the keyboard";

    // Tools > Configuration... downloads and opens the window, named after the controller.
    keys.chord({"Alt_L", "t"});
    ASSERT_TRUE(waitFor([] { return QApplication::activePopupWidget() != nullptr; }));
    keys.tap("Down");
    keys.tap("Return");
    ASSERT_TRUE(waitFor([&] { return config->isVisible() && config->isActiveWindow(); }, 10000));
    EXPECT_TRUE(
        config->windowTitle().startsWith("Configuration - 0x400 qvm40 0123456, downloaded "))
        << config->windowTitle().toStdString();
    auto* speed = config->findChild<QLineEdit*>("id1061");
    ASSERT_NE(speed, nullptr);
    const QString first = speed->text();

    // Tab to the speed limit as a keyboard user does, and type over it.
    auto typeSpeed = [&](const QString& text) {
        for (int i = 0; i < 60 && config->focusWidget() != speed; ++i) keys.tap("Tab");
        ASSERT_EQ(config->focusWidget(), speed);
        keys.chord({"Control_L", "a"});
        keys.type(text.toStdString());
        ASSERT_EQ(speed->text(), text);
        EXPECT_TRUE(waitFor([&] { return config->windowTitle().endsWith(" *"); }))
            << "an edit not yet saved shows no '*'";
    };
    // File > Save to PC, answering the file dialog by typing the path.
    auto saveAs = [&](const fs::path& file) {
        // The dialog runs its own loop: the path is typed from there once it has the keyboard.
        const WhenReady answer(
            [] {
                auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
                return d && d->isActiveWindow();
            },
            [&] {
                keys.type(file.string());
                keys.tap("Return");
            });
        keys.chord({"Alt_L", "f"});
        ASSERT_TRUE(waitFor([] { return QApplication::activePopupWidget() != nullptr; }));
        keys.tap("Down");
        keys.tap("Return");
        ASSERT_TRUE(waitFor([&] { return answer.done() && fs::exists(file); }));
        ASSERT_TRUE(waitFor([] { return !QApplication::activeModalWidget(); }));
        EXPECT_TRUE(waitFor([&] { return !config->windowTitle().endsWith(" *"); }))
            << "saved, yet the title says otherwise";
    };

    typeSpeed("4000");
    saveAs(dir / "edited.cfg");
    EXPECT_EQ(savedSpeedLimit(dir / "edited.cfg"), 4000.0f);
    typeSpeed(first);
    saveAs(dir / "reverted.cfg");
    // What the page shows now is in the file, not what it showed at the previous save.
    EXPECT_EQ(savedSpeedLimit(dir / "reverted.cfg"), speed->text().toFloat());
    EXPECT_EQ(savedSpeedLimit(dir / "edited.cfg"), 4000.0f);

    // Escape closes the window; nothing unsaved, so Escape on the main window quits at once.
    keys.tap("Escape");
    ASSERT_TRUE(waitFor([&] { return !config->isVisible(); }));
    ASSERT_TRUE(waitFor([&] { return rig.window->isActiveWindow(); }));
    keys.tap("Escape");
    EXPECT_TRUE(waitFor([&] { return !rig.window->isVisible(); }));
    fs::remove_all(dir);
}

}  // namespace
}  // namespace qv
