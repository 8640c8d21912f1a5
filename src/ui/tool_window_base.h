#pragma once
// What the DuvodaRezir and PM extraction windows share: the acquire, "Save Data..." and Close
// buttons, the tool selection when the window is shown or hidden, and the acquisition driven
// from the event loop. While it waits, a short timer hands the tool every received frame (the
// main window's tick leaves the queue alone meanwhile, and the frames the tool does not want go
// on to the telemetry decoder), the acquire and save buttons are disabled and Close gives the
// acquisition up. Everything runs on the GUI thread.
#include <QDialog>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/tool_windows.h"
#include "tools/commissioning_tool.h"
#include "tools/port_tool_link.h"
#include "ui/qt_windows.h"

class QGroupBox;
class QLabel;
class QPushButton;

namespace qv::ui {

class CPlot;

// A chart of a tool window in its group box; `plot` receives the chart (objectName id<id>).
QGroupBox* toolPlotGroup(const QString& title, int id, CPlot*& plot, QWidget* parent);
// A text of the core (UTF-8, CR LF line ends) as the widgets show it.
QString toolText(const std::string& text);

// Runs the motor selector modally over `parent`: the record index 0 to 9, or -1 when nothing was
// chosen or it was cancelled.
using MotorSelectorRunner = std::function<int(QWidget* parent, const CConfigDataBank& store)>;

// What a tool window needs from the application.
struct ToolWindowServices {
    CBcan* port = nullptr;
    CConfigDataBank* store = nullptr;
    UserInteraction* ui = nullptr;
    // The selected device's base address; nothing while none is selected.
    std::function<std::optional<std::uint32_t>()> selectedBase;
    // True while a configuration transfer runs: the tool then neither reads nor writes the store
    // and leaves the CAN port's TCP connection to the transfer.
    std::function<bool()> transferRunning;
    // The configuration upload with the tool's action code (the main window's transfer).
    std::function<void(int actionCode)> startUpload;
    MotorSelectorRunner chooseMotor;
    // Milliseconds of a steady clock; empty: the system's.
    std::function<double()> clock;
};

class CommissioningWindow : public QDialog {
    Q_OBJECT

  public:
    // Period of the timer that hands the tool its frames while it waits.
    static constexpr int kPumpMs = 5;

    CommissioningWindow(Tool tool, ToolWindowServices services, QWidget* parent);
    ~CommissioningWindow() override;

    CommissioningTool& tool() const { return *tool_; }
    bool acquiring() const { return tool_ && tool_->busy(); }
    // The tool waits for the controller's frames (not while a fit runs elsewhere).
    bool waitingForFrames() const { return tool_ && tool_->wantedIdentifier().has_value(); }
    QPushButton* acquireButton() const { return acquire_; }
    QPushButton* saveButton() const { return save_; }
    QPushButton* closeButton() const { return close_; }

  protected:
    void setTool(std::unique_ptr<CommissioningTool> tool);
    ToolContext toolContext();
    // The row of buttons under the window's contents, with the acquire button's text.
    QWidget* buildButtons(const QString& acquireText);

    // Shows the tool's last result (called whenever its generation changed).
    virtual void showResult() = 0;
    // Whether there is a complete acquisition to save, and its CSV (nothing before the first).
    virtual bool hasAcquisition() const = 0;
    virtual std::optional<std::string> acquisitionCsv() const = 0;
    // Start of the suggested file name ("phases" gives "phases_2024-05-01_14-03-07.csv").
    virtual std::string dataFileStem() const = 0;

    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    // Close, Escape and the close box.
    void reject() override;

  private:
    class RefreshingInteraction;

    void onAcquire();
    void onSaveData();
    void pump();
    // The view follows the tool: results redrawn when new, buttons as busy() says.
    void settleView();
    double nowMs() const;
    bool transferRunning() const;

    ToolWindowServices services_;
    PortToolLink link_;
    std::unique_ptr<RefreshingInteraction> interaction_;
    std::unique_ptr<CommissioningTool> tool_;
    std::uint64_t shownGeneration_ = 0;
    QTimer pumpTimer_;
    QPushButton* acquire_ = nullptr;
    QPushButton* save_ = nullptr;
    QPushButton* close_ = nullptr;
    QLabel* status_ = nullptr;
    // Where the last "Save Data..." wrote; the next one starts there.
    std::string saveDirectory_;
};

// The window as the main window's logic sees it: a tool window that says when it takes the
// port's queue itself.
class CommissioningToolWindow : public QtToolWindow {
  public:
    explicit CommissioningToolWindow(CommissioningWindow* window);
    bool acquiring() const override;

  private:
    QPointer<CommissioningWindow> window_;
};

}  // namespace qv::ui
