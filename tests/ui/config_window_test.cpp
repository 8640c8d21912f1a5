// The Configuration window's widgets over the pages' logic, on a fake bridge client: what they
// show, what they forward and what reaches the store.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>

#include "config_rig.h"
#include "ui/config_general_page.h"
#include "ui/config_motor_page.h"
#include "ui/hex_edit.h"

namespace qv {
namespace {

using test::ConfigRig;

TEST(ConfigWindowUi, Screens) {
    ConfigRig rig;
    rig.openOnStore();
    const char* env = std::getenv("QV_SCREENSHOT_DIR");
    (void)env;
    test::saveScreenshot(*rig.window, "config-general.png", rig.rig.dir);
    rig.window->selectPage(1);
    test::saveScreenshot(*rig.window, "config-calibration.png", rig.rig.dir);
    rig.window->selectPage(2);
    test::saveScreenshot(*rig.window, "config-motor.png", rig.rig.dir);
}

}  // namespace
}  // namespace qv
