// The commissioning assistant's logic without its window: what its buttons and texts say as a
// pass goes, and why a pass stopped when the window went away.
#include "app/commission_assistant.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app_rig.h"

namespace qv {
namespace {

namespace fs = std::filesystem;

struct AssistantRig {
    AssistantRig() : port([this] { return std::make_unique<test::FakeClient>(client); }) {
        AssistantServices s;
        s.port = &port;
        s.ui = &ui;
        s.selectedDevice = [this] { return device; };
        // The port is closed: every transfer fails at once, on the calling thread.
        s.startWorkerTask = [](std::function<void()> task) {
            task();
            return true;
        };
        s.localTime = [] {
            std::tm t{};
            t.tm_year = 124;
            t.tm_mon = 4;
            t.tm_mday = 1;
            t.tm_hour = 14;
            t.tm_min = 3;
            t.tm_sec = 7;
            return t;
        };
        assistant = std::make_unique<CommissionAssistant>(s);
        device = AssistantDevice{};
        device->target.base = 0x400;
        device->target.serial = 123456;
        device->type = 0x4002;
    }

    test::TempDir dir;
    test::FakeClient::Log client;
    CBcan port;
    test::ScriptedUi ui;
    std::optional<AssistantDevice> device;
    std::unique_ptr<CommissionAssistant> assistant;
};

TEST(CommissionAssistant, OffersAFreshFolderAndStartsOnlyWithADevice) {
    AssistantRig rig;
    const char* home = std::getenv("HOME");
    const std::string saved = home ? home : "";
    ::setenv("HOME", rig.dir.path().c_str(), 1);
    rig.assistant->shown();
    ::setenv("HOME", saved.c_str(), 1);
    EXPECT_EQ(rig.assistant->choices().folder,
              rig.dir.path() + "/qvconfig/commissioning/0x400_123456_2024-05-01_14-03-07");
    EXPECT_EQ(rig.assistant->motorLines().size(), 10u);
    AssistantButtons b = rig.assistant->buttons();
    EXPECT_TRUE(b.next && b.choicesEditable && b.cancel);
    EXPECT_EQ(b.nextText, "Start");
    EXPECT_FALSE(rig.assistant->closeQuestion());

    rig.device.reset();
    rig.assistant->choices().folder = "kept";
    rig.assistant->shown();
    EXPECT_FALSE(rig.assistant->buttons().next);
    EXPECT_NE(rig.assistant->hint().find("No controller is selected"), std::string::npos);
    EXPECT_EQ(rig.assistant->choices().folder, "kept");  // a folder typed by the user stays
}

TEST(CommissionAssistant, AFolderThatHoldsAReportIsRefusedAndTheFirstPageStays) {
    AssistantRig rig;
    rig.assistant->shown();
    const fs::path used = fs::path(rig.dir.path()) / "used";
    fs::create_directories(used);
    std::ofstream(used / "report.html") << "earlier";
    rig.assistant->choices().folder = used.string();
    rig.assistant->pressNext(0);
    EXPECT_EQ(rig.assistant->page(), AssistantPage::Device);
    AssistantButtons b = rig.assistant->buttons();
    EXPECT_TRUE(b.next && b.choicesEditable);
    EXPECT_NE(rig.assistant->hint().find("already holds a commissioning report"),
              std::string::npos);
    EXPECT_EQ(std::ifstream(used / "report.html").peek(), 'e');  // left as it was

    // Another folder: a new pass starts (and here fails its download: the port is closed).
    rig.assistant->choices().folder = (fs::path(rig.dir.path()) / "fresh").string();
    rig.assistant->pressNext(0);
    rig.assistant->poll(1);
    ASSERT_NE(rig.assistant->pass(), nullptr);
    EXPECT_EQ(rig.assistant->page(), AssistantPage::Backup);
    b = rig.assistant->buttons();
    EXPECT_TRUE(b.retry && b.cancel && !b.next && !b.choicesEditable);
    EXPECT_NE(rig.assistant->hint().find("Could not open TCP connection"), std::string::npos);
    EXPECT_TRUE(rig.assistant->closeQuestion().has_value());
}

TEST(CommissionAssistant, TheWindowGoingStopsThePassAndSaysWhy) {
    for (const bool lost : {false, true}) {
        AssistantRig rig;
        rig.assistant->shown();
        rig.assistant->choices().folder = (fs::path(rig.dir.path()) / "pass").string();
        rig.assistant->pressNext(0);
        rig.assistant->poll(1);
        if (lost) rig.device->target.serial = 654321;  // another device is selected now
        rig.assistant->hidden(2);
        const CommissioningPass* pass = rig.assistant->pass();
        ASSERT_TRUE(pass && pass->finished());
        EXPECT_EQ(pass->record().stoppedAt, PassStep::Backup);
        EXPECT_NE(
            pass->record().stopReason.find(lost ? "0x400 123456 was lost" : "window was closed"),
            std::string::npos)
            << pass->record().stopReason;
        const AssistantButtons b = rig.assistant->buttons();
        EXPECT_TRUE(b.openReport && !b.cancel && !b.next && !b.retry);
        EXPECT_EQ(rig.assistant->page(), AssistantPage::Report);
        EXPECT_TRUE(fs::exists(rig.assistant->reportPath()));
        // Shown again: the first page, for the next pass.
        rig.assistant->shown();
        EXPECT_EQ(rig.assistant->pass(), nullptr);
    }
}

}  // namespace
}  // namespace qv
