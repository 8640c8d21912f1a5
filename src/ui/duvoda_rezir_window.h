#pragma once
// CDuvodaRezir ("DuvodaRezir"): finds how a motor's phases and position sensors are wired. The
// upper chart shows the three line-to-line voltages, the lower one the halls and the position
// sensor; beside them the analysis text, the verdict and the result list. A successful result
// goes into the motor record the user picks and is uploaded.
#include "tools/commissioning_tool.h"
#include "ui/tool_window_base.h"

class QListWidget;

namespace qv::ui {

class CColourStatic;
class CPlot;

class CDuvodaRezir : public CommissioningWindow {
    Q_OBJECT

  public:
    CDuvodaRezir(ToolWindowServices services, QWidget* parent);

    DuvodaRezirTool& phaseTool() const { return *phase_; }
    CPlot* voltagePlot() const { return voltages_; }
    CPlot* sensorPlot() const { return sensors_; }
    CColourStatic* analysisText() const { return text_; }
    CColourStatic* verdict() const { return verdict_; }
    QListWidget* resultList() const { return list_; }

  protected:
    void showResult() override;
    bool hasAcquisition() const override;
    std::optional<std::string> acquisitionCsv() const override;
    std::string dataFileStem() const override { return "DuvodaRezir"; }

  private:
    DuvodaRezirTool* phase_ = nullptr;
    CPlot* voltages_ = nullptr;
    CPlot* sensors_ = nullptr;
    CColourStatic* text_ = nullptr;
    CColourStatic* verdict_ = nullptr;
    QListWidget* list_ = nullptr;
};

}  // namespace qv::ui
