#pragma once
// What the Configuration window's page widgets share: every control named by its id, the
// page's check when the user leaves a field (with the focus given back when the value was
// refused), and showing the page's state without forwarding it back as input.
#include <QWidget>
#include <map>

#include "config/pages/page_fields.h"

class QLabel;
class QLineEdit;

namespace qv::ui {

class ConfigPageWidget : public QWidget {
    Q_OBJECT

  public:
    explicit ConfigPageWidget(QWidget* parent = nullptr);

    // Every control from the page's state.
    virtual void showPage() = 0;
    // "The focus moves to the window": the check of the field being edited, if any. False when
    // the field refused its value (it keeps the focus).
    virtual bool checkFocusedField();
    // Gives the focus to control `id` (selecting an edit's text); false when it has none here.
    virtual bool focusField(int id);
    QWidget* control(int id) const;

  protected:
    // Registers `w` as control `id` (its objectName) and returns it.
    template <typename W>
    W* named(W* w, int id) {
        nameControl(w, id);
        return w;
    }
    // Leaving `w` runs the page's check of `id`.
    void watch(QWidget* w, int id);
    QLabel* label(const QString& text, QWidget* buddy);
    // The tool tip of control `id`: the page model's range and unit of the field.
    void showHint(int id, const std::string& hint);
    QLineEdit* lineEdit(int id, bool readOnly = false);

    virtual FieldCheck leaveField(int id) = 0;
    // Shows one control again (after its check, or after the page refused an edit).
    virtual void showField(int id) = 0;

    bool eventFilter(QObject* watched, QEvent* event) override;

    // Set while showing the page's state: the controls' signals are not the user's input.
    bool filling_ = false;

  private:
    void nameControl(QWidget* w, int id);
    // Runs the check of `id`; false when the value was refused.
    bool check(int id);

    std::map<int, QWidget*> controls_;
    std::map<QObject*, int> watched_;
    bool checking_ = false;
    bool refocusing_ = false;
};

// Filling a page's controls without taking their signals as input.
class Filling {
  public:
    explicit Filling(bool& flag) : flag_(flag), before_(flag) { flag_ = true; }
    ~Filling() { flag_ = before_; }
    Filling(const Filling&) = delete;
    Filling& operator=(const Filling&) = delete;

  private:
    bool& flag_;
    bool before_;
};

}  // namespace qv::ui
