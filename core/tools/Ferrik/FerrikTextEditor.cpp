// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "FerrikTextEditor.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QTextBlock>
#include <QTextDocument>

#include <memory>

#include "FerrikDlg.h"
#include "FerrikSyntaxHighLighter.h"
#include "TextOps.h"

namespace {

QString closingTagOf(const QString& tag) {
    QString close = tag;
    close.insert(1, QLatin1Char('/'));
    return close;
}

}  // namespace

FerrikTextEditor::FerrikTextEditor(QWidget* parent)
    : QTextEdit(parent),
      createPacketAction(new QAction(tr("Create packet"), this)),
      encodeAction(new QAction(tr("Base64 encode"), this)),
      decodeAction(new QAction(tr("Base64 decode"), this)),
      highlighter(new FerrikSyntaxHighLighter(document())) {
    connect(createPacketAction, &QAction::triggered, this, &FerrikTextEditor::createPacket);
    encodeAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    connect(encodeAction, &QAction::triggered, this, &FerrikTextEditor::base64Encode);
    addAction(encodeAction);
    decodeAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
    connect(decodeAction, &QAction::triggered, this, &FerrikTextEditor::base64Decode);
    addAction(decodeAction);
    highlighter->setPalette(palette());
}

FerrikTextEditor::~FerrikTextEditor() = default;

void FerrikTextEditor::changeEvent(QEvent* event) {
    QTextEdit::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        highlighter->setPalette(palette());  // the colours that stay readable on the new Base
    }
}

int FerrikTextEditor::tabSize() const {
    return mainWindow ? mainWindow->tab : 4;
}

QString FerrikTextEditor::indentUnit() const {
    const int size = tabSize();
    return size != 0 ? QString(qMax(size, 0), QLatin1Char(' ')) : QStringLiteral("\t");
}

// A tag is "<name>" right before the caret: the text from the last "<" of the line up to the caret,
// ending in ">", holding no "/", no white space and no other ">". (Word-wise cursor movement cannot
// be used to find it: the toolkit treats "<" and ">" as words of their own.)
QString FerrikTextEditor::openingTagAtCursor() const {
    const QTextCursor cursor = textCursor();
    const QString line = cursor.block().text().left(cursor.positionInBlock());
    const qsizetype open = line.lastIndexOf(QLatin1Char('<'));
    if (open < 0 || !line.endsWith(QLatin1Char('>'))) {
        return {};
    }
    const QStringView tag = QStringView(line).sliced(open);
    if (tag.size() < 3 || tag.count(QLatin1Char('>')) != 1 || tag.contains(QLatin1Char('/'))) {
        return {};
    }
    for (const QChar c : tag) {
        if (c.isSpace()) {
            return {};
        }
    }
    return tag.toString();
}

void FerrikTextEditor::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        insertIndentedNewLine();
        event->accept();
    } else if (event->key() == Qt::Key_Space && (event->modifiers() & Qt::ControlModifier)) {
        closeNearestTag();
        event->accept();
    } else {
        QTextEdit::keyPressEvent(event);
    }
}

void FerrikTextEditor::insertIndentedNewLine() {
    QTextCursor cursor = textCursor();
    const int pos = cursor.position();
    const QTextBlock block = cursor.block();
    const QString beforeCursor = block.text().left(pos - block.position());
    qsizetype white = 0;
    while (white < beforeCursor.size() && beforeCursor[white].isSpace()) {
        ++white;
    }
    QString indent = beforeCursor.left(white);

    const QString tag = openingTagAtCursor();
    if (!tag.isEmpty()) {
        const QTextCursor open = document()->find(tag, cursor);
        const QTextCursor close = document()->find(closingTagOf(tag), cursor);
        if (close.isNull() || (!open.isNull() && open.position() <= close.position())) {
            cursor.beginEditBlock();
            cursor.insertBlock();
            cursor.insertText(indent + closingTagOf(tag));
            cursor.endEditBlock();
            indent += indentUnit();
        }
    }

    QTextCursor insert(document());
    insert.setPosition(pos);
    insert.beginEditBlock();
    insert.insertBlock();
    insert.insertText(indent);
    insert.endEditBlock();
    setTextCursor(insert);
    ensureCursorVisible();
}

void FerrikTextEditor::closeNearestTag() {
    const int pos = textCursor().position();
    QString tag = openingTagAtCursor();
    while (tag.isEmpty() && !textCursor().atBlockStart()) {
        moveCursor(QTextCursor::Left);
        tag = openingTagAtCursor();
    }
    QTextCursor cursor = textCursor();
    cursor.setPosition(pos);
    if (!tag.isEmpty()) {
        cursor.insertText(closingTagOf(tag));
        cursor.setPosition(pos);
    }
    setTextCursor(cursor);
}

void FerrikTextEditor::createPacket() {
    QTextCursor cursor = textCursor();
    const QString name = cursor.selectedText();
    if (name.isEmpty()) {
        return;
    }
    QString head = QStringLiteral("<packet>\n\t<target>") + name +
                   QStringLiteral("</target>\n\t<data>\n\t\t<") + name + QStringLiteral(">\n\t\t\t<");
    QString tail = QStringLiteral(">\n\t\t</") + name + QStringLiteral(">\n\t</data>\n</packet>");
    const int size = tabSize();
    if (size > 0) {
        const QString spaces(size, QLatin1Char(' '));
        head.replace(QLatin1Char('\t'), spaces);
        tail.replace(QLatin1Char('\t'), spaces);
    }
    cursor.beginEditBlock();
    cursor.insertText(head);
    const int mark = cursor.position();
    cursor.insertText(tail);
    cursor.endEditBlock();
    cursor.setPosition(mark);
    setTextCursor(cursor);
    ensureCursorVisible();
}

void FerrikTextEditor::base64Encode() {
    convertSelection(&ferrik::base64EncodeText);
}

void FerrikTextEditor::base64Decode() {
    convertSelection(&ferrik::base64DecodeText);
}

void FerrikTextEditor::convertSelection(QString (*convert)(const QString&)) {
    QTextCursor cursor = textCursor();
    QString input = cursor.selectedText();
    if (input.isEmpty()) {
        QClipboard* clipboard = QApplication::clipboard();
        QString subtype = QStringLiteral("plain");
        input = clipboard->text(subtype, QClipboard::Selection);
        if (input.isEmpty()) {
            input = clipboard->text(subtype, QClipboard::Clipboard);
        }
        if (input.isEmpty()) {
            return;
        }
    }
    const QString result = convert(input);
    if (result.isEmpty()) {
        return;
    }
    const int start = cursor.selectionStart();
    cursor.insertText(result);
    cursor.setPosition(cursor.position());
    cursor.setPosition(start, QTextCursor::KeepAnchor);
    setTextCursor(cursor);
    setFocus();
}

void FerrikTextEditor::contextMenuEvent(QContextMenuEvent* event) {
    std::unique_ptr<QMenu> menu(createStandardContextMenu());
    menu->addSeparator();
    menu->addAction(createPacketAction);
    menu->exec(event->globalPos());
    event->accept();
}
