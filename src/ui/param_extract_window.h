#pragma once
// CParamExtract ("Parameter Extraction"): measures a permanent-magnet motor's phase resistance
// and inductance. The left chart shows the DC V-I points with the fitted line, the right one the
// current decay with the fitted exponential; the results are shown beside them and, when usable,
// go into the motor record the user picks and are uploaded.
#include "tools/commissioning_tool.h"
#include "ui/tool_window_base.h"

class QPlainTextEdit;

namespace qv::ui {

class CColourStatic;
class CPlot;

class CParamExtract : public CommissioningWindow {
    Q_OBJECT

  public:
    CParamExtract(ToolWindowServices services, QWidget* parent);

    PmExtractionTool& pmTool() const { return *pm_; }
    CPlot* viPlot() const { return vi_; }
    CPlot* decayPlot() const { return decay_; }
    CColourStatic* resistance() const { return resistance_; }
    CColourStatic* inductance() const { return inductance_; }
    // The text log (control 1118, hidden as the window is built).
    QPlainTextEdit* log() const { return log_; }

  protected:
    void showResult() override;
    bool hasAcquisition() const override;
    std::optional<std::string> acquisitionCsv() const override;
    std::string dataFileStem() const override { return "PmExtraction"; }

  private:
    PmExtractionTool* pm_ = nullptr;
    CPlot* vi_ = nullptr;
    CPlot* decay_ = nullptr;
    CColourStatic* resistance_ = nullptr;
    CColourStatic* inductance_ = nullptr;
    QPlainTextEdit* log_ = nullptr;
};

}  // namespace qv::ui
