// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// Parsing, serialising and the limits of OVLMessage.

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "OVLCommon/Errors.h"
#include "OVLMessage/OVLElement.h"
#include "OVLMessage/OVLMessage.h"
#include "test_utils.h"

using OVL::OVLElement;
using OVL::OVLMessage;
using OVL::OVLMessageIterator;
using OVL::OVLMessagePtr;

namespace {

OVLMessagePtr newMessage() {
    return OVLMessage::getFactory()->createNew();
}

std::string nested(int depth) {
    std::string s;
    s.reserve(static_cast<std::size_t>(depth) * 7);
    for (int i = 0; i < depth; ++i) {
        s += "<a>";
    }
    for (int i = 0; i < depth; ++i) {
        s += "</a>";
    }
    return s;
}

}  // namespace

TEST(Message, FactoryIsSharedAndMessagesStartEmpty) {
    EXPECT_EQ(OVLMessage::getFactory().get(), OVLMessage::getFactory().get());
    OVLMessagePtr msg = newMessage();
    EXPECT_TRUE(msg->isEmpty());
    EXPECT_STREQ(msg->getRootName(), "");
    EXPECT_FALSE(msg->getIterator().isValid());
    EXPECT_EQ(msg->toString(), "");
    EXPECT_FALSE(msg->getBody(0));
}

TEST(Message, RootNameCreatesAndRenamesTheRoot) {
    OVLMessagePtr msg = newMessage();
    ASSERT_EQ(msg->setRootName("config"), 0);
    EXPECT_EQ(msg->toString(), "<config/>");
    msg->getIterator().writeInt("tab", 4);
    ASSERT_EQ(msg->setRootName("settings"), 0);
    EXPECT_EQ(msg->toString(), "<settings><tab>4</tab></settings>");
    EXPECT_EQ(msg->setRootName("no spaces"), -1);
    EXPECT_EQ(msg->setRootName(nullptr), -1);
    EXPECT_STREQ(msg->getRootName(), "settings");
}

TEST(Message, PacketIsAddressedByElementIdentifiers) {
    OVLMessagePtr msg = newMessage();
    const char* packet =
        "<packet>\n  <target>sysinfo</target>\n  <data>\n    <SysInfo><getCpu><x/></getCpu></SysInfo>\n  "
        "</data>\n"
        "</packet>";
    ASSERT_EQ(msg->parse(packet, 0, 0), 0) << msg->getError();
    EXPECT_EQ(msg->getError(), "");
    OVLMessageIterator it = msg->getIterator();
    EXPECT_STREQ(it.getName(), "packet");
    std::string target;
    ASSERT_EQ(it.readText(OVLElement::Target, target), 0);
    EXPECT_EQ(target, "sysinfo");
    ASSERT_EQ(it.moveTo(1307), 0);
    EXPECT_EQ(it.getId(), OVLElement::Data);
    ASSERT_EQ(it.moveToFirstChild(), 0);
    ASSERT_EQ(it.moveToFirstChild(), 0);
    EXPECT_STREQ(it.getName(), "getCpu");
}

TEST(Message, LengthZeroParsesUpToTheFirstZeroByte) {
    const char buffer[] = "<first/>\0<second/>\0";
    OVLMessagePtr msg = newMessage();
    ASSERT_EQ(msg->parse(buffer, 0, 0), 0);
    EXPECT_STREQ(msg->getRootName(), "first");
    // With an explicit length the zero byte is part of the text, and not allowed there.
    EXPECT_EQ(msg->parse(buffer, sizeof buffer - 1, 0), -1);
    EXPECT_NE(msg->getError().find("zero byte"), std::string::npos);
    EXPECT_STREQ(msg->getRootName(), "first");
}

TEST(Message, ErrorNamesLineAndColumnAndSetsTheThreadMessage) {
    OVLMessagePtr msg = newMessage();
    ASSERT_EQ(msg->parse("<a>\n  <b></c>\n</a>"), -1);
    EXPECT_EQ(msg->getErrorLine(), 2);
    EXPECT_EQ(msg->getErrorColumn(), 8);
    EXPECT_EQ(msg->getError().rfind("line 2, column 8: ", 0), 0u) << msg->getError();
    EXPECT_EQ(OVL::getErrorMessage(), msg->getError());
}

struct BadInput {
    const char* label;
    std::string text;
    const char* reason;  // part of the error text
};

class MalformedInput : public testing::TestWithParam<BadInput> {};

TEST_P(MalformedInput, IsRejectedAndChangesNothing) {
    const BadInput& input = GetParam();
    OVLMessagePtr msg = newMessage();
    ASSERT_EQ(msg->parse("<kept><x>1</x></kept>"), 0);
    OVLMessageIterator before = msg->getIterator();

    EXPECT_EQ(msg->parse(input.text.data(), input.text.size(), 0), -1);
    EXPECT_NE(msg->getError().find(input.reason), std::string::npos) << msg->getError();
    EXPECT_EQ(msg->getError().rfind("line ", 0), 0u) << msg->getError();
    EXPECT_EQ(msg->toString(), "<kept><x>1</x></kept>");
    EXPECT_EQ(msg->getIterator(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Message, MalformedInput,
    testing::Values(
        BadInput{"unclosed", "<packet><target>x</target>", ""},
        BadInput{"mismatched", "<a><b></a></b>", "mismatch"}, BadInput{"empty", "", "no root element"},
        BadInput{"garbage_after_root", "<a/>\n<b", ""}, BadInput{"unterminated_comment", "<a><!-- </a>", ""},
        BadInput{"whitespace", " \n\t ", "no root element"},
        BadInput{"two_roots", "<a/><b/>", "more than one root element"},
        BadInput{"text_outside", "<a/>trailing", "outside the root"},
        BadInput{"bad_attribute", "<a x=1/>", "attribute"},
        BadInput{"latin1_bytes", "<a>caf\xE9</a>", "not valid UTF-8"},
        BadInput{"utf16_bom", std::string("\xFF\xFE<\0a\0/\0>\0", 10), ""},
        BadInput{"utf16_bom_only", "\xFF\xFE<a/>", "not valid UTF-8"},
        BadInput{"overlong_utf8", "<a>\xC0\xAF</a>", "not valid UTF-8"},
        BadInput{"surrogate_utf8", "<a>\xED\xA0\x80</a>", "not valid UTF-8"},
        BadInput{"declared_latin1", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a/>",
                 "unsupported encoding"},
        BadInput{"declared_utf16", "<?xml version=\"1.0\" encoding=\"UTF-16\"?><a/>", "unsupported encoding"},
        BadInput{"billion_laughs",
                 "<?xml version=\"1.0\"?>\n<!DOCTYPE lolz [\n <!ENTITY lol \"lol\">\n"
                 " <!ENTITY lol1 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">\n"
                 " <!ENTITY lol2 \"&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;\">\n"
                 " <!ENTITY lol9 \"&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;\">\n"
                 "]>\n<lolz>&lol9;</lolz>",
                 "document type declarations are not allowed"},
        BadInput{"external_entity", "<!DOCTYPE a [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><a>&x;</a>",
                 "document type"},
        BadInput{"too_deep", nested(1001), "nested deeper than 1000 levels"},
        // Found by the fuzzer: pugixml reports an error offset past the end of the text.
        BadInput{"error_past_the_end", "cke<acket>\n  <target>sysinfo</target>\n\xEF\xBB\xBF  <data><Sy\nt",
                 ""},
        BadInput{"reference_beyond_unicode", "<a x=\"&#6666666666666666610;\"/>", "not allowed"},
        BadInput{"reference_to_surrogate", "<a>&#xD800;</a>", "not allowed"},
        BadInput{"reference_to_nul", "<a>x&#0;y</a>", "not allowed"},
        BadInput{"reference_above_max", "<a>&#x110000;</a>", "not allowed"},
        BadInput{"unclosed_deep", std::string(300000, '<'), ""}),
    [](const testing::TestParamInfo<BadInput>& info) { return std::string(info.param.label); });

TEST(Message, UnknownEntityReferencesAreNeverExpanded) {
    OVLMessagePtr msg = newMessage();
    ASSERT_EQ(msg->parse("<a>&lol9;&amp;&#x41;&#66;&#x10FFFF;&#1;&#;&#12</a>"), 0) << msg->getError();
    std::string text;
    ASSERT_EQ(msg->getIterator().getText(text), 0);
    EXPECT_EQ(text, "&lol9;&AB\xF4\x8F\xBF\xBF\x01&#;&#12");
}

TEST(Message, DeclarationAndByteOrderMarkAreAccepted) {
    OVLMessagePtr msg = newMessage();
    ASSERT_EQ(msg->parse("\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<a>\xC3\xA9</a>"), 0)
        << msg->getError();
    EXPECT_EQ(msg->toString(), "<a>\xC3\xA9</a>");
    // Positions count the byte order mark.
    EXPECT_EQ(msg->parse("<a></b>"), -1);
    const int column = msg->getErrorColumn();
    EXPECT_EQ(msg->parse("\xEF\xBB\xBF<a></b>"), -1);
    EXPECT_EQ(msg->getErrorLine(), 1);
    EXPECT_EQ(msg->getErrorColumn(), column + 3);
}

TEST(Message, DepthLimitIsExactAndCanBeLifted) {
    OVLMessagePtr msg = newMessage();
    EXPECT_EQ(msg->parse(nested(1000).c_str()), 0);
    EXPECT_EQ(msg->parse(nested(1001).c_str()), -1);
    msg->setMaxDepth(5);
    EXPECT_EQ(msg->parse(nested(5).c_str()), 0);
    EXPECT_EQ(msg->parse("<a><b/><c><d><e><f><g/></f></e></d></c></a>"), -1);
    EXPECT_NE(msg->getError().find("nested deeper than 5 levels"), std::string::npos);
}

TEST(Message, HundredThousandLevelsWithoutLimitNeverRecurse) {
    // With the limit lifted, parsing, walking, printing and destroying a very deep tree must not
    // exhaust the stack (all of them are iterative).
    const int depth = 100000;
    OVLMessagePtr msg = newMessage();
    msg->setMaxDepth(0);
    const std::string text = nested(depth);
    ASSERT_EQ(msg->parse(text.c_str()), 0) << msg->getError();
    OVLMessageIterator it = msg->getIterator();
    int reached = 1;
    while (it.moveToFirstChild() == 0) {
        ++reached;
    }
    EXPECT_EQ(reached, depth);
    std::string expected;
    for (int i = 1; i < depth; ++i) {
        expected += "<a>";
    }
    expected += "<a/>";
    for (int i = 1; i < depth; ++i) {
        expected += "</a>";
    }
    EXPECT_TRUE(msg->toString() == expected);
    OVLMessagePtr copy = newMessage();
    copy->setRootName("copy");
    ASSERT_EQ(copy->getIterator().addCopy(msg->getIterator()), 0);
    EXPECT_TRUE(copy->toString() == "<copy>" + expected + "</copy>");
}

TEST(Message, BodyIsASnapshot) {
    OVLMessagePtr msg = newMessage();
    ASSERT_EQ(msg->parse("<packet><target>t</target></packet>"), 0);
    OVL::OVLMessageBodyPtr body = msg->getBody(0);
    ASSERT_TRUE(body);
    msg->getIterator().writeText("data", "later");
    EXPECT_EQ(body->text(), "<packet><target>t</target></packet>");
    EXPECT_EQ(body->size(), body->text().size());
    EXPECT_EQ(msg->getBody(OVLMessage::kIndent)->text(),
              "<packet>\n  <target>t</target>\n  <data>later</data>\n</packet>\n");
    EXPECT_EQ(msg->toString(OVLMessage::kLines),
              "<packet>\n<target>t</target>\n<data>later</data>\n</packet>\n");
    EXPECT_EQ(msg->toString(OVLMessage::kLines | OVLMessage::kDeclaration),
              "<?xml version=\"1.0\" "
              "encoding=\"UTF-8\"?>\n<packet>\n<target>t</target>\n<data>later</data>\n</packet>\n");
}

TEST(Message, TextKeepsItsExactBytesThroughPrintAndParse) {
    const std::string values[] = {
        "plain",
        "Gr\xC3\xBC\xC3\x9F\x65 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80",
        "line one\r\nline two\rline three\n",
        "   ",
        "\n",
        "  padded  ",
        "<tag attr=\"v\"> & 'quote' ]]> --> <!-- -->",
        std::string("\x01\x02\x1f tab\t"),
        "",
    };
    for (int flags : {int(OVLMessage::kCompact), int(OVLMessage::kIndent), int(OVLMessage::kLines)}) {
        OVLMessagePtr msg = newMessage();
        msg->setRootName("root");
        OVLMessageIterator it = msg->getIterator();
        for (const std::string& v : values) {
            ASSERT_EQ(it.writeText("v", v), 0);
            OVLMessageIterator child = it;
            ASSERT_EQ(child.addChild("attr"), 0);
            ASSERT_EQ(child.setAttribute("value", v), 0);
        }
        const std::string text = msg->toString(flags);
        OVLMessagePtr back = newMessage();
        ASSERT_EQ(back->parse(text.c_str()), 0) << back->getError() << "\n" << text;
        OVLMessageIterator r = back->getIterator();
        ASSERT_EQ(r.moveTo("v"), 0);
        OVLMessageIterator a = back->getIterator();
        ASSERT_EQ(a.moveTo("attr"), 0);
        for (const std::string& v : values) {
            std::string got;
            ASSERT_EQ(r.getText(got), 0);
            EXPECT_EQ(got, v) << "flags " << flags;
            ASSERT_EQ(a.getAttribute("value", got), 0);
            EXPECT_EQ(got, v) << "attribute, flags " << flags;
            r.moveToNext("v");
            a.moveToNext("attr");
        }
    }
}

// Whitespace-only text beside child elements is data when it came as character references or
// CDATA (plain whitespace there is layout); every layout must read back to the same tree.
TEST(Message, WhitespaceTextBesideElementsSurvivesEveryLayout) {
    struct Case {
        const char* input;
        const char* text;  // getText of the root
    };
    const Case cases[] = {
        {"<packet>\n  <target>Cysinke>\n  Jtarget>Cysifo</target>\n  <data><SysInfo>&#10;&#10;<getCpu "
         "id=\"0\"/></SysInfo></data>\n</packet>\n",
         ""},
        {"<a>&#32;<b/></a>", " "},
        {"<a><b/>&#9;&#13;&#10;</a>", "\t\r\n"},
        {"<a><b/>&#32;<c/></a>", " "},
        {"<a>x<b/>&#32;</a>", "x "},
        {"<a>&#32;<![CDATA[x]]></a>", " x"},
        {"<a><![CDATA[ ]]><b/></a>", " "},
        {"<a>\n  <b>one</b>\n  <c/>\n</a>", ""},
        {"<a>x<b/>y</a>", "xy"},
        {"<a> x <b/></a>", " x "},
    };
    for (const Case& c : cases) {
        OVLMessagePtr msg = newMessage();
        ASSERT_EQ(msg->parse(c.input), 0) << msg->getError();
        std::string text;
        ASSERT_EQ(msg->getIterator().getText(text), 0);
        EXPECT_EQ(text, c.text) << c.input;
        const std::string compact = msg->toString(OVLMessage::kCompact);
        for (int flags : {int(OVLMessage::kCompact), int(OVLMessage::kIndent | OVLMessage::kDeclaration),
                          int(OVLMessage::kLines)}) {
            const std::string written = msg->toString(flags);
            OVLMessagePtr back = newMessage();
            ASSERT_EQ(back->parse(written.c_str()), 0) << back->getError() << "\n" << written;
            EXPECT_EQ(back->toString(OVLMessage::kCompact), compact) << c.input << "\nflags " << flags;
            ASSERT_EQ(back->getIterator().getText(text), 0);
            EXPECT_EQ(text, c.text) << c.input << "\nflags " << flags;
        }
    }
    // Ordinary messages are written exactly as before.
    OVLMessagePtr msg = newMessage();
    ASSERT_EQ(msg->parse("<a>x<b/>y</a>"), 0);
    EXPECT_EQ(msg->toString(OVLMessage::kIndent), "<a>x<b />y</a>\n");
    // Text set on an element that has children.
    ASSERT_EQ(msg->getIterator().setText("  "), 0);
    EXPECT_EQ(msg->toString(), "<a><![CDATA[  ]]><b/></a>");
}

TEST(Message, MixedContentIsReadAsOneText) {
    OVLMessagePtr msg = newMessage();
    ASSERT_EQ(msg->parse("<a>one<![CDATA[<two>]]><b/>three</a>"), 0);
    std::string text;
    ASSERT_EQ(msg->getIterator().getText(text), 0);
    EXPECT_EQ(text, "one<two>three");
}

TEST(Message, CommentsAndProcessingInstructionsAreDropped) {
    OVLMessagePtr msg = newMessage();
    ASSERT_EQ(msg->parse("<!-- c --><?pi x?><a><!-- inner --><b/></a><!-- after -->"), 0) << msg->getError();
    EXPECT_EQ(msg->toString(), "<a><b/></a>");
}

TEST(Message, DistinctMessagesWorkOnSeveralThreadsAtOnce) {
    // The factory is shared; each thread parses, edits, prints and saves messages of its own.
    ferrik_test::TempDir dir;
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &dir, &failures] {
            const std::string path = dir.file("t" + std::to_string(t) + ".xml");
            for (int i = 0; i < 200; ++i) {
                OVLMessagePtr msg = OVLMessage::getFactory()->createNew();
                const std::string text =
                    "<packet><target>t" + std::to_string(t) + "</target><data/></packet>";
                if (msg->parse(text.c_str()) != 0) {
                    ++failures[t];
                }
                OVLMessageIterator it = msg->getIterator();
                if (it.moveTo(OVLElement::Data) != 0 || it.writeInt("i", i) != 0) {
                    ++failures[t];
                }
                if (msg->parse("<broken>") != -1 || msg->getError().empty()) {
                    ++failures[t];
                }
                if (i % 50 == 0 && msg->save(path.c_str()) != 0) {
                    ++failures[t];
                }
                if (msg->toString().find("<i>" + std::to_string(i) + "</i>") == std::string::npos) {
                    ++failures[t];
                }
            }
        });
    }
    for (std::thread& th : threads) {
        th.join();
    }
    EXPECT_EQ(failures, std::vector<int>(4, 0));
}
