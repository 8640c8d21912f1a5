#include "app/commission_assistant.h"

#include <filesystem>

#include "config/pages/motor_selector.h"
#include "tools/pass_text.h"

namespace qv {

namespace {

constexpr std::array<const char*, kAssistantPageCount> kPageTitles = {
    "Device and motor", "Backup", "Phase and hall allocation", "Motor parameters", "Review",
    "Write and verify", "Report"};

}  // namespace

const char* assistantPageTitle(AssistantPage page) {
    return kPageTitles.at(static_cast<std::size_t>(page));
}

AssistantPage pageOf(PassStep step) {
    switch (step) {
        case PassStep::Device:
            return AssistantPage::Device;
        case PassStep::Backup:
            return AssistantPage::Backup;
        case PassStep::Phases:
            return AssistantPage::Phases;
        case PassStep::Parameters:
            return AssistantPage::Parameters;
        case PassStep::Review:
            return AssistantPage::Review;
        case PassStep::Write:
        case PassStep::Verify:
            return AssistantPage::Write;
        case PassStep::Report:
            return AssistantPage::Report;
    }
    return AssistantPage::Device;
}

// The pass's transfers on the main window's worker, so that no other transfer runs meanwhile.
class CommissionAssistant::Worker final : public PassWorker {
  public:
    explicit Worker(std::function<bool(std::function<void()>)> start) : start_(std::move(start)) {}
    bool start(std::function<void()> work) override { return start_ && start_(std::move(work)); }

  private:
    std::function<bool(std::function<void()>)> start_;
};

CommissionAssistant::CommissionAssistant(AssistantServices services)
    : services_(std::move(services)),
      worker_(std::make_unique<Worker>(services_.startWorkerTask)) {}

CommissionAssistant::~CommissionAssistant() = default;

std::string CommissionAssistant::proposedFolder() const {
    if (!device_ || !services_.localTime) return {};
    const std::string root = defaultCommissioningRoot();
    if (root.empty()) return {};
    return (std::filesystem::path(root) /
            passFolderName(device_->target.base, device_->target.serial, services_.localTime()))
        .string();
}

void CommissionAssistant::shown() {
    ++changes_;
    // A pass that ended is left behind: the first page starts the next one.
    if (pass_ && pass_->finished()) pass_.reset();
    if (pass_) return;
    device_ = services_.selectedDevice ? services_.selectedDevice() : std::nullopt;
    const std::string old = proposed_;
    proposed_ = proposedFolder();
    if (choices_.folder.empty() || choices_.folder == old) choices_.folder = proposed_;
}

void CommissionAssistant::hidden(double nowMs) {
    ++changes_;
    if (!pass_ || pass_->finished()) return;
    const auto now = services_.selectedDevice ? services_.selectedDevice() : std::nullopt;
    const bool same = now && device_ && now->target.base == device_->target.base &&
                      now->target.serial == device_->target.serial;
    pass_->cancel(same ? "the assistant's window was closed (by the user, another tool window, "
                         "Re-Connect or the program's end)"
                       : "the controller " + baseAddressText(device_->target.base) + " " +
                             std::to_string(device_->target.serial) +
                             " was lost or another device was selected",
                  nowMs);
}

std::vector<std::string> CommissionAssistant::motorLines() const {
    std::vector<std::string> lines;
    if (services_.store && services_.store->isValid(StructureKind::Motor)) {
        int ignored = -1;
        return CMotorSelector(*services_.store, &ignored).lines();
    }
    for (std::size_t i = 0; i < kMotorCount; ++i) lines.push_back(std::to_string(i));
    return lines;
}

AssistantPage CommissionAssistant::page() const {
    if (!pass_ || pass_->record().stoppedAt == PassStep::Device) return AssistantPage::Device;
    return pageOf(pass_->step());
}

bool CommissionAssistant::acquiring() const {
    return pass_ && pass_->wantedIdentifier().has_value();
}

bool CommissionAssistant::busy() const {
    return pass_ && pass_->busy();
}

void CommissionAssistant::poll(double nowMs) {
    if (pass_) pass_->poll(nowMs);
}

std::uint64_t CommissionAssistant::generation() const {
    return (changes_ << 32) + (pass_ ? pass_->generation() : 0);
}

std::string CommissionAssistant::reportPath() const {
    if (!pass_) return {};
    return (std::filesystem::path(pass_->record().folder) / pass_file::kReport).string();
}

AssistantButtons CommissionAssistant::buttons() const {
    AssistantButtons b;
    if (!pass_) {
        b.next = device_.has_value();
        b.nextText = "Start";
        return b;
    }
    const CommissioningPass& p = *pass_;
    if (p.finished() && p.record().stoppedAt == PassStep::Device) {
        // It could not start: the first page again, to choose otherwise.
        b.next = device_.has_value();
        b.nextText = "Start";
        return b;
    }
    b.choicesEditable = false;
    if (p.finished()) {
        b.cancel = false;
        b.openReport = p.record().at(PassStep::Report).outcome == StepOutcome::Succeeded;
        return b;
    }
    b.cancel = p.canCancel();
    if (p.busy()) return b;
    b.next = p.canContinue();
    b.retry = p.canRetry();
    const StepOutcome o = p.outcome();
    if (p.step() == PassStep::Phases && o == StepOutcome::Pending)
        b.nextText = "Acquire";
    else if (p.step() == PassStep::Parameters && o == StepOutcome::Pending)
        b.nextText = "Measure";
    else if (p.step() == PassStep::Review && o == StepOutcome::Succeeded)
        b.nextText = "Write";
    else
        b.nextText = "Next";
    return b;
}

std::string CommissionAssistant::hint() const {
    if (!pass_) {
        if (!device_) return "No controller is selected: select one in the main window first.";
        return "Choose the motor record to commission, its type and the steps to run, then "
               "Start. Nothing is written to the controller before the write step; Cancel at "
               "any step leaves it as it was.";
    }
    const CommissioningPass& p = *pass_;
    const StepRecord& r = p.record().at(p.step());
    if (p.finished() && p.record().stoppedAt == PassStep::Device)
        return "Cannot start: " + p.record().stopReason + ".";
    if (p.finished()) {
        if (p.record().complete) return "Motor record commissioned and verified.";
        if (p.written())
            return "Stopped after the write: the controller holds the new motor record, but it "
                   "was not verified. The report says why.";
        return "Stopped: the report says where and why; the controller holds what it held "
               "before the write step.";
    }
    if (p.busy()) {
        switch (p.step()) {
            case PassStep::Backup:
                return "Downloading the whole configuration...";
            case PassStep::Phases:
                return "Acquiring: keep the motor turning...";
            case PassStep::Parameters:
                return p.inductionParameters() ? "Measuring the motor at standstill, then fitting "
                                                 "its equivalent circuit (up to two minutes)..."
                                               : "Measuring the motor at standstill...";
            case PassStep::Write:
            case PassStep::Verify: {
                // One transfer writes, resets the controller and reads back.
                const std::string stage = p.transferProgress().caption;
                if (stage.rfind("QV -> PC", 0) == 0)
                    return "Reading back what was written, once the controller has restarted...";
                return "Writing the motor record; the controller is reset afterwards...";
            }
            default:
                return "Working...";
        }
    }
    if (r.outcome == StepOutcome::Failed)
        return "Failed: " + r.summary + "\nRetry, or Cancel to stop (nothing has been written).";
    switch (p.step()) {
        case PassStep::Phases:
            return r.outcome == StepOutcome::Pending
                       ? "Turn the motor steadily (the controller needs it to turn fast enough), "
                         "then press Acquire."
                       : "Phase and hall allocation found. Next goes on; Retry acquires again.";
        case PassStep::Parameters:
            return r.outcome == StepOutcome::Pending
                       ? "Let the motor stand still, then press Measure."
                       : "Motor parameters found. Next goes on to the review; Retry measures "
                         "again.";
        case PassStep::Review:
            return "These fields of motor record " + std::to_string(p.record().motor) +
                   " change. Write uploads the motor record, resets the controller and reads "
                   "it back.";
        default:
            return r.summary;
    }
}

void CommissionAssistant::pressNext(double nowMs) {
    ++changes_;
    if (pass_ && pass_->finished() && pass_->record().stoppedAt == PassStep::Device) pass_.reset();
    if (pass_) {
        pass_->next(nowMs);
        return;
    }
    if (!device_) return;
    PassServices s;
    s.port = services_.port;
    s.ui = services_.ui;
    s.forwardMessages = false;  // the pages show the results; only questions are asked
    s.worker = worker_.get();
    s.fitRunner = services_.fitRunner;
    s.plots = services_.plots;
    s.portProgressHook = services_.portProgressHook;
    PassSetup setup;
    setup.target = device_->target;
    setup.deviceType = device_->type;
    setup.motor = choices_.motor;
    setup.motorType = choices_.motorType;
    setup.phases = choices_.phases;
    setup.parameters = choices_.parameters;
    setup.folder = choices_.folder;
    if (services_.localTime) setup.started = services_.localTime();
    setup.programVersion = programVersionText();
    pass_ = std::make_unique<CommissioningPass>(std::move(s), std::move(setup));
    pass_->next(nowMs);
}

void CommissionAssistant::pressRetry(double nowMs) {
    ++changes_;
    if (pass_) pass_->retry(nowMs);
}

void CommissionAssistant::pressCancel(double nowMs) {
    ++changes_;
    if (pass_ && !pass_->finished()) pass_->cancel("cancelled by the user", nowMs);
}

std::optional<MessageBoxRequest> CommissionAssistant::closeQuestion() const {
    if (!pass_ || pass_->finished()) return std::nullopt;
    return MessageBoxRequest{
        "The commissioning pass has not ended.\r\n\r\nStop it here? Nothing more is written "
        "to the controller, and the report records where it stopped.",
        kAssistantCaption, MessageIcon::Question, MessageButtons::YesNo, MessageAnswer::No};
}

bool CommissionAssistant::pressOpenReport() {
    const std::string path = reportPath();
    if (path.empty()) return false;
    if (services_.openReport && services_.openReport(path)) return true;
    if (services_.ui)
        services_.ui->messageBox({"Could not open the report in a browser:\r\n\r\n" + path,
                                  kAssistantCaption, MessageIcon::Warning, MessageButtons::Ok,
                                  MessageAnswer::Ok});
    return false;
}

}  // namespace qv
