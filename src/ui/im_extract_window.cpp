#include "ui/im_extract_window.h"

#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QVBoxLayout>
#include <filesystem>

#include "ui/colour_static.h"
#include "ui/plot_widget.h"

namespace qv::ui {

namespace {

constexpr int kSideWidth = 300;

}  // namespace

CImExtract::CImExtract(ToolWindowServices services, QWidget* parent,
                       std::unique_ptr<ImFitRunner> runner)
    : CommissioningWindow(Tool::ImExtraction, std::move(services), parent) {
    if (!runner) runner = std::make_unique<ThreadFitRunner>();
    auto tool = std::make_unique<ImExtractionTool>(toolContext(), std::move(runner));
    im_ = tool.get();
    setTool(std::move(tool));

    auto* grid = new QGridLayout(this);
    grid->addWidget(toolPlotGroup(tr("Measured and fitted stator current"), 1197, plot_, this), 0,
                    0);

    auto* side = new QVBoxLayout;
    status_ = new CColourStatic(this);
    status_->setObjectName("id1187");
    status_->setAlignment(Qt::AlignCenter);
    status_->setFixedSize(kSideWidth, 28);
    QFont bold = status_->font();
    bold.setBold(true);
    status_->setFont(bold);
    log_ = new QPlainTextEdit(this);
    log_->setObjectName("id1184");
    log_->setReadOnly(true);
    log_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    log_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    log_->setFixedWidth(kSideWidth);
    side->addWidget(status_);
    side->addWidget(log_, 1);
    grid->addLayout(side, 0, 1);

    QWidget* buttons = buildButtons(tr("Extract"));
    grid->addWidget(buttons, 1, 0, 1, 2);
    acquireButton()->setObjectName("id1183");
    closeButton()->setText(tr("Cancel"));
    closeButton()->setToolTip(tr("Close the window; an extraction under way is given up"));
    // The status field says what the extraction does; the row's own note would repeat it.
    if (auto* note = findChild<QLabel*>("idAcquisitionStatus")) note->hide();
    if (auto* row = qobject_cast<QBoxLayout*>(buttons->layout())) row->insertStretch(2, 1);
    // "Save Data..." writes the samples in the file the command-line fit reads.
    saveButton()->disconnect(this);
    saveButton()->setToolTip(tr("Save the samples of the last acquisition for a later fit"));
    connect(saveButton(), &QPushButton::clicked, this, [this] { onSaveData(); });

    grid->setSizeConstraint(QLayout::SetFixedSize);
    setTabOrder(acquireButton(), saveButton());
    setTabOrder(saveButton(), closeButton());
    setTabOrder(closeButton(), log_);
    showStatus();
}

bool CImExtract::hasAcquisition() const {
    return im_->canSaveData();
}

std::optional<std::string> CImExtract::acquisitionCsv() const {
    return im_->sampleFileText();
}

void CImExtract::showEvent(QShowEvent* event) {
    CommissioningWindow::showEvent(event);
    // Being shown sets the status back to "Idle" without anything new to show.
    showStatus();
}

void CImExtract::showStatus() {
    const ToolStatus& s = im_->status();
    status_->setText(QString::fromStdString(s.text));
    status_->setColours(s.background, s.textColour);
}

void CImExtract::showResult() {
    showStatus();
    // The log and the chart change together, with each complete acquisition; one that failed
    // leaves those of the last on screen.
    const QString log = toolText(im_->logText());
    if (log == log_->toPlainText()) return;
    log_->setPlainText(log);
    // The sweep's parameters follow its samples: show them.
    const auto& e = im_->extraction();
    if (e && e->fitted && e->recording.mode == im_mode::kSweep) {
        log_->moveCursor(QTextCursor::End);
        log_->ensureCursorVisible();
    }
    if (const auto& figure = im_->figure())
        plot_->draw(*figure);
    else
        plot_->clear();
}

void CImExtract::onSaveData() {
    if (im_->busy()) return;
    if (const auto written = im_->saveData(saveDirectory_))
        saveDirectory_ = std::filesystem::path(*written).parent_path().string();
}

}  // namespace qv::ui
