// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// Moves, edits, value reads and writes of OVLMessageIterator, and every way they fail.

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "OVLMessage/OVLElement.h"
#include "OVLMessage/OVLMessage.h"

using OVL::OVLElement;
using OVL::OVLMessage;
using OVL::OVLMessageIterator;
using OVL::OVLMessagePtr;

namespace {

OVLMessagePtr parsed(const char* text) {
    OVLMessagePtr msg = OVLMessage::getFactory()->createNew();
    EXPECT_EQ(msg->parse(text), 0) << msg->getError();
    return msg;
}

}  // namespace

TEST(ElementTable, IdentifiersAndNamesMapBothWays) {
    EXPECT_STREQ(OVLElement::name(1307), "data");
    EXPECT_STREQ(OVLElement::name(1401), "target");
    for (int id : {1010, 1068, 1630, 1876, 1957, 1960}) {
        ASSERT_NE(OVLElement::name(id), nullptr) << id;
        EXPECT_EQ(OVLElement::id(OVLElement::name(id)), id);
    }
    EXPECT_EQ(OVLElement::name(0), nullptr);
    EXPECT_EQ(OVLElement::name(1308), nullptr);
    EXPECT_EQ(OVLElement::name(-1), nullptr);
    EXPECT_EQ(OVLElement::id("no-such-element"), -1);
    EXPECT_EQ(OVLElement::id(nullptr), -1);
}

TEST(Iterator, MovesByNameIdentifierAndSibling) {
    OVLMessagePtr msg = parsed("<r>text<x/><target>t</target><h>1</h><x/><h>2</h><data/></r>");
    OVLMessageIterator it = msg->getIterator();
    ASSERT_EQ(it.moveToFirstChild(), 0);
    EXPECT_STREQ(it.getName(), "x");
    ASSERT_EQ(it.moveToNextSibling(), 0);
    EXPECT_STREQ(it.getName(), "target");
    ASSERT_EQ(it.moveToNext("h"), 0);
    std::string v;
    it.getText(v);
    EXPECT_EQ(v, "1");
    ASSERT_EQ(it.moveToNext("h"), 0);
    it.getText(v);
    EXPECT_EQ(v, "2");
    EXPECT_EQ(it.moveToNext("h"), -1);
    ASSERT_EQ(it.moveToNext(OVLElement::Data), 0);
    EXPECT_EQ(it.moveToNextSibling(), -1);
    ASSERT_EQ(it.moveToParent(), 0);
    EXPECT_STREQ(it.getName(), "r");
    EXPECT_EQ(it.moveToParent(), -1);
    EXPECT_STREQ(it.getName(), "r");
    ASSERT_EQ(it.moveTo(OVLElement::Target), 0);
    EXPECT_EQ(it.getId(), 1401);
}

TEST(Iterator, FailedMovesStayPut) {
    OVLMessagePtr msg = parsed("<r><a><leaf>x</leaf></a></r>");
    OVLMessageIterator it = msg->getIterator();
    ASSERT_EQ(it.moveTo("a"), 0);
    const OVLMessageIterator at = it;
    EXPECT_EQ(it.moveTo("missing"), -1);
    EXPECT_EQ(it.moveTo(1307), -1);    // known identifier, no such child
    EXPECT_EQ(it.moveTo(424242), -1);  // unknown identifier
    EXPECT_EQ(it.moveTo(nullptr), -1);
    EXPECT_EQ(it.moveToNext("a"), -1);
    EXPECT_EQ(it.moveToNext(nullptr), -1);
    EXPECT_EQ(it.moveToNext(424242), -1);
    EXPECT_EQ(it.moveToNextSibling(), -1);
    EXPECT_EQ(it, at);
    ASSERT_EQ(it.moveTo("leaf"), 0);
    EXPECT_EQ(it.moveToFirstChild(), -1);  // text is not an element
    EXPECT_STREQ(it.getName(), "leaf");
}

TEST(Iterator, InvalidIteratorFailsEverything) {
    OVLMessageIterator it;
    std::string s = "unchanged";
    int i = 7;
    long long ll = 8;
    bool b = true;
    EXPECT_FALSE(it.isValid());
    EXPECT_STREQ(it.getName(), "");
    EXPECT_EQ(it.getId(), -1);
    EXPECT_EQ(it.moveTo("a"), -1);
    EXPECT_EQ(it.moveTo(1307), -1);
    EXPECT_EQ(it.moveToFirstChild(), -1);
    EXPECT_EQ(it.moveToNext("a"), -1);
    EXPECT_EQ(it.moveToNextSibling(), -1);
    EXPECT_EQ(it.moveToParent(), -1);
    EXPECT_FALSE(it.hasChild("a"));
    EXPECT_EQ(it.addChild("a"), -1);
    EXPECT_EQ(it.removeChild("a"), -1);
    EXPECT_EQ(it.removeCurrent(), -1);
    EXPECT_EQ(it.getText(s), -1);
    EXPECT_EQ(it.setText("x"), -1);
    EXPECT_EQ(it.getAttribute("a", s), -1);
    EXPECT_EQ(it.setAttribute("a", "x"), -1);
    EXPECT_EQ(it.readText("a", s), -1);
    EXPECT_EQ(it.readInt("a", i), -1);
    EXPECT_EQ(it.readInt("a", ll), -1);
    EXPECT_EQ(it.readBool("a", b), -1);
    EXPECT_EQ(it.writeText("a", "x"), -1);
    EXPECT_EQ(it.writeInt("a", 1), -1);
    EXPECT_EQ(it.writeBool("a", true), -1);
    EXPECT_EQ(it.read([](OVLMessageIterator&, std::string&) { return 0; }, s), -1);
    EXPECT_EQ(it.write([](OVLMessageIterator&, const std::string&) { return 0; }, s), -1);
    EXPECT_EQ(s, "unchanged");
    EXPECT_EQ(i, 7);
    EXPECT_EQ(ll, 8);
    EXPECT_TRUE(b);
}

TEST(Iterator, AddChildEntersItAndRejectsInvalidNames) {
    OVLMessagePtr msg = OVLMessage::getFactory()->createNew();
    msg->setRootName("r");
    OVLMessageIterator it = msg->getIterator();
    for (const char* bad : {"", "1abc", "a b", "a>b", "-x", ".x", "a\"", "\xC3", "\xFF"}) {
        EXPECT_EQ(it.addChild(bad), -1) << bad;
    }
    EXPECT_EQ(it.addChild(nullptr), -1);
    EXPECT_EQ(it.addChild(999999), -1);
    EXPECT_EQ(msg->toString(), "<r/>");
    for (const char* good : {"a", "_x", "ns1:tag", "a-b.c_d9", "\xC3\xA9t\xC3\xA9"}) {
        OVLMessageIterator child = it;
        ASSERT_EQ(child.addChild(good), 0) << good;
        EXPECT_STREQ(child.getName(), good);
        ASSERT_EQ(child.moveToParent(), 0);
        EXPECT_EQ(child, it);
    }
    ASSERT_EQ(it.addChild(OVLElement::Data), 0);
    EXPECT_STREQ(it.getName(), "data");
}

TEST(Iterator, ValuesReadBackAndBadOnesAreRejected) {
    OVLMessagePtr msg = OVLMessage::getFactory()->createNew();
    msg->setRootName("config");
    OVLMessageIterator it = msg->getIterator();
    ASSERT_EQ(it.writeText("host", "h\xC3\xB6st"), 0);
    ASSERT_EQ(it.writeInt("type", 2), 0);
    ASSERT_EQ(it.writeInt("raw", 0), 0);
    ASSERT_EQ(it.writeInt("scroll", 1), 0);
    ASSERT_EQ(it.writeBool("flag", true), 0);
    ASSERT_EQ(it.writeInt("big", LLONG_MIN), 0);
    ASSERT_EQ(it.writeText(OVLElement::Label, "lbl"), 0);
    EXPECT_EQ(it.writeText("bad", std::string("a\0b", 3)), -1);
    EXPECT_EQ(it.writeText("bad", "\xC3("), -1);
    EXPECT_EQ(it.writeText("bad name", "x"), -1);
    EXPECT_FALSE(it.hasChild("bad"));

    OVLMessagePtr back = OVLMessage::getFactory()->createNew();
    ASSERT_EQ(back->parse(msg->toString(OVLMessage::kIndent).c_str()), 0);
    OVLMessageIterator r = back->getIterator();
    std::string s;
    int i = -1;
    long long ll = 0;
    bool b = false;
    EXPECT_EQ(r.readText("host", s), 0);
    EXPECT_EQ(s, "h\xC3\xB6st");
    EXPECT_EQ(r.readInt("type", i), 0);
    EXPECT_EQ(i, 2);
    EXPECT_EQ(r.readBool("raw", b), 0);
    EXPECT_FALSE(b);
    EXPECT_EQ(r.readBool("scroll", b), 0);
    EXPECT_TRUE(b);
    EXPECT_EQ(r.readBool("flag", b), 0);
    EXPECT_TRUE(b);
    EXPECT_EQ(r.readInt("big", ll), 0);
    EXPECT_EQ(ll, LLONG_MIN);
    EXPECT_EQ(r.readText(1010, s), 0);
    EXPECT_EQ(s, "lbl");

    i = 5;
    EXPECT_EQ(r.readInt("big", i), -1);  // out of int's range
    EXPECT_EQ(r.readInt("host", i), -1);
    EXPECT_EQ(r.readInt("missing", i), -1);
    EXPECT_EQ(i, 5);
    b = true;
    EXPECT_EQ(r.readBool("type", b), -1);
    EXPECT_EQ(r.readBool("missing", b), -1);
    EXPECT_TRUE(b);
    s = "kept";
    EXPECT_EQ(r.readText("missing", s), -1);
    EXPECT_EQ(s, "kept");
}

TEST(Iterator, NumbersAreStrict) {
    OVLMessagePtr msg = parsed(
        "<r><a>+12</a><b> 3</b><c>3 </c><d>0x10</d><e></e><f>+</f><g>-0</g><h>2147483648</h><i>++1</i></r>");
    OVLMessageIterator it = msg->getIterator();
    int v = 0;
    EXPECT_EQ(it.readInt("a", v), 0);
    EXPECT_EQ(v, 12);
    EXPECT_EQ(it.readInt("g", v), 0);
    EXPECT_EQ(v, 0);
    for (const char* bad : {"b", "c", "d", "e", "f", "h", "i"}) {
        v = 99;
        EXPECT_EQ(it.readInt(bad, v), -1) << bad;
        EXPECT_EQ(v, 99);
    }
}

TEST(Iterator, TextAttributesAndRemoval) {
    OVLMessagePtr msg = parsed("<r><a>old<b/>tail</a><c/></r>");
    OVLMessageIterator it = msg->getIterator();
    ASSERT_EQ(it.moveTo("a"), 0);
    ASSERT_EQ(it.setText("new"), 0);
    std::string s;
    it.getText(s);
    EXPECT_EQ(s, "new");
    EXPECT_TRUE(it.hasChild("b"));
    ASSERT_EQ(it.setAttribute("id", "1"), 0);
    ASSERT_EQ(it.setAttribute("id", "2"), 0);
    EXPECT_EQ(it.setAttribute("bad name", "x"), -1);
    EXPECT_EQ(it.getAttribute("id", s), 0);
    EXPECT_EQ(s, "2");
    EXPECT_EQ(it.getAttribute("none", s), -1);
    ASSERT_EQ(it.removeCurrent(), 0);
    EXPECT_STREQ(it.getName(), "r");
    EXPECT_EQ(it.removeCurrent(), -1);  // the root stays
    EXPECT_EQ(it.removeChild("missing"), -1);
    EXPECT_EQ(it.removeChild("c"), 0);
    EXPECT_EQ(msg->toString(), "<r/>");
}

TEST(Iterator, OutlivesItsMessageAndReparse) {
    OVLMessagePtr msg = parsed("<old><x>1</x></old>");
    OVLMessageIterator it = msg->getIterator();
    ASSERT_EQ(msg->parse("<new/>"), 0);
    std::string s;
    EXPECT_EQ(it.readText("x", s), 0);  // still the old tree
    EXPECT_EQ(s, "1");
    msg.reset();
    EXPECT_EQ(it.writeText("y", "2"), 0);
    EXPECT_EQ(it.readText("y", s), 0);
    EXPECT_EQ(s, "2");
}

TEST(Iterator, ReadAndWriteRestoreThePosition) {
    OVLMessagePtr msg = OVLMessage::getFactory()->createNew();
    msg->setRootName("r");
    OVLMessageIterator it = msg->getIterator();
    auto wander = [](OVLMessageIterator& at, const std::string& v) {
        at.addChild("deep");
        at.addChild("deeper");
        return at.setText(v);
    };
    ASSERT_EQ(it.write(wander, std::string("v")), 0);
    ASSERT_EQ(it.write(OVLElement::Data, wander, std::string("w")), 0);
    EXPECT_STREQ(it.getName(), "r");
    EXPECT_EQ(it.write("bad name", wander, std::string("x")), -1);
    std::string got;
    auto reader = [](OVLMessageIterator& at, std::string& out) {
        if (at.moveTo("deep") != 0 || at.moveTo("deeper") != 0) {
            return -1;
        }
        return at.getText(out);
    };
    ASSERT_EQ(it.read(reader, got), 0);
    EXPECT_EQ(got, "v");
    ASSERT_EQ(it.read(1307, reader, got), 0);
    EXPECT_EQ(got, "w");
    EXPECT_EQ(it.read("missing", reader, got), -1);
    EXPECT_STREQ(it.getName(), "r");
}

TEST(Iterator, AddCopyCopiesWholeElementsBetweenTrees) {
    OVLMessagePtr request =
        parsed("<packet><target>t</target><data a=\"1\"><op><x>\xC3\xA9</x></op></data></packet>");
    OVLMessageIterator data = request->getIterator();
    ASSERT_EQ(data.moveTo(OVLElement::Data), 0);

    OVLMessagePtr reply = OVLMessage::getFactory()->createNew();
    reply->setRootName("packet");
    OVLMessageIterator it = reply->getIterator();
    ASSERT_EQ(it.addCopy(data), 0);
    EXPECT_STREQ(it.getName(), "data");
    request.reset();  // the copy does not depend on the source tree
    data = OVLMessageIterator();
    EXPECT_EQ(reply->toString(), "<packet><data a=\"1\"><op><x>\xC3\xA9</x></op></data></packet>");

    // Into its own subtree: the element as it stood before.
    OVLMessageIterator op = it;
    ASSERT_EQ(op.moveTo("op"), 0);
    ASSERT_EQ(op.addCopy(it), 0);
    EXPECT_EQ(reply->toString(),
              "<packet><data a=\"1\"><op><x>\xC3\xA9</x><data "
              "a=\"1\"><op><x>\xC3\xA9</x></op></data></op></data></packet>");
    EXPECT_EQ(it.addCopy(OVLMessageIterator()), -1);
    EXPECT_EQ(OVLMessageIterator().addCopy(it), -1);
}
