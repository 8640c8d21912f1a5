#include "cli_monitor.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <thread>

#include "args.h"
#include "link/stream_engine.h"

namespace qv::cli {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kTick = std::chrono::milliseconds(200);
constexpr std::uint32_t kMatchesNothing = 0xFFFFFFFFu;

std::atomic<bool> gInterrupted{false};

extern "C" void onStopSignal(int) {
    gInterrupted = true;
}

}  // namespace

double secondsOption(const Args& args, const std::string& name, double fallback) {
    const double v = args.real(name, fallback);
    if (!std::isfinite(v)) throw UsageError("invalid value for " + name + ": " + *args.value(name));
    return v;
}

bool jsonFormatOption(const Args& args) {
    const std::string format = args.value("--format").value_or("text");
    if (format != "text" && format != "json")
        throw UsageError("invalid value for --format: " + format + " (text or json)");
    return format == "json";
}

std::uint32_t deviceBaseOption(const Args& args) {
    const std::uint64_t base = args.number("--device", 0, 0x7E0);
    if (base % 0x20 != 0)
        throw UsageError("invalid value for --device: " + *args.value("--device") +
                         " (a base address is a multiple of 0x20)");
    return static_cast<std::uint32_t>(base);
}

int openFailed(const char* command) {
    std::fprintf(stderr, "qvcli %s: could not open a CAN port\n", command);
    return kExitFailure;
}

CliMonitor::CliMonitor(const BridgeSettings& settings)
    : monitor_(store_), port_([settings] { return std::make_unique<CanUdpClient>(settings); }) {
    port_.setDecoderHook(
        [this](std::uint32_t id, std::uint32_t source, const CanFrame::Data& data) {
            monitor_.handleFrame(id, source, data);
        });
}

CliMonitor::~CliMonitor() {
    port_.setDecoderHook({});
    port_.close();
}

bool CliMonitor::interrupted() {
    return gInterrupted;
}

bool CliMonitor::open() {
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
    return port_.open() == 1;
}

void CliMonitor::tick() {
    port_.waitForFrame(kMatchesNothing, nullptr, 1);
    const DeviceListResult r = monitor_.takeDeviceResult();
    if (r.clearConfiguration) store_.deviceChanged();
    if (r.configureStream) {
        port_.configureStream(kDefaultBlockSize, r.streamControlId, r.streamDataId);
        port_.setBridgeAddress(monitor_.selected().bridgeAddress);
    }
    if (--purgeCountdown_ == 0) {
        purgeCountdown_ = 12;
        monitor_.purgeDeviceList();
    }
    monitor_.updateBusLoad(port_.takeReceivedFrameCount(), port_.bridgeHeard(), port_.busBitRate());
    monitor_.refreshPanel();
}

void CliMonitor::run(double seconds, const std::function<bool()>& done,
                     const std::function<void()>& beforeDrain,
                     const std::function<void()>& afterTick) {
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration_cast<Clock::duration>(
                                 std::chrono::duration<double>(seconds > 0 ? seconds : 0));
    auto next = start + kTick;
    while (!gInterrupted && !(done && done())) {
        const auto now = Clock::now();
        if (seconds > 0 && now >= end) break;
        const auto wake = seconds > 0 ? std::min(next, end) : next;
        std::this_thread::sleep_until(wake);
        if (wake < next) break;  // the time is up before the next tick
        next += kTick;
        if (next < Clock::now()) next = Clock::now() + kTick;  // ran late: keep the rhythm
        if (beforeDrain) beforeDrain();
        tick();
        if (afterTick) afterTick();
    }
}

}  // namespace qv::cli
