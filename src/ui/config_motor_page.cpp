#include "ui/config_motor_page.h"

#include <algorithm>

#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace qv::ui {

namespace {

using namespace motor_id;

QFormLayout* formIn(QGroupBox* box) {
    auto* form = new QFormLayout(box);
    form->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    return form;
}

QString fromUtf8(const std::string& s) {
    return QString::fromUtf8(s.c_str());
}

}  // namespace

// ---- one motor record ----

ConfigMotorPage::ConfigMotorPage(CConfigMotor& page, QWidget* parent)
    : ConfigPageWidget(parent), page_(page) {
    setObjectName("id110");
    auto* columns = new QHBoxLayout(this);
    columns->addWidget(buildRecord(), 0, Qt::AlignTop);
    auto* right = new QVBoxLayout;
    right->addWidget(buildTemperature());
    right->addWidget(buildConstants());
    right->addStretch(1);
    columns->addLayout(right);
}

QLineEdit* ConfigMotorPage::text(int id) {
    const bool readOnly = CConfigMotor::readOnly(id);
    QLineEdit* e = lineEdit(id, readOnly);
    const QString widest = id == kDescription ? QString(20, 'x') : QString("0.0000e+000");
    e->setFixedWidth(fontMetrics().horizontalAdvance(widest) + 12);
    texts_[id] = e;
    if (readOnly) return e;
    watch(e, id);
    connect(e, &QLineEdit::textEdited, this, [this, id](const QString& t) {
        if (!filling_ && !page_.editText(id, t.toStdString())) showField(id);
    });
    return e;
}

QCheckBox* ConfigMotorPage::checkBox(int id, const char* label) {
    auto* c = named(new QCheckBox(label), id);
    checks_[id] = c;
    connect(c, &QCheckBox::toggled, this, [this, id](bool on) {
        if (!filling_ && !page_.setChecked(id, on)) showField(id);
    });
    return c;
}

QWidget* ConfigMotorPage::buildRecord() {
    auto* column = new QWidget;
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    const std::pair<int, const char*> rows[] = {
        {kDescription, "Description"},
        {kPolePairs, "Nr of Pole Pairs"},
        {kCutoutTemp,
         "Motor Cut-out Temp. (\xC2\xB0"
         "C)"},
        {kRampTemp,
         "Motor Ramp Temp. (\xC2\xB0"
         "C)"},
    };
    for (const auto& [id, caption] : rows) {
        QLineEdit* e = text(id);
        form->addRow(label(QString::fromUtf8(caption), e), e);
    }
    for (const auto& [id, labelId] :
         {std::pair{kEngageFreq, kEngageLabel}, std::pair{kDisengageFreq, kDisengageLabel}}) {
        QLineEdit* e = text(id);
        QLabel* l = named(label(QString(), e), labelId);
        labels_[labelId] = l;
        form->addRow(l, e);
    }
    layout->addLayout(form);
    layout->addWidget(checkBox(kIgnoreHalls, "Ignore halls while sensorless engaged"));

    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSize(8);
    auto* heading = new QLabel("Angle  Hall Edge");
    heading->setFont(mono);
    hall_ = named(new QListWidget, kHallList);
    hall_->setFont(mono);
    heading->setBuddy(hall_);
    const QFontMetrics fm(mono);
    hall_->setFixedSize(fm.horizontalAdvance(QString(16, 'M')) + hall_->frameWidth() * 2 + 8,
                        fm.height() * 8 + hall_->frameWidth() * 2 + 8);
    hall_->setSelectionMode(QAbstractItemView::SingleSelection);
    layout->addSpacing(6);
    layout->addWidget(heading);
    layout->addWidget(hall_);
    layout->addStretch(1);
    return column;
}

QWidget* ConfigMotorPage::buildTemperature() {
    auto* box = new QGroupBox("Motor Temperature Constants");
    QFormLayout* form = formIn(box);
    const std::pair<int, const char*> rows[] = {
        {kTempScale, "Scale Factor"}, {kTempOffset, "Offset"}, {kRo, "Ro"}, {kBeta, "\xC3\x9F"}};
    for (const auto& [id, caption] : rows) {
        QLineEdit* e = text(id);
        form->addRow(label(QString::fromUtf8(caption), e), e);
    }
    // Two more constants of the thermistor law that this version neither shows nor stores.
    for (const auto& [id, caption] : {std::pair{1091, "C"}, std::pair{1092, "D"}}) {
        QLineEdit* e = lineEdit(id);
        QLabel* l = label(caption, e);
        form->addRow(l, e);
        e->hide();
        l->hide();
    }
    return box;
}

QWidget* ConfigMotorPage::buildConstants() {
    auto* box = new QGroupBox("Motor Constants");
    QFormLayout* form = formIn(box);
    type_ = named(new QComboBox, kMotorType);
    for (const std::string& t : CConfigMotor::motorTypes()) type_->addItem(fromUtf8(t));
    connect(type_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (filling_) return;
        if (page_.selectMotorType(index))
            showMotorType();
        else
            showField(kMotorType);
    });
    form->addRow(label("Motor type", type_), type_);
    const std::pair<int, const char*> measured[] = {{kLineResistance, "Line Resistance (mR)"},
                                                    {kLineInductance, "Line Inductance (uH)"},
                                                    {kSpeedConstant, "Speed Constant (V.s/rad)"}};
    for (const auto& [id, caption] : measured) {
        QLineEdit* e = text(id);
        form->addRow(label(caption, e), e);
    }
    QCheckBox* sequence = checkBox(kPhaseSequence, "BC => CB");
    sequence->setEnabled(false);
    form->addRow(label("Phase Sequence reversed", sequence), sequence);
    const std::pair<int, const char*> rotor[] = {{kRotorResistance, "Rotor R (mR)"},
                                                 {kRotorInductance, "Rotor L (uH)"}};
    for (const auto& [id, caption] : rotor) {
        QLineEdit* e = text(id);
        form->addRow(label(caption, e), e);
    }
    for (const auto& [id, labelId] :
         {std::pair{kMinId, kMinIdLabel}, std::pair{kMaxId, kMaxIdLabel}}) {
        QLineEdit* e = text(id);
        QLabel* l = named(label(QString(), e), labelId);
        labels_[labelId] = l;
        form->addRow(l, e);
    }
    QLineEdit* encoder = text(kEncoderCount);
    form->addRow(label("Encoder N", encoder), encoder);
    form->addRow(checkBox(kEncoderReversed, "Encoder Rev"));
    return box;
}

void ConfigMotorPage::showField(int id) {
    const Filling filling(filling_);
    if (const auto it = texts_.find(id); it != texts_.end()) {
        const QString t = fromUtf8(page_.text(id));
        if (it->second->text() != t) it->second->setText(t);
        it->second->setCursorPosition(0);
        it->second->setEnabled(page_.enabled(id));
    } else if (const auto c = checks_.find(id); c != checks_.end()) {
        c->second->setChecked(page_.checked(id));
    } else if (id == kMotorType) {
        type_->setCurrentIndex(page_.motorType());
    }
}

// The type decides the labels and which rotor fields take input, and BLDC shows no Id limits.
void ConfigMotorPage::showMotorType() {
    const Filling filling(filling_);
    showField(kMotorType);
    for (int id : {kRotorResistance, kRotorInductance, kMinId, kMaxId}) showField(id);
    for (const auto& [id, l] : labels_) l->setText(fromUtf8(page_.label(id)));
    // Units follow the motor type's and the device type's labels.
    for (const auto& [id, e] : texts_) showHint(id, page_.hint(id));
}

void ConfigMotorPage::showPage() {
    const Filling filling(filling_);
    for (const auto& [id, e] : texts_) showField(id);
    for (const auto& [id, c] : checks_) showField(id);
    showMotorType();
    hall_->clear();
    for (const std::string& line : page_.hallLines()) hall_->addItem(fromUtf8(line));
}

// ---- the Motor tab ----

ConfigMotorTabsPage::ConfigMotorTabsPage(CConfigMotorTabs& page, QWidget* parent)
    : ConfigPageWidget(parent), page_(page) {
    setObjectName("id112");
    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    active_ = lineEdit(kActiveMotor);
    active_->setFixedWidth(fontMetrics().horizontalAdvance("00") + 16);
    auto* spin = named(new QWidget, 1028);
    auto* arrows = new QVBoxLayout(spin);
    arrows->setContentsMargins(0, 0, 0, 0);
    arrows->setSpacing(0);
    for (const auto& [arrow, delta] : {std::pair{Qt::UpArrow, 1}, std::pair{Qt::DownArrow, -1}}) {
        auto* b = new QToolButton;
        b->setArrowType(arrow);
        b->setFocusPolicy(Qt::NoFocus);  // the arrow keys in the field do the same
        b->setFixedSize(16, 11);
        connect(b, &QToolButton::clicked, this, [this, d = delta] { step(d); });
        arrows->addWidget(b);
    }
    tyre_ = lineEdit(kTyreDiameter);
    tyre_->setFixedWidth(fontMetrics().horizontalAdvance("0000.0000") + 12);
    for (QLineEdit* e : {active_, tyre_}) {
        const int id = e == active_ ? kActiveMotor : kTyreDiameter;
        watch(e, id);
        connect(e, &QLineEdit::textEdited, this, [this, id](const QString& t) {
            if (!filling_ && !page_.editText(id, t.toStdString())) showField(id);
        });
    }
    active_->installEventFilter(this);
    top->addWidget(label("Active Motor", active_));
    top->addWidget(active_);
    top->addWidget(spin);
    top->addSpacing(24);
    top->addWidget(label("Tyre Diameter (m)", tyre_));
    top->addWidget(tyre_);
    top->addStretch(1);
    layout->addLayout(top);

    tabs_ = named(new QTabWidget, 1116);
    tabs_->tabBar()->setStyleSheet(
        QString("QTabBar::tab { min-width: %1px; }").arg(CConfigMotorTabs::kMinimumTabWidth));
    for (std::size_t i = 0; i < kMotorCount; ++i) {
        pages_[i] = new ConfigMotorPage(page_.page(i));
        tabs_->addTab(pages_[i], QString::fromStdString(CConfigMotorTabs::tabLabel(i)));
    }
    layout->addWidget(tabs_);
}

void ConfigMotorTabsPage::step(int delta) {
    const long long now = parseInteger(page_.text(kActiveMotor)).value_or(0);
    const long long next = std::clamp<long long>(now + delta, 0, kMotorCount - 1);
    if (page_.editText(kActiveMotor, std::to_string(next))) showField(kActiveMotor);
}

bool ConfigMotorTabsPage::eventFilter(QObject* watched, QEvent* event) {
    if (watched == active_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            step(key == Qt::Key_Up ? 1 : -1);
            return true;
        }
    }
    return ConfigPageWidget::eventFilter(watched, event);
}

void ConfigMotorTabsPage::showField(int id) {
    const Filling filling(filling_);
    QLineEdit* e = id == kActiveMotor ? active_ : id == kTyreDiameter ? tyre_ : nullptr;
    if (!e) return;
    const QString t = QString::fromStdString(page_.text(id));
    if (e->text() != t) e->setText(t);
}

void ConfigMotorTabsPage::showPage() {
    showField(kActiveMotor);
    showField(kTyreDiameter);
    for (int id : {kActiveMotor, kTyreDiameter}) showHint(id, page_.hint(id));
    for (ConfigMotorPage* p : pages_) p->showPage();
}

bool ConfigMotorTabsPage::focusRecordField(int record, int id) {
    if (record < 0) return focusField(id);
    if (record >= static_cast<int>(kMotorCount)) return false;
    tabs_->setCurrentIndex(record);
    return pages_[static_cast<std::size_t>(record)]->focusField(id);
}

bool ConfigMotorTabsPage::checkFocusedField() {
    if (!ConfigPageWidget::checkFocusedField()) return false;
    for (ConfigMotorPage* p : pages_)
        if (!p->checkFocusedField()) return false;
    return true;
}

}  // namespace qv::ui
