// qvconfig: the configuration and commissioning tool's window.
#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/app_options.h"
#include "app/config_transfer_service.h"
#include "app/file_memory.h"
#include "app/qv_drv_ctrls_app.h"
#include "app/screenshot_windows.h"
#include "diagnostics.h"
#include "link/platform/regular_file.h"
#include "link/platform/settings_store.h"
#include "ui/app_icon.h"
#include "ui/commissioning_windows.h"
#include "ui/config_install.h"
#include "ui/controls_window.h"
#include "ui/main_window.h"
#include "ui/monitor_windows.h"
#include "ui/motor_selector_dialog.h"
#include "ui/qt_user_interaction.h"
#include "ui/qt_windows.h"
#include "ui/telem_window.h"

namespace {

using namespace qv;

bool saveScreenshot(QWidget& window, const std::string& path, const std::string& name) {
    const QPixmap shot = window.grab();
    int error = 0;  // a named pipe in its place would block the save
    const bool saved =
        regularOrMissing(path, error) && shot.save(QString::fromStdString(path), "PNG");
    if (saved && name == "main")
        std::printf("qvconfig: screenshot of the main window saved to %s\n", path.c_str());
    else if (saved)
        std::printf("qvconfig: screenshot of window %s saved to %s\n", name.c_str(), path.c_str());
    else
        std::fprintf(stderr, "qvconfig: could not save the screenshot to %s\n", path.c_str());
    std::fflush(stdout);
    return saved;
}

QWidget* shownWindow(const char* objectName) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == objectName && w->isVisible()) return w;
    return nullptr;
}

// Closes a message box that waits for a user who is not there, then shuts down normally.
void shutDownSoon(ui::MainWindow& window, ui::QtUserInteraction& interaction) {
    interaction.abandonQuestions();
    while (QWidget* modal = QApplication::activeModalWidget()) {
        modal->close();
        if (QApplication::activeModalWidget() == modal) break;
    }
    QTimer::singleShot(0, &window, [&window] { window.requestShutdown(); });
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName("qvConfig");
    // Dialogs and message boxes too; the desktop entry names the installed icon.
    QApplication::setWindowIcon(ui::applicationIcon());
    QGuiApplication::setDesktopFileName("qvconfig");
    std::vector<std::string> args;
    const QStringList qtArgs = QApplication::arguments();
    for (qsizetype i = 1; i < qtArgs.size(); ++i) args.push_back(qtArgs[i].toStdString());

    AppOptions options;
    if (const auto error = parseAppOptions(args, options)) {
        std::fprintf(stderr, "qvconfig: %s\n%s", error->c_str(), kAppUsage);
        return 2;
    }
    if (options.help) {
        std::printf("%s", kAppUsage);
        return 0;
    }

    const std::string settingsPath = SettingsStore::defaultPath();
    AppSettings settings;
    settings.bridge = bridgeSettingsFor(options, SettingsStore(settingsPath));
    settings.settingsPath = settingsPath;
    ui::QtUserInteraction interaction;
    // Every file dialog starts where the last file of its kind went.
    RememberingFileDialogs files(interaction, settingsPath);
    ui::QtWindowFactory factory;
    CQVDrvCtrlsApp app(settings, files, factory);
    ui::installConfigurationWindows(factory, app, files, installConfigTransferService(app, files),
                                    &interaction);
    ui::installCommissioningTools(factory, app, files, ui::runMotorSelector);
    ui::installControlsWindow(factory, app, files);
    // Diagnostics of the load benchmark start before the windows so that they see it all.
    std::unique_ptr<LoadStats> stats;
    if (options.statsPath) stats = std::make_unique<LoadStats>(*options.statsPath);

    QTimer quitTimer, screenshotTimer, openerTimer;
    bool screenshotFailed = false;
    ui::MainWindow* window = nullptr;
    app.start();
    window = static_cast<ui::QtMainSide*>(app.mainWindow())->window();
    interaction.setOwner(window);
    ui::MonitorWindows monitorWindows(app, interaction);
    window->setBeforeShutdown([&] {
        interaction.abandonQuestions();
        if (stats) stats->capture(app);
    });
    if (options.screenshotPath) {
        const ScreenshotWindow& target = *findScreenshotWindow(options.screenshotWindow);
        // The window opens as the user would open it, once a device is selected (or a second
        // before the picture at the latest), so that it shows live data.
        if (target.command != 0) {
            const double latestS = std::max(0.0, options.screenshotAfterSeconds - 1.0);
            auto started = std::make_shared<QElapsedTimer>();
            started->start();
            QObject::connect(&openerTimer, &QTimer::timeout, window,
                             [&app, &openerTimer, target, latestS, started] {
                                 CQVDrvCtrlsDlg* dlg = app.dialog();
                                 if (!dlg) return;
                                 if (!dlg->monitor().selected().selected &&
                                     static_cast<double>(started->elapsed()) < latestS * 1000)
                                     return;
                                 openerTimer.stop();
                                 dlg->onCommand(target.command);
                             });
            openerTimer.start(100);
        }
        screenshotTimer.setSingleShot(true);
        QObject::connect(&screenshotTimer, &QTimer::timeout, window, [&, target] {
            QWidget* shown = shownWindow(target.objectName);
            if (!shown) {
                std::fprintf(stderr, "qvconfig: window %s was not shown\n", target.name);
                screenshotFailed = true;
                return;
            }
            if (!saveScreenshot(*shown, *options.screenshotPath, target.name))
                screenshotFailed = true;
        });
        screenshotTimer.start(static_cast<int>(options.screenshotAfterSeconds * 1000));
    }
    if (options.quitAfterSeconds) {
        quitTimer.setSingleShot(true);
        QObject::connect(&quitTimer, &QTimer::timeout, window,
                         [&] { shutDownSoon(*window, interaction); });
        quitTimer.start(static_cast<int>(*options.quitAfterSeconds * 1000));
    }
    if (stats) stats->begin(app, monitorWindows);
    const int code = app.run();
    if (stats && !stats->write()) return 1;
    return screenshotFailed ? 1 : code;
}
