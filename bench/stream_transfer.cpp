// Time to move a configuration-sized object to and from a simulated controller with the stream
// transfer (CAN port -> bridge client -> loopback -> simulator), and the CAN frames it took.
// Run inside the private network namespace: see bench/README.md.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "link/can_port.h"
#include "link/net/socket.h"
#include "sim/world.h"

namespace {

constexpr std::uint32_t kBase = 0x400;
// A standard data frame of 8 bytes on the wire: 108 bits plus 3 bits of interframe space,
// without stuff bits (which add up to about 20 %).
constexpr double kBitsPerFrame = 111;

std::uint16_t freePort() {
    auto listener = qv::net::TcpListener::listen(qv::net::kLoopback, 0);
    return listener ? listener->localPort() : 47999;
}

// The bridge's way with the connection's identifiers, by the benchmark's second argument.
constexpr qv::sim::TcpForward kForwards[] = {qv::sim::TcpForward::kTcp, qv::sim::TcpForward::kBoth,
                                             qv::sim::TcpForward::kNone};
constexpr const char* kForwardNames[] = {"tcp", "both", "none"};

struct Setup {
    explicit Setup(qv::sim::TcpForward forward)
        : port(freePort()), world(options(port, forward)), can([p = port] {
              qv::BridgeSettings s;
              s.port = p;
              s.interfaceAddress = qv::net::kLoopback;
              s.mask = 0x000000FF;
              return std::make_unique<qv::CanUdpClient>(s);
          }) {
        can.open();
        can.setBridgeAddress(qv::net::kLoopback);
        can.connectTcp(kBase + 18, 4);
        can.configureStream(0, kBase + 0x12, kBase + 0x14);
    }
    static qv::sim::Options options(std::uint16_t port, qv::sim::TcpForward forward) {
        qv::sim::Options o;
        o.port = port;
        o.tcpForward = forward;
        o.maxObjectBytes = 65535;
        o.rawObjects = true;
        o.devices.push_back(qv::sim::parseDevice("0x400:123456:KX01"));
        return o;
    }
    std::uint64_t frames() {
        return can.client()->framesSent() + can.client()->streamFramesReceived();
    }
    std::uint16_t port;
    qv::sim::BackgroundWorld world;
    qv::CBcan can;
};

void report(benchmark::State& state, std::uint64_t frames, double seconds) {
    const double perTransfer =
        static_cast<double>(frames) / static_cast<double>(state.iterations());
    state.counters["frames"] = perTransfer;
    state.counters["wire_ms_500k"] = perTransfer * kBitsPerFrame / 500e3 * 1e3;
    state.counters["wire_ms_1M"] = perTransfer * kBitsPerFrame / 1e6 * 1e3;
    const double ms = seconds / static_cast<double>(state.iterations()) * 1e3;
    state.counters["ms"] = ms;
    state.counters["x_wire_1M"] = ms / (perTransfer * kBitsPerFrame / 1e6 * 1e3);
}

void BM_WriteChunked(benchmark::State& state, int bytes, qv::sim::TcpForward forward) {
    Setup s(forward);
    std::mt19937 random(1);
    std::vector<std::uint8_t> data(static_cast<std::size_t>(bytes));
    for (auto& b : data) b = static_cast<std::uint8_t>(random());
    std::uint64_t frames = 0;
    double seconds = 0;
    for (auto _ : state) {
        std::uint16_t length = static_cast<std::uint16_t>(data.size());
        const std::uint64_t before = s.frames();
        const auto start = std::chrono::steady_clock::now();
        if (s.can.transfer(&length, data.data(), 0x0100, true, true) != qv::kTransferOk)
            state.SkipWithError("transfer failed");
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        frames += s.frames() - before;
        // The controller's flash-write acknowledgement is not part of the transfer time.
        state.PauseTiming();
        s.can.completionEvent().waitFor(std::chrono::milliseconds(2000));
        state.ResumeTiming();
    }
    report(state, frames, seconds);
}

void BM_ReadChunked(benchmark::State& state, int bytes, qv::sim::TcpForward forward) {
    Setup s(forward);
    std::vector<std::uint8_t> data(static_cast<std::size_t>(bytes), 0x5A);
    std::uint16_t length = static_cast<std::uint16_t>(data.size());
    s.can.transfer(&length, data.data(), 0x0100, true, true);
    s.can.completionEvent().waitFor(std::chrono::milliseconds(2000));
    std::uint64_t frames = 0;
    double seconds = 0;
    for (auto _ : state) {
        std::uint16_t got = static_cast<std::uint16_t>(data.size());
        const std::uint64_t before = s.frames();
        const auto start = std::chrono::steady_clock::now();
        if (s.can.transfer(&got, data.data(), 0x0100, false, true) != qv::kTransferOk ||
            got != data.size())
            state.SkipWithError("transfer failed");
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        frames += s.frames() - before;
    }
    report(state, frames, seconds);
}

}  // namespace

// Names: BM_WriteChunked/BYTES/FORWARD, FORWARD being the bridge's --tcp-forward behaviour.
int main(int argc, char** argv) {
    for (std::size_t f = 0; f < std::size(kForwards); ++f) {
        for (const auto& [name, fn] : {std::pair{"BM_WriteChunked", &BM_WriteChunked},
                                       std::pair{"BM_ReadChunked", &BM_ReadChunked}}) {
            for (const int bytes : {4096, 65535}) {
                const std::string full =
                    std::string(name) + "/" + std::to_string(bytes) + "/" + kForwardNames[f];
                benchmark::RegisterBenchmark(full.c_str(), fn, bytes, kForwards[f])
                    ->Iterations(20)
                    ->UseRealTime()
                    ->Unit(benchmark::kMillisecond);
            }
        }
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
