#include <gtest/gtest.h>

#include <string>

#include "OVLWire/Protocol.h"
#include "OVLWire/Request.h"
#include "OVLWire/Utf8.h"

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
    std::string deep = "<packet><target>x</target><data>";
    for (int i = 0; i < 100000; ++i)
        deep += "<e>";
    EXPECT_EQ(parse(deep + "</data></packet>", request, message, 32), kErrMalformed);
    for (int i = 0; i < 100000; ++i)
        deep += "</e>";
    EXPECT_EQ(parse(deep + "</data></packet>", request, message, 32), kErrTooDeep);
}

TEST(Request, IdAndTargetSurviveALaterError) {
    Request request;
    std::string message;
    EXPECT_EQ(parse("<packet id=\"a1\"><target>envs</target></packet>", request, message), kErrMalformed);
    EXPECT_EQ(request.id(), "a1");
    EXPECT_EQ(request.target(), "envs");
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
