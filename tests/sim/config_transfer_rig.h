#pragma once
// A configuration transfer against an in-process simulator: the world on a thread of its own
// (stoppable, so that what a controller stored can be read afterwards), a CAN port on loopback,
// a store, a progress window model and message boxes answered from a script.
#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "config/config_progress.h"
#include "config/config_transfer.h"
#include "sim/world.h"
#include "support/loopback.h"
#include "support/ports.h"
#include "support/wait.h"

namespace qv::test {

// Answers questions in the order scripted; a question nobody expected fails the test and gets
// its default answer. Boxes with OK only are recorded and answered OK.
class ScriptedUi : public UserInteraction {
  public:
    // The next question must contain `text`; it gets `answer`.
    void expect(std::string text, MessageAnswer answer) {
        std::lock_guard lock(mutex_);
        script_.push_back({std::move(text), answer});
    }
    MessageAnswer messageBox(const MessageBoxRequest& request) override {
        std::lock_guard lock(mutex_);
        shown_.push_back(request);
        if (request.buttons == MessageButtons::Ok) return MessageAnswer::Ok;
        if (script_.empty()) {
            ADD_FAILURE() << "unexpected question: " << request.text;
            return request.defaultAnswer;
        }
        const auto [text, answer] = script_.front();
        script_.pop_front();
        EXPECT_NE(request.text.find(text), std::string::npos)
            << "asked \"" << request.text << "\" instead of \"" << text << "\"";
        return answer;
    }
    MessageAnswer messageBoxWithDetails(const MessageBoxRequest& request,
                                        const std::string& details) override {
        {
            std::lock_guard lock(mutex_);
            details_.push_back(details);
        }
        return messageBox(request);
    }
    std::vector<std::string> details() const {
        std::lock_guard lock(mutex_);
        return details_;
    }
    std::optional<std::string> fileDialog(const FileDialogRequest&) override {
        ADD_FAILURE() << "unexpected file dialog";
        return std::nullopt;
    }
    std::vector<MessageBoxRequest> shown() const {
        std::lock_guard lock(mutex_);
        return shown_;
    }
    std::vector<std::string> texts() const {
        std::vector<std::string> out;
        for (const auto& r : shown()) out.push_back(r.text);
        return out;
    }
    bool scriptDone() const {
        std::lock_guard lock(mutex_);
        return script_.empty();
    }
    void clear() {
        std::lock_guard lock(mutex_);
        shown_.clear();
        script_.clear();
    }

  private:
    mutable std::mutex mutex_;
    std::deque<std::pair<std::string, MessageAnswer>> script_;
    std::vector<MessageBoxRequest> shown_;
    std::vector<std::string> details_;
};

// The simulated world on its own thread; stop() ends it so its controllers can be inspected.
class SimRunner {
  public:
    explicit SimRunner(sim::Options options) : world_(std::move(options)) {
        world_.setLog([this](const std::string& line) {
            std::lock_guard lock(logMutex_);
            log_.push_back(line);
        });
        std::string error;
        if (!world_.open(&error)) throw std::runtime_error(error);
        thread_ = std::thread([this] { world_.run(); });
    }
    ~SimRunner() { stop(); }
    SimRunner(const SimRunner&) = delete;
    SimRunner& operator=(const SimRunner&) = delete;

    void stop() {
        if (!thread_.joinable()) return;
        world_.stop();
        thread_.join();
    }
    sim::World& world() { return world_; }
    // Verbose report lines that contain `text`.
    std::vector<std::string> logLines(const std::string& text) const {
        std::lock_guard lock(logMutex_);
        std::vector<std::string> out;
        for (const auto& l : log_)
            if (l.find(text) != std::string::npos) out.push_back(l);
        return out;
    }

  private:
    sim::World world_;
    std::thread thread_;
    mutable std::mutex logMutex_;
    std::vector<std::string> log_;
};

inline constexpr std::uint32_t kRigBase = 0x400;
inline constexpr std::uint32_t kRigSerial = 123456;

struct TransferRig {
    // `config`: the controller's configuration modes ("recovery,v201" ...); `delayMs` holds every
    // frame sent to the program that long.
    // `commissioning`: the motor behind the controller and faults in its tool replies.
    explicit TransferRig(const std::string& config = "", double delayMs = 0,
                         std::uint32_t serial = kRigSerial,
                         const sim::CommissioningOptions& commissioning = {})
        : port(freePort()),
          sim(options(port, config, delayMs, serial, commissioning)),
          can([p = port] { return std::make_unique<CanUdpClient>(loopbackSettings(p)); }) {
        if (can.open() != 1) throw std::runtime_error("the CAN port did not open");
        target.base = kRigBase;
        target.serial = serial;
        target.bridgeAddress = net::kLoopback;
    }
    static sim::Options options(std::uint16_t port, const std::string& config, double delayMs,
                                std::uint32_t serial,
                                const sim::CommissioningOptions& commissioning = {}) {
        sim::Options o;
        o.commissioning = commissioning;
        o.port = port;
        o.verbose = true;
        o.delayMs = delayMs;
        o.devices.push_back(sim::parseDevice("0x400:" + std::to_string(serial) + ":KX01"));
        if (!config.empty()) o.configModes.emplace_back(kRigBase, sim::parseConfigModes(config));
        return o;
    }
    TransferContext context() {
        TransferContext c{can, store, target, ui, progress};
        c.lastDownload = lastDownload ? &*lastDownload : nullptr;
        c.portProgressHook = [this](std::uint16_t bytes) { posted += bytes; };
        return c;
    }
    bool download(int mask = kDownloadMaskAll) {
        TransferContext c = context();
        return downloadConfig(c, mask);
    }
    bool upload() {
        TransferContext c = context();
        return uploadConfig(c);
    }
    // What the controller holds, read after the world stopped.
    std::vector<std::uint8_t> storedStream(int kind) {
        sim.stop();
        return sim.world().controller(kRigBase)->config().storedStream(kind);
    }

    std::uint16_t port;
    SimRunner sim;
    CBcan can;
    CConfigDataBank store;
    ScriptedUi ui;
    CConfigProg progress;
    TransferTarget target;
    std::optional<ConfigSnapshot> lastDownload;
    std::atomic<std::uint64_t> posted{0};  // bytes the port's own progress hook was given
};

}  // namespace qv::test
