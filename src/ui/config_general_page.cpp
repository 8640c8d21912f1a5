#include "ui/config_general_page.h"

#include <algorithm>

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "ui/hex_edit.h"

namespace qv::ui {

namespace {

using namespace general_id;

// Labels of the limit fields by id (those with an id of their own follow the device type).
struct LimitRow {
    int field;
    int labelId;
    const char* text;
};

const LimitRow kLimitRows[] = {
    {kSineCurrentLimit, 1223, nullptr},
    {kSixStepCurrentLimit, 1224, nullptr},
    {kSpeedLimit, 1225, nullptr},
    {kIdcLimit, 1226, nullptr},
    {kPhaseCLimit, 0,
     "Phase C Limit (\xC2\xB0"
     "C)"},
    {kMaxBusVoltage, 1227, nullptr},
    {kMinBusVoltage, 1228, nullptr},
};

QFormLayout* formIn(QGroupBox* box) {
    auto* form = new QFormLayout(box);
    form->setLabelAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    form->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    return form;
}

}  // namespace

ConfigGeneralPage::ConfigGeneralPage(CConfig& page, QWidget* parent)
    : ConfigPageWidget(parent), page_(page) {
    setObjectName("id103");
    auto* columns = new QHBoxLayout(this);
    auto* left = new QVBoxLayout;
    left->addWidget(buildLimits());
    auto* middle = new QVBoxLayout;
    middle->addWidget(buildCan());
    middle->addWidget(buildIdentity());
    middle->addStretch(1);
    left->addStretch(1);
    columns->addLayout(left);
    columns->addLayout(middle);
    columns->addWidget(buildTelemetry(), 0, Qt::AlignTop);
}

QLineEdit* ConfigGeneralPage::number(int id) {
    QLineEdit* e = lineEdit(id);
    e->setFixedWidth(fontMetrics().horizontalAdvance("000000.00") + 12);
    texts_[id] = e;
    watch(e, id);
    connect(e, &QLineEdit::textEdited, this, [this, id](const QString& text) {
        if (!filling_ && !page_.editText(id, text.toStdString())) showField(id);
    });
    return e;
}

HexEdit* ConfigGeneralPage::identifier(int id) {
    auto* e = named(new HexEdit, id);
    e->setFixedWidth(fontMetrics().horizontalAdvance("0x00000000") + 12);
    identifiers_[id] = e;
    watch(e, id);
    connect(e, &HexEdit::userEdited, this, [this, id](const QString& text) {
        if (!filling_ && !page_.editText(id, text.toStdString())) showField(id);
    });
    return e;
}

QLabel* ConfigGeneralPage::typedLabel(int id, QWidget* buddy) {
    QLabel* l = named(label(QString(), buddy), id);
    labels_[id] = l;
    // Room for the longest text of any device type, so that no label is cut off.
    int width = 0;
    for (const std::string& text : CConfig::labelVariants(id))
        width = std::max(width, l->fontMetrics().horizontalAdvance(QString::fromStdString(text)));
    l->setMinimumWidth(width);
    return l;
}

QCheckBox* ConfigGeneralPage::checkBox(int id) {
    auto* c = named(new QCheckBox, id);
    checks_[id] = c;
    connect(c, &QCheckBox::toggled, this, [this, id](bool on) {
        if (!filling_ && !page_.setChecked(id, on)) showField(id);
    });
    return c;
}

QWidget* ConfigGeneralPage::buildLimits() {
    auto* box = new QGroupBox("Controller Limit Set Points");
    QFormLayout* form = formIn(box);
    for (const LimitRow& r : kLimitRows) {
        QLineEdit* e = number(r.field);
        form->addRow(r.labelId ? typedLabel(r.labelId, e) : label(QString::fromUtf8(r.text), e), e);
    }
    QLineEdit* hard = lineEdit(kHardCurrentLimit, true);
    hard->setFixedWidth(texts_[kSineCurrentLimit]->width());
    texts_[kHardCurrentLimit] = hard;
    form->addRow(label("Hard current limit (A)", hard), hard);

    auto* velocity = new QGroupBox("Velocity control loop constants");
    QFormLayout* vform = formIn(velocity);
    QLineEdit* mass = number(kVehicleMass);
    vform->addRow(label("Vehicle Mass  (kg)", mass), mass);
    QLineEdit* accel = number(kSensorlessAccelRate);
    QLabel* accelLabel = named(label("Sensorless Accel Rate", accel), 1189);
    vform->addRow(accelLabel, accel);
    accel->hide();
    accelLabel->hide();

    auto* column = new QWidget;
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(box);
    layout->addWidget(velocity);
    return column;
}

QWidget* ConfigGeneralPage::buildIdentity() {
    auto* box = new QGroupBox("Controller ID");
    QFormLayout* form = formIn(box);
    const std::pair<int, const char*> rows[] = {{kSerialNumber, "Controller serial number"},
                                                {kFirmwareVersion, "Firmware version"},
                                                {kDspHardwareVersion, "DSP Hardware Version"}};
    for (const auto& [id, text] : rows) {
        QLineEdit* e = lineEdit(id, true);
        e->setFixedWidth(fontMetrics().horizontalAdvance("v00.00 (00000)") + 12);
        texts_[id] = e;
        form->addRow(label(text, e), e);
    }
    return box;
}

QWidget* ConfigGeneralPage::buildCan() {
    auto* box = new QGroupBox("CAN Addresses");
    QFormLayout* form = formIn(box);
    const std::pair<int, const char*> rows[] = {{kCanId, "Quelvane CAN ID"},
                                                {kDriverControlsCanId, "Driver controls CAN ID"},
                                                {kBmsMasterCanId, "BMS master CAN ID"}};
    for (const auto& [id, text] : rows) {
        HexEdit* e = identifier(id);
        form->addRow(label(text, e), e);
    }
    QCheckBox* listen = checkBox(kListenForBms);
    form->addRow(listen);
    baud_ = named(new QComboBox, kCanBaudRate);
    for (const std::string& rate : CConfig::baudRates())
        baud_->addItem(QString::fromStdString(rate));
    watch(baud_, kCanBaudRate);
    connect(baud_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (!filling_ && !page_.selectBaud(index)) showField(kCanBaudRate);
    });
    form->addRow(label("CAN Baud Rate", baud_), baud_);
    return box;
}

QWidget* ConfigGeneralPage::buildTelemetry() {
    auto* box = new QGroupBox("Telem Send Measurements");
    auto* layout = new QVBoxLayout(box);
    layout->setSpacing(2);
    for (const TelemetryBox& b : telemetryBoxes()) {
        QCheckBox* c = checkBox(b.id);
        layout->addWidget(c);
        if (!CConfig::visible(b.id)) c->hide();
    }
    return box;
}

void ConfigGeneralPage::showField(int id) {
    const Filling filling(filling_);
    if (const auto it = texts_.find(id); it != texts_.end()) {
        const QString text = QString::fromStdString(page_.text(id));
        if (it->second->text() != text) it->second->setText(text);
        it->second->setCursorPosition(0);
    } else if (const auto h = identifiers_.find(id); h != identifiers_.end()) {
        if (h->second->text().toStdString() != page_.text(id)) h->second->showText(page_.text(id));
    } else if (const auto c = checks_.find(id); c != checks_.end()) {
        c->second->setChecked(page_.checked(id));
        c->second->setText(QString::fromStdString(page_.label(id)));
    } else if (id == kCanBaudRate) {
        baud_->setCurrentIndex(page_.baudSelection());
    }
}

void ConfigGeneralPage::showPage() {
    const Filling filling(filling_);
    for (const auto& [id, edit] : texts_) showField(id);
    for (const auto& [id, edit] : identifiers_) showField(id);
    for (const auto& [id, box] : checks_) showField(id);
    showField(kCanBaudRate);
    for (const auto& [id, l] : labels_) {
        l->setText(QString::fromStdString(page_.label(id)));
    }
    // Units follow the labels of the device type.
    for (const auto& [id, edit] : texts_) showHint(id, page_.hint(id));
    for (const auto& [id, edit] : identifiers_) showHint(id, page_.hint(id));
}

}  // namespace qv::ui
