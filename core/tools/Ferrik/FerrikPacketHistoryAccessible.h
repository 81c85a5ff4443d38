// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// What assistive tools (screen readers, magnifiers) see of a transcript pane: a read-only,
// multi-line text with a name, its whole text, the selection and the caret (the selection's moving
// end), each character's rectangle on the screen and the text around an offset by character,
// word, sentence, line or paragraph, as Qt's own text widgets offer them. The pane installs the
// factory (install()) when the first pane is made, so every program that shows a pane gets it.
//
// Offsets are those of FerrikPacketHistory::toPlainText (entries separated by a line feed). A line
// is a text line with its line feed; words and sentences are looked up within the text line, at
// most kBoundaryWindow characters either side of the offset, so that no query reads a long reply
// whole. GUI thread only, as every accessible interface.

#include <QAccessibleWidget>

class FerrikPacketHistory;

class FerrikPacketHistoryAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    static constexpr int kBoundaryWindow = 4096;

    explicit FerrikPacketHistoryAccessible(FerrikPacketHistory* pane);

    // Registers the factory with QAccessible; only the first call does anything.
    static void install();
    // Whether a pane's accessibility events have a receiver: an assistive tool (QAccessible is
    // active) or the observer. Panes build no event otherwise.
    static bool listening();
    // Hands an event of a pane to Qt (QAccessible::updateAccessibility, which passes it on to the
    // assistive tools) and to the observer.
    static void notify(QAccessibleEvent* event);
    // Sees every event that a pane hands to Qt, whether or not an assistive tool listens (Qt
    // drops them then); null for none. For tests and benchmarks.
    using Observer = void (*)(QAccessibleEvent* event);
    static void setObserver(Observer observer);

    void* interface_cast(QAccessible::InterfaceType type) override;
    QAccessible::State state() const override;
    QString text(QAccessible::Text kind) const override;

    // QAccessibleTextInterface
    void selection(int selectionIndex, int* startOffset, int* endOffset) const override;
    int selectionCount() const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    QString text(int startOffset, int endOffset) const override;
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                             int* endOffset) const override;
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                            int* endOffset) const override;
    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                         int* endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint& point) const override;
    void scrollToSubstring(int startIndex, int endIndex) override;
    QString attributes(int offset, int* startOffset, int* endOffset) const override;

private:
    FerrikPacketHistory* pane() const;
    // The piece [start, end) of the boundary type that holds offset; false when there is none.
    bool segmentAt(int offset, QAccessible::TextBoundaryType boundaryType, int& start, int& end) const;
};
