#include "FerrikPacketHistory.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QHelpEvent>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QSaveFile>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocumentFragment>
#include <QTextLayout>
#include <QTimer>
#include <QToolTip>

#include <algorithm>
#include <memory>

#include "FerrikSyntaxHighLighter.h"

namespace {

// Per-block state (QTextBlock::userState) of the pane's blocks: the highlighter's state at the
// block's end plus one in the low two bits, and flags. Blocks that the pane did not write have -1.
constexpr int kStateMask = 0x3;
constexpr int kColoured = 0x4;      // the colouring is applied
constexpr int kContinuation = 0x8;  // continues the previous block's line (a display cut)
constexpr int kEntryStart = 0x10;   // first block of an entry: colouring starts in plain text

int endStateOf(int userState) {
    return (userState & kStateMask) - 1;
}

bool isRule(const QTextBlock& block) {
    return block.blockFormat().hasProperty(QTextFormat::BlockTrailingHorizontalRulerWidth);
}

// Where a line that is too long to show whole is cut after `from`: right after a '>' or a space
// near the piece length when there is one, so that tags and words mostly stay whole; never
// between the two halves of a surrogate pair.
qsizetype cutPoint(const QString& text, qsizetype from) {
    const qsizetype end = from + FerrikPacketHistory::kPieceChars;
    for (qsizetype at = end; at > end - 256; --at) {
        const QChar before = text[at - 1];
        if (before == QLatin1Char('>') || before == QLatin1Char(' ')) {
            return at;
        }
    }
    return text[end - 1].isHighSurrogate() ? end - 1 : end;
}

// The document breaks blocks at carriage returns, paragraph separators and frame marks as well as
// at line feeds; the pane makes them line feeds first, so that every block break of an entry is
// one it knows.
void normaliseBreaks(QString& text) {
    const auto isBreak = [](QChar c) {
        return c == QLatin1Char('\r') || c == QChar::ParagraphSeparator || c.unicode() == 0xFDD0 ||
               c.unicode() == 0xFDD1;
    };
    if (std::none_of(text.cbegin(), text.cend(), isBreak)) {
        return;
    }
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    std::replace_if(text.begin(), text.end(), isBreak, QLatin1Char('\n'));
}

}  // namespace

FerrikPacketHistory::FerrikPacketHistory(QWidget* parent)
    : QPlainTextEdit(parent),
      clearAction(new QAction(tr("Clear"), this)),
      selectAction(new QAction(tr("Select packet"), this)),
      savePacketAction(new QAction(tr("Save packet as..."), this)),
      saveOutputAction(new QAction(tr("Save output as..."), this)),
      highlighter(new FerrikSyntaxHighLighter(static_cast<QTextDocument*>(nullptr))),
      stepTimer(new QTimer(this)) {
    highlighter->setParent(this);
    document()->setUndoRedoEnabled(false);
    stepTimer->setSingleShot(true);
    stepTimer->setInterval(0);
    connect(stepTimer, &QTimer::timeout, this, &FerrikPacketHistory::insertPending);
    connect(clearAction, &QAction::triggered, this, [this] { clear(); });
    connect(selectAction, &QAction::triggered, this, &FerrikPacketHistory::selectPacket);
    connect(savePacketAction, &QAction::triggered, this, &FerrikPacketHistory::savePacket);
    connect(saveOutputAction, &QAction::triggered, this, &FerrikPacketHistory::saveOutput);
    chooseSavePath = [](QWidget* parent, const QString& caption) {
        return QFileDialog::getSaveFileName(parent, caption);
    };
    reportSaveFailure = [this](const QString& path, const QString& reason) {
        QMessageBox::warning(this, tr("Save failed"), tr("Could not save %1: %2").arg(path, reason));
    };
}

FerrikPacketHistory::~FerrikPacketHistory() = default;

void FerrikPacketHistory::appendEntry(const QString& text, bool html, bool rule, bool alwaysFollow,
                                      const QString& toolTip) {
    Pending entry;
    entry.toolTip = toolTip;
    entry.text = text;
    entry.html = html;
    entry.rule = rule;
    entry.alwaysFollow = alwaysFollow;
    if (!html) {
        normaliseBreaks(entry.text);
    }
    queueEntry(std::move(entry));
}

void FerrikPacketHistory::appendEntry(const QFuture<QString>& text, bool rule, bool alwaysFollow,
                                      const QString& toolTip) {
    Pending entry;
    entry.toolTip = toolTip;
    entry.rule = rule;
    entry.alwaysFollow = alwaysFollow;
    entry.preparing = new QFutureWatcher<QString>(this);
    QFutureWatcher<QString>* watcher = entry.preparing;
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher] { textPrepared(watcher); });
    watcher->setFuture(text);
    queueEntry(std::move(entry));
}

void FerrikPacketHistory::textPrepared(QFutureWatcher<QString>* watcher) {
    watcher->deleteLater();
    for (Pending& entry : pending) {
        if (entry.preparing == watcher) {
            entry.text = watcher->future().resultCount() > 0 ? watcher->result() : QString();
            normaliseBreaks(entry.text);
            entry.preparing = nullptr;
            if (&entry == &pending.front() && !stepTimer->isActive()) {
                stepTimer->start();
            }
            return;
        }
    }
}

void FerrikPacketHistory::queueEntry(Pending entry) {
    pending.push_back(std::move(entry));
    searchText.clear();
    if (pending.size() > 1 || stepTimer->isActive() || pending.back().preparing) {
        return;  // follows the entries before it, or waits for its text
    }
    // A short entry is in when this returns, unless this turn of the event loop has already spent
    // its budget on entries (a burst of replies): then it goes in on the next turn. A long one
    // starts on the next turn too, since the turn that produced it has usually spent a while on it.
    if (pending.back().text.size() <= kStepChars && turnElapsed() < kTurnBudgetMs) {
        insertPending();
    } else {
        stepTimer->start();
    }
}

qint64 FerrikPacketHistory::turnElapsed() {
    if (!turnClock.isValid()) {
        turnClock.start();
        QTimer::singleShot(0, this, [this] { turnClock.invalidate(); });
    }
    return turnClock.elapsed();
}

void FerrikPacketHistory::clear() {
    searchText.clear();
    for (const Pending& entry : pending) {
        if (entry.preparing) {
            entry.preparing->disconnect(this);
            entry.preparing->deleteLater();
        }
    }
    pending.clear();
    stepTimer->stop();
    entryStarts.clear();
    entryTips.clear();
    QPlainTextEdit::clear();
    document()->setUndoRedoEnabled(false);
}

void FerrikPacketHistory::insertPending() {
    if (pending.empty() || pending.front().preparing) {
        return;  // textPrepared starts it again
    }
    QScrollBar* bar = verticalScrollBar();
    bool follow = bar->value() >= bar->maximum();
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    do {
        Pending& entry = pending.front();
        follow = follow || entry.alwaysFollow;
        if (insertStep(cursor, entry)) {
            pending.pop_front();
        }
    } while (!pending.empty() && !pending.front().preparing && turnElapsed() < kTurnBudgetMs);
    cursor.endEditBlock();
    if (follow) {
        bar->setValue(bar->maximum());
    }
    if (!pending.empty() && !pending.front().preparing) {
        stepTimer->start();
    }
}

bool FerrikPacketHistory::insertStep(QTextCursor& cursor, Pending& entry) {
    int firstFlags = 0;
    if (!entry.started) {
        if (!entryStarts.empty() || !document()->isEmpty()) {
            cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
        }
        entryStarts.push_back(cursor.blockNumber());
        if (!entry.toolTip.isEmpty()) {
            entryTips[entryCount() - 1] = std::move(entry.toolTip);
        }
        entry.started = true;
        firstFlags = kEntryStart;
    } else {
        firstFlags = cursor.block().userState() & (kContinuation | kEntryStart);
    }
    QTextBlock block = cursor.block();

    if (entry.html) {
        cursor.insertFragment(QTextDocumentFragment::fromHtml(entry.text));
        entry.done = entry.text.size();
        int state = FerrikSyntaxHighLighter::PlainText;
        for (int flags = firstFlags; block.isValid() && block.blockNumber() <= cursor.blockNumber();
             block = block.next(), flags = 0) {
            state = FerrikSyntaxHighLighter::scan(block.text(), state);
            block.setUserState(flags | (state + 1));
        }
    } else {
        QString shown;
        std::vector<bool> cut;
        nextPart(entry, shown, cut);
        cursor.insertText(shown, QTextCharFormat());
        // The blocks now hold the lines of `shown`: note each one's end state and flags.
        int state = (firstFlags & kEntryStart) ? int(FerrikSyntaxHighLighter::PlainText)
                                               : endStateOf(block.previous().userState());
        qsizetype lineStart = 0;
        for (size_t line = 0; block.isValid(); ++line, block = block.next()) {
            const qsizetype lineEnd =
                line < cut.size() ? shown.indexOf(QLatin1Char('\n'), lineStart) : shown.size();
            const int flags = line == 0 ? firstFlags : (cut[line - 1] ? kContinuation : 0);
            state = FerrikSyntaxHighLighter::scan(QStringView(shown).sliced(lineStart, lineEnd - lineStart),
                                                  state);
            block.setUserState(flags | (state + 1));
            if (line == cut.size()) {
                break;
            }
            lineStart = lineEnd + 1;
        }
    }

    if (entry.done < entry.text.size()) {
        return false;
    }
    if (entry.rule) {
        QTextBlockFormat ruled;
        ruled.setProperty(QTextFormat::BlockTrailingHorizontalRulerWidth,
                          QTextLength(QTextLength::PercentageLength, 90.0));
        cursor.insertBlock(ruled, QTextCharFormat());
        cursor.block().setUserState(kColoured | (FerrikSyntaxHighLighter::PlainText + 1));
    }
    return true;
}

void FerrikPacketHistory::nextPart(Pending& entry, QString& shown, std::vector<bool>& cut) const {
    const QString& text = entry.text;
    const qsizetype size = text.size();
    shown.reserve(std::min(size - entry.done, kStepChars + kPieceChars) + 64);
    while (entry.done < size && shown.size() < kStepChars) {
        if (entry.lineEnd < entry.done) {
            const qsizetype feed = text.indexOf(QLatin1Char('\n'), entry.done);
            entry.lineEnd = feed < 0 ? size : feed;
        }
        if (entry.lineEnd - entry.done <= kPieceChars) {
            shown.append(QStringView(text).sliced(entry.done, entry.lineEnd - entry.done));
            if (entry.lineEnd == size) {
                entry.done = size;
                break;
            }
            shown.append(QLatin1Char('\n'));
            cut.push_back(false);
            entry.done = entry.lineEnd + 1;
        } else {
            const qsizetype at = cutPoint(text, entry.done);
            shown.append(QStringView(text).sliced(entry.done, at - entry.done));
            shown.append(QLatin1Char('\n'));
            cut.push_back(true);
            entry.done = at;
        }
    }
}

int FerrikPacketHistory::blockStartState(const QTextBlock& block) const {
    const QTextBlock previous = block.previous();
    if ((block.userState() & kEntryStart) || !previous.isValid() || previous.userState() < 0) {
        return FerrikSyntaxHighLighter::PlainText;
    }
    return endStateOf(previous.userState());
}

void FerrikPacketHistory::colourVisibleBlocks() {
    if (!isVisible()) {
        return;
    }
    // Every block takes at least one line, so this many blocks from the first visible one cover
    // the viewport.
    const int lines = viewport()->height() / std::max(1, fontMetrics().lineSpacing()) + 2;
    QTextBlock block = firstVisibleBlock();
    for (int i = 0; block.isValid() && i < lines; ++i, block = block.next()) {
        const int userState = block.userState();
        if (userState < 0 || (userState & kColoured)) {
            continue;
        }
        int state = blockStartState(block);
        block.layout()->setFormats(highlighter->formatRanges(block.text(), state));
        block.setUserState(userState | kColoured);
        document()->markContentsDirty(block.position(), block.length());
    }
}

bool FerrikPacketHistory::eventFilter(QObject* watched, QEvent* event) {
    // The window is about to repaint: colour what will be shown first (never inside paintEvent,
    // since applying formats lays the block out again).
    if (watched == watchedWindow && event->type() == QEvent::UpdateRequest) {
        colourVisibleBlocks();
    }
    return QPlainTextEdit::eventFilter(watched, event);
}

void FerrikPacketHistory::showEvent(QShowEvent* event) {
    QPlainTextEdit::showEvent(event);
    if (watchedWindow != window()) {
        if (watchedWindow) {
            watchedWindow->removeEventFilter(this);
        }
        watchedWindow = window();
        watchedWindow->installEventFilter(this);
    }
    colourVisibleBlocks();
}

void FerrikPacketHistory::paintEvent(QPaintEvent* event) {
    QPlainTextEdit::paintEvent(event);

    // The plain-text layout draws no rules: draw them over the empty blocks that carry one, as a
    // line through the block's middle, centred, at the block format's share of the width.
    QPainter painter(viewport());
    painter.setPen(palette().color(QPalette::Inactive, QPalette::WindowText));
    const QPointF offset = contentOffset();
    const QRect area = event->rect();
    bool uncoloured = false;
    for (QTextBlock block = firstVisibleBlock(); block.isValid(); block = block.next()) {
        const QRectF r = blockBoundingGeometry(block).translated(offset);
        if (r.top() > area.bottom()) {
            break;
        }
        if (block.userState() >= 0 && !(block.userState() & kColoured)) {
            uncoloured = true;
        }
        if (r.bottom() < area.top() || !isRule(block)) {
            continue;
        }
        const QTextLength share =
            block.blockFormat().lengthProperty(QTextFormat::BlockTrailingHorizontalRulerWidth);
        const qreal width = share.value(r.width());
        const qreal middle = r.left() + r.width() / 2;
        const qreal y = r.top() + r.height() / 2;
        painter.drawLine(QLineF(middle - width / 2, y, middle + width / 2, y));
    }
    if (uncoloured) {
        // Shown before any repaint request came through the window (an expose): colour them next.
        QTimer::singleShot(0, this, &FerrikPacketHistory::colourVisibleBlocks);
    }
}

int FerrikPacketHistory::entryOfBlock(int blockNumber) const {
    const auto after = std::upper_bound(entryStarts.begin(), entryStarts.end(), blockNumber);
    if (after == entryStarts.begin() || blockNumber >= document()->blockCount()) {
        return -1;
    }
    return int(after - entryStarts.begin()) - 1;
}

QTextCursor FerrikPacketHistory::entrySelection(int entry) const {
    QTextCursor cursor(document());
    if (entry < 0 || entry >= entryCount()) {
        return cursor;
    }
    const int lastBlock = size_t(entry) + 1 < entryStarts.size() ? entryStarts[size_t(entry) + 1] - 1
                                                                 : document()->blockCount() - 1;
    const QTextBlock last = document()->findBlockByNumber(lastBlock);
    cursor.setPosition(document()->findBlockByNumber(entryStarts[size_t(entry)]).position());
    cursor.setPosition(last.position() + last.length() - 1, QTextCursor::KeepAnchor);
    return cursor;
}

QString FerrikPacketHistory::entryText(int entry) const {
    if (entry < 0 || entry >= entryCount()) {
        return QString();
    }
    const QTextCursor cursor = entrySelection(entry);
    return textBetween(cursor.selectionStart(), cursor.selectionEnd());
}

bool FerrikPacketHistory::entryHasRule(int entry) const {
    if (entry < 0 || entry >= entryCount()) {
        return false;
    }
    // The rule is the entry's last block, a block of its own after the first.
    const QTextBlock last = document()->findBlock(entrySelection(entry).selectionEnd());
    return last.blockNumber() != entryStarts[size_t(entry)] && isRule(last);
}

QString FerrikPacketHistory::textBetween(int from, int to) const {
    QString text;
    text.reserve(std::max(0, to - from));
    bool first = true;
    for (QTextBlock block = document()->findBlock(from); block.isValid() && block.position() <= to;
         block = block.next()) {
        const bool joined = (block.userState() >= 0 && (block.userState() & kContinuation)) || isRule(block);
        if (!first && !joined) {
            text += QLatin1Char('\n');
        }
        first = false;
        const QString line = block.text();
        const int start = std::max(from - block.position(), 0);
        const int end = std::min(to - block.position(), int(line.size()));
        if (end > start) {
            text += QStringView(line).sliced(start, end - start);
        }
    }
    return text;
}

QTextCursor FerrikPacketHistory::findText(const QString& text, const QTextCursor& from,
                                          QTextDocument::FindFlags flags) const {
    if (text.isEmpty()) {
        return QTextCursor();
    }
    if (searchText.isEmpty()) {
        searchText = document()->toRawText();  // one character per document position
    }
    const Qt::CaseSensitivity cs =
        flags.testFlag(QTextDocument::FindCaseSensitively) ? Qt::CaseSensitive : Qt::CaseInsensitive;
    const bool backward = flags.testFlag(QTextDocument::FindBackward);
    const QStringView haystack(searchText);
    qsizetype at = backward ? std::min<qsizetype>(from.selectionStart() - 1, haystack.size() - text.size())
                            : from.selectionEnd();
    while (at >= 0 && at <= haystack.size()) {
        at = backward ? haystack.lastIndexOf(text, at, cs) : haystack.indexOf(text, at, cs);
        if (at < 0) {
            break;
        }
        const qsizetype end = at + text.size();
        const bool whole = (at == 0 || !haystack[at - 1].isLetterOrNumber()) &&
                           (end == haystack.size() || !haystack[end].isLetterOrNumber());
        if (!flags.testFlag(QTextDocument::FindWholeWords) || whole) {
            QTextCursor match(document());
            match.setPosition(int(at));
            match.setPosition(int(end), QTextCursor::KeepAnchor);
            return match;
        }
        at += backward ? -1 : 1;
    }
    return QTextCursor();
}

QMimeData* FerrikPacketHistory::createMimeDataFromSelection() const {
    const QTextCursor cursor = textCursor();
    auto* data = new QMimeData;
    data->setText(textBetween(cursor.selectionStart(), cursor.selectionEnd()));
    return data;
}

int FerrikPacketHistory::entryAtMenuPoint() const {
    if (menuPoint.isNull()) {
        return -1;
    }
    const QTextBlock block = cursorForPosition(menuPoint).block();
    const QRectF r = blockBoundingGeometry(block).translated(contentOffset());
    if (!block.isValid() || menuPoint.y() < r.top() || menuPoint.y() >= r.bottom()) {
        return -1;  // below the last entry
    }
    return entryOfBlock(block.blockNumber());
}

void FerrikPacketHistory::selectPacket() {
    const int entry = entryAtMenuPoint();
    if (entry < 0) {
        return;
    }
    setTextCursor(entrySelection(entry));
    copy();
}

QString FerrikPacketHistory::entryToolTip(int entry) const {
    const auto it = entryTips.find(entry);
    return it == entryTips.end() ? QString() : it->second;
}

bool FerrikPacketHistory::viewportEvent(QEvent* event) {
    if (event->type() != QEvent::ToolTip) {
        return QPlainTextEdit::viewportEvent(event);
    }
    const auto* help = static_cast<QHelpEvent*>(event);
    const QTextBlock block = cursorForPosition(help->pos()).block();
    const QRectF r = blockBoundingGeometry(block).translated(contentOffset());
    const QString tip = block.isValid() && help->pos().y() >= r.top() && help->pos().y() < r.bottom()
                            ? entryToolTip(entryOfBlock(block.blockNumber()))
                            : QString();
    if (tip.isEmpty()) {
        QToolTip::hideText();
        event->ignore();
    } else {
        QToolTip::showText(help->globalPos(), tip, viewport());
    }
    return true;
}

bool FerrikPacketHistory::saveText(const QString& text, const QString& path, QString& error) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        error = file.errorString();
        return false;
    }
    const QByteArray bytes = text.toUtf8();
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        error = file.errorString();
        file.cancelWriting();
        return false;
    }
    return true;
}

void FerrikPacketHistory::saveTo(const QString& caption, const QString& text) {
    const QString path = chooseSavePath ? chooseSavePath(this, caption) : QString();
    if (path.isEmpty()) {
        return;
    }
    QString error;
    if (!saveText(text, path, error)) {
        if (reportSaveFailure) {
            reportSaveFailure(path, error);
        }
    }
}

void FerrikPacketHistory::savePacket() {
    const int entry = entryAtMenuPoint();
    if (entry >= 0) {
        // The menu point is only valid while the menu is open: take the text before asking.
        saveTo(tr("Save packet as..."), entryText(entry));
    }
}

void FerrikPacketHistory::saveOutput() {
    saveTo(tr("Save output as..."), textBetween(0, document()->characterCount() - 1));
}

void FerrikPacketHistory::contextMenuEvent(QContextMenuEvent* event) {
    std::unique_ptr<QMenu> menu(createStandardContextMenu());
    menu->addSeparator();
    menu->addAction(clearAction);
    menu->addAction(selectAction);
    menu->addSeparator();
    menu->addAction(savePacketAction);
    menu->addAction(saveOutputAction);
    menuPoint = event->pos();
    savePacketAction->setEnabled(entryAtMenuPoint() >= 0);
    saveOutputAction->setEnabled(!document()->isEmpty());
    menu->exec(event->globalPos());
    event->accept();
    menu.reset();
    menuPoint = QPoint();
}
