#include "ui/controls_window.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>
#include <algorithm>

#include "app/main_dialog.h"
#include "app/qv_drv_ctrls_app.h"
#include "link/can_port.h"

namespace qv::ui {

namespace {

constexpr int kSliderHeight = 200;

std::size_t indexOf(ControlsSlider which) {
    return static_cast<std::size_t>(which);
}

// The key as the controls' key map knows it; with Ctrl, Alt or Meta held it is another key.
ControlsKey controlsKeyOf(const QKeyEvent& e) {
    if (e.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return ControlsKey::Other;
    switch (e.key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return ControlsKey::Enter;
        case Qt::Key_Space:
            return ControlsKey::Space;
        case Qt::Key_PageUp:
            return ControlsKey::PageUp;
        case Qt::Key_PageDown:
            return ControlsKey::PageDown;
        case Qt::Key_Up:
            return ControlsKey::Up;
        case Qt::Key_Down:
            return ControlsKey::Down;
        case Qt::Key_Right:
            return ControlsKey::Right;
        case Qt::Key_Left:
            return ControlsKey::Left;
        case Qt::Key_A:
            return ControlsKey::A;
        case Qt::Key_Z:
            return ControlsKey::Z;
        case Qt::Key_Home:
            return ControlsKey::Home;
        case Qt::Key_End:
            return ControlsKey::End;
        case Qt::Key_Escape:
            return ControlsKey::Escape;
        default:
            return ControlsKey::Other;
    }
}

QString text(const std::string& s) {
    return QString::fromUtf8(s.c_str());
}

QLabel* centredLabel(const QString& s) {
    auto* label = new QLabel(s);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

}  // namespace

// ---- the window ----

ControlsWindow::ControlsWindow(CControls& controls, QWidget* parent)
    : QDialog(parent), controls_(controls) {
    setObjectName("id105");
    setWindowTitle(kControlsTitle);

    QSlider* motorCurrent = makeSlider(ControlsSlider::MotorCurrent, 1108);
    QSlider* velocity = makeSlider(ControlsSlider::Velocity, 1132);
    QSlider* busCurrent = makeSlider(ControlsSlider::BusCurrent, 1166);
    QPushButton* zeroCurrent = makeButton("Zero", ControlsButton::ZeroMotorCurrent);
    QPushButton* zeroVelocity = makeButton("Zero", ControlsButton::ZeroVelocity);
    QPushButton* up = makeButton("U", ControlsButton::MotorCurrentUp);
    QPushButton* down = makeButton("D", ControlsButton::MotorCurrentDown);
    driveButtons_ = {zeroCurrent, zeroVelocity, up, down};
    const int stepWidth = fontMetrics().horizontalAdvance("MM") + 12;
    up->setFixedWidth(stepWidth);
    down->setFixedWidth(stepWidth);

    velocityLabel_ = centredLabel("Velocity (RPM)");
    velocityLabel_->setObjectName("id1231");
    busCurrentLabel_ = centredLabel("Bus Current (%)");
    busCurrentLabel_->setObjectName("id1232");
    values_ = {makeValueText(1044, "100.00"), makeValueText(1045, "-12000.0"),
               makeValueText(1046, "100.00")};
    // What the controller reports, under each setpoint (column order: current, velocity, bus).
    for (auto [i, name] : {std::pair{0, "actualVelocity"}, std::pair{1, "actualMotorCurrent"},
                           std::pair{2, "actualBusCurrent"}}) {
        auto* label = centredLabel("-");
        label->setObjectName(name);
        label->setToolTip("Reported by the controller");
        label->setMinimumWidth(fontMetrics().horizontalAdvance("-12000 rpm") + 8);
        actuals_[static_cast<std::size_t>(i)] = label;
    }

    // Each column as wide as its widest label could be, so that a device type's labels fit.
    const int column = std::max({fontMetrics().horizontalAdvance("Motor Current (%)"),
                                 fontMetrics().horizontalAdvance("Output Voltage (V)"),
                                 fontMetrics().horizontalAdvance("-NOT USED-"),
                                 fontMetrics().horizontalAdvance("Bus Current (%)")}) +
                       16;

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(6);
    grid->addWidget(centredLabel("Motor Current (%)"), 0, 0);
    grid->addWidget(velocityLabel_, 0, 1);
    grid->addWidget(busCurrentLabel_, 0, 2);

    auto* currentColumn = new QHBoxLayout;
    currentColumn->addStretch(1);
    currentColumn->addWidget(motorCurrent);
    currentColumn->addSpacing(4);
    auto* steps = new QVBoxLayout;
    steps->addStretch(1);
    steps->addWidget(up);
    steps->addWidget(down);
    steps->addStretch(1);
    currentColumn->addLayout(steps);
    currentColumn->addStretch(1);
    grid->addLayout(currentColumn, 1, 0);
    grid->addWidget(velocity, 1, 1, Qt::AlignHCenter);
    grid->addWidget(busCurrent, 1, 2, Qt::AlignHCenter);
    for (int c = 0; c < 3; ++c) {
        grid->addWidget(values_[static_cast<std::size_t>(c)], 2, c, Qt::AlignHCenter);
        grid->setColumnMinimumWidth(c, column);
    }
    grid->addWidget(actuals_[1], 3, 0, Qt::AlignHCenter);
    grid->addWidget(actuals_[0], 3, 1, Qt::AlignHCenter);
    grid->addWidget(actuals_[2], 3, 2, Qt::AlignHCenter);
    grid->addWidget(zeroCurrent, 4, 0, Qt::AlignHCenter);
    grid->addWidget(zeroVelocity, 4, 1, Qt::AlignHCenter);

    auto* footer = new QHBoxLayout;
    footer->addWidget(new QLabel("Driver Controls base ID"));
    driverControlsBase_ = new QLabel;
    driverControlsBase_->setObjectName("id1207");
    driverControlsBase_->setMinimumWidth(fontMetrics().horizontalAdvance("0x7C0") + 8);
    footer->addWidget(driverControlsBase_);
    footer->addStretch(1);
    auto* close = new QPushButton("Close");
    close->setObjectName("id2");
    close->setAutoDefault(false);
    connect(close, &QPushButton::clicked, this, [this] {
        controls_.press(ControlsButton::Close);
        sync();
    });
    footer->addWidget(close);

    auto* outer = new QVBoxLayout(this);
    outer->addLayout(grid);
    outer->addSpacing(6);
    outer->addLayout(footer);
    outer->setSizeConstraint(QLayout::SetFixedSize);

    // Tab goes down each column, then to Close.
    setTabOrder(motorCurrent, up);
    setTabOrder(up, down);
    setTabOrder(down, zeroCurrent);
    setTabOrder(zeroCurrent, velocity);
    setTabOrder(velocity, zeroVelocity);
    setTabOrder(zeroVelocity, busCurrent);
    setTabOrder(busCurrent, close);

    // The key map sees every key before the focused control does.
    for (QWidget* child : findChildren<QWidget*>()) child->installEventFilter(this);
    // Minimising or hiding the main window takes this one off the screen too.
    if (parent) parent->installEventFilter(this);

    sync();
}

QSlider* ControlsWindow::makeSlider(ControlsSlider which, int id) {
    auto* s = new QSlider(Qt::Vertical);
    s->setObjectName(QString("id%1").arg(id));
    s->setSingleStep(1);
    s->setTickPosition(QSlider::TicksBothSides);
    s->setTickInterval(100);
    s->setFixedHeight(kSliderHeight);
    connect(s, &QSlider::valueChanged, this, [this, which](int position) {
        if (syncing_) return;
        controls_.moveSlider(which, position);
        sync();  // a refused move snaps back
    });
    sliders_[indexOf(which)] = s;
    return s;
}

QPushButton* ControlsWindow::makeButton(const char* caption, ControlsButton button) {
    auto* b = new QPushButton(caption);
    b->setObjectName(QString("id%1").arg(static_cast<int>(button)));
    b->setAutoDefault(false);
    connect(b, &QPushButton::clicked, this, [this, button] {
        controls_.press(button);
        sync();
    });
    return b;
}

QLabel* ControlsWindow::makeValueText(int id, const QString& widest) {
    auto* label = new QLabel;
    label->setObjectName(QString("id%1").arg(id));
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setAlignment(Qt::AlignCenter);
    label->setMinimumWidth(fontMetrics().horizontalAdvance(widest) + 16);
    return label;
}

QSlider* ControlsWindow::slider(ControlsSlider which) const {
    return sliders_[indexOf(which)];
}

void ControlsWindow::sync() {
    const ControlsView v = controls_.view();
    syncing_ = true;
    // While closed it carries the window's name, as in window lists.
    const QString title = v.visible ? text(v.title) : QString(kControlsTitle);
    if (windowTitle() != title) setWindowTitle(title);
    const std::array<const SliderView*, 3> views = {&v.motorCurrent, &v.velocity, &v.busCurrent};
    const std::array<const std::string*, 3> texts = {&v.motorCurrentText, &v.velocityText,
                                                     &v.busCurrentText};
    for (std::size_t i = 0; i < 3; ++i) {
        QSlider* s = sliders_[i];
        s->setRange(views[i]->minimum, views[i]->maximum);
        s->setPageStep(views[i]->page);
        s->setValue(views[i]->position);
        s->setEnabled(v.controlsEnabled);
        values_[i]->setText(text(*texts[i]));
    }
    for (QPushButton* b : driveButtons_) b->setEnabled(v.controlsEnabled);
    velocityLabel_->setText(text(v.velocityLabel));
    busCurrentLabel_->setText(text(v.busCurrentLabel));
    driverControlsBase_->setText(text(v.driverControlsBaseText));
    const ControlsActuals a = actualsSource_ ? actualsSource_() : ControlsActuals{"-", "-", "-"};
    const std::array<const std::string*, 3> actual = {&a.velocity, &a.motorCurrent, &a.busCurrent};
    for (std::size_t i = 0; i < 3; ++i) {
        const QString t = text(*actual[i]);
        if (actuals_[i]->text() != t) actuals_[i]->setText(t);
    }
    syncing_ = false;
    if (v.visible) return;
    // Closed: disabled and off the screen, not left minimised for the next show.
    setEnabled(false);
    if (isVisible()) hide();
    if (windowState() & Qt::WindowMinimized) setWindowState(windowState() & ~Qt::WindowMinimized);
}

void ControlsWindow::closeControls() {
    if (controls_.visible()) controls_.close();
    sync();
}

void ControlsWindow::reject() {
    closeControls();
}

void ControlsWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
    closeControls();
}

void ControlsWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Shown without controls to show (not through the main window): it goes again at once.
    if (controls_.visible())
        sync();
    else
        QMetaObject::invokeMethod(
            this, [this] { sync(); }, Qt::QueuedConnection);
}

void ControlsWindow::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    closeControls();
}

void ControlsWindow::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMinimized))
        closeControls();
}

bool ControlsWindow::mapKey(const QKeyEvent& event) {
    if (!controls_.keyDown(controlsKeyOf(event), event.modifiers() & Qt::ShiftModifier))
        return false;
    sync();
    return true;
}

void ControlsWindow::keyPressEvent(QKeyEvent* event) {
    if (mapKey(*event)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool ControlsWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parentWidget()) {
        if (event->type() == QEvent::Hide ||
            (event->type() == QEvent::WindowStateChange && parentWidget()->isMinimized()))
            closeControls();
        return false;  // the main window's own keys stay its own
    }
    if (event->type() == QEvent::KeyPress && mapKey(*static_cast<QKeyEvent*>(event))) return true;
    return QDialog::eventFilter(watched, event);
}

// ---- the drive hooks ----

ControlsDriveHooks::ControlsDriveHooks(UserInteraction& ui, CBcan& port,
                                       std::string applicationTitle)
    : controls_(
          ui, [&port](const CanFrame& f) { port.sendFrame(f.identifier(), f.data()); },
          std::move(applicationTitle)),
      hooks_(controls_, port) {
    controls_.setSetpointsObserver([this](const DriveSetpoints& s) {
        if (sink_) sink_(s);
        changed();
    });
}

void ControlsDriveHooks::changed() const {
    if (onChange_) onChange_();
}

void ControlsDriveHooks::onDriveTick(const DriveContext& context) {
    hooks_.onDriveTick(context);
    changed();
}

void ControlsDriveHooks::periodicCheck(bool noOtherSource) {
    hooks_.periodicCheck(noOtherSource);
    changed();
}

void ControlsDriveHooks::stop() {
    hooks_.stop();
    changed();
}

bool ControlsDriveHooks::showControls(const ControlsShowRequest& request) {
    const bool shown = hooks_.showControls(request);
    changed();
    return shown;
}

// ---- the tool window ----

ControlsToolWindow::ControlsToolWindow(ControlsDriveHooks& hooks, QWidget* owner)
    : QtToolWindow(new ControlsWindow(hooks.controls(), owner), true), hooks_(hooks) {
    QPointer<ControlsWindow> w = window();
    hooks_.setOnChange([w] {
        if (w) w->sync();
    });
}

ControlsToolWindow::~ControlsToolWindow() {
    hooks_.setOnChange({});
    hooks_.controls().close();
}

ControlsWindow* ControlsToolWindow::window() const {
    return static_cast<ControlsWindow*>(widget());
}

void ControlsToolWindow::show() {
    if (hooks_.controls().visible()) QtToolWindow::show();
}

void ControlsToolWindow::hide() {
    hooks_.controls().close();
    QtToolWindow::hide();
}

bool ControlsToolWindow::isVisible() const {
    return QtToolWindow::isVisible() && hooks_.controls().visible();
}

// ---- installation ----

void installControlsWindow(QtWindowFactory& factory, CQVDrvCtrlsApp& app, UserInteraction& ui) {
    auto hooks = std::make_unique<ControlsDriveHooks>(ui, app.port(), kAppCaption);
    hooks->setSetpointsSink([&app](const DriveSetpoints& s) {
        if (CQVDrvCtrlsDlg* dialog = app.dialog()) {
            TelemetryValues& values = dialog->monitor().values();
            values.currentSetpoint = s.current;
            values.velocitySetpoint = s.velocity;
        }
    });
    ControlsDriveHooks* drive = hooks.get();
    factory.setToolCreator(Tool::Controls, [drive, &app](QWidget* owner) {
        auto tool = std::make_unique<ControlsToolWindow>(*drive, owner);
        tool->window()->setActualsSource([&app] {
            const CQVDrvCtrlsDlg* dialog = app.dialog();
            if (!dialog) return controlsActuals({}, 0, false);
            const Monitor& m = dialog->monitor();
            return controlsActuals(m.values(), m.selected().type, !m.panel().stale());
        });
        return tool;
    });
    app.setDriveHooks(std::move(hooks));
}

}  // namespace qv::ui
