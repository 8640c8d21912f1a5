// Cost of the monitoring core on the GUI thread: frames through Monitor::handleFrame (device
// discovery, Telemetry window, decoder, drive-command watch) with and without the raw CAN log,
// and the once-per-tick panel refresh.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <vector>

#include "config/config_data_bank.h"
#include "monitor/monitor.h"

namespace {

struct Frame {
    std::uint32_t id;
    qv::CanFrame::Data data;
};

qv::CanFrame::Data floats(float a, float b) {
    qv::CanFrame::Data d{};
    std::memcpy(d.data(), &a, 4);
    std::memcpy(d.data() + 4, &b, 4);
    return d;
}

// One second of a loaded bus: the selected device's telemetry every 200 ms, two other
// controllers, a battery node, and filler frames up to 8,700 frames.
std::vector<Frame> busSecond() {
    std::vector<Frame> frames;
    const std::uint32_t offsets[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 0xA, 0xB, 0xC, 0xD, 0xE, 0x17};
    for (int tick = 0; tick < 5; ++tick) {
        for (std::uint32_t base : {0x400u, 0x080u, 0x200u})
            for (std::uint32_t o : offsets)
                frames.push_back({base + o, floats(static_cast<float>(tick) + 1.5f, 96.0f + o)});
        frames.push_back({0x263, qv::CanFrame::Data{0, 4}});
        frames.push_back({0x266, qv::CanFrame::Data{0xB2, 0x0C, 0x20, 0x0D, 7, 0, 9, 0}});
    }
    frames.push_back({0x400, qv::CanFrame::Data{'K', 'X', '0', '1', 1, 0, 0, 0}});
    for (std::uint64_t i = 0; frames.size() < 8700; ++i) {
        qv::CanFrame::Data d{};
        std::memcpy(d.data(), &i, 8);
        frames.push_back({0x1ABCDE01, d});
    }
    return frames;
}

std::tm now() {
    const std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    return local;
}

void run(benchmark::State& state, bool telemetryWindow) {
    const std::vector<Frame> frames = busSecond();
    char dir[] = "/tmp/qv_bench_monitor_XXXXXX";
    if (::mkdtemp(dir) == nullptr) {
        state.SkipWithError("mkdtemp");
        return;
    }
    qv::CConfigDataBank store;
    qv::Monitor m(store, dir);
    m.handleFrame(0x400, 0, qv::CanFrame::Data{'K', 'X', '0', '1', 1, 0, 0, 0});
    if (telemetryWindow) m.telemetryWindow().setShown(true, now(), 0);
    std::int64_t seconds = 1436509052;
    for (auto _ : state) {
        for (const Frame& f : frames) {
            if (telemetryWindow) m.telemetryWindow().rawLog().write(seconds, f.id, f.data);
            m.handleFrame(f.id, 0, f.data);
        }
        m.refreshPanel();
        m.telemetryWindow().refresh();
        m.telemetryWindow().rawLog().flushIfDue(1e9);
        ++seconds;
    }
    m.telemetryWindow().setShown(false, now(), 0);
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(frames.size()));
    std::filesystem::remove_all(dir);
}

// One second of a full 1 Mbit/s bus (8,700 frames) through the decoder, then one refresh.
void BM_BusSecondDecoded(benchmark::State& state) {
    run(state, false);
}
// The same with the Telemetry window shown: every frame also goes to the raw CAN log file.
void BM_BusSecondDecodedAndRawLogged(benchmark::State& state) {
    run(state, true);
}

// One tick's refresh after a tick's worth of telemetry of the selected device.
void BM_PanelRefreshPerTick(benchmark::State& state) {
    qv::CConfigDataBank store;
    qv::Monitor m(store);
    m.handleFrame(0x400, 0, qv::CanFrame::Data{'K', 'X', '0', '1', 1, 0, 0, 0});
    const std::uint32_t offsets[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 0xA, 0xB, 0xC, 0xD, 0xE, 0x17};
    float v = 0;
    for (auto _ : state) {
        v += 0.37f;
        for (std::uint32_t o : offsets) m.handleFrame(0x400 + o, 0, floats(v, 96.0f + v));
        benchmark::DoNotOptimize(m.refreshPanel().cells.size());
    }
}

BENCHMARK(BM_BusSecondDecoded)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BusSecondDecodedAndRawLogged)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PanelRefreshPerTick)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
