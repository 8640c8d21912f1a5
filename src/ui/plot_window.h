#pragma once
// Plot Telemetry: a strip chart of the values the telemetry panel shows, drawn from the
// monitor's recording (QCustomPlot). The chosen values and their axes live in a PlotSelection;
// the chart takes only the samples that arrived since, once per tick, and is drawn half a tick
// later on a timer of its own: the drawing and the tick's work (the panels and the trace painted
// after it) reach the event loop in separate pieces.
//
// Mouse: drag pans, the wheel zooms (over an axis: that axis only), the cursor line follows
// the mouse and reads every value at its time. Keys on the chart: + and - zoom the time axis,
// Left and Right pan it, Up and Down pan the y axes, Page Up and Page Down zoom them, Space
// pauses and resumes, Home goes back to the live tail with autoscaled axes; Escape closes.
// Panning or zooming pauses the strip chart; the recording goes on.
#include <QTimer>
#include <QWidget>
#include <functional>
#include <map>
#include <vector>

#include "monitor/plot_selection.h"

class QCustomPlot;
class QCPGraph;
class QCPItemStraightLine;
class QCPItemText;
class QComboBox;
class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace qv {
class Monitor;
class UserInteraction;
}  // namespace qv

namespace qv::ui {

inline constexpr const char* kPlotWindowCaption = "Plot Telemetry";

class PlotWindow : public QWidget {
    Q_OBJECT

  public:
    PlotWindow(Monitor& monitor, UserInteraction& ui, QWidget* parent = nullptr);
    ~PlotWindow() override;

    // Once per tick while shown.
    void onTick();

    // Chooses a value (as ticking its box does).
    void choose(int cell, bool chosen);
    void setSpanSeconds(int seconds);
    void setPaused(bool paused);
    bool paused() const { return paused_; }
    const PlotSelection& selection() const { return selection_; }
    QCustomPlot* chart() const { return plot_; }
    // The CSV and PNG exports without their dialogs.
    bool exportCsvTo(const std::string& path);
    bool exportPngTo(const std::string& path);

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    struct Shown {
        QCPGraph* graph = nullptr;
        std::uint64_t copied = 0;  // samples of the series copied into the graph
        std::string unit;
    };
    void buildSeriesList();
    void refreshSeriesList();
    void rebuildGraphs();
    void copySamples(int cell, Shown& shown);
    void followTail();
    void autoscale();
    void updateAxisTitles();
    void updateCursor(double time);
    void userNavigated();
    void zoomTime(double factor);
    void panTime(double fraction);
    void exportCsv();
    void exportPng();
    void exportAs(const char* filter, const char* dotExtension,
                  const std::function<bool(const std::string&)>& write);
    std::string caption(int cell) const;
    std::string unit(int cell) const;

    Monitor& monitor_;
    UserInteraction& ui_;
    PlotSelection selection_;
    std::map<int, Shown> shown_;
    std::map<int, QTreeWidgetItem*> items_;
    QTreeWidget* list_ = nullptr;
    QCustomPlot* plot_ = nullptr;
    QComboBox* span_ = nullptr;
    QPushButton* pause_ = nullptr;
    QLabel* status_ = nullptr;
    QCPItemStraightLine* cursorLine_ = nullptr;
    QCPItemText* cursorText_ = nullptr;
    QTimer replotTimer_;
    double spanSeconds_ = kDefaultPlotSpanSeconds;
    double cursorTime_ = -1;
    bool paused_ = false;
    bool autoY_ = true;
    bool fillingList_ = false;
    std::uint64_t drawnRevision_ = ~std::uint64_t{0};
    std::int64_t drawnOrigin_ = 0;
};

}  // namespace qv::ui
