// The Configuration window's logic over its three pages: what a failed "Load from PC" leaves,
// and the title that names where the configuration came from and marks unsaved changes.
#include <gtest/gtest.h>

#include <unistd.h>

#include <deque>
#include <filesystem>
#include <fstream>

#include "app/config_tabs.h"

namespace qv {
namespace {

using namespace general_id;
using namespace config_window_id;

struct Host : ConfigTabsHost {
    bool deviceSelected() const override { return false; }
    std::int32_t deviceType() const override { return 0x4002; }
    bool startJob(const TransferJob&) override { return false; }
    ConfigFileHooks fileHooks() override { return {}; }
};

struct Ui : UserInteraction {
    MessageAnswer messageBox(const MessageBoxRequest& r) override {
        shown.push_back(r.text);
        return MessageAnswer::Ok;
    }
    std::optional<std::string> fileDialog(const FileDialogRequest&) override {
        if (files.empty()) return std::nullopt;
        auto f = files.front();
        files.pop_front();
        return f;
    }
    std::vector<std::string> shown;
    std::deque<std::string> files;
};

struct ConfigTabsTest : ::testing::Test {
    ConfigTabsTest() {
        std::filesystem::create_directories(dir);
        store.resetToDefaults();
        store.markSaved();
    }
    ~ConfigTabsTest() override { std::filesystem::remove_all(dir); }
    // A file holding the defaults with this speed limit; `broken` spoils a checksum.
    std::string file(const std::string& name, float speedLimit, bool broken = false) {
        CConfigDataBank source;
        source.resetToDefaults();
        source.publicConfig.speedLimit = speedLimit;
        auto bytes = buildConfigFile(source);
        if (broken) bytes[40] ^= 1;
        const std::string path = (dir / name).string();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("qv_config_tabs_" + std::to_string(::getpid()));
    CConfigDataBank store;
    Ui ui;
    Host host;
    CConfigTabs tabs{store, ui, host};
};

TEST_F(ConfigTabsTest, AFailedLoadFromPcKeepsWhatWasTyped) {
    ASSERT_TRUE(tabs.refresh());
    tabs.general().editText(kSpeedLimit, "1234");
    ui.files = {file("broken.cfg", 4321, true)};
    EXPECT_FALSE(tabs.onCommand(kLoadFromPc).refreshed);
    EXPECT_EQ(ui.shown, std::vector<std::string>{"Config check sum does not match"});
    EXPECT_EQ(tabs.general().text(kSpeedLimit), "1234");
    // A good file replaces the pages.
    ui.files = {file("good.cfg", 4321)};
    EXPECT_TRUE(tabs.onCommand(kLoadFromPc).refreshed);
    EXPECT_EQ(tabs.general().text(kSpeedLimit), "4321");
    // The title names where the configuration came from, and nothing is unsaved.
    EXPECT_EQ(tabs.title(), "Configuration - good.cfg");
    tabs.general().editText(kSpeedLimit, "4000");
    EXPECT_EQ(tabs.title(), "Configuration - good.cfg *");
}

}  // namespace
}  // namespace qv
