// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include "qt_test_support.h"

#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <random>

#include "FerrikReplyTimes.h"
#include "TextOps.h"

namespace {

// The indentation algorithm exactly as formulated, inserting into the string it scans.
void referenceIndent(QString& text, int tab) {
    int depth = 0;
    qsizetype pos = 0;
    while (pos <= text.size() - 3) {
        if (text[pos + 1] == QLatin1Char('<')) {
            bool closing = false;
            for (qsizetype i = pos + 2; i < text.size(); ++i) {
                if (text[i] == QLatin1Char('\n')) {
                    break;
                }
                if (text[i] == QLatin1Char('/')) {
                    closing = true;
                    break;
                }
            }
            if (text[pos + 2] == QLatin1Char('/')) {
                depth = std::max(depth - 1, 0);
            }
            if (tab != 0) {
                if (depth * tab > 0) {
                    text.insert(pos + 1, QString(qsizetype(depth) * tab, QLatin1Char(' ')));
                }
            } else if (depth > 0) {
                text.insert(pos + 1, QString(depth, QLatin1Char('\t')));
            }
            if (!closing) {
                ++depth;
            }
        }
        pos = text.indexOf(QLatin1Char('\n'), pos + 1);
        if (pos < 0) {
            break;
        }
    }
}

QString lines(const QStringList& parts) {
    return parts.join(QLatin1Char('\n'));
}

struct IndentCase {
    const char* name;
    QString input;
    int tab;
    QString expected;
};

class IndentXml : public ::testing::TestWithParam<IndentCase> {};

TEST_P(IndentXml, MatchesTheLineRules) {
    QString text = GetParam().input;
    ferrik::indentXml(text, GetParam().tab);
    EXPECT_EQ(text, GetParam().expected);
    QString reference = GetParam().input;
    referenceIndent(reference, GetParam().tab);
    EXPECT_EQ(reference, GetParam().expected);
}

const QString kFive = lines({"<a>", "<b>", "<c/>", "</b>", "</a>"});

INSTANTIATE_TEST_SUITE_P(
    Cases, IndentXml,
    ::testing::Values(
        // The first line is examined from index 1, so "<a>" is not counted.
        IndentCase{"FirstLineNotCounted", kFive, 4, lines({"<a>", "<b>", "    <c/>", "</b>", "</a>"})},
        IndentCase{"LeadingLineFeed", "\n" + kFive, 4,
                   "\n" + lines({"<a>", "    <b>", "        <c/>", "    </b>", "</a>"})},
        IndentCase{"Tabs", "\n" + kFive, 0, "\n" + lines({"<a>", "\t<b>", "\t\t<c/>", "\t</b>", "</a>"})},
        IndentCase{"WholeElementKeepsDepth", lines({"", "<a>", "<b>text</b>", "<c>"}), 2,
                   lines({"", "<a>", "  <b>text</b>", "  <c>"})},
        IndentCase{"CommentOpensLevel", lines({"", "<!-- note -->", "<x>"}), 4,
                   lines({"", "<!-- note -->", "    <x>"})},
        IndentCase{"SlashInAttributeCloses", lines({"", "<a href='x/y'>", "<x>"}), 4,
                   lines({"", "<a href='x/y'>", "<x>"})},
        IndentCase{"UnbalancedEndTagsClampAtZero", lines({"", "</a>", "</b>", "<c>", "<d/>"}), 4,
                   lines({"", "</a>", "</b>", "<c>", "    <d/>"})},
        IndentCase{"TextAndIndentedLinesUntouched", lines({"", "<a>", "text", " <b>", "<c/>"}), 4,
                   lines({"", "<a>", "text", " <b>", "    <c/>"})},
        IndentCase{"ShorterThanThree", "\n<", 4, "\n<"},
        IndentCase{"NoLineFeed", "<a><b><c/></b></a>", 4, "<a><b><c/></b></a>"},
        IndentCase{"Empty", "", 4, ""},
        IndentCase{"NegativeTabInsertsNothing", "\n" + kFive, -2, "\n" + kFive},
        IndentCase{"TrailingLineFeed", lines({"", "<a>", "<b/>", ""}), 1, lines({"", "<a>", " <b/>", ""})},
        IndentCase{"LastLineTooShortIsSkipped", lines({"", "<a>", "<"}), 4, lines({"", "<a>", "<"})}),
    [](const ::testing::TestParamInfo<IndentCase>& info) { return std::string(info.param.name); });

TEST(IndentXmlRandom, AgreesWithTheInsertingFormulation) {
    // Lines built from the characters that drive the algorithm, plus a multi-byte one.
    const QStringList pieces = {"<", ">", "/", "\n", "\n", "\n", "a", " ", "\t", "<a>", "</a>", "<a/>", "é"};
    std::mt19937 rng(12345);
    for (int round = 0; round < 3000; ++round) {
        QString input;
        const int count = int(rng() % 40);
        for (int i = 0; i < count; ++i) {
            input += pieces[int(rng() % pieces.size())];
        }
        const int tab = int(rng() % 6) - 1;
        QString fast = input;
        ferrik::indentXml(fast, tab);
        QString reference = input;
        referenceIndent(reference, tab);
        ASSERT_EQ(fast, reference) << "input: " << input.toStdString() << " tab: " << tab;
    }
}

// A reply prepared in parts cut by replyCut, each stripped and indented with the depth carried
// over, is the whole reply prepared at once; also where a line of one character, a prefix that
// strips to one, or a carriage return stands right before a line feed.
TEST(PreparedInParts, EqualsTheWholeReplyPrepared) {
    const QStringList pieces = {"<", ">", "/",   "\n",   "\n",   "\n",    "\r",
                                "a", " ", "<a>", "</a>", "<a/>", "<ns1:", "</ns2:b>"};
    std::mt19937 rng(777);
    for (int round = 0; round < 3000; ++round) {
        QString input;
        const int count = int(rng() % 60);
        for (int i = 0; i < count; ++i) {
            input += pieces[int(rng() % pieces.size())];
        }
        const bool strip = rng() % 2;
        const int tab = int(rng() % 4) - 1;
        QString whole = input;
        if (strip) {
            ferrik::stripNamespaces(whole);
        }
        ferrik::indentXml(whole, tab);

        QString joined;
        qint64 depth = 0;
        qsizetype from = 0;
        while (from < input.size()) {
            const qsizetype cut = ferrik::replyCut(input, from + 1 + qsizetype(rng() % 8), strip);
            ASSERT_GT(cut, from);
            ASSERT_TRUE(cut == input.size() || input[cut] == QLatin1Char('\n'));
            QString part = input.sliced(from, cut - from);
            if (strip) {
                ferrik::stripNamespaces(part);
            }
            ferrik::indentXml(part, tab, depth);
            joined += part;
            from = cut;
        }
        ASSERT_EQ(joined, whole) << "input: " << input.toUtf8().toPercentEncoding("<>/:").toStdString()
                                 << " strip: " << strip << " tab: " << tab;
    }
    EXPECT_EQ(ferrik::replyCut("<a>\n<\nxy\nz", 4, false), 8);         // not after the "<" line
    EXPECT_EQ(ferrik::replyCut("ab\r\ncd\nef", 0, false), 6);          // not inside a CR LF
    EXPECT_EQ(ferrik::replyCut("x\n<ns1:\n<ns1:ab\nc", 0, true), 15);  // "<ns1:" strips to "<"
    EXPECT_EQ(ferrik::replyCut("x\n<ns1:\n<ns1:ab\nc", 0, false), 7);
    EXPECT_EQ(ferrik::replyCut("abc", 0, false), 3);
}

TEST(StripNamespaces, RemovesOnlyGeneratedTagPrefixes) {
    struct {
        QString input, expected;
    } cases[] = {
        {"<ns1:reply>", "<reply>"},
        {"</ns12:reply>", "</reply>"},
        {"<ns3:env xmlns:ns3='urn:x'><ns3:id/></ns3:env>", "<env xmlns:ns3='urn:x'><id/></env>"},
        {"<nsx:a>", "<nsx:a>"},
        {"<NS1:a>", "<NS1:a>"},
        {"<ns:a>", "<ns:a>"},
        {"< ns1:a>", "< ns1:a>"},
        {"<a ns2:attr='1'>", "<a ns2:attr='1'>"},
        {"<<ns1:a>", "<<a>"},
        {"<ns1:ns2:a>", "<ns2:a>"},
        {"", ""},
        {"<ns\u0663:a>", "<a>"},  // a decimal digit in its Unicode meaning
        {"</ns1:", "</"},
        {"<ns1", "<ns1"},
    };
    for (const auto& c : cases) {
        QString text = c.input;
        ferrik::stripNamespaces(text);
        EXPECT_EQ(text, c.expected) << c.input.toStdString();
    }
}

TEST(StripNamespaces, LeavesSharedCopiesAlone) {
    const QString original = QStringLiteral("<ns1:a>x</ns1:a>");
    QString text = original;  // shares original's buffer
    ferrik::stripNamespaces(text);
    EXPECT_EQ(text, "<a>x</a>");
    EXPECT_EQ(original, "<ns1:a>x</ns1:a>");

    QString indented = original;
    ferrik::indentXml(indented, 4);
    EXPECT_EQ(original, "<ns1:a>x</ns1:a>");
}

TEST(StripNamespacesRandom, AgreesWithTheRegularExpression) {
    const QRegularExpression prefix(QStringLiteral("<(/?)ns\\d+:"),
                                    QRegularExpression::UseUnicodePropertiesOption);
    // Pieces around the pattern, with non-ASCII decimal digits (Arabic-Indic three, fullwidth one,
    // a mathematical digit beyond the BMP). No lone surrogates: the expression engine refuses to
    // match anything in such text (replies decoded from UTF-8 never hold one).
    const QStringList pieces = {"<", "/", "ns", "n", "s",      "1",      "42",
                                ":", "a", ">",  " ", "\u0663", "\uFF11", QString::fromUcs4(U"\U0001D7CE"),
                                "x"};
    std::mt19937 rng(777);
    for (int round = 0; round < 5000; ++round) {
        QString input;
        const int count = int(rng() % 30);
        for (int i = 0; i < count; ++i) {
            input += pieces[int(rng() % pieces.size())];
        }
        QString fast = input;
        ferrik::stripNamespaces(fast);
        QString reference = input;
        reference.replace(prefix, QStringLiteral("<\\1"));
        ASSERT_EQ(fast, reference) << "input: " << input.toStdString();
    }
}

TEST(Base64Text, RoundTripsAndStopsAtZeroByte) {
    const QString text = QStringLiteral("<a>é\u2029x</a>");
    const QString encoded = ferrik::base64EncodeText(text);
    EXPECT_EQ(encoded, QString::fromLatin1(text.toUtf8().toBase64()));
    EXPECT_FALSE(encoded.contains(QLatin1Char('\n')));
    EXPECT_EQ(ferrik::base64DecodeText(encoded), text);

    EXPECT_EQ(ferrik::base64EncodeText("ab"), "YWI=");
    // Characters outside the alphabet are skipped.
    EXPECT_EQ(ferrik::base64DecodeText("YW\nI=  "), "ab");
    // "ab\0cd" encoded: only what precedes the zero byte survives.
    EXPECT_EQ(ferrik::base64DecodeText(QString::fromLatin1(QByteArray("ab\0cd", 5).toBase64())), "ab");
    EXPECT_EQ(ferrik::base64DecodeText("!!!"), "");
}

TEST(ReplyTimes, FiguresMatchRepliesByIdAndFormatTheirUnits) {
    EXPECT_EQ(FerrikReplyTimes::formatSize(1023), "1023 B");
    EXPECT_EQ(FerrikReplyTimes::formatSize(1024), "1.0 KB");
    EXPECT_EQ(FerrikReplyTimes::formatSize(1258), "1.2 KB");
    EXPECT_EQ(FerrikReplyTimes::formatSize(3 * 1024 * 1024 / 2), "1.5 MB");
    EXPECT_EQ(FerrikReplyTimes::formatMs(12'440'000), "12.4 ms");
    EXPECT_EQ(FerrikReplyTimes::formatMs(-5), "0.0 ms");  // clocks never run backwards in a figure
    EXPECT_EQ(FerrikReplyTimes::formatMs(12'345'000'000), "12.35 s");

    EXPECT_EQ(FerrikReplyTimes::replyId(
                  R"(<?xml version="1.0"?><!-- c --><p:packet id="r7"><x id="no"/></p:packet>)"),
              "r7");
    EXPECT_EQ(FerrikReplyTimes::replyId("<packet><x id='inner'/></packet>"), "");
    EXPECT_EQ(FerrikReplyTimes::replyId("not xml"), "");

    // Out of order: each reply gets its own send's time, once.
    FerrikReplyTimes times;
    times.sentParsed("a", 1'000'000);
    times.sentParsed("b", 2'000'000);
    EXPECT_EQ(times.parsedReply("b", 7'000'000, 10), "Reply b: 5.0 ms, 10 B");
    EXPECT_EQ(times.parsedReply("a", 9'000'000, 2048), "Reply a: 8.0 ms, 2.0 KB");
    EXPECT_EQ(times.parsedReply("a", 9'500'000, 10), "Reply a: 10 B");
    EXPECT_EQ(times.parsedReply("", 9'500'000, 10), "Reply: 10 B");
    EXPECT_EQ(times.outstanding(), 0);

    // Raw: first and latest piece since the send; a new send starts again.
    EXPECT_EQ(times.rawPiece(1, 5), "Raw reply: 5 B");  // nothing sent on this connection
    times.sentRaw(10'000'000);
    EXPECT_EQ(times.rawPiece(13'000'000, 600), "Raw reply: first piece 3.0 ms, last piece 3.0 ms, 600 B");
    EXPECT_EQ(times.rawPiece(20'000'000, 600),
              "Raw reply: first piece 3.0 ms, last piece 10.0 ms, 1.2 KB in 2 pieces");
    times.sentRaw(30'000'000);
    EXPECT_EQ(times.rawPiece(31'000'000, 1), "Raw reply: first piece 1.0 ms, last piece 1.0 ms, 1 B");

    // Requests whose reply never comes do not pile up.
    for (int i = 0; i < 10000; ++i) {
        times.sentParsed(QString::number(i), i);
    }
    EXPECT_LE(times.outstanding(), 4096);
}

}  // namespace
