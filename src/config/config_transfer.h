#pragma once
// Moves the configuration between the store and a controller: the download (identification
// block, stream lengths, the three structures), the upload (questions, version decision, each
// modified structure followed by the controller's flash acknowledgement) and the reset.
//
// These run on the transfer worker thread and block on the CAN port. They speak to the user only
// through `UserInteraction` (a window implements it by asking on the GUI thread and waiting for
// the answer) and drive the "Processing Configuration" window through `TransferProgress`. While
// one runs, the worker is the store's only writer: transferRunning() tells the pages so. A
// download or upload holds the port's progress hook (CBcan::setProgressHook, the chunk byte
// counts) while it runs: every chunk goes to TransferProgress::advance and to the context's
// portProgressHook, which it puts back on the port at its end.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "common/user_interaction.h"
#include "config/config_changes.h"
#include "config/config_data_bank.h"
#include "config/config_stream.h"
#include "link/can_port.h"

namespace qv {

struct WrittenStreams;

inline constexpr int kDownloadMaskPublic = 1;
inline constexpr int kDownloadMaskPrivate = 2;
inline constexpr int kDownloadMaskMotor = 4;
inline constexpr int kDownloadMaskAll = -1;  // every bit set

inline constexpr int kFlashAckTimeoutMs = 2000;
// Error flag bit 5 of the status message: the controller holds no usable configuration.
inline constexpr std::uint16_t kConfigErrorFlag = 1u << 5;

// What a transfer shows in the progress window. Every call but advance() comes from the
// worker thread; advance() comes from the link's receive thread while a stream moves.
class TransferProgress {
  public:
    virtual ~TransferProgress() = default;
    virtual bool isEnabled() const = 0;
    virtual void setCaption(const std::string& caption) = 0;
    virtual void setRange(std::uint32_t total) = 0;
    virtual void setPosition(std::uint32_t position) = 0;
    // Shows and enables the window; its Cancel button is enabled again.
    virtual void showAndEnable() = 0;
    // Disables the window and hides it.
    virtual void disableAndHide() = 0;
    // The transfer can no longer be cancelled.
    virtual void disableCancel() = 0;
    // Bytes of a chunk just moved (or the total when a sending transfer ends): the bar moves
    // on by that much while the window is enabled.
    virtual void advance(std::uint32_t bytes) = 0;
};

// The controller addressed: the selected device.
struct TransferTarget {
    std::uint32_t base = 0;           // CAN base address, a multiple of 0x20
    std::uint32_t serial = 0;         // announced serial number (0: unknown)
    std::uint32_t bridgeAddress = 0;  // IPv4 of its bridge (network order); 0 keeps the port's
    bool configError = false;         // error flag "CFG" set in its latest status message
    std::string deviceName;           // as the device list shows it, for the store's origin
};

struct TransferContext {
    TransferContext(CBcan& port, CConfigDataBank& store, TransferTarget target, UserInteraction& ui,
                    TransferProgress& progress)
        : port(port), store(store), target(target), ui(ui), progress(progress) {}

    CBcan& port;
    CConfigDataBank& store;
    TransferTarget target;
    UserInteraction& ui;
    TransferProgress& progress;
    // The public structure was replaced: the main window forgets its fallback driver-controls
    // base. May be empty.
    std::function<void()> clearFallbackDriverControlsBase;
    // The configuration last downloaded from this controller, if the caller keeps one: the
    // upload lists what it changes as the details of "Overwrite config?". May be null.
    const ConfigSnapshot* lastDownload = nullptr;
    // The port's progress hook outside transfers (the main window's WM_CAN_TRANSFER poster):
    // called for every chunk too, and put back at the end. A window whose bar already follows
    // it leaves TransferProgress::advance empty. May be empty.
    std::function<void(std::uint16_t)> portProgressHook;
    // When set, the upload records here each stream the controller acknowledged (what a
    // read-back verification compares with, config/config_verify.h). May be null.
    WrittenStreams* written = nullptr;
};

// Outcome of sending one structure.
enum class StreamSendResult {
    Ok,
    TransferFailed,
    Aborted,
    // Every chunk but the closing exchange went through: the controller may have stored the
    // structure, and only its flash acknowledgement can tell.
    Unconfirmed,
};

// The upload's version decision for held version H and required version R.
enum class UploadVersionStep {
    OlderThanRequired,  // H < R: refused
    UpToDateQuestion,   // nothing modified: ask whether to upload public and motor anyway
    Proceed,            // straight to "Overwrite config?"
    UpgradeQuestionA,   // from R to H
    UpgradeQuestionB,   // from H to 2.00
};
UploadVersionStep uploadVersionStep(bool anyModified, std::uint16_t held, std::uint16_t required);

// Mask bits 0 public, 1 private, 2 motor. True when every requested stage succeeded.
bool downloadConfig(TransferContext& context, int mask);
// Writes every modified structure after the questions. True when all were acknowledged.
bool uploadConfig(TransferContext& context);
// Restarts the controller. The program ignores the result; true when the reset was sent.
bool resetController(TransferContext& context);

// Receives one configuration stream and places it in the store (the caller has connected and
// configured the stream).
StreamParseResult parseConfigStream(TransferContext& context, StructureKind kind,
                                    std::size_t knownSize, std::size_t count,
                                    std::uint16_t reportedLength, bool recoveryAllowed);
// Builds and sends the stream of one structure.
StreamSendResult sendConfigStream(TransferContext& context, StructureKind kind,
                                  std::size_t knownSize, std::size_t count);

// True while a download, upload or reset works on `store`: the pages must neither fill from it
// nor write to it until the worker has reported its end.
bool transferRunning(const CConfigDataBank& store);

// Marks `store` as worked on by a transfer for its lifetime (scopes may nest). The transfer
// functions hold one; a window that starts the worker may hold one from the start of the job
// until its completion message, so that no page slips in between.
class TransferScope {
  public:
    explicit TransferScope(const CConfigDataBank& store);
    ~TransferScope();
    TransferScope(const TransferScope&) = delete;
    TransferScope& operator=(const TransferScope&) = delete;

  private:
    const CConfigDataBank* store_;
};

// The progress window's Cancel: sets the store's cancel event, aborts the stream transfer under
// way (when the port is open) and disables the button.
void cancelTransfer(CConfigDataBank& store, CBcan& port, TransferProgress& progress);

}  // namespace qv
