#pragma once
// XML colouring for the console's text panes: references, tags, tag-name prefixes, double-quoted
// strings, attribute names and comments, with tags and comments running over several lines.
// Lives on the GUI thread with the document it is attached to.

#include <QSyntaxHighlighter>
#include <QTextCharFormat>

#include <array>

class FerrikSyntaxHighLighter : public QSyntaxHighlighter {
    Q_OBJECT
public:
    // Indexes into the format table.
    enum Format { Reference = 0, Tag = 1, Prefix = 2, String = 3, Attribute = 4, Comment = 5 };
    // State carried from one text block to the next.
    enum BlockState { PlainText = -1, InComment = 0, InTag = 1 };

    explicit FerrikSyntaxHighLighter(QTextDocument* document);
    ~FerrikSyntaxHighLighter() override;

    const QTextCharFormat& textFormat(Format index) const { return formats[index]; }

protected:
    void highlightBlock(const QString& text) override;

private:
    // Replaces the format at index and re-highlights the whole document.
    void setTextFormat(Format index, const QTextCharFormat& format);
    int highlightTag(const QString& text, int pos, int& state);

    std::array<QTextCharFormat, 6> formats;
};
