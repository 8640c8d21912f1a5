#pragma once
// Synthetic acquisitions for the tool tests, made from first principles (ideal sine voltages,
// hall sensors 120 degrees apart, a position sensor turning with the rotor), and a scripted link.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "config/config_data_bank.h"
#include "tools/acquisition_csv.h"
#include "tools/commissioning_tool.h"
#include "tools/phase_acquisition.h"
#include "tools/phase_analysis.h"
#include "tools/pm_acquisition.h"
#include "tools/tool_exchange.h"

namespace qv::test {

// Angles are electrical degrees in the controller's frame, measured from the positive zero
// crossing of its line voltage AB (controller phase A leads that crossing by 30 degrees).
struct MotorSpec {
    bool reversed = false;        // phases wired A-C-B: the controller sees the angle fall
    double periodSamples = 100;   // samples per electrical revolution
    double startDegrees = -90;    // angle at sample 0
    double amplitude = 20;        // phase voltage peak, V
    double hallShiftDegrees = 7;  // hall edges at 60 k + shift
    std::array<int, 3> hallWiring{0, 1, 2};  // controller hall input j reads sensor wiring[j]
    int sensorMode = 1;
    int hallsPresent = 1;
    int hallsAbsentReading = 7;    // what unconnected hall inputs read
    double poleRatio = 4;          // electrical revolutions per sensor revolution (sign: direction)
    double positionAtStart = 0.1;  // sensor reading at sample 0, fraction of its range
    int samples = kPhaseSampleCount;
};

inline PhaseCalibration testCalibration() {
    PhaseCalibration c;
    c.baseVoltage = 100;
    c.phaseA = {1.1f, -0.01f};
    c.phaseB = {0.9f, 0.02f};
    c.phaseC = {1.0f, 0.005f};
    return c;
}

inline double angleAt(const MotorSpec& m, double sample) {
    const double turn = 360.0 * sample / m.periodSamples;
    return m.reversed ? m.startDegrees - turn : m.startDegrees + turn;
}

inline double wrap360(double degrees) {
    const double w = std::fmod(degrees, 360.0);
    return w < 0 ? w + 360 : w;
}

// The hall inputs at an angle: sensor i is high for the half turn after shift + 120 i.
inline int hallState(const MotorSpec& m, double degrees) {
    int state = 0;
    for (int j = 0; j < 3; ++j) {
        const int sensor = m.hallWiring[static_cast<std::size_t>(j)];
        if (wrap360(degrees - m.hallShiftDegrees - 120.0 * sensor) < 180) state |= 1 << j;
    }
    return state;
}

inline std::uint16_t rawReading(double volts, const CalibrationChannel& ch, double base) {
    const double r = (volts / (ch.gain * base) - ch.offset) * 65536;
    return static_cast<std::uint16_t>(std::lround(std::clamp(r, 0.0, 65535.0)));
}

inline std::uint16_t positionReading(const MotorSpec& m, double sample) {
    const double revolutions = sample / m.periodSamples / m.poleRatio;
    const double fraction = m.positionAtStart + revolutions;
    const double wrapped = fraction - std::floor(fraction);
    return static_cast<std::uint16_t>(static_cast<int>(wrapped * 65536) & 0xFFF8);
}

inline PhaseRecording makePhaseRecording(const MotorSpec& m) {
    PhaseRecording r;
    r.sensorMode = m.sensorMode;
    r.hallsPresent = m.hallsPresent;
    r.calibration = testCalibration();
    const double pi = std::acos(-1.0);
    const bool halls = m.sensorMode == 1 || (m.sensorMode == 3 && m.hallsPresent != 0);
    const bool position = m.sensorMode == 2 || m.sensorMode == 3;
    for (int i = 0; i < m.samples; ++i) {
        const double alpha = angleAt(m, i);
        const double phi = (alpha - 30) * pi / 180;  // controller phase A
        const double common = 50;
        const double va = common + m.amplitude * std::sin(phi);
        const double vb = common + m.amplitude * std::sin(phi - 2 * pi / 3);
        const double vc = common + m.amplitude * std::sin(phi + 2 * pi / 3);
        RawPhaseSample s;
        const auto& c = r.calibration;
        // Line AB is input 3 minus input 2, BC input 2 minus 1, CA input 1 minus 3.
        s.r3 = rawReading(va, c.phaseC, c.baseVoltage);
        s.r2 = rawReading(vb, c.phaseB, c.baseVoltage);
        s.r1 = rawReading(vc, c.phaseA, c.baseVoltage);
        s.hall = static_cast<std::uint16_t>(halls ? hallState(m, alpha) : m.hallsAbsentReading);
        s.position = position ? positionReading(m, i) : 0;
        r.samples.push_back(s);
    }
    return r;
}

// The table the motor's wiring implies: for every hall edge, the state entered as the motor
// turns during the acquisition gets the edge's angle and the state it left.
inline HallTable expectedHallTable(const MotorSpec& m) {
    HallTable t = resetHallTable();
    for (int k = 0; k < 6; ++k) {
        const double edge = 60.0 * k + m.hallShiftDegrees;
        const int below = hallState(m, edge - 1);
        const int above = hallState(m, edge + 1);
        const int entered = m.reversed ? below : above;
        const int left = m.reversed ? above : below;
        t[static_cast<std::size_t>(entered)] = {wrap360(edge) / 360, left};
    }
    return t;
}

// Angles compared the short way round a revolution, within `toleranceDegrees`.
inline void expectHallTable(const HallTable& actual, const HallTable& expected,
                            double toleranceDegrees) {
    for (std::size_t s = 0; s < 8; ++s) {
        EXPECT_EQ(actual[s].previous, expected[s].previous) << "state " << s;
        const double diff = wrap360((actual[s].angle - expected[s].angle) * 360 + 180) - 180;
        EXPECT_LE(std::fabs(diff), toleranceDegrees)
            << "state " << s << ": " << actual[s].angle * 360 << " vs " << expected[s].angle * 360;
    }
}

// A link that records what is sent and answers connections from a script.
class FakeLink : public ToolLink {
  public:
    bool connectTcp() override {
        ++connects;
        if (whileConnecting) whileConnecting();
        tcpOpen = connectResult;
        return connectResult;
    }
    void closeTcp() override {
        ++closes;
        tcpOpen = false;
    }
    bool portOpen() const override { return open; }
    bool queueAndFlush(std::uint32_t identifier, const CanFrame::Data& data) override {
        sent.push_back({identifier, data, tcpOpen});
        return true;
    }
    bool sendNow(std::uint32_t identifier, const CanFrame::Data& data) override {
        sent.push_back({identifier, data, false});
        return true;
    }

    struct Sent {
        std::uint32_t identifier;
        CanFrame::Data data;
        bool overTcp;
    };
    bool open = true;
    bool connectResult = true;
    bool tcpOpen = false;
    int connects = 0;
    int closes = 0;
    std::vector<Sent> sent;
    std::function<void()> whileConnecting;  // a connect that takes time moves a clock here
};

inline CanFrame::Data statusFrame(std::uint16_t w0, std::uint16_t w1, std::uint16_t w2,
                                  std::uint16_t phase) {
    return AcquisitionStatus{w0, w1, w2, phase}.encode();
}

// The frames a controller sends for a phase acquisition of `recording`, in order.
inline std::vector<std::pair<std::uint32_t, CanFrame::Data>> phaseReplies(
    const PhaseRecording& recording, std::uint32_t base) {
    std::vector<std::pair<std::uint32_t, CanFrame::Data>> out;
    const auto mode =
        static_cast<std::uint16_t>(recording.sensorMode | recording.hallsPresent << 8);
    out.push_back({base + kAcquisitionStatusOffset, statusFrame(0, 0, mode, 1)});
    out.push_back({base + kAcquisitionStatusOffset, statusFrame(0, 0, 0, 2)});
    for (const RawPhaseSample& s : recording.samples)
        out.push_back({base + kAcquisitionDataOffset, encodePhaseSample(s)});
    out.push_back({base + kAcquisitionStatusOffset, statusFrame(100, 200, 300, 3)});
    return out;
}

inline constexpr std::uint32_t kToolBase = 0x460;

// Records every box; a file dialog takes the next scripted answer (none scripted: a failure).
class RecordingUi : public UserInteraction {
  public:
    MessageAnswer messageBox(const MessageBoxRequest& request) override {
        if (onBox) onBox(request);
        boxes.push_back(request);
        return MessageAnswer::Ok;
    }
    std::optional<std::string> fileDialog(const FileDialogRequest& request) override {
        dialogs.push_back(request);
        if (fileAnswers.empty()) {
            ADD_FAILURE() << "unexpected file dialog";
            return std::nullopt;
        }
        auto answer = fileAnswers.front();
        fileAnswers.pop_front();
        return answer;
    }
    std::vector<MessageBoxRequest> boxes;
    std::vector<FileDialogRequest> dialogs;
    std::deque<std::optional<std::string>> fileAnswers;
    std::function<void(const MessageBoxRequest&)> onBox;  // called as each box is shown
};

// A tool's surroundings: the link, the user, a store with a calibration, a motor selector that
// picks `chosen` and an upload that is only recorded.
struct ToolBench {
    FakeLink link;
    RecordingUi ui;
    CConfigDataBank store;
    int chosen = 3;
    int chooserRuns = 0;
    std::vector<int> uploads;

    ToolBench() {
        store.resetToDefaults();
        store.privateConfig.baseVoltage = 100;
        store.privateConfig.phaseAVoltage = {1.1f, -0.01f};
        store.privateConfig.phaseBVoltage = {0.9f, 0.02f};
        store.privateConfig.phaseCVoltage = {1.0f, 0.005f};
        store.privateConfig.baseCurrent = 32768.0f / 100;
    }
    ToolContext context() {
        ToolContext c;
        c.link = &link;
        c.ui = &ui;
        c.store = &store;
        c.base = kToolBase;
        c.chooseMotor = [this] {
            ++chooserRuns;
            return chosen;
        };
        c.startUpload = [this](int action) { uploads.push_back(action); };
        return c;
    }
};

// Offers the frames one a millisecond from t0 + 1, polling after each.
inline void feed(CommissioningTool& tool,
                 const std::vector<std::pair<std::uint32_t, CanFrame::Data>>& frames,
                 double t0 = 0) {
    double t = t0;
    for (const auto& [id, data] : frames) {
        t += 1;
        EXPECT_TRUE(tool.offerFrame(id, data, t));
        tool.poll(t);
    }
}

// A folder of its own for a test, removed with everything in it.
class TempFolder {
  public:
    TempFolder() {
        path_ = std::filesystem::temp_directory_path() /
                ("qv_tools_" + std::to_string(::getpid()) + "_" + std::to_string(count_++));
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string file(const std::string& name, std::string_view text) const {
        const std::string p = (path_ / name).string();
        std::string error;
        EXPECT_TRUE(writeTextFile(p, text, &error)) << error;
        return p;
    }
    std::filesystem::path path() const { return path_; }

  private:
    static inline int count_ = 0;
    std::filesystem::path path_;
};

}  // namespace qv::test
