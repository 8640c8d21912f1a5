#pragma once
// The "Calibration" page's widget over CConfigCal: the calibration report in one multi-line
// edit (fixed-pitch 8 point, both scroll bars, no wrapping) so that its columns line up.
#include "config/pages/calibration_page.h"
#include "ui/config_page_widget.h"

class QPlainTextEdit;

namespace qv::ui {

class ConfigCalibrationPage : public ConfigPageWidget {
    Q_OBJECT

  public:
    ConfigCalibrationPage(CConfigCal& page, QWidget* parent = nullptr);

    void showPage() override;
    QPlainTextEdit* report() const { return edit_; }

  protected:
    FieldCheck leaveField(int) override { return {}; }
    void showField(int) override { showPage(); }

  private:
    CConfigCal& page_;
    QPlainTextEdit* edit_ = nullptr;
};

}  // namespace qv::ui
