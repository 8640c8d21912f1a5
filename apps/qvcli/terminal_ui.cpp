#include "terminal_ui.h"

#include <cctype>

namespace qv::cli {

namespace {

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string trimmed(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

// One line of input, at most 256 characters kept; nothing at end of input.
std::optional<std::string> readLine(std::FILE* in) {
    std::string line;
    int c;
    while ((c = std::fgetc(in)) != EOF && c != '\n')
        if (line.size() < 256) line += static_cast<char>(c);
    if (c == EOF && line.empty()) return std::nullopt;
    return line;
}

}  // namespace

std::string terminalText(const std::string& text) {
    std::string out;
    for (char c : text)
        if (c != '\r') out += c;
    return out;
}

TerminalInteraction::TerminalInteraction(std::string command, bool answerYes, std::FILE* in,
                                         std::FILE* out)
    : command_(std::move(command)), answerYes_(answerYes), in_(in), out_(out) {}

MessageAnswer TerminalInteraction::messageBoxWithDetails(const MessageBoxRequest& request,
                                                         const std::string& details) {
    if (!details.empty()) {
        std::fputs(details.c_str(), out_);
        if (details.back() != '\n') std::fputc('\n', out_);
    }
    return messageBox(request);
}

MessageAnswer TerminalInteraction::messageBox(const MessageBoxRequest& request) {
    lastText_ = terminalText(request.text);
    declined_ = false;
    std::fprintf(out_, "qvcli %s: %s: %s", command_.c_str(), request.caption.c_str(),
                 lastText_.c_str());
    const bool yesNo =
        request.buttons == MessageButtons::YesNo || request.buttons == MessageButtons::YesNoCancel;
    const bool okCancel = request.buttons == MessageButtons::OkCancel;
    if (!yesNo && !okCancel) {
        std::fputc('\n', out_);
        std::fflush(out_);
        return MessageAnswer::Ok;
    }
    const MessageAnswer yes = yesNo ? MessageAnswer::Yes : MessageAnswer::Ok;
    const MessageAnswer no = yesNo ? MessageAnswer::No : MessageAnswer::Cancel;
    const char* choices = request.buttons == MessageButtons::YesNoCancel ? " [y/n/cancel] "
                          : yesNo                                        ? " [y/n] "
                                                                         : " [ok/cancel] ";
    if (answerYes_) {
        std::fprintf(out_, "%s%s\n", choices, yesNo ? "y" : "ok");
        std::fflush(out_);
        return yes;
    }
    for (;;) {
        std::fputs(choices, out_);
        std::fflush(out_);
        const auto line = readLine(in_);
        if (!line) {
            std::fputs("(end of input)\n", out_);
            declined_ = true;
            return no;
        }
        const std::string a = lower(trimmed(*line));
        if (yesNo && (a == "y" || a == "yes")) return MessageAnswer::Yes;
        if (okCancel && (a == "ok" || a == "o")) return MessageAnswer::Ok;
        declined_ = true;
        if (yesNo && (a == "n" || a == "no")) return MessageAnswer::No;
        if (request.buttons == MessageButtons::YesNoCancel && (a == "c" || a == "cancel"))
            return MessageAnswer::Cancel;
        if (okCancel && (a == "cancel" || a == "c")) return MessageAnswer::Cancel;
        declined_ = false;
    }
}

}  // namespace qv::cli
