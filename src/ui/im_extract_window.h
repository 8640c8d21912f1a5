#pragma once
// CImExtract ("Induction Motor Extraction"): identifies an induction motor's equivalent circuit
// at standstill from a frequency sweep or a step response. The chart shows the measured current
// against the fitted one, the log the samples and the parameters, the status field what the
// extraction is doing. The fit runs on a worker thread while the window keeps its controls
// disabled; a usable result goes into the motor record the user picks and is uploaded.
#include <memory>
#include <string>

#include "tools/im_extraction.h"
#include "ui/tool_window_base.h"

class QPlainTextEdit;

namespace qv::ui {

class CColourStatic;
class CPlot;

class CImExtract : public CommissioningWindow {
    Q_OBJECT

  public:
    // `runner` runs the fits; without one, a worker thread of the window's own.
    CImExtract(ToolWindowServices services, QWidget* parent,
               std::unique_ptr<ImFitRunner> runner = {});

    ImExtractionTool& imTool() const { return *im_; }
    CPlot* plot() const { return plot_; }
    // The text log (control 1184) and the status field (control 1187).
    QPlainTextEdit* log() const { return log_; }
    CColourStatic* status() const { return status_; }

  protected:
    void showResult() override;
    bool hasAcquisition() const override;
    std::optional<std::string> acquisitionCsv() const override;
    std::string dataFileStem() const override { return "ImExtraction"; }
    void showEvent(QShowEvent* event) override;

  private:
    void showStatus();
    void onSaveData();

    ImExtractionTool* im_ = nullptr;
    CPlot* plot_ = nullptr;
    QPlainTextEdit* log_ = nullptr;
    CColourStatic* status_ = nullptr;
    // Where the last "Save Data..." wrote; the next one starts there.
    std::string saveDirectory_;
};

}  // namespace qv::ui
