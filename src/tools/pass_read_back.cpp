#include "tools/pass_read_back.h"

#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "tools/pass_text.h"

namespace qv {

namespace {

// Keeps the download's boxes of one attempt.
class Quiet final : public UserInteraction {
  public:
    MessageAnswer messageBox(const MessageBoxRequest& request) override {
        last = plainText(request.text);
        return request.buttons == MessageButtons::Ok ? MessageAnswer::Ok : request.defaultAnswer;
    }
    std::optional<std::string> fileDialog(const FileDialogRequest&) override {
        return std::nullopt;
    }
    std::string last;
};

}  // namespace

ReadBackResult readBackAndVerify(TransferContext& context, const CConfigDataBank& written,
                                 double waitMs, const std::atomic<bool>* cancelled) {
    using Clock = std::chrono::steady_clock;
    ReadBackResult result;
    const auto deadline = Clock::now() + std::chrono::duration<double, std::milli>(waitMs);
    Quiet quiet;
    TransferContext attempt(context.port, context.store, context.target, quiet, context.progress);
    attempt.portProgressHook = context.portProgressHook;
    for (int n = 1;; ++n) {
        if (cancelled && cancelled->load()) {
            result.problem = "cancelled";
            return result;
        }
        quiet.last.clear();
        if (downloadConfig(attempt, kDownloadMaskAll) &&
            context.store.isValid(StructureKind::Motor)) {
            result.readBack = true;
            result.log += "attempt " + std::to_string(n) + ": read back\n";
            break;
        }
        result.problem = quiet.last.empty() ? "cancelled" : firstLine(quiet.last);
        result.log += "attempt " + std::to_string(n) + ": " + result.problem + "\n";
        if (Clock::now() >= deadline) return result;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    result.problem.clear();
    DiffScope scope;
    scope.kinds = {false, false, true};
    scope.readOnly = false;
    scope.checksums = true;
    result.differences = diffConfigs(written, context.store, scope);
    result.matches = true;
    for (std::size_t i = 0; i < kMotorCount; ++i) {
        const auto a = written.recordBytes(StructureKind::Motor, i);
        const auto b = context.store.recordBytes(StructureKind::Motor, i);
        if (a.size() != b.size() || std::memcmp(a.data(), b.data(), a.size()) != 0)
            result.matches = false;
    }
    if (!result.matches && result.differences.empty())
        result.differences.push_back({"motor", "bytes", "as sent", "other bytes"});
    return result;
}

}  // namespace qv
