// The commissioning pass against simulated controllers whose motors the tests choose: what it
// finds and writes agrees with the motor's truth within the tools' accuracy, only the
// commissioned record changes, and every way it can stop leaves the controller as it was with a
// report that says where and why.
#include <gtest/gtest.h>

#include <unistd.h>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "config/config_file.h"
#include "config/transfer_messages.h"
#include "config_transfer_rig.h"
#include "sim/commissioning_motor.h"
#include "sim/controller_config.h"
#include "support/ports.h"
#include "support/process.h"
#include "tools/acquisition_csv.h"
#include "tools/commissioning_pass.h"
#include "tools/commissioning_report.h"
#include "tools/im_sample_file.h"

namespace qv {
namespace {

namespace fs = std::filesystem;

double nowMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

// The transfers on a thread of their own, as the window's worker runs them.
class ThreadWorker final : public PassWorker {
  public:
    ~ThreadWorker() override { join(); }
    bool start(std::function<void()> work) override {
        if (busy_) return false;
        join();
        busy_ = true;
        thread_ = std::thread([this, work = std::move(work)] {
            work();
            busy_ = false;
        });
        return true;
    }
    void join() {
        if (thread_.joinable()) thread_.join();
    }

  private:
    std::thread thread_;
    std::atomic<bool> busy_{false};
};

// Keeps the charts' titles instead of drawing them.
class TitleRenderer final : public PlotRenderer {
  public:
    bool writePng(const PlotFigure& figure, const std::string& path, std::string*) override {
        std::ofstream(path) << figure.axes.xTitle << "\n" << figure.axes.yTitle << "\n";
        titles.push_back(figure.axes.xTitle + " / " + figure.axes.yTitle);
        return true;
    }
    std::vector<std::string> titles;
};

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

fs::path freshFolder(const std::string& name) {
    const fs::path p =
        fs::temp_directory_path() / ("qv_pass_" + std::to_string(getpid()) + "_" + name);
    fs::remove_all(p);
    return p;
}

std::string value(const StepRecord& r, const std::string& name) {
    for (const PassValue& v : r.values)
        if (v.name == name) return v.value;
    return "(no " + name + ")";
}

struct PassRun {
    test::TransferRig rig;
    // Holds "Overwrite config?" open (until `released`, at most 5 s) when `hold`, as a
    // user who cancels before answering it would.
    class QuestionGate final : public UserInteraction {
      public:
        explicit QuestionGate(UserInteraction& ui) : ui_(ui) {}
        MessageAnswer messageBox(const MessageBoxRequest& request) override {
            return ui_.messageBox(request);
        }
        MessageAnswer messageBoxWithDetails(const MessageBoxRequest& request,
                                            const std::string& details) override {
            if (hold && request.text.find("Overwrite config?") != std::string::npos) {
                asked = true;
                for (int i = 0; i < 5000 && !released; ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            return ui_.messageBoxWithDetails(request, details);
        }
        std::optional<std::string> fileDialog(const FileDialogRequest& request) override {
            return ui_.fileDialog(request);
        }
        std::atomic<bool> hold{false}, asked{false}, released{false};

      private:
        UserInteraction& ui_;
    } gate{rig.ui};
    ThreadWorker worker;
    TitleRenderer renderer;
    fs::path folder;
    std::unique_ptr<CommissioningPass> pass;

    // `config`: the controller's configuration modes ("flip-byte" ...).
    PassRun(const sim::CommissioningOptions& motor, const std::string& name, int record,
            std::optional<int> type, const std::string& config = "")
        : rig(config, 0, test::kRigSerial, motor), folder(freshFolder(name)) {
        PassServices s;
        s.port = &rig.can;
        s.ui = &gate;
        s.worker = &worker;
        s.fitRunner = [] { return std::make_unique<ThreadFitRunner>(); };
        s.plots = &renderer;
        PassSetup setup;
        setup.target = rig.target;
        setup.deviceType = 0x4002;
        setup.motor = record;
        setup.motorType = type;
        setup.folder = folder.string();
        setup.programVersion = "test";
        pass = std::make_unique<CommissioningPass>(s, setup);
    }
    ~PassRun() { fs::remove_all(folder); }

    // As qvcli runs it; `turn` runs on every turn of the loop. At most 30 s.
    // The controller has 100 ms to answer an acquisition's request, a deadline that a machine
    // busy with other tests misses now and then: such a step is run again once, as the user
    // would press Retry (no test here expects a silent controller).
    void run(const std::function<void(CommissioningPass&)>& turn = {}) {
        const double limit = nowMs() + 30000;
        bool retried = false;
        runPassHeadless(*pass, rig.can, nowMs, [&] {
            const StepRecord& shown = pass->record().at(pass->step());
            if (!retried && !pass->busy() && pass->outcome() == StepOutcome::Failed &&
                pass->canRetry() &&
                (shown.summary + shown.text).find("No reply from the controller") !=
                    std::string::npos) {
                retried = true;
                pass->retry(nowMs());
                return;
            }
            if (turn) turn(*pass);
            if (nowMs() > limit) pass->cancel("test time-out", nowMs());
        });
        worker.join();
    }

    std::unique_ptr<CConfigDataBank> load(const char* name) {
        auto store = std::make_unique<CConfigDataBank>();
        store->resetToDefaults();
        EXPECT_TRUE(loadConfigFile(*store, (folder / name).string(), rig.ui, true, true)) << name;
        return store;
    }
};

double circularDegrees(double fractionA, double fractionB) {
    const double d = std::fmod((fractionA - fractionB) * 360 + 540, 360.0);
    return std::fabs((d < 0 ? d + 360 : d) - 180);
}

struct Truth {
    const char* name;
    sim::SimMotor motor;
    int record;
    std::optional<int> type;
};

void PrintTo(const Truth& t, std::ostream* os) {
    *os << t.name;
}

sim::SimMotor bldc() {
    sim::SimMotor m;
    m.phasesReversed = true;
    m.hallWiring = {2, 0, 1};
    m.hallShiftDegrees = 12;
    m.resistanceOhm = 0.12;
    m.inductanceHenry = 350e-6;
    return m;
}

sim::SimMotor ipmWithPositionSensor() {
    sim::SimMotor m;
    m.sensorMode = 3;
    m.poleRatio = -5;
    m.hallWiring = {1, 2, 0};
    m.resistanceOhm = 0.03;
    m.inductanceHenry = 60e-6;
    m.viPoints = 11;
    return m;
}

sim::SimMotor induction() {
    sim::SimMotor m;
    m.resistanceOhm = 0.1;
    m.rotorResistanceOhm = 0.08;
    m.leakageInductanceHenry = 1e-3;
    m.magnetisingInductanceHenry = 0.02;
    return m;
}

class PassAgainstTruth : public ::testing::TestWithParam<Truth> {};

TEST_P(PassAgainstTruth, WritesWhatTheMotorIsAndOnlyIntoItsRecord) {
    const Truth& t = GetParam();
    sim::CommissioningOptions options;
    options.motor = t.motor;
    PassRun run(options, t.name, t.record, t.type);
    run.rig.ui.expect("Overwrite config?", MessageAnswer::Yes);
    run.run();
    const PassRecord& r = run.pass->record();
    ASSERT_TRUE(r.complete) << passStepName(r.stoppedAt.value_or(PassStep::Report)) << ": "
                            << r.stopReason;
    EXPECT_TRUE(run.rig.ui.scriptDone());
    // The upload's question listed the changes against the backup.
    ASSERT_EQ(run.rig.ui.details().size(), 1u);
    EXPECT_NE(run.rig.ui.details()[0].find("motor[" + std::to_string(t.record) + "]"),
              std::string::npos);

    // after.cfg (as read back) differs from before.cfg in the commissioned record only, and in
    // exactly the fields the review listed.
    const auto before = run.load(pass_file::kBefore);
    const auto after = run.load(pass_file::kAfter);
    const auto changes = diffConfigs(*before, *after);
    ASSERT_FALSE(changes.empty());
    ASSERT_EQ(changes.size(), r.changes.size());
    for (std::size_t i = 0; i < changes.size(); ++i) {
        EXPECT_EQ(changes[i].record, "motor[" + std::to_string(t.record) + "]");
        EXPECT_EQ(changes[i].field, r.changes[i].field);
        EXPECT_EQ(changes[i].b, r.changes[i].b);
    }
    const MotorConfig& m = after->motor[static_cast<std::size_t>(t.record)];
    if (t.type) {
        EXPECT_EQ(+m.motorType, *t.type);
    }

    // The phases: the wiring as the simulator made it.
    const sim::MotorModel model(t.motor);
    EXPECT_EQ(+m.phaseSequenceReversed, t.motor.phasesReversed ? 1 : 0);
    EXPECT_EQ(value(r.at(PassStep::Phases), "Phase order").substr(0, 5),
              t.motor.phasesReversed ? "A-C-B" : "A-B-C");
    const auto truth = model.hallTable();
    const bool halls = t.motor.hallsFitted();
    const double tolerance = 2.5 * 360 * t.motor.speedHz / 1000;
    for (int s = 0; s < 8 && halls; ++s) {
        const auto& e = truth[static_cast<std::size_t>(s)];
        EXPECT_EQ(+m.hallPrevious[s], e.previous) << "state " << s;
        if (e.previous != s) {
            EXPECT_LE(circularDegrees(m.hallAngle[s], e.angle), tolerance) << "state " << s;
        }
    }
    if (t.motor.sensorMode == 3) {
        EXPECT_NE(value(r.at(PassStep::Phases), "Result list")
                      .find("Pole ratio:\n " + std::to_string(model.poleRatio())),
                  std::string::npos)
            << value(r.at(PassStep::Phases), "Result list");
    }

    // The parameters within the tools' accuracy, in the report and as read back.
    const StepRecord& params = r.at(PassStep::Parameters);
    const std::string html = readFile(run.folder / pass_file::kReport);
    const auto reported = [&](const std::string& name, double truth, double tolerance) {
        const std::string text = value(params, name);
        EXPECT_NE(html.find(htmlEscape(text)), std::string::npos) << name;
        EXPECT_NEAR(std::stod(text), truth, tolerance * truth) << name << ": " << text;
    };
    if (t.type == motor_type::kInduction) {
        reported("Rotor resistance written", t.motor.rotorResistanceOhm, 0.05);
        reported("Magnetising inductance written", t.motor.magnetisingInductanceHenry, 0.05);
        EXPECT_NEAR(m.rotorResistance, t.motor.rotorResistanceOhm,
                    0.05 * t.motor.rotorResistanceOhm);
        EXPECT_NEAR(m.rotorInductance, t.motor.magnetisingInductanceHenry,
                    0.05 * t.motor.magnetisingInductanceHenry);
        const std::string samples = readFile(run.folder / "im_sweep.txt");
        EXPECT_EQ(parseImSampleFile(samples, ImModel::FrequencyResponse).currentA.size(),
                  static_cast<std::size_t>(t.motor.imFrameCount()));
    } else {
        reported("Resistance", t.motor.resistanceOhm, 0.02);
        reported("Inductance", t.motor.inductanceHenry, 0.02);
        EXPECT_NEAR(m.lineResistance, t.motor.resistanceOhm, 0.02 * t.motor.resistanceOhm);
        EXPECT_NEAR(m.lineInductance, t.motor.inductanceHenry, 0.02 * t.motor.inductanceHenry);
        // The raw file gives the same result again (as qvcli fit-pm would).
        const auto pm = loadPmCsv((run.folder / "pm.csv").string());
        ASSERT_TRUE(pm.value) << pm.error;
        EXPECT_EQ(analysePm(*pm.value).resistanceText,
                  value(r.at(PassStep::Parameters), "Resistance (phase to neutral)"));
    }
    const auto phases = loadPhaseCsv((run.folder / "phases.csv").string());
    ASSERT_TRUE(phases.value) << phases.error;
    EXPECT_TRUE(analysePhases(*phases.value).success());

    // The report: complete, every chart drawn with both axes labelled.
    EXPECT_NE(html.find("Commissioned: motor record " + std::to_string(t.record) +
                        " written and verified"),
              std::string::npos);
    for (const StepRecord& s : r.steps)
        for (const PassPlot& p : s.plots) {
            EXPECT_TRUE(fs::exists(run.folder / p.file)) << p.title;
            EXPECT_NE(html.find("<img src=\"" + p.file + "\""), std::string::npos);
        }
    EXPECT_GE(run.renderer.titles.size(), 3u);
    for (const std::string& title : run.renderer.titles)
        EXPECT_TRUE(title.find(" / ") > 0 && title.back() != ' ') << "unlabelled axis: " << title;
}

INSTANTIATE_TEST_SUITE_P(
    Motors, PassAgainstTruth,
    ::testing::Values(Truth{"BldcHallsReversed", bldc(), 3, std::nullopt},
                      Truth{"IpmPositionSensor", ipmWithPositionSensor(), 7, motor_type::kIpm},
                      Truth{"InductionSweep", induction(), 1, motor_type::kInduction}),
    [](const ::testing::TestParamInfo<Truth>& info) { return std::string(info.param.name); });

// ---- every way the pass stops short ----

struct StopPath {
    const char* name;
    std::function<void(sim::CommissioningOptions&)> motor;
    // Acts on every turn of the driver's loop.
    std::function<void(CommissioningPass&, test::TransferRig&)> turn;
    std::optional<MessageAnswer> overwrite;  // the answer to "Overwrite config?", if asked
    PassStep stoppedAt;
    const char* reason;
    bool cancelAtQuestion = false;  // cancels while "Overwrite config?" waits for its answer
};

void PrintTo(const StopPath& p, std::ostream* os) {
    *os << p.name;
}

// Cancels once the pass shows `step` (while it waits for the controller's frames, when
// `acquiring`).
std::function<void(CommissioningPass&, test::TransferRig&)> cancelAt(PassStep step,
                                                                     bool acquiring) {
    return [step, acquiring](CommissioningPass& pass, test::TransferRig&) {
        if (pass.step() == step && (!acquiring || pass.wantedIdentifier()))
            pass.cancel({}, nowMs());
    };
}

// Cancels while the transfer's progress window shows `stage`.
std::function<void(CommissioningPass&, test::TransferRig&)> cancelWhileShowing(const char* stage) {
    return [stage](CommissioningPass& pass, test::TransferRig&) {
        if (pass.busy() && pass.transferProgress().caption == stage) pass.cancel({}, nowMs());
    };
}

class PassStops : public ::testing::TestWithParam<StopPath> {};

TEST_P(PassStops, LeavesTheControllerAsItWasAndSaysWhereAndWhy) {
    const StopPath& p = GetParam();
    sim::CommissioningOptions options;
    if (p.motor) p.motor(options);
    PassRun run(options, p.name, 4, std::nullopt);
    run.gate.hold = p.cancelAtQuestion;
    if (p.overwrite) run.rig.ui.expect("Overwrite config?", *p.overwrite);
    run.run([&](CommissioningPass& pass) {
        if (p.turn) p.turn(pass, run.rig);
        if (run.gate.asked && !run.gate.released) {
            pass.cancel({}, nowMs());
            run.gate.released = true;
        }
    });
    const PassRecord& r = run.pass->record();
    ASSERT_FALSE(r.complete);
    ASSERT_TRUE(r.stoppedAt.has_value());
    EXPECT_EQ(passStepName(*r.stoppedAt), std::string(passStepName(p.stoppedAt)));
    EXPECT_NE(r.stopReason.find(p.reason), std::string::npos) << r.stopReason;
    EXPECT_FALSE(run.pass->written());
    EXPECT_TRUE(run.rig.ui.scriptDone());

    // The controller holds the configuration it started with, byte for byte.
    for (int kind = 0; kind < 3; ++kind)
        EXPECT_EQ(run.rig.storedStream(kind),
                  sim::ControllerConfig(test::kRigBase, test::kRigSerial, {}).storedStream(kind))
            << "structure " << kind;
    if (p.stoppedAt == PassStep::Device) {
        // Cancelled before it started: nothing was recorded, no folder made.
        EXPECT_FALSE(fs::exists(run.folder));
        return;
    }
    const std::string html = readFile(run.folder / pass_file::kReport);
    EXPECT_NE(html.find(std::string("INCOMPLETE: stopped at ") + passStepTitle(p.stoppedAt) + ": " +
                        htmlEscape(r.stopReason)),
              std::string::npos)
        << html.substr(0, 2000);
    // What was recorded so far stays.
    if (r.at(PassStep::Backup).outcome == StepOutcome::Succeeded) {
        EXPECT_TRUE(fs::exists(run.folder / pass_file::kBefore));
    }
    if (r.at(PassStep::Phases).outcome == StepOutcome::Succeeded) {
        EXPECT_TRUE(fs::exists(run.folder / "phases.csv"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Paths, PassStops,
    ::testing::Values(StopPath{"FailedPhaseAnalysis",
                               [](auto& o) { o.motor.sensorMode = 4; },
                               {},
                               {},
                               PassStep::Phases,
                               "FAILED: sensor mode 4"},
                      StopPath{"UnusableFit",
                               [](auto& o) { o.motor.viPoints = 1; },
                               {},
                               {},
                               PassStep::Parameters,
                               "no usable"},
                      StopPath{"NoAtOverwrite",
                               {},
                               {},
                               MessageAnswer::No,
                               PassStep::Write,
                               "declined \"Overwrite config?\""},
                      StopPath{"DeviceLostBeforeTheWrite",
                               {},
                               [](CommissioningPass& pass, test::TransferRig& rig) {
                                   if (pass.step() == PassStep::Review && !pass.busy() &&
                                       pass.outcome() == StepOutcome::Succeeded)
                                       rig.sim.world().post("silence 0x400");
                               },
                               {},
                               PassStep::Write,
                               "Could not read the config version"},
                      StopPath{"CancelAtDevice",
                               {},
                               cancelAt(PassStep::Device, false),
                               {},
                               PassStep::Device,
                               "cancelled by the user"},
                      StopPath{"CancelDuringBackup",
                               {},
                               cancelAt(PassStep::Backup, false),
                               {},
                               PassStep::Backup,
                               "cancelled by the user"},
                      StopPath{"CancelDuringPhases",
                               {},
                               cancelAt(PassStep::Phases, true),
                               {},
                               PassStep::Phases,
                               "cancelled by the user"},
                      StopPath{"CancelDuringParameters",
                               {},
                               cancelAt(PassStep::Parameters, true),
                               {},
                               PassStep::Parameters,
                               "cancelled by the user"},
                      StopPath{"CancelAtReview",
                               {},
                               cancelAt(PassStep::Review, false),
                               {},
                               PassStep::Review,
                               "cancelled by the user"},
                      StopPath{"CancelWhileAskingToOverwrite",
                               {},
                               {},
                               MessageAnswer::Yes,
                               PassStep::Write,
                               "cancelled by the user",
                               true}),
    [](const ::testing::TestParamInfo<StopPath>& info) { return std::string(info.param.name); });

// A controller that stores something other than was written: the verification names the field,
// the pass fails there, and after.cfg shows what the controller holds.
TEST(PassVerification, AControllerThatStoresSomethingElseFailsAtTheVerification) {
    PassRun run({}, "flip", 0, std::nullopt, "flip-byte");
    run.rig.ui.expect("Overwrite config?", MessageAnswer::Yes);
    run.run();
    const PassRecord& r = run.pass->record();
    EXPECT_FALSE(r.complete);
    EXPECT_TRUE(run.pass->written());
    ASSERT_EQ(r.stoppedAt, PassStep::Verify);
    EXPECT_EQ(r.stopReason,
              "the controller holds other values than were written in motor[0] lineInductance");
    EXPECT_EQ(value(r.at(PassStep::Verify), "motor[0] lineInductance").rfind("written ", 0), 0u);
    const float after = run.load(pass_file::kAfter)->motor[0].lineInductance;
    const float before = run.load(pass_file::kBefore)->motor[0].lineInductance;
    EXPECT_NE(after, before);
    EXPECT_NE(readFile(run.folder / pass_file::kReport)
                  .find("INCOMPLETE: stopped at Verification: the controller holds other values"),
              std::string::npos);
}

// Cancelled while it waits for the controller to restart: the record is written, the pass says it
// was not verified, and no after.cfg pretends to show what the controller holds.
TEST(PassVerification, ACancelWhileVerifyingSaysTheRecordWasWrittenButNotVerified) {
    PassRun run({}, "cancel-verify", 5, std::nullopt);
    run.rig.ui.expect("Overwrite config?", MessageAnswer::Yes);
    const auto cancel = cancelWhileShowing(caption::kVerifyWait);
    run.run([&](CommissioningPass& pass) { cancel(pass, run.rig); });
    const PassRecord& r = run.pass->record();
    EXPECT_FALSE(r.complete);
    EXPECT_TRUE(run.pass->written());
    ASSERT_EQ(r.stoppedAt, PassStep::Verify);
    EXPECT_EQ(r.at(PassStep::Verify).outcome, StepOutcome::Cancelled);
    EXPECT_EQ(r.stopReason, "cancelled by the user; motor record 5 was written but not verified");
    EXPECT_FALSE(fs::exists(run.folder / pass_file::kAfter));
    EXPECT_NE(readFile(run.folder / pass_file::kReport)
                  .find("INCOMPLETE: stopped at Verification: cancelled by the user"),
              std::string::npos);
}

// ---- qvcli commission ----

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

TEST(QvcliCommission, OneLinePerStepThenTheVerdictAndExitZeroOnlyWhenVerified) {
    const std::uint16_t port = test::freePort();
    test::BackgroundProcess sim(QV_SIM_PATH, {"--port", std::to_string(port)}, "qvsim ready");
    ASSERT_TRUE(sim.ready());
    const fs::path dir = freshFolder("cli");
    const auto cli = [&](const std::string& folder, std::vector<std::string> extra,
                         const std::string& input) {
        std::vector<std::string> args{"commission",           "--interface", "127.0.0.1", "--port",
                                      std::to_string(port),   "--motor",     "2",         "-o",
                                      (dir / folder).string()};
        args.insert(args.end(), extra.begin(), extra.end());
        return test::runProcess(QV_CLI_PATH, args, 30000, input);
    };

    const auto ok = cli("ok", {"--yes"}, "");
    ASSERT_EQ(ok.exitCode, 0) << ok.out << ok.err;
    const auto out = lines(ok.out);
    const std::vector<std::string> steps{"device", "backup", "phases", "params",
                                         "review", "write",  "verify", "report"};
    ASSERT_EQ(out.size(), steps.size() + 1) << ok.out;
    for (std::size_t i = 0; i < steps.size(); ++i)
        EXPECT_EQ(out[i].rfind(steps[i] + " ok ", 0), 0u) << out[i];
    EXPECT_EQ(out.back(), "0x400 123456 commissioned motor 2 verified " + (dir / "ok").string());
    // The charts are PNG files (when this qvcli draws them at all).
    const std::string html = readFile(dir / "ok" / pass_file::kReport);
    if (html.find("<img") != std::string::npos) {
        EXPECT_EQ(readFile(dir / "ok" / "phases_voltages.png").substr(1, 3), "PNG");
        EXPECT_EQ(readFile(dir / "ok" / "pm_vi.png").substr(1, 3), "PNG");
    }

    // Asked on the terminal, declined: nothing is written, exit 1.
    const auto no = cli("no", {"--steps", "phases"}, "n\n");
    EXPECT_EQ(no.exitCode, 1) << no.out << no.err;
    EXPECT_NE(no.err.find("Overwrite config? [y/n]"), std::string::npos) << no.err;
    const auto declined = lines(no.out);
    ASSERT_GE(declined.size(), 3u) << no.out;
    EXPECT_EQ(declined[3], "params skipped not chosen");
    EXPECT_EQ(declined[declined.size() - 3], "write failed declined \"Overwrite config?\"");
    EXPECT_EQ(declined.back(), "0x400 123456 failed at write: declined \"Overwrite config?\"");
    fs::remove_all(dir);
}

}  // namespace
}  // namespace qv
