#include "tools/commissioning_pass.h"

#include <chrono>
#include <filesystem>
#include <thread>

#include "config/config_file.h"
#include "config/transfer_messages.h"
#include "tools/acquisition_csv.h"
#include "tools/commissioning_pass_shared.h"
#include "tools/commissioning_report.h"

namespace qv {

namespace {

bool isInteractive(PassStep s) {
    return s == PassStep::Phases || s == PassStep::Parameters;
}

std::tm localNow() {
    const std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    return local;
}

}  // namespace

CommissioningPass::CommissioningPass(PassServices services, PassSetup setup)
    : services_(std::move(services)),
      setup_(std::move(setup)),
      shared_(std::make_shared<Shared>(services_.ui, services_.forwardMessages)),
      link_(*services_.port, setup_.target.base) {
    record_.base = setup_.target.base;
    record_.serial = setup_.target.serial;
    record_.deviceType = setup_.deviceType;
    record_.motor = setup_.motor;
    record_.motorType = setup_.motorType.value_or(-1);
    record_.programVersion = setup_.programVersion;
    record_.folder = setup_.folder;
    record_.started = setup_.started;
    for (int i = 0; i < kPassStepCount; ++i) record_.steps[i].step = static_cast<PassStep>(i);

    ToolContext c;
    c.link = &link_;
    c.ui = &shared_->interaction;
    c.store = &shared_->store;
    c.base = setup_.target.base;
    c.chooseMotor = [motor = setup_.motor] { return motor; };
    c.startUpload = [](int) {};  // the pass writes once, in its own step
    phaseTool_ = std::make_unique<DuvodaRezirTool>(c);
    pmTool_ = std::make_unique<PmExtractionTool>(c);
    imTool_ = std::make_unique<ImExtractionTool>(
        c, services_.fitRunner ? services_.fitRunner() : std::make_unique<InlineFitRunner>());
}

CommissioningPass::~CommissioningPass() {
    if (wait_ == Wait::Selecting || wait_ == Wait::Acquiring) activeTool().closed();
    if (wait_ == Wait::Transfer) cancelTransfer(shared_->store, *services_.port, shared_->progress);
}

bool CommissioningPass::busy() const {
    return wait_ != Wait::None;
}

bool CommissioningPass::inductionParameters() const {
    const int type = setup_.motorType.value_or(record_.motorType);
    return type == motor_type::kInduction;
}

ConfigProgressState CommissioningPass::transferProgress() const {
    return shared_->progress.state();
}

bool CommissioningPass::canContinue() const {
    if (finished_ || busy() || cancelRequested_) return false;
    const StepOutcome o = outcome();
    return o == StepOutcome::Pending || (o == StepOutcome::Succeeded && following(current_));
}

bool CommissioningPass::canRetry() const {
    if (finished_ || busy() || cancelRequested_) return false;
    const StepOutcome o = outcome();
    if (current_ == PassStep::Backup) return o == StepOutcome::Failed;
    return isInteractive(current_) && (o == StepOutcome::Succeeded || o == StepOutcome::Failed);
}

void CommissioningPass::next(double nowMs) {
    lastNowMs_ = nowMs;
    if (!canContinue()) return;
    if (outcome() == StepOutcome::Pending)
        begin(current_, nowMs);
    else
        advanceFrom(current_, nowMs);
}

void CommissioningPass::retry(double nowMs) {
    lastNowMs_ = nowMs;
    if (!canRetry()) return;
    begin(current_, nowMs);
}

std::optional<PassStep> CommissioningPass::following(PassStep step) const {
    for (int i = static_cast<int>(step) + 1; i < kPassStepCount; ++i) {
        const auto s = static_cast<PassStep>(i);
        if (s == PassStep::Phases && !setup_.phases) continue;
        if (s == PassStep::Parameters && !setup_.parameters) continue;
        return s;
    }
    return std::nullopt;
}

void CommissioningPass::advanceFrom(PassStep step, double nowMs) {
    const auto next = following(step);
    if (!next) return;
    // Steps left out by the set-up are recorded as skipped, in order.
    for (int i = static_cast<int>(step) + 1; i < static_cast<int>(*next); ++i) {
        StepRecord& skipped = record_.steps[i];
        skipped.outcome = StepOutcome::Skipped;
        skipped.summary = "not chosen";
        if (services_.stepEnded) services_.stepEnded(skipped);
    }
    current_ = *next;
    ++generation_;
    if (*next == PassStep::Report) {
        stop(PassStep::Report, {}, StepOutcome::Succeeded);
        return;
    }
    // The acquisitions wait for the user (the motor must be ready); everything else runs on.
    if (!isInteractive(*next)) begin(*next, nowMs);
}

void CommissioningPass::begin(PassStep step, double nowMs) {
    current_ = step;
    StepRecord& r = record_.at(step);
    r.outcome = StepOutcome::Running;
    ++r.attempts;
    messagesAtStart_ = shared_->interaction.count();
    ++generation_;
    switch (step) {
        case PassStep::Device:
            startDevice();
            break;
        case PassStep::Backup:
            startBackup();
            break;
        case PassStep::Phases:
        case PassStep::Parameters:
            startAcquisition(step, nowMs);
            break;
        case PassStep::Review:
            startReview();
            break;
        case PassStep::Write:
            startWrite();
            break;
        case PassStep::Verify:
            recordVerification();
            break;
        case PassStep::Report:
            break;
    }
}

// ---- the steps ----

void CommissioningPass::startDevice() {
    StepRecord& r = record_.at(PassStep::Device);
    r.values = {{"Controller", baseAddressText(setup_.target.base)},
                {"Serial number", std::to_string(setup_.target.serial)},
                {"Device type", hexText(setup_.deviceType, 4)},
                {"Motor record", std::to_string(setup_.motor)},
                {"Motor type", setup_.motorType ? motorTypeName(*setup_.motorType)
                                                : std::string("as the record holds it")},
                {"Steps", std::string(setup_.phases ? "phases" : "") +
                              (setup_.phases && setup_.parameters ? ", " : "") +
                              (setup_.parameters ? "parameters" : "")},
                {"Folder", setup_.folder}};
    if (setup_.motor < 0 || setup_.motor >= static_cast<int>(kMotorCount))
        return end(StepOutcome::Failed,
                   "motor record " + std::to_string(setup_.motor) + " does not exist (0 to 9)");
    if (setup_.motorType && (*setup_.motorType < 0 || *setup_.motorType > motor_type::kIpm))
        return end(StepOutcome::Failed, "unknown motor type " + std::to_string(*setup_.motorType));
    if (setup_.target.configError)
        return end(StepOutcome::Failed,
                   "the controller reports a configuration error (CFG): restore its "
                   "configuration before commissioning a motor");
    std::error_code ec;
    const std::filesystem::path folder(setup_.folder);
    if (setup_.folder.empty())
        return end(StepOutcome::Failed, "no folder was given for the pass's files");
    if (std::filesystem::exists(folder / pass_file::kReport, ec))
        return end(StepOutcome::Failed, "the folder " + setup_.folder +
                                            " already holds a commissioning report; choose "
                                            "another folder");
    std::filesystem::create_directories(folder, ec);
    if (ec || !std::filesystem::is_directory(folder, ec))
        return end(StepOutcome::Failed, "cannot create the folder " + setup_.folder + ": " +
                                            (ec ? ec.message() : std::string("not a folder")));
    end(StepOutcome::Succeeded, baseAddressText(setup_.target.base) + " " +
                                    std::to_string(setup_.target.serial) + " motor " +
                                    std::to_string(setup_.motor));
}

TransferContext CommissioningPass::transferContext(CConfigDataBank& store) {
    TransferContext c(*services_.port, store, setup_.target, shared_->interaction,
                      shared_->progress);
    c.portProgressHook = services_.portProgressHook;
    return c;
}

bool CommissioningPass::startTransfer(std::function<bool()> job) {
    shared_->done.store(false, std::memory_order_relaxed);
    shared_->ok = false;
    wait_ = Wait::Transfer;
    std::shared_ptr<Shared> shared = shared_;
    const bool started =
        services_.worker && services_.worker->start([shared, job = std::move(job)] {
            bool ok = false;
            try {
                ok = job();
            } catch (const std::exception&) {
                ok = false;
            }
            shared->ok = ok;
            shared->done.store(true, std::memory_order_release);
        });
    if (started) return true;
    wait_ = Wait::None;
    shared_->done.store(true, std::memory_order_relaxed);
    return false;
}

void CommissioningPass::startBackup() {
    std::shared_ptr<Shared> shared = shared_;
    TransferContext context = transferContext(shared_->store);
    const bool started = startTransfer([shared, context]() mutable {
        if (!downloadConfig(context, kDownloadMaskAll)) return false;
        const CConfigDataBank& s = shared->store;
        if (!s.isValid(StructureKind::Public) || !s.isValid(StructureKind::Private) ||
            !s.isValid(StructureKind::Motor))
            return false;
        shared->backup = takeSnapshot(s);
        return true;
    });
    if (!started)
        end(StepOutcome::Failed,
            "another configuration transfer is still running; wait for it to end and retry");
}

void CommissioningPass::finishBackup() {
    StepRecord& r = record_.at(PassStep::Backup);
    if (!shared_->ok) {
        const std::string why = failureText(shared_->interaction.since(messagesAtStart_));
        r.text = why;
        if (cancelRequested_) return stop(PassStep::Backup, cancelReason_, StepOutcome::Cancelled);
        return end(StepOutcome::Failed, "the download failed: " + firstLine(why));
    }
    const MotorConfig& m = shared_->store.motor[static_cast<std::size_t>(setup_.motor)];
    record_.description = descriptionText(m);
    if (!setup_.motorType) record_.motorType = m.motorType;
    // Saved before anything changes: the configuration exactly as the controller held it.
    const bool saved =
        saveConfigFile(shared_->store, pathOf(pass_file::kBefore), shared_->interaction);
    r.values = {{"Configuration version", formatVersion(shared_->store.heldVersion)},
                {"Motor record " + std::to_string(setup_.motor),
                 "\"" + record_.description + "\", " + motorTypeName(m.motorType)}};
    if (!saved) {
        r.text = failureText(shared_->interaction.since(messagesAtStart_));
        return end(StepOutcome::Failed, "cannot save before.cfg: " + firstLine(r.text));
    }
    addFile(r, pass_file::kBefore);
    if (cancelRequested_) return stop(PassStep::Backup, cancelReason_, StepOutcome::Cancelled);
    end(StepOutcome::Succeeded, pass_file::kBefore);
}

CommissioningTool& CommissioningPass::activeTool() {
    if (current_ == PassStep::Phases) return *phaseTool_;
    if (inductionParameters()) return *imTool_;
    return *pmTool_;
}

void CommissioningPass::startAcquisition(PassStep step, double nowMs) {
    if (step == PassStep::Parameters) {
        const int type = setup_.motorType.value_or(record_.motorType);
        if (type < 0 || type > motor_type::kIpm)
            return end(StepOutcome::Failed, "the motor record's type (" + motorTypeName(type) +
                                                ") is none of BLDC, Induction and IPM: choose "
                                                "the motor type");
    }
    // The controller is told which tool is open, and given a moment to take it in.
    activeTool().shown();
    wait_ = Wait::Selecting;
    selectUntilMs_ = nowMs + kToolSelectSettleMs;
}

std::optional<std::uint32_t> CommissioningPass::wantedIdentifier() const {
    if (wait_ != Wait::Acquiring) return std::nullopt;
    return const_cast<CommissioningPass*>(this)->activeTool().wantedIdentifier();
}

bool CommissioningPass::offerFrame(std::uint32_t identifier, const CanFrame::Data& data,
                                   double nowMs) {
    lastNowMs_ = nowMs;
    if (wait_ != Wait::Acquiring) return false;
    CommissioningTool& tool = activeTool();
    const bool taken = tool.offerFrame(identifier, data, nowMs);
    if (!tool.busy()) finishAcquisition();
    return taken;
}

void CommissioningPass::poll(double nowMs) {
    lastNowMs_ = nowMs;
    switch (wait_) {
        case Wait::None:
            return;
        case Wait::Transfer:
            if (!shared_->done.load(std::memory_order_acquire)) return;
            wait_ = Wait::None;
            ++generation_;
            if (current_ == PassStep::Backup)
                finishBackup();
            else if (current_ == PassStep::Write)
                finishWrite();
            return;
        case Wait::Selecting: {
            if (nowMs < selectUntilMs_) return;
            CommissioningTool& tool = activeTool();
            tool.acquire(nowMs);
            wait_ = Wait::Acquiring;
            ++generation_;
            if (!tool.busy()) finishAcquisition();
            return;
        }
        case Wait::Acquiring: {
            CommissioningTool& tool = activeTool();
            tool.poll(nowMs);
            if (!tool.busy()) finishAcquisition();
            return;
        }
    }
}

void CommissioningPass::finishAcquisition() {
    wait_ = Wait::None;
    CommissioningTool& tool = activeTool();
    tool.hidden();
    StepRecord& r = record_.at(current_);
    r.values.clear();
    r.plots.clear();
    r.text.clear();
    if (current_ == PassStep::Phases)
        recordPhases(r, r.attempts);
    else if (inductionParameters())
        recordIm(r, r.attempts);
    else
        recordPm(r, r.attempts);
}

void CommissioningPass::startReview() {
    CConfigDataBank& store = shared_->store;
    MotorConfig& m = store.motor[static_cast<std::size_t>(setup_.motor)];
    if (setup_.motorType && m.motorType != *setup_.motorType) {
        m.motorType = static_cast<std::uint16_t>(*setup_.motorType);
        store.markModified(StructureKind::Motor);
    }
    record_.changes = diffConfigs(shared_->backup, store);
    StepRecord& r = record_.at(PassStep::Review);
    const std::string own = "motor[" + std::to_string(setup_.motor) + "]";
    for (const FieldDifference& d : record_.changes)
        if (d.record != own)
            return stop(PassStep::Review,
                        "a field outside " + own + " would change (" + d.record + " " + d.field +
                            "); nothing was written",
                        StepOutcome::Failed);
    r.values = {{"Fields that change", std::to_string(record_.changes.size())}};
    end(StepOutcome::Succeeded,
        std::to_string(record_.changes.size()) + " fields of " + own + " change");
}

void CommissioningPass::startWrite() {
    // The motor structure is written whatever changed in it: writing equal values is harmless,
    // and the verification then covers the whole record.
    shared_->store.markModified(StructureKind::Motor);
    shared_->progress.clearHistory();
    shared_->uploaded = false;
    shared_->verification.reset();
    shared_->readBackWhole = false;
    std::shared_ptr<Shared> shared = shared_;
    TransferContext context = transferContext(shared_->store);
    // One job: the upload (with its questions and the controller's reset), the verification of
    // what it wrote, and the whole configuration read again for after.cfg.
    const bool started = startTransfer([shared, context]() mutable {
        context.lastDownload = &shared->backup;
        WrittenStreams written;
        context.written = &written;
        shared->uploaded = uploadConfig(context);
        context.written = nullptr;
        shared->boxesBeforeVerification = shared->interaction.count();
        if (!shared->uploaded) return false;
        shared->verification = verifyWrittenConfig(context, written);
        const VerifyStatus status = shared->verification->status;
        if (status == VerifyStatus::Verified || status == VerifyStatus::Differs) {
            TransferContext whole(context.port, shared->readBack, context.target,
                                  shared->interaction, context.progress);
            whole.portProgressHook = context.portProgressHook;
            shared->readBackWhole = downloadConfig(whole, kDownloadMaskAll);
        }
        return true;
    });
    if (!started) {
        end(StepOutcome::Failed,
            "another configuration transfer is still running; nothing was written");
        stop(PassStep::Write, record_.at(PassStep::Write).summary, StepOutcome::Failed);
    }
}

void CommissioningPass::finishWrite() {
    StepRecord& r = record_.at(PassStep::Write);
    const auto all = shared_->interaction.since(messagesAtStart_);
    const std::size_t upTo = shared_->boxesBeforeVerification - messagesAtStart_;
    const std::vector<PassBox> boxes(
        all.begin(), all.begin() + static_cast<std::ptrdiff_t>(std::min(upTo, all.size())));
    r.text = boxesText(boxes);
    std::string written;
    for (const std::string& c : shared_->progress.captionHistory()) {
        if (c == caption::kUploadPublic) written += " public";
        if (c == caption::kUploadPrivate) written += " private";
        if (c == caption::kUploadMotor) written += " motor";
    }
    if (!shared_->uploaded) {
        const std::string why = failureText(boxes);
        if (cancelRequested_) return stop(PassStep::Write, cancelReason_, StepOutcome::Cancelled);
        end(StepOutcome::Failed, firstLine(why));
        return stop(PassStep::Write, firstLine(why), StepOutcome::Failed);
    }
    // Written: what the verification found decides the rest, even when the user cancelled
    // meanwhile (a cancel that came in time shows as an aborted verification, with its reason).
    cancelRequested_ = false;
    r.values = {{"Structures written", written.empty() ? "none" : written.substr(1)},
                {"Controller reset", resetText(boxes)}};
    end(StepOutcome::Succeeded, "motor record " + std::to_string(setup_.motor) + " written");
}

// The verification ran in the write's job; this records what it found.
void CommissioningPass::recordVerification() {
    StepRecord& r = record_.at(PassStep::Verify);
    const auto boxes = shared_->interaction.since(shared_->boxesBeforeVerification);
    r.text = boxesText(boxes);
    if (!shared_->verification) return end(StepOutcome::Failed, "not verified");
    const VerifyResult& v = *shared_->verification;
    if (shared_->readBackWhole &&
        saveConfigFile(shared_->readBack, pathOf(pass_file::kAfter), shared_->interaction))
        addFile(r, pass_file::kAfter);
    for (const FieldDifference& d : v.differences)
        r.values.push_back({d.record + " " + d.field, "written " + d.a + ", read back " + d.b});
    switch (v.status) {
        case VerifyStatus::Verified:
            r.values.insert(r.values.begin(), {"Read back",
                                               "every byte of the motor structure "
                                               "as written"});
            return end(StepOutcome::Succeeded, "read back and matched");
        case VerifyStatus::Aborted:
            return stop(PassStep::Verify,
                        (cancelReason_.empty() ? std::string("cancelled") : cancelReason_) +
                            "; motor record " + std::to_string(setup_.motor) +
                            " was written but not verified",
                        StepOutcome::Cancelled);
        case VerifyStatus::Differs: {
            // The fields by name, as many as one line holds well.
            constexpr std::size_t kNamed = 3;
            std::string names;
            for (std::size_t i = 0; i < v.differences.size() && i < kNamed; ++i)
                names += (i ? ", " : "") + v.differences[i].record + " " + v.differences[i].field;
            if (v.differences.size() > kNamed)
                names += " and " + std::to_string(v.differences.size() - kNamed) + " more";
            return stop(PassStep::Verify,
                        "the controller holds other values than were written in " + names,
                        StepOutcome::Failed);
        }
        case VerifyStatus::NoAnswer:
        case VerifyStatus::ReadFailed:
            return stop(PassStep::Verify, "not verified: " + firstLine(failureText(boxes)),
                        StepOutcome::Failed);
    }
}

// ---- ending ----

void CommissioningPass::end(StepOutcome outcome, std::string summary) {
    StepRecord& r = record_.at(current_);
    r.outcome = outcome;
    r.summary = std::move(summary);
    ++generation_;
    if (services_.stepEnded) services_.stepEnded(r);
    if (finished_) return;
    writeReport();
    if (cancelRequested_) return stop(current_, cancelReason_, StepOutcome::Cancelled);
    const PassStep step = current_;
    if (outcome == StepOutcome::Failed) {
        // Only the backup and the acquisitions may be tried again; any other failure ends it.
        if (step != PassStep::Backup && !isInteractive(step)) stop(step, r.summary, outcome);
        return;
    }
    // The steps that run on by themselves.
    if (step == PassStep::Device || step == PassStep::Backup || step == PassStep::Write ||
        step == PassStep::Verify)
        advanceFrom(step, lastNowMs_);
}

void CommissioningPass::cancel(const std::string& reason, double nowMs) {
    lastNowMs_ = nowMs;
    if (finished_ || cancelRequested_) return;
    const std::string why = reason.empty() ? "cancelled by the user" : reason;
    switch (wait_) {
        case Wait::Transfer: {
            // The transfer is aborted and waited for: what it did decides what the record says.
            cancelRequested_ = true;
            cancelReason_ = why;
            cancelTransfer(shared_->store, *services_.port, shared_->progress);
            ++generation_;
            return;
        }
        case Wait::Selecting:
        case Wait::Acquiring:
            activeTool().closed();
            wait_ = Wait::None;
            return stop(current_, why, StepOutcome::Cancelled);
        case Wait::None:
            break;
    }
    switch (outcome()) {
        case StepOutcome::Failed:
            // The step's own failure is why the pass stopped there (and what ended it then).
            return stop(current_,
                        record_.at(current_).summary +
                            (reason.empty() ? std::string() : " (then " + reason + ")"),
                        StepOutcome::Failed);
        case StepOutcome::Succeeded:
            // Stopped after the step shown, before the next one started.
            return stop(current_, why, StepOutcome::Succeeded);
        default:
            return stop(current_, why, StepOutcome::Cancelled);
    }
}

void CommissioningPass::stop(PassStep at, std::string reason, StepOutcome outcome) {
    if (finished_) return;
    if (at != PassStep::Report) {
        StepRecord& r = record_.at(at);
        if (r.outcome == StepOutcome::Pending || r.outcome == StepOutcome::Running) {
            r.outcome = outcome;
            r.summary = reason;
            if (services_.stepEnded) services_.stepEnded(r);
        }
        record_.stoppedAt = at;
        record_.stopReason = std::move(reason);
    }
    record_.complete = !record_.stoppedAt;
    for (const StepRecord& s : record_.steps)
        if (s.step != PassStep::Report && s.outcome != StepOutcome::Succeeded &&
            s.outcome != StepOutcome::Skipped)
            record_.complete = false;
    record_.ended = localNow();
    current_ = PassStep::Report;
    StepRecord& report = record_.at(PassStep::Report);
    report.outcome = StepOutcome::Running;
    report.attempts = 1;
    finished_ = true;
    if (record_.at(PassStep::Device).outcome != StepOutcome::Succeeded) {
        // Stopped before it started: no folder was made and nothing was recorded.
        report.outcome = StepOutcome::Skipped;
        report.summary = "nothing was recorded";
    } else if (writeReportFile()) {
        report.outcome = StepOutcome::Succeeded;
        report.files = {pass_file::kReport};
        report.summary = pass_file::kReport;
        writeReportFile();  // with the report step's own line
    } else {
        report.outcome = StepOutcome::Failed;
    }
    ++generation_;
    if (services_.stepEnded) services_.stepEnded(report);
}

void CommissioningPass::writeReport() {
    if (record_.at(PassStep::Device).outcome == StepOutcome::Succeeded) writeReportFile();
}

bool CommissioningPass::writeReportFile() {
    std::string error;
    if (writeTextFile(pathOf(pass_file::kReport), reportHtml(record_), &error)) return true;
    record_.at(PassStep::Report).summary =
        "cannot write " + std::string(pass_file::kReport) + ": " + error;
    return false;
}

// ---- files ----

std::string CommissioningPass::pathOf(const std::string& name) const {
    return (std::filesystem::path(setup_.folder) / name).string();
}

void CommissioningPass::addFile(StepRecord& r, const std::string& name) {
    for (const std::string& f : r.files)
        if (f == name) return;
    r.files.push_back(name);
}

bool CommissioningPass::writeFile(StepRecord& r, const std::string& name, const std::string& text) {
    std::string error;
    if (!writeTextFile(pathOf(name), text, &error)) {
        r.values.push_back({"Not saved", name + ": " + error});
        return false;
    }
    addFile(r, name);
    return true;
}

void CommissioningPass::drawPlot(StepRecord& r, const std::string& title, const std::string& name,
                                 const PlotFigure& figure) {
    PassPlot plot{title, {}, {}};
    std::string error;
    if (!services_.plots)
        plot.problem = "no charts in this build";
    else if (services_.plots->writePng(figure, pathOf(name), &error))
        plot.file = name;
    else
        plot.problem = error;
    r.plots.push_back(std::move(plot));
}

std::string CommissioningPass::attemptName(const std::string& stem, const std::string& extension,
                                           int attempt) const {
    return attempt <= 1 ? stem + extension : stem + "-" + std::to_string(attempt) + extension;
}

void runPassHeadless(CommissioningPass& pass, CBcan& port, const std::function<double()>& clock,
                     const std::function<void()>& eachTurn) {
    constexpr std::uint32_t kMatchNothing = 0xFFFFFFFFu;
    while (!pass.finished()) {
        if (eachTurn) eachTurn();
        if (pass.finished()) break;
        if (pass.busy()) {
            if (pass.wantedIdentifier()) {
                pumpFrames(port, pass, clock());
                // Nothing more arrived yet: come back shortly rather than spin.
                if (port.queuedPackets() == 0)
                    std::this_thread::sleep_for(std::chrono::microseconds(300));
            } else {
                // Nothing is waited for: what was received is let go (within a millisecond).
                port.waitForFrame(kMatchNothing, nullptr, 1);
            }
            pass.poll(clock());
            continue;
        }
        if (pass.canContinue())
            pass.next(clock());
        else
            pass.cancel({}, clock());
    }
}

}  // namespace qv
