#pragma once
// "Commissioning Assistant": the wizard that shows CommissionAssistant. The steps on the left,
// the page of the step under way on the right (its charts, texts and values as the tools show
// them), and the buttons below. While the pass waits for the controller's frames a short timer
// hands them to it (the main window's tick leaves the queue alone meanwhile); closing the window
// stops the pass.
#include <QDialog>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <memory>

#include "app/commission_assistant.h"
#include "render/plot_painter.h"
#include "ui/qt_windows.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QTableWidget;

namespace qv::ui {

class CColourStatic;
class CPlot;

class CommissionWindow : public QDialog {
    Q_OBJECT

  public:
    static constexpr int kPumpMs = 5;

    CommissionWindow(AssistantServices services, QWidget* parent);
    ~CommissionWindow() override;

    CommissionAssistant& assistant() { return assistant_; }
    bool acquiring() const { return assistant_.acquiring(); }

    QPushButton* nextButton() const { return next_; }
    QPushButton* retryButton() const { return retry_; }
    QPushButton* cancelButton() const { return cancel_; }
    QPushButton* closeButton() const { return close_; }
    QPushButton* openReportButton() const { return openReport_; }
    QComboBox* motorBox() const { return motor_; }
    QComboBox* typeBox() const { return type_; }
    QLineEdit* folderEdit() const { return folder_; }
    QListWidget* stepList() const { return steps_; }
    QLabel* hintLabel() const { return hint_; }
    QTableWidget* changeTable() const { return changes_; }
    // Brings the window up to date with the assistant (also done by its timer).
    void refresh();

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    // Close, Escape and the close box: asks first while a pass runs.
    void reject() override;

  private:
    QWidget* buildDevicePage();
    QWidget* buildTextPage(QPlainTextEdit*& text);
    QWidget* buildPhasesPage();
    QWidget* buildParametersPage();
    QWidget* buildReviewPage();
    void takeChoices();
    void showChoices();
    void showSteps();
    void showPage();
    void showPhases();
    void showParameters();
    void showProgress();
    void pump();
    void runTimerWhileBusy();
    double nowMs() const;

    render::PngPlotRenderer renderer_;
    CommissionAssistant assistant_;
    QTimer pumpTimer_;
    std::uint64_t shownGeneration_ = ~0ull;
    std::uint64_t shownPhases_ = ~0ull;
    std::uint64_t shownParameters_ = ~0ull;
    bool showingChoices_ = false;

    QListWidget* steps_ = nullptr;
    QLabel* title_ = nullptr;
    QLabel* hint_ = nullptr;
    QStackedWidget* pages_ = nullptr;
    QProgressBar* progress_ = nullptr;
    // First page.
    QLabel* device_ = nullptr;
    QComboBox* motor_ = nullptr;
    QComboBox* type_ = nullptr;
    QCheckBox* phases_ = nullptr;
    QCheckBox* parameters_ = nullptr;
    QLineEdit* folder_ = nullptr;
    QPushButton* browse_ = nullptr;
    // Texts of the backup, write and report pages.
    QPlainTextEdit* backupText_ = nullptr;
    QPlainTextEdit* writeText_ = nullptr;
    QPlainTextEdit* reportText_ = nullptr;
    // Phases page.
    CPlot* voltages_ = nullptr;
    CPlot* sensors_ = nullptr;
    CColourStatic* analysis_ = nullptr;
    CColourStatic* verdict_ = nullptr;
    QListWidget* resultList_ = nullptr;
    // Parameters page.
    CPlot* upper_ = nullptr;
    CPlot* lower_ = nullptr;
    QPlainTextEdit* parameterText_ = nullptr;
    // Review page.
    QTableWidget* changes_ = nullptr;

    QPushButton* openReport_ = nullptr;
    QPushButton* retry_ = nullptr;
    QPushButton* next_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* close_ = nullptr;
};

// The window as the main window's logic sees it: a tool window that takes the port's queue
// while the pass acquires.
class CommissionToolWindow : public QtToolWindow {
  public:
    explicit CommissionToolWindow(CommissionWindow* window);
    bool acquiring() const override;

  private:
    QPointer<CommissionWindow> window_;
};

// The assistant's services on the application `app`: its port and store, the main window's
// selected device and transfer worker; `ui` asks the user.
AssistantServices applicationAssistantServices(CQVDrvCtrlsApp& app, UserInteraction& ui);
// Call before app.start().
void installCommissioningAssistant(QtWindowFactory& factory, CQVDrvCtrlsApp& app,
                                   UserInteraction& ui);

}  // namespace qv::ui
