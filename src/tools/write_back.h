#pragma once
// Writing a tool's result into the motor record the user picks, then uploading the
// configuration with the tool's action code.
#include <functional>

#include "config/config_data_bank.h"

namespace qv {

// The motor selector, run modally: the record index 0 to 9, or a negative value when nothing
// was chosen or it was cancelled.
using MotorChooser = std::function<int()>;
// Starts the upload of the whole configuration (the main window's transfer with direction
// upload, every structure, the given action code and the tool window as owner).
using UploadStarter = std::function<void(int actionCode)>;
// Writes the result into a record; false when there is nothing fit to write.
using MotorWriter = std::function<bool(MotorConfig&)>;

// Asks for the record, writes it, marks the motor structure modified and starts the upload.
// Returns the record written, or -1 when nothing was chosen (an index above 9 counts as none) or
// the writer refused; then nothing is written and nothing uploaded.
int writeBackToMotor(CConfigDataBank& store, const MotorChooser& choose, const MotorWriter& write,
                     const UploadStarter& upload, int actionCode);

}  // namespace qv
