#pragma once
// What the transfer worker's job said last: the message that ended a failed download, upload or
// reset, for the status bar. It sits between the transfer and the user, passing every box on.
#include <mutex>
#include <string>

#include "common/user_interaction.h"

namespace qv {

struct TransferReport {
    std::string message;    // "" when no box told why
    bool declined = false;  // the message was a question answered No or Cancel
    // An upload that succeeded was read back from the controller and matched what was sent.
    bool verified = false;
};

// Passes every box on to `inner` and keeps the last one that tells why a job ended: a box with
// an error or warning icon, or a question answered No or Cancel. Written by the worker, read
// by the GUI thread after the job's end was posted.
class ReportingInteraction final : public UserInteraction {
  public:
    explicit ReportingInteraction(UserInteraction& inner) : inner_(inner) {}

    MessageAnswer messageBox(const MessageBoxRequest& request) override;
    MessageAnswer messageBoxWithDetails(const MessageBoxRequest& request,
                                        const std::string& details) override;
    std::optional<std::string> fileDialog(const FileDialogRequest& request) override {
        return inner_.fileDialog(request);
    }
    void progress(int percent) override { inner_.progress(percent); }

    // Forgets the last job's report (before the next one starts).
    void clear();
    TransferReport report() const;

  private:
    MessageAnswer note(const MessageBoxRequest& request, MessageAnswer answer);

    UserInteraction& inner_;
    mutable std::mutex mutex_;
    TransferReport report_;
};

}  // namespace qv
