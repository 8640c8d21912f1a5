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
#include <filesystem>

#include "config_rig.h"
#include "ui/config_general_page.h"
#include "ui/config_motor_page.h"
#include "ui/hex_edit.h"
#include "ui/motor_selector_dialog.h"

namespace qv {
namespace {

using test::ConfigRig;

using namespace general_id;

QString shownText(QWidget* w) {
    return static_cast<QLineEdit*>(w)->text();
}

TEST(ConfigWindowUi, CanIdentifierIsFixedOrRestoredAndOnlyAcceptedValuesAreStored) {
    ConfigRig rig;
    rig.store().publicConfig.canBaseAddress = 0x440;
    rig.openOnStore();
    auto* id = rig.find<ui::HexEdit>(kCanId);
    ASSERT_NE(id, nullptr);
    EXPECT_EQ(id->text(), "0x440");

    rig.answers.expect("Standard CAN address", MessageAnswer::Yes);
    rig.typeInto(id, "0x401");
    EXPECT_EQ(id->text(), "0x400");
    rig.answers.expect("Standard CAN address", MessageAnswer::Yes);
    rig.typeInto(id, "0x800");
    EXPECT_EQ(id->text(), "0x7C0");
    // Cancel puts back what the store holds.
    rig.answers.expect("Standard CAN address", MessageAnswer::Cancel);
    rig.typeInto(id, "0x401");
    EXPECT_EQ(id->text(), "0x440");
    // No keeps the value and the focus: 0x10400 is not taken for 0x400.
    rig.answers.expect("Standard CAN address", MessageAnswer::No);
    rig.typeInto(id, "0x10400");
    EXPECT_TRUE(rig.keepsFocus(id));
    EXPECT_EQ(id->text(), "0x10400");
    EXPECT_TRUE(rig.answers.scriptDone());

    rig.typeInto(id, "0x420");
    rig.window->runCommand(config_window_id::kClose);
    EXPECT_FALSE(rig.window->isVisible());
    EXPECT_EQ(test::copyOf(rig.store().publicConfig.canBaseAddress), 0x420u);
}

TEST(ConfigWindowUi, EscapeStoresTheEditsAndASlipSpeedBoxClearsItsBitOnly) {
    ConfigRig rig;
    // Boxes for bits 5 and 12 unchecked; the bits no box stands for are always written set.
    rig.store().publicConfig.telemetryMask = 0x00FFFFFFu & ~(1u << 5) & ~(1u << 12);
    rig.store().publicConfig.vehicleMass = 800.0f;
    rig.openOnStore();
    auto* slip = rig.find<QCheckBox>(kSlipSpeed);
    ASSERT_NE(slip, nullptr);
    EXPECT_EQ(slip->text(), "Slip Speed");
    EXPECT_TRUE(slip->isChecked());
    slip->click();
    rig.typeInto(rig.find<QLineEdit>(kVehicleMass), "950", false);
    // The field being edited is checked and stored by Escape as by Close.
    QTest::keyClick(rig.window, Qt::Key_Escape);
    QApplication::processEvents();
    EXPECT_FALSE(rig.window->isVisible());
    EXPECT_EQ(test::copyOf(rig.store().publicConfig.telemetryMask),
              ~((1u << 5) | (1u << 12) | (1u << 23)));
    EXPECT_FLOAT_EQ(test::copyOf(rig.store().publicConfig.vehicleMass), 950.0f);
    EXPECT_TRUE(rig.store().isModified(StructureKind::Public));
}

TEST(ConfigWindowUi, ARefusedNumberKeepsTheFocusAndBlocksTheClose) {
    ConfigRig rig;
    rig.openOnStore();
    const float before = rig.store().publicConfig.vehicleMass;
    QLineEdit* mass = rig.find<QLineEdit>(kVehicleMass);
    rig.typeInto(mass, "abc");
    EXPECT_TRUE(rig.keepsFocus(mass));
    rig.window->runCommand(config_window_id::kClose);
    EXPECT_TRUE(rig.window->isVisible()) << "closed over a refused field";
    EXPECT_FLOAT_EQ(test::copyOf(rig.store().publicConfig.vehicleMass), before);
    const auto texts = rig.answers.texts();
    ASSERT_FALSE(texts.empty());
    EXPECT_NE(texts.front().find("Please enter a number"), std::string::npos) << texts.front();
}

TEST(ConfigWindowUi, MotorPagesChooseBldcAndRefuseALongDescription) {
    ConfigRig rig;
    for (std::size_t i = 0; i < kMotorCount; ++i) {
        rig.store().motor[i].motorType = 1;  // induction
        rig.store().motor[i].minId = -10.0f - static_cast<float>(i);
        rig.store().motor[i].maxId = 20.0f + static_cast<float>(i);
    }
    rig.openOnStore();
    rig.window->selectPage(2);
    auto* type = rig.motorControl<QComboBox>(3, motor_id::kMotorType);
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(type->currentText(), "Induction");
    type->setCurrentIndex(0);  // BLDC
    QApplication::processEvents();
    EXPECT_FALSE(rig.motorControl<QLineEdit>(3, motor_id::kMinId)->isVisible());

    auto* description = rig.motorControl<QLineEdit>(5, motor_id::kDescription);
    rig.window->motorPage()->focusRecordField(5, motor_id::kDescription);
    rig.typeInto(description, "12345678901234567890");
    EXPECT_TRUE(rig.keepsFocus(description));
    const auto texts = rig.answers.texts();
    ASSERT_FALSE(texts.empty());
    EXPECT_NE(texts.back().find("19"), std::string::npos) << texts.back();
    rig.typeInto(description, "Hub motor rear");

    rig.window->runCommand(config_window_id::kClose);
    EXPECT_FALSE(rig.window->isVisible());
    const MotorConfig& m3 = rig.store().motor[3];
    EXPECT_EQ(test::copyOf(m3.motorType), 0);
    EXPECT_EQ(test::copyOf(m3.minId), 0.0f);
    EXPECT_EQ(test::copyOf(m3.maxId), 0.0f);
    // Only the page the user changed.
    EXPECT_FLOAT_EQ(test::copyOf(rig.store().motor[2].minId), -12.0f);
    EXPECT_FLOAT_EQ(test::copyOf(rig.store().motor[4].maxId), 24.0f);
    EXPECT_STREQ(rig.store().motor[5].description, "Hub motor rear");
}

TEST(ConfigWindowUi, AnIsolatedChargerRelabelsTheFieldsThatStillStoreTheSame) {
    ConfigRig rig;
    const char isolatedCharger[4] = {0x00, 0x40, 0x00, 0x00};
    rig.rig.announce(0x600, isolatedCharger, 777);
    ASSERT_TRUE(rig.rig.waitUntil([&] { return rig.logic().monitor().selected().selected; }));
    rig.openOnStore();
    EXPECT_EQ(rig.find<QLabel>(1223)->text(), "Output Current Limit (A)");
    EXPECT_EQ(rig.find<QLabel>(1225)->text(), "Output Voltage Limit (V)");
    EXPECT_EQ(rig.find<QCheckBox>(1153)->text(), "Bus Volt");
    rig.typeInto(rig.find<QLineEdit>(kSineCurrentLimit), "42");
    rig.typeInto(rig.find<QLineEdit>(kSpeedLimit), "350");
    rig.window->runCommand(config_window_id::kClose);
    EXPECT_FLOAT_EQ(test::copyOf(rig.store().publicConfig.sineCurrentLimit), 42.0f);
    EXPECT_FLOAT_EQ(test::copyOf(rig.store().publicConfig.speedLimit), 350.0f);
}

TEST(ConfigWindowUi, WhileATransferRunsThePagesNeitherFillNorStore) {
    ConfigRig rig;
    rig.openOnStore();
    rig.store().publicConfig.vehicleMass = 640.0f;
    {
        TransferScope running(rig.store());
        rig.window->refresh();
        EXPECT_NE(shownText(rig.find(kVehicleMass)), "640") << "filled during a transfer";
        rig.typeInto(rig.find<QLineEdit>(kVehicleMass), "1", false);
        rig.window->runCommand(config_window_id::kClose);
        EXPECT_FLOAT_EQ(test::copyOf(rig.store().publicConfig.vehicleMass), 640.0f);
    }
}

TEST(HexEditUi, TypingKeepsANumberAndConvertGoesBothWays) {
    ui::HexEdit edit;
    edit.show();
    QTest::keyClicks(&edit, "0xz4g0");
    EXPECT_EQ(edit.text(), "0x40");
    const QColor hexColour = edit.textColour();
    edit.runCommand(HexEditCommand::Convert);
    EXPECT_EQ(edit.text(), "64");
    EXPECT_NE(edit.textColour(), hexColour);
    edit.runCommand(HexEditCommand::Convert);
    EXPECT_EQ(edit.text(), "0x40");
    auto menu = edit.buildContextMenu();
    QStringList items;
    for (QAction* a : menu->actions())
        if (!a->isSeparator()) items << a->text();
    EXPECT_TRUE(items.contains("Con&vert")) << items.join(",").toStdString();
}

TEST(MotorSelectorUi, ListsTheRecordsAndGivesMinusOneWithoutAChoice) {
    CConfigDataBank store;
    std::snprintf(store.motor[4].description, kDescriptionSize, "%s", "Rear axle");
    int result = 7;
    {
        ui::MotorSelectorDialog dialog(store, &result);
        ASSERT_EQ(dialog.list()->count(), static_cast<int>(kMotorCount));
        EXPECT_NE(dialog.list()->item(4)->text().indexOf("Rear axle"), -1);
        dialog.accept();  // nothing selected
    }
    EXPECT_EQ(result, -1);
    {
        ui::MotorSelectorDialog dialog(store, &result);
        dialog.list()->setCurrentRow(4);
        dialog.accept();
    }
    EXPECT_EQ(result, 4);
    {
        ui::MotorSelectorDialog dialog(store, &result);
        dialog.list()->setCurrentRow(2);
        dialog.reject();
    }
    EXPECT_EQ(result, -1);
}

// Ctrl+S saves under the proposed name, the file is then offered in the File menu and Ctrl+O
// loads; every number field carries its range and unit; the menu texts stay.
TEST(ConfigWindowUi, KeysRecentFilesAndToolTips) {
    ConfigRig rig;
    rig.store().resetToDefaults();
    rig.store().publicConfig.canBaseAddress = 0x440;
    rig.store().privateConfig.serialNumber = 765432;
    rig.openOnStore();
    using namespace config_window_id;
    EXPECT_EQ(rig.window->action(kLoadFromPc)->text(), "Load from PC");
    EXPECT_EQ(rig.window->action(kSaveToPc)->text(), "Save to PC");
    EXPECT_EQ(rig.window->action(kLoadFromPc)->shortcut().toString(), "Ctrl+O");
    EXPECT_EQ(rig.window->action(kSaveToPc)->shortcut().toString(), "Ctrl+S");
    EXPECT_FALSE(rig.window->action(kRecentFile1)->isVisible());

    const std::string saved = rig.rig.dir.file("bench.cfg");
    rig.answers.expectFile(saved);
    ConfigRig::activate(rig.window);  // the keys of the window the user types in
    QTest::keyClick(rig.window, Qt::Key_S, Qt::ControlModifier);
    ASSERT_EQ(rig.answers.dialogs().size(), 1u);
    EXPECT_TRUE(rig.answers.dialogs()[0].save);
    EXPECT_TRUE(rig.answers.dialogs()[0].initialPath.starts_with("0x440_765432_"));
    EXPECT_TRUE(std::filesystem::exists(saved));
    // The File menu fills them as it opens.
    QMenu* file = rig.window->findChild<QMenuBar*>()->findChildren<QMenu*>().at(0);
    emit file->aboutToShow();
    EXPECT_TRUE(rig.window->action(kRecentFile1)->isVisible());
    EXPECT_EQ(rig.window->action(kRecentFile1)->text(), "&1 bench.cfg");
    EXPECT_EQ(rig.window->action(kRecentFile1)->toolTip(), QString::fromStdString(saved));

    rig.answers.expectFile(std::nullopt);
    ConfigRig::activate(rig.window);
    QTest::keyClick(rig.window, Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(rig.answers.dialogs().size(), 2u);
    EXPECT_FALSE(rig.answers.dialogs()[1].save);

    EXPECT_EQ(rig.find<QLineEdit>(kSpeedLimit)->toolTip(), "0 to 12000 RPM");
    EXPECT_EQ(rig.find<QLineEdit>(kCanId)->toolTip(),
              "A multiple of 0x20 from 0 to 0x7C0 (decimal or 0x hex)");
    EXPECT_EQ(rig.motorControl<QLineEdit>(0, motor_id::kPolePairs)->toolTip(),
              "An integer from 0 to 65535");
}

TEST(ConfigWindowUi, Screens) {
    ConfigRig rig;
    rig.store().resetToDefaults();
    rig.store().privateConfig.serialNumber = 123456;
    std::snprintf(rig.store().motor[0].description, kDescriptionSize, "%s", "Hub motor front");
    rig.openOnStore();
    test::saveScreenshot(*rig.window, "config-general.png", rig.rig.dir);
    rig.window->selectPage(1);
    test::saveScreenshot(*rig.window, "config-calibration.png", rig.rig.dir);
    rig.window->selectPage(2);
    test::saveScreenshot(*rig.window, "config-motor.png", rig.rig.dir);
}

}  // namespace
}  // namespace qv
