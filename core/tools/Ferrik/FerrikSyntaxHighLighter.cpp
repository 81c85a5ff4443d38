// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "FerrikSyntaxHighLighter.h"

#include <QRegularExpression>

#include "FerrikColours.h"

namespace {

// Foregrounds by format index, on a light palette.
constexpr std::array<QRgb, 6> kLightColours = {
    qRgb(0, 128, 0),      // Reference
    qRgb(128, 0, 0),      // Tag
    qRgb(80, 0, 0),       // Prefix
    qRgb(0, 0, 255),      // String
    qRgb(255, 0, 0),      // Attribute
    qRgb(128, 128, 128),  // Comment
};

QTextCharFormat coloured(FerrikSyntaxHighLighter::Format index) {
    QTextCharFormat format;
    format.setForeground(QBrush(FerrikSyntaxHighLighter::lightColour(index), Qt::SolidPattern));
    return format;
}

const QRegularExpression& stringPattern() {
    static const QRegularExpression re(QStringLiteral("\"[^\"]*\""),
                                       QRegularExpression::UseUnicodePropertiesOption);
    return re;
}

const QRegularExpression& attributePattern() {
    static const QRegularExpression re(QStringLiteral("\\b[A-Za-z0-9_:]+="),
                                       QRegularExpression::UseUnicodePropertiesOption);
    return re;
}

bool startsWithAt(QStringView text, int pos, QLatin1StringView what) {
    return text.sliced(pos).startsWith(what);
}

using Marks = std::vector<signed char>;

void mark(Marks* marks, int from, int count, FerrikSyntaxHighLighter::Format format) {
    if (marks && count > 0) {
        std::fill(marks->begin() + from, marks->begin() + from + count, static_cast<signed char>(format));
    }
}

// The tag that starts (or continues) at pos; returns the position after it.
int scanTag(QStringView text, int pos, int& state, Marks* marks) {
    using H = FerrikSyntaxHighLighter;
    const int len = int(text.size());
    const int start = pos;
    QChar quote;
    int colon = -1;  // -1: none yet, -2: whitespace came first, else the prefix's colon
    while (pos < len) {
        const QChar c = text[pos];
        if (!quote.isNull()) {
            if (c == quote) {
                quote = QChar();
            }
        } else if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            quote = c;
        } else if (c == QLatin1Char('>')) {
            ++pos;
            state = H::PlainText;
            break;
        } else if (c.isSpace()) {
            // Whitespace ends the tag name: a colon after it (in an attribute) is no prefix, and
            // one found before it stays the prefix's.
            if (colon == -1) {
                colon = -2;
            }
        } else if (c == QLatin1Char(':') && colon == -1) {
            colon = pos;
        }
        ++pos;
    }
    if (!marks) {
        return pos;
    }
    mark(marks, start, pos - start, H::Tag);
    if (colon >= 0) {
        mark(marks, start + 1, colon - start, H::Prefix);
    }
    // The expressions run over the whole line from the tag's start (a match may begin inside the
    // tag and reach past it, as the line's text decides).
    const QString line = text.toString();
    for (const auto* re : {&stringPattern(), &attributePattern()}) {
        const H::Format format = re == &stringPattern() ? H::String : H::Attribute;
        qsizetype from = start;
        for (;;) {
            const QRegularExpressionMatch m = re->match(line, from);
            if (!m.hasMatch() || m.capturedStart() >= pos) {
                break;
            }
            mark(marks, int(m.capturedStart()), int(m.capturedLength()), format);
            from = m.capturedEnd();
        }
    }
    return pos;
}

}  // namespace

FerrikSyntaxHighLighter::FerrikSyntaxHighLighter(QTextDocument* document) : QSyntaxHighlighter(document) {
    QTextCharFormat reference = coloured(Reference);
    reference.setFontWeight(QFont::Bold);
    setTextFormat(Reference, reference);

    QTextCharFormat tag = coloured(Tag);
    tag.setFontWeight(QFont::Normal);
    setTextFormat(Tag, tag);

    setTextFormat(Prefix, coloured(Prefix));

    QTextCharFormat string = coloured(String);
    string.setFontItalic(true);
    setTextFormat(String, string);

    setTextFormat(Attribute, coloured(Attribute));

    QTextCharFormat comment = coloured(Comment);
    comment.setFontItalic(true);
    setTextFormat(Comment, comment);
}

QColor FerrikSyntaxHighLighter::lightColour(Format index) {
    return QColor(kLightColours[size_t(index)]);
}

void FerrikSyntaxHighLighter::setPalette(const QPalette& palette) {
    bool changed = false;
    for (size_t i = 0; i < formats.size(); ++i) {
        const QColor colour = ferrik::textColourFor(lightColour(Format(i)), palette);
        if (formats[i].foreground().color() != colour) {
            formats[i].setForeground(QBrush(colour, Qt::SolidPattern));
            changed = true;
        }
    }
    if (changed && document()) {
        rehighlight();
    }
}

FerrikSyntaxHighLighter::~FerrikSyntaxHighLighter() = default;

void FerrikSyntaxHighLighter::setTextFormat(Format index, const QTextCharFormat& format) {
    formats[index] = format;
    if (document()) {
        rehighlight();
    }
}

int FerrikSyntaxHighLighter::scan(QStringView text, int state, Marks* marks) {
    if (marks) {
        marks->assign(size_t(text.size()), -1);
    }
    int pos = 0;
    const int len = int(text.size());
    while (pos < len) {
        if (state == InComment) {
            const int start = pos;
            while (pos < len) {
                if (startsWithAt(text, pos, QLatin1StringView("-->"))) {
                    pos += 3;
                    state = PlainText;
                    break;
                }
                ++pos;
            }
            mark(marks, start, pos - start, Comment);
        } else if (state == InTag) {
            pos = scanTag(text, pos, state, marks);
        } else {
            state = PlainText;
            while (pos < len) {
                const QChar c = text[pos];
                if (c == QLatin1Char('<')) {
                    state = startsWithAt(text, pos, QLatin1StringView("<!--")) ? InComment : InTag;
                    break;
                }
                if (c == QLatin1Char('&')) {
                    const int semicolon = int(text.indexOf(QLatin1Char(';'), pos));
                    const int end = semicolon < 0 ? len : semicolon + 1;
                    mark(marks, pos, end - pos, Reference);
                    pos = end;
                } else {
                    ++pos;
                }
            }
        }
    }
    return state;
}

QList<QTextLayout::FormatRange> FerrikSyntaxHighLighter::formatRanges(QStringView text, int& state) const {
    Marks marks;
    state = scan(text, state, &marks);
    QList<QTextLayout::FormatRange> ranges;
    const int len = int(marks.size());
    for (int i = 0; i < len;) {
        int j = i + 1;
        while (j < len && marks[size_t(j)] == marks[size_t(i)]) {
            ++j;
        }
        if (marks[size_t(i)] >= 0) {
            ranges.append({i, j - i, formats[size_t(static_cast<unsigned char>(marks[size_t(i)]))]});
        }
        i = j;
    }
    return ranges;
}

void FerrikSyntaxHighLighter::highlightBlock(const QString& text) {
    int state = previousBlockState();
    for (const QTextLayout::FormatRange& range : formatRanges(text, state)) {
        setFormat(range.start, range.length, range.format);
    }
    setCurrentBlockState(state);
}
