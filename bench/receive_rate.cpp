// End-to-end receive rate of the bridge client. A blaster thread multicasts datagrams of up to
// 104 frames to the bridge group on a free port, on interface 127.0.0.1 with TTL 1, at a rising
// rate, each step paced by the steady clock; every frame carries its step and sequence number in
// its data. The receiver is the bridge client, whose listener counts the frames per step and the
// sequence gaps. Prints one table row per step and the highest rate received without loss.
//
// Traffic stays on loopback. Run it inside a private network namespace:
//   source scripts/lib.sh; qv_isolated build-bench/bench/bench_receive_rate [options]
// Options: --frames-per-datagram N (1..104, default 104), --seconds S (per step, default 1),
//          --rates R1,R2,... (frames per second).
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "link/bridge_codec.h"
#include "link/can_frame.h"
#include "link/can_udp_client.h"
#include "link/exceptions.h"
#include "link/net/socket.h"
#include "link/stream_types.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kBlastIdentifier = 0x123;
constexpr std::size_t kMaxSteps = 64;
// 255.0.0.0 in network order: the loopback network.
constexpr std::uint32_t kLoopbackMask = 0x000000FF;

// Counts the blaster's frames per step. Frame data: step in the top 16 bits, sequence number
// within the step below. Written by the receive thread only; read by the main thread.
class FrameCounter : public qv::PacketReceivedListener {
  public:
    struct Step {
        std::atomic<std::uint64_t> received{0};
        std::atomic<std::uint64_t> missing{0};     // frames skipped over by a sequence jump
        std::atomic<std::uint64_t> disordered{0};  // frames older than one already seen
        std::uint64_t next = 0;
    };

    void onPacketReceived(const qv::CanPacket& packet) override {
        if (packet.frame.identifier() != kBlastIdentifier) return;
        const std::uint64_t value = packet.frame.data64();
        const std::size_t step = static_cast<std::size_t>(value >> 48);
        const std::uint64_t sequence = value & 0xFFFFFFFFFFFFull;
        if (step >= kMaxSteps) return;
        Step& s = steps_[step];
        s.received.fetch_add(1, std::memory_order_relaxed);
        if (sequence < s.next) {
            s.disordered.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        if (sequence > s.next) s.missing.fetch_add(sequence - s.next, std::memory_order_relaxed);
        s.next = sequence + 1;
    }
    int onStreamEvent(int, qv::TransferInfo&) override { return 0; }

    const Step& step(std::size_t i) const { return steps_[i]; }

  private:
    std::array<Step, kMaxSteps> steps_;
};

struct BlastResult {
    std::uint64_t frames = 0;
    std::uint64_t datagrams = 0;
    std::uint64_t sendFailures = 0;
    double seconds = 0;
};

// Sends `rate` frames per second for `seconds`, `perDatagram` frames a datagram; datagram k
// leaves when its first frame is due.
BlastResult blast(std::uint16_t port, std::uint32_t group, std::uint64_t senderId, std::size_t step,
                  double rate, double seconds, std::size_t perDatagram) {
    qv::net::UdpOptions options;
    options.interfaceAddress = qv::net::kLoopback;
    options.ttl = 1;
    options.loopback = true;
    std::optional<qv::net::UdpSocket> socket = qv::net::UdpSocket::open(options);
    BlastResult result;
    if (!socket) {
        std::fprintf(stderr, "blaster: cannot open its socket\n");
        return result;
    }
    const auto total = static_cast<std::uint64_t>(rate * seconds);
    std::vector<qv::CanFrame> frames;
    std::vector<std::uint8_t> datagram;
    const Clock::time_point start = Clock::now();
    while (result.frames < total) {
        const auto due = start + std::chrono::duration_cast<Clock::duration>(
                                     std::chrono::duration<double>(double(result.frames) / rate));
        std::this_thread::sleep_until(due);
        const std::size_t count =
            static_cast<std::size_t>(std::min<std::uint64_t>(perDatagram, total - result.frames));
        frames.clear();
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint64_t value = (std::uint64_t(step) << 48) | (result.frames + i);
            qv::CanFrame::Data data{};
            for (std::size_t b = 0; b < 8; ++b)
                data[b] = static_cast<std::uint8_t>(value >> (8 * b));
            frames.emplace_back(kBlastIdentifier, false, std::uint8_t(8), data);
        }
        datagram.clear();
        qv::encodeFrames(datagram, frames, qv::kDefaultBusId, senderId, true, false);
        if (socket->sendTo(group, port, datagram) != static_cast<long>(datagram.size()))
            ++result.sendFailures;
        result.frames += count;
        ++result.datagrams;
    }
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return result;
}

// A free UDP port: bind port 0 and read back what the kernel chose.
std::uint16_t freePort() {
    qv::net::UdpOptions options;
    options.reuseAddress = false;
    const std::optional<qv::net::UdpSocket> probe = qv::net::UdpSocket::open(options);
    return probe ? probe->localPort() : 0;
}

// Waits until the step's frames have all arrived or nothing has arrived for 200 ms.
void settle(const FrameCounter::Step& step, std::uint64_t sent) {
    std::uint64_t last = step.received.load();
    auto quietSince = Clock::now();
    while (step.received.load() < sent &&
           Clock::now() - quietSince < std::chrono::milliseconds(200)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const std::uint64_t now = step.received.load();
        if (now != last) {
            last = now;
            quietSince = Clock::now();
        }
    }
}

std::vector<double> parseRates(const std::string& text) {
    std::vector<double> rates;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t comma = std::min(text.find(',', pos), text.size());
        rates.push_back(std::strtod(text.substr(pos, comma - pos).c_str(), nullptr));
        pos = comma + 1;
    }
    return rates;
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t perDatagram = qv::kMaxFramesPerDatagram;
    double seconds = 1.0;
    std::vector<double> rates = {10e3,  20e3,  50e3,  100e3, 200e3, 300e3,
                                 400e3, 600e3, 800e3, 1e6,   1.5e6, 2e6};
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const std::string value = argv[i + 1];
        if (option == "--frames-per-datagram")
            perDatagram = std::clamp<std::size_t>(std::strtoul(value.c_str(), nullptr, 10), 1,
                                                  qv::kMaxFramesPerDatagram);
        else if (option == "--seconds")
            seconds = std::clamp(std::strtod(value.c_str(), nullptr), 0.1, 10.0);
        else if (option == "--rates")
            rates = parseRates(value);
    }
    rates.erase(std::remove_if(rates.begin(), rates.end(), [](double r) { return !(r >= 1); }),
                rates.end());
    if (rates.size() > kMaxSteps) rates.resize(kMaxSteps);

    const std::uint32_t group = *qv::net::parseIPv4("239.255.60.60");
    const std::uint16_t port = freePort();
    if (port == 0) {
        std::fprintf(stderr, "no free UDP port\n");
        return 1;
    }
    FrameCounter counter;
    qv::CanUdpClient receiver(group, port, qv::kDefaultBusId, 1, qv::net::kLoopback, kLoopbackMask);
    receiver.setListener(&counter);
    try {
        receiver.open();
    } catch (const qv::IOException& e) {
        std::fprintf(stderr, "cannot open the bridge client: %s\n", e.message().c_str());
        return 1;
    }
    // Any identifier but the receiver's own, whose datagrams it drops as loop-back.
    const std::uint64_t blasterId = receiver.clientId() ^ 1;

    std::printf("port %u, %zu frames per datagram, %.1f s per step, receive buffer %d bytes\n",
                unsigned(port), perDatagram, seconds, receiver.receiveBufferSize());
    std::printf("%10s %10s %10s %10s %10s %8s %8s %8s %8s\n", "target/s", "sent/s", "frames",
                "datagrams", "received", "lost", "gaps", "disorder", "k-drops");
    double bestLossless = 0;
    bool lossSeen = false;
    for (std::size_t i = 0; i < rates.size(); ++i) {
        const std::uint64_t dropsBefore = receiver.droppedDatagrams();
        BlastResult sent;
        std::thread blaster(
            [&] { sent = blast(port, group, blasterId, i, rates[i], seconds, perDatagram); });
        blaster.join();
        const FrameCounter::Step& step = counter.step(i);
        settle(step, sent.frames);
        const std::uint64_t received = step.received.load();
        const std::uint64_t lost = sent.frames > received ? sent.frames - received : 0;
        // A step counts only when the blaster kept within 5 % of its target rate.
        const double sentRate = sent.seconds > 0 ? double(sent.frames) / sent.seconds : 0.0;
        const bool reached = sentRate >= 0.95 * rates[i];
        std::printf("%10.0f %10.0f %10llu %10llu %10llu %8llu %8llu %8llu %8llu%s\n", rates[i],
                    sentRate, static_cast<unsigned long long>(sent.frames),
                    static_cast<unsigned long long>(sent.datagrams),
                    static_cast<unsigned long long>(received),
                    static_cast<unsigned long long>(lost),
                    static_cast<unsigned long long>(step.missing.load()),
                    static_cast<unsigned long long>(step.disordered.load()),
                    static_cast<unsigned long long>(receiver.droppedDatagrams() - dropsBefore),
                    sent.sendFailures > 0 ? "  (send failures)"
                    : reached             ? ""
                                          : "  (blaster below target)");
        std::fflush(stdout);
        if (lost > 0 || sent.frames == 0) lossSeen = true;
        if (!lossSeen && reached) bestLossless = rates[i];
    }
    receiver.close();
    if (bestLossless > 0)
        std::printf(
            "highest rate reached with no frame lost (and none lost below it): %.0f frames/s\n",
            bestLossless);
    else
        std::printf("frames were lost from the first step on\n");
    return 0;
}
