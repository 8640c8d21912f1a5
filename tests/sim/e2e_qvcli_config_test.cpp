// qvcli download, upload, reset and diff against the simulator as separate programs: result
// lines, questions answered on the terminal, the change list before "Overwrite config?", and
// files that are written whole or not at all.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "config/config_file.h"
#include "support/ports.h"
#include "support/process.h"

namespace qv {
namespace {

namespace fs = std::filesystem;

struct QuietUi : UserInteraction {
    MessageAnswer messageBox(const MessageBoxRequest&) override { return MessageAnswer::Yes; }
    std::optional<std::string> fileDialog(const FileDialogRequest&) override {
        return std::nullopt;
    }
};

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class QvcliConfig : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("qv_cli_config_" + std::to_string(::getpid()) + "_" +
                                            std::to_string(test::freePort()));
        fs::create_directories(dir_ / "cache");
        // Keep the copies of last downloads out of the user's own cache.
        ::setenv("QV_CACHE_DIR", (dir_ / "cache").c_str(), 1);
    }
    void TearDown() override {
        sim_.reset();
        fs::remove_all(dir_);
    }
    // Starts the simulator with these controllers ("BASE:SERIAL:PRODUCT") and options.
    void startSim(const std::vector<std::string>& devices, std::vector<std::string> extra = {}) {
        port_ = test::freePort();
        std::vector<std::string> args{"--port", std::to_string(port_)};
        for (const auto& d : devices) args.insert(args.end(), {"--device", d});
        args.insert(args.end(), extra.begin(), extra.end());
        sim_ = std::make_unique<test::BackgroundProcess>(QV_SIM_PATH, args, "qvsim ready");
        ASSERT_TRUE(sim_->ready());
    }
    test::ProcessResult cli(std::vector<std::string> args, const std::string& input = "") {
        args.insert(args.begin() + 1,
                    {"--interface", "127.0.0.1", "--port", std::to_string(port_)});
        return test::runProcess(QV_CLI_PATH, args, 20000, input);
    }
    // Commands that do not reach the bus.
    static test::ProcessResult offline(const std::vector<std::string>& args) {
        return test::runProcess(QV_CLI_PATH, args);
    }
    fs::path path(const std::string& name) const { return dir_ / name; }

    fs::path dir_;
    std::uint16_t port_ = 0;
    std::unique_ptr<test::BackgroundProcess> sim_;
};

TEST_F(QvcliConfig, DownloadsUploadsAndResetsOneController) {
    startSim({"0x400:123456:KX01"});
    const auto file = path("backup.cfg");
    const auto down = cli({"download", "-o", file.string()});
    ASSERT_EQ(down.exitCode, 0) << down.err;
    EXPECT_EQ(down.out, "0x400 123456 ok " + file.string() + "\n");
    EXPECT_EQ(fs::file_size(file), kConfigFileSize);
    CConfigDataBank loaded;
    QuietUi quiet;
    ASSERT_TRUE(loadConfigFile(loaded, file.string(), quiet, true, true));
    EXPECT_EQ(+loaded.privateConfig.serialNumber, 123456u);
    EXPECT_EQ(+loaded.readOnly.firmwareBuild, 4711u);

    // Answering No to the last question: nothing is written, exit 1.
    const auto no = cli({"upload", file.string(), "--device", "0x400"}, "n\n");
    EXPECT_EQ(no.exitCode, 1);
    EXPECT_NE(no.err.find("qvcli upload: Upload: Overwrite config? [y/n]"), std::string::npos)
        << no.err;
    EXPECT_NE(no.err.find("no field differs"), std::string::npos) << no.err;
    EXPECT_EQ(no.out, "0x400 123456 not uploaded: declined \"Overwrite config?\"\n");

    const auto yes = cli({"upload", file.string()}, "y\n");
    ASSERT_EQ(yes.exitCode, 0) << yes.err;
    EXPECT_EQ(yes.out, "0x400 123456 ok public private motor\n");

    // The upload read the configuration back once the controller was back from its restart.
    EXPECT_NE(yes.err.find("Overwrite config? [y/n]"), std::string::npos);
    const auto reset = cli({"reset", "--device", "0x400"});
    EXPECT_EQ(reset.exitCode, 0) << reset.err;
    EXPECT_EQ(reset.out, "0x400 123456 ok reset\n");
}

TEST_F(QvcliConfig, UploadShowsWhatChangesAndAsksAboutAnotherController) {
    startSim({"0x440:654321:KX01"});
    const auto file = path("other.cfg");
    ASSERT_EQ(cli({"download", "-o", file.string()}).exitCode, 0);
    CConfigDataBank store;
    QuietUi quiet;
    ASSERT_TRUE(loadConfigFile(store, file.string(), quiet, true, true));
    store.publicConfig.speedLimit = 6000.0f;
    store.privateConfig.serialNumber = 123456;
    const auto edited = path("edited.cfg");
    ASSERT_TRUE(saveConfigFile(store, edited.string(), quiet));

    const auto cancel = cli({"upload", edited.string()}, "cancel\n");
    EXPECT_EQ(cancel.exitCode, 1);
    EXPECT_NE(cancel.err.find("Overwrite config for controller 654321 with config for controller "
                              "123456. [ok/cancel]"),
              std::string::npos)
        << cancel.err;

    const auto no = cli({"upload", edited.string()}, "ok\nn\n");
    EXPECT_EQ(no.exitCode, 1);
    const auto changes = no.err.find("public.speedLimit: 5000 -> 6000\n");
    const auto serial = no.err.find("private.serialNumber: 654321 -> 123456\n");
    const auto question = no.err.find("Overwrite config? [y/n]");
    ASSERT_NE(changes, std::string::npos) << no.err;
    ASSERT_NE(serial, std::string::npos) << no.err;
    EXPECT_LT(changes, question);

    const auto yes = cli({"upload", edited.string(), "--yes"});
    EXPECT_EQ(yes.exitCode, 0) << yes.err;
    EXPECT_NE(yes.err.find("Overwrite config? [y/n] y"), std::string::npos);
}

TEST_F(QvcliConfig, UploadIsOkOnlyWhenTheControllerReadsBackWhatWasWritten) {
    startSim({"0x400:123456:KX01"}, {"--config", "0x400:flip-byte"});
    const auto file = path("backup.cfg");
    ASSERT_EQ(cli({"download", "-o", file.string()}).exitCode, 0);
    const auto checked = cli({"upload", file.string(), "--yes"});
    EXPECT_EQ(checked.exitCode, 1);
    EXPECT_EQ(checked.out,
              "0x400 123456 failed: Read-back verification failed: the controller holds other "
              "values than were written in public speedLimit, private baseVoltage, motor[0] "
              "lineInductance.\n");
    EXPECT_NE(checked.err.find("qvcli upload: Upload verification: "), std::string::npos);
    const auto unchecked = cli({"upload", file.string(), "--yes", "--no-verify"});
    EXPECT_EQ(unchecked.exitCode, 0) << unchecked.err;
    EXPECT_EQ(unchecked.out, "0x400 123456 ok public private motor\n");
}

TEST_F(QvcliConfig, DownloadAllWritesOneFilePerControllerAndReportsEach) {
    startSim({"0x400:123456:KX01", "0x440:654321:KX02"}, {"--config", "0x400:v201"});
    const auto all = cli({"download", "--all", "-o", dir_.string()});
    ASSERT_EQ(all.exitCode, 0) << all.err;
    // Each controller is a selection of its own: the version-201 one's newer-version notice is
    // not repeated for the version-200 one after it.
    const std::string notice = "Have downloaded a newer config version.";
    const auto first = all.err.find(notice);
    ASSERT_NE(first, std::string::npos) << all.err;
    EXPECT_EQ(all.err.find(notice, first + 1), std::string::npos) << all.err;
    EXPECT_EQ(all.out, "0x400 123456 ok " + path("0x400_123456.cfg").string() +
                           "\n0x440 654321 ok " + path("0x440_654321.cfg").string() + "\n");
    const auto same =
        offline({"diff", path("0x400_123456.cfg").string(), path("0x400_123456.cfg").string()});
    EXPECT_EQ(same.exitCode, 0);
    EXPECT_EQ(same.out, "");
    const auto differ =
        offline({"diff", path("0x400_123456.cfg").string(), path("0x440_654321.cfg").string()});
    EXPECT_EQ(differ.exitCode, 1);
    EXPECT_EQ(differ.out,
              "public canBaseAddress 0x400 0x440\nprivate serialNumber 123456 654321\n");
    const auto missing =
        offline({"diff", path("0x400_123456.cfg").string(), path("none.cfg").string()});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_NE(missing.err.find("The file could not be located"), std::string::npos);
}

TEST_F(QvcliConfig, AFailedDownloadLeavesTheFileAsItWas) {
    startSim({"0x400:123456:KX01", "0x440:654321:KX01"}, {"--config", "0x440:corrupt-motor"});
    const auto file = path("keep.cfg");
    { std::ofstream(file) << "an older backup"; }
    const auto failed = cli({"download", "--device", "0x440", "-o", file.string()});
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_EQ(failed.out, "0x440 654321 failed: Motor Config checksum mismatch\n");
    EXPECT_NE(failed.err.find("qvcli download: Download: Motor Config checksum mismatch"),
              std::string::npos);
    EXPECT_EQ(readFile(file), "an older backup");

    const auto folder = path("all");
    fs::create_directories(folder);
    const auto all = cli({"download", "--all", "-o", folder.string()});
    EXPECT_EQ(all.exitCode, 1);
    EXPECT_NE(all.out.find("0x400 123456 ok"), std::string::npos);
    EXPECT_NE(all.out.find("0x440 654321 failed: Motor Config checksum mismatch"),
              std::string::npos);
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
    EXPECT_EQ(names, std::vector<std::string>{"0x400_123456.cfg"});
}

// The status message's configuration error puts the download in recovery mode.
TEST_F(QvcliConfig, ControllerWithoutUsableConfigurationIsDownloadedFromItsRecoveryImage) {
    startSim({"0x400:123456:KX01"}, {"--config", "0x400:recovery"});
    const auto file = path("recovered.cfg");
    const auto down = cli({"download", "-o", file.string()});
    ASSERT_EQ(down.exitCode, 0) << down.err;
    EXPECT_NE(down.err.find("qvcli download: Download: Have downloaded an older config version"),
              std::string::npos)
        << down.err;
    EXPECT_EQ(fs::file_size(file), kConfigFileSize);
}

TEST_F(QvcliConfig, UsageErrorsAndMissingDevices) {
    startSim({"0x400:123456:KX01"});
    EXPECT_EQ(cli({"download"}).exitCode, 2);
    EXPECT_EQ(cli({"download", "--all", "--device", "0x400", "-o", dir_.string()}).exitCode, 2);
    EXPECT_EQ(cli({"upload"}).exitCode, 2);
    EXPECT_EQ(cli({"reset", "--device", "0x401"}).exitCode, 2);
    EXPECT_EQ(offline({"diff", "a.cfg"}).exitCode, 2);
    const auto absent = cli({"reset", "--device", "0x7C0"});
    EXPECT_EQ(absent.exitCode, 1);
    EXPECT_NE(absent.err.find("no device announces itself at 0x7C0"), std::string::npos);
}

}  // namespace
}  // namespace qv
