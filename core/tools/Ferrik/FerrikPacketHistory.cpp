#include "FerrikPacketHistory.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QMenu>
#include <QTextFrame>

#include <memory>

#include "FerrikSyntaxHighLighter.h"

FerrikPacketHistory::FerrikPacketHistory(QWidget* parent)
    : QTextEdit(parent),
      clearAction(new QAction(tr("Clear"), this)),
      selectAction(new QAction(tr("Select packet"), this)),
      highlighter(new FerrikSyntaxHighLighter(document())) {
    connect(clearAction, &QAction::triggered, this, &QTextEdit::clear);
    connect(selectAction, &QAction::triggered, this, &FerrikPacketHistory::selectPacket);
}

FerrikPacketHistory::~FerrikPacketHistory() = default;

void FerrikPacketHistory::selectPacket() {
    if (menuPoint.isNull()) {
        return;
    }
    const QTextCursor at = cursorForPosition(menuPoint);
    QTextFrame* frame = at.currentFrame();
    if (!frame || frame == document()->rootFrame()) {
        return;
    }
    QTextCursor selection = frame->firstCursorPosition();
    selection.setPosition(frame->lastPosition(), QTextCursor::KeepAnchor);
    setTextCursor(selection);
    copy();
}

void FerrikPacketHistory::contextMenuEvent(QContextMenuEvent* event) {
    std::unique_ptr<QMenu> menu(createStandardContextMenu());
    menu->addSeparator();
    menu->addAction(clearAction);
    menu->addAction(selectAction);
    menuPoint = event->pos();
    menu->exec(event->globalPos());
    event->accept();
    menu.reset();
    menuPoint = QPoint();
}
