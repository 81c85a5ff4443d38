// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include <dirent.h>

#include <gtest/gtest.h>

#include "ClientTestSupport.h"
#include "OVLMessage/OVLMessage.h"

namespace client_test {

OVL::OVLAuthName testerAuth(const std::string& password) {
    OVL::OVLGUID realm;
    realm.fromString(agent_test::kSystemRealm);
    return OVL::OVLAuthName("tester", "", realm, password);
}

OVL::OVLConnectionInfo tcpInfo(const agent_test::AgentProcess& agent, const std::string& password) {
    return OVL::OVLConnectionInfo("TCP", "127.0.0.1", agent.tcpPort(), testerAuth(password));
}

Connected connectOrFail(const OVL::OVLConnectionInfo& info) {
    Connected c;
    c.agent = OVL::OVLAccessAgentPrototype::createInstance(nullptr, nullptr, nullptr);
    c.handler = ConnHandlerPtr(new ConnHandler);
    c.agent->connect(info, c.handler);
    EXPECT_TRUE(c.handler->waitEvent()) << "no connection callback";
    const auto events = c.handler->eventsNow();
    EXPECT_EQ(events, std::vector<std::string>{"connected"}) << c.handler->lastError().m_message;
    if (events != std::vector<std::string>{"connected"}) {
        c.agent.reset();
        return c;
    }
    std::lock_guard<std::mutex> lock(c.handler->m_mutex);
    c.eid = c.handler->eid;
    return c;
}

std::string agentEid(const agent_test::AgentProcess& agent) {
    agent_test::Client client = agent_test::Client::tcp(agent.tcpPort());
    return OVL::Wire::childText(client.login()->result(), "eid");
}

std::string echoPacket(const std::string& text) {
    return "<packet><target>system</target><data><system><echo><text>" + text +
           "</text></echo></system></data></packet>";
}

OVL::OVLMessageBodyPtr bodyOf(const std::string& text) {
    OVL::OVLMessagePtr message = OVL::OVLMessage::getFactory()->createNew();
    EXPECT_EQ(message->parse(text.c_str()), 0);
    return message->getBody(0);
}

std::string packetId(const std::string& text) {
    pugi::xml_document doc;
    doc.load_string(text.c_str());
    return doc.document_element().attribute("id").value();
}

namespace {
int countEntries(const char* dir) {
    int n = 0;
    if (DIR* d = ::opendir(dir)) {
        while (dirent* e = ::readdir(d)) {
            n += e->d_name[0] != '.';
        }
        ::closedir(d);
    }
    return n;
}
}  // namespace

int countFds() {
    return countEntries("/proc/self/fd");
}

int countThreads() {
    return countEntries("/proc/self/task");
}

}  // namespace client_test
