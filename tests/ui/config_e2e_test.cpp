// The configuration windows against the simulator over loopback: Tools > Configuration...
// downloads into the pages with the progress window up, "Save to QV" writes what was edited
// into the simulated controller after "Overwrite config?", and a cancelled transfer leaves the
// store as the controller's stream left it.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <cstring>

#include "app/menu_model.h"
#include "config/transfer_messages.h"
#include "config_rig.h"
#include "sim/controller_config.h"
#include "support/loopback.h"
#include "support/ports.h"

namespace qv {
namespace {

using test::ConfigRig;
using test::StoppableWorld;
using namespace general_id;

constexpr std::uint32_t kBase = 0x400;
constexpr std::uint32_t kSerial = 123456;

sim::Options worldOn(std::uint16_t port, const std::string& modes = {}) {
    sim::Options o;
    o.port = port;
    o.seed = 9;
    o.devices.push_back(sim::parseDevice("0x400:123456:KX01"));
    if (!modes.empty()) o.configModes.emplace_back(kBase, sim::parseConfigModes(modes));
    return o;
}

PublicConfig storedPublic(StoppableWorld& world) {
    const auto stream = world.storedStream(kBase, 0);
    PublicConfig p{};
    EXPECT_GE(stream.size(), kStreamHeaderSize + sizeof p);
    if (stream.size() >= kStreamHeaderSize + sizeof p)
        std::memcpy(&p, stream.data() + kStreamHeaderSize, sizeof p);
    return p;
}

struct Bench {
    explicit Bench(const std::string& modes = {})
        : port(test::freePort()), world(worldOn(port, modes)), rig(test::loopbackSettings(port)) {
        EXPECT_TRUE(rig.rig.waitUntil([&] { return rig.logic().monitor().selected().selected; }));
    }
    bool idle(int ms = 10000) {
        return rig.rig.waitUntil([&] { return !rig.logic().transferRunning(); }, ms);
    }
    std::uint16_t port;
    StoppableWorld world;
    ConfigRig rig;
};

TEST(ConfigWindowEndToEnd, DownloadEditAndSaveToTheController) {
    Bench b;
    ConfigRig& rig = b.rig;
    int furthest = 0;
    QObject::connect(rig.progress->bar(), &QProgressBar::valueChanged,
                     [&](int v) { furthest = std::max(furthest, v); });
    rig.logic().onCommand(kCmdConfiguration);
    ASSERT_TRUE(rig.rig.waitUntil([&] { return rig.window->isVisible(); }, 10000))
        << "the download did not open the window";
    EXPECT_TRUE(b.idle());
    // The stages of a full download, in order, and the window gone at its end.
    EXPECT_EQ(rig.progress->shownCaptions(),
              (QStringList{caption::kDownload, caption::kDownloadMaskPublic,
                           caption::kDownloadMaskPrivate, caption::kDownloadMaskMotor}));
    EXPECT_TRUE(rig.rig.waitUntil([&] { return !rig.progress->isVisible(); }));
    // The bar followed the bytes moved up to their end.
    EXPECT_EQ(furthest, rig.progress->bar()->maximum());
    // The controller's own identity on the page.
    EXPECT_EQ(rig.find<QLineEdit>(kSerialNumber)->text(), "123456");
    EXPECT_EQ(rig.find<QLineEdit>(kCanId)->text(), "0x400");

    rig.typeInto(rig.find<QLineEdit>(kVehicleMass), "1234");
    rig.answers.expect("Overwrite config?", MessageAnswer::Yes);
    rig.progress->clearShownCaptions();
    rig.window->runCommand(config_window_id::kSaveToQv);
    ASSERT_TRUE(rig.rig.waitUntil([&] { return rig.answers.scriptDone(); }, 10000));
    EXPECT_TRUE(b.idle());
    EXPECT_TRUE(rig.progress->shownCaptions().contains(caption::kUploadPublic));
    EXPECT_FALSE(rig.progress->shownCaptions().contains(caption::kUploadMotor))
        << "only the edited structure is written";
    // The question lists what changes on the controller, and nothing failed.
    const auto shown = rig.answers.shown();
    bool listed = false;
    for (const auto& s : shown) {
        if (s.request.text.find("Overwrite config?") != std::string::npos)
            listed = s.details.find("1234") != std::string::npos;
        EXPECT_NE(s.request.icon, MessageIcon::Error) << s.request.text;
    }
    EXPECT_TRUE(listed) << "the change is not in the question's details";
    EXPECT_FALSE(rig.store().isModified(StructureKind::Public));
    EXPECT_FLOAT_EQ(test::copyOf(storedPublic(b.world).vehicleMass), 1234.0f);
}

TEST(ConfigWindowEndToEnd, NoToOverwriteWritesNothingAndResetReachesTheController) {
    Bench b;
    ConfigRig& rig = b.rig;
    rig.logic().onCommand(kCmdConfiguration);
    ASSERT_TRUE(rig.rig.waitUntil([&] { return rig.window->isVisible(); }, 10000));
    ASSERT_TRUE(b.idle());
    const float before = rig.store().publicConfig.vehicleMass;
    rig.typeInto(rig.find<QLineEdit>(kVehicleMass), "777");
    rig.answers.expect("Overwrite config?", MessageAnswer::No);
    rig.window->runCommand(config_window_id::kSaveToQv);
    ASSERT_TRUE(rig.rig.waitUntil([&] { return rig.answers.scriptDone(); }, 10000));
    EXPECT_TRUE(b.idle());
    // What the user edited stays in the store, still to be written.
    EXPECT_TRUE(rig.store().isModified(StructureKind::Public));
    EXPECT_FLOAT_EQ(test::copyOf(rig.store().publicConfig.vehicleMass), 777.0f);

    rig.answers.clear();
    rig.rig.ui.answers = {MessageAnswer::Yes};  // "Reset the controller 0x400 ...?"
    rig.logic().onCommand(kCmdResetController);
    EXPECT_TRUE(b.idle());
    EXPECT_TRUE(rig.rig.ui.answers.empty());
    for (const auto& s : rig.answers.shown()) ADD_FAILURE() << "shown: " << s.request.text;
    // The controller goes silent for its restart and then reports again.
    EXPECT_TRUE(rig.rig.waitUntil([&] { return rig.logic().monitor().selected().selected; }));
    EXPECT_FLOAT_EQ(test::copyOf(storedPublic(b.world).vehicleMass), before);
}

TEST(ConfigWindowEndToEnd, CancelDuringAFlashWriteStopsBeforeTheNextStructure) {
    // The controller acknowledges each write late, so Cancel lands while public is flashed.
    Bench b("slow-flash");
    ConfigRig& rig = b.rig;
    rig.logic().onCommand(kCmdConfiguration);
    ASSERT_TRUE(rig.rig.waitUntil([&] { return rig.window->isVisible(); }, 10000));
    ASSERT_TRUE(b.idle());
    const std::vector<std::uint8_t> motorBefore = [&] {
        std::vector<std::uint8_t> m(sizeof(MotorConfig));
        std::memcpy(m.data(), &rig.store().motor[0], m.size());
        return m;
    }();
    rig.typeInto(rig.find<QLineEdit>(kVehicleMass), "555");
    rig.window->selectPage(2);
    rig.typeInto(rig.motorControl<QLineEdit>(0, motor_id::kPolePairs), "7");
    rig.answers.expect("Overwrite config?", MessageAnswer::Yes);
    rig.window->runCommand(config_window_id::kSaveToQv);
    ASSERT_TRUE(
        rig.rig.waitUntil([&] { return rig.progress->stage()->text() == caption::kFlash; }, 10000));
    ASSERT_TRUE(rig.progress->cancelButton()->isEnabled());
    rig.progress->cancelButton()->click();
    EXPECT_TRUE(rig.rig.waitUntil([&] { return !rig.progress->cancelButton()->isEnabled(); }));
    EXPECT_TRUE(b.idle(15000));
    EXPECT_TRUE(rig.rig.waitUntil([&] { return !rig.progress->isVisible(); }));
    EXPECT_FALSE(rig.progress->shownCaptions().contains(caption::kUploadMotor));
    // Public was acknowledged and is done; the motor edit is still to be written.
    EXPECT_FALSE(rig.store().isModified(StructureKind::Public));
    EXPECT_TRUE(rig.store().isModified(StructureKind::Motor));
    EXPECT_EQ(test::copyOf(rig.store().motor[0].polePairs), 7);
    const auto stored = b.world.storedStream(kBase, 2);
    ASSERT_GE(stored.size(), kStreamHeaderSize + motorBefore.size());
    EXPECT_TRUE(
        std::equal(motorBefore.begin(), motorBefore.end(), stored.begin() + kStreamHeaderSize))
        << "the motor records reached the controller after Cancel";
    EXPECT_FLOAT_EQ(test::copyOf(storedPublic(b.world).vehicleMass), 555.0f);
}

TEST(ConfigWindowEndToEnd, SavedFileLoadedAsFactoryFileWritesBackTheSameBytes) {
    Bench b;
    ConfigRig& rig = b.rig;
    rig.logic().onCommand(kCmdConfiguration);
    ASSERT_TRUE(rig.rig.waitUntil([&] { return rig.window->isVisible(); }, 10000));
    ASSERT_TRUE(b.idle());
    const std::string path = rig.rig.dir.file("backup.cfg");
    rig.answers.expectFile(path);
    rig.window->runCommand(config_window_id::kSaveToPc);
    rig.window->runCommand(config_window_id::kClose);
    // Every byte the file must bring back is scribbled over first.
    for (auto kind : {StructureKind::Public, StructureKind::Private, StructureKind::Motor})
        for (std::size_t i = 0; i < recordCount(kind); ++i) {
            const auto bytes = rig.store().recordBytes(kind, i);
            std::fill(bytes.begin(), bytes.end(), std::uint8_t{0x5A});
        }

    rig.rig.ui.fileAnswers.push_back(path);
    rig.answers.expect("Overwrite config?", MessageAnswer::Yes);
    rig.logic().onCommand(kCmdLoadFactoryFile);
    ASSERT_TRUE(rig.rig.waitUntil([&] { return rig.answers.scriptDone(); }, 10000));
    EXPECT_TRUE(b.idle());
    for (const auto& s : rig.answers.shown())
        EXPECT_NE(s.request.icon, MessageIcon::Error) << s.request.text;
    const auto captions = rig.progress->shownCaptions();
    for (const char* stage :
         {caption::kUploadPublic, caption::kUploadPrivate, caption::kUploadMotor})
        EXPECT_TRUE(captions.contains(stage)) << stage;
    // Every structure went through file and upload and came back as the controller held it,
    // but for what the pages showed otherwise: a BLDC record's page (every default record is
    // one) shows its Id range as 0 and the save stored what it showed.
    const sim::ControllerConfig fresh(kBase, kSerial, {});
    for (int kind = 0; kind < 3; ++kind) {
        auto expected = fresh.storedStream(kind);
        for (std::size_t i = 0; kind == 2 && i < kMotorCount; ++i) {
            const std::size_t at = kStreamHeaderSize + i * kMotorSize;
            std::fill_n(expected.begin() + static_cast<long>(at + offsetof(MotorConfig, minId)), 8,
                        0);
            const std::uint16_t sum = computeChecksum(std::span(expected).subspan(at, kMotorSize));
            expected[at] = static_cast<std::uint8_t>(sum & 0xFF);
            expected[at + 1] = static_cast<std::uint8_t>(sum >> 8);
        }
        EXPECT_EQ(b.world.storedStream(kBase, kind), expected) << "structure " << kind;
    }
}

}  // namespace
}  // namespace qv
