#pragma once
// Inside the commissioning pass: the state its worker shares with it.
#include <atomic>
#include <mutex>
#include <vector>

#include "config/config_verify.h"
#include "tools/commissioning_pass.h"
#include "tools/pass_text.h"

namespace qv {

// What the worker shares with the pass; it lives as long as either needs it, so a pass that goes
// while a transfer still runs leaves the transfer something to work on.
struct CommissioningPass::Shared {
    explicit Shared(UserInteraction* ui, bool forward) : interaction(ui, forward) {}

    // Every box is recorded; questions go to the user, and so do the other boxes when asked to.
    // Safe from any thread.
    class Recorder final : public UserInteraction {
      public:
        Recorder(UserInteraction* ui, bool forward) : ui_(ui), forward_(forward) {}
        MessageAnswer messageBox(const MessageBoxRequest& request) override {
            return show(request, nullptr);
        }
        MessageAnswer messageBoxWithDetails(const MessageBoxRequest& request,
                                            const std::string& details) override {
            return show(request, &details);
        }
        std::optional<std::string> fileDialog(const FileDialogRequest&) override {
            return std::nullopt;
        }
        std::size_t count() const {
            std::lock_guard lock(mutex_);
            return shown_.size();
        }
        std::vector<PassBox> since(std::size_t mark) const {
            std::lock_guard lock(mutex_);
            if (mark >= shown_.size()) return {};
            return {shown_.begin() + static_cast<std::ptrdiff_t>(mark), shown_.end()};
        }

      private:
        MessageAnswer show(const MessageBoxRequest& request, const std::string* details) {
            const bool question = request.buttons != MessageButtons::Ok;
            MessageAnswer answer = question ? request.defaultAnswer : MessageAnswer::Ok;
            if (ui_ && (question || forward_))
                answer = details ? ui_->messageBoxWithDetails(request, *details)
                                 : ui_->messageBox(request);
            std::lock_guard lock(mutex_);
            shown_.push_back({request, answer});
            return answer;
        }

        UserInteraction* ui_;
        bool forward_;
        mutable std::mutex mutex_;
        std::vector<PassBox> shown_;
    };

    Recorder interaction;
    CConfigDataBank store;     // the backup, then the results: what the write sends
    CConfigDataBank readBack;  // what the controller holds after the write
    ConfigSnapshot backup;     // the store as downloaded
    CConfigProg progress;
    // The write: uploaded, then verified; the boxes shown before the verification began.
    bool uploaded = false;
    std::optional<VerifyResult> verification;
    std::size_t boxesBeforeVerification = 0;
    bool readBackWhole = false;  // `readBack` holds the whole configuration read afterwards
    std::atomic<bool> done{true};
    bool ok = false;  // written by the worker before `done`
};

}  // namespace qv
