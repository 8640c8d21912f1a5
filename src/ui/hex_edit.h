#pragma once
// The CAN identifier edit (CHexEdit's widget): decimal or "0x" hexadecimal, painted in the
// colours of its kind, typing filtered so that the text stays a number, and its own context
// menu with "Con&vert". The decisions are CHexEdit's; this widget forwards keys and commands.
#include <QLineEdit>
#include <memory>
#include <string>

#include "config/pages/hex_edit.h"

class QMenu;

namespace qv::ui {

class HexEdit : public QLineEdit {
    Q_OBJECT

  public:
    explicit HexEdit(QWidget* parent = nullptr);

    // Shows `text` as the program's own (no userEdited).
    void showText(const std::string& text);
    const CHexEdit& logic() const { return logic_; }
    QColor textColour() const;
    QColor backgroundColour() const;

    // The context menu as it opens now; its actions run the commands.
    std::unique_ptr<QMenu> buildContextMenu();
    // A context-menu command, as the menu runs it.
    void runCommand(HexEditCommand command);

  signals:
    // The user changed the text (typing, the menu, Convert).
    void userEdited(const QString& text);

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    // Start and end of the selection, or the caret twice.
    std::pair<std::size_t, std::size_t> selection() const;
    std::optional<std::string> clipboardText() const;
    // Puts the clipboard's text back normalised; false when there is no clipboard.
    bool normaliseClipboard();
    void follow(const QString& text);

    CHexEdit logic_;
};

}  // namespace qv::ui
