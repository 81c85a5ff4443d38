// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// The agent connection over TCP: login, parsed and raw requests, environments, realms, many
// tasks and connections, and clean shutdown.

#include <gtest/gtest.h>

#include <set>

#include "ClientTestSupport.h"
#include "OVLMessage/OVLMessage.h"

using namespace client_test;

namespace {

class ClientTcp : public WithAgent {};

TEST_F(ClientTcp, LogsInAndReportsTheAgentsEidOnTheLibraryThread) {
    Connected c = connectOrFail(tcpInfo(agent));
    ASSERT_TRUE(c.agent);
    EXPECT_EQ(c.eid.toString(), agentEid(agent));
    EXPECT_TRUE(c.agent->isConnected());
    EXPECT_EQ(c.agent->getEID(), c.eid);
    std::lock_guard<std::mutex> lock(c.handler->m_mutex);
    EXPECT_TRUE(c.handler->threadOk);
}

TEST_F(ClientTcp, RealmGivenByNameOfThePlainConnectivityInfoFailsWithoutCredentials) {
    auto a = OVL::OVLAccessAgentPrototype::createInstance(nullptr, nullptr, nullptr);
    ConnHandlerPtr handler(new ConnHandler);
    const OVL::OVLConnectivityInfo plain("127.0.0.1", "TCP", agent.tcpPort());
    EXPECT_EQ(a->connect(plain, handler), 0);
    ASSERT_TRUE(handler->waitEvent());
    EXPECT_EQ(handler->eventsNow(), std::vector<std::string>{"error"});
    EXPECT_EQ(handler->lastError().m_code, 403);
}

TEST_F(ClientTcp, ParsedRequestsCarryTheirIdAndTheReplyGoesToTheirTaskOnly) {
    Connected c = connectOrFail(tcpInfo(agent));
    ASSERT_TRUE(c.agent);
    TaskHandlerPtr subscriber(new TaskHandler), requester(new TaskHandler);
    c.agent->createTask(c.eid, "", subscriber)->start();

    std::string id;
    OVL::OVLTaskPtr task = c.agent->createTask(c.eid, "", requester, id);
    EXPECT_FALSE(id.empty());
    EXPECT_EQ(task->send(bodyOf(echoPacket("parsed"))), 0);
    task.reset();
    ASSERT_TRUE(requester->waitReplies(1));
    const std::string reply = requester->repliesNow()[0];
    EXPECT_EQ(packetId(reply), id);
    EXPECT_NE(reply.find("<ns2:text>parsed</ns2:text>"), std::string::npos);
    EXPECT_EQ(reply.rfind("<?xml", 0), 0u) << "the text is the agent's packet as received";
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(subscriber->repliesNow().empty());
    std::lock_guard<std::mutex> lock(requester->m_mutex);
    EXPECT_EQ(requester->writes, 1);
}

TEST_F(ClientTcp, RawBufferOfSeveralPacketsGoesOutAsItIsAndRepliesReachTheSubscriberOnce) {
    Connected c = connectOrFail(tcpInfo(agent));
    ASSERT_TRUE(c.agent);
    TaskHandlerPtr handler(new TaskHandler);
    // Subscribed twice, as the console does when raw mode is switched on: each reply comes once.
    c.agent->createTask(c.eid, "", handler)->start();
    c.agent->createTask(c.eid, "", handler)->start();
    std::string buffer;
    for (const char* id : {"a", "b", "c"}) {
        buffer += agent_test::request(id, "system", "system", "echo", std::string("<text>") + id + "</text>");
        buffer.push_back('\0');
    }
    c.agent->createTask(c.eid, "", handler, buffer.data(), buffer.size())->startRaw();
    ASSERT_TRUE(handler->waitReplies(3));
    std::this_thread::sleep_for(100ms);
    const auto replies = handler->repliesNow();
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_EQ(packetId(replies[0]), "a");
    EXPECT_EQ(packetId(replies[1]), "b");
    EXPECT_EQ(packetId(replies[2]), "c");
}

TEST_F(ClientTcp, RawModeGetsPiecesThatJoinToTheWholeReply) {
    Connected c = connectOrFail(tcpInfo(agent));
    ASSERT_TRUE(c.agent);
    TaskHandlerPtr handler(new TaskHandler);
    handler->setRaw(true);
    c.agent->createTask(c.eid, "", handler)->start();
    // A large echo arrives in many reads.
    const std::string big(300000, 'x');
    std::string packet = agent_test::request("big", "system", "system", "echo", "<text>" + big + "</text>");
    packet.push_back('\0');
    c.agent->createTask(c.eid, "", handler, packet.data(), packet.size())->startRaw();
    ASSERT_TRUE(handler->waitFor([&] {
        std::string joined;
        for (auto& p : handler->pieces) {
            joined += p;
        }
        return joined.find("</ns1:packet>") != std::string::npos;
    }));
    const auto pieces = handler->piecesNow();
    EXPECT_GT(pieces.size(), 1u);
    std::string joined;
    for (auto& p : pieces) {
        EXPECT_EQ(p.find('\0'), std::string::npos);
        joined += p;
    }
    EXPECT_EQ(packetId(joined), "big");
    EXPECT_NE(joined.find(big), std::string::npos);
    EXPECT_TRUE(handler->repliesNow().empty()) << "consumed pieces give no complete reply";
}

TEST_F(ClientTcp, EnvironmentListFillsTheCacheWithBothConfigurations) {
    Connected c = connectOrFail(tcpInfo(agent));
    ASSERT_TRUE(c.agent);
    auto ap = OVL::OVLAccessPointPrototype::createInstance(c.agent, nullptr);
    EXPECT_EQ(ap->getEnvList(), nullptr);
    ASSERT_EQ(ap->initializeSync(OVL::OVLConnectionInfo(), nullptr, 0x600000ab), 0) << ap->getError();
    auto list = ap->getEnvList();
    ASSERT_TRUE(list);
    ASSERT_EQ(list->size(), 2u);
    auto it = list->begin();
    EXPECT_EQ((*it)->getEID().toString(), "0f6d2b1e-8a4c-4d3b-9e7f-1a2b3c4d5e60");
    EXPECT_EQ((*it)->getName(), "prod-db");
    std::string value;
    EXPECT_EQ((*it)->getConfig().get("type", value), 0);
    EXPECT_EQ(value, "database");
    EXPECT_EQ((*it)->getRuntimeConfig().get("role", value), 0);
    EXPECT_EQ(value, "primary");
    ++it;
    EXPECT_EQ((*it)->getName(), "test-web");
    EXPECT_TRUE((*it)->getRuntimeConfig().empty());
}

TEST_F(ClientTcp, RealmListInTheAgentsOrder) {
    Connected c = connectOrFail(tcpInfo(agent));
    ASSERT_TRUE(c.agent);
    OVL::OVLSystemAgent system(c.eid, c.agent);
    OVL::OVLRealmList realms;
    ASSERT_EQ(system.getRealm(realms), 0) << system.getError();
    ASSERT_EQ(realms.size(), 2u);
    EXPECT_EQ(realms[0]->getID().toString(), agent_test::kSystemRealm);
    EXPECT_EQ(realms[0]->getName(), "System");
    EXPECT_EQ(realms[0]->getType(), "system");
    EXPECT_EQ(realms[1]->getID().toString(), "8b2e4c61-7d3f-4e9a-a1b2-3c4d5e6f7a80");
    EXPECT_EQ(realms[1]->getName(), "Lab");
}

TEST_F(ClientTcp, ManyTasksOnOneConnectionEachGetTheirOwnReply) {
    Connected c = connectOrFail(tcpInfo(agent));
    ASSERT_TRUE(c.agent);
    constexpr int kTasks = 50;
    std::vector<TaskHandlerPtr> handlers;
    std::vector<std::string> ids(kTasks);
    for (int i = 0; i < kTasks; ++i) {
        handlers.emplace_back(new TaskHandler);
        c.agent->createTask(c.eid, "", handlers.back(), ids[i])->send(bodyOf(echoPacket(std::to_string(i))));
    }
    for (int i = 0; i < kTasks; ++i) {
        ASSERT_TRUE(handlers[i]->waitReplies(1)) << i;
        const std::string reply = handlers[i]->repliesNow()[0];
        EXPECT_EQ(packetId(reply), ids[i]);
        EXPECT_NE(reply.find("<ns2:text>" + std::to_string(i) + "</ns2:text>"), std::string::npos);
    }
}

TEST_F(ClientTcp, SeveralConnectionsFromOneProcessAtOnce) {
    constexpr int kConnections = 8;
    std::vector<Connected> connections;
    for (int i = 0; i < kConnections; ++i) {
        connections.push_back(connectOrFail(tcpInfo(agent)));
        ASSERT_TRUE(connections.back().agent);
    }
    std::vector<std::thread> threads;
    for (int i = 0; i < kConnections; ++i) {
        threads.emplace_back([&, i] {
            std::string reply, error;
            for (int j = 0; j < 20; ++j) {
                EXPECT_EQ(
                    connections[i].agent->requestSync(echoPacket("t" + std::to_string(i)), reply, error), 0)
                    << error;
                EXPECT_NE(reply.find("t" + std::to_string(i)), std::string::npos);
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
}

TEST_F(ClientTcp, ConnectDisconnectCyclesLeaveNoDescriptorOrThread) {
    {
        Connected warm = connectOrFail(tcpInfo(agent));  // starts the library's I/O thread
        ASSERT_TRUE(warm.agent);
    }
    std::this_thread::sleep_for(100ms);
    const int fds = countFds(), threads = countThreads();
    for (int i = 0; i < 200; ++i) {
        Connected c = connectOrFail(tcpInfo(agent));
        ASSERT_TRUE(c.agent);
        if (i % 2 == 0) {
            c.agent->disconnect();  // else dropping the last reference closes it
        }
    }
    // Closing happens on the I/O thread right after the last reference is gone.
    for (int i = 0; i < 100 && countFds() > fds; ++i) {
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_EQ(countFds(), fds);
    EXPECT_EQ(countThreads(), threads);
}

TEST_F(ClientTcp, DroppingTheLastReferenceInsideACallbackWorks) {
    struct Dropper : ConnHandler {
        OVL::OVLAccessAgentPrototypePtr agent;
        void onConnected(const OVL::eid_t& eid) override {
            agent.reset();  // last reference, on the I/O thread
            ConnHandler::onConnected(eid);
        }
    };
    boost::intrusive_ptr<Dropper> handler(new Dropper);
    handler->agent = OVL::OVLAccessAgentPrototype::createInstance(nullptr, nullptr, nullptr);
    handler->agent->connect(tcpInfo(agent), handler);
    ASSERT_TRUE(handler->waitEvent());
    EXPECT_EQ(handler->eventsNow(), std::vector<std::string>{"connected"});
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(handler->eventsNow().size(), 1u) << "no disconnected callback after the agent was dropped";
    EXPECT_EQ(handler->refCount(), 1) << "the library released the handler";
}

TEST_F(ClientTcp, UserDisconnectEndsPendingRequestsWithoutConnectionCallback) {
    Connected c = connectOrFail(tcpInfo(agent));
    ASSERT_TRUE(c.agent);
    TaskHandlerPtr handler(new TaskHandler);
    std::string id;
    // A login-delayed request: the agent answers quickly, so disconnect at once after queuing.
    c.agent->createTask(c.eid, "", handler, id)->send(bodyOf(echoPacket("late")));
    c.agent->disconnect();
    ASSERT_TRUE(handler->waitFor([&] { return handler->replies.size() + handler->errors.size() >= 1; }));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(c.handler->eventsNow(), std::vector<std::string>{"connected"});
    EXPECT_FALSE(c.agent->isConnected());
}

}  // namespace
