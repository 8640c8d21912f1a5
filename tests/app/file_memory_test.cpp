// Files as people expect: folders remembered per kind of file, the recent configuration files,
// the name Save to PC proposes, and the Configuration window's use of them.
#include "app/file_memory.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app/config_tabs.h"
#include "app_rig.h"
#include "link/platform/settings_store.h"

namespace qv {
namespace {

using test::DialogRig;
using test::ScriptedUi;
using test::TempDir;

std::tm day(int year, int month, int mday) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = mday;
    return t;
}

FileDialogRequest requestFor(FileKind kind, std::string initial = {}) {
    FileDialogRequest r;
    r.kind = kind;
    r.initialPath = std::move(initial);
    return r;
}

TEST(FileMemory, EachKindStartsWhereItsLastFileWent) {
    TempDir dir;
    const std::string settings = dir.file("settings.ini");
    {
        SettingsStore s(settings);
        s.setValue(kWindowPositionsKey, "MainDlg(X)", "33");
        ASSERT_TRUE(s.save());
    }
    const std::string configs = dir.file("configs"), logs = dir.file("logs");
    std::filesystem::create_directories(configs);
    std::filesystem::create_directories(logs);
    ScriptedUi inner;
    RememberingFileDialogs ui(inner, settings);

    inner.fileAnswers = {configs + "/a.cfg", std::nullopt, logs + "/run.csv",
                         std::nullopt,       std::nullopt, std::nullopt};
    EXPECT_EQ(ui.fileDialog(requestFor(FileKind::Configuration, "0x400_1_2026-12-08.cfg")),
              configs + "/a.cfg");
    EXPECT_EQ(inner.dialogs[0].initialPath, "0x400_1_2026-12-08.cfg");  // nothing known yet
    ui.fileDialog(requestFor(FileKind::Configuration, "0x400_1_2026-12-08.cfg"));
    EXPECT_EQ(inner.dialogs[1].initialPath, configs + "/0x400_1_2026-12-08.cfg");
    ui.fileDialog(requestFor(FileKind::Log, "QVlog.csv"));  // another kind: its own folder
    EXPECT_EQ(inner.dialogs[2].initialPath, "QVlog.csv");
    ui.fileDialog(requestFor(FileKind::Log));
    EXPECT_EQ(inner.dialogs[3].initialPath, logs + "/");
    ui.fileDialog(requestFor(FileKind::Acquisition, "data.csv"));  // never chosen yet
    EXPECT_EQ(inner.dialogs[4].initialPath, "data.csv");
    // A path that names its folder keeps it.
    ui.fileDialog(requestFor(FileKind::Configuration, "/elsewhere/x.cfg"));
    EXPECT_EQ(inner.dialogs[5].initialPath, "/elsewhere/x.cfg");

    EXPECT_EQ(rememberedFolder(settings, FileKind::Configuration), configs);
    EXPECT_EQ(rememberedFolder(settings, FileKind::Log), logs);
    EXPECT_FALSE(rememberedFolder(settings, FileKind::Other));
    EXPECT_FALSE(rememberFolder(settings, FileKind::Other, "/tmp/x"));
    EXPECT_EQ(SettingsStore(settings).value(kWindowPositionsKey, "MainDlg(X)"), "33");
    // A folder removed since is not offered.
    std::filesystem::remove_all(logs);
    EXPECT_FALSE(rememberedFolder(settings, FileKind::Log));
}

TEST(FileMemory, RecentFilesNewestFirstEachOnceAtMostFive) {
    TempDir dir;
    const std::string settings = dir.file("settings.ini");
    EXPECT_TRUE(recentFiles(settings).empty());
    for (int i = 1; i <= 7; ++i) ASSERT_TRUE(addRecentFile(settings, dir.file(std::to_string(i))));
    ASSERT_TRUE(addRecentFile(settings, dir.file("5")));
    EXPECT_EQ(recentFiles(settings),
              (std::vector<std::string>{dir.file("5"), dir.file("7"), dir.file("6"), dir.file("4"),
                                        dir.file("3")}));
    ASSERT_TRUE(removeRecentFile(settings, dir.file("6")));
    EXPECT_EQ(recentFiles(settings).size(), 4u);
    EXPECT_EQ(recentFiles(settings)[1], dir.file("7"));
    // A relative path is kept whole.
    const std::string cwd = std::filesystem::current_path().string();
    ASSERT_TRUE(addRecentFile(settings, "rel.cfg"));
    EXPECT_EQ(recentFiles(settings).front(), cwd + "/rel.cfg");
    EXPECT_FALSE(addRecentFile("", "x.cfg"));  // no settings file: nothing kept
}

TEST(FileMemory, SaveProposesTheDeviceAndTheDate) {
    EXPECT_EQ(proposedConfigFileName(0x400, 123456, day(2026, 12, 8)),
              "0x400_123456_2026-12-08.cfg");
    EXPECT_EQ(proposedConfigFileName(0x20, std::nullopt, day(2027, 1, 31)), "0x020_2027-01-31.cfg");
    EXPECT_EQ(proposedConfigFileName(std::nullopt, std::nullopt, day(2026, 2, 3)),
              "config_2026-02-03.cfg");
}

class Host final : public ConfigTabsHost {
  public:
    explicit Host(std::string settings) : settings_(std::move(settings)) {}
    bool deviceSelected() const override { return false; }
    std::int32_t deviceType() const override { return 0; }
    bool startJob(const TransferJob&) override { return false; }
    ConfigFileHooks fileHooks() override { return {}; }
    std::string settingsPath() const override { return settings_; }

  private:
    std::string settings_;
};

// Save to PC proposes the name and keeps the file as the newest recent one; the File menu's
// recent file loads it again, and one that is gone is dropped from the list.
TEST(FileMemory, TheConfigurationWindowSavesAndLoadsRecentFiles) {
    TempDir dir;
    CConfigDataBank store;
    store.resetToDefaults();
    for (auto kind : {StructureKind::Public, StructureKind::Private, StructureKind::Motor})
        store.setValid(kind, true);
    store.publicConfig.canBaseAddress = 0x440;
    store.privateConfig.serialNumber = 765432;
    ScriptedUi ui;
    Host host(dir.file("settings.ini"));
    CConfigTabs tabs(store, ui, host);
    tabs.refresh();
    EXPECT_EQ(tabs.proposedFileName(day(2026, 12, 8)), "0x440_765432_2026-12-08.cfg");

    const std::string saved = dir.file("mine.cfg");
    ui.fileAnswers = {saved};
    tabs.onCommand(config_window_id::kSaveToPc);
    ASSERT_TRUE(std::filesystem::exists(saved));
    EXPECT_EQ(ui.dialogs.back().kind, FileKind::Configuration);
    EXPECT_TRUE(ui.dialogs.back().save);
    EXPECT_TRUE(ui.dialogs.back().initialPath.starts_with("0x440_765432_"))
        << ui.dialogs.back().initialPath;
    EXPECT_EQ(tabs.recentFiles(), std::vector<std::string>{saved});

    store.publicConfig.canBaseAddress = 0x460;
    const auto r = tabs.onCommand(config_window_id::kRecentFile1);
    EXPECT_TRUE(r.refreshed);
    EXPECT_EQ(+store.publicConfig.canBaseAddress, 0x440u);
    EXPECT_EQ(ui.dialogs.size(), 1u);  // no dialog for a recent file

    std::filesystem::remove(saved);
    tabs.onCommand(config_window_id::kRecentFile1);
    EXPECT_TRUE(tabs.recentFiles().empty());
    EXPECT_FALSE(ui.messages.empty());  // the loader said why
    EXPECT_FALSE(tabs.onCommand(config_window_id::kRecentFile1 + 4).refreshed);  // none there
}

// The main window's dialogs say what they are for.
TEST(FileMemory, TheMainWindowsDialogsNameTheirKind) {
    DialogRig rig;
    auto& dlg = rig.make();
    rig.announce(0x400, "KX01", 111);
    dlg.onTimer();
    dlg.onCommand(kCmdLogStartStop, true);  // Shift: choose the log's file
    dlg.onCommand(kCmdLoadFactoryFile);
    dlg.onCommand(kCmdConfiguration, true);  // Shift: no device, a file to load
    ASSERT_EQ(rig.ui.dialogs.size(), 3u);
    EXPECT_EQ(rig.ui.dialogs[0].kind, FileKind::Log);
    EXPECT_EQ(rig.ui.dialogs[1].kind, FileKind::Configuration);
    EXPECT_EQ(rig.ui.dialogs[2].kind, FileKind::Configuration);
}

}  // namespace
}  // namespace qv
