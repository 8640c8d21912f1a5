#pragma once
// Bus Monitor: every frame the program takes from the bus, live, in a scrolling trace and in a
// table of one row per identifier (count, period, last data), with filters by identifier
// ranges and by device, pause, clear, and candump logs to save and to load for review.
//
// The item models only adapt the Qt-free BusMonitorModel: once per tick they apply its
// changes with one removal at the front and one insertion at the end of the trace (or one
// reset); row texts come from the core's cache. The trace is a table view with rows of one fixed
// height (a tree view lays out all its rows again on every insertion, which a million rows make
// too slow for the tick); it follows the tail only while it is scrolled to the end. Escape
// closes the window.
#include <QAbstractTableModel>
#include <QWidget>
#include <vector>

#include "monitor/bus_trace.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTableView;
class QTreeView;

namespace qv {
class Monitor;
class UserInteraction;
}  // namespace qv

namespace qv::ui {

inline constexpr const char* kBusMonitorCaption = "Bus Monitor";

class TraceItemModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    explicit TraceItemModel(BusMonitorModel& core, QObject* parent = nullptr)
        : QAbstractTableModel(parent), core_(core) {}
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    // The tick's changes (the core has applied them already; this model catches up).
    void apply(const MonitorChanges& changes);
    // Model notifications since construction (for the tests: one insertion per tick).
    int insertions() const { return insertions_; }

  private:
    BusMonitorModel& core_;
    int rows_ = 0;
    int shift_ = 0;  // during a front removal: rows the core has dropped already
    int insertions_ = 0;
};

class IdItemModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    explicit IdItemModel(BusMonitorModel& core, QObject* parent = nullptr)
        : QAbstractTableModel(parent), core_(core) {}
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    void apply(const MonitorChanges& changes);

  private:
    BusMonitorModel& core_;
    int rows_ = 0;
};

class BusMonitorWindow : public QWidget {
    Q_OBJECT

  public:
    BusMonitorWindow(Monitor& monitor, UserInteraction& ui, QWidget* parent = nullptr);

    // Once per tick while shown.
    void onTick();

    QTableView* traceView() const { return trace_; }
    QTreeView* idView() const { return ids_; }
    TraceItemModel* traceModel() const { return traceModel_; }
    // Shows the per-identifier view (true) or the trace.
    void showIdView(bool ids);
    // The filter as the user would type it; false (and the message shown) when malformed.
    bool setIdFilter(const QString& text);
    void setPaused(bool paused);
    bool saveLog(const std::string& path, bool shownOnly);
    bool loadLog(const std::string& path);

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void applyFilter();
    void refreshDevices();
    void refreshStatus();
    void save(bool shownOnly);
    void load();
    void message(const std::string& text);

    Monitor& monitor_;
    BusMonitorModel& core_;
    UserInteraction& ui_;
    TraceItemModel* traceModel_ = nullptr;
    IdItemModel* idModel_ = nullptr;
    QTabWidget* tabs_ = nullptr;
    QTableView* trace_ = nullptr;
    QTreeView* ids_ = nullptr;
    QLineEdit* filter_ = nullptr;
    QComboBox* device_ = nullptr;
    QPushButton* pause_ = nullptr;
    QLabel* status_ = nullptr;
    std::vector<std::uint32_t> deviceBases_;
    TraceFilter wanted_;
};

}  // namespace qv::ui
