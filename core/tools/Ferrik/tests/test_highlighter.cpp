// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include "qt_test_support.h"

#include <QAbstractTextDocumentLayout>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

#include "FerrikSyntaxHighLighter.h"

namespace {

// One letter per character of the document (line feeds kept): the format the highlighter gave it,
// R(eference) T(ag) P(refix) S(tring) A(ttribute) C(omment), or '.' for none.
class Highlighted {
public:
    explicit Highlighted(const QString& text) : highlighter(&document) {
        settle();
        document.setPlainText(text);
    }

    // A document announces its changes (and so gets highlighted) once it has a layout, as it has
    // in every text widget.
    void settle() { document.documentLayout(); }

    std::string codes() const {
        std::string out;
        for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
            std::string line(size_t(block.length() - 1), '.');
            for (const QTextLayout::FormatRange& range : block.layout()->formats()) {
                for (int i = range.start; i < range.start + range.length && i < int(line.size()); ++i) {
                    line[size_t(i)] = letter(range.format);
                }
            }
            if (!out.empty()) {
                out += '\n';
            }
            out += line;
        }
        return out;
    }

    int state(int blockNumber) const { return document.findBlockByNumber(blockNumber).userState(); }

private:
    char letter(const QTextCharFormat& format) const {
        static const char letters[] = "RTPSAC";
        for (int i = 0; i < 6; ++i) {
            if (format == highlighter.textFormat(FerrikSyntaxHighLighter::Format(i))) {
                return letters[i];
            }
        }
        return '?';
    }

    QTextDocument document;
    FerrikSyntaxHighLighter highlighter;
};

TEST(SyntaxHighlighter, FormatTable) {
    QTextDocument document;
    FerrikSyntaxHighLighter h(&document);
    using F = FerrikSyntaxHighLighter;
    EXPECT_EQ(h.textFormat(F::Reference).foreground().color(), QColor(0, 128, 0));
    EXPECT_EQ(h.textFormat(F::Reference).fontWeight(), QFont::Bold);
    EXPECT_EQ(h.textFormat(F::Tag).foreground().color(), QColor(128, 0, 0));
    EXPECT_TRUE(h.textFormat(F::Tag).hasProperty(QTextFormat::FontWeight));
    EXPECT_EQ(h.textFormat(F::Tag).fontWeight(), QFont::Normal);
    EXPECT_EQ(h.textFormat(F::Prefix).foreground().color(), QColor(80, 0, 0));
    EXPECT_FALSE(h.textFormat(F::Prefix).hasProperty(QTextFormat::FontWeight));
    EXPECT_EQ(h.textFormat(F::String).foreground().color(), QColor(0, 0, 255));
    EXPECT_TRUE(h.textFormat(F::String).fontItalic());
    EXPECT_EQ(h.textFormat(F::Attribute).foreground().color(), QColor(255, 0, 0));
    EXPECT_EQ(h.textFormat(F::Comment).foreground().color(), QColor(128, 128, 128));
    EXPECT_TRUE(h.textFormat(F::Comment).fontItalic());
    EXPECT_EQ(h.textFormat(F::Comment).foreground().style(), Qt::SolidPattern);
}

struct Case {
    const char* name;
    const char* text;
    const char* codes;
};

class HighlightCodes : public ::testing::TestWithParam<Case> {};

TEST_P(HighlightCodes, PerCharacter) {
    EXPECT_EQ(Highlighted(QString::fromUtf8(GetParam().text)).codes(), GetParam().codes);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HighlightCodes,
    ::testing::Values(Case{"PlainTag", "x<a>y", ".TTT."}, Case{"PrefixIncludesColon", "<ns1:a>", "TPPPPTT"},
                      Case{"PrefixOfTagWithAttributes", "<ns1:p xmlns:ns1=\"u\">", "TPPPPTTAAAAAAAAAASSST"},
                      Case{"EndTagPrefixIncludesSlash", "</ns1:a>", "TPPPPPTT"},
                      Case{"ColonAfterWhitespaceIsNoPrefix", "<a x:y='1'>", "TTTAAAATTTT"},
                      Case{"DoubleQuotedStringAndAttribute", "<a b=\"c\">", "TTTAASSST"},
                      Case{"SingleQuotedValueNotAString", "<a b='c'>", "TTTAATTTT"},
                      Case{"GreaterThanInQuotesDoesNotEndTag", "<a b='>' c=\">\">z", "TTTAATTTTAASSST."},
                      Case{"Reference", "a&amp;b", ".RRRRR."},
                      Case{"ReferenceWithoutSemicolonRunsToLineEnd", "a&b c\nd", ".RRRR\n."},
                      Case{"NoReferenceInsideTag", "<a&b;>", "TTTTTT"},
                      Case{"StringAndEqualsAfterTagNotColoured", "<a>\"x\" b=", "TTT......"},
                      Case{"CommentOverLines", "<!-- a\nb\nc\nd -->e<f>", "CCCCCC\nC\nC\nCCCCC.TTT"},
                      Case{"TagOverLines", "<a\nb=\"1\"\n>x", "TT\nAASSS\nT."},
                      Case{"AttributeInsideStringOverridesString", "<a b=\"c=d\">", "TTTAASAASST"},
                      Case{"CommentClosedAtStartShortcut", "<!-->x", "CCCCC."}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(SyntaxHighlighter, BlockStatesAndReHighlightOnEdit) {
    QTextDocument document;
    FerrikSyntaxHighLighter h(&document);
    document.documentLayout();
    document.setPlainText("<!-- a\nb\n<c\nd>");
    EXPECT_EQ(document.findBlockByNumber(0).userState(), FerrikSyntaxHighLighter::InComment);
    EXPECT_EQ(document.findBlockByNumber(1).userState(), FerrikSyntaxHighLighter::InComment);
    EXPECT_EQ(document.findBlockByNumber(2).userState(), FerrikSyntaxHighLighter::InComment);
    EXPECT_EQ(document.findBlockByNumber(3).userState(), FerrikSyntaxHighLighter::InComment);

    // Closing the comment on the second line re-highlights the following lines as tags.
    QTextCursor cursor(document.findBlockByNumber(1));
    cursor.movePosition(QTextCursor::EndOfBlock);
    cursor.insertText(" -->");
    EXPECT_EQ(document.findBlockByNumber(1).userState(), FerrikSyntaxHighLighter::PlainText);
    EXPECT_EQ(document.findBlockByNumber(2).userState(), FerrikSyntaxHighLighter::InTag);
    EXPECT_EQ(document.findBlockByNumber(3).userState(), FerrikSyntaxHighLighter::PlainText);
}

}  // namespace
