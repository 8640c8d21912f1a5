#include "sim/world.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <stdexcept>

namespace qv::sim {

namespace {

constexpr int kPollTimeoutMs = 1;
constexpr std::size_t kMaxCommandLine = 256;

std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
        std::size_t j = i;
        while (j < line.size() && !std::isspace(static_cast<unsigned char>(line[j]))) ++j;
        if (j > i) out.push_back(line.substr(i, j - i));
        i = j;
    }
    return out;
}

}  // namespace

World::World(Options options)
    : options_(std::move(options)), epoch_(std::chrono::steady_clock::now()) {
    if (options_.verbose)
        log_ = [](const std::string& text) {
            std::printf("%s\n", text.c_str());
            std::fflush(stdout);
        };
    errors_ = [](const std::string& text) { std::fprintf(stderr, "qvsim: %s\n", text.c_str()); };
    auto log = [this](const std::string& text) {
        if (log_) log_(text);
    };
    BridgeSettings b;
    b.interfaceAddress = options_.interfaceAddress;
    b.port = options_.port;
    b.busId = options_.busId;
    b.bitrateKbps = options_.bitrateKbps;
    b.faults = {options_.lossPercent, options_.dupPercent, options_.delayMs};
    b.tcpForward = options_.tcpForward;
    b.multicastDelayMs = options_.multicastDelayMs;
    b.tcpDelayMs = options_.tcpDelayMs;
    b.frameFaults = options_.frameFaults;
    b.seed = options_.seed;
    b.log = log;
    bridge_ = std::make_unique<Bridge>(bus_, std::move(b));
    bus_.attach(*bridge_);
    nodes_.push_back(bridge_.get());
    for (const SimDevice& d : effectiveDevices(options_)) {
        ControllerSettings c;
        c.device = d;
        c.muted =
            std::find(options_.muted.begin(), options_.muted.end(), d.base) != options_.muted.end();
        c.maxObjectBytes = options_.maxObjectBytes;
        c.config = configModesFor(options_, d.base);
        c.rawObjects = options_.rawObjects;
        c.clock = [this] { return nowMs(); };
        c.log = log;
        controllers_.push_back(std::make_unique<Controller>(bus_, std::move(c)));
        for (const auto& [name, factory] : registeredBehaviours())
            controllers_.back()->addBehaviour(factory(options_, d));
        bus_.attach(*controllers_.back());
        nodes_.push_back(controllers_.back().get());
    }
    foreignDriverControls_ = std::make_unique<ForeignDriverControls>(bus_);
    if (options_.foreignDriverControlsBase)
        foreignDriverControls_->switchOn(*options_.foreignDriverControlsBase);
    bus_.attach(*foreignDriverControls_);
    nodes_.push_back(foreignDriverControls_.get());
    if (options_.bms) {
        bms_ = std::make_unique<BmsNode>(bus_);
        bus_.attach(*bms_);
        nodes_.push_back(bms_.get());
    }
    if (options_.loadFps > 0) {
        load_ = std::make_unique<LoadGenerator>(bus_, options_.loadFps);
        bus_.attach(*load_);
        nodes_.push_back(load_.get());
    }
    if (!options_.deviceEvents.empty()) {
        deviceEvents_ = std::make_unique<DeviceEvents>(options_.deviceEvents, [this](auto base) {
            std::vector<Controller*> found;
            for (auto& c : controllers_)
                if (c->base() == base) found.push_back(c.get());
            return found;
        });
        nodes_.push_back(deviceEvents_.get());
    }
}

World::~World() = default;

double World::nowMs() const {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - epoch_)
        .count();
}

bool World::open(std::string* error) {
    return bridge_->open(error);
}

Controller* World::controller(std::uint32_t base) {
    for (auto& c : controllers_)
        if (c->base() == base) return c.get();
    return nullptr;
}

void World::report(const std::string& text) const {
    if (errors_) errors_(text);
}

void World::post(std::string line) {
    std::lock_guard lock(mutex_);
    posted_.push_back(std::move(line));
}

std::string World::execute(const std::string& line) {
    const std::vector<std::string> w = words(line);
    if (w.empty()) return {};
    if (w[0] == "quit" && w.size() == 1) {
        stop();
        return {};
    }
    const bool deviceCommand = w[0] == "mute" || w[0] == "unmute" || w[0] == "withdraw" ||
                               w[0] == "silence" || w[0] == "unsilence";
    if (deviceCommand && w.size() == 2) {
        std::uint64_t base;
        try {
            base = parseUnsigned(w[1], 0x7FF, "base");
        } catch (const UsageError& e) {
            return std::string(e.what());
        }
        bool found = false;
        for (auto& c : controllers_)
            if (c->base() == base) {
                if (w[0] == "mute" || w[0] == "unmute")
                    c->setMuted(w[0] == "mute");
                else if (w[0] == "withdraw")
                    DeviceEvents::apply(DeviceEvent::Action::kWithdraw, *c);
                else
                    c->setSilent(w[0] == "silence");
                found = true;
            }
        if (!found) return "no device at base " + w[1];
        return {};
    }
    if ((w[0] == "reset" || w[0] == "droptcp") && w.size() <= 2) {
        if (w[0] == "droptcp" && w.size() == 1) {
            bridge_->dropTcpClients();
            return {};
        }
        if (w.size() != 2) return "reset needs a base";
        std::uint64_t base;
        try {
            base = parseUnsigned(w[1], 0x7FF, "base");
        } catch (const UsageError& e) {
            return std::string(e.what());
        }
        Controller* c = controller(static_cast<std::uint32_t>(base));
        if (!c) return "no device at base " + w[1];
        c->requestReset();
        return {};
    }
    if (w[0] == "foreign-dc") return foreignDriverControlsCommand(w);
    return "unknown command \"" + line +
           "\" (mute BASE, unmute BASE, withdraw BASE, silence BASE, unsilence BASE, reset BASE, "
           "droptcp, foreign-dc on|off, quit)";
}

// "foreign-dc on [BASE]" (the base of the option, else 0x500) or "foreign-dc off".
std::string World::foreignDriverControlsCommand(const std::vector<std::string>& w) {
    const char* usage = "foreign-dc: use \"foreign-dc on [BASE]\" or \"foreign-dc off\"";
    if (w.size() == 2 && w[1] == "off") {
        foreignDriverControls_->switchOff();
        if (log_) log_("foreign driver controls off");
        return {};
    }
    if (w.size() < 2 || w.size() > 3 || w[1] != "on") return usage;
    std::uint32_t base = options_.foreignDriverControlsBase.value_or(kDefaultDriverControlsBase);
    if (w.size() == 3) {
        try {
            base = static_cast<std::uint32_t>(parseUnsigned(w[2], 0x7E0, "foreign-dc base"));
        } catch (const UsageError& e) {
            return e.what();
        }
        if (base % 0x20 != 0) return "foreign-dc base: " + w[2] + " is not a multiple of 0x20";
    }
    foreignDriverControls_->switchOn(base);
    if (log_) {
        char text[64];
        std::snprintf(text, sizeof text, "foreign driver controls on at 0x%03X", base);
        log_(text);
    }
    return {};
}

void World::runPostedCommands() {
    std::deque<std::string> lines;
    {
        std::lock_guard lock(mutex_);
        lines.swap(posted_);
    }
    for (const std::string& line : lines)
        if (const std::string error = execute(line); !error.empty()) report(error);
}

void World::readCommands() {
    char buffer[512];
    const long got = ::read(commandFd_, buffer, sizeof buffer);
    if (got < 0) {
        if (errno == EAGAIN || errno == EINTR) return;
        commandFd_ = -1;  // unreadable input: stop reading it, keep running
        return;
    }
    if (got == 0) {
        // End of input ends the commands, not the simulation.
        if (!commandLine_.empty() && !discardingLine_) {
            if (const std::string error = execute(commandLine_); !error.empty()) report(error);
        }
        commandLine_.clear();
        commandFd_ = -1;
        return;
    }
    for (long i = 0; i < got; ++i) {
        const char ch = buffer[i];
        if (ch == '\n') {
            if (!discardingLine_)
                if (const std::string error = execute(commandLine_); !error.empty()) report(error);
            commandLine_.clear();
            discardingLine_ = false;
        } else if (!discardingLine_) {
            if (commandLine_.size() >= kMaxCommandLine) {
                report("command line too long, ignored");
                commandLine_.clear();
                discardingLine_ = true;
            } else {
                commandLine_ += ch;
            }
        }
    }
}

void World::publishStats() {
    std::lock_guard lock(mutex_);
    stats_.passes = passes_;
    stats_.busFrames = bus_.framesCarried();
    stats_.bridge = bridge_->counters();
}

WorldStats World::stats() const {
    std::lock_guard lock(mutex_);
    return stats_;
}

void World::run(double seconds) {
    const double endMs = seconds > 0 ? nowMs() + seconds * 1000.0 : -1;
    std::vector<pollfd> fds;
    while (!stopRequested_.load()) {
        if (endMs >= 0 && nowMs() >= endMs) break;
        fds.clear();
        bridge_->appendPollFds(fds);
        if (stopFd_ >= 0) fds.push_back({stopFd_, POLLIN, 0});
        if (commandFd_ >= 0) fds.push_back({commandFd_, POLLIN, 0});
        const int ready = ::poll(fds.data(), fds.size(), kPollTimeoutMs);
        if (ready > 0 && stopFd_ >= 0) {
            const pollfd& p = fds[fds.size() - (commandFd_ >= 0 ? 2 : 1)];
            if (p.revents != 0) break;
        }
        const double now = nowMs();
        bridge_->receive(now);
        if (ready > 0 && commandFd_ >= 0 &&
            (fds.back().revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)))
            readCommands();
        runPostedCommands();
        bus_.deliver(now);
        for (Node* node : nodes_) node->tick(now);
        bus_.deliver(now);
        bridge_->flush(now);
        ++passes_;
        publishStats();
    }
    // Send what was already due, then stop.
    bridge_->flush(nowMs());
    publishStats();
}

BackgroundWorld::BackgroundWorld(Options options)
    : world_(std::make_unique<World>(std::move(options))) {
    std::string error;
    if (!world_->open(&error)) throw std::runtime_error(error);
    thread_ = std::thread([this] { world_->run(); });
}

BackgroundWorld::~BackgroundWorld() {
    world_->stop();
    if (thread_.joinable()) thread_.join();
}

}  // namespace qv::sim
