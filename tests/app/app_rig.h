#pragma once
// The main window's logic with every surrounding part faked: a CAN port whose bridge client
// records what is sent and into which frames are pushed, windows, timer, clock, message boxes,
// the transfer service and the drive hooks.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "app/main_dialog.h"
#include "common/user_interaction.h"
#include "config/config_data_bank.h"
#include "link/can_port.h"
#include "link/exceptions.h"
#include "support/wait.h"

namespace qv::test {

// A bridge client that never touches the network.
class FakeClient : public CanUdpClient {
  public:
    struct Log {
        std::mutex mutex;
        std::vector<CanFrame> sent;    // sendFrame (multicast)
        std::vector<CanFrame> queued;  // queueFrame
        std::vector<std::string> calls;
        bool failOpen = false;
        void note(const std::string& c) {
            std::lock_guard l(mutex);
            calls.push_back(c);
        }
    };
    explicit FakeClient(Log& log) : CanUdpClient(BridgeSettings{}), log_(log) {}
    ~FakeClient() override = default;
    void open() override {
        log_.note("open");
        if (log_.failOpen) throw IOException("no network");
    }
    void close() override { log_.note("close"); }
    void sendFrame(const CanFrame& f) override {
        std::lock_guard l(log_.mutex);
        log_.sent.push_back(f);
    }
    bool queueFrame(const CanFrame& f) override {
        std::lock_guard l(log_.mutex);
        log_.queued.push_back(f);
        return true;
    }
    bool flush() override {
        log_.note("flush");
        return true;
    }
    void connectTcp(std::uint32_t, std::uint32_t w1, std::uint32_t w2) override {
        log_.note("connectTcp " + std::to_string(w1) + " " + std::to_string(w2));
    }
    void closeTcp() override { log_.note("closeTcp"); }

  private:
    Log& log_;
};

class FakeWindow : public ToolWindow {
  public:
    explicit FakeWindow(std::string name, bool available = true)
        : name_(std::move(name)), available_(available) {}
    void show() override { visible = true; }
    void hide() override { visible = false; }
    void setEnabled(bool e) override { enabled = e; }
    bool isVisible() const override { return visible; }
    bool isEnabled() const override { return enabled; }
    void raise() override { ++raised; }
    ScreenPoint position() const override { return at; }
    void moveTo(ScreenPoint p) override { at = p; }
    std::optional<WindowSize> resizableSize() const override { return size; }
    void resizeTo(WindowSize s) override { size = s; }
    bool available() const override { return available_; }
    void refresh() override { ++refreshed; }
    void selectPage(int page) override { selectedPage = page; }
    void advanceProgress(int bytes) override { progress += bytes; }
    bool acquiring() const override { return acquiringNow; }
    bool hasUnsavedEdits() const override { return unsavedEdits; }

    bool visible = false;
    bool enabled = false;
    int raised = 0;
    int refreshed = 0;
    int selectedPage = -1;
    int progress = 0;
    bool acquiringNow = false;
    bool unsavedEdits = false;
    ScreenPoint at{-1, -1};
    std::optional<WindowSize> size;  // nothing: a fixed-size window

  private:
    std::string name_;
    bool available_;
};

class FakeTimer : public TickTimer {
  public:
    void start(int ms) override {
        active = true;
        period = ms;
        ++starts;
    }
    void stop() override { active = false; }
    bool isActive() const override { return active; }
    bool active = false;
    int period = 0;
    int starts = 0;
};

class FakeClock : public AppClock {
  public:
    double nowMs() const override { return ms; }
    std::tm localTime() const override { return local; }
    double ms = 1000.0;
    std::tm local = [] {
        std::tm t{};
        t.tm_year = 115;
        t.tm_mon = 2;
        t.tm_mday = 2;
        t.tm_hour = 14;
        t.tm_min = 3;
        t.tm_sec = 7;
        return t;
    }();
};

// Message boxes and file dialogs answered from a script; usable from the worker thread.
class ScriptedUi : public UserInteraction {
  public:
    MessageAnswer messageBox(const MessageBoxRequest& r) override {
        std::lock_guard l(mutex);
        messages.push_back(r.text);
        requests.push_back(r);
        if (onQuestion && r.buttons != MessageButtons::Ok) onQuestion(r);
        if (answers.empty()) return MessageAnswer::Ok;
        const MessageAnswer a = answers.front();
        answers.pop_front();
        return a;
    }
    std::optional<std::string> fileDialog(const FileDialogRequest& r) override {
        std::lock_guard l(mutex);
        dialogs.push_back(r);
        if (fileAnswers.empty()) return std::nullopt;
        auto a = fileAnswers.front();
        fileAnswers.pop_front();
        return a;
    }
    std::vector<std::string> takeMessages() {
        std::lock_guard l(mutex);
        return std::exchange(messages, {});
    }
    std::mutex mutex;
    std::vector<std::string> messages;
    std::vector<MessageBoxRequest> requests;
    std::deque<MessageAnswer> answers;  // in turn; OK when none is left
    // Runs when a question (not a plain OK box) is asked, before it is answered.
    std::function<void(const MessageBoxRequest&)> onQuestion;
    std::vector<FileDialogRequest> dialogs;
    std::deque<std::optional<std::string>> fileAnswers;
};

class RecordingView : public MainView {
  public:
    void showDeviceList(const std::vector<std::string>& r, std::optional<std::size_t> s) override {
        rows = r;
        selectedRow = s;
        ++listUpdates;
    }
    void showPanel(const PanelChanges& c, const TelemetryPanel&) override {
        panelCells += c.cells.size();
    }
    void showTelemetryCells(const std::vector<int>& c, const TelemWindowModel&) override {
        telemCells += c.size();
    }
    void showMenus(const MenuModel&) override { ++menuUpdates; }
    void showStatus(const StatusBarText& t) override { status = t; }
    void endDialog() override { ended = true; }

    std::vector<std::string> rows;
    std::optional<std::size_t> selectedRow;
    int listUpdates = 0;
    std::size_t panelCells = 0;
    std::size_t telemCells = 0;
    int menuUpdates = 0;
    StatusBarText status;
    bool ended = false;
};

// Posted messages wait here until the test delivers them, as the event loop would.
class QueuedPoster : public MainWindowPoster {
  public:
    struct Done {
        std::int32_t action;
        bool failed;
    };
    void postTransferDone(std::int32_t action, bool failed) override {
        std::lock_guard l(mutex);
        done.push_back({action, failed});
        cv.notify_all();
    }
    void postCanTransfer(int bytes) override {
        std::lock_guard l(mutex);
        progress.push_back(bytes);
    }
    // Waits for the next WM_TRANSFER_DONE (false after 5 s).
    bool waitDone(Done& out) {
        std::unique_lock l(mutex);
        if (!cv.wait_for(l, std::chrono::seconds(5), [&] { return !done.empty(); })) return false;
        out = done.front();
        done.pop_front();
        return true;
    }
    std::mutex mutex;
    std::condition_variable cv;
    std::deque<Done> done;
    std::vector<int> progress;
};

// Records the jobs; downloads set the valid flags of the mask when told to succeed.
class FakeTransfer : public ConfigTransferService {
  public:
    explicit FakeTransfer(CConfigDataBank& store) : store_(store) {}
    bool available() const override { return isAvailable; }
    bool download(std::int32_t mask) override {
        note("download " + std::to_string(mask));
        if (!succeed) return false;
        if (mask & 1) store_.setValid(StructureKind::Public, true);
        if (mask & 2) store_.setValid(StructureKind::Private, true);
        if (mask & 4) store_.setValid(StructureKind::Motor, true);
        return true;
    }
    bool upload() override {
        note("upload");
        return succeed;
    }
    bool reset() override {
        note("reset");
        return succeed;
    }
    TransferReport lastReport() const override { return report; }
    std::vector<std::string> takeCalls() {
        std::lock_guard l(mutex_);
        return std::exchange(calls_, {});
    }
    bool isAvailable = true;
    bool succeed = true;
    TransferReport report;

  private:
    void note(const std::string& c) {
        std::lock_guard l(mutex_);
        calls_.push_back(c);
    }
    CConfigDataBank& store_;
    std::mutex mutex_;
    std::vector<std::string> calls_;
};

class RecordingDrive : public DriveHooks {
  public:
    void onDriveTick(const DriveContext& c) override {
        events.push_back(c.otherSourceSeen ? "drive(other)" : "drive");
        last = c;
    }
    void stop() override { events.push_back("stop"); }
    void periodicCheck(bool noOther) override {
        events.push_back(noOther ? "check(no other)" : "check(other)");
    }
    std::vector<std::string> events;
    DriveContext last;
};

// A temporary folder for the settings file and the logs, removed at the end.
class TempDir {
  public:
    TempDir() {
        char tmpl[] = "/tmp/qv_app_XXXXXX";
        path_ = mkdtemp(tmpl);
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

class DialogRig {
  public:
    explicit DialogRig(bool toolsAvailable = true)
        : port([this] { return std::make_unique<FakeClient>(client); }), transfer(store) {
        const char* names[] = {"Configuration", "DuvodaRezir", "Controls", "PmExtraction",
                               "ImExtraction",  "Telemetry",   "Progress"};
        for (std::size_t i = 0; i < kToolCount; ++i) {
            tools.push_back(std::make_unique<FakeWindow>(names[i], toolsAvailable || i == 5));
            set.windows[i] = tools.back().get();
        }
    }
    ~DialogRig() {
        dialog.reset();
        port.close();
    }

    CQVDrvCtrlsDlg& make(WorkArea area = {0, 0, 1920, 1080}) {
        dialog = std::make_unique<CQVDrvCtrlsDlg>(MainDialogParts{
            port, store, ui, view, mainWindow, set, timer,
            transferOverride ? *transferOverride : transfer, poster,
            driveOverride ? *driveOverride : drive, clockOverride ? *clockOverride : clock,
            dir.file("settings.ini"), dir.path()});
        dialog->initDialog(area);
        return *dialog;
    }
    FakeWindow& tool(Tool t) { return *tools[static_cast<std::size_t>(t)]; }

    // A frame from the bus, as the bridge client hands it to the port.
    void frame(std::uint32_t id, const CanFrame::Data& data, std::uint32_t source = 0x0100007F) {
        CanPacket p;
        p.frame = CanFrame(id, id > 0x7FF, false, 8, data);
        p.sourceAddress = source;
        port.onPacketReceived(p);
    }
    void bridgeStatus(std::uint32_t kbps) {
        CanPacket p;
        CanFrame::Data d{};
        d[0] = static_cast<std::uint8_t>(kbps >> 8);
        d[1] = static_cast<std::uint8_t>(kbps);
        p.frame = CanFrame(0, false, false, 8, d);
        p.status = true;
        port.onPacketReceived(p);
    }
    // Identification of a device: four product bytes, then the serial number.
    void announce(std::uint32_t base, const char* product, std::uint32_t serial) {
        CanFrame::Data d{};
        for (int i = 0; i < 4; ++i)
            d[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(product[i]);
        for (int i = 0; i < 4; ++i)
            d[4 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(serial >> (8 * i));
        frame(base, d);
    }
    // Delivers the next WM_TRANSFER_DONE as the event loop would.
    bool deliverTransferDone() {
        QueuedPoster::Done d{};
        if (!poster.waitDone(d)) return false;
        dialog->joinTransfer();
        dialog->onTransferDone(d.action, d.failed);
        return true;
    }
    std::vector<CanFrame> sent() {
        std::lock_guard l(client.mutex);
        return client.sent;
    }

    TempDir dir;
    FakeClient::Log client;
    CBcan port;
    CConfigDataBank store;
    ScriptedUi ui;
    RecordingView view;
    FakeWindow mainWindow{"Main"};
    std::vector<std::unique_ptr<FakeWindow>> tools;
    ToolWindowSet set;
    FakeTimer timer;
    FakeTransfer transfer;
    QueuedPoster poster;
    RecordingDrive drive;
    FakeClock clock;
    // Uses other drive hooks while in scope.
    struct DriveOverride {
        DriveOverride(DialogRig& r, DriveHooks& h) : rig(r) { rig.driveOverride = &h; }
        ~DriveOverride() { rig.dialog.reset(); }
        DialogRig& rig;
    };
    ConfigTransferService* transferOverride = nullptr;
    DriveHooks* driveOverride = nullptr;
    AppClock* clockOverride = nullptr;
    std::unique_ptr<CQVDrvCtrlsDlg> dialog;
};

inline CanFrame::Data floats(float a, float b) {
    CanFrame::Data d{};
    std::memcpy(d.data(), &a, 4);
    std::memcpy(d.data() + 4, &b, 4);
    return d;
}

}  // namespace qv::test
