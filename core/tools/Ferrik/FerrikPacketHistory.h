#pragma once
// A read-only transcript pane (sent packets, replies, status lines). Each appended entry is one text
// frame; "Select packet" in the context menu selects and copies the entry under the mouse, "Clear"
// empties the pane. GUI thread only.

#include <QPoint>
#include <QTextEdit>

class FerrikSyntaxHighLighter;
class QAction;

class FerrikPacketHistory : public QTextEdit {
    Q_OBJECT
public:
    explicit FerrikPacketHistory(QWidget* parent = nullptr);
    ~FerrikPacketHistory() override;

    // The position (text-area coordinates) at which the context menu was requested; null while no
    // context menu is open. Set by contextMenuEvent, or by callers that run selectPacket directly.
    void setMenuPoint(const QPoint& point) { menuPoint = point; }

public slots:
    void selectPacket();

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    QAction* clearAction;
    QAction* selectAction;
    QPoint menuPoint;
    FerrikSyntaxHighLighter* highlighter;
};
