#pragma once
// A read-only transcript pane (sent packets, replies, status lines) that owns its entries.
//
// Every appendEntry adds one entry: a run of text blocks at the end of the pane's plain-text
// document, optionally closed by an empty block that carries a 90 % horizontal rule. The pane keeps
// the first block of every entry, so that "Select packet" finds the entry under the mouse by binary
// search. Its cost per entry does not grow with the number of entries already shown:
// - text goes in in steps of at most kStepChars characters, as many as fit in kTurnBudgetMs per
//   turn of the event loop; a long reply or a burst of replies therefore never blocks the window,
//   and entries appended meanwhile follow in order;
// - a line longer than kPieceChars is shown as several display pieces (blocks marked as the
//   continuation of the line), so that no block is ever laid out whole when a reply has no line
//   breaks; copying joins the pieces again, so copied text is the entry's exact text;
// - the XML colouring is applied only to the blocks that are shown, right before they are painted;
//   each block keeps its end state, and every entry starts in plain text.
// GUI thread only.

#include <QElapsedTimer>
#include <QFuture>
#include <QFutureWatcher>
#include <QPlainTextEdit>
#include <QPoint>
#include <QString>
#include <QTextDocument>

#include <deque>
#include <functional>
#include <unordered_map>
#include <vector>

class FerrikSyntaxHighLighter;
class QAction;
class QTextBlock;
class QTimer;

class FerrikPacketHistory : public QPlainTextEdit {
    Q_OBJECT
public:
    static constexpr qsizetype kPieceChars = 8192;      // longest display piece of a line
    static constexpr qsizetype kStepChars = 64 * 1024;  // characters inserted at a time
    static constexpr int kTurnBudgetMs = 16;            // insertion time per event-loop turn

    explicit FerrikPacketHistory(QWidget* parent = nullptr);
    ~FerrikPacketHistory() override;

    // Adds one entry at the end: text as plain text (markup shown literally), or as an HTML fragment
    // when html is set, closed by a rule when rule is set. The view follows the new text when it
    // stood at the bottom, or always when alwaysFollow is set; otherwise it stays where it is.
    // A toolTip that is not empty is shown while the mouse rests over the entry.
    void appendEntry(const QString& text, bool html, bool rule, bool alwaysFollow,
                     const QString& toolTip = QString());
    // The same for plain text that is still being prepared off the GUI thread: the entry takes its
    // place now and goes in once the text is ready; entries appended after it wait for it.
    void appendEntry(const QFuture<QString>& text, bool rule, bool alwaysFollow,
                     const QString& toolTip = QString());
    // True while an entry is not completely in the pane yet.
    bool isAppending() const { return !pending.empty(); }
    // Empties the pane at once; entries still going in are dropped.
    void clear();

    // The entries shown so far (one still going in counts with the part that is in).
    int entryCount() const { return int(entryStarts.size()); }
    // The entry's text as appended (for HTML, the text it shows), line breaks as line feeds.
    QString entryText(int entry) const;
    bool entryHasRule(int entry) const;
    // The tool tip given to the entry when it was appended; empty when none.
    QString entryToolTip(int entry) const;
    // The entry that holds the block, or -1.
    int entryOfBlock(int blockNumber) const;
    // A cursor that selects the whole entry, its rule included.
    QTextCursor entrySelection(int entry) const;
    // The text between two document positions, display pieces of a line joined again and rules
    // left out.
    QString textBetween(int from, int to) const;

    // Searches the pane from `from` for text, as QTextDocument::find does with these flags
    // (backward, case-sensitive, whole words); the match selected, or a null cursor. The pane's
    // text is read once and kept until the pane changes, so that each step only scans.
    QTextCursor findText(const QString& text, const QTextCursor& from, QTextDocument::FindFlags flags) const;

    // The position (text-area coordinates) at which the context menu was requested; null while no
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

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    QMimeData* createMimeDataFromSelection() const override;

private:
    struct Pending {
        QString text;
        bool html = false;
        bool rule = false;
        bool alwaysFollow = false;
        bool started = false;
        QString toolTip;
        qsizetype done = 0;      // characters of text in the pane
        qsizetype lineEnd = -1;  // index of the line feed (or text end) that ends the current line
        QFutureWatcher<QString>* preparing = nullptr;  // set while the text is not ready
    };
    void queueEntry(Pending entry);
    void textPrepared(QFutureWatcher<QString>* watcher);
    // Milliseconds spent on entries in this turn of the event loop.
    qint64 turnElapsed();
    // Inserts what fits into this turn's budget (at least one step); restarts the timer when something is
    // left.
    void insertPending();
    // Inserts the next step of entry; true when the entry is complete.
    bool insertStep(QTextCursor& cursor, Pending& entry);
    // Appends the entry's next part to `shown` (line feeds as block breaks); `cut` gets, for each
    // break, whether it is a display cut inside a long line.
    void nextPart(Pending& entry, QString& shown, std::vector<bool>& cut) const;
    // Colours the shown blocks that are not coloured yet.
    void colourVisibleBlocks();
    int blockStartState(const QTextBlock& block) const;

    QAction* clearAction;
    QAction* selectAction;
    QAction* savePacketAction;
    QAction* saveOutputAction;
    QPoint menuPoint;
    FerrikSyntaxHighLighter* highlighter;
    std::vector<int> entryStarts;                // first block number of every entry, ascending
    std::unordered_map<int, QString> entryTips;  // tool tips by entry
    void saveTo(const QString& caption, const QString& text);
    std::deque<Pending> pending;
    QTimer* stepTimer;
    QElapsedTimer turnClock;  // since the first entry appended in this turn of the event loop
    QObject* watchedWindow = nullptr;
    mutable QString searchText;  // the document's raw text for findText; empty when stale
};
