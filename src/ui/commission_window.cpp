#include "ui/commission_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QStackedWidget>
#include <QTableWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <chrono>

#include "app/commission_assistant.h"
#include "tools/pass_text.h"
#include "tools/port_tool_link.h"
#include "tools/tool_plots.h"
#include "ui/colour_static.h"
#include "ui/plot_widget.h"
#include "ui/tool_window_base.h"

namespace qv::ui {

namespace {

constexpr QSize kPlotSize(520, 230);
constexpr int kSideWidth = 270;

QString text(const std::string& s) {
    return toolText(s);
}

CPlot* plotIn(QWidget* parent, const QString& objectName) {
    auto* plot = new CPlot(parent);
    plot->setObjectName(objectName);
    plot->setFixedSize(kPlotSize);
    return plot;
}

QPlainTextEdit* readOnlyText(QWidget* parent, const QString& objectName) {
    auto* t = new QPlainTextEdit(parent);
    t->setObjectName(objectName);
    t->setReadOnly(true);
    QFont mono(QStringLiteral("Monospace"));
    mono.setStyleHint(QFont::Monospace);
    t->setFont(mono);
    return t;
}

// "name: value" lines of a step, values of several lines indented under their name; with
// `log`, the step's text (analysis text or log) after them.
std::string valuesText(const StepRecord& r, bool log = true) {
    std::string out;
    if (!r.summary.empty()) out += std::string(outcomeName(r.outcome)) + ": " + r.summary + "\n";
    for (const PassValue& v : r.values) {
        if (v.value.find('\n') == std::string::npos) {
            out += v.name + ": " + v.value + "\n";
            continue;
        }
        out += v.name + ":\n";
        std::size_t start = 0;
        while (start <= v.value.size()) {
            const std::size_t end = v.value.find('\n', start);
            out += "    " + v.value.substr(start, end - start) + "\n";
            if (end == std::string::npos) break;
            start = end + 1;
        }
    }
    for (const std::string& f : r.files) out += "File: " + f + "\n";
    if (log && !r.text.empty()) out += "\n" + r.text + "\n";
    return out;
}

// A mark before each step: done, failed, stopped, under way.
QString outcomeMark(StepOutcome o) {
    switch (o) {
        case StepOutcome::Succeeded:
            return QString::fromUtf8("\u2713");
        case StepOutcome::Failed:
            return QString::fromUtf8("\u2717");
        case StepOutcome::Cancelled:
        case StepOutcome::Skipped:
            return QString::fromUtf8("\u2013");
        case StepOutcome::Running:
            return QString::fromUtf8("\u2026");
        default:
            return QStringLiteral(" ");
    }
}

ColorRef outcomeColour(StepOutcome o) {
    switch (o) {
        case StepOutcome::Succeeded:
            return tool_colour::kSuccess;
        case StepOutcome::Failed:
            return tool_colour::kFailure;
        case StepOutcome::Cancelled:
        case StepOutcome::Running:
            return tool_colour::kBusy;
        default:
            return kButtonFace;
    }
}

// The outcome of a page: the write page is the write and the verification.
StepOutcome pageOutcome(const PassRecord& r, AssistantPage page) {
    switch (page) {
        case AssistantPage::Device:
            return r.at(PassStep::Device).outcome;
        case AssistantPage::Backup:
            return r.at(PassStep::Backup).outcome;
        case AssistantPage::Phases:
            return r.at(PassStep::Phases).outcome;
        case AssistantPage::Parameters:
            return r.at(PassStep::Parameters).outcome;
        case AssistantPage::Review:
            return r.at(PassStep::Review).outcome;
        case AssistantPage::Write: {
            const StepOutcome w = r.at(PassStep::Write).outcome;
            return w == StepOutcome::Succeeded ? r.at(PassStep::Verify).outcome : w;
        }
        case AssistantPage::Report:
            return r.at(PassStep::Report).outcome;
    }
    return StepOutcome::Pending;
}

AssistantServices withRenderer(AssistantServices services, PlotRenderer& renderer) {
    services.plots = &renderer;
    return services;
}

}  // namespace

CommissionWindow::CommissionWindow(AssistantServices services, QWidget* parent)
    : QDialog(parent), assistant_(withRenderer(std::move(services), renderer_)) {
    setObjectName(toolObjectName(Tool::Commissioning));
    setWindowTitle(kAssistantCaption);
    pumpTimer_.setTimerType(Qt::PreciseTimer);
    pumpTimer_.setInterval(kPumpMs);
    connect(&pumpTimer_, &QTimer::timeout, this, [this] { pump(); });

    steps_ = new QListWidget(this);
    steps_->setObjectName("idSteps");
    steps_->setFixedWidth(230);
    steps_->setSelectionMode(QAbstractItemView::NoSelection);
    steps_->setFocusPolicy(Qt::NoFocus);
    for (int i = 0; i < kAssistantPageCount; ++i)
        steps_->addItem(
            QString("%1. %2").arg(i + 1).arg(assistantPageTitle(static_cast<AssistantPage>(i))));

    title_ = new QLabel(this);
    title_->setObjectName("idPageTitle");
    QFont big = title_->font();
    big.setBold(true);
    big.setPointSize(big.pointSize() + 3);
    title_->setFont(big);
    hint_ = new QLabel(this);
    hint_->setObjectName("idHint");
    hint_->setWordWrap(true);
    hint_->setMinimumHeight(40);
    hint_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    hint_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    pages_ = new QStackedWidget(this);
    pages_->addWidget(buildDevicePage());
    pages_->addWidget(buildTextPage(backupText_));
    pages_->addWidget(buildPhasesPage());
    pages_->addWidget(buildParametersPage());
    pages_->addWidget(buildReviewPage());
    pages_->addWidget(buildTextPage(writeText_));
    pages_->addWidget(buildTextPage(reportText_));
    backupText_->setObjectName("idBackupText");
    writeText_->setObjectName("idWriteText");
    reportText_->setObjectName("idReportText");

    progress_ = new QProgressBar(this);
    progress_->setObjectName("idProgress");
    progress_->setTextVisible(false);
    progress_->setMaximumHeight(14);

    openReport_ = new QPushButton(tr("Open Report"), this);
    openReport_->setObjectName("idOpenReport");
    retry_ = new QPushButton(tr("Retry"), this);
    retry_->setObjectName("idRetry");
    next_ = new QPushButton(tr("Start"), this);
    next_->setObjectName("idNext");
    next_->setDefault(true);
    cancel_ = new QPushButton(tr("Cancel"), this);
    cancel_->setObjectName("idCancel");
    close_ = new QPushButton(tr("Close"), this);
    close_->setObjectName("id2");
    for (QPushButton* b : {openReport_, retry_, cancel_, close_}) b->setAutoDefault(false);
    connect(next_, &QPushButton::clicked, this, [this] {
        takeChoices();
        assistant_.pressNext(nowMs());
        runTimerWhileBusy();
        refresh();
    });
    connect(retry_, &QPushButton::clicked, this, [this] {
        assistant_.pressRetry(nowMs());
        runTimerWhileBusy();
        refresh();
    });
    connect(cancel_, &QPushButton::clicked, this, [this] {
        if (!assistant_.pass()) return reject();
        assistant_.pressCancel(nowMs());
        runTimerWhileBusy();
        refresh();
    });
    connect(close_, &QPushButton::clicked, this, [this] { reject(); });
    connect(openReport_, &QPushButton::clicked, this, [this] { assistant_.pressOpenReport(); });

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(openReport_);
    buttons->addStretch(1);
    buttons->addWidget(retry_);
    buttons->addWidget(next_);
    buttons->addWidget(cancel_);
    buttons->addWidget(close_);

    auto* right = new QVBoxLayout;
    right->addWidget(title_);
    right->addWidget(hint_);
    right->addWidget(pages_, 1);
    right->addWidget(progress_);
    auto* body = new QHBoxLayout;
    body->addWidget(steps_);
    body->addLayout(right, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(body, 1);
    layout->addLayout(buttons);
    setTabOrder(next_, cancel_);
    setTabOrder(cancel_, close_);
    refresh();
}

CommissionWindow::~CommissionWindow() {
    pumpTimer_.stop();
}

QWidget* CommissionWindow::buildDevicePage() {
    auto* page = new QWidget(this);
    auto* form = new QFormLayout(page);
    device_ = new QLabel(page);
    device_->setObjectName("idDevice");
    motor_ = new QComboBox(page);
    motor_->setObjectName("idMotorRecord");
    type_ = new QComboBox(page);
    type_->setObjectName("idMotorType");
    type_->addItems({tr("As the record holds it"), "BLDC", "Induction", "IPM"});
    phases_ = new QCheckBox(tr("Phase and hall allocation"), page);
    phases_->setObjectName("idStepPhases");
    parameters_ = new QCheckBox(
        tr("Motor parameters (resistance and inductance, or the equivalent circuit)"), page);
    parameters_->setObjectName("idStepParameters");
    folder_ = new QLineEdit(page);
    folder_->setObjectName("idFolder");
    browse_ = new QPushButton(tr("Browse..."), page);
    browse_->setObjectName("idBrowse");
    browse_->setAutoDefault(false);
    connect(browse_, &QPushButton::clicked, this, [this] {
        const QString chosen =
            QFileDialog::getExistingDirectory(this, tr("Folder of the pass"), folder_->text());
        if (!chosen.isEmpty()) folder_->setText(chosen);
    });
    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(folder_, 1);
    folderRow->addWidget(browse_);
    form->addRow(tr("Controller:"), device_);
    form->addRow(tr("Motor record:"), motor_);
    form->addRow(tr("Motor type:"), type_);
    form->addRow(tr("Steps:"), phases_);
    form->addRow(QString(), parameters_);
    form->addRow(tr("Folder:"), folderRow);
    return page;
}

QWidget* CommissionWindow::buildTextPage(QPlainTextEdit*& text) {
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    text = readOnlyText(page, {});
    layout->addWidget(text);
    return page;
}

QWidget* CommissionWindow::buildPhasesPage() {
    auto* page = new QWidget(this);
    auto* grid = new QGridLayout(page);
    grid->setContentsMargins(0, 0, 0, 0);
    voltages_ = plotIn(page, "id1172");
    sensors_ = plotIn(page, "id1173");
    grid->addWidget(voltages_, 0, 0);
    grid->addWidget(sensors_, 1, 0);
    auto* side = new QVBoxLayout;
    analysis_ = new CColourStatic(page);
    analysis_->setObjectName("id1129");
    analysis_->setWordWrap(true);
    analysis_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    analysis_->setFixedSize(kSideWidth, 130);
    verdict_ = new CColourStatic(page);
    verdict_->setObjectName("id1130");
    verdict_->setAlignment(Qt::AlignCenter);
    verdict_->setFixedSize(kSideWidth, 30);
    QFont bold = verdict_->font();
    bold.setBold(true);
    verdict_->setFont(bold);
    resultList_ = new QListWidget(page);
    resultList_->setObjectName("id1171");
    QFont courier(QStringLiteral("Courier New"));
    courier.setStyleHint(QFont::Monospace);
    resultList_->setFont(courier);
    resultList_->setFixedWidth(kSideWidth);
    resultList_->setSelectionMode(QAbstractItemView::NoSelection);
    side->addWidget(analysis_);
    side->addWidget(verdict_);
    side->addWidget(resultList_, 1);
    grid->addLayout(side, 0, 1, 2, 1);
    return page;
}

QWidget* CommissionWindow::buildParametersPage() {
    auto* page = new QWidget(this);
    auto* grid = new QGridLayout(page);
    grid->setContentsMargins(0, 0, 0, 0);
    upper_ = plotIn(page, "idParameterPlot1");
    lower_ = plotIn(page, "idParameterPlot2");
    parameterText_ = readOnlyText(page, "idParameterText");
    parameterText_->setFixedWidth(kSideWidth);
    grid->addWidget(upper_, 0, 0);
    grid->addWidget(lower_, 1, 0);
    grid->addWidget(parameterText_, 0, 1, 2, 1);
    return page;
}

QWidget* CommissionWindow::buildReviewPage() {
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    changes_ = new QTableWidget(0, 4, page);
    changes_->setObjectName("idChanges");
    changes_->setHorizontalHeaderLabels({tr("Record"), tr("Field"), tr("Before"), tr("After")});
    changes_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    changes_->verticalHeader()->hide();
    changes_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    layout->addWidget(changes_);
    return page;
}

double CommissionWindow::nowMs() const {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

void CommissionWindow::takeChoices() {
    AssistantChoices& c = assistant_.choices();
    if (motor_->currentIndex() >= 0) c.motor = motor_->currentIndex();
    c.motorType =
        type_->currentIndex() > 0 ? std::optional<int>(type_->currentIndex() - 1) : std::nullopt;
    c.phases = phases_->isChecked();
    c.parameters = parameters_->isChecked();
    c.folder = folder_->text().toStdString();
}

void CommissionWindow::showChoices() {
    const AssistantChoices& c = assistant_.choices();
    const auto& d = assistant_.device();
    device_->setText(d ? QString("%1   serial %2   type %3")
                             .arg(QString::fromStdString(baseAddressText(d->target.base)))
                             .arg(d->target.serial)
                             .arg(QString::fromStdString(hexText(d->type, 4)))
                       : tr("none selected"));
    motor_->clear();
    for (const std::string& line : assistant_.motorLines())
        motor_->addItem(QString::fromLatin1(line.c_str()));
    motor_->setCurrentIndex(c.motor);
    type_->setCurrentIndex(c.motorType ? *c.motorType + 1 : 0);
    phases_->setChecked(c.phases);
    parameters_->setChecked(c.parameters);
    folder_->setText(QString::fromStdString(c.folder));
}

void CommissionWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) return;
    assistant_.shown();
    showChoices();
    refresh();
}

void CommissionWindow::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    if (event->spontaneous()) return;
    // Hidden by the main window (another tool, the controller lost) or closed: the pass stops.
    assistant_.hidden(nowMs());
    runTimerWhileBusy();
    refresh();
}

void CommissionWindow::reject() {
    if (const auto question = assistant_.closeQuestion()) {
        UserInteraction* ui = assistant_.services().ui;
        if (ui && ui->messageBox(*question) != MessageAnswer::Yes) return;
    }
    setEnabled(false);
    QDialog::reject();
}

void CommissionWindow::runTimerWhileBusy() {
    if (assistant_.busy() && !pumpTimer_.isActive()) pumpTimer_.start();
}

void CommissionWindow::pump() {
    if (!assistant_.busy()) {
        pumpTimer_.stop();
        refresh();
        return;
    }
    CommissioningPass* pass = assistant_.pass();
    if (assistant_.acquiring())
        pumpFrames(*assistant_.services().port, *pass, nowMs());
    else
        assistant_.poll(nowMs());
    refresh();
}

void CommissionWindow::refresh() {
    const std::uint64_t generation = assistant_.generation();
    showProgress();
    if (generation == shownGeneration_) return;
    shownGeneration_ = generation;
    const AssistantButtons b = assistant_.buttons();
    next_->setText(QString::fromStdString(b.nextText));
    next_->setEnabled(b.next);
    next_->setVisible(!assistant_.pass() || !assistant_.pass()->finished() || b.next);
    retry_->setEnabled(b.retry);
    retry_->setVisible(b.retry || assistant_.page() == AssistantPage::Phases ||
                       assistant_.page() == AssistantPage::Parameters);
    cancel_->setEnabled(b.cancel);
    openReport_->setEnabled(b.openReport);
    close_->setEnabled(b.close);
    for (QWidget* w :
         std::initializer_list<QWidget*>{motor_, type_, phases_, parameters_, folder_, browse_})
        w->setEnabled(b.choicesEditable);
    hint_->setText(text(assistant_.hint()));
    showSteps();
    showPage();
}

void CommissionWindow::showSteps() {
    const CommissioningPass* pass = assistant_.pass();
    const int current = static_cast<int>(assistant_.page());
    for (int i = 0; i < kAssistantPageCount; ++i) {
        QListWidgetItem* item = steps_->item(i);
        const auto page = static_cast<AssistantPage>(i);
        const StepOutcome o = pass ? pageOutcome(pass->record(), page) : StepOutcome::Pending;
        item->setText(
            QString("%1 %2. %3").arg(outcomeMark(o)).arg(i + 1).arg(assistantPageTitle(page)));
        item->setToolTip(o == StepOutcome::Pending ? QString() : QString(outcomeName(o)));
        const ColorRef c = outcomeColour(o);
        item->setBackground(c == kButtonFace ? QBrush() : QBrush(colourOf(c)));
        QFont f = item->font();
        f.setBold(i == current);
        item->setFont(f);
    }
}

void CommissionWindow::showPage() {
    const AssistantPage page = assistant_.page();
    pages_->setCurrentIndex(static_cast<int>(page));
    title_->setText(
        QString("%1. %2").arg(static_cast<int>(page) + 1).arg(assistantPageTitle(page)));
    const CommissioningPass* pass = assistant_.pass();
    if (!pass) return;
    const PassRecord& r = pass->record();
    switch (page) {
        case AssistantPage::Device:
            break;
        case AssistantPage::Backup:
            backupText_->setPlainText(text(valuesText(r.at(PassStep::Backup))));
            break;
        case AssistantPage::Phases:
            showPhases();
            break;
        case AssistantPage::Parameters:
            showParameters();
            break;
        case AssistantPage::Review:
            changes_->setRowCount(static_cast<int>(r.changes.size()));
            for (int i = 0; i < static_cast<int>(r.changes.size()); ++i) {
                const FieldDifference& d = r.changes[static_cast<std::size_t>(i)];
                const std::string cells[] = {d.record, d.field, d.a, d.b};
                for (int c = 0; c < 4; ++c)
                    changes_->setItem(i, c, new QTableWidgetItem(text(cells[c])));
            }
            break;
        case AssistantPage::Write:
            writeText_->setPlainText(text(valuesText(r.at(PassStep::Write)) + "\n" +
                                          valuesText(r.at(PassStep::Verify))));
            break;
        case AssistantPage::Report: {
            std::string s;
            if (r.complete)
                s = "Commissioned: motor record " + std::to_string(r.motor) +
                    " written and verified.\n\n";
            else if (r.stoppedAt)
                s = std::string("INCOMPLETE: stopped at ") + passStepTitle(*r.stoppedAt) + ": " +
                    r.stopReason + "\n\n";
            for (const StepRecord& step : r.steps)
                s +=
                    std::string(passStepTitle(step.step)) + ": " +
                    (step.outcome == StepOutcome::Pending ? "not run" : outcomeName(step.outcome)) +
                    (step.summary.empty() ? "" : " - " + step.summary) + "\n";
            s += "\nReport: " + assistant_.reportPath() + "\n";
            reportText_->setPlainText(text(s));
            break;
        }
    }
}

void CommissionWindow::showPhases() {
    const DuvodaRezirTool& tool = assistant_.pass()->phaseTool();
    const std::uint64_t g = tool.generation();
    if (g == shownPhases_) return;
    shownPhases_ = g;
    const auto& report = tool.report();
    const auto& recording = tool.recording();
    if (!report || !recording) {
        voltages_->clear();
        sensors_->clear();
        return;
    }
    voltages_->draw(lineVoltagePlot(report->samples));
    if (const auto lower =
            qv::sensorPlot(report->samples, recording->sensorMode, recording->hallsPresent))
        sensors_->draw(*lower);
    else
        sensors_->clear();
    analysis_->setText(text(report->text));
    analysis_->setColours(report->textColour, tool_colour::kText);
    resultList_->clear();
    if (report->verdict) {
        verdict_->setText(QString::fromStdString(*report->verdict));
        verdict_->setColours(report->verdictColour, tool_colour::kText);
        for (const std::string& line : report->list) resultList_->addItem(text(line));
    } else {
        verdict_->setText(QString());
        verdict_->setColours(tool_colour::kIdle, tool_colour::kText);
    }
}

void CommissionWindow::showParameters() {
    const CommissioningPass& pass = *assistant_.pass();
    const bool induction = pass.inductionParameters();
    const std::uint64_t g = induction ? pass.imTool().generation() : pass.pmTool().generation();
    parameterText_->setPlainText(
        text(valuesText(pass.record().at(PassStep::Parameters), /*log=*/false)));
    if (g == shownParameters_) return;
    shownParameters_ = g;
    lower_->setVisible(!induction);
    if (induction) {
        if (const auto& figure = pass.imTool().figure())
            upper_->draw(*figure);
        else
            upper_->clear();
        return;
    }
    if (const auto& report = pass.pmTool().report()) {
        upper_->draw(viPlot(*report));
        lower_->draw(decayPlot(*report));
    } else {
        upper_->clear();
        lower_->clear();
    }
}

void CommissionWindow::showProgress() {
    const CommissioningPass* pass = assistant_.pass();
    if (!pass || !pass->busy()) {
        progress_->setRange(0, 1);
        progress_->setValue(pass && pass->finished() ? 1 : 0);
        return;
    }
    const ConfigProgressState s = pass->transferProgress();
    if (s.visible && s.range > 0) {
        progress_->setRange(0, static_cast<int>(s.range));
        progress_->setValue(static_cast<int>(s.position));
    } else {
        progress_->setRange(0, 0);  // busy, no measure of how far
    }
}

CommissionToolWindow::CommissionToolWindow(CommissionWindow* window)
    : QtToolWindow(window, true), window_(window) {}

bool CommissionToolWindow::acquiring() const {
    return window_ && window_->acquiring();
}

AssistantServices applicationAssistantServices(CQVDrvCtrlsApp& app, UserInteraction& ui) {
    AssistantServices s;
    s.port = &app.port();
    s.ui = &ui;
    s.store = &app.store();
    s.selectedDevice = [&app]() -> std::optional<AssistantDevice> {
        const CQVDrvCtrlsDlg* d = app.dialog();
        if (!d) return std::nullopt;
        const SelectedDevice& device = d->monitor().selected();
        if (!device.selected || device.base < 0) return std::nullopt;
        AssistantDevice a;
        a.target.base = static_cast<std::uint32_t>(device.base);
        a.target.serial = device.serial;
        a.target.bridgeAddress = device.bridgeAddress;
        const auto flags = static_cast<std::uint32_t>(d->monitor().values().errorFlags);
        a.target.configError = (flags & kConfigErrorFlag) != 0;
        a.type = static_cast<std::uint16_t>(device.type);
        return a;
    };
    s.startWorkerTask = [&app](std::function<void()> task) {
        CQVDrvCtrlsDlg* d = app.dialog();
        return d && d->startWorkerTask(std::move(task));
    };
    s.fitRunner = [] { return std::make_unique<ThreadFitRunner>(); };
    // As every transfer of the program: the chunks also reach the main window.
    s.portProgressHook = [&app](std::uint16_t bytes) {
        if (MainWindowPoster* poster = app.mainWindow()) poster->postCanTransfer(bytes);
    };
    s.localTime = [] {
        const std::time_t t = std::time(nullptr);
        std::tm local{};
        localtime_r(&t, &local);
        return local;
    };
    s.openReport = [](const std::string& path) {
        return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
    };
    return s;
}

void installCommissioningAssistant(QtWindowFactory& factory, CQVDrvCtrlsApp& app,
                                   UserInteraction& ui) {
    const AssistantServices services = applicationAssistantServices(app, ui);
    factory.setToolCreator(Tool::Commissioning, [services](QWidget* owner) {
        return std::make_unique<CommissionToolWindow>(new CommissionWindow(services, owner));
    });
}

}  // namespace qv::ui
