// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <string>

#include "OVLWire/Protocol.h"
#include "OVLWire/ReplyWriter.h"
#include "OVLWire/Request.h"
#include "OVLWire/WellFormed.h"

using namespace OVL::Wire;

TEST(ReplyWriter, OneElementPerLineWithGeneratedPrefixes) {
    ReplyWriter writer("7c", "ovagent", "system", kSystemNamespace);
    pugi::xml_node result = writer.result("system", "echoResult");
    ReplyWriter::add(result, "text", "a<b & \"c\"");
    std::string out;
    writer.appendFrame(out);
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.back(), '\0');
    out.pop_back();
    EXPECT_EQ(
        out,
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<ns1:packet xmlns:ns1=\"urn:ovl:agent:packet:1\" xmlns:ns2=\"urn:ovl:agent:system:1\" id=\"7c\" "
        "origin=\"ovagent\">\n"
        "<ns1:target>system</ns1:target>\n"
        "<ns1:data>\n"
        "<ns2:system>\n"
        "<ns2:echoResult>\n"
        "<ns2:text>a&lt;b &amp; \"c\"</ns2:text>\n"
        "</ns2:echoResult>\n"
        "</ns2:system>\n"
        "</ns1:data>\n"
        "</ns1:packet>");
}

TEST(ReplyWriter, ErrorReplyParsesBackAndEscapesItsMessage) {
    std::string out;
    appendErrorFrame(out, std::nullopt, "ovagent", "x<y", kErrUnknownTarget, "unknown target 'x<y'\x01");
    ASSERT_EQ(out.back(), '\0');
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_buffer(out.data(), out.size() - 1));
    pugi::xml_node packet = doc.document_element();
    EXPECT_TRUE(packet.attribute("id").empty()) << "no id given: no id attribute";
    EXPECT_EQ(childText(packet, "target"), "x<y");
    pugi::xml_node error = childByLocalName(childByLocalName(packet, "data"), "error");
    EXPECT_EQ(childText(error, "code"), "404");
    EXPECT_EQ(childText(error, "message"), "unknown target 'x<y'");

    // An empty id is kept as an id.
    std::string empty;
    appendErrorFrame(empty, std::string(), "ovagent", "system", kErrUnknownTarget, "m");
    EXPECT_NE(empty.find(" id=\"\" origin=\"ovagent\""), std::string::npos) << empty;
}

TEST(RequestFrame, RoundTripsThroughTheRequestParser) {
    std::string out;
    appendRequestFrame(out, "7c", "system", "system", "login",
                       {{"login", "pe<admin>"}, {"domain", ""}, {"password", "a&b\"c"}});
    ASSERT_EQ(out.back(), '\0');
    EXPECT_EQ(out.find('\0'), out.size() - 1);
    out.pop_back();
    Request request;
    std::string message;
    ASSERT_EQ(request.parse({out.data(), out.size()}, ParseLimits{}, message), 0) << message;
    EXPECT_EQ(request.id(), "7c");
    EXPECT_EQ(request.target(), "system");
    EXPECT_EQ(request.operationName(), "login");
    EXPECT_EQ(childText(request.operationNode(), "login"), "pe<admin>");
    EXPECT_EQ(childText(request.operationNode(), "password"), "a&b\"c");
    EXPECT_TRUE(childByLocalName(request.operationNode(), "domain"));
}

// Text from the state file or the host may hold what XML cannot carry; the reply stays well-formed
// and keeps every character it can carry, the carriage return included.
TEST(ReplyWriter, EveryReplyIsWellFormedWhateverItsTexts) {
    const std::string hostile = "cr\rlf\ntab\tctl\x01\x1b nc\xEF\xBF\xBE\xEF\xBF\xBF bad\xff ]]> &amp; <";
    ReplyWriter writer(hostile, "ovagent", hostile, kSystemNamespace);
    ReplyWriter::add(writer.result("system", "echoResult"), "text", hostile);
    std::string out;
    writer.appendFrame(out);
    out.pop_back();
    std::string message;
    ASSERT_TRUE(checkWellFormed(out, message)) << message << "\n" << out;
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(out.c_str()));
    const std::string carried = "cr\rlf\ntab\tctl nc bad ]]> &amp; <";
    EXPECT_EQ(childText(doc.document_element(), "target"), carried);
    EXPECT_EQ(doc.document_element().attribute("id").value(), carried);
    EXPECT_EQ(doc.select_node("//ns2:text").node().child_value(), carried);

    out.clear();
    appendRequestFrame(out, "i\td", "system", "system", "echo", {{"text", hostile}});
    out.pop_back();
    Request request;
    ASSERT_EQ(request.parse({out.data(), out.size()}, ParseLimits{}, message), 0) << message;
    EXPECT_EQ(request.id(), "i\td");
    EXPECT_EQ(childText(request.operationNode(), "text"), carried);
}
