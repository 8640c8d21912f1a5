#include "ui/bus_monitor_window.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTableView>
#include <QTreeView>
#include <QVBoxLayout>

#include "common/user_interaction.h"
#include "config/safe_write.h"
#include "monitor/candump.h"
#include "monitor/monitor.h"
#include "ui/fixed_pitch_delegate.h"

namespace qv::ui {

namespace {

constexpr const char* kLogFilter = "candump logs (*.log)|*.log|All Files (*.*)|*.*||";
const char* const kTraceHeaders[kTraceColumns] = {"Time (s)", "ID", "Len", "Data", "Decoded"};
const char* const kIdHeaders[kIdColumns] = {"ID",  "Count", "Period (ms)", "Mean (ms)",
                                            "Len", "Data",  "Decoded"};

bool numeric(int column, bool trace) {
    return trace ? column == kTraceTime || column == kTraceLength
                 : column == kIdCount || column == kIdPeriod || column == kIdMeanPeriod ||
                       column == kIdLength;
}

}  // namespace

// ---- trace model ----

int TraceItemModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

int TraceItemModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kTraceColumns;
}

QVariant TraceItemModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    if (role == Qt::TextAlignmentRole)
        return numeric(index.column(), true) ? int(Qt::AlignRight | Qt::AlignVCenter)
                                             : int(Qt::AlignLeft | Qt::AlignVCenter);
    if (role != Qt::DisplayRole) return {};
    const int row = index.row() - shift_;
    if (row < 0) return QString();
    return QString::fromStdString(core_.traceText(static_cast<std::size_t>(row), index.column()));
}

QVariant TraceItemModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= kTraceColumns)
        return {};
    return QString(kTraceHeaders[section]);
}

void TraceItemModel::apply(const MonitorChanges& c) {
    if (c.reset) {
        beginResetModel();
        rows_ = static_cast<int>(core_.traceRows());
        endResetModel();
        return;
    }
    if (c.traceRemoved > 0) {
        // Old row r is the core's row r - removed now.
        shift_ = static_cast<int>(c.traceRemoved);
        beginRemoveRows({}, 0, shift_ - 1);
        rows_ -= shift_;
        shift_ = 0;
        endRemoveRows();
    }
    if (c.traceInserted > 0) {
        beginInsertRows({}, rows_, rows_ + static_cast<int>(c.traceInserted) - 1);
        rows_ += static_cast<int>(c.traceInserted);
        endInsertRows();
        ++insertions_;
    }
}

// ---- per-identifier model ----

int IdItemModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

int IdItemModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kIdColumns;
}

QVariant IdItemModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    if (role == Qt::TextAlignmentRole)
        return numeric(index.column(), false) ? int(Qt::AlignRight | Qt::AlignVCenter)
                                              : int(Qt::AlignLeft | Qt::AlignVCenter);
    if (role != Qt::DisplayRole) return {};
    return QString::fromStdString(
        core_.idText(static_cast<std::size_t>(index.row()), index.column()));
}

QVariant IdItemModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= kIdColumns)
        return {};
    return QString(kIdHeaders[section]);
}

void IdItemModel::apply(const MonitorChanges& c) {
    // New identifiers are rare (a node starts): those ticks rebuild this small table.
    if (c.reset || !c.idInserted.empty()) {
        beginResetModel();
        rows_ = static_cast<int>(core_.idRows());
        endResetModel();
        return;
    }
    if (c.idChangedFirst)
        emit dataChanged(index(static_cast<int>(*c.idChangedFirst), kIdCount),
                         index(static_cast<int>(c.idChangedLast), kIdColumns - 1),
                         {Qt::DisplayRole});
}

// ---- window ----

BusMonitorWindow::BusMonitorWindow(Monitor& monitor, UserInteraction& ui, QWidget* parent)
    : QWidget(parent, Qt::Window), monitor_(monitor), core_(monitor.busMonitor()), ui_(ui) {
    setObjectName("BusMonDlg");
    setWindowTitle(kBusMonitorCaption);
    setMinimumSize(640, 360);
    resize(980, 600);

    auto* top = new QHBoxLayout;
    auto* filterLabel = new QLabel("&Identifiers:");
    filter_ = new QLineEdit;
    filter_->setObjectName("busFilter");
    filter_->setPlaceholderText("all, or e.g. 400-41F, 18FF0000-18FFFFFF");
    filter_->setClearButtonEnabled(true);
    filterLabel->setBuddy(filter_);
    connect(filter_, &QLineEdit::editingFinished, this, [this] { setIdFilter(filter_->text()); });
    auto* deviceLabel = new QLabel("&Device:");
    device_ = new QComboBox;
    device_->setObjectName("busDevice");
    device_->addItem("All");
    deviceLabel->setBuddy(device_);
    connect(device_, &QComboBox::activated, this, [this] { applyFilter(); });
    pause_ = new QPushButton("&Pause");
    pause_->setObjectName("busPause");
    connect(pause_, &QPushButton::clicked, this, [this] { setPaused(!core_.paused()); });
    auto* clear = new QPushButton("C&lear");
    clear->setObjectName("busClear");
    connect(clear, &QPushButton::clicked, this, [this] {
        core_.clear();
        onTick();
    });
    top->addWidget(filterLabel);
    top->addWidget(filter_, 1);
    top->addWidget(deviceLabel);
    top->addWidget(device_);
    top->addWidget(pause_);
    top->addWidget(clear);

    auto makeView = [](QAbstractItemModel* model, const char* name) {
        auto* view = new QTreeView;
        view->setObjectName(name);
        view->setModel(model);
        view->setRootIsDecorated(false);
        view->setUniformRowHeights(true);
        view->setAlternatingRowColors(true);
        view->setSelectionBehavior(QAbstractItemView::SelectRows);
        view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
        view->header()->setStretchLastSection(true);
        return view;
    };
    traceModel_ = new TraceItemModel(core_, this);
    idModel_ = new IdItemModel(core_, this);
    trace_ = new QTableView;
    trace_->setObjectName("busTrace");
    trace_->setModel(traceModel_);
    trace_->setShowGrid(false);
    trace_->setWordWrap(false);
    trace_->setAlternatingRowColors(true);
    trace_->setSelectionBehavior(QAbstractItemView::SelectRows);
    trace_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    trace_->setItemDelegate(new FixedPitchDelegate(trace_));
    trace_->horizontalHeader()->setStretchLastSection(true);
    trace_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    trace_->horizontalHeader()->setHighlightSections(false);
    trace_->verticalHeader()->hide();
    trace_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    trace_->verticalHeader()->setMinimumSectionSize(1);
    trace_->verticalHeader()->setDefaultSectionSize(QFontMetrics(trace_->font()).height() + 4);
    ids_ = makeView(idModel_, "busIds");
    const QFontMetrics fm(trace_->font());
    auto width = [&fm](const char* sample) { return fm.horizontalAdvance(sample) + 16; };
    trace_->setColumnWidth(kTraceTime, width("00000.000000"));
    trace_->setColumnWidth(kTraceId, width("18FFFFFF x"));
    trace_->setColumnWidth(kTraceLength, width("Len"));
    trace_->setColumnWidth(kTraceData, width("00 00 00 00 00 00 00 00"));
    ids_->setColumnWidth(kIdId, width("18FFFFFF x"));
    ids_->setColumnWidth(kIdCount, width("00000000"));
    ids_->setColumnWidth(kIdPeriod, width("Period (ms)"));
    ids_->setColumnWidth(kIdMeanPeriod, width("Mean (ms)"));
    ids_->setColumnWidth(kIdLength, width("Len"));
    ids_->setColumnWidth(kIdData, width("00 00 00 00 00 00 00 00"));
    tabs_ = new QTabWidget;
    tabs_->addTab(trace_, "&Trace");
    tabs_->addTab(ids_, "&By identifier");

    auto* bottom = new QHBoxLayout;
    status_ = new QLabel;
    status_->setObjectName("busStatus");
    // Its text changes every tick: it must not lay the window out again each time.
    status_->setTextFormat(Qt::PlainText);
    status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    bottom->addWidget(status_, 1);
    auto* saveShown = new QPushButton("&Save Shown...");
    saveShown->setObjectName("busSaveShown");
    connect(saveShown, &QPushButton::clicked, this, [this] { save(true); });
    auto* saveAll = new QPushButton("Save &All...");
    saveAll->setObjectName("busSaveAll");
    connect(saveAll, &QPushButton::clicked, this, [this] { save(false); });
    auto* loadButton = new QPushButton("L&oad Log...");
    loadButton->setObjectName("busLoad");
    connect(loadButton, &QPushButton::clicked, this, &BusMonitorWindow::load);
    auto* close = new QPushButton("Close");
    close->setObjectName("busClose");
    connect(close, &QPushButton::clicked, this, &QWidget::hide);
    bottom->addWidget(saveShown);
    bottom->addWidget(saveAll);
    bottom->addWidget(loadButton);
    bottom->addWidget(close);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(tabs_, 1);
    layout->addLayout(bottom);
    onTick();
}

void BusMonitorWindow::showIdView(bool ids) {
    tabs_->setCurrentIndex(ids ? 1 : 0);
}

void BusMonitorWindow::onTick() {
    refreshDevices();
    QScrollBar* bar = trace_->verticalScrollBar();
    const bool atEnd = bar->value() >= bar->maximum();
    const MonitorChanges changes = core_.takeChanges();
    if (changes.any()) {
        traceModel_->apply(changes);
        idModel_->apply(changes);
        // Follow the tail only while the view is at its end.
        if (atEnd && (changes.traceInserted > 0 || changes.reset)) trace_->scrollToBottom();
    }
    refreshStatus();
}

void BusMonitorWindow::refreshDevices() {
    std::vector<std::uint32_t> bases;
    for (const DeviceEntry& e : monitor_.devices().entries()) bases.push_back(e.baseAddress);
    if (bases == deviceBases_) return;
    const QVariant current = device_->currentData();
    deviceBases_ = bases;
    device_->clear();
    device_->addItem("All");
    for (const DeviceEntry& e : monitor_.devices().entries())
        device_->addItem(QString::fromStdString(deviceRowText(e)), e.baseAddress);
    const int index = current.isValid() ? device_->findData(current) : 0;
    device_->setCurrentIndex(index >= 0 ? index : 0);
    if (index < 0) applyFilter();
}

void BusMonitorWindow::refreshStatus() {
    QString text = QString("%1 frames recorded, %2 held, %3 shown")
                       .arg(core_.framesRecorded())
                       .arg(core_.framesHeld())
                       .arg(core_.traceRows());
    if (core_.offline()) text += "; a log loaded from a file (Resume records live frames anew)";
    if (core_.paused() && !core_.offline())
        text += QString("; paused, %1 frames not recorded").arg(core_.notRecorded());
    if (core_.otherIdentifierFrames() > 0)
        text += QString("; %1 frames of identifiers beyond the first %2")
                    .arg(core_.otherIdentifierFrames())
                    .arg(BusMonitorModel::kMaxIdentifiers);
    if (status_->text() != text) status_->setText(text);
    pause_->setText(core_.paused() ? "&Resume" : "&Pause");
}

bool BusMonitorWindow::setIdFilter(const QString& text) {
    std::string error;
    const auto ranges = parseIdRanges(text.toStdString(), error);
    if (!ranges) {
        message(error);
        return false;
    }
    wanted_.ranges = *ranges;
    applyFilter();
    return true;
}

void BusMonitorWindow::applyFilter() {
    const QVariant base = device_->currentData();
    wanted_.deviceBase =
        base.isValid() ? std::optional<std::uint32_t>(base.toUInt()) : std::nullopt;
    core_.setFilter(wanted_);
    onTick();
}

void BusMonitorWindow::setPaused(bool paused) {
    core_.setPaused(paused);
    onTick();
}

void BusMonitorWindow::message(const std::string& text) {
    MessageBoxRequest box;
    box.text = text;
    box.caption = kBusMonitorCaption;
    box.icon = MessageIcon::Warning;
    ui_.messageBox(box);
}

bool BusMonitorWindow::saveLog(const std::string& path, bool shownOnly) {
    const std::string text = core_.candump(shownOnly);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    return writeFileSafely(path, std::span(bytes, text.size())) == FileErrorCause::None;
}

bool BusMonitorWindow::loadLog(const std::string& path) {
    std::string error;
    const auto records = readCandumpFile(path, error);
    if (!records) {
        message("Could not load \"" + path + "\": " + error);
        return false;
    }
    const std::size_t kept = core_.load(*records);
    if (kept < records->size())
        message("The log holds " + std::to_string(records->size()) + " frames; the last " +
                std::to_string(kept) + " are shown.");
    onTick();
    return true;
}

void BusMonitorWindow::save(bool shownOnly) {
    FileDialogRequest request;
    request.save = true;
    request.filter = kLogFilter;
    request.defaultExtension = "log";
    request.initialPath = "candump.log";
    const auto path = ui_.fileDialog(request);
    if (path && !saveLog(*path, shownOnly)) message("Could not write \"" + *path + "\".");
}

void BusMonitorWindow::load() {
    if (core_.framesHeld() > 0 && !core_.offline()) {
        MessageBoxRequest ask;
        ask.text = "Loading a log replaces the " + std::to_string(core_.framesHeld()) +
                   " frames recorded here. Load it?";
        ask.caption = kBusMonitorCaption;
        ask.icon = MessageIcon::Question;
        ask.buttons = MessageButtons::YesNo;
        ask.defaultAnswer = MessageAnswer::No;
        if (ui_.messageBox(ask) != MessageAnswer::Yes) return;
    }
    FileDialogRequest request;
    request.filter = kLogFilter;
    if (const auto path = ui_.fileDialog(request)) loadLog(*path);
}

void BusMonitorWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        hide();
        return;
    }
    QWidget::keyPressEvent(event);
}

void BusMonitorWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
    hide();
}

}  // namespace qv::ui
