// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// A read-only transcript pane (sent packets, replies, status lines) that owns its entries.
//
// Every appendEntry adds one entry to the pane's text store (FerrikTextStore): its text, and a
// rule after it when asked. The pane is a view of its own over the store's line index, so that no
// cost grows with what is already shown:
// - the vertical scroll bar counts display lines; only the shown lines are laid out (each with a
//   QTextLayout, wrapped at the pane's width, kept in a small cache) and coloured, each from the
//   highlighter state the store keeps at the end of the line before it;
// - a line longer than kPieceChars is shown as several display pieces, so that no layout is ever
//   longer than a piece; the text stays whole, so find and copy do not see the cuts;
// - text goes in in steps of at most kStepChars characters, as many as fit in kTurnBudgetMs per
//   turn of the event loop; entries appended meanwhile follow in order;
// - selection, find and copy work on offsets into the store's text, which is exactly the text
//   the pane shows (entries separated by a line feed, rules left out).
// Assistive tools read it through FerrikPacketHistoryAccessible (installed by the first pane): new
// text is announced once per turn of the event loop, at most kAnnouncedChars of it.
// Keyboard: the arrows, Home/End and PageUp/PageDown scroll; with Shift they move the selection's
// moving end (the caret) by character (Ctrl: word), by row, to the row's start or end (Ctrl: the
// text's), or by a page, and the view follows it.
// GUI thread only.

#include <QAbstractScrollArea>
#include <QElapsedTimer>
#include <QFuture>
#include <QFutureWatcher>
#include <QPoint>
#include <QString>
#include <QTextDocument>
#include <QTextLayout>

#include <algorithm>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include "FerrikTextStore.h"

class FerrikSyntaxHighLighter;
class QAction;
class QMenu;
class QMimeData;
class QTimer;

class FerrikPacketHistory : public QAbstractScrollArea {
    Q_OBJECT
    Q_PROPERTY(qreal tabStopDistance READ tabStopDistance WRITE setTabStopDistance)
public:
    static constexpr qsizetype kPieceChars = FerrikTextStore::kPieceChars;  // longest display piece
    static constexpr qsizetype kStepChars = qsizetype{64} * 1024;           // characters appended at a time
    static constexpr int kTurnBudgetMs = 16;      // appending time per event-loop turn
    static constexpr int kMargin = 4;             // around the text, in pixels
    static constexpr int kAnnouncedChars = 2000;  // of new text, in one accessibility event

    // A selection or a match: text offsets; the selected text runs from start() to end().
    struct Selection {
        qsizetype anchor = 0;
        qsizetype position = 0;
        qsizetype start() const { return std::min(anchor, position); }
        qsizetype end() const { return std::max(anchor, position); }
        bool hasSelection() const { return anchor != position; }
    };

    explicit FerrikPacketHistory(QWidget* parent = nullptr);
    ~FerrikPacketHistory() override;

    // Adds one entry at the end: text as plain text (markup shown literally), or as an HTML fragment
    // when html is set, closed by a rule when rule is set. The view follows the new text when it
    // stood at the bottom, or always when alwaysFollow is set; otherwise it stays where it is.
    // A toolTip that is not empty is shown while the mouse rests over the entry.
    void appendEntry(const QString& text, bool html, bool rule, bool alwaysFollow,
                     const QString& toolTip = QString());
    // The same for plain text that is still being prepared off the GUI thread, as the future's
    // results one after another (one or several parts): the entry takes its place now and each
    // part goes in once it is ready; entries appended after it wait for the whole entry.
    void appendEntry(const QFuture<QString>& text, bool rule, bool alwaysFollow,
                     const QString& toolTip = QString());
    // True while an entry is not completely in the pane yet.
    bool isAppending() const { return !pending.empty(); }
    // The appending time allowed per event-loop turn (kTurnBudgetMs unless set). Tests pin the
    // stepping with it: 0 makes every entry wait for the next turn, as on a machine too slow for
    // any budget; a large one keeps short entries going in at once. The default applies to panes
    // made after it is set (the test programs run whole suites on 0 that way).
    int turnBudget() const { return turnBudgetMs; }
    void setTurnBudget(int ms) { turnBudgetMs = ms; }
    static void setDefaultTurnBudget(int ms) { defaultTurnBudgetMs = ms; }
    // Empties the pane at once; entries still going in are dropped.
    void clear();

    bool isReadOnly() const { return true; }
    qreal tabStopDistance() const { return tabStop; }
    void setTabStopDistance(qreal distance);

    // The pane's whole text: entries separated by a line feed, as copying everything gives it.
    const QString& toPlainText() const { return store.text(); }
    // The entries shown so far (one still going in counts with the part that is in).
    int entryCount() const { return store.entryCount(); }
    // The entry's text as appended (for HTML, the text it shows), line breaks as line feeds.
    QString entryText(int entry) const;
    bool entryHasRule(int entry) const;
    // The tool tip given to the entry when it was appended; empty when none.
    QString entryToolTip(int entry) const;
    // The entry's text as a selection (start to end).
    Selection entrySelection(int entry) const;

    // The display lines (text lines, pieces of long lines, rules) and what the pane paints on each:
    // its text and its formats (the highlighter's, over an HTML line's own).
    const FerrikTextStore& lines() const { return store; }
    QList<QTextLayout::FormatRange> lineFormats(int line) const;

    Selection selection() const { return selected; }
    bool hasSelection() const { return selected.hasSelection(); }
    QString selectedText() const;
    // Selects from anchor to position (clamped to the text) and scrolls position into view.
    void setSelection(qsizetype anchor, qsizetype position);

    // Searches the text from `from` for text, as QTextDocument::find does with these flags
    // (backward: a match that starts before `from`; case-sensitive; whole words); the match, or
    // nothing. Matches may span display pieces and entries.
    std::optional<Selection> findText(const QString& text, qsizetype from,
                                      QTextDocument::FindFlags flags) const;

    // Viewport geometry: the text offset under a point (-1 when no line is there), and the
    // cursor rectangle at an offset (null when it is not shown).
    qsizetype positionAt(const QPoint& point) const;
    QRect positionRect(qsizetype pos) const;
    // The rectangle of the character at pos (viewport coordinates; null when it is not shown).
    QRect characterRect(qsizetype pos) const;
    // Scrolls so that the line holding pos is shown.
    void ensureVisible(qsizetype pos);

    // The position (viewport coordinates) at which the context menu was requested; null while no
    // context menu is open. Set by contextMenuEvent, or by callers that run selectPacket directly.
    void setMenuPoint(const QPoint& point) { menuPoint = point; }
    // The entry under the context menu's position, or -1 (no menu, or below the last entry).
    int entryAtMenuPoint() const;

    // Writes text to path as UTF-8, atomically: the file is replaced only once everything is
    // written, and a failure leaves no partial file. false with `error` saying why.
    static bool saveText(const QString& text, const QString& path, QString& error);
    // Asks for the path a save writes to ("Save packet as...", "Save output as..."); an empty
    // path cancels. Defaults to the file dialog; tests put their own chooser here.
    std::function<QString(QWidget* parent, const QString& caption)> chooseSavePath;
    // Says that a save from the context menu failed: the path and the reason. Defaults to a
    // warning box; the window shows it as a red "Error:" line instead.
    std::function<void(const QString& path, const QString& reason)> reportSaveFailure;

public slots:
    void selectPacket();
    // The entry under the context menu (its exact text), or the whole pane as text, to a file
    // chosen by chooseSavePath.
    void savePacket();
    void saveOutput();
    // The selected text to the clipboard; everything selected.
    void copy();
    void selectAll();

protected:
    bool event(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    QMimeData* createMimeDataFromSelection() const;

private:
    struct Pending {
        QString text;
        bool html = false;
        bool rule = false;
        bool alwaysFollow = false;
        bool started = false;
        QString toolTip;
        qsizetype done = 0;                            // characters of text in the pane
        QFutureWatcher<QString>* preparing = nullptr;  // set while parts of the text may follow
    };
    void queueEntry(Pending entry);
    // Parts [begin, end) of an entry's text are ready; or all of them (finished).
    void partsPrepared(QFutureWatcher<QString>* watcher, int begin, int end);
    void textPrepared(QFutureWatcher<QString>* watcher);
    // Whether the entry has text to append now (or only needs closing).
    static bool canStep(const Pending& entry) { return !entry.preparing || entry.done < entry.text.size(); }
    // Milliseconds spent on entries in this turn of the event loop.
    qint64 turnElapsed();
    // Appends what fits into this turn's budget (at least one step); restarts the timer when
    // something is left.
    void insertPending();
    // Appends the next step of entry; true when the entry is complete.
    bool insertStep(Pending& entry);

    // A display line laid out at the current width, from the cache.
    const QTextLayout& layoutOf(int line) const;
    qreal lineHeight(int line) const;
    // The first line shown when `line` is at the bottom of the viewport with as many whole lines
    // before it as fit (the scroll value that shows it last).
    int firstLineShowing(int line) const;
    void dropLayouts();
    // The shown lines from the top of the viewport: line, top and height.
    struct Shown {
        int line;
        qreal top;
        qreal height;
    };
    std::vector<Shown> shownLines() const;
    // The line under y (viewport coordinates) with its top, or line -1.
    Shown lineAtY(qreal y) const;
    // The text offset nearest to a point, clamped to the text (for selecting with the mouse).
    qsizetype nearestPosition(const QPoint& point) const;
    void updateScrollRange();
    QMenu* createStandardContextMenu();
    // Sets the selection, repaints and tells assistive tools when it changed.
    void select(qsizetype anchor, qsizetype position);
    // The caret moved by a key: where the key takes `from` (Qt::Key_Left, ...; ctrl: by word or to
    // the text's ends).
    qsizetype movedPosition(qsizetype from, int key, bool ctrl) const;
    // The position one row above (up) or below pos, at the same x; pos itself on the first or last row.
    qsizetype rowNeighbour(qsizetype pos, bool up) const;
    // Tells assistive tools of the text appended since the last announcement (announceTimer).
    void announceAppended();

    FerrikTextStore store;
    Selection selected;
    qreal tabStop = 80;
    QAction* clearAction;
    QAction* selectAction;
    QAction* savePacketAction;
    QAction* saveOutputAction;
    QPoint menuPoint;
    FerrikSyntaxHighLighter* highlighter;
    std::unordered_map<int, QString> entryTips;  // tool tips by entry
    void saveTo(const QString& caption, const QString& text);
    std::deque<Pending> pending;
    QTimer* stepTimer;
    QTimer* announceTimer;           // one accessibility event per turn for the text appended
    qsizetype unannouncedFrom = -1;  // where that text starts; -1: none
    QElapsedTimer turnClock;         // since the first entry appended in this turn of the event loop
    static inline int defaultTurnBudgetMs = kTurnBudgetMs;
    int turnBudgetMs = defaultTurnBudgetMs;
    bool selecting = false;  // the left button is down and drags a selection
    struct Cached {
        std::unique_ptr<QTextLayout> layout;
        qint32 length = 0;  // of the line when laid out (the last line still grows)
        qreal height = 0;
    };
    mutable std::unordered_map<int, Cached> layouts;  // by line
};
