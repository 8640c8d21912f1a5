#pragma once
// The "General" page's widgets over CConfig: limits, the controller's identification, CAN
// addresses and baud rate, and the telemetry selection. Labels follow the selected device type.
#include <map>

#include "config/pages/general_page.h"
#include "ui/config_page_widget.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;

namespace qv::ui {

class HexEdit;

class ConfigGeneralPage : public ConfigPageWidget {
    Q_OBJECT

  public:
    ConfigGeneralPage(CConfig& page, QWidget* parent = nullptr);

    void showPage() override;

  protected:
    FieldCheck leaveField(int id) override { return page_.leaveField(id); }
    void showField(int id) override;

  private:
    QWidget* buildLimits();
    QWidget* buildIdentity();
    QWidget* buildCan();
    QWidget* buildTelemetry();
    QLineEdit* number(int id);
    HexEdit* identifier(int id);
    QLabel* typedLabel(int id, QWidget* buddy);
    QCheckBox* checkBox(int id);

    CConfig& page_;
    std::map<int, QLineEdit*> texts_;  // numbers and read-only fields
    std::map<int, HexEdit*> identifiers_;
    std::map<int, QCheckBox*> checks_;
    std::map<int, QLabel*> labels_;  // the ones that follow the device type
    QComboBox* baud_ = nullptr;
};

}  // namespace qv::ui
