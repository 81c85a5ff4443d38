// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// The reply router and its pending table without a socket: frames in, callbacks and Done out.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <boost/asio/io_context.hpp>

#include "ClientTestSupport.h"
#include "ReplyRouter.h"

namespace {

using client_test::TaskHandler;
using client_test::TaskHandlerPtr;
using OVL::Agent::PendingRequests;
using OVL::Agent::ReplyRouter;
using namespace std::chrono_literals;

struct RouterRig {
    boost::asio::io_context context;
    PendingRequests pending;
    std::shared_ptr<int> owner = std::make_shared<int>(0);
    ReplyRouter router{context, pending, [this] { return owner; }, [] { return std::string("fake 1"); }};
    std::vector<std::pair<int, std::string>> done;  // what the Done callbacks got

    PendingRequests::Request request(const TaskHandlerPtr& handler, std::chrono::milliseconds in = 10s) {
        return {handler, [this](int code, std::string text) { done.emplace_back(code, std::move(text)); },
                PendingRequests::Clock::now() + in, static_cast<int>(in.count())};
    }
    // Gives the frame to the router in pieces of `piece` bytes, then as complete.
    void feed(const std::string& frame, std::size_t piece) {
        const std::string bytes = frame + '\0';
        for (std::size_t at = 0; at < bytes.size(); at += piece) {
            router.receive(bytes.data() + at, std::min(piece, bytes.size() - at));
        }
        router.complete(frame);
    }
};

TEST(ReplyRouter, RoutesByPacketIdToTheRequestOrTheSubscribersOrNobody) {
    RouterRig rig;
    const TaskHandlerPtr owner(new TaskHandler), subscriber(new TaskHandler), other(new TaskHandler);
    rig.router.subscribe(subscriber);
    rig.router.subscribe(subscriber);  // once only
    EXPECT_TRUE(rig.pending.add("r1", rig.request(owner)));
    EXPECT_FALSE(rig.pending.add("r2", rig.request(other))) << "the timer is armed once";
    rig.pending.cancel("r2", true);  // given up: its late reply goes nowhere
    rig.pending.addRaw({subscriber, 1, PendingRequests::Clock::now() + 10s, 10000});

    const std::string reply = "<packet id=\"r1\"><data>" + std::string(300, 'x') + "</data></packet>";
    rig.feed(reply, 7);  // the id is split over pieces
    rig.feed("<packet id=\"r2\"/>", 100);
    rig.feed("<packet id=\"unknown\"><data/></packet>", 5);
    rig.feed("<packet id=\"r1\">again</packet>", 100);  // answered already: a subscriber's now

    EXPECT_EQ(owner->repliesNow(), std::vector<std::string>{reply});
    EXPECT_EQ(rig.done, (std::vector<std::pair<int, std::string>>{{0, reply}}));
    EXPECT_TRUE(other->repliesNow().empty());
    EXPECT_EQ(subscriber->repliesNow(), (std::vector<std::string>{"<packet id=\"unknown\"><data/></packet>",
                                                                  "<packet id=\"r1\">again</packet>"}));
    // The unclaimed frame answered the raw write: nothing is left to time out.
    EXPECT_FALSE(rig.pending.earliestDeadline());
}

TEST(ReplyRouter, AFrameWithoutACompleteRootTagWithinTheHeadLimitGoesToTheSubscribers) {
    RouterRig rig;
    const TaskHandlerPtr owner(new TaskHandler), subscriber(new TaskHandler);
    rig.router.subscribe(subscriber);
    rig.pending.add("big", rig.request(owner));
    // The id comes after kMaxHead bytes of attributes: the route is decided without it.
    const std::string frame = "<packet a=\"" + std::string(ReplyRouter::kMaxHead, 'a') + "\" id=\"big\"/>";
    rig.feed(frame, 4096);
    EXPECT_EQ(subscriber->repliesNow().size(), 1u);
    EXPECT_TRUE(owner->repliesNow().empty());
    EXPECT_TRUE(rig.done.empty());
}

TEST(ReplyRouter, RequestsWithoutAReplyTimeOutNamingTheirIdAndCloseNamesTheRest) {
    RouterRig rig;
    const TaskHandlerPtr slow(new TaskHandler), raw(new TaskHandler), patient(new TaskHandler);
    rig.pending.add("slow", rig.request(slow, 20ms));
    rig.pending.add("sync", rig.request(TaskHandlerPtr(), 20ms));  // a synchronous caller's: no handler
    rig.pending.addRaw({raw, 2, PendingRequests::Clock::now() + 20ms, 20});
    rig.pending.add("patient", rig.request(patient, 10s));
    rig.router.armTimer();
    rig.context.run_for(300ms);

    EXPECT_EQ(slow->errorsNow(),
              std::vector<std::string>{"request slow: no reply from the agent at fake 1 within 20 ms"});
    EXPECT_EQ(raw->errorsNow(),
              std::vector<std::string>{"raw request: no reply from the agent at fake 1 within 20 ms"});
    ASSERT_EQ(rig.done.size(), 2u);
    for (const auto& [code, text] : rig.done) {
        EXPECT_EQ(code, OVL::OVLRequestErrorData::kTimeout) << text;
    }
    EXPECT_TRUE(patient->errorsNow().empty());

    // The synchronous request's late reply is dropped; the late reply with a handler goes to
    // the subscribers.
    const TaskHandlerPtr subscriber(new TaskHandler);
    rig.router.subscribe(subscriber);
    rig.feed("<packet id=\"sync\"/>", 100);
    rig.feed("<packet id=\"slow\"/>", 100);
    EXPECT_EQ(subscriber->repliesNow(), std::vector<std::string>{"<packet id=\"slow\"/>"});

    rig.router.close({OVL::OVLRequestErrorData::kClosed, "the agent closed the connection"});
    EXPECT_EQ(patient->errorsNow(),
              std::vector<std::string>{"request patient: the agent closed the connection"});
    EXPECT_EQ(rig.done.back(), (std::pair<int, std::string>{OVL::OVLRequestErrorData::kClosed,
                                                            "the agent closed the connection"}));
    rig.feed("<packet id=\"x\"/>", 100);
    EXPECT_EQ(subscriber->repliesNow().size(), 1u) << "nothing is routed after close()";
}

}  // namespace
