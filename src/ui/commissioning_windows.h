#pragma once
// The DuvodaRezir, PM and induction-motor extraction windows on the application's CAN port,
// configuration store and main window, registered with the window factory in place of their shells.
#include "ui/duvoda_rezir_window.h"
#include "ui/im_extract_window.h"
#include "ui/param_extract_window.h"
#include "ui/qt_windows.h"

namespace qv::ui {

// The services of the application `app` (its own CAN port, its store, its main window's
// transfer and selected device); `ui` asks the user.
ToolWindowServices applicationToolServices(CQVDrvCtrlsApp& app, UserInteraction& ui,
                                           MotorSelectorRunner chooseMotor);

// Call before app.start(). Without `chooseMotor`, motorSelectorPending() stands in.
void installCommissioningTools(QtWindowFactory& factory, CQVDrvCtrlsApp& app, UserInteraction& ui,
                               MotorSelectorRunner chooseMotor = {});

// Stands in for the motor selector window until it is part of the program: tells the user that
// no motor record can be chosen yet and chooses none, so nothing is written or uploaded.
MotorSelectorRunner motorSelectorPending(UserInteraction& ui);
inline constexpr const char* kMotorSelectorPendingText =
    "Choosing a motor record is not available in this version yet.\r\n\r\n"
    "The result was not written; save the data to keep it.";

}  // namespace qv::ui
