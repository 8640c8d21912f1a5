#pragma once
// The process-wide CAN port: owns the bridge client while open, queues received frames for the
// user-interface side, waits for a frame with a time-out, runs one stream transfer to its end,
// connects to the selected bridge by TCP and counts frames for the bus load.
//
// `CBcan` is a class so that tests can run several ports side by side; the program uses the one
// global port through the free functions below.
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "common/auto_reset_event.h"
#include "link/can_udp_client.h"
#include "link/chunk_cursor.h"
#include "link/stream_types.h"

namespace qv {

inline constexpr std::size_t kSharedBufferSize = 4096;
inline constexpr std::uint16_t kAckObjectIndex = 0x0203;

enum TransferResult : int { kTransferOk = 0, kTransferFailed = 1, kTransferAborted = 2 };

class CBcan final : public PacketReceivedListener {
  public:
    using ClientFactory = std::function<std::unique_ptr<CanUdpClient>()>;
    // Telemetry decoder: identifier, source address, the eight data bytes.
    using DecoderHook = std::function<void(std::uint32_t, std::uint32_t, const CanFrame::Data&)>;
    using RawLogHook = std::function<void(const CanPacket&)>;
    // Progress of a stream transfer: bytes of the chunk just moved, or the total length (of all
    // chunks) when a sending transfer ends.
    using ProgressHook = std::function<void(std::uint16_t)>;

    // The received-frame queue keeps at most this many packets; beyond it the oldest are dropped
    // and counted. Far above what a queue drained every 200 ms holds at full bus load.
    static constexpr std::size_t kQueueLimit = 1u << 18;

    // Every blocking transfer ends within base + perByte x length: a controller, or anything
    // speaking for one on the network, cannot keep the caller waiting longer.
    static constexpr std::chrono::milliseconds kTransferLimitBase{30000};
    static constexpr double kTransferLimitMsPerByte = 4.0;

    // By default the client is built from the settings store.
    explicit CBcan(ClientFactory factory = {});
    ~CBcan() override;
    CBcan(const CBcan&) = delete;
    CBcan& operator=(const CBcan&) = delete;

    int open();
    int close();
    int sendFrame(std::uint32_t identifier, const CanFrame::Data& data);
    int sendRemoteRequest(std::uint32_t identifier);
    bool queueFrame(std::uint32_t identifier, const CanFrame::Data& data);
    bool flush();
    int waitForFrame(std::uint32_t identifier, CanFrame::Data* out, int timeoutMs);
    int transfer(std::uint16_t* length, std::uint8_t* data, std::uint16_t index, bool thisEndSends,
                 bool chunked);
    void abortTransfer();
    bool configureStream(std::uint16_t blockSize, std::uint32_t controlId, std::uint32_t dataId);
    int connectTcp(std::uint32_t word1, std::uint32_t word2);
    int closeTcp();
    bool bridgeHeard();

    bool isOpen() const { return open_; }
    // A connection made by connectTcp() that neither closeTcp() closed nor the bridge or a failed
    // send ended.
    bool isTcpOpen() const { return tcpOpen_; }
    void setBridgeAddress(std::uint32_t address) { bridgeAddress_ = address; }
    std::uint32_t bridgeAddress() const { return bridgeAddress_; }
    // Bus bit rate from the first bridge status frame since open (0 until then).
    std::uint32_t busBitRate() const { return busBitRate_; }
    // Received frames counted for the bus load; take() returns the count and restarts it.
    std::uint64_t takeReceivedFrameCount() { return receivedFrames_.exchange(0); }
    std::uint64_t droppedQueuePackets() const { return droppedPackets_; }
    // Bridge status frames received since construction (a bridge that is alive sends them
    // whether or not the bus carries anything).
    std::uint64_t statusFramesReceived() const { return statusFrames_; }
    std::size_t queuedPackets();
    // The controller's flash-write acknowledgement and every transfer's end signal this event.
    AutoResetEvent& completionEvent() { return completion_; }
    CanUdpClient* client() { return current().get(); }

    void setDecoderHook(DecoderHook hook);
    void setRawLogHook(RawLogHook hook);
    void setProgressHook(ProgressHook hook);
    // For tests: a shorter overall limit of blocking transfers.
    void setTransferLimit(std::chrono::milliseconds base, double msPerByte);

    // PacketReceivedListener
    void onPacketReceived(const CanPacket& packet) override;
    int onStreamEvent(int type, TransferInfo& info) override;

  private:
    // Builds one frame and sends it at once by multicast: 1 sent, 0 closed or failed.
    int sendOne(const std::function<CanFrame()>& build);
    void finishTransfer(int result);
    void progress(std::uint16_t value);

    ClientFactory factory_;
    // The client while open. Calls into it are made on a copy, without a port lock held, so that
    // closing never waits for a send in progress on another thread.
    std::shared_ptr<CanUdpClient> current();
    std::shared_ptr<CanUdpClient> client_;
    std::mutex clientLock_;     // guards client_ only; held for no call
    std::mutex lifecycleLock_;  // serialises open and close
    std::atomic<bool> open_{false};
    std::atomic<bool> tcpOpen_{false};
    std::atomic<std::uint32_t> bridgeAddress_{0};

    std::mutex queueLock_;
    std::condition_variable queueReady_;
    std::deque<CanPacket> queue_;
    bool bridgeHeard_ = false;
    std::atomic<std::uint32_t> busBitRate_{0};
    std::atomic<std::uint64_t> receivedFrames_{0};
    std::atomic<std::uint64_t> droppedPackets_{0};
    std::atomic<std::uint64_t> statusFrames_{0};

    std::mutex hookLock_;
    DecoderHook decoder_;
    RawLogHook rawLog_;
    ProgressHook progress_;

    // One transfer at a time; its fields are touched by the caller before the start and by
    // stream events (under the client's queue lock) until the completion event.
    std::mutex transferLock_;
    std::mutex transferStateLock_;
    std::array<std::uint8_t, kSharedBufferSize> sharedBuffer_{};
    std::array<std::uint8_t, kSharedBufferSize> ackBuffer_{};
    bool transferRunning_ = false;
    bool thisEndSends_ = false;
    bool chunked_ = false;
    bool notify_ = false;
    bool ackTransfer_ = false;  // the running transfer is a controller's acknowledgement
    ChunkSender chunkSender_;
    ChunkReceiver chunkReceiver_;
    int result_ = 0;
    std::size_t total_ = 0;  // bytes of the running transfer (all chunks)
    std::chrono::milliseconds limitBase_ = kTransferLimitBase;
    double limitMsPerByte_ = kTransferLimitMsPerByte;
    AutoResetEvent completion_;
};

// The program's one CAN port and its function-style API (return codes: 1 success, 0 failure;
// canTransfer 0 success, 1 failure, 2 user abort).
CBcan& canPort();
int canOpen();
int canClose();
int canSendFrame(std::uint32_t identifier, const CanFrame::Data& data);
int canSendRemoteRequest(std::uint32_t identifier);
bool canQueueFrame(std::uint32_t identifier, const CanFrame::Data& data);
bool canFlush();
int canWaitForFrame(std::uint32_t identifier, CanFrame::Data* out, int timeoutMs);
int canTransfer(std::uint16_t* length, std::uint8_t* data, std::uint16_t index, bool thisEndSends,
                bool chunked);
void canAbortTransfer();
bool canConfigureStream(std::uint16_t blockSize, std::uint32_t controlId, std::uint32_t dataId);
int canConnectTcp(std::uint32_t word1, std::uint32_t word2);
int canCloseTcp();
bool canBridgeHeard();

}  // namespace qv
