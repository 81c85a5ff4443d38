// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// The text of a transcript pane and its line index.
//
// Entries follow one another in one string, separated by a line feed; the string is exactly what
// copying the whole pane gives (a rule after an entry is a line of the index, not text). The index
// holds every display line: a line of the text, or a piece of at most kPieceChars characters of a
// longer one (the text itself stays whole, so searching and copying see no cut), or a rule. Every
// complete line keeps the highlighter's state at its end, so that any shown line can be coloured
// on its own; every entry starts in plain text. Appending costs the length of the appended text,
// whatever is already stored. Lines of HTML entries keep the character formats of their fragment.

#include <QList>
#include <QString>
#include <QStringView>
#include <QTextLayout>

#include <unordered_map>
#include <vector>

class FerrikTextStore {
public:
    static constexpr qsizetype kPieceChars = 8192;  // longest display line

    enum LineFlag : quint8 {
        EntryStart = 0x1,    // first line of an entry
        Continuation = 0x2,  // continues the line before it (a display cut, no line feed between)
        Rule = 0x4,          // the rule after an entry: no text
        Html = 0x8,          // has character formats of its own
    };
    struct Line {
        qsizetype start = 0;  // offset in text()
        qint32 length = 0;
        quint8 flags = 0;
        qint8 endState = -1;  // highlighter state at the line's end, once the line is complete
    };

    // Opens a new entry at the end (after a line feed unless it is the first).
    void startEntry();
    // Appends text to the open entry; line feeds start new lines.
    void append(QStringView part);
    // Appends an HTML fragment to the open entry as the text it shows, keeping its formats.
    void appendHtml(const QString& html);
    // Closes the open entry, with a rule line after it when rule is set.
    void finishEntry(bool rule);
    void clear();

    const QString& text() const { return all; }
    qsizetype size() const { return all.size(); }

    int lineCount() const { return int(lines.size()); }
    const Line& line(int index) const { return lines[size_t(index)]; }
    QStringView lineText(int index) const {
        const Line& l = line(index);
        return QStringView(all).sliced(l.start, l.length);
    }
    // The highlighter's state at the line's start.
    int lineStartState(int index) const;
    // The character formats of an HTML line; empty for others.
    QList<QTextLayout::FormatRange> lineFormats(int index) const;
    // The text line (not a rule) that holds text offset pos, or the last line; -1 when empty.
    int lineAt(qsizetype pos) const;

    int entryCount() const { return int(entries.size()); }
    qsizetype entryStart(int entry) const { return entries[size_t(entry)].start; }
    // Offset right after the entry's last character.
    qsizetype entryEnd(int entry) const {
        return size_t(entry) + 1 < entries.size() ? entries[size_t(entry) + 1].start - 1 : all.size();
    }
    bool entryHasRule(int entry) const { return entries[size_t(entry)].rule; }
    int entryFirstLine(int entry) const { return entries[size_t(entry)].firstLine; }
    // The entry that holds the line, or -1.
    int entryOfLine(int index) const;

private:
    struct Entry {
        qsizetype start = 0;
        int firstLine = 0;
        bool rule = false;
    };
    // Ends the last line at offset end and notes its end state.
    void completeLastLine(qsizetype end);

    QString all;
    std::vector<Line> lines;
    std::vector<Entry> entries;
    std::unordered_map<int, QList<QTextLayout::FormatRange>> htmlFormats;  // by line
    bool open = false;
};
