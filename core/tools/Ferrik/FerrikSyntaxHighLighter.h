// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// XML colouring for the console's text panes: references, tags, tag-name prefixes, double-quoted
// strings, attribute names and comments, with tags and comments running over several lines.
// Lives on the GUI thread with the document it is attached to.
//
// The scan of one line is also available without a document (scan, formatRanges): the transcript
// panes colour only the lines they show and keep each line's end state themselves.

#include <QColor>
#include <QList>
#include <QPalette>
#include <QStringView>
#include <QSyntaxHighlighter>
#include <QTextCharFormat>
#include <QTextLayout>

#include <array>
#include <vector>

class FerrikSyntaxHighLighter : public QSyntaxHighlighter {
    Q_OBJECT
public:
    // Indexes into the format table.
    enum Format { Reference = 0, Tag = 1, Prefix = 2, String = 3, Attribute = 4, Comment = 5 };
    // State carried from one text block to the next.
    enum BlockState { PlainText = -1, InComment = 0, InTag = 1 };

    // Attached to document (it may be null: the formats and the scan without a document).
    explicit FerrikSyntaxHighLighter(QTextDocument* document);
    ~FerrikSyntaxHighLighter() override;

    const QTextCharFormat& textFormat(Format index) const { return formats[index]; }
    // The foreground of each format on a light palette (the table the constructor sets).
    static QColor lightColour(Format index);
    // Recolours the formats for the palette the text is shown on (ferrik::textColourFor: the
    // colours above on a light palette, their matches on a dark one) and re-highlights the document.
    void setPalette(const QPalette& palette);

    // Scans one line that starts in `state` and returns the state at its end. When `marks` is given
    // it receives the format index of every character of the line (-1: not coloured).
    static int scan(QStringView text, int state, std::vector<signed char>* marks = nullptr);
    // The colouring of one line that starts in `state`, as non-overlapping ranges of this
    // highlighter's formats; `state` becomes the state at the line's end.
    QList<QTextLayout::FormatRange> formatRanges(QStringView text, int& state) const;

protected:
    void highlightBlock(const QString& text) override;

private:
    // Replaces the format at index and re-highlights the whole document.
    void setTextFormat(Format index, const QTextCharFormat& format);

    std::array<QTextCharFormat, 6> formats;
};
