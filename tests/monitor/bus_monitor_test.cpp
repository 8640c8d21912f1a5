// The Bus Monitor's model: its two views against a plain reference under random traffic,
// filters and ticks; pause; identifier ranges; hints; candump logs read back.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "config/config_data_bank.h"
#include "monitor/monitor.h"
#include "monitor_test_support.h"

namespace qv {
namespace {

using test::floats;
using test::identification;

CanFrame randomFrame(std::mt19937& rng) {
    // Few identifiers, so that the per-identifier table has counts and periods to check.
    static const std::uint32_t kIds[] = {0x100, 0x101, 0x1FF, 0x200, 0x401, 0x40E, 0x7FF};
    std::uniform_int_distribution<int> pick(0, 9);
    const int p = pick(rng);
    CanFrame::Data d{};
    for (auto& b : d) b = static_cast<std::uint8_t>(rng());
    if (p == 9) return CanFrame(0x18FF0000u + (rng() % 3), true, 8, d);
    if (p == 8) return CanFrame(kIds[rng() % 7], false, true, 8);
    return CanFrame(kIds[static_cast<std::size_t>(p) % 7], false,
                    static_cast<std::uint8_t>(rng() % 9), d);
}

struct Sent {
    std::uint64_t index;
    std::int64_t timeNs;
    CanFrame frame;
};

// Given random frames in random ticks with random filter changes and a small ring, the views
// (followed through takeChanges() only) always equal what a plain list says they must be.
TEST(BusMonitor, ViewsFollowTheRecordingTickByTick) {
    for (const unsigned seed : {1u, 2u}) {
        std::mt19937 rng(seed);
        BusMonitorModel model(300);
        std::vector<Sent> sent;
        std::vector<std::uint64_t> traceView;  // mirror of the trace rows, by frame number
        std::vector<std::pair<std::uint32_t, bool>> idView;
        std::map<std::pair<bool, std::uint32_t>, std::vector<std::size_t>> byIdAll;
        std::int64_t now = 1'000'000'000;
        std::uint64_t next = 0;
        TraceFilter filter;
        for (int tick = 0; tick < 120; ++tick) {
            if (tick % 37 == 5) {
                filter = {};
                if (rng() % 2) filter.ranges = {{0x100, 0x1FF}, {0x18FF0001, 0x18FF0002}};
                if (rng() % 3 == 0) filter.deviceBase = 0x400;
                model.setFilter(filter);
            }
            const int frames = static_cast<int>(rng() % 40);  // sometimes more than the ring holds
            for (int i = 0; i < (tick == 60 ? 700 : frames); ++i) {
                now += 1000 + static_cast<std::int64_t>(rng() % 5000);
                const CanFrame f = randomFrame(rng);
                model.add(now, f);
                byIdAll[{f.extended(), f.identifier()}].push_back(sent.size());
                sent.push_back({next++, now, f});
            }
            const MonitorChanges c = model.takeChanges();
            // The trace: at most one removal at the front and one insertion at the end.
            if (c.reset) {
                traceView.clear();
                for (std::size_t r = 0; r < model.traceRows(); ++r)
                    traceView.push_back(0);  // filled below from the reference
                idView.clear();
                for (std::size_t r = 0; r < model.idRows(); ++r)
                    idView.push_back({model.idRow(r).identifier, model.idRow(r).extended});
            } else {
                ASSERT_LE(c.traceRemoved, traceView.size());
                traceView.erase(traceView.begin(),
                                traceView.begin() + static_cast<std::ptrdiff_t>(c.traceRemoved));
                traceView.resize(traceView.size() + c.traceInserted);
            }
            // Reference: the frames the ring still holds that pass the filter.
            std::vector<const Sent*> expected;
            const std::size_t firstHeld = sent.size() > 300 ? sent.size() - 300 : 0;
            for (std::size_t i = firstHeld; i < sent.size(); ++i)
                if (filter.accepts(sent[i].frame)) expected.push_back(&sent[i]);
            ASSERT_EQ(model.traceRows(), expected.size()) << "seed " << seed << " tick " << tick;
            ASSERT_EQ(traceView.size(), expected.size());
            for (std::size_t r = 0; r < expected.size(); ++r) {
                const TraceEntry* e = model.traceEntry(r);
                ASSERT_NE(e, nullptr);
                ASSERT_EQ(e->timeNs, expected[r]->timeNs);
                ASSERT_EQ(e->frame, expected[r]->frame);
            }
            // The per-identifier view: sorted, filtered, counts and periods of every frame.
            std::map<std::pair<bool, std::uint32_t>, std::vector<const Sent*>> byId;
            for (const auto& [key, indices] : byIdAll) {
                if (!filter.accepts(CanFrame(key.second, key.first, false, 0))) continue;
                for (const std::size_t i : indices) byId[key].push_back(&sent[i]);
            }
            for (const std::size_t pos : c.idInserted) {
                ASSERT_LE(pos, idView.size());
                idView.insert(idView.begin() + static_cast<std::ptrdiff_t>(pos),
                              {model.idRow(pos).identifier, model.idRow(pos).extended});
            }
            ASSERT_EQ(model.idRows(), byId.size());
            ASSERT_EQ(idView.size(), byId.size());
            std::size_t row = 0;
            for (const auto& [key, frames] : byId) {
                // The rows the view was told about are where the model has them.
                ASSERT_EQ(idView[row], std::pair(key.second, key.first));
                const IdStats& s = model.idRow(row++);
                ASSERT_EQ(s.extended, key.first);
                ASSERT_EQ(s.identifier, key.second);
                ASSERT_EQ(s.count, frames.size());
                ASSERT_EQ(s.last, frames.back()->frame);
                if (frames.size() < 2) {
                    EXPECT_FALSE(s.periodMs());
                    continue;
                }
                const double last =
                    static_cast<double>(frames.back()->timeNs - frames[frames.size() - 2]->timeNs);
                const double mean =
                    static_cast<double>(frames.back()->timeNs - frames.front()->timeNs) /
                    static_cast<double>(frames.size() - 1);
                ASSERT_DOUBLE_EQ(*s.periodMs(), last / 1e6);
                ASSERT_DOUBLE_EQ(*s.meanPeriodMs(), mean / 1e6);
            }
        }
    }
}

TEST(BusMonitor, TextsAreMadeOnceAndShowTheFrame) {
    BusMonitorModel model;
    int hints = 0;
    model.setHinter([&hints](const CanFrame&) {
        ++hints;
        return std::string("hint");
    });
    model.add(5'000'000'000, CanFrame(0x123, false, 3, floats(0, 0)));
    model.add(5'001'500'000, CanFrame(0x1ABCDE01, true, 8, test::bytes({1, 2, 3, 4, 5, 6, 7, 8})));
    model.add(5'002'000'000, CanFrame(0x7FF, false, true, 8));
    model.takeChanges();
    EXPECT_EQ(model.traceText(1, kTraceTime), "0.001500");
    EXPECT_EQ(model.traceText(1, kTraceId), "1ABCDE01 x");
    EXPECT_EQ(model.traceText(1, kTraceData), "01 02 03 04 05 06 07 08");
    EXPECT_EQ(model.traceText(0, kTraceId), "123");
    EXPECT_EQ(model.traceText(0, kTraceLength), "3");
    EXPECT_EQ(model.traceText(0, kTraceData), "00 00 00");
    EXPECT_EQ(model.traceText(2, kTraceData), "remote request");
    EXPECT_EQ(model.traceText(2, kTraceHint), "hint");
    EXPECT_EQ(hints, 3);  // once per row, then cached
    EXPECT_EQ(model.candump(false),
              "(5.000000) can0 123#000000\n(5.001500) can0 1ABCDE01#0102030405060708\n"
              "(5.002000) can0 7FF#R\n");
}

TEST(BusMonitor, PauseRecordsNothingAndResumingAfterALoadStartsAfresh) {
    BusMonitorModel model;
    model.add(1, CanFrame(0x100, false, 0, CanFrame::Data{}));
    model.setPaused(true);
    model.add(2, CanFrame(0x101, false, 0, CanFrame::Data{}));
    EXPECT_EQ(model.framesRecorded(), 1u);
    EXPECT_EQ(model.notRecorded(), 1u);
    model.setPaused(false);
    model.load({{10, CanFrame(0x300, false, 0, CanFrame::Data{})}});
    EXPECT_TRUE(model.paused());
    EXPECT_TRUE(model.offline());
    model.add(11, CanFrame(0x301, false, 0, CanFrame::Data{}));
    EXPECT_EQ(model.framesHeld(), 1u);
    model.setPaused(false);
    EXPECT_EQ(model.framesHeld(), 0u);
    EXPECT_TRUE(model.takeChanges().reset);
}

TEST(BusMonitor, IdentifierRanges) {
    std::string error;
    const auto r = parseIdRanges("100-1FF, 0x400 18ff0000-18FFFFFF,", error);
    ASSERT_TRUE(r);
    EXPECT_EQ(*r, (std::vector<IdRange>{{0x100, 0x1FF}, {0x400, 0x400}, {0x18FF0000, 0x18FFFFFF}}));
    EXPECT_TRUE(parseIdRanges("", error)->empty());
    for (const char* bad : {"200-100", "xyz", "100-", "20000000"}) {
        EXPECT_FALSE(parseIdRanges(bad, error)) << bad;
        EXPECT_NE(error.find(bad), std::string::npos) << error;
    }
}

TEST(BusMonitor, HintsNameWhatTheProgramKnows) {
    CConfigDataBank store;
    Monitor m(store);
    m.handleFrame(0x400, 0, identification("KX01", 5));
    m.setFallbackDriverControlsBase(0x500);
    const auto hint = [&](std::uint32_t id, const CanFrame::Data& d) {
        return frameHint(CanFrame(id, false, 8, d), m.hintContext());
    };
    EXPECT_EQ(hint(0x400, identification("KX01", 123456)), "Identification: qvm40 serial 123456");
    EXPECT_EQ(hint(0x402, floats(96.5f, 12.25f)),
              "Bus Volt/Curr: 96.50 V, 12.25 A; Controller Power: 1182 W");
    EXPECT_EQ(hint(0x404, floats(3.5f, -4.5f)), "RMS Current B: 3.50 A; RMS Current C: -4.50 A");
    EXPECT_EQ(hint(0x401, test::bytes({5, 0, 0x21, 0x02, 1, 0, 0, 0})),
              "Status: motor 1, limits vel, PWM, errors OVSPD, CFG, HWOC");
    EXPECT_EQ(hint(0x412, test::bytes({7, 0, 3, 2, 0, 0, 0, 0})), "Stream: Request");
    EXPECT_EQ(hint(0x501, floats(1000.0f, 0.25f)), "Drive command: 1000 rpm, 25.0 %");
    EXPECT_EQ(hint(0x266, test::bytes({0x60, 0xF0, 0xE8, 0x0C, 3, 0, 40, 0})),
              "Cells: min 3: -4.000 V, max 40: 3.304 V");
    EXPECT_EQ(hint(0x263, test::bytes({0, 4, 0, 0, 0, 0, 0, 0})), "Precharge: RUN");
    EXPECT_EQ(hint(0x333, floats(1, 2)), "");
}

TEST(BusMonitor, CandumpLinesReadBackAsWritten) {
    test::TempDir dir;
    const std::string text =
        "(1436509052.249713) can0 123#DEADBEEF\n(1436509052.25) vcan1 18FF0001#R\n\n"
        "(1436509053.000001) can0 7FF#\n";
    std::ofstream(dir.file("a.log")) << text;
    std::string error;
    const auto records = readCandumpFile(dir.file("a.log"), error);
    ASSERT_TRUE(records) << error;
    BusMonitorModel model;
    EXPECT_EQ(model.load(*records), 3u);
    EXPECT_EQ(model.candump(false),
              "(1436509052.249713) can0 123#DEADBEEF\n(1436509052.250000) can0 18FF0001#R\n"
              "(1436509053.000001) can0 7FF#\n");
    std::ofstream(dir.file("b.log")) << "(1.000000) can0 123#00\n(2.0) can0 12G#00\n";
    EXPECT_FALSE(readCandumpFile(dir.file("b.log"), error));
    EXPECT_EQ(error, "line 2: malformed frame ID#DATA");
    EXPECT_FALSE(readCandumpFile(dir.path().string(), error));
    EXPECT_EQ(error, "This is not a regular file.");
    for (const auto& [line, why] : std::vector<std::pair<std::string, std::string>>{
             {"1.0 can0 123#00", "expected \"(SECONDS.FRACTION)\""},
             {"(1) can0 123#00", "expected \"(SECONDS.FRACTION)\""},
             {"(1.) can0 123#00", "bad time"},
             {"(1.0000000001) can0 123#00", "bad time"},
             {"(-1.5) can0 123#00", "bad time"},
             {"(1.5) 123#00", "expected an interface name"},
             {"(1.5) can0 123##0112233", "CAN FD frames are not supported"},
             {"(1.5) can0 123#0", "malformed frame ID#DATA"},
             {"(1.5) can0 123#001122334455667788", "malformed frame ID#DATA"}}) {
        EXPECT_FALSE(parseCandumpLine(line, error)) << line;
        EXPECT_EQ(error, why) << line;
    }
    // Nine fraction digits keep their nanoseconds; a CR LF line end is a line end.
    const auto fine = parseCandumpLine("(12.000000007) any 7FF#R\r", error);
    ASSERT_TRUE(fine);
    EXPECT_EQ(fine->timeNs, 12'000'000'007);
    EXPECT_TRUE(fine->frame.remote());
}

}  // namespace
}  // namespace qv
