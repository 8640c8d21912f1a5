#pragma once
// The "Motor" tab's widgets: ConfigMotorTabsPage over CConfigMotorTabs (active motor with its
// spin buttons, tyre diameter, an inner tab per motor record) and ConfigMotorPage over one
// CConfigMotor (the record's fields, the measured values read-only, the hall list, the
// thermistor pair and the motor-type labels).
#include <array>
#include <map>

#include "config/pages/motor_page.h"
#include "ui/config_page_widget.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QTabWidget;
class QToolButton;

namespace qv::ui {

class ConfigMotorPage : public ConfigPageWidget {
    Q_OBJECT

  public:
    ConfigMotorPage(CConfigMotor& page, QWidget* parent = nullptr);

    void showPage() override;
    QListWidget* hallList() const { return hall_; }

  protected:
    FieldCheck leaveField(int id) override { return page_.leaveField(id); }
    void showField(int id) override;

  private:
    QLineEdit* text(int id);
    QCheckBox* checkBox(int id, const char* label);
    QWidget* buildRecord();
    QWidget* buildTemperature();
    QWidget* buildConstants();
    void showMotorType();

    CConfigMotor& page_;
    std::map<int, QLineEdit*> texts_;
    std::map<int, QCheckBox*> checks_;
    std::map<int, QLabel*> labels_;  // the ones that follow the motor or device type
    QComboBox* type_ = nullptr;
    QListWidget* hall_ = nullptr;
};

class ConfigMotorTabsPage : public ConfigPageWidget {
    Q_OBJECT

  public:
    ConfigMotorTabsPage(CConfigMotorTabs& page, QWidget* parent = nullptr);

    void showPage() override;
    // Shows record `record`'s page and gives its field `id` the focus.
    bool focusRecordField(int record, int id);
    ConfigMotorPage* motorPage(int record) const {
        return pages_.at(static_cast<std::size_t>(record));
    }
    QTabWidget* motorTabs() const { return tabs_; }
    // The check of whichever field (here or on a motor page) has the focus.
    bool checkFocusedField() override;

  protected:
    FieldCheck leaveField(int id) override { return page_.leaveField(id); }
    void showField(int id) override;

  private:
    void step(int delta);
    bool eventFilter(QObject* watched, QEvent* event) override;

    CConfigMotorTabs& page_;
    QLineEdit* active_ = nullptr;
    QLineEdit* tyre_ = nullptr;
    QTabWidget* tabs_ = nullptr;
    std::array<ConfigMotorPage*, kMotorCount> pages_{};
};

}  // namespace qv::ui
