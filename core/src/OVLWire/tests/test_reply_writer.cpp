#include <gtest/gtest.h>

#include <string>

#include "OVLWire/Protocol.h"
#include "OVLWire/ReplyWriter.h"
#include "OVLWire/Request.h"

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
    appendErrorFrame(out, "", "ovagent", "x<y", kErrUnknownTarget, "unknown target 'x<y'\x01");
    ASSERT_EQ(out.back(), '\0');
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_buffer(out.data(), out.size() - 1));
    pugi::xml_node packet = doc.document_element();
    EXPECT_TRUE(packet.attribute("id").empty());
    EXPECT_EQ(childText(packet, "target"), "x<y");
    pugi::xml_node error = childByLocalName(childByLocalName(packet, "data"), "error");
    EXPECT_EQ(childText(error, "code"), "404");
    EXPECT_EQ(childText(error, "message"), "unknown target 'x<y'");
}
