#pragma once
// The commissioning assistant (Tools > Commissioning Assistant...) without its window: the
// choices of its first page, the pass it runs (CommissioningPass, the same as qvcli
// commission's), which page shows, which buttons are live and what they do, and the pass given
// up when the window goes (closed, another tool opened, the controller lost). The window shows
// what this says and forwards the buttons; while the pass waits for the controller's frames the
// window takes the CAN port's queue itself (acquiring()), as the tool windows do.
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config/config_data_bank.h"
#include "tools/commissioning_pass.h"

namespace qv {

inline constexpr const char* kAssistantCaption = "Commissioning Assistant";

// The wizard's pages; the write and the verification share one.
enum class AssistantPage : int { Device, Backup, Phases, Parameters, Review, Write, Report };
inline constexpr int kAssistantPageCount = 7;
// "Device and motor", "Backup", "Phase and hall allocation", "Motor parameters", "Review",
// "Write and verify", "Report"
const char* assistantPageTitle(AssistantPage page);
AssistantPage pageOf(PassStep step);

// The selected controller, as the main window knows it.
struct AssistantDevice {
    TransferTarget target;
    std::uint16_t type = 0;
};

struct AssistantServices {
    CBcan* port = nullptr;
    UserInteraction* ui = nullptr;
    // The application's store: the motor records' descriptions and types while it holds them.
    const CConfigDataBank* store = nullptr;
    std::function<std::optional<AssistantDevice>()> selectedDevice;
    // Starts a task on the main window's transfer worker (false while it is busy).
    std::function<bool(std::function<void()>)> startWorkerTask;
    std::function<std::unique_ptr<ImFitRunner>()> fitRunner;
    PlotRenderer* plots = nullptr;
    std::function<void(std::uint16_t)> portProgressHook;
    std::function<std::tm()> localTime;
    // Opens a file in the desktop's browser; false when it could not.
    std::function<bool(const std::string& path)> openReport;
};

// What the first page asks.
struct AssistantChoices {
    int motor = 0;
    std::optional<int> motorType;  // nothing: as the record holds it
    bool phases = true;
    bool parameters = true;
    std::string folder;
};

struct AssistantButtons {
    bool next = false;  // Start, Acquire, Measure, Next, Write
    std::string nextText = "Start";
    bool retry = false;
    bool cancel = true;
    bool openReport = false;
    bool close = true;
    bool choicesEditable = true;  // the first page's fields
};

class CommissionAssistant {
  public:
    explicit CommissionAssistant(AssistantServices services);
    ~CommissionAssistant();
    CommissionAssistant(const CommissionAssistant&) = delete;
    CommissionAssistant& operator=(const CommissionAssistant&) = delete;

    // The window was shown: the selected device is taken and, unless a pass ran, the first
    // page offers a fresh folder for it.
    void shown();
    // The window was hidden: a pass still running is cancelled (the controller keeps what it
    // holds) and its report written.
    void hidden(double nowMs);

    const AssistantServices& services() const { return services_; }
    const std::optional<AssistantDevice>& device() const { return device_; }
    AssistantChoices& choices() { return choices_; }
    const AssistantChoices& choices() const { return choices_; }
    // The folder the choices would give when nothing was typed: ~/qvconfig/commissioning/...
    std::string proposedFolder() const;
    // One line per motor record: "0  DOZAZ surface" while the application holds the
    // configuration, else the number.
    std::vector<std::string> motorLines() const;

    AssistantPage page() const;
    AssistantButtons buttons() const;
    // What the page tells the user to do or what happened.
    std::string hint() const;

    void pressNext(double nowMs);
    void pressRetry(double nowMs);
    // Cancels the pass (or, before it started, nothing).
    void pressCancel(double nowMs);
    // False (with a box) when the browser could not be started.
    bool pressOpenReport();
    // Asked before the user closes the window while a pass runs; nothing when it may close.
    std::optional<MessageBoxRequest> closeQuestion() const;

    // Nothing before Start.
    CommissioningPass* pass() const { return pass_.get(); }
    // The pass waits for the controller's frames: the window offers them (pumpFrames).
    bool acquiring() const;
    bool busy() const;
    void poll(double nowMs);
    std::string reportPath() const;
    // Changes with everything shown.
    std::uint64_t generation() const;

  private:
    class Worker;

    AssistantServices services_;
    std::unique_ptr<Worker> worker_;
    std::optional<AssistantDevice> device_;
    AssistantChoices choices_;
    std::string proposed_;
    std::unique_ptr<CommissioningPass> pass_;
    std::uint64_t changes_ = 0;
};

}  // namespace qv
