// Time of a full configuration download (identification block, stream lengths, the three
// structures) and of a full upload (required version, the three structures each with its flash
// acknowledgement, and the reset) against a simulated controller, through the CAN port, the
// bridge client, a TCP connection on loopback and the simulator's bridge. Beside it the CAN
// frames it took and their time on a 500 kbit/s bus. Run inside the private network namespace:
// see bench/README.md.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "config/config_progress.h"
#include "config/config_transfer.h"
#include "link/can_port.h"
#include "link/net/socket.h"
#include "sim/controller.h"
#include "sim/world.h"

namespace {

constexpr std::uint32_t kBase = 0x400;
// A standard data frame of 8 bytes on the wire: 108 bits plus 3 bits of interframe space,
// without stuff bits (which add up to about 20 %).
constexpr double kBitsPerFrame = 111;

std::uint16_t freePort() {
    auto listener = qv::net::TcpListener::listen(qv::net::kLoopback, 0);
    return listener ? listener->localPort() : 47998;
}

struct Yes : qv::UserInteraction {
    qv::MessageAnswer messageBox(const qv::MessageBoxRequest& r) override {
        if (r.buttons == qv::MessageButtons::Ok) return qv::MessageAnswer::Ok;
        return r.buttons == qv::MessageButtons::OkCancel ? qv::MessageAnswer::Ok
                                                         : qv::MessageAnswer::Yes;
    }
    std::optional<std::string> fileDialog(const qv::FileDialogRequest&) override {
        return std::nullopt;
    }
};

// The bridge's way with the connection's identifiers (its --tcp-forward behaviour).
constexpr qv::sim::TcpForward kForwards[] = {qv::sim::TcpForward::kTcp, qv::sim::TcpForward::kBoth,
                                             qv::sim::TcpForward::kNone};
constexpr const char* kForwardNames[] = {"tcp", "both", "none"};

struct Setup {
    explicit Setup(qv::sim::TcpForward forward = qv::sim::TcpForward::kBoth)
        : port(freePort()), world(options(port, forward)), can([p = port] {
              qv::BridgeSettings s;
              s.port = p;
              s.interfaceAddress = qv::net::kLoopback;
              s.mask = 0x000000FF;
              return std::make_unique<qv::CanUdpClient>(s);
          }) {
        can.open();
        target.base = kBase;
        target.serial = 123456;
        target.bridgeAddress = qv::net::kLoopback;
    }
    static qv::sim::Options options(std::uint16_t port, qv::sim::TcpForward forward) {
        qv::sim::Options o;
        o.port = port;
        o.tcpForward = forward;
        o.devices.push_back(qv::sim::parseDevice("0x400:123456:KX01"));
        return o;
    }
    qv::TransferContext context() { return qv::TransferContext(can, store, target, ui, progress); }
    std::uint64_t frames() {
        return can.client()->framesSent() + can.client()->streamFramesReceived();
    }

    std::uint16_t port;
    qv::sim::BackgroundWorld world;
    qv::CBcan can;
    qv::CConfigDataBank store;
    qv::CConfigProg progress;
    Yes ui;
    qv::TransferTarget target;
};

void report(benchmark::State& state, std::uint64_t frames, double seconds, double waitedMs) {
    const auto n = static_cast<double>(state.iterations());
    const double perTransfer = static_cast<double>(frames) / n;
    const double wireMs = perTransfer * kBitsPerFrame / 500e3 * 1e3;
    const double ms = seconds / n * 1e3;
    state.counters["frames"] = perTransfer;
    state.counters["wire_ms_500k"] = wireMs;
    state.counters["ms"] = ms;
    // The controller's own flash-write time is not the program's.
    state.counters["program_ms"] = ms - waitedMs;
    state.counters["x_wire_500k"] = (ms - waitedMs) / wireMs;
}

void BM_FullDownload(benchmark::State& state, qv::sim::TcpForward forward) {
    Setup s(forward);
    std::uint64_t frames = 0;
    double seconds = 0;
    for (auto _ : state) {
        const std::uint64_t before = s.frames();
        const auto start = std::chrono::steady_clock::now();
        qv::TransferContext c = s.context();
        if (!qv::downloadConfig(c, qv::kDownloadMaskAll)) state.SkipWithError("download failed");
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        frames += s.frames() - before;
    }
    report(state, frames, seconds, 0);
}

void BM_FullUploadWithReset(benchmark::State& state) {
    Setup s;
    {
        qv::TransferContext c = s.context();
        qv::downloadConfig(c, qv::kDownloadMaskAll);
    }
    std::uint64_t frames = 0;
    double seconds = 0;
    for (auto _ : state) {
        for (auto kind :
             {qv::StructureKind::Public, qv::StructureKind::Private, qv::StructureKind::Motor})
            s.store.markModified(kind);
        const std::uint64_t before = s.frames();
        const auto start = std::chrono::steady_clock::now();
        qv::TransferContext c = s.context();
        if (!qv::uploadConfig(c)) state.SkipWithError("upload failed");
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        frames += s.frames() - before;
        // The controller is silent for a while after its reset.
        state.PauseTiming();
        std::this_thread::sleep_for(
            std::chrono::milliseconds(static_cast<int>(qv::sim::kResetMs) + 100));
        state.ResumeTiming();
    }
    report(state, frames, seconds, 3 * qv::sim::kFlashWriteMs);
}

}  // namespace

// BM_FullDownload/FORWARD for each bridge behaviour; the upload against the default bridge.
int main(int argc, char** argv) {
    for (std::size_t f = 0; f < std::size(kForwards); ++f)
        benchmark::RegisterBenchmark((std::string("BM_FullDownload/") + kForwardNames[f]).c_str(),
                                     BM_FullDownload, kForwards[f])
            ->Iterations(20)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    benchmark::RegisterBenchmark("BM_FullUploadWithReset", BM_FullUploadWithReset)
        ->Iterations(8)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
