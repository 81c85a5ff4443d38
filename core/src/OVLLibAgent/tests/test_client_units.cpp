// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// The pieces of the client library that need no agent: reading packet ids from the first bytes
// of a frame, giving packets an id, and the reply object.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include "ClientPacket.h"
#include "OVLConnection/OVLReply.h"
#include "ReplyWaiter.h"

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

// Both orders of the race between the I/O thread completing and the caller going to sleep, many
// times over: a lost wake-up would show as a wait that runs into its long time-out.
TEST(ReplyWaiter, CompletionBeforeOrDuringTheWaitIsSeenAndATimeOutIsReported) {
    using namespace std::chrono_literals;
    OVL::Agent::ReplyWaiter early;
    early.complete(0, "first");
    EXPECT_TRUE(early.wait(0ms));
    EXPECT_EQ(early.text(), "first");

    auto late = std::make_shared<OVL::Agent::ReplyWaiter>();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(late->wait(30ms));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 30ms);
    late->complete(5, "after the caller gave up");  // harmless

    for (int i = 0; i < 2000; ++i) {
        auto waiter = std::make_shared<OVL::Agent::ReplyWaiter>();
        std::thread completer([waiter, i] {
            if (i % 2 == 0) {
                std::this_thread::yield();
            }
            waiter->complete(i, std::to_string(i));
        });
        const auto begin = std::chrono::steady_clock::now();
        const bool completed = waiter->wait(10s);
        const auto waited = std::chrono::steady_clock::now() - begin;
        completer.join();
        ASSERT_TRUE(completed) << i;
        ASSERT_LT(waited, 5s) << "woken only by the time-out, round " << i;
        EXPECT_EQ(waiter->code(), i);
        EXPECT_EQ(waiter->text(), std::to_string(i));
    }
}
