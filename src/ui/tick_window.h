#pragma once
// A top-level widget behind the logic's TickWindow interface (the plot and bus monitor
// windows), placed and sized like the tool windows. Not owning: the widget belongs to its Qt
// parent.
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <functional>

#include "app/tool_windows.h"
#include "ui/qt_windows.h"

namespace qv::ui {

// What a window's tick work costs (for the load benchmark): calls, total and longest in ms.
struct TickCost {
    int calls = 0;
    double totalMs = 0;
    double longestMs = 0;
    void add(const QElapsedTimer& t) {
        const double ms = static_cast<double>(t.nsecsElapsed()) / 1e6;
        ++calls;
        totalMs += ms;
        longestMs = std::max(longestMs, ms);
    }
};

class QtTickWindow : public TickWindow {
  public:
    // With `delayMs`, the window's work runs that long after the tick, as an event of its own:
    // it and the painting it causes reach the event loop apart from the tick and the other
    // windows, so that no single piece keeps the loop busy for long. A tick that comes while
    // the work is still pending adds nothing (the work takes all that arrived).
    QtTickWindow(QWidget* widget, std::function<void()> onTick, int delayMs = 0)
        : widget_(widget), onTick_(std::move(onTick)) {
        pending_.setSingleShot(true);
        pending_.setInterval(delayMs);
        QObject::connect(&pending_, &QTimer::timeout, [this] { work(); });
    }

    void show() override {
        if (widget_) showWindow(*widget_);
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
        return widget_ ? windowPosition(*widget_) : ScreenPoint{};
    }
    void moveTo(ScreenPoint p) override {
        if (widget_) moveWindow(*widget_, p);
    }
    std::optional<WindowSize> resizableSize() const override {
        return widget_ ? resizableWindowSize(*widget_) : std::nullopt;
    }
    void resizeTo(WindowSize size) override {
        if (widget_) resizeWindow(*widget_, size);
    }
    void onTick() override {
        if (!widget_ || !onTick_) return;
        if (pending_.interval() <= 0)
            work();
        else if (!pending_.isActive())
            pending_.start();
    }
    const TickCost& cost() const { return cost_; }

  private:
    void work() {
        if (!widget_ || !onTick_) return;
        QElapsedTimer t;
        t.start();
        onTick_();
        cost_.add(t);
    }

    QTimer pending_;
    QPointer<QWidget> widget_;
    std::function<void()> onTick_;
    TickCost cost_;
};

}  // namespace qv::ui
