// The pieces of the client library that need no agent: reading packet ids from the first bytes
// of a frame, giving packets an id, and the reply object.

#include <gtest/gtest.h>

#include <cstdlib>

#include "ClientPacket.h"
#include "OVLConnection/OVLReply.h"

using OVL::Agent::findPacketId;
using OVL::Agent::withPacketId;

TEST(FindPacketId, ReadsTheRootsIdBehindDeclarationsAndComments) {
    struct Case {
        std::string head;
        bool complete;
        std::string id;
    };
    const Case cases[] = {
        {"<?xml version=\"1.0\"?>\n<ns1:packet xmlns:ns1=\"u\" id=\"7c\" origin=\"a\">", true, "7c"},
        {"<!-- c > --><packet id='x y'><target>", true, "x y"},
        {"<packet  id = \"q\" >", true, "q"},
        {"<packet pid=\"no\" xid=\"no\">", true, ""},
        {"<packet a=\"> id='trap'\" id=\"real\">", true, "real"},
        {"<packet>", true, ""},
        {"<packet id=\"trunc", false, ""},
        {"<?xml version", false, ""},
        {"", false, ""},
    };
    for (const Case& c : cases) {
        std::string id = "stale";
        EXPECT_EQ(findPacketId(c.head, id), c.complete) << c.head;
        if (c.complete) {
            EXPECT_EQ(id, c.id) << c.head;
        }
    }
}

TEST(WithPacketId, SetsOrReplacesTheIdAndRejectsBrokenXml) {
    std::string frame, error;
    ASSERT_TRUE(withPacketId("<packet id=\"old\"><target>t</target></packet>", "new1", frame, error));
    EXPECT_EQ(frame, std::string("<packet id=\"new1\"><target>t</target></packet>") + '\0');
    ASSERT_TRUE(withPacketId("<p:packet xmlns:p=\"u\"><data/></p:packet>", "n&2", frame, error));
    EXPECT_EQ(frame, std::string("<p:packet id=\"n&amp;2\" xmlns:p=\"u\"><data/></p:packet>") + '\0');
    EXPECT_FALSE(withPacketId("<packet><target>", "x", frame, error));
    EXPECT_NE(error.find("not well-formed"), std::string::npos);
    EXPECT_FALSE(withPacketId("", "x", frame, error));
}

TEST(OVLReply, GivesAMallocdCopyAndRefusesToCutTheTextShort) {
    OVL::OVLReplyPtr reply(new OVL::OVLReply("<packet>\xc3\xa9</packet>"));
    std::string error;
    char* text = reply->getText(0, error, 40000);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "<packet>\xc3\xa9</packet>");
    std::free(text);
    text = reply->getText(8, error, 0);
    EXPECT_STREQ(text, "\xc3\xa9</packet>");
    std::free(text);
    EXPECT_EQ(reply->getText(100, error, 0), nullptr);
    EXPECT_NE(error.find("past the end"), std::string::npos);

    OVL::OVLReplyPtr big(new OVL::OVLReply(std::string(2048 + 1, 'x')));
    EXPECT_EQ(big->getText(0, error, 2), nullptr);
    EXPECT_NE(error.find("2049 bytes"), std::string::npos);

    EXPECT_EQ(reply->finish(), 0);
    EXPECT_EQ(reply->finish(), -1);
    EXPECT_EQ(reply->getText(0, error, 0), nullptr);
}
