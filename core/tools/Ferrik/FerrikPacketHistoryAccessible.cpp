// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "FerrikPacketHistoryAccessible.h"

#include <QTextBoundaryFinder>

#include <algorithm>
#include <climits>

#include "FerrikPacketHistory.h"

namespace {

QAccessibleInterface* createInterface(const QString& className, QObject* object) {
    if (className == QLatin1String("FerrikPacketHistory") && object != nullptr && object->isWidgetType()) {
        return new FerrikPacketHistoryAccessible(static_cast<FerrikPacketHistory*>(object));
    }
    return nullptr;
}

FerrikPacketHistoryAccessible::Observer g_observer = nullptr;  // GUI thread only

int toInt(qsizetype value) {
    return int(std::min<qsizetype>(value, INT_MAX));
}

}  // namespace

FerrikPacketHistoryAccessible::FerrikPacketHistoryAccessible(FerrikPacketHistory* pane)
    : QAccessibleWidget(pane, QAccessible::EditableText) {}

void FerrikPacketHistoryAccessible::install() {
    static const bool installed = [] {
        QAccessible::installFactory(&createInterface);
        return true;
    }();
    (void)installed;
}

bool FerrikPacketHistoryAccessible::listening() {
    return g_observer != nullptr || QAccessible::isActive();
}

void FerrikPacketHistoryAccessible::notify(QAccessibleEvent* event) {
    if (g_observer != nullptr) {
        g_observer(event);
    }
    QAccessible::updateAccessibility(event);
}

void FerrikPacketHistoryAccessible::setObserver(Observer observer) {
    g_observer = observer;
}

FerrikPacketHistory* FerrikPacketHistoryAccessible::pane() const {
    return static_cast<FerrikPacketHistory*>(widget());
}

void* FerrikPacketHistoryAccessible::interface_cast(QAccessible::InterfaceType type) {
    if (type == QAccessible::TextInterface) {
        return static_cast<QAccessibleTextInterface*>(this);
    }
    return QAccessibleWidget::interface_cast(type);
}

QAccessible::State FerrikPacketHistoryAccessible::state() const {
    QAccessible::State state = QAccessibleWidget::state();
    state.readOnly = true;
    state.editable = false;
    state.multiLine = true;
    state.selectableText = true;
    return state;
}

QString FerrikPacketHistoryAccessible::text(QAccessible::Text kind) const {
    QString text = QAccessibleWidget::text(kind);
    if (kind == QAccessible::Name && text.isEmpty()) {
        text = FerrikPacketHistory::tr("Transcript");
    }
    return text;
}

// --- selection and caret ---

void FerrikPacketHistoryAccessible::selection(int selectionIndex, int* startOffset, int* endOffset) const {
    const FerrikPacketHistory::Selection selected = pane()->selection();
    if (selectionIndex != 0 || !selected.hasSelection()) {
        *startOffset = *endOffset = 0;
        return;
    }
    *startOffset = toInt(selected.start());
    *endOffset = toInt(selected.end());
}

int FerrikPacketHistoryAccessible::selectionCount() const {
    return pane()->hasSelection() ? 1 : 0;
}

void FerrikPacketHistoryAccessible::addSelection(int startOffset, int endOffset) {
    setSelection(0, startOffset, endOffset);
}

void FerrikPacketHistoryAccessible::removeSelection(int selectionIndex) {
    if (selectionIndex == 0) {
        const qsizetype caret = pane()->selection().position;
        pane()->setSelection(caret, caret);
    }
}

void FerrikPacketHistoryAccessible::setSelection(int selectionIndex, int startOffset, int endOffset) {
    if (selectionIndex == 0) {
        pane()->setSelection(startOffset, endOffset);
    }
}

int FerrikPacketHistoryAccessible::cursorPosition() const {
    return toInt(pane()->selection().position);
}

void FerrikPacketHistoryAccessible::setCursorPosition(int position) {
    pane()->setSelection(position, position);
}

// --- text ---

int FerrikPacketHistoryAccessible::characterCount() const {
    return toInt(pane()->toPlainText().size());
}

QString FerrikPacketHistoryAccessible::text(int startOffset, int endOffset) const {
    const QString& all = pane()->toPlainText();
    const qsizetype from = std::clamp<qsizetype>(startOffset, 0, all.size());
    const qsizetype to = endOffset < 0 ? all.size() : std::clamp<qsizetype>(endOffset, from, all.size());
    return all.mid(from, to - from);
}

bool FerrikPacketHistoryAccessible::segmentAt(int offset, QAccessible::TextBoundaryType boundaryType,
                                              int& start, int& end) const {
    const QString& all = pane()->toPlainText();
    const qsizetype size = all.size();
    if (offset < 0 || offset >= size) {
        return false;
    }
    if (boundaryType == QAccessible::NoBoundary) {
        start = 0;
        end = toInt(size);
        return true;
    }
    if (boundaryType == QAccessible::CharBoundary) {
        start = offset;
        end = offset + (all[offset].isHighSurrogate() && offset + 1 < size ? 2 : 1);
        return true;
    }
    // The text line that holds offset, with its line feed.
    const qsizetype lineStart = offset == 0 ? 0 : all.lastIndexOf(QLatin1Char('\n'), offset - 1) + 1;
    const qsizetype feed = all.indexOf(QLatin1Char('\n'), offset);
    const qsizetype lineEnd = feed < 0 ? size : feed + 1;
    if (boundaryType == QAccessible::LineBoundary || boundaryType == QAccessible::ParagraphBoundary) {
        start = toInt(lineStart);
        end = toInt(lineEnd);
        return true;
    }
    // Words and sentences: the boundary finder over a window of the line around offset.
    const qsizetype from = std::max<qsizetype>(lineStart, offset - kBoundaryWindow);
    const qsizetype to = std::min<qsizetype>(lineEnd, offset + kBoundaryWindow);
    const QString window = all.mid(from, to - from);
    QTextBoundaryFinder finder(
        boundaryType == QAccessible::WordBoundary ? QTextBoundaryFinder::Word : QTextBoundaryFinder::Sentence,
        window);
    finder.setPosition(offset - from);
    qsizetype begin = finder.isAtBoundary() ? finder.position() : finder.toPreviousBoundary();
    finder.setPosition(offset - from);
    qsizetype finish = finder.toNextBoundary();
    begin = begin < 0 ? 0 : begin;
    finish = finish < 0 ? window.size() : finish;
    start = toInt(from + begin);
    end = toInt(from + finish);
    return true;
}

QString FerrikPacketHistoryAccessible::textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                                    int* startOffset, int* endOffset) const {
    if (offset == -2) {
        offset = cursorPosition();  // the caret, as the interface's callers may ask
    }
    // At the end of the text (the caret's usual place) the last piece is the one meant.
    if (offset == characterCount() && offset > 0 && boundaryType != QAccessible::CharBoundary) {
        --offset;
    }
    int start = 0;
    int end = 0;
    if (!segmentAt(offset, boundaryType, start, end)) {
        *startOffset = *endOffset = -1;
        return QString();
    }
    *startOffset = start;
    *endOffset = end;
    return text(start, end);
}

QString FerrikPacketHistoryAccessible::textBeforeOffset(int offset,
                                                        QAccessible::TextBoundaryType boundaryType,
                                                        int* startOffset, int* endOffset) const {
    int start = 0;
    int end = 0;
    if (offset == characterCount() && offset > 0) {
        // Before the end: the last piece.
        return textAtOffset(offset - 1, boundaryType, startOffset, endOffset);
    }
    if (!segmentAt(offset, boundaryType, start, end) || start == 0) {
        *startOffset = *endOffset = -1;
        return QString();
    }
    return textAtOffset(start - 1, boundaryType, startOffset, endOffset);
}

QString FerrikPacketHistoryAccessible::textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                                       int* startOffset, int* endOffset) const {
    int start = 0;
    int end = 0;
    if (!segmentAt(offset, boundaryType, start, end) || end >= characterCount()) {
        *startOffset = *endOffset = -1;
        return QString();
    }
    return textAtOffset(end, boundaryType, startOffset, endOffset);
}

// --- geometry ---

QRect FerrikPacketHistoryAccessible::characterRect(int offset) const {
    const QRect rect = pane()->characterRect(offset);
    if (rect.isNull()) {
        return QRect();
    }
    return QRect(pane()->viewport()->mapToGlobal(rect.topLeft()), rect.size());
}

int FerrikPacketHistoryAccessible::offsetAtPoint(const QPoint& point) const {
    return toInt(pane()->positionAt(pane()->viewport()->mapFromGlobal(point)));
}

void FerrikPacketHistoryAccessible::scrollToSubstring(int startIndex, int endIndex) {
    pane()->ensureVisible(endIndex);
    pane()->ensureVisible(startIndex);
}

QString FerrikPacketHistoryAccessible::attributes(int offset, int* startOffset, int* endOffset) const {
    // No text attributes are offered: the whole text is one run.
    (void)offset;
    *startOffset = 0;
    *endOffset = characterCount();
    return QString();
}
