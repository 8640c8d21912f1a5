#pragma once
// A top-level widget behind the logic's TickWindow interface (the plot and bus monitor
// windows). Not owning: the widget belongs to its Qt parent.
#include <QPointer>
#include <QWidget>
#include <functional>

#include "app/tool_windows.h"

namespace qv::ui {

class QtTickWindow : public TickWindow {
  public:
    QtTickWindow(QWidget* widget, std::function<void()> onTick)
        : widget_(widget), onTick_(std::move(onTick)) {}

    void show() override {
        if (widget_) widget_->show();
    }
    void hide() override {
        if (widget_) widget_->hide();
    }
    void setEnabled(bool enabled) override {
        if (widget_) widget_->setEnabled(enabled);
    }
    bool isVisible() const override { return widget_ && widget_->isVisible(); }
    bool isEnabled() const override { return widget_ && widget_->isEnabled(); }
    void raise() override {
        if (!widget_) return;
        widget_->raise();
        widget_->activateWindow();
    }
    ScreenPoint position() const override {
        if (!widget_) return {};
        const QPoint p = widget_->frameGeometry().topLeft();
        return {p.x(), p.y()};
    }
    void moveTo(ScreenPoint p) override {
        if (widget_) widget_->move(p.x, p.y);
    }
    void onTick() override {
        if (widget_ && onTick_) onTick_();
    }

  private:
    QPointer<QWidget> widget_;
    std::function<void()> onTick_;
};

}  // namespace qv::ui
