#pragma once
// Puts the configuration windows into the program: the Configuration window and the
// "Processing Configuration" window, built by `factory` (call before app.start()) on the app's
// store and the transfer service's progress state; the pages ask through `ui`. With `boxes`,
// the message boxes that the transfer worker asks are owned by the progress window while it is
// shown.
namespace qv {
class CQVDrvCtrlsApp;
class UserInteraction;
class ControllerTransferService;
}  // namespace qv

namespace qv::ui {

class QtUserInteraction;
class QtWindowFactory;

void installConfigurationWindows(QtWindowFactory& factory, CQVDrvCtrlsApp& app, UserInteraction& ui,
                                 ControllerTransferService& transfer,
                                 QtUserInteraction* boxes = nullptr);

}  // namespace qv::ui
