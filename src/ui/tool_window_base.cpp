#include "ui/tool_window_base.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>
#include <chrono>
#include <ctime>
#include <filesystem>

#include "tools/save_acquisition.h"
#include "ui/plot_widget.h"

namespace qv::ui {

namespace {

constexpr const char* kTransferRunningText =
    "A configuration transfer is still running.\r\n\r\nWait for it to end and try again.";

std::tm localNow() {
    const std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    return local;
}

constexpr QSize kPlotSize(600, 280);

}  // namespace

QGroupBox* toolPlotGroup(const QString& title, int id, CPlot*& plot, QWidget* parent) {
    auto* group = new QGroupBox(title, parent);
    auto* layout = new QVBoxLayout(group);
    plot = new CPlot(group);
    plot->setObjectName(QString("id%1").arg(id));
    plot->setFixedSize(kPlotSize);
    layout->addWidget(plot);
    return group;
}

QString toolText(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()))
        .replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

// The tool's boxes, shown only after the window has caught up with what the tool reports, so
// that the user sees the result a question is about.
class CommissioningWindow::RefreshingInteraction : public UserInteraction {
  public:
    RefreshingInteraction(CommissioningWindow& window, UserInteraction* ui)
        : window_(window), ui_(ui) {}
    MessageAnswer messageBox(const MessageBoxRequest& request) override {
        window_.settleView();
        return ui_ ? ui_->messageBox(request) : request.defaultAnswer;
    }
    std::optional<std::string> fileDialog(const FileDialogRequest& request) override {
        return ui_ ? ui_->fileDialog(request) : std::nullopt;
    }

  private:
    CommissioningWindow& window_;
    UserInteraction* ui_;
};

CommissioningWindow::CommissioningWindow(Tool tool, ToolWindowServices services, QWidget* parent)
    : QDialog(parent),
      services_(std::move(services)),
      link_(*services_.port, 0),
      interaction_(std::make_unique<RefreshingInteraction>(*this, services_.ui)) {
    setObjectName(toolObjectName(tool));
    setWindowTitle(toolCaption(tool));
    pumpTimer_.setTimerType(Qt::PreciseTimer);
    pumpTimer_.setInterval(kPumpMs);
    connect(&pumpTimer_, &QTimer::timeout, this, [this] { pump(); });
}

CommissioningWindow::~CommissioningWindow() {
    pumpTimer_.stop();
    // An acquisition still waiting lets the connection go.
    if (tool_ && tool_->busy()) tool_->closed();
}

void CommissioningWindow::setTool(std::unique_ptr<CommissioningTool> tool) {
    tool_ = std::move(tool);
    shownGeneration_ = tool_->generation();
}

ToolContext CommissioningWindow::toolContext() {
    ToolContext c;
    c.link = &link_;
    c.ui = interaction_.get();
    c.store = services_.store;
    c.base = 0;
    c.chooseMotor = [this] {
        settleView();
        // A transfer started while the acquisition ran (the main window's commands) owns the
        // store until it ends: nothing is written into it meanwhile.
        if (transferRunning()) {
            interaction_->messageBox(
                {std::string(kTransferRunningText) + "\r\n\r\nThe result was not written.",
                 windowTitle().toStdString(), MessageIcon::Warning, MessageButtons::Ok,
                 MessageAnswer::Ok});
            return -1;
        }
        return services_.chooseMotor ? services_.chooseMotor(this, *services_.store) : -1;
    };
    c.startUpload = [this](int action) {
        if (services_.startUpload) services_.startUpload(action);
    };
    return c;
}

QWidget* CommissioningWindow::buildButtons(const QString& acquireText) {
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    acquire_ = new QPushButton(acquireText, row);
    acquire_->setObjectName("id1024");
    save_ = new QPushButton(tr("Save Data..."), row);
    save_->setObjectName("idSaveData");
    save_->setToolTip(tr("Save the samples of the last acquisition as a CSV file"));
    save_->setEnabled(false);
    status_ = new QLabel(row);
    status_->setObjectName("idAcquisitionStatus");
    close_ = new QPushButton(tr("Close"), row);
    close_->setObjectName("id2");
    close_->setAutoDefault(false);
    layout->addWidget(acquire_);
    layout->addWidget(save_);
    layout->addWidget(status_, 1);
    layout->addWidget(close_);
    connect(acquire_, &QPushButton::clicked, this, [this] { onAcquire(); });
    connect(save_, &QPushButton::clicked, this, [this] { onSaveData(); });
    connect(close_, &QPushButton::clicked, this, [this] { reject(); });
    return row;
}

bool CommissioningWindow::transferRunning() const {
    return services_.transferRunning && services_.transferRunning();
}

double CommissioningWindow::nowMs() const {
    if (services_.clock) return services_.clock();
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

void CommissioningWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous() || !tool_) return;
    // The device may have changed while the window was hidden.
    if (const auto base = services_.selectedBase ? services_.selectedBase() : std::nullopt) {
        link_.setBase(*base);
        tool_->setBase(*base);
        tool_->shown();
    }
    settleView();
}

void CommissioningWindow::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    if (event->spontaneous() || !tool_) return;
    // Hidden while it waits (another tool opened, the device went): the acquisition is given
    // up, so that nothing reaches the store or the port once the window is gone.
    if (tool_->busy())
        tool_->closed();
    else
        tool_->hidden();
    settleView();
}

void CommissioningWindow::reject() {
    if (tool_) tool_->closed();
    settleView();
    setEnabled(false);
    QDialog::reject();
}

void CommissioningWindow::onAcquire() {
    if (!tool_ || tool_->busy()) return;
    if (transferRunning()) {
        interaction_->messageBox({kTransferRunningText, windowTitle().toStdString(),
                                  MessageIcon::Warning, MessageButtons::Ok, MessageAnswer::Ok});
        return;
    }
    const auto base = services_.selectedBase ? services_.selectedBase() : std::nullopt;
    if (!base) return;  // the device went; the main window hides the tools
    link_.setBase(*base);
    tool_->setBase(*base);
    tool_->acquire([this] { return nowMs(); });
    if (tool_->busy()) pumpTimer_.start();
    settleView();
}

void CommissioningWindow::pump() {
    if (!tool_ || !tool_->busy()) {
        pumpTimer_.stop();
        settleView();
        return;
    }
    pumpFrames(*services_.port, *tool_, nowMs());
    settleView();
}

void CommissioningWindow::settleView() {
    if (!tool_) return;
    const bool busy = tool_->busy();
    if (!busy) pumpTimer_.stop();
    if (tool_->generation() != shownGeneration_) {
        shownGeneration_ = tool_->generation();
        showResult();
    }
    acquire_->setEnabled(!busy);
    save_->setEnabled(!busy && hasAcquisition());
    status_->setText(busy ? tr("Acquiring... (Close cancels)") : QString());
}

void CommissioningWindow::onSaveData() {
    if (!tool_ || tool_->busy() || !services_.ui) return;
    const auto csv = acquisitionCsv();
    if (!csv) return;
    if (const auto written =
            saveAcquisitionData(*services_.ui, *csv, dataFileStem(), localNow(), saveDirectory_))
        saveDirectory_ = std::filesystem::path(*written).parent_path().string();
}

CommissioningToolWindow::CommissioningToolWindow(CommissioningWindow* window)
    : QtToolWindow(window, true), window_(window) {}

bool CommissioningToolWindow::acquiring() const {
    return window_ && window_->waitingForFrames();
}

}  // namespace qv::ui
