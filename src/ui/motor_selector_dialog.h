#pragma once
// "Motor Selector": the modal dialog in which a commissioning tool lets the user pick the motor
// record its results go to. The lines and the result are CMotorSelector's.
//
// Other windows call runMotorSelector(parent, store): it shows the dialog over `parent` and
// returns the chosen record 0 to 9, or -1 when no line was selected or the user cancelled (a
// caller that gets -1 writes nothing). It matches the commissioning windows' MotorSelectorRunner.
#include <QDialog>

#include "config/pages/motor_selector.h"

class QListWidget;

namespace qv::ui {

class MotorSelectorDialog : public QDialog {
    Q_OBJECT

  public:
    // `result` receives the choice when the dialog ends.
    MotorSelectorDialog(const CConfigDataBank& store, int* result, QWidget* parent = nullptr);

    QListWidget* list() const { return list_; }

  public slots:
    void accept() override;
    void reject() override;

  private:
    CMotorSelector logic_;
    QListWidget* list_ = nullptr;
};

// Runs the dialog modally over `parent`: the record index 0 to 9, or -1.
int runMotorSelector(QWidget* parent, const CConfigDataBank& store);

}  // namespace qv::ui
