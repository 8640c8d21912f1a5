#include "ui/hex_edit.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>

namespace qv::ui {

namespace {

QColor toQColor(const Rgb& c) {
    return QColor(c.r, c.g, c.b);
}

std::optional<HexEditCommand> commandNamed(const std::string& text) {
    static const std::pair<const char*, HexEditCommand> kCommands[] = {
        {"&Undo", HexEditCommand::Undo},      {"Cu&t", HexEditCommand::Cut},
        {"&Copy", HexEditCommand::Copy},      {"&Paste", HexEditCommand::Paste},
        {"&Delete", HexEditCommand::Delete},  {"Select &All", HexEditCommand::SelectAll},
        {"Con&vert", HexEditCommand::Convert}};
    for (const auto& [name, command] : kCommands)
        if (text == name) return command;
    return std::nullopt;
}

}  // namespace

HexEdit::HexEdit(QWidget* parent) : QLineEdit(parent) {
    // Dropped text would pass the keyboard filter by.
    setDragEnabled(false);
    setAcceptDrops(false);
    connect(this, &QLineEdit::textChanged, this, &HexEdit::follow);
    connect(this, &QLineEdit::textEdited, this, &HexEdit::userEdited);
    follow(QString());
}

void HexEdit::follow(const QString& text) {
    logic_.setText(text.toStdString());
    QPalette p = palette();
    p.setColor(QPalette::Text, textColour());
    p.setColor(QPalette::Base, backgroundColour());
    setPalette(p);
}

QColor HexEdit::textColour() const {
    return toQColor(logic_.colours().text);
}

QColor HexEdit::backgroundColour() const {
    return toQColor(logic_.colours().background);
}

void HexEdit::showText(const std::string& text) {
    setText(QString::fromStdString(text));
}

std::pair<std::size_t, std::size_t> HexEdit::selection() const {
    if (hasSelectedText())
        return {static_cast<std::size_t>(selectionStart()),
                static_cast<std::size_t>(selectionEnd())};
    const auto caret = static_cast<std::size_t>(cursorPosition());
    return {caret, caret};
}

std::optional<std::string> HexEdit::clipboardText() const {
    const QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard) return std::nullopt;
    const QString text = clipboard->text();
    if (text.isEmpty()) return std::nullopt;
    return text.toStdString();
}

bool HexEdit::normaliseClipboard() {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard) {
        QMessageBox::warning(this, windowTitle(), kCannotOpenClipboardText);
        return false;
    }
    if (const auto text = clipboardText())
        clipboard->setText(QString::fromStdString(CHexEdit::normaliseClipboard(*text)));
    return true;
}

void HexEdit::keyPressEvent(QKeyEvent* e) {
    const auto [start, end] = selection();
    if (e->matches(QKeySequence::Paste)) {
        const auto text = clipboardText();
        if (isReadOnly() || !text || !logic_.canPaste(*text, start, end)) {
            e->accept();
            return;
        }
        normaliseClipboard();
        QLineEdit::keyPressEvent(e);
        return;
    }
    const bool cut = e->matches(QKeySequence::Cut);
    if (cut || e->key() == Qt::Key_Backspace || e->key() == Qt::Key_Delete) {
        if (!logic_.mayRemove(start, end, e->key() == Qt::Key_Backspace)) {
            e->accept();
            return;
        }
        if (cut) normaliseClipboard();
        QLineEdit::keyPressEvent(e);
        return;
    }
    const QString typed = e->text();
    const bool printable = typed.size() == 1 && typed[0].isPrint() &&
                           !(e->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
    if (!printable) {
        QLineEdit::keyPressEvent(e);
        return;
    }
    e->accept();
    if (isReadOnly() || typed[0].unicode() > 0x7F) return;
    if (const auto c = logic_.filterChar(static_cast<char>(typed[0].unicode()), start, end)) {
        insert(QString(QChar(*c)));  // an edit of the user's: textEdited follows
    }
}

std::unique_ptr<QMenu> HexEdit::buildContextMenu() {
    const auto [start, end] = selection();
    auto menu = std::make_unique<QMenu>(this);
    const auto items =
        logic_.contextMenu(isUndoAvailable(), isReadOnly(), start, end, clipboardText());
    for (const HexEditMenuItem& item : items) {
        const auto command = commandNamed(item.text);
        if (!command) {
            menu->addSeparator();
            continue;
        }
        QAction* a = menu->addAction(QString::fromStdString(item.text));
        a->setEnabled(item.enabled);
        connect(a, &QAction::triggered, this, [this, c = *command] { runCommand(c); });
    }
    return menu;
}

void HexEdit::contextMenuEvent(QContextMenuEvent* e) {
    const std::unique_ptr<QMenu> menu = buildContextMenu();
    menu->exec(e->globalPos());
}

void HexEdit::runCommand(HexEditCommand command) {
    switch (command) {
        case HexEditCommand::Undo:
        case HexEditCommand::Cut:
        case HexEditCommand::Copy:
        case HexEditCommand::Paste:
        case HexEditCommand::Delete:
            if (!normaliseClipboard()) return;
            break;
        case HexEditCommand::SelectAll:
            selectAll();
            return;
        case HexEditCommand::Convert: {
            const std::string before = logic_.text();
            CHexEdit converted = logic_;
            converted.convert();
            if (converted.text() == before) return;
            setText(QString::fromStdString(converted.text()));
            emit userEdited(text());
            return;
        }
    }
    switch (command) {
        case HexEditCommand::Undo:
            undo();
            break;
        case HexEditCommand::Cut:
            cut();
            break;
        case HexEditCommand::Copy:
            copy();
            break;
        case HexEditCommand::Paste:
            paste();
            break;
        case HexEditCommand::Delete:
            del();
            break;
        default:
            break;
    }
}

}  // namespace qv::ui
