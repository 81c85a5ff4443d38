#include "FerrikSyntaxHighLighter.h"

#include <QRegularExpression>

namespace {

QTextCharFormat coloured(int r, int g, int b) {
    QTextCharFormat format;
    format.setForeground(QBrush(QColor(r, g, b), Qt::SolidPattern));
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

bool startsWithAt(const QString& text, int pos, QLatin1StringView what) {
    return QStringView(text).sliced(pos).startsWith(what);
}

}  // namespace

FerrikSyntaxHighLighter::FerrikSyntaxHighLighter(QTextDocument* document) : QSyntaxHighlighter(document) {
    QTextCharFormat reference = coloured(0, 128, 0);
    reference.setFontWeight(QFont::Bold);
    setTextFormat(Reference, reference);

    QTextCharFormat tag = coloured(128, 0, 0);
    tag.setFontWeight(QFont::Normal);
    setTextFormat(Tag, tag);

    setTextFormat(Prefix, coloured(80, 0, 0));

    QTextCharFormat string = coloured(0, 0, 255);
    string.setFontItalic(true);
    setTextFormat(String, string);

    setTextFormat(Attribute, coloured(255, 0, 0));

    QTextCharFormat comment = coloured(128, 128, 128);
    comment.setFontItalic(true);
    setTextFormat(Comment, comment);
}

FerrikSyntaxHighLighter::~FerrikSyntaxHighLighter() = default;

void FerrikSyntaxHighLighter::setTextFormat(Format index, const QTextCharFormat& format) {
    formats[index] = format;
    rehighlight();
}

void FerrikSyntaxHighLighter::highlightBlock(const QString& text) {
    int state = previousBlockState();
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
            setFormat(start, pos - start, formats[Comment]);
        } else if (state == InTag) {
            pos = highlightTag(text, pos, state);
        } else {
            while (pos < len) {
                const QChar c = text[pos];
                if (c == QLatin1Char('<')) {
                    state = startsWithAt(text, pos, QLatin1StringView("<!--")) ? InComment : InTag;
                    break;
                }
                if (c == QLatin1Char('&')) {
                    const int semicolon = int(text.indexOf(QLatin1Char(';'), pos));
                    const int end = semicolon < 0 ? len : semicolon + 1;
                    setFormat(pos, end - pos, formats[Reference]);
                    pos = end;
                } else {
                    ++pos;
                }
            }
        }
    }
    setCurrentBlockState(state);
}

// Colours the tag that starts (or continues) at pos; returns the position after it.
int FerrikSyntaxHighLighter::highlightTag(const QString& text, int pos, int& state) {
    const int len = int(text.size());
    const int start = pos;
    QChar quote;
    int colon = -1;
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
            state = PlainText;
            break;
        } else if (c.isSpace()) {
            colon = -2;
        } else if (c == QLatin1Char(':') && colon == -1) {
            colon = pos;
        }
        ++pos;
    }
    setFormat(start, pos - start, formats[Tag]);
    if (colon >= 0) {
        setFormat(start + 1, colon - start, formats[Prefix]);
    }
    for (const auto* re : {&stringPattern(), &attributePattern()}) {
        const Format format = re == &stringPattern() ? String : Attribute;
        qsizetype from = start;
        for (;;) {
            const QRegularExpressionMatch m = re->match(text, from);
            if (!m.hasMatch() || m.capturedStart() >= pos) {
                break;
            }
            setFormat(int(m.capturedStart()), int(m.capturedLength()), formats[format]);
            from = m.capturedEnd();
        }
    }
    return pos;
}
