#pragma once
// CTelem: the compact Telemetry window (cells 1182 to 1195, each under its caption). It shows
// the Telemetry window model; Escape and the close box go to the logic, which hides it.
#include <QDialog>
#include <map>
#include <vector>

namespace qv {
class CQVDrvCtrlsDlg;
class TelemWindowModel;
}  // namespace qv

namespace qv::ui {

class CColourStatic;

class CTelem : public QDialog {
    Q_OBJECT

  public:
    explicit CTelem(QWidget* parent = nullptr);

    void attach(CQVDrvCtrlsDlg* logic) { logic_ = logic; }
    void showCells(const std::vector<int>& changed, const TelemWindowModel& model);
    CColourStatic* cell(int id) const;

  protected:
    void reject() override;  // Escape
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    CQVDrvCtrlsDlg* logic_ = nullptr;
    std::map<int, CColourStatic*> cells_;
};

}  // namespace qv::ui
