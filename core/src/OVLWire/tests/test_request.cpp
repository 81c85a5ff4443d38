// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <string>

#include "OVLWire/Protocol.h"
#include "OVLWire/ReplyWriter.h"
#include "OVLWire/Request.h"
#include "OVLWire/Utf8.h"
#include "OVLWire/WellFormed.h"

using namespace OVL::Wire;

namespace {

int parse(std::string text, Request& request, std::string& message, int maxDepth = 32) {
    static std::string storage;  // the request parses in place; keep the bytes alive
    storage = std::move(text);
    return request.parse({storage.data(), storage.size()}, ParseLimits{maxDepth}, message);
}

}  // namespace

TEST(Request, PlainAndPrefixedRequestsAreAlike) {
    for (const char* text :
         {"<packet "
          "id=\"7c\"><target>system</target><data><system><echo><text>hi</text></echo></system></data></"
          "packet>",
          "<?xml version=\"1.0\"?>\n<p:packet xmlns:p=\"urn:x\" id=\"7c\">\n  <p:target>system</p:target>\n"
          "  <p:data><q:system xmlns:q=\"urn:y\"><!-- c "
          "--><q:echo><q:text>hi</q:text></q:echo></q:system></p:data>\n"
          "</p:packet>"}) {
        Request request;
        std::string message;
        ASSERT_EQ(parse(text, request, message), 0) << message;
        EXPECT_EQ(request.id(), "7c");
        EXPECT_EQ(request.target(), "system");
        EXPECT_EQ(request.interfaceName(), "system");
        EXPECT_EQ(request.operationName(), "echo");
        EXPECT_EQ(childText(request.operationNode(), "text"), "hi");
    }
}

struct BadCase {
    const char* text;
    int code;
};

class RequestRejects : public ::testing::TestWithParam<BadCase> {};

TEST_P(RequestRejects, WithItsCode) {
    Request request;
    std::string message;
    EXPECT_EQ(parse(GetParam().text, request, message, 4), GetParam().code);
    EXPECT_FALSE(message.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Malformed, RequestRejects,
    ::testing::Values(
        BadCase{"", kErrMalformed}, BadCase{"<packet><target>system</target>", kErrMalformed},
        BadCase{"<reply><target>x</target><data><a><b/></a></data></reply>", kErrMalformed},
        BadCase{"<packet><data><a><b/></a></data></packet>", kErrMalformed},
        BadCase{"<packet><target>x</target></packet>", kErrMalformed},
        BadCase{"<packet><target>x</target><data>text</data></packet>", kErrMalformed},
        BadCase{"<packet><target>x</target><data><a/></data></packet>", kErrMalformed},
        BadCase{"<packet><target>\xff\xfe</target><data><a><b/></a></data></packet>", kErrMalformed},
        BadCase{"<packet><target>x</target><data><a><b><c/></b></a></data></packet>", kErrTooDeep}));

TEST(Request, DepthLimitCountsTheRootAndPassesAtTheLimit) {
    Request request;
    std::string message;
    EXPECT_EQ(parse("<packet><target>x</target><data><a><b/></a></data></packet>", request, message, 4), 0);
    // Siblings do not add depth; a deep branch after shallow ones is still found.
    EXPECT_EQ(parse("<packet><target>x</target><data><a><b/><b/><b><c/></b></a></data></packet>", request,
                    message, 4),
              kErrTooDeep);
    // The check stops where the limit is passed, before the frame's end shows it unclosed; the
    // id and target read before that still come back.
    std::string deep = "<packet id=\"d7\"><target>x</target><data>";
    for (int i = 0; i < 100000; ++i) {
        deep += "<e>";
    }
    EXPECT_EQ(parse(deep + "</data></packet>", request, message, 32), kErrTooDeep);
    EXPECT_EQ(message, "element nesting deeper than 32");
    EXPECT_EQ(request.id(), "d7");
    EXPECT_EQ(request.target(), "x");
    for (int i = 0; i < 100000; ++i) {
        deep += "</e>";
    }
    EXPECT_EQ(parse(deep + "</data></packet>", request, message, 32), kErrTooDeep);
    // Malformed before the limit is reached: 400, with what was read.
    EXPECT_EQ(parse("<ns:packet id=\"m\"><ns:target>t</ns:target><a>&bad;<b><c/></b></a></ns:packet>",
                    request, message, 3),
              kErrMalformed);
    EXPECT_EQ(request.id(), "m");
    EXPECT_EQ(request.target(), "t");
}

TEST(Request, IdAndTargetSurviveALaterError) {
    Request request;
    std::string message;
    EXPECT_EQ(parse("<packet id=\"a1\"><target>envs</target></packet>", request, message), kErrMalformed);
    EXPECT_EQ(request.id(), "a1");
    EXPECT_EQ(request.target(), "envs");
    // An empty id is one; a packet without one has none, also after a packet that had one.
    parse("<packet id=\"\"><target>envs</target></packet>", request, message);
    EXPECT_EQ(request.id(), std::optional<std::string>(""));
    parse("<packet><target>envs</target></packet>", request, message);
    EXPECT_EQ(request.id(), std::nullopt);
}

TEST(Utf8, AcceptsWellFormedAndRejectsTheRest) {
    EXPECT_TRUE(isValidUtf8("plain ascii text that is longer than eight bytes"));
    EXPECT_TRUE(isValidUtf8("gr\xc3\xbc\xc3\x9f \xe2\x82\xac \xf0\x9f\x98\x80"));
    EXPECT_FALSE(isValidUtf8("\xc0\xaf"));          // overlong '/'
    EXPECT_FALSE(isValidUtf8("\xed\xa0\x80"));      // surrogate
    EXPECT_FALSE(isValidUtf8("\xf4\x90\x80\x80"));  // above U+10FFFF
    EXPECT_FALSE(isValidUtf8("abcdefgh\xe2\x82"));  // truncated at the end
    EXPECT_FALSE(isValidUtf8("\x80"));
    // A zero byte is a character like any other here (frames never hold one).
    EXPECT_TRUE(isValidUtf8(std::string_view("a\0b\0", 4)));
    EXPECT_FALSE(isValidUtf8(std::string_view("a\0\x80", 3)));
}

// The lenient DOM parser alone accepts each of these; the strict check answers 400 with the place.
TEST(Request, FramesThatAreNotWellFormedAreRefusedWithTheirPosition) {
    const std::string echo = "<target>system</target><data><system><echo/></system></data>";
    const struct {
        std::string text;
        const char* reason;
    } cases[] = {
        {"<packet id=\"a\">" + echo + "</packet><packet id=\"b\">" + echo + "</packet>",
         "line 1, column 85: junk after document element"},
        {"<packet id=\"a\">" + echo + "</packet>\ngarbage", "line 2, column 1: junk after document element"},
        {"<packet id=\"a\"><target>&nope;</target></packet>", "undefined entity"},
        {"<packet id=\"a\" id=\"b\">" + echo + "</packet>", "duplicate attribute"},
        {"<packet id=\"a\"><target>sys\x01tem</target></packet>", "not well-formed (invalid token)"},
        {"<packet id=\"a\"><target>&#1;</target></packet>", "reference to invalid character number"},
        {"<packet id=\"a&#xFFFE;\">" + echo + "</packet>", "reference to invalid character number"},
        {"<packet id=\"a\"><target>\xEF\xBF\xBF</target></packet>", "not well-formed (invalid token)"},
        {"<?xml version=\"1.0\" encoding=\"UTF-16\"?><packet id=\"a\">" + echo + "</packet>",
         "declares the encoding 'UTF-16'; packets are UTF-8"},
        {"<!DOCTYPE packet [<!ENTITY e \"system\">]><packet id=\"a\"><target>&e;</target></packet>",
         "document type declarations are not accepted"},
    };
    for (const auto& c : cases) {
        Request request;
        std::string message;
        EXPECT_EQ(parse(c.text, request, message), kErrMalformed) << c.text;
        EXPECT_NE(message.find("malformed XML at line "), std::string::npos) << message;
        EXPECT_NE(message.find(c.reason), std::string::npos) << message;
    }
    Request request;
    std::string message;
    parse("<packet id=\"a\">" + echo + "</packet><packet id=\"b\">" + echo + "</packet>", request, message);
    EXPECT_EQ(request.id(), "a") << "the error reply carries the id that could be read";
    for (const char* fine :
         {"\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?><a/>", "<a b='&#9;&lt;&#x10FFFF;'/>",
          "<!-- c --><a><![CDATA[<&\x0d]]><?pi x?></a>\n"}) {
        EXPECT_TRUE(checkWellFormed(fine, message)) << fine << ": " << message;
    }
}

// An id is the attribute's value as XML reads it: tab, line feed and carriage return written as
// references are kept; written raw they are white space, which XML reads as a space.
TEST(Request, IdsKeepTheirWhiteSpaceThroughTheReply) {
    Request request;
    std::string message;
    ASSERT_EQ(parse("<packet id=\"a&#9;b&#10;c&#13;d\te\">" +
                        std::string("<target>system</target><data><system><echo/></system></data></packet>"),
                    request, message),
              0)
        << message;
    EXPECT_EQ(request.id(), "a\tb\nc\rd e");
    std::string out;
    appendErrorFrame(out, request.id(), "ovagent", "system", kErrBadArgument, "m");
    out.pop_back();
    ASSERT_TRUE(checkWellFormed(out, message)) << message;
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(out.c_str()));
    EXPECT_EQ(std::string(doc.document_element().attribute("id").value()), request.id());
}

TEST(Utf8, XmlTextDropsOnlyWhatXmlCannotCarry) {
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"tab\tlf\ncr\r \xE2\x82\xAC \xEF\xBF\xBD \xF0\x9F\x98\x80", ""},
        {"a\x01"
         "b\x1f",
         "ab"},
        {"x\xEF\xBF\xBEy\xEF\xBF\xBFz", "xyz"},
        {"bad\xff\xc0\xafutf8\xed\xa0\x80", "badutf8"},
        {std::string("zero\0byte", 9), "zerobyte"},
    };
    for (const auto& c : cases) {
        const std::string expected = c.out.empty() ? c.in : c.out;
        EXPECT_EQ(isXmlText(c.in), c.out.empty()) << c.in;
        EXPECT_EQ(toXmlText(c.in), expected);
    }
}
