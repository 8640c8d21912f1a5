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

constexpr QSize kPlotSize(600, 280);

QGroupBox* plotGroup(const QString& title, CPlot*& plot, int id, QWidget* parent) {
    auto* group = new QGroupBox(title, parent);
    auto* layout = new QVBoxLayout(group);
    plot = new CPlot(group);
    plot->setObjectName(QString("id%1").arg(id));
    plot->setFixedSize(kPlotSize);
    layout->addWidget(plot);
    return group;
}

CColourStatic* resultCell(int id, const char* initial, QWidget* parent) {
    auto* cell = new CColourStatic(parent);
    cell->setObjectName(QString("id%1").arg(id));
    cell->setText(QString::fromLatin1(initial));
    cell->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    cell->setFixedSize(110, 24);
    return cell;
}

QString fromUtf8(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

}  // namespace

CParamExtract::CParamExtract(ToolWindowServices services, QWidget* parent)
    : CommissioningWindow(Tool::PmExtraction, std::move(services), parent) {
    auto tool = std::make_unique<PmExtractionTool>(toolContext());
    pm_ = tool.get();
    setTool(std::move(tool));

    auto* grid = new QGridLayout(this);
    grid->addWidget(plotGroup(tr("DC V-I curve to find phase resistance"), vi_, 1174, this), 0, 0);
    grid->addWidget(plotGroup(tr("Decay of motor current through resistance and inductance"),
                              decay_, 1175, this),
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
    resistance_->setText(fromUtf8(report->resistanceText));
    resistance_->setColours(resistanceUsable ? kButtonFace : tool_colour::kFailure,
                            tool_colour::kText);
    inductance_->setText(fromUtf8(report->inductanceText));
    inductance_->setColours(report->usable ? kButtonFace : tool_colour::kFailure,
                            tool_colour::kText);
    log_->setPlainText(fromUtf8(report->log).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
}

}  // namespace qv::ui
