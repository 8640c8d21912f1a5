#include "ui/config_page_widget.h"

#include <QApplication>
#include <QEvent>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

namespace qv::ui {

ConfigPageWidget::ConfigPageWidget(QWidget* parent) : QWidget(parent) {}

void ConfigPageWidget::nameControl(QWidget* w, int id) {
    w->setObjectName(QString("id%1").arg(id));
    controls_[id] = w;
}

QWidget* ConfigPageWidget::control(int id) const {
    const auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second;
}

void ConfigPageWidget::showHint(int id, const std::string& hint) {
    QWidget* w = control(id);
    if (!w) return;
    const QString tip = QString::fromUtf8(hint.data(), static_cast<qsizetype>(hint.size()));
    if (w->toolTip() != tip) w->setToolTip(tip);
}

void ConfigPageWidget::watch(QWidget* w, int id) {
    watched_[w] = id;
    w->installEventFilter(this);
}

QLabel* ConfigPageWidget::label(const QString& text, QWidget* buddy) {
    auto* l = new QLabel(text);
    l->setBuddy(buddy);
    return l;
}

QLineEdit* ConfigPageWidget::lineEdit(int id, bool readOnly) {
    auto* e = named(new QLineEdit, id);
    if (readOnly) {
        e->setReadOnly(true);
        // Tab moves between the fields that take input; a click still selects for copying.
        e->setFocusPolicy(Qt::ClickFocus);
    }
    return e;
}

bool ConfigPageWidget::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut && !filling_ && !refocusing_) {
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        // A menu, a context menu or another window taking the focus is not leaving the field.
        const bool leaves = reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason ||
                            reason == Qt::MouseFocusReason || reason == Qt::ShortcutFocusReason ||
                            reason == Qt::OtherFocusReason;
        const auto it = watched_.find(watched);
        if (leaves && it != watched_.end()) {
            const int id = it->second;
            // After the focus has moved on: the check's box must not interrupt the move.
            QTimer::singleShot(0, this, [this, id] { check(id); });
        }
    }
    return QWidget::eventFilter(watched, event);
}

bool ConfigPageWidget::check(int id) {
    if (checking_ || !isVisible()) return true;
    checking_ = true;
    const FieldCheck result = leaveField(id);
    showField(id);
    if (result.keepFocus) focusField(id);
    checking_ = false;
    return !result.keepFocus;
}

bool ConfigPageWidget::focusField(int id) {
    QWidget* w = control(id);
    if (!w || !w->isEnabled()) return false;
    refocusing_ = true;
    w->setFocus(Qt::OtherFocusReason);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) edit->selectAll();
    refocusing_ = false;
    return true;
}

bool ConfigPageWidget::checkFocusedField() {
    QWidget* focused = QApplication::focusWidget();
    for (QWidget* w = focused; w && w != this; w = w->parentWidget()) {
        const auto it = watched_.find(w);
        if (it != watched_.end()) return check(it->second);
    }
    return true;
}

}  // namespace qv::ui
