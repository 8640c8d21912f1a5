// qvcli monitor and qvcli send: watch the bus and put one frame on it.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <thread>

#include "args.h"
#include "bus_options.h"
#include "commands.h"
#include "link/exceptions.h"
#include "monitor/candump.h"
#include "monitor/json_lines.h"

namespace qv::cli {

namespace {

std::atomic<bool> gStop{false};

extern "C" void onSignal(int) {
    gStop = true;
}

enum class FrameFormat { Text, Candump, Json };

// Prints every frame as it arrives, from the client's receive thread. The candump log format
// is "(SECONDS.MICROSECONDS) can0 ID#DATA", the time of arrival on the wall clock (written by
// the same function as the Bus Monitor window's saved logs); JSON lines carry the same time.
class PrintingListener : public PacketReceivedListener {
  public:
    PrintingListener(bool status, std::uint64_t limit, FrameFormat format)
        : status_(status), limit_(limit), format_(format) {}
    void onPacketReceived(const CanPacket& packet) override {
        if (packet.status && !status_) return;
        timespec now{};
        if (format_ != FrameFormat::Text) ::clock_gettime(CLOCK_REALTIME, &now);
        std::lock_guard lock(mutex_);
        if (limit_ != 0 && printed_ >= limit_) return;
        if (format_ == FrameFormat::Json) {
            std::printf(
                "%s\n",
                frameJson(packet, static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9).c_str());
        } else if (format_ == FrameFormat::Candump) {
            line_.clear();
            appendCandumpLine(line_,
                              static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec,
                              packet.frame);
            std::fwrite(line_.data(), 1, line_.size(), stdout);
        } else {
            std::printf("%s%s\n", packet.status ? "status " : "",
                        formatFrame(packet.frame).c_str());
        }
        std::fflush(stdout);
        ++printed_;
    }
    int onStreamEvent(int, TransferInfo&) override { return 3; }
    bool done() {
        std::lock_guard lock(mutex_);
        return limit_ != 0 && printed_ >= limit_;
    }

  private:
    std::mutex mutex_;
    bool status_;
    std::uint64_t limit_;
    FrameFormat format_;
    std::uint64_t printed_ = 0;
    std::string line_;
};

}  // namespace

int runMonitor(const CommandArgs& argv) {
    std::set<std::string> valued = kBusOptions;
    valued.insert({"--seconds", "--count", "--format"});
    const Args args(argv, valued, {"--status"});
    if (!args.positional().empty()) throw UsageError("unexpected argument " + args.positional()[0]);
    const std::string format = args.value("--format").value_or("text");
    if (format != "text" && format != "candump" && format != "json")
        throw UsageError("invalid value for --format: " + format + " (text, candump or json)");
    const bool candump = format == "candump";
    // Bridge status frames are not bus traffic: a candump log has no place for them.
    if (candump && args.has("--status"))
        throw UsageError("--status cannot be combined with --format candump");
    const BridgeSettings settings = busSettings(args);
    const double seconds = args.real("--seconds", 0);
    const std::uint64_t count = args.number("--count", 0, UINT64_MAX);

    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    PrintingListener listener(args.has("--status"), count,
                              candump            ? FrameFormat::Candump
                              : format == "json" ? FrameFormat::Json
                                                 : FrameFormat::Text);
    CanUdpClient client(settings);
    client.setListener(&listener);
    try {
        client.open();
    } catch (const IOException& e) {
        std::fprintf(stderr, "qvcli monitor: %s\n", e.message().c_str());
        return kExitFailure;
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!gStop && !listener.done() && (seconds <= 0 || std::chrono::steady_clock::now() < end))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    client.close();
    if (client.droppedDatagrams() > 0)
        std::fprintf(stderr, "qvcli monitor: %llu datagrams could not be taken\n",
                     static_cast<unsigned long long>(client.droppedDatagrams()));
    return kExitOk;
}

int runSend(const CommandArgs& argv) {
    const Args args(argv, kBusOptions, {});
    if (args.positional().size() != 1) throw UsageError("expected one frame ID#DATA");
    const auto frame = parseFrame(args.positional()[0]);
    if (!frame) throw UsageError("invalid frame " + args.positional()[0]);
    CanUdpClient client(busSettings(args));
    try {
        client.open();
        client.sendFrame(*frame);
    } catch (const IOException& e) {
        std::fprintf(stderr, "qvcli send: %s\n", e.message().c_str());
        return kExitFailure;
    }
    return kExitOk;
}

QV_CLI_COMMAND(monitor, 10,
               "monitor [--interface ADDR] [--port N] [--seconds S] [--count N] [--status] "
               "[--format text|candump|json]",
               runMonitor);
QV_CLI_COMMAND(send, 20, "send [--interface ADDR] [--port N] ID#DATA", runSend);

}  // namespace qv::cli
