#pragma once
// How the logic talks to the user: message boxes, file dialogs and progress. The Qt layer
// implements it with real dialogs; tests implement it with scripted answers.
#include <optional>
#include <string>

namespace qv {

enum class MessageIcon { None, Information, Warning, Error, Question };
enum class MessageButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MessageAnswer { Ok, Cancel, Yes, No };

struct MessageBoxRequest {
    std::string text;  // the system's own text, CR LF line ends as written
    std::string caption;
    MessageIcon icon = MessageIcon::None;
    MessageButtons buttons = MessageButtons::Ok;
    MessageAnswer defaultAnswer = MessageAnswer::Ok;
};

// What a file dialog is for: each kind starts in the folder where its last file went.
enum class FileKind { Other, Configuration, Log, Acquisition };

struct FileDialogRequest {
    bool save = false;
    std::string filter;            // e.g. "Config (*.cfg)|*.cfg|All files (*.*)|*.*||"
    std::string defaultExtension;  // without the dot; empty for none
    std::string initialPath;       // a file to propose; ending in "/": a folder to start in
    FileKind kind = FileKind::Other;
};

class UserInteraction {
  public:
    virtual ~UserInteraction() = default;
    virtual MessageAnswer messageBox(const MessageBoxRequest& request) = 0;
    // The same box with more to read before answering (a window's details pane, printed first
    // on a terminal). By default the details are left out.
    virtual MessageAnswer messageBoxWithDetails(const MessageBoxRequest& request,
                                                const std::string& /*details*/) {
        return messageBox(request);
    }
    // The chosen path, or nothing when the user cancelled.
    virtual std::optional<std::string> fileDialog(const FileDialogRequest& request) = 0;
    // Progress of a long operation, 0 to 100; the default ignores it.
    virtual void progress(int /*percent*/) {}
};

}  // namespace qv
