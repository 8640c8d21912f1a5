// The device list: discovery, order, selection, purge and withdrawal.
#include "monitor/device_list.h"

#include <gtest/gtest.h>

#include "monitor_test_support.h"

namespace qv {
namespace {

using test::identification;

TEST(DeviceList, RowsAreSortedByBaseAndTheFirstDeviceHeardIsSelected) {
    DeviceList list;
    const DeviceListResult first = list.discover(0x400, 0x0A00000A, identification("KX01", 41));
    list.discover(0x080, 0x0B00000A, identification("KX02", 42));
    list.discover(0x200, 0x0C00000A, identification(0x4001, 43));

    ASSERT_EQ(list.entries().size(), 3u);
    EXPECT_EQ(list.entries()[0].baseAddress, 0x080u);
    EXPECT_EQ(list.entries()[1].baseAddress, 0x200u);
    EXPECT_EQ(list.entries()[2].baseAddress, 0x400u);
    EXPECT_EQ(list.selectedRow(), 2u);  // the row of 0x400 moved down as others came in
    const SelectedDevice& s = list.selected();
    EXPECT_EQ(s.base, 0x400);
    EXPECT_EQ(s.serial, 41u);
    EXPECT_EQ(s.bridgeAddress, 0x0A00000Au);
    EXPECT_EQ(s.type, kTypeLargeController);
    EXPECT_TRUE(s.selected);

    // Selecting configures the stream identifiers, clears the held configuration, enables menus.
    EXPECT_TRUE(first.rowsChanged);
    EXPECT_TRUE(first.clearConfiguration);
    EXPECT_TRUE(first.configureStream);
    EXPECT_EQ(first.streamControlId, 0x412u);
    EXPECT_EQ(first.streamDataId, 0x414u);
    EXPECT_TRUE(first.menusChanged);
    EXPECT_TRUE(first.toolMenusEnabled);
    EXPECT_TRUE(first.relabel);

    const std::vector<std::string> rows = list.rows();
    EXPECT_EQ(rows[0], "0x080   qvm7   0000042");
    EXPECT_EQ(rows[1], "0x200   ecGT   0000043");
    EXPECT_EQ(rows[2], "0x400   qvm40  0000041");
}

TEST(DeviceList, ProductsAreRecognisedByNameOrTypeCode) {
    DeviceList list;
    list.discover(0x020, 0, identification("KX01", 1));
    list.discover(0x040, 0, identification(0x4002, 2));
    list.discover(0x060, 0, identification("KX03", 3));
    list.discover(0x080, 0, identification(0x4000, 4));
    list.discover(0x0A0, 0, identification(0x6000, 5));
    list.discover(0x0C0, 0, identification(0x5000, 6));  // unknown: no row
    ASSERT_EQ(list.entries().size(), 5u);
    EXPECT_STREQ(list.entries()[0].displayName.data(), "qvm40");
    EXPECT_STREQ(list.entries()[1].displayName.data(), "qvm40");
    EXPECT_EQ(list.entries()[1].deviceType, kTypeLargeController);
    EXPECT_STREQ(list.entries()[2].displayName.data(), "ECHG ");
    EXPECT_EQ(list.entries()[2].deviceType, kTypeChargerFamily);
    EXPECT_STREQ(list.entries()[3].displayName.data(), "ecISO");
    EXPECT_STREQ(list.entries()[4].displayName.data(), "LAB01");
}

TEST(DeviceList, TwoDevicesOnOneBaseAreTwoRowsAndRepeatsAreNot) {
    DeviceList list;
    list.discover(0x040, 0, identification("KX01", 7));
    list.discover(0x040, 0, identification("KX01", 8));
    list.discover(0x040, 0, identification("KX01", 7));
    ASSERT_EQ(list.entries().size(), 2u);
    EXPECT_EQ(list.entries()[0].serialNumber, 7u);  // equal bases keep arrival order
    EXPECT_EQ(list.entries()[1].serialNumber, 8u);
}

TEST(DeviceList, SilentDeviceLeavesAtTheSecondPurgeAndTakesTheSelectionWithIt) {
    DeviceList list;
    list.discover(0x400, 0, identification("KX01", 1));
    list.discover(0x200, 0, identification("KX01", 2));
    // First purge ages both; 0x200 announces again, 0x400 stays silent.
    DeviceListResult r = list.purge();
    EXPECT_FALSE(r.hideAllTools);
    EXPECT_EQ(list.entries().size(), 2u);
    list.discover(0x200, 0, identification("KX01", 2));
    r = list.purge();
    ASSERT_EQ(list.entries().size(), 1u);
    EXPECT_EQ(list.entries()[0].baseAddress, 0x200u);
    EXPECT_TRUE(r.hideAllTools);
    EXPECT_TRUE(r.menusChanged);
    EXPECT_FALSE(r.toolMenusEnabled);
    EXPECT_TRUE(r.telemetryReset);
    EXPECT_FALSE(list.selected().selected);
    EXPECT_FALSE(list.selectedRow());
    // The base is remembered: 0x200 is not taken automatically, 0x400 is when it returns.
    EXPECT_EQ(list.selected().base, 0x400);
    list.discover(0x200, 0, identification("KX01", 2));
    EXPECT_FALSE(list.selected().selected);
    r = list.discover(0x400, 0, identification("KX01", 1));
    EXPECT_TRUE(list.selected().selected);
    EXPECT_EQ(list.selectedRow(), 1u);
    EXPECT_TRUE(r.configureStream);
}

TEST(DeviceList, SelectedDeviceWithdrawingItselfLeavesAtOnce) {
    DeviceList list;
    list.discover(0x400, 0, identification("KX01", 1));
    list.discover(0x600, 0, identification("KX01", 2));
    // Unknown product with byte 3 = 0xFF at another base: nothing happens.
    DeviceListResult r = list.discover(0x600, 0, test::bytes({1, 2, 3, 0xFF}));
    EXPECT_EQ(list.entries().size(), 2u);
    EXPECT_FALSE(r.any());
    // At the selected base without 0xFF: ignored too.
    list.discover(0x400, 0, test::bytes({1, 2, 3, 0xFE}));
    EXPECT_EQ(list.entries().size(), 2u);
    r = list.discover(0x400, 0, test::bytes({0, 0, 0, 0xFF}));
    ASSERT_EQ(list.entries().size(), 1u);
    EXPECT_EQ(list.entries()[0].baseAddress, 0x600u);
    EXPECT_TRUE(r.hideAllTools);
    EXPECT_FALSE(list.selected().selected);
}

TEST(DeviceList, UserSelectionAndListOutOfStep) {
    DeviceList list;
    list.discover(0x080, 0, identification("KX01", 1));
    list.discover(0x100, 0, identification(0x4000, 2));
    const DeviceListResult r = list.select(1);
    EXPECT_EQ(list.selected().base, 0x100);
    EXPECT_EQ(list.selected().type, kTypeIsolatedCharger);
    EXPECT_EQ(r.streamControlId, 0x112u);
    EXPECT_FALSE(list.select(5).any());  // beyond the last entry: ignored
    EXPECT_EQ(list.selected().base, 0x100);
}

TEST(DeviceList, AutomaticSelectionOffAndReconnect) {
    DeviceList list;
    list.discover(0x080, 0, identification("KX01", 1));
    DeviceListResult r = list.turnOffAutoSelect(true);
    EXPECT_EQ(list.selected().base, SelectedDevice::kAutoSelectOff);
    EXPECT_FALSE(list.selected().selected);
    EXPECT_FALSE(r.toolMenusEnabled);
    list.purge();
    list.purge();
    list.discover(0x080, 0, identification("KX01", 1));
    EXPECT_FALSE(list.selected().selected);  // stays off
    r = list.clear();
    EXPECT_TRUE(list.entries().empty());
    EXPECT_EQ(list.selected().base, SelectedDevice::kNoDevice);
    list.discover(0x0A0, 0, identification("KX01", 3));
    EXPECT_EQ(list.selected().base, 0x0A0);
}

TEST(DeviceList, DeviceOfTheHeldConfigurationBecomesSelectedAndKeepsIt) {
    DeviceList list;
    list.discover(0x080, 0, identification("KX01", 1));
    const DeviceListResult r = list.discover(0x100, 0x0500000A, identification(0x4001, 77), 77u);
    EXPECT_EQ(list.selected().base, 0x100);
    EXPECT_EQ(list.selected().serial, 77u);
    EXPECT_EQ(list.selected().type, kTypeGridTieCharger);
    EXPECT_EQ(list.selectedRow(), 1u);
    EXPECT_FALSE(r.clearConfiguration);
    EXPECT_TRUE(r.configureStream);
    EXPECT_EQ(r.streamControlId, 0x112u);
}

TEST(DeviceList, LargeSerialNumbersStayUnsigned) {
    DeviceEntry e;
    e.baseAddress = 0x7E0;
    e.serialNumber = 3000000000u;
    std::memcpy(e.displayName.data(), "qvm40", 6);
    EXPECT_EQ(deviceRowText(e), "0x7E0   qvm40  3000000000");
}

}  // namespace
}  // namespace qv
