#pragma once
// A UserInteraction that records every message box, answers OK, and lets a test look at the
// state of the code under test while a box is up.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/user_interaction.h"

namespace qv::test {

class ScriptedUi final : public UserInteraction {
  public:
    MessageAnswer messageBox(const MessageBoxRequest& request) override {
        boxes.push_back(request);
        if (whileShown) whileShown(request);
        return MessageAnswer::Ok;
    }
    std::optional<std::string> fileDialog(const FileDialogRequest&) override {
        ADD_FAILURE() << "unexpected file dialog";
        return std::nullopt;
    }

    std::vector<MessageBoxRequest> boxes;
    std::function<void(const MessageBoxRequest&)> whileShown;
};

}  // namespace qv::test
