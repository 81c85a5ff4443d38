// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// Every failure reaches the caller as a callback or a result with a message, never as a hang:
// unknown host, refused, time-outs, wrong credentials, an agent that dies or closes mid-reply,
// null agents and calls made where they cannot wait.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

#include "ClientTestSupport.h"
#include "OVLCommon/Errors.h"
#include "OVLMessage/OVLMessage.h"

using namespace client_test;

namespace {

// A scripted stand-in for an agent on a loopback port: accepts one connection and runs `script`
// with its descriptor on a thread of its own.
class ScriptedServer {
public:
    explicit ScriptedServer(std::function<void(int fd)> script) {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        ::listen(m_listen, 4);
        socklen_t len = sizeof addr;
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &len);
        m_port = ntohs(addr.sin_port);
        if (script) {
            m_thread = std::thread([this, script = std::move(script)] {
                const int fd = ::accept(m_listen, nullptr, nullptr);
                if (fd >= 0) {
                    script(fd);
                    ::close(fd);
                }
            });
        }
    }
    ~ScriptedServer() {
        ::shutdown(m_listen, SHUT_RDWR);
        if (m_thread.joinable()) {
            m_thread.join();
        }
        ::close(m_listen);
    }
    int port() const { return m_port; }

    static void sendFrame(int fd, const std::string& text) {
        ::send(fd, text.c_str(), text.size() + 1, MSG_NOSIGNAL);
    }
    // Reads one frame (up to its NUL); empty when the peer closed.
    static std::string readFrame(int fd) {
        std::string frame;
        char c;
        while (::recv(fd, &c, 1, 0) == 1) {
            if (c == '\0') {
                return frame;
            }
            frame.push_back(c);
        }
        return {};
    }
    // Greets and accepts any login with a fixed eid.
    static void greetAndLogin(int fd) {
        sendFrame(fd, "<packet><target>system</target><data><system><hello/></system></data></packet>");
        const std::string login = readFrame(fd);
        const std::string id = packetId(login);
        sendFrame(fd,
                  "<packet id=\"" + id +
                      "\"><target>system</target><data><system><loginResult><eid>"
                      "6a9f7ffc-db33-4c55-b086-6a5d3f4b6e52</eid></loginResult></system></data></packet>");
    }

private:
    int m_listen = -1;
    int m_port = 0;
    std::thread m_thread;
};

OVL::OVLConnectionInfo infoFor(int port) {
    return OVL::OVLConnectionInfo("TCP", "127.0.0.1", port, testerAuth());
}

OVL::OVLRequestErrorData expectConnectError(const OVL::OVLConnectionInfo& info) {
    auto agent = OVL::OVLAccessAgentPrototype::createInstance(nullptr, nullptr, nullptr);
    ConnHandlerPtr handler(new ConnHandler);
    agent->connect(info, handler);
    EXPECT_TRUE(handler->waitEvent(20s));
    EXPECT_EQ(handler->eventsNow(), std::vector<std::string>{"error"});
    EXPECT_FALSE(handler->lastError().m_message.empty());
    return handler->lastError();
}

TEST(ClientFailures, UnknownHostRefusedPortAndUnknownType) {
    auto err = expectConnectError(OVL::OVLConnectionInfo("TCP", "no-such-host.invalid", 4433, testerAuth()));
    EXPECT_EQ(err.m_code, OVL::OVLRequestErrorData::kUnknownHost) << err.m_message;
    EXPECT_NE(err.m_message.find("no-such-host.invalid"), std::string::npos);

    int closedPort;
    {
        ScriptedServer gone(nullptr);
        closedPort = gone.port();
    }
    err = expectConnectError(infoFor(closedPort));
    EXPECT_EQ(err.m_code, OVL::OVLRequestErrorData::kRefused) << err.m_message;

    err = expectConnectError(OVL::OVLConnectionInfo("Carrier pigeon", "", 0, testerAuth()));
    EXPECT_EQ(err.m_code, OVL::OVLRequestErrorData::kInvalidArgument);
    EXPECT_NE(err.m_message.find("Carrier pigeon"), std::string::npos);

    err = expectConnectError(OVL::OVLConnectionInfo("TCP", "", 70000, testerAuth()));
    EXPECT_EQ(err.m_code, OVL::OVLRequestErrorData::kInvalidArgument);
}

TEST(ClientFailures, SilentPeerTimesOutTheGreetingAndTheLogin) {
    ScopedEnv timeout("OVL_CONNECT_TIMEOUT_MS", "300");
    {
        ScriptedServer silent([](int fd) { ScriptedServer::readFrame(fd); });
        const auto err = expectConnectError(infoFor(silent.port()));
        EXPECT_EQ(err.m_code, OVL::OVLRequestErrorData::kTimeout);
        EXPECT_NE(err.m_message.find("no greeting within 300 ms"), std::string::npos) << err.m_message;
    }
    {
        ScriptedServer mute([](int fd) {
            ScriptedServer::sendFrame(
                fd, "<packet><target>system</target><data><system><hello/></system></data></packet>");
            ScriptedServer::readFrame(fd);
            ScriptedServer::readFrame(fd);
        });
        const auto err = expectConnectError(infoFor(mute.port()));
        EXPECT_EQ(err.m_code, OVL::OVLRequestErrorData::kTimeout);
        EXPECT_NE(err.m_message.find("did not answer the login"), std::string::npos) << err.m_message;
    }
}

TEST(ClientFailures, WrongPasswordIsTheAgentsRefusal) {
    agent_test::AgentProcess agent(agent_test::testConfig());
    const auto err = expectConnectError(tcpInfo(agent, "wrong"));
    EXPECT_EQ(err.m_code, 403);
    EXPECT_NE(err.m_message.find("login refused"), std::string::npos) << err.m_message;
}

TEST(ClientFailures, AgentClosingMidReplyEndsTheConnectionAndThePendingRequest) {
    ScriptedServer half([](int fd) {
        ScriptedServer::greetAndLogin(fd);
        ScriptedServer::readFrame(fd);
        const std::string part = "<packet id=\"x\"><target>system</target><data><sys";
        ::send(fd, part.data(), part.size(), MSG_NOSIGNAL);
    });
    Connected c = connectOrFail(infoFor(half.port()));
    ASSERT_TRUE(c.agent);
    EXPECT_EQ(c.eid.toString(), "6a9f7ffc-db33-4c55-b086-6a5d3f4b6e52");
    TaskHandlerPtr handler(new TaskHandler);
    std::string id;
    OVL::OVLMessagePtr message = OVL::OVLMessage::getFactory()->createNew();
    ASSERT_EQ(message->parse("<packet><target>system</target><data><system><echo/></system></data></packet>"),
              0);
    c.agent->createTask(c.eid, "", handler, id)->send(message->getBody(0));
    ASSERT_TRUE(c.handler->waitFor([&] { return c.handler->events.size() == 2; }));
    EXPECT_EQ(c.handler->eventsNow()[1], "disconnected");
    EXPECT_EQ(c.handler->lastError().m_code, OVL::OVLRequestErrorData::kClosed);
    EXPECT_NE(c.handler->lastError().m_message.find("in the middle of a reply"), std::string::npos)
        << c.handler->lastError().m_message;
    ASSERT_TRUE(handler->waitFor([&] { return !handler->errors.empty(); }));
    EXPECT_TRUE(handler->repliesNow().empty());
    EXPECT_FALSE(c.agent->isConnected());
}

TEST(ClientFailures, KilledAgentGivesDisconnectedAndFailsLaterRequests) {
    agent_test::AgentProcess agent(agent_test::testConfig());
    Connected c = connectOrFail(tcpInfo(agent));
    ASSERT_TRUE(c.agent);
    agent.stop(SIGKILL);
    ASSERT_TRUE(c.handler->waitFor([&] { return c.handler->events.size() == 2; }));
    EXPECT_EQ(c.handler->eventsNow()[1], "disconnected");
    std::string reply, error;
    EXPECT_EQ(c.agent->requestSync("<packet/>", reply, error), -1);
    EXPECT_EQ(error, "not connected to an agent");
    TaskHandlerPtr handler(new TaskHandler);
    const std::string raw = std::string("<packet/>") + '\0';
    c.agent->createTask(c.eid, "", handler, raw.data(), raw.size())->startRaw();
    ASSERT_TRUE(handler->waitFor([&] { return !handler->errors.empty(); }));
}

TEST(ClientFailures, SynchronousCallsTimeOutAndNullAgentsFailInOrder) {
    ScriptedServer mute([](int fd) {
        ScriptedServer::greetAndLogin(fd);
        ScriptedServer::readFrame(fd);
        ScriptedServer::readFrame(fd);
    });
    Connected c = connectOrFail(infoFor(mute.port()));
    ASSERT_TRUE(c.agent);
    auto ap = OVL::OVLAccessPointPrototype::createInstance(c.agent, nullptr);
    EXPECT_EQ(ap->initializeSync(OVL::OVLConnectionInfo(), nullptr, 200), -2);
    EXPECT_NE(ap->getError().find("within 200 ms"), std::string::npos) << ap->getError();
    EXPECT_EQ(ap->getEnvList(), nullptr);
    c.agent->disconnect();

    auto orphan = OVL::OVLAccessPointPrototype::createInstance(nullptr, nullptr);
    ASSERT_TRUE(orphan);
    EXPECT_NE(orphan->initializeSync(OVL::OVLConnectionInfo(), nullptr, 0x600000ab), 0);
    EXPECT_FALSE(orphan->getError().empty());
    EXPECT_EQ(OVL::getErrorMessage(), orphan->getError());
    EXPECT_EQ(orphan->getEnvList(), nullptr);

    OVL::OVLSystemAgent system(OVL::OVLEID(), nullptr);
    OVL::OVLRealmList realms;
    EXPECT_EQ(system.getRealm(realms), -1);
    EXPECT_TRUE(realms.empty());
    EXPECT_FALSE(system.getError().empty());
}

TEST(ClientFailures, RequestsThatTheAgentNeverAnswersTimeOut) {
    ScopedEnv timeout("OVL_REQUEST_TIMEOUT_MS", "300");
    ScriptedServer slow([](int fd) {
        ScriptedServer::greetAndLogin(fd);
        const std::string parsed = ScriptedServer::readFrame(fd);
        ScriptedServer::readFrame(fd);  // the two raw packets
        ScriptedServer::readFrame(fd);
        const std::string sync = ScriptedServer::readFrame(fd);
        std::this_thread::sleep_for(800ms);  // answers long after the time-outs
        for (const auto& [request, result] : {std::pair{parsed, "late"}, std::pair{sync, "lateSync"}}) {
            ScriptedServer::sendFrame(fd, "<packet id=\"" + packetId(request) +
                                              "\"><target>system</target><data><" + result +
                                              "/></data></packet>");
        }
        while (!ScriptedServer::readFrame(fd).empty()) {
        }
    });
    Connected c = connectOrFail(infoFor(slow.port()));
    ASSERT_TRUE(c.agent);
    TaskHandlerPtr handler(new TaskHandler);
    c.agent->createTask(c.eid, "", handler)->start();
    std::string id;
    c.agent->createTask(c.eid, "", handler, id)->send(bodyOf(echoPacket("never")));
    const std::string raw = echoPacket("a") + '\0' + echoPacket("b") + '\0';
    c.agent->createTask(c.eid, "", handler, raw.data(), raw.size())->startRaw();
    std::string reply, error;
    EXPECT_EQ(c.agent->requestSync(echoPacket("sync"), reply, error, 200), -2);

    ASSERT_TRUE(handler->waitFor([&] { return handler->errors.size() == 2; }, 5s));
    std::vector<std::string> errors = handler->errorsNow();
    std::sort(errors.begin(), errors.end());
    EXPECT_EQ(errors[0].rfind("raw request: no reply from the agent at ", 0), 0u) << errors[0];
    EXPECT_EQ(errors[1].rfind("request " + id + ": no reply from the agent at ", 0), 0u) << errors[1];
    EXPECT_NE(errors[1].find("within 300 ms"), std::string::npos) << errors[1];
    // The late reply of the task's request belongs to no request any more: the subscriber sees
    // it. That of the synchronous call, whose caller gave up, goes nowhere.
    ASSERT_TRUE(handler->waitReplies(1, 5s));
    EXPECT_NE(handler->repliesNow()[0].find("<late/>"), std::string::npos);
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(handler->repliesNow().size(), 1u);
    EXPECT_EQ(handler->errorsNow().size(), 2u);
    EXPECT_TRUE(c.agent->isConnected());
}

TEST(ClientFailures, SynchronousCallInsideACallbackFailsAtOnce) {
    agent_test::AgentProcess agent(agent_test::testConfig());
    struct Caller : ConnHandler {
        OVL::OVLAccessAgentPrototypePtr agent;
        std::atomic<int> result{1};
        std::string error;
        void onConnected(const OVL::eid_t& eid) override {
            OVL::OVLSystemAgent system(eid, agent);
            OVL::OVLRealmList realms;
            result = system.getRealm(realms);
            error = system.getError();
            ConnHandler::onConnected(eid);
        }
    };
    boost::intrusive_ptr<Caller> handler(new Caller);
    handler->agent = OVL::OVLAccessAgentPrototype::createInstance(nullptr, nullptr, nullptr);
    handler->agent->connect(tcpInfo(agent), handler);
    ASSERT_TRUE(handler->waitEvent());
    EXPECT_EQ(handler->result, -1);
    EXPECT_NE(handler->error.find("I/O thread"), std::string::npos) << handler->error;
    handler->agent.reset();
}

TEST(ClientFailures, ConnectingTwiceOnOneAgentIsRefused) {
    agent_test::AgentProcess agent(agent_test::testConfig());
    Connected c = connectOrFail(tcpInfo(agent));
    ASSERT_TRUE(c.agent);
    ConnHandlerPtr second(new ConnHandler);
    EXPECT_EQ(c.agent->connect(static_cast<const OVL::OVLConnectivityInfo&>(tcpInfo(agent)), second), -1);
    ASSERT_TRUE(second->waitEvent());
    EXPECT_EQ(second->eventsNow(), std::vector<std::string>{"error"});
    EXPECT_TRUE(c.agent->isConnected());
}

}  // namespace
