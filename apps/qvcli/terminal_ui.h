#pragma once
// The configuration commands' message boxes on the terminal: messages go to stderr as
// "qvcli COMMAND: Caption: text"; a question is asked on stderr and answered on stdin (y/n for
// Yes/No, ok/cancel for OK/Cancel), unless --yes answers Yes or OK to all of them. End of input
// answers No or Cancel. The details of a question are printed before it.
#include <cstdio>
#include <string>

#include "common/user_interaction.h"

namespace qv::cli {

class TerminalInteraction : public UserInteraction {
  public:
    TerminalInteraction(std::string command, bool answerYes, std::FILE* in = stdin,
                        std::FILE* out = stderr);
    MessageAnswer messageBox(const MessageBoxRequest& request) override;
    MessageAnswer messageBoxWithDetails(const MessageBoxRequest& request,
                                        const std::string& details) override;
    std::optional<std::string> fileDialog(const FileDialogRequest&) override {
        return std::nullopt;
    }
    // The last error or question shown (for a result line), and whether that question was
    // answered No or Cancel.
    const std::string& lastText() const { return lastText_; }
    bool declined() const { return declined_; }

  private:
    std::string command_;
    bool answerYes_;
    std::FILE* in_;
    std::FILE* out_;
    std::string lastText_;
    bool declined_ = false;
};

// The text with CR LF turned into plain line ends.
std::string terminalText(const std::string& text);

}  // namespace qv::cli
