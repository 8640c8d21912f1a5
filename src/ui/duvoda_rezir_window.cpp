#include "ui/duvoda_rezir_window.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "tools/acquisition_csv.h"
#include "tools/tool_plots.h"
#include "ui/colour_static.h"
#include "ui/plot_widget.h"

namespace qv::ui {

namespace {

constexpr int kSideWidth = 280;

}  // namespace

CDuvodaRezir::CDuvodaRezir(ToolWindowServices services, QWidget* parent)
    : CommissioningWindow(Tool::DuvodaRezir, std::move(services), parent) {
    auto tool = std::make_unique<DuvodaRezirTool>(toolContext());
    phase_ = tool.get();
    setTool(std::move(tool));

    auto* grid = new QGridLayout(this);
    grid->addWidget(toolPlotGroup(tr("Line to line voltages acquired by the controller"), 1172,
                                  voltages_, this),
                    0, 0);
    grid->addWidget(toolPlotGroup(tr("Hall inputs to the controller"), 1173, sensors_, this), 1, 0);

    auto* side = new QVBoxLayout;
    text_ = new CColourStatic(this);
    text_->setObjectName("id1129");
    text_->setWordWrap(true);
    text_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    text_->setFixedSize(kSideWidth, 150);
    verdict_ = new CColourStatic(this);
    verdict_->setObjectName("id1130");
    verdict_->setAlignment(Qt::AlignCenter);
    verdict_->setFixedSize(kSideWidth, 32);
    QFont big = verdict_->font();
    big.setBold(true);
    big.setPointSize(big.pointSize() + 2);
    verdict_->setFont(big);
    list_ = new QListWidget(this);
    list_->setObjectName("id1171");
    QFont courier(QStringLiteral("Courier New"));
    courier.setStyleHint(QFont::Monospace);
    courier.setPointSize(8);
    list_->setFont(courier);
    list_->setFixedWidth(kSideWidth);
    list_->setSelectionMode(QAbstractItemView::NoSelection);
    side->addWidget(text_);
    side->addWidget(verdict_);
    side->addWidget(list_, 1);
    grid->addLayout(side, 0, 1, 2, 1);
    grid->addWidget(buildButtons(tr("Phase Acquire")), 2, 0, 1, 2);
    grid->setSizeConstraint(QLayout::SetFixedSize);
    setTabOrder(acquireButton(), saveButton());
    setTabOrder(saveButton(), closeButton());
    setTabOrder(closeButton(), list_);
}

bool CDuvodaRezir::hasAcquisition() const {
    return phase_->recording().has_value();
}

std::optional<std::string> CDuvodaRezir::acquisitionCsv() const {
    if (!phase_->recording()) return std::nullopt;
    return formatPhaseCsv(*phase_->recording());
}

void CDuvodaRezir::showResult() {
    const auto& report = phase_->report();
    const auto& recording = phase_->recording();
    if (!report || !recording) return;
    voltages_->draw(lineVoltagePlot(report->samples));
    if (const auto lower =
            qv::sensorPlot(report->samples, recording->sensorMode, recording->hallsPresent))
        sensors_->draw(*lower);
    else
        sensors_->clear();  // no sensor to show: not the traces of an earlier motor
    text_->setText(toolText(report->text));
    text_->setColours(report->textColour, tool_colour::kText);
    list_->clear();
    if (report->verdict) {
        verdict_->setText(QString::fromStdString(*report->verdict));
        verdict_->setColours(report->verdictColour, tool_colour::kText);
        for (const std::string& line : report->list) list_->addItem(toolText(line));
    } else {
        // The voltages could not be analysed: an earlier verdict and list do not belong to
        // the traces now shown.
        verdict_->setText(QString());
        verdict_->setColours(tool_colour::kIdle, tool_colour::kText);
    }
}

}  // namespace qv::ui
