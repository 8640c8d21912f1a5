#include "ui/plot_window.h"

#include <qcustomplot.h>
#include <QCloseEvent>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <ctime>

#include "common/user_interaction.h"
#include "config/safe_write.h"
#include "monitor/monitor.h"
#include "monitor/number_text.h"
#include "monitor/telemetry_readings.h"
#include "monitor/telemetry_recorder.h"

namespace qv::ui {

namespace {

// After the tick that brought new samples the chart is drawn this much later, halfway to the
// next tick of the main window (every 200 ms).
constexpr int kReplotDelayMs = 100;

constexpr const char* kCsvFilter = "CSV files (*.csv)|*.csv|All Files (*.*)|*.*||";
constexpr const char* kPngFilter = "PNG images (*.png)|*.png|All Files (*.*)|*.*||";

// Distinct on white and for the usual colour blindnesses first.
const QColor kColours[] = {QColor(0, 114, 178),   QColor(213, 94, 0),  QColor(0, 158, 115),
                           QColor(204, 121, 167), QColor(230, 159, 0), QColor(86, 180, 233),
                           QColor(0, 0, 0),       QColor(150, 150, 0), QColor(120, 60, 160),
                           QColor(170, 40, 40)};

std::tm localNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

}  // namespace

PlotWindow::PlotWindow(Monitor& monitor, UserInteraction& ui, QWidget* parent)
    : QWidget(parent, Qt::Window), monitor_(monitor), ui_(ui) {
    setObjectName("PlotDlg");
    setWindowTitle(kPlotWindowCaption);
    setMinimumSize(640, 400);
    resize(980, 560);

    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel("Span:"));
    span_ = new QComboBox;
    span_->setObjectName("plotSpan");
    for (const int s : kPlotSpansSeconds)
        span_->addItem(s < 60 ? QString("%1 s").arg(s) : QString("%1 min").arg(s / 60), s);
    span_->setCurrentIndex(span_->findData(kDefaultPlotSpanSeconds));
    connect(span_, &QComboBox::activated, this,
            [this](int index) { setSpanSeconds(span_->itemData(index).toInt()); });
    top->addWidget(span_);
    pause_ = new QPushButton("&Pause");
    pause_->setObjectName("plotPause");
    connect(pause_, &QPushButton::clicked, this, [this] { setPaused(!paused_); });
    top->addWidget(pause_);
    auto* scale = new QPushButton("&Autoscale");
    scale->setObjectName("plotAutoscale");
    connect(scale, &QPushButton::clicked, this, [this] {
        autoY_ = true;
        autoscale();
        plot_->replot();
    });
    top->addWidget(scale);
    top->addStretch(1);
    auto* csv = new QPushButton("Export &CSV...");
    csv->setObjectName("plotExportCsv");
    connect(csv, &QPushButton::clicked, this, &PlotWindow::exportCsv);
    top->addWidget(csv);
    auto* png = new QPushButton("Export P&NG...");
    png->setObjectName("plotExportPng");
    connect(png, &QPushButton::clicked, this, &PlotWindow::exportPng);
    top->addWidget(png);
    auto* close = new QPushButton("Close");
    close->setObjectName("plotClose");
    connect(close, &QPushButton::clicked, this, &QWidget::hide);
    top->addWidget(close);

    list_ = new QTreeWidget;
    list_->setObjectName("plotSeries");
    list_->setColumnCount(2);
    list_->setHeaderLabels({"Value", "Axis"});
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->header()->setStretchLastSection(false);
    list_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    list_->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    list_->installEventFilter(this);
    buildSeriesList();

    plot_ = new QCustomPlot;
    plot_->setObjectName("plotChart");
    plot_->setFocusPolicy(Qt::StrongFocus);
    plot_->installEventFilter(this);
    plot_->setMinimumSize(360, 240);
    plot_->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    plot_->setNoAntialiasingOnDrag(true);
    // One polyline per graph instead of a line per pair of points: the replot on every tick
    // costs a fraction.
    plot_->setPlottingHint(QCP::phFastPolylines, true);
    // A replot draws into the chart's buffer; the widget shows it when its window is painted
    // next (not at once, inside the replot). One buffer for all layers: every replot clears
    // and every paint blends each buffer in full.
    plot_->setPlottingHint(QCP::phImmediateRefresh, false);
    plot_->layer("overlay")->setMode(QCPLayer::lmLogical);
    plot_->xAxis->setLabel("Time (s)");
    plot_->yAxis2->setVisible(true);
    plot_->axisRect()->setRangeDragAxes({plot_->xAxis}, {plot_->yAxis, plot_->yAxis2});
    plot_->axisRect()->setRangeZoomAxes({plot_->xAxis}, {plot_->yAxis, plot_->yAxis2});
    plot_->axisRect()->setRangeZoom(Qt::Horizontal);
    // The legend below the chart, never over the data, in as many columns as fit.
    plot_->legend->setVisible(true);
    plot_->axisRect()->insetLayout()->take(plot_->legend);
    plot_->plotLayout()->addElement(1, 0, plot_->legend);
    plot_->plotLayout()->setRowStretchFactor(1, 0.001);
    plot_->legend->setFillOrder(QCPLegend::foColumnsFirst);
    plot_->legend->setWrap(3);
    plot_->legend->setBorderPen(Qt::NoPen);
    plot_->xAxis->setRange(0, spanSeconds_);
    cursorLine_ = new QCPItemStraightLine(plot_);
    cursorLine_->setPen(QPen(QColor(90, 90, 90), 1, Qt::DashLine));
    cursorLine_->setVisible(false);
    cursorText_ = new QCPItemText(plot_);
    cursorText_->position->setType(QCPItemPosition::ptAxisRectRatio);
    cursorText_->position->setCoords(0.99, 0.02);
    cursorText_->setPositionAlignment(Qt::AlignRight | Qt::AlignTop);
    cursorText_->setTextAlignment(Qt::AlignLeft);
    cursorText_->setBrush(QBrush(QColor(255, 255, 230, 235)));
    cursorText_->setPen(QPen(QColor(150, 150, 150)));
    cursorText_->setPadding(QMargins(5, 3, 5, 3));
    cursorText_->setVisible(false);
    replotTimer_.setSingleShot(true);
    replotTimer_.setInterval(kReplotDelayMs);
    connect(&replotTimer_, &QTimer::timeout, plot_, [this] { plot_->replot(); });
    connect(plot_, &QCustomPlot::mouseMove, this, [this](QMouseEvent* e) {
        if (e->buttons() != Qt::NoButton) userNavigated();
        updateCursor(plot_->xAxis->pixelToCoord(e->position().x()));
        plot_->replot(QCustomPlot::rpQueuedReplot);
    });
    connect(plot_, &QCustomPlot::mouseWheel, this, [this](QWheelEvent* e) {
        // Ctrl: the y axes; else the time axis.
        plot_->axisRect()->setRangeZoom((e->modifiers() & Qt::ControlModifier) ? Qt::Vertical
                                                                               : Qt::Horizontal);
        userNavigated();
    });

    auto* splitter = new QSplitter;
    splitter->addWidget(list_);
    splitter->addWidget(plot_);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({260, 720});
    status_ = new QLabel;
    status_->setObjectName("plotStatus");
    // Its text changes every tick: it must not lay the window out again each time.
    status_->setTextFormat(Qt::PlainText);
    status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(splitter, 1);
    layout->addWidget(status_);
    setTabOrder(plot_, list_);
    plot_->setFocus();
}

PlotWindow::~PlotWindow() = default;

std::string PlotWindow::caption(int cell) const {
    return readingCaption(cell, monitor_.panel(), monitor_.selected().type,
                          monitor_.values().activeMotor);
}

std::string PlotWindow::unit(int cell) const {
    return readingUnit(cell, monitor_.selected().type, monitor_.values().activeMotor);
}

void PlotWindow::buildSeriesList() {
    fillingList_ = true;
    for (const int cell : readingCells()) {
        auto* item = new QTreeWidgetItem(list_);
        item->setData(0, Qt::UserRole, cell);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(0, Qt::Unchecked);
        item->setToolTip(1, "Click, or press L or R, to move the value to the left or right axis");
        items_[cell] = item;
    }
    connect(list_, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
        if (fillingList_ || column != 0) return;
        choose(item->data(0, Qt::UserRole).toInt(), item->checkState(0) == Qt::Checked);
    });
    connect(list_, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item, int column) {
        const int cell = item->data(0, Qt::UserRole).toInt();
        if (column != 1 || !selection_.contains(cell)) return;
        for (const PlottedSeries& s : selection_.series())
            if (s.cell == cell)
                selection_.setAxis(cell,
                                   s.axis == PlotAxis::Left ? PlotAxis::Right : PlotAxis::Left);
        rebuildGraphs();
    });
    fillingList_ = false;
    refreshSeriesList();
}

void PlotWindow::refreshSeriesList() {
    fillingList_ = true;
    for (const auto& [cell, item] : items_) {
        std::string text = caption(cell);
        const std::string u = unit(cell);
        if (!u.empty()) text += " (" + u + ")";
        const QString label = QString::fromStdString(text);
        if (item->text(0) != label) item->setText(0, label);
        QString axis;
        for (const PlottedSeries& s : selection_.series())
            if (s.cell == cell) axis = s.axis == PlotAxis::Left ? "left" : "right";
        if (item->text(1) != axis) item->setText(1, axis);
        const Qt::CheckState state = selection_.contains(cell) ? Qt::Checked : Qt::Unchecked;
        if (item->checkState(0) != state) item->setCheckState(0, state);
    }
    fillingList_ = false;
}

void PlotWindow::choose(int cell, bool chosen) {
    if (chosen == selection_.contains(cell)) return;
    if (chosen)
        selection_.add(cell, unit(cell));
    else
        selection_.remove(cell);
    rebuildGraphs();
}

void PlotWindow::rebuildGraphs() {
    for (auto& [cell, shown] : shown_) plot_->removeGraph(shown.graph);
    shown_.clear();
    std::size_t colour = 0;
    for (const PlottedSeries& s : selection_.series()) {
        QCPAxis* axis = s.axis == PlotAxis::Left ? plot_->yAxis : plot_->yAxis2;
        Shown shown;
        shown.graph = plot_->addGraph(plot_->xAxis, axis);
        std::string name = caption(s.cell);
        if (!s.unit.empty()) name += " (" + s.unit + ")";
        shown.graph->setName(QString::fromStdString(name));
        shown.graph->setPen(QPen(kColours[colour++ % std::size(kColours)], 1.6));
        shown.graph->setLineStyle(QCPGraph::lsLine);
        copySamples(s.cell, shown);
        shown_[s.cell] = shown;
    }
    refreshSeriesList();
    updateAxisTitles();
    if (!paused_) followTail();
    if (autoY_) autoscale();
    if (cursorTime_ >= 0) updateCursor(cursorTime_);
    plot_->replot();
}

void PlotWindow::copySamples(int cell, Shown& shown) {
    const RecordedSeries* series = monitor_.recorder().find(cell);
    if (!series) return;
    const SampleRing& ring = series->samples;
    std::uint64_t fresh = series->total - shown.copied;
    if (series->unit != shown.unit || series->total < shown.copied || fresh > ring.size()) {
        shown.graph->data()->clear();
        shown.unit = series->unit;
        fresh = ring.size();
    }
    if (fresh > 0) {
        QVector<QCPGraphData> points;
        points.reserve(static_cast<qsizetype>(fresh));
        for (std::size_t i = ring.size() - fresh; i < ring.size(); ++i)
            points.append(QCPGraphData(ring.time(i), ring.value(i)));
        shown.graph->data()->add(points, true);
    }
    shown.copied = series->total;
    // What the ring let go leaves the chart too, so the chart holds no more than the recording.
    if (ring.size() > 0) shown.graph->data()->removeBefore(ring.time(0));
}

void PlotWindow::followTail() {
    const double latest = monitor_.recorder().latest();
    const double upper = std::max(latest, spanSeconds_);
    plot_->xAxis->setRange(upper - spanSeconds_, upper);
}

void PlotWindow::autoscale() {
    for (QCPAxis* axis : {plot_->yAxis, plot_->yAxis2}) {
        bool first = true;
        for (auto& [cell, shown] : shown_) {
            if (shown.graph->valueAxis() != axis || shown.graph->data()->isEmpty()) continue;
            shown.graph->rescaleValueAxis(!first, true);
            first = false;
        }
        if (first) continue;
        QCPRange r = axis->range();
        const double margin =
            r.size() > 0 ? r.size() * 0.06 : std::max(1.0, std::abs(r.lower) * 0.05);
        axis->setRange(r.lower - margin, r.upper + margin);
    }
}

void PlotWindow::updateAxisTitles() {
    const std::string left = selection_.axisUnits(PlotAxis::Left);
    const std::string right = selection_.axisUnits(PlotAxis::Right);
    plot_->yAxis->setLabel(QString::fromStdString(left));
    plot_->yAxis2->setLabel(QString::fromStdString(right));
    plot_->yAxis2->setTickLabels(!right.empty());
}

void PlotWindow::updateCursor(double time) {
    cursorTime_ = time;
    const bool inside = time >= plot_->xAxis->range().lower && time <= plot_->xAxis->range().upper;
    cursorLine_->setVisible(inside);
    cursorText_->setVisible(inside && !shown_.empty());
    if (!inside) return;
    cursorLine_->point1->setCoords(time, 0);
    cursorLine_->point2->setCoords(time, 1);
    std::string text = "t = ";
    appendFixed(text, time, 3);
    text += " s";
    for (const PlottedSeries& s : selection_.series()) {
        text += '\n';
        text += caption(s.cell);
        text += ": ";
        const RecordedSeries* series = monitor_.recorder().find(s.cell);
        const SampleRing* ring = series ? &series->samples : nullptr;
        const std::size_t after =
            ring ? ring->lowerBound(std::nextafter(time, HUGE_VAL)) : std::size_t{0};
        if (after == 0) {
            text += "-";
            continue;
        }
        const int decimals =
            readingDecimals(s.cell, monitor_.selected().type, monitor_.values().activeMotor);
        appendFixed(text, ring->value(after - 1), decimals);
        if (!s.unit.empty()) text += " " + s.unit;
    }
    cursorText_->setText(QString::fromStdString(text));
}

void PlotWindow::onTick() {
    const TelemetryRecorder& recorder = monitor_.recorder();
    refreshSeriesList();
    const bool restarted = recorder.originNs() != drawnOrigin_;
    if (recorder.revision() == drawnRevision_ && !restarted) return;
    drawnRevision_ = recorder.revision();
    drawnOrigin_ = recorder.originNs();
    if (restarted) {
        for (auto& [cell, shown] : shown_) {
            shown.graph->data()->clear();
            shown.copied = 0;
            shown.unit.clear();
        }
    }
    for (auto& [cell, shown] : shown_) copySamples(cell, shown);
    if (!paused_) followTail();
    if (autoY_ && !paused_) autoscale();
    if (cursorTime_ >= 0) updateCursor(cursorTime_);
    QString status = paused_ ? "Paused; recording goes on. " : "";
    status += QString("Recording: %1 s, %2 MiB of at most %3 MiB")
                  .arg(recorder.latest(), 0, 'f', 1)
                  .arg(static_cast<double>(recorder.bytes()) / (1 << 20), 0, 'f', 1)
                  .arg(static_cast<double>(readingCells().size() *
                                           TelemetryRecorder::kSamplesPerSeries * 12) /
                           (1 << 20),
                       0, 'f', 0);
    if (status_->text() != status) status_->setText(status);
    if (!replotTimer_.isActive()) replotTimer_.start();
}

void PlotWindow::setSpanSeconds(int seconds) {
    spanSeconds_ = seconds;
    const int index = span_->findData(seconds);
    if (index >= 0 && span_->currentIndex() != index) span_->setCurrentIndex(index);
    if (paused_) {
        const double upper = plot_->xAxis->range().upper;
        plot_->xAxis->setRange(upper - spanSeconds_, upper);
    } else {
        followTail();
    }
    if (autoY_) autoscale();
    plot_->replot();
}

void PlotWindow::setPaused(bool paused) {
    paused_ = paused;
    pause_->setText(paused ? "&Resume" : "&Pause");
    if (!paused) {
        followTail();
        if (autoY_) autoscale();
    }
    plot_->replot();
}

void PlotWindow::userNavigated() {
    if (!paused_) setPaused(true);
    autoY_ = false;
}

void PlotWindow::zoomTime(double factor) {
    userNavigated();
    plot_->xAxis->scaleRange(factor,
                             cursorTime_ >= 0 ? cursorTime_ : plot_->xAxis->range().center());
    plot_->replot();
}

void PlotWindow::panTime(double fraction) {
    userNavigated();
    plot_->xAxis->moveRange(plot_->xAxis->range().size() * fraction);
    plot_->replot();
}

bool PlotWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) return QWidget::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    if (watched == list_) {
        QTreeWidgetItem* item = list_->currentItem();
        if (item && (key->key() == Qt::Key_L || key->key() == Qt::Key_R)) {
            const int cell = item->data(0, Qt::UserRole).toInt();
            if (selection_.contains(cell)) {
                selection_.setAxis(cell,
                                   key->key() == Qt::Key_L ? PlotAxis::Left : PlotAxis::Right);
                rebuildGraphs();
            }
            return true;
        }
        return false;
    }
    if (watched != plot_) return false;
    switch (key->key()) {
        case Qt::Key_Plus:
        case Qt::Key_Equal:
            zoomTime(0.5);
            return true;
        case Qt::Key_Minus:
            zoomTime(2.0);
            return true;
        case Qt::Key_Left:
            panTime(-0.1);
            return true;
        case Qt::Key_Right:
            panTime(0.1);
            return true;
        case Qt::Key_Up:
        case Qt::Key_Down:
            userNavigated();
            for (QCPAxis* a : {plot_->yAxis, plot_->yAxis2})
                a->moveRange(a->range().size() * (key->key() == Qt::Key_Up ? 0.1 : -0.1));
            plot_->replot();
            return true;
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
            userNavigated();
            for (QCPAxis* a : {plot_->yAxis, plot_->yAxis2})
                a->scaleRange(key->key() == Qt::Key_PageUp ? 0.5 : 2.0, a->range().center());
            plot_->replot();
            return true;
        case Qt::Key_Space:
            setPaused(!paused_);
            return true;
        case Qt::Key_Home:
            autoY_ = true;
            setPaused(false);
            return true;
        default:
            return false;
    }
}

void PlotWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        hide();
        return;
    }
    QWidget::keyPressEvent(event);
}

void PlotWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
    hide();
}

bool PlotWindow::exportCsvTo(const std::string& path) {
    std::vector<int> cells;
    for (const PlottedSeries& s : selection_.series()) cells.push_back(s.cell);
    const auto names = exportColumnNames(cells, monitor_.panel(), monitor_.selected().type,
                                         monitor_.values().activeMotor);
    const std::string text =
        qv::exportCsv(monitor_.recorder(), cells, names, plot_->xAxis->range().lower,
                      plot_->xAxis->range().upper);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    return writeFileSafely(path, std::span(bytes, text.size())) == FileErrorCause::None;
}

bool PlotWindow::exportPngTo(const std::string& path) {
    return plot_->savePng(QString::fromStdString(path), 0, 0, devicePixelRatioF());
}

void PlotWindow::exportCsv() {
    exportAs(kCsvFilter, ".csv", [this](const std::string& path) { return exportCsvTo(path); });
}

void PlotWindow::exportPng() {
    exportAs(kPngFilter, ".png", [this](const std::string& path) { return exportPngTo(path); });
}

// Asks for the file, then writes it; a file that could not be written is said so.
void PlotWindow::exportAs(const char* filter, const char* dotExtension,
                          const std::function<bool(const std::string&)>& write) {
    FileDialogRequest request;
    request.save = true;
    request.filter = filter;
    request.defaultExtension = std::string(dotExtension).substr(1);
    request.initialPath = exportFileName(localNow(), dotExtension);
    const auto path = ui_.fileDialog(request);
    if (!path || write(*path)) return;
    MessageBoxRequest box;
    box.text = "Could not write \"" + *path + "\".";
    box.caption = kPlotWindowCaption;
    box.icon = MessageIcon::Warning;
    ui_.messageBox(box);
}

}  // namespace qv::ui
