// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "FerrikPacketHistory.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QSaveFile>
#include <QScrollBar>
#include <QTimer>
#include <QToolTip>

#include <climits>
#include <iterator>
#include <utility>

#include "FerrikColours.h"
#include "FerrikPacketHistoryAccessible.h"
#include "FerrikSyntaxHighLighter.h"

namespace {

// The store breaks lines at line feeds only; the pane makes carriage returns (a CR LF is one
// break) and paragraph separators line feeds first, so that a reply shows as its lines.
void normaliseBreaks(QString& text) {
    const auto isBreak = [](QChar c) { return c == QLatin1Char('\r') || c == QChar::ParagraphSeparator; };
    if (std::none_of(text.cbegin(), text.cend(), isBreak)) {
        return;
    }
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    std::replace_if(text.begin(), text.end(), isBreak, QLatin1Char('\n'));
}

constexpr size_t kCachedLayouts = 1024;

}  // namespace

FerrikPacketHistory::FerrikPacketHistory(QWidget* parent)
    : QAbstractScrollArea(parent),
      clearAction(new QAction(tr("Clear"), this)),
      selectAction(new QAction(tr("Select packet"), this)),
      savePacketAction(new QAction(tr("Save packet as..."), this)),
      saveOutputAction(new QAction(tr("Save output as..."), this)),
      highlighter(new FerrikSyntaxHighLighter(static_cast<QTextDocument*>(nullptr))),
      stepTimer(new QTimer(this)),
      announceTimer(new QTimer(this)) {
    FerrikPacketHistoryAccessible::install();
    highlighter->setParent(this);
    highlighter->setPalette(palette());
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setFocusProxy(this);  // a click into the text focuses the pane (type-to-search)
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    verticalScrollBar()->setSingleStep(1);
    stepTimer->setSingleShot(true);
    stepTimer->setInterval(0);
    connect(stepTimer, &QTimer::timeout, this, &FerrikPacketHistory::insertPending);
    announceTimer->setSingleShot(true);
    announceTimer->setInterval(0);
    connect(announceTimer, &QTimer::timeout, this, &FerrikPacketHistory::announceAppended);
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

// --- appending ---

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
    connect(watcher, &QFutureWatcherBase::resultsReadyAt, this,
            [this, watcher](int begin, int end) { partsPrepared(watcher, begin, end); });
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher] { textPrepared(watcher); });
    watcher->setFuture(text);
    queueEntry(std::move(entry));
}

void FerrikPacketHistory::partsPrepared(QFutureWatcher<QString>* watcher, int begin, int end) {
    for (Pending& entry : pending) {
        if (entry.preparing == watcher) {
            for (int i = begin; i < end; ++i) {
                QString part = watcher->resultAt(i);
                normaliseBreaks(part);
                if (entry.done == entry.text.size()) {
                    entry.text = std::move(part);  // what came before is in: no copy of a long part
                    entry.done = 0;
                } else {
                    entry.text += part;
                }
            }
            if (&entry == &pending.front() && !stepTimer->isActive()) {
                stepTimer->start();
            }
            return;
        }
    }
}

void FerrikPacketHistory::textPrepared(QFutureWatcher<QString>* watcher) {
    watcher->deleteLater();
    for (Pending& entry : pending) {
        if (entry.preparing == watcher) {
            entry.preparing = nullptr;  // every part is in entry.text
            if (&entry == &pending.front() && !stepTimer->isActive()) {
                stepTimer->start();
            }
            return;
        }
    }
}

void FerrikPacketHistory::queueEntry(Pending entry) {
    pending.push_back(std::move(entry));
    if (pending.size() > 1 || stepTimer->isActive() || pending.back().preparing) {
        return;  // follows the entries before it, or waits for its text
    }
    // A short entry is in when this returns, unless this turn of the event loop has already spent
    // its budget on entries (a burst of replies): then it goes in on the next turn. A long one
    // starts on the next turn too, since the turn that produced it has usually spent a while on it.
    if (pending.back().text.size() <= kStepChars && turnElapsed() < turnBudgetMs) {
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
    for (const Pending& entry : pending) {
        if (entry.preparing) {
            entry.preparing->disconnect(this);
            entry.preparing->deleteLater();
        }
    }
    pending.clear();
    stepTimer->stop();
    announceTimer->stop();
    unannouncedFrom = -1;
    if (store.size() > 0 && FerrikPacketHistoryAccessible::listening()) {
        QAccessibleTextRemoveEvent removed(this, 0, store.text().left(kAnnouncedChars));
        FerrikPacketHistoryAccessible::notify(&removed);
    }
    store.clear();
    entryTips.clear();
    select(0, 0);
    dropLayouts();
    updateScrollRange();
    viewport()->update();
}

void FerrikPacketHistory::insertPending() {
    if (pending.empty() || !canStep(pending.front())) {
        return;  // partsPrepared or textPrepared starts it again
    }
    QScrollBar* bar = verticalScrollBar();
    bool follow = bar->value() >= bar->maximum();
    if (unannouncedFrom < 0) {
        unannouncedFrom = store.size();
    }
    do {
        Pending& entry = pending.front();
        follow = follow || entry.alwaysFollow;
        if (insertStep(entry)) {
            pending.pop_front();
        }
    } while (!pending.empty() && canStep(pending.front()) && turnElapsed() < turnBudgetMs);
    updateScrollRange();
    if (follow) {
        bar->setValue(bar->maximum());
    }
    viewport()->update();
    if (!announceTimer->isActive()) {
        announceTimer->start();
    }
    if (!pending.empty() && canStep(pending.front())) {
        stepTimer->start();
    }
}

void FerrikPacketHistory::announceAppended() {
    const qsizetype from = std::exchange(unannouncedFrom, -1);
    if (from < 0 || from >= store.size() || !FerrikPacketHistoryAccessible::listening()) {
        return;
    }
    // One event for everything appended in this turn, however much: a long reply costs one copy
    // of its first characters, not one event per step or per line.
    QAccessibleTextInsertEvent inserted(this, int(std::min<qsizetype>(from, INT_MAX)),
                                        store.text().mid(from, kAnnouncedChars));
    FerrikPacketHistoryAccessible::notify(&inserted);
}

bool FerrikPacketHistory::insertStep(Pending& entry) {
    if (!entry.started) {
        store.startEntry();
        if (!entry.toolTip.isEmpty()) {
            entryTips[entryCount() - 1] = std::move(entry.toolTip);
        }
        entry.started = true;
    }
    if (entry.html) {
        store.appendHtml(entry.text);
        entry.done = entry.text.size();
    } else {
        const qsizetype part = std::min(kStepChars, entry.text.size() - entry.done);
        store.append(QStringView(entry.text).sliced(entry.done, part));
        entry.done += part;
    }
    if (entry.done < entry.text.size() || entry.preparing) {
        return false;  // more text, or more parts to come
    }
    store.finishEntry(entry.rule);
    return true;
}

// --- entries ---

QString FerrikPacketHistory::entryText(int entry) const {
    if (entry < 0 || entry >= entryCount()) {
        return QString();
    }
    const Selection range = entrySelection(entry);
    return store.text().mid(range.start(), range.end() - range.start());
}

bool FerrikPacketHistory::entryHasRule(int entry) const {
    return entry >= 0 && entry < entryCount() && store.entryHasRule(entry);
}

FerrikPacketHistory::Selection FerrikPacketHistory::entrySelection(int entry) const {
    if (entry < 0 || entry >= entryCount()) {
        return Selection();
    }
    return {store.entryStart(entry), store.entryEnd(entry)};
}

QString FerrikPacketHistory::entryToolTip(int entry) const {
    const auto it = entryTips.find(entry);
    return it == entryTips.end() ? QString() : it->second;
}

// --- layout and painting ---

void FerrikPacketHistory::setTabStopDistance(qreal distance) {
    tabStop = distance;
    dropLayouts();
    updateScrollRange();
    viewport()->update();
}

QList<QTextLayout::FormatRange> FerrikPacketHistory::lineFormats(int line) const {
    if (line < 0 || line >= store.lineCount() || (store.line(line).flags & FerrikTextStore::Rule)) {
        return {};
    }
    // The highlighter's formats come after the line's own, so they win where both apply. The
    // line's own colours (red warnings, navy progress) are matched to the palette as the
    // highlighter's are.
    QList<QTextLayout::FormatRange> formats = store.lineFormats(line);
    if (ferrik::isDarkPalette(palette())) {
        for (QTextLayout::FormatRange& range : formats) {
            if (range.format.hasProperty(QTextFormat::ForegroundBrush)) {
                range.format.setForeground(
                    ferrik::textColourFor(range.format.foreground().color(), palette()));
            }
        }
    }
    int state = store.lineStartState(line);
    formats += highlighter->formatRanges(store.lineText(line), state);
    return formats;
}

const QTextLayout& FerrikPacketHistory::layoutOf(int line) const {
    const qint32 length = store.line(line).length;
    const auto it = layouts.find(line);
    if (it != layouts.end() && it->second.length == length) {
        return *it->second.layout;
    }
    if (layouts.size() >= kCachedLayouts) {
        layouts.clear();
    }
    auto layout = std::make_unique<QTextLayout>(store.lineText(line).toString(), font(), viewport());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    option.setTabStopDistance(tabStop);
    layout->setTextOption(option);
    layout->setFormats(lineFormats(line));
    layout->setCacheEnabled(true);
    const qreal width = std::max(1, viewport()->width() - 2 * kMargin);
    qreal y = 0;
    layout->beginLayout();
    for (QTextLine row = layout->createLine(); row.isValid(); row = layout->createLine()) {
        row.setLineWidth(width);
        row.setPosition(QPointF(0, y));
        y += row.height();
    }
    layout->endLayout();
    Cached& cached = layouts[line];
    cached.layout = std::move(layout);
    cached.length = length;
    cached.height = y;
    return *cached.layout;
}

qreal FerrikPacketHistory::lineHeight(int line) const {
    layoutOf(line);
    return layouts[line].height;
}

void FerrikPacketHistory::dropLayouts() {
    layouts.clear();
}

std::vector<FerrikPacketHistory::Shown> FerrikPacketHistory::shownLines() const {
    std::vector<Shown> shown;
    const qreal bottom = viewport()->height();
    qreal y = kMargin;
    for (int line = verticalScrollBar()->value(); line < store.lineCount() && y < bottom; ++line) {
        const qreal height = lineHeight(line);
        shown.push_back({line, y, height});
        y += height;
    }
    return shown;
}

FerrikPacketHistory::Shown FerrikPacketHistory::lineAtY(qreal y) const {
    for (const Shown& shown : shownLines()) {
        if (y >= shown.top && y < shown.top + shown.height) {
            return shown;
        }
    }
    return {-1, 0, 0};
}

void FerrikPacketHistory::updateScrollRange() {
    // The last value shows the last line at the bottom.
    const int lines = store.lineCount();
    QScrollBar* bar = verticalScrollBar();
    bar->setRange(0, lines == 0 ? 0 : firstLineShowing(lines - 1));
    bar->setPageStep(std::max(1, int(viewport()->height() / QFontMetricsF(font()).lineSpacing()) - 1));
}

void FerrikPacketHistory::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    const qreal width = viewport()->width() - 2 * kMargin;
    QTextCharFormat highlight;
    highlight.setBackground(palette().brush(QPalette::Highlight));
    highlight.setForeground(palette().brush(QPalette::HighlightedText));
    const QString& text = store.text();
    // Whether the line feed at `at` (the end of a text line, or where a rule stands) is selected.
    const auto breakSelected = [&](qsizetype at) {
        return at < text.size() && text[at] == QLatin1Char('\n') && selected.start() <= at &&
               selected.end() > at;
    };
    for (const Shown& shown : shownLines()) {
        const FerrikTextStore::Line& line = store.line(shown.line);
        if (line.flags & FerrikTextStore::Rule) {
            if (breakSelected(line.start)) {
                painter.fillRect(QRectF(kMargin, shown.top, width, shown.height), highlight.background());
            }
            // A rule: a line through the middle of the line, centred, 90 % of the width.
            painter.setPen(palette().color(QPalette::Inactive, QPalette::WindowText));
            const qreal middle = kMargin + width / 2;
            const qreal y = shown.top + shown.height / 2;
            painter.drawLine(QLineF(middle - width * 0.45, y, middle + width * 0.45, y));
            continue;
        }
        QList<QTextLayout::FormatRange> selections;
        const qsizetype from = std::max(selected.start(), line.start);
        const qsizetype to = std::min(selected.end(), line.start + line.length);
        if (to > from) {
            selections.append({int(from - line.start), int(to - from), highlight});
        }
        const QTextLayout& layout = layoutOf(shown.line);
        if (breakSelected(line.start + line.length)) {
            // A selected line break: the rest of the last row is selected, as text editors show it.
            const QTextLine last = layout.lineAt(layout.lineCount() - 1);
            const qreal x = kMargin + last.naturalTextWidth();
            painter.fillRect(
                QRectF(x, shown.top + last.y(), std::max<qreal>(kMargin + width - x, kMargin), last.height()),
                highlight.background());
        }
        painter.setPen(palette().color(QPalette::Text));
        layout.draw(&painter, QPointF(kMargin, shown.top), selections);
    }
}

void FerrikPacketHistory::resizeEvent(QResizeEvent* event) {
    // Lines wrap at the new width; a view that stood at the bottom stays there.
    QScrollBar* bar = verticalScrollBar();
    const bool atBottom = bar->value() >= bar->maximum();
    QAbstractScrollArea::resizeEvent(event);
    dropLayouts();
    updateScrollRange();
    if (atBottom) {
        bar->setValue(bar->maximum());
    }
}

void FerrikPacketHistory::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        highlighter->setPalette(palette());
    }
    if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange) {
        dropLayouts();
        updateScrollRange();
        viewport()->update();
    }
}

void FerrikPacketHistory::scrollContentsBy(int, int) {
    viewport()->update();
}

// --- positions and selection ---

qsizetype FerrikPacketHistory::positionAt(const QPoint& point) const {
    const Shown shown = lineAtY(point.y());
    if (shown.line < 0) {
        return -1;
    }
    const FerrikTextStore::Line& line = store.line(shown.line);
    if (line.flags & FerrikTextStore::Rule) {
        return line.start;
    }
    const QTextLayout& layout = layoutOf(shown.line);
    const qreal y = point.y() - shown.top;
    for (int i = 0; i < layout.lineCount(); ++i) {
        const QTextLine row = layout.lineAt(i);
        if (y < row.y() + row.height() || i + 1 == layout.lineCount()) {
            return line.start + row.xToCursor(point.x() - kMargin);
        }
    }
    return line.start;
}

qsizetype FerrikPacketHistory::nearestPosition(const QPoint& point) const {
    const qsizetype at = positionAt(point);
    if (at >= 0) {
        return at;
    }
    const std::vector<Shown> shown = shownLines();
    if (shown.empty()) {
        return 0;
    }
    if (point.y() < shown.front().top) {
        return store.line(shown.front().line).start;
    }
    const FerrikTextStore::Line& last = store.line(shown.back().line);
    return last.start + last.length;
}

QRect FerrikPacketHistory::positionRect(qsizetype pos) const {
    const int line = store.lineAt(pos);
    for (const Shown& shown : shownLines()) {
        if (shown.line == line) {
            const QTextLayout& layout = layoutOf(line);
            const int at = int(pos - store.line(line).start);
            const QTextLine row = layout.lineForTextPosition(at);
            if (!row.isValid()) {
                break;
            }
            return QRect(int(kMargin + row.cursorToX(at)), int(shown.top + row.y()), 1, int(row.height()));
        }
    }
    return QRect();
}

QRect FerrikPacketHistory::characterRect(qsizetype pos) const {
    const QRect caret = positionRect(pos);
    if (caret.isNull() || pos >= store.size()) {
        return caret;
    }
    const QRect next = positionRect(pos + 1);
    const bool sameRow = !next.isNull() && next.top() == caret.top() && next.left() > caret.left();
    const int width = sameRow ? next.left() - caret.left()
                              : std::max(1, QFontMetrics(font()).horizontalAdvance(store.text()[pos]));
    return QRect(caret.left(), caret.top(), width, caret.height());
}

void FerrikPacketHistory::ensureVisible(qsizetype pos) {
    const int line = store.lineAt(pos);
    if (line < 0) {
        return;
    }
    QScrollBar* bar = verticalScrollBar();
    if (line < bar->value()) {
        bar->setValue(line);
        return;
    }
    for (const Shown& shown : shownLines()) {
        if (shown.line == line && shown.top + shown.height <= viewport()->height()) {
            return;  // shown whole
        }
    }
    bar->setValue(firstLineShowing(line));
}

int FerrikPacketHistory::firstLineShowing(int line) const {
    // The line at the bottom, with as many lines before it as fit whole.
    qreal room = viewport()->height() - kMargin - lineHeight(line);
    int first = line;
    while (first > 0 && room - lineHeight(first - 1) >= 0) {
        room -= lineHeight(--first);
    }
    return first;
}

QString FerrikPacketHistory::selectedText() const {
    return store.text().mid(selected.start(), selected.end() - selected.start());
}

void FerrikPacketHistory::setSelection(qsizetype anchor, qsizetype position) {
    select(std::clamp<qsizetype>(anchor, 0, store.size()), std::clamp<qsizetype>(position, 0, store.size()));
    ensureVisible(selected.position);
}

void FerrikPacketHistory::selectAll() {
    select(0, store.size());
}

void FerrikPacketHistory::select(qsizetype anchor, qsizetype position) {
    const Selection before = selected;
    selected = {anchor, position};
    viewport()->update();
    if (!FerrikPacketHistoryAccessible::listening()) {
        return;
    }
    const auto offset = [](qsizetype at) { return int(std::min<qsizetype>(at, INT_MAX)); };
    if (before.start() != selected.start() || before.end() != selected.end()) {
        QAccessibleTextSelectionEvent changed(this, offset(selected.start()), offset(selected.end()));
        changed.setCursorPosition(offset(selected.position));
        FerrikPacketHistoryAccessible::notify(&changed);
    } else if (before.position != selected.position) {
        QAccessibleTextCursorEvent moved(this, offset(selected.position));
        FerrikPacketHistoryAccessible::notify(&moved);
    }
}

qsizetype FerrikPacketHistory::rowNeighbour(qsizetype pos, bool up) const {
    int index = store.lineAt(pos);
    if (index < 0) {
        return pos;
    }
    const QTextLayout* layout = &layoutOf(index);
    const int at = int(pos - store.line(index).start);
    QTextLine row = layout->lineForTextPosition(at);
    if (!row.isValid()) {
        return pos;
    }
    const qreal x = row.cursorToX(at);
    int rowIndex = row.lineNumber() + (up ? -1 : 1);
    if (rowIndex < 0 || rowIndex >= layout->lineCount()) {
        // The next display line that has text, skipping rules.
        do {
            index += up ? -1 : 1;
        } while (index >= 0 && index < store.lineCount() &&
                 (store.line(index).flags & FerrikTextStore::Rule));
        if (index < 0 || index >= store.lineCount()) {
            return up ? 0 : store.size();
        }
        layout = &layoutOf(index);
        rowIndex = up ? layout->lineCount() - 1 : 0;
    }
    return store.line(index).start + layout->lineAt(rowIndex).xToCursor(x);
}

qsizetype FerrikPacketHistory::movedPosition(qsizetype from, int key, bool ctrl) const {
    const QString& text = store.text();
    const qsizetype size = text.size();
    switch (key) {
        case Qt::Key_Left:
            if (ctrl) {
                while (from > 0 && !text[from - 1].isLetterOrNumber()) {
                    --from;
                }
                while (from > 0 && text[from - 1].isLetterOrNumber()) {
                    --from;
                }
                return from;
            }
            return from > 1 && text[from - 1].isLowSurrogate() ? from - 2 : std::max<qsizetype>(from - 1, 0);
        case Qt::Key_Right:
            if (ctrl) {
                while (from < size && text[from].isLetterOrNumber()) {
                    ++from;
                }
                while (from < size && !text[from].isLetterOrNumber()) {
                    ++from;
                }
                return from;
            }
            return from + 1 < size && text[from].isHighSurrogate() ? from + 2 : std::min(from + 1, size);
        case Qt::Key_Up:
        case Qt::Key_Down:
            return rowNeighbour(from, key == Qt::Key_Up);
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
            for (int i = 0; i < verticalScrollBar()->pageStep(); ++i) {
                from = rowNeighbour(from, key == Qt::Key_PageUp);
            }
            return from;
        case Qt::Key_Home:
        case Qt::Key_End: {
            if (ctrl) {
                return key == Qt::Key_Home ? 0 : size;
            }
            const int index = store.lineAt(from);
            if (index < 0) {
                return from;
            }
            const QTextLayout& layout = layoutOf(index);
            const FerrikTextStore::Line& line = store.line(index);
            const QTextLine row = layout.lineForTextPosition(int(from - line.start));
            if (!row.isValid()) {
                return from;
            }
            if (key == Qt::Key_Home) {
                return line.start + row.textStart();
            }
            // The row's end: before a wrapped row's trailing space, at the line's end otherwise.
            const qsizetype end = line.start + row.textStart() + row.textLength();
            return row.lineNumber() + 1 < layout.lineCount() && end > line.start ? end - 1 : end;
        }
        default:
            return from;
    }
}

QMimeData* FerrikPacketHistory::createMimeDataFromSelection() const {
    auto* data = new QMimeData;
    data->setText(selectedText());
    return data;
}

void FerrikPacketHistory::copy() {
    if (hasSelection()) {
        QApplication::clipboard()->setMimeData(createMimeDataFromSelection());
    }
}

std::optional<FerrikPacketHistory::Selection> FerrikPacketHistory::findText(
    const QString& text, qsizetype from, QTextDocument::FindFlags flags) const {
    if (text.isEmpty()) {
        return std::nullopt;
    }
    const Qt::CaseSensitivity cs =
        flags.testFlag(QTextDocument::FindCaseSensitively) ? Qt::CaseSensitive : Qt::CaseInsensitive;
    const bool backward = flags.testFlag(QTextDocument::FindBackward);
    const QStringView haystack(store.text());
    qsizetype at = backward ? std::min<qsizetype>(from - 1, haystack.size() - text.size()) : from;
    while (at >= 0 && at <= haystack.size()) {
        at = backward ? haystack.lastIndexOf(text, at, cs) : haystack.indexOf(text, at, cs);
        if (at < 0) {
            break;
        }
        const qsizetype end = at + text.size();
        const bool whole = (at == 0 || !haystack[at - 1].isLetterOrNumber()) &&
                           (end == haystack.size() || !haystack[end].isLetterOrNumber());
        if (!flags.testFlag(QTextDocument::FindWholeWords) || whole) {
            return Selection{at, end};
        }
        at += backward ? -1 : 1;
    }
    return std::nullopt;
}

// --- input ---

bool FerrikPacketHistory::event(QEvent* event) {
    // Copy and Select All are the pane's while it has the focus, before any window shortcut.
    if (event->type() == QEvent::ShortcutOverride) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->matches(QKeySequence::Copy) || key->matches(QKeySequence::SelectAll)) {
            event->accept();
            return true;
        }
    }
    return QAbstractScrollArea::event(event);
}

void FerrikPacketHistory::keyPressEvent(QKeyEvent* event) {
    QScrollBar* bar = verticalScrollBar();
    static constexpr int kMoves[] = {Qt::Key_Left,   Qt::Key_Right,    Qt::Key_Up,   Qt::Key_Down,
                                     Qt::Key_PageUp, Qt::Key_PageDown, Qt::Key_Home, Qt::Key_End};
    const bool shift = event->modifiers().testFlag(Qt::ShiftModifier);
    if (shift && std::find(std::begin(kMoves), std::end(kMoves), event->key()) != std::end(kMoves)) {
        // Shift with a movement key extends the selection from its anchor.
        const qsizetype to =
            movedPosition(selected.position, event->key(), event->modifiers().testFlag(Qt::ControlModifier));
        select(selected.anchor, to);
        ensureVisible(to);
        QClipboard* clipboard = QApplication::clipboard();
        if (hasSelection() && clipboard->supportsSelection()) {
            clipboard->setText(selectedText(), QClipboard::Selection);
        }
        event->accept();
        return;
    }
    if (event->matches(QKeySequence::Copy)) {
        copy();
    } else if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
    } else if (event->key() == Qt::Key_PageUp) {
        bar->triggerAction(QAbstractSlider::SliderPageStepSub);
    } else if (event->key() == Qt::Key_PageDown) {
        bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
    } else if (event->key() == Qt::Key_Up) {
        bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
    } else if (event->key() == Qt::Key_Down) {
        bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    } else if (event->key() == Qt::Key_Home) {
        bar->triggerAction(QAbstractSlider::SliderToMinimum);
    } else if (event->key() == Qt::Key_End) {
        bar->triggerAction(QAbstractSlider::SliderToMaximum);
    } else {
        event->ignore();
        return;
    }
    event->accept();
}

void FerrikPacketHistory::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        return;
    }
    const qsizetype at = nearestPosition(event->position().toPoint());
    select(event->modifiers().testFlag(Qt::ShiftModifier) ? selected.anchor : at, at);
    selecting = true;
}

void FerrikPacketHistory::mouseMoveEvent(QMouseEvent* event) {
    if (!selecting) {
        return;
    }
    const QPoint point = event->position().toPoint();
    if (point.y() < 0) {
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    } else if (point.y() >= viewport()->height()) {
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    }
    select(selected.anchor, nearestPosition(point));
}

void FerrikPacketHistory::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !selecting) {
        return;
    }
    selecting = false;
    QClipboard* clipboard = QApplication::clipboard();
    if (hasSelection() && clipboard->supportsSelection()) {
        clipboard->setText(selectedText(), QClipboard::Selection);
    }
}

void FerrikPacketHistory::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        return;
    }
    // The word under the mouse (letters and digits), whole also where a long line is cut into
    // display pieces: the text has no cut, and a word ends at the line's end anyway.
    const qsizetype at = positionAt(event->position().toPoint());
    if (at < 0) {
        return;
    }
    const QString& text = store.text();
    qsizetype from = at;
    qsizetype to = at;
    while (from > 0 && text[from - 1].isLetterOrNumber()) {
        --from;
    }
    while (to < text.size() && text[to].isLetterOrNumber()) {
        ++to;
    }
    select(from, to);
    selecting = true;
}

bool FerrikPacketHistory::viewportEvent(QEvent* event) {
    if (event->type() != QEvent::ToolTip) {
        return QAbstractScrollArea::viewportEvent(event);
    }
    const auto* help = static_cast<QHelpEvent*>(event);
    const QString tip = entryToolTip(store.entryOfLine(lineAtY(help->pos().y()).line));
    if (tip.isEmpty()) {
        QToolTip::hideText();
        event->ignore();
    } else {
        QToolTip::showText(help->globalPos(), tip, viewport());
    }
    return true;
}

// --- context menu ---

int FerrikPacketHistory::entryAtMenuPoint() const {
    if (menuPoint.isNull()) {
        return -1;
    }
    return store.entryOfLine(lineAtY(menuPoint.y()).line);  // -1 below the last line
}

void FerrikPacketHistory::selectPacket() {
    const int entry = entryAtMenuPoint();
    if (entry < 0) {
        return;
    }
    const Selection whole = entrySelection(entry);
    select(whole.anchor, whole.position);
    copy();
}

QMenu* FerrikPacketHistory::createStandardContextMenu() {
    auto* menu = new QMenu(this);
    QAction* copyAction = menu->addAction(tr("&Copy"), QKeySequence::Copy, this, &FerrikPacketHistory::copy);
    copyAction->setEnabled(hasSelection());
    menu->addSeparator();
    QAction* all =
        menu->addAction(tr("Select All"), QKeySequence::SelectAll, this, &FerrikPacketHistory::selectAll);
    all->setEnabled(store.size() > 0);
    return menu;
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
    saveOutputAction->setEnabled(entryCount() > 0);
    menu->exec(event->globalPos());
    event->accept();
    menu.reset();
    menuPoint = QPoint();
}

// --- saving ---

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
    saveTo(tr("Save output as..."), store.text());
}
