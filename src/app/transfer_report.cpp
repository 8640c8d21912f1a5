#include "app/transfer_report.h"

namespace qv {

MessageAnswer ReportingInteraction::messageBox(const MessageBoxRequest& request) {
    return note(request, inner_.messageBox(request));
}

MessageAnswer ReportingInteraction::messageBoxWithDetails(const MessageBoxRequest& request,
                                                          const std::string& details) {
    return note(request, inner_.messageBoxWithDetails(request, details));
}

MessageAnswer ReportingInteraction::note(const MessageBoxRequest& request, MessageAnswer answer) {
    const bool question = request.buttons != MessageButtons::Ok;
    const bool declined =
        question && (answer == MessageAnswer::No || answer == MessageAnswer::Cancel);
    const bool failure =
        !question && (request.icon == MessageIcon::Error || request.icon == MessageIcon::Warning);
    if (declined || failure) {
        std::lock_guard lock(mutex_);
        report_ = {request.text, declined};
    }
    return answer;
}

void ReportingInteraction::clear() {
    std::lock_guard lock(mutex_);
    report_ = {};
}

TransferReport ReportingInteraction::report() const {
    std::lock_guard lock(mutex_);
    return report_;
}

}  // namespace qv
