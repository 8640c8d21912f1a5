// qvcli commission: one commissioning pass over a motor record, headless, as an end-of-line
// station runs it: the same pass, cores and report folder as the assistant window. One result
// line per step, then the verdict line; the transfer's questions are asked on the terminal
// (--yes answers them all).
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>

#include "bus_options.h"
#include "commands.h"
#include "config_session.h"
#include "terminal_ui.h"
#include "tools/commissioning_pass.h"
#include "tools/pass_text.h"
#ifdef QV_HAVE_PLOT_RENDER
#include "render/plot_painter.h"
#endif

namespace qv::cli {

namespace {

volatile std::sig_atomic_t interrupted = 0;

extern "C" void onInterrupt(int) {
    interrupted = 1;
}

double nowMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

int motorTypeOption(const std::string& text) {
    if (text == "bldc") return motor_type::kBldc;
    if (text == "induction") return motor_type::kInduction;
    if (text == "ipm") return motor_type::kIpm;
    throw UsageError("--type must be bldc, induction or ipm");
}

void stepsOption(const std::string& text, PassSetup& setup) {
    setup.phases = false;
    setup.parameters = false;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        const std::string step = text.substr(start, comma - start);
        if (step == "phases")
            setup.phases = true;
        else if (step == "params")
            setup.parameters = true;
        else
            throw UsageError("--steps takes phases, params or both (phases,params)");
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
}

// "phases ok SUCCESS, phase order A-B-C"
void printStep(const StepRecord& r) {
    std::string line = std::string(passStepName(r.step)) + " " + outcomeName(r.outcome);
    const std::string summary = firstLine(r.summary);
    if (!summary.empty()) line += " " + summary;
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

}  // namespace

int runCommission(const CommandArgs& argv) {
    std::set<std::string> valued = kBusOptions;
    valued.insert({"--device", "--motor", "--type", "--steps", "--output"});
    const Args args(withLongOptions(argv), valued, {"--yes"});
    if (!args.positional().empty()) throw UsageError("unexpected argument " + args.positional()[0]);
    if (!args.value("--motor")) throw UsageError("--motor N is required");
    if (!args.value("--output")) throw UsageError("-o DIR is required");
    PassSetup setup;
    setup.motor = static_cast<int>(args.number("--motor", 0, kMotorCount - 1));
    if (const auto type = args.value("--type")) setup.motorType = motorTypeOption(*type);
    if (const auto steps = args.value("--steps")) stepsOption(*steps, setup);
    setup.folder = *args.value("--output");
    const bool yes = args.has("--yes");

    ConfigSession session(busSettings(args), "commission");
    const auto devices = session.find({deviceOption(args), false});
    if (!devices) return kExitFailure;
    const FoundDevice& device = devices->front();
    TerminalInteraction ui("commission", yes);
    setup.target = session.context(device, ui).target;
    setup.deviceType = static_cast<std::uint16_t>(device.deviceType);
    const std::time_t t = std::time(nullptr);
    localtime_r(&t, &setup.started);
    setup.programVersion = programVersionText();

    InlinePassWorker worker;
    PassServices services;
    services.port = &session.port();
    services.ui = &ui;
    services.forwardMessages = true;
    services.worker = &worker;
#ifdef QV_HAVE_PLOT_RENDER
    // The charts are drawn by Qt's painter on its offscreen platform (no display needed).
    render::OffscreenApplication gui;
    render::PngPlotRenderer renderer;
    services.plots = &renderer;
#endif
    services.stepEnded = printStep;

    interrupted = 0;
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    CommissioningPass pass(services, setup);
    pass.next(nowMs());
    runPassHeadless(pass, session.port(), nowMs, [&pass] {
        if (interrupted) pass.cancel("interrupted", nowMs());
    });
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);

    const PassRecord& r = pass.record();
    if (r.complete) {
        std::printf("%s commissioned motor %d verified %s\n", deviceText(device).c_str(), r.motor,
                    setup.folder.c_str());
        return kExitOk;
    }
    const PassStep at = r.stoppedAt.value_or(PassStep::Report);
    std::printf("%s failed at %s: %s\n", deviceText(device).c_str(), passStepName(at),
                firstLine(r.stopReason.empty() ? "not complete" : r.stopReason).c_str());
    return kExitFailure;
}

QV_CLI_COMMAND(commission, 95,
               "commission --motor N -o DIR [--device BASE] [--type bldc|induction|ipm] "
               "[--steps phases,params] [--yes] [--interface ADDR] [--port N]",
               runCommission);

}  // namespace qv::cli
