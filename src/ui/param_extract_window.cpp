#include "ui/param_extract_window.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>

#include "tools/acquisition_csv.h"
#include "tools/tool_plots.h"
#include "ui/colour_static.h"
#include "ui/plot_widget.h"

namespace qv::ui {

namespace {

CColourStatic* resultCell(int id, const char* initial, QWidget* parent) {
    auto* cell = new CColourStatic(parent);
    cell->setObjectName(QString("id%1").arg(id));
    cell->setText(QString::fromLatin1(initial));
    cell->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    cell->setFixedSize(110, 24);
    return cell;
}

}  // namespace

CParamExtract::CParamExtract(ToolWindowServices services, QWidget* parent)
    : CommissioningWindow(Tool::PmExtraction, std::move(services), parent) {
    auto tool = std::make_unique<PmExtractionTool>(toolContext());
    pm_ = tool.get();
    setTool(std::move(tool));

    auto* grid = new QGridLayout(this);
    grid->addWidget(toolPlotGroup(tr("DC V-I curve to find phase resistance"), 1174, vi_, this), 0,
                    0);
    grid->addWidget(toolPlotGroup(tr("Decay of motor current through resistance and inductance"),
                                  1175, decay_, this),
                    1, 0);

    auto* impedance = new QGroupBox(tr("Phase to Neutral Impedance"), this);
    auto* cells = new QGridLayout(impedance);
    resistance_ = resultCell(1164, "0.0mR", impedance);
    inductance_ = resultCell(1165, "0.0uH", impedance);
    cells->addWidget(new QLabel(tr("Resistance"), impedance), 0, 0);
    cells->addWidget(resistance_, 0, 1);
    cells->addWidget(new QLabel(tr("Inductance"), impedance), 1, 0);
    cells->addWidget(inductance_, 1, 1);
    auto* side = new QVBoxLayout;
    side->addWidget(impedance);
    side->addStretch(1);
    grid->addLayout(side, 0, 1, 2, 1);

    log_ = new QPlainTextEdit(this);
    log_->setObjectName("id1118");
    log_->setReadOnly(true);
    log_->hide();
    grid->addWidget(buildButtons(tr("Extract Params")), 2, 0, 1, 2);
    grid->setSizeConstraint(QLayout::SetFixedSize);
    setTabOrder(acquireButton(), saveButton());
    setTabOrder(saveButton(), closeButton());
}

bool CParamExtract::hasAcquisition() const {
    return pm_->recording().has_value();
}

std::optional<std::string> CParamExtract::acquisitionCsv() const {
    if (!pm_->recording()) return std::nullopt;
    return formatPmCsv(*pm_->recording());
}

void CParamExtract::showResult() {
    const auto& report = pm_->report();
    if (!report) return;
    vi_->draw(qv::viPlot(*report));
    decay_->draw(qv::decayPlot(*report));
    // A fit without a usable result is shown on red (and never written).
    const bool resistanceUsable = std::isfinite(report->resistance) && report->resistance > 0;
    resistance_->setText(toolText(report->resistanceText));
    resistance_->setColours(resistanceUsable ? kButtonFace : tool_colour::kFailure,
                            tool_colour::kText);
    inductance_->setText(toolText(report->inductanceText));
    inductance_->setColours(report->usable ? kButtonFace : tool_colour::kFailure,
                            tool_colour::kText);
    log_->setPlainText(toolText(report->log));
}

}  // namespace qv::ui
