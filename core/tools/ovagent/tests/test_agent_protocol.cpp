// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// The daemon as a client sees it: a real ovagent process, raw sockets.

#include <gtest/gtest.h>

#include "AgentHarness.h"
#include "AgentLog.h"
#include "LoginGate.h"
#include "OVLCore/OVLGUIDBase.h"

using namespace agent_test;
using OVL::Wire::childByLocalName;
using OVL::Wire::childText;

namespace {

std::string echo(const std::string& id, const std::string& text) {
    return request(id, "system", "system", "echo", "<text>" + text + "</text>");
}

class AgentProtocol : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_agent =
            new AgentProcess(testConfig("loginTimeoutMs=\"1500\" maxDepth=\"16\" maxPacketSize=\"65536\""));
    }
    static void TearDownTestSuite() {
        delete s_agent;
        s_agent = nullptr;
    }
    static AgentProcess* s_agent;
};

AgentProcess* AgentProtocol::s_agent = nullptr;

}  // namespace

TEST_F(AgentProtocol, GreetingLoginAndSystemOperations) {
    Client client = Client::tcp(s_agent->tcpPort());
    auto greeting = client.read();
    EXPECT_EQ(std::string(greeting->packet().name()), "ns1:packet");
    EXPECT_EQ(childText(greeting->result(), "agent"), "ovagent");
    EXPECT_EQ(childText(greeting->result(), "protocol"), "1");

    auto login = client.call(
        "<packet id=\"l1\"><target>system</target><data><system><login><login>tester</login><domain/>"
        "<realm>00000000-0000-0000-0000-000000000001</realm><password>" +
        kPassword + "</password></login></system></data></packet>");
    ASSERT_EQ(login->errorCode(), 0) << login->text;
    EXPECT_EQ(login->id(), "l1");
    EXPECT_EQ(std::string(login->result().name()), "ns2:loginResult");
    OVL::OVLGUIDBase eid;
    EXPECT_EQ(eid.fromString(childText(login->result(), "eid").c_str()), 0);
    EXPECT_TRUE(eid.isValid());

    auto reply = client.call(echo("e1", "h&amp;llo \xc3\xbc"));
    EXPECT_EQ(reply->id(), "e1");
    EXPECT_EQ(childText(reply->result(), "text"), "h&llo \xc3\xbc");
    // One element per line, no indentation: what the console's strip and indent options work on.
    EXPECT_NE(reply->text.find("\n<ns2:echoResult>\n<ns2:text>"), std::string::npos) << reply->text;
    EXPECT_EQ(reply->text.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n", 0), 0u);

    auto realms = client.call(request("r", "system", "system", "getRealms"));
    std::vector<std::string> names;
    for (pugi::xml_node realm : realms->result().children()) {
        names.push_back(childText(realm, "name"));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"System", "Lab"}));
    EXPECT_EQ(childText(realms->result().first_child(), "id"), kSystemRealm);

    auto host = client.call(request("h", "system", "system", "getHostInfo"));
    char hostname[256] = {};
    ::gethostname(hostname, sizeof hostname - 1);
    EXPECT_EQ(childText(host->result(), "hostname"), hostname);
    EXPECT_EQ(std::stoul(childText(host->result(), "cpuCount")), std::thread::hardware_concurrency());
    EXPECT_GT(std::stoull(childText(host->result(), "memoryTotal")), 0u);
    EXPECT_EQ(s_agent->log().find(kPassword), std::string::npos);
}

TEST_F(AgentProtocol, PrefixedRequestAndRealmByName) {
    Client client = Client::unixSocket(s_agent->socketPath());
    client.read();
    auto login = client.call(
        "<p:packet xmlns:p=\"urn:a\" xmlns:s=\"urn:b\" id=\"x\"><p:target>system</p:target><p:data><s:system>"
        "<s:login><s:login>tester</s:login><s:realm>Lab</s:realm><s:password>" +
        kPassword + "</s:password></s:login></s:system></p:data></p:packet>");
    ASSERT_EQ(login->errorCode(), 0) << login->text;
    EXPECT_EQ(childText(login->result(), "realmName"), "Lab");
}

TEST_F(AgentProtocol, RequestsBeforeLoginGet401AndTheConnectionStays) {
    Client client = Client::tcp(s_agent->tcpPort());
    client.greeting();
    auto reply = client.call(echo("early", "x"));
    EXPECT_EQ(reply->errorCode(), 401);
    EXPECT_EQ(reply->id(), "early");
    EXPECT_EQ(client.login()->errorCode(), 0);
    EXPECT_EQ(client.call(echo("late", "x"))->errorCode(), 0);
}

struct BadLogin {
    const char* login;
    const char* domain;
    const char* realm;
    bool rightPassword;
};

class AgentLoginFailure : public AgentProtocol, public ::testing::WithParamInterface<BadLogin> {};

TEST_P(AgentLoginFailure, IsDelayedAnsweredWith403AndClosed) {
    const BadLogin& bad = GetParam();
    Client client = Client::tcp(s_agent->tcpPort());
    const auto start = std::chrono::steady_clock::now();
    auto reply = client.login(bad.login, bad.rightPassword ? kPassword : "wrong", bad.realm, bad.domain);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(190));
    EXPECT_EQ(reply->errorCode(), 403);
    EXPECT_EQ(reply->id(), "login");
    EXPECT_TRUE(client.closedByPeer());
    // Others are still served.
    Client other = Client::tcp(s_agent->tcpPort());
    EXPECT_EQ(other.login()->errorCode(), 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, AgentLoginFailure,
                         ::testing::Values(BadLogin{"tester", "", kSystemRealm, false},
                                           BadLogin{"nobody", "", kSystemRealm, true},
                                           BadLogin{"tester", "corp", kSystemRealm, true},
                                           BadLogin{"other", "corp", kSystemRealm, true},  // not in System
                                           BadLogin{"tester", "", "not-a-realm", true}));

// More wrong logins at once than the agent admits from one address: each connection gets its frame
// before the agent closes it (403; 408 when its check waited past the login time-out; 503, with
// the login's id, over the address's bound), and a login from another address is checked in its
// turn meanwhile, not after them. Its turn comes after at most the checks already running: each
// costs a few tens of ms here, so the time-out leaves room for a machine many times slower.
TEST(AgentLoginLoad, ParallelWrongLoginsEachGetTheirFrameAndOtherAddressesStillLogIn) {
    std::string config = testConfig("loginTimeoutMs=\"5000\"");
    config.replace(
        config.find("<user login=\"tester\""), 0,
        "<user login=\"slow\" password=\"" + ovagent::PasswordHash::create(kPassword, 20000) + "\"/>");
    AgentProcess agent(config);
    constexpr int kAttackers = static_cast<int>(ovagent::LoginGate::kMaxPerAddress) + 6;
    std::vector<Client> attackers;
    for (int i = 0; i < kAttackers; ++i) {
        attackers.push_back(Client::tcp(agent.tcpPort(), "127.0.0.2"));
        attackers.back().greeting();
    }
    for (Client& attacker : attackers) {
        attacker.send(loginRequest("slow", "wrong"));
    }
    Client user = Client::tcp(agent.tcpPort());
    EXPECT_EQ(user.login()->errorCode(), 0);
    std::map<int, int> codes;
    for (Client& attacker : attackers) {
        auto reply = attacker.read(std::chrono::seconds(20));
        ++codes[reply->errorCode()];
        EXPECT_EQ(reply->id(), "login") << reply->text;
        EXPECT_TRUE(attacker.closedByPeer());
    }
    EXPECT_EQ(codes[403] + codes[408] + codes[503], kAttackers);
    EXPECT_GT(codes[503], 0);
    EXPECT_EQ(user.call(echo("after", "x"))->errorCode(), 0);
}

// One wrong login in flight from each of 50 addresses, each check costly: a user who logged in
// before gets in at once (remembered), and every other login gets an answer by its login time-out
// (its verdict, 408 at the time-out, or a prompt 503 when the checks ahead would not let it
// finish in time), never silence.
TEST(AgentLoginLoad, ARememberedUserGetsInWhileManyAddressesSendWrongLogins) {
    std::string config = testConfig("loginTimeoutMs=\"3000\"");
    config.replace(
        config.find("<user login=\"tester\""), 0,
        "<user login=\"slow\" password=\"" + ovagent::PasswordHash::create(kPassword, 200000) + "\"/>");
    AgentProcess agent(config);
    {
        Client earlier = Client::tcp(agent.tcpPort(), "127.0.0.2");
        ASSERT_EQ(earlier.login()->errorCode(), 0);
    }
    constexpr int kAttackers = 50;
    std::vector<Client> attackers;
    for (int i = 1; i <= kAttackers; ++i) {
        attackers.push_back(Client::tcp(agent.tcpPort(), ("127.0.1." + std::to_string(i)).c_str()));
        attackers.back().greeting();
    }
    for (Client& attacker : attackers) {
        attacker.send(loginRequest("slow", "wrong"));
    }
    Client user = Client::tcp(agent.tcpPort(), "127.0.0.2");
    EXPECT_EQ(user.login()->errorCode(), 0);
    // A user not remembered, from a fresh address, while the checks still queue.
    Client stranger = Client::tcp(agent.tcpPort(), "127.0.0.4");
    const int strangerCode = stranger.login("other", kPassword, "Lab", "corp")->errorCode();
    EXPECT_TRUE(strangerCode == 0 || strangerCode == 408 || strangerCode == 503) << strangerCode;
    std::map<int, int> codes;
    for (Client& attacker : attackers) {
        // The time-out, the failed-login delay and a generous margin for a loaded machine.
        auto reply = attacker.read(std::chrono::seconds(15));
        ++codes[reply->errorCode()];
        EXPECT_EQ(reply->id(), "login") << reply->text;
        EXPECT_TRUE(attacker.closedByPeer());
    }
    EXPECT_EQ(codes[403] + codes[408] + codes[503], kAttackers);
    EXPECT_EQ(user.call(echo("after", "x"))->errorCode(), 0);
}

TEST_F(AgentProtocol, OtherUserLogsInToItsOwnRealmWithDomain) {
    Client client = Client::tcp(s_agent->tcpPort());
    EXPECT_EQ(client.login("other", kPassword, "8b2e4c61-7d3f-4e9a-a1b2-3c4d5e6f7a80", "corp")->errorCode(),
              0);
}

struct BadPacket {
    std::string bytes;  // without the terminator
    int code;
};

class AgentBadPacket : public AgentProtocol, public ::testing::WithParamInterface<BadPacket> {};

TEST_P(AgentBadPacket, GetsItsErrorAndTheSessionGoesOn) {
    Client client = Client::tcp(s_agent->tcpPort());
    ASSERT_EQ(client.login()->errorCode(), 0);
    auto reply = client.call(GetParam().bytes);
    EXPECT_EQ(reply->errorCode(), GetParam().code) << reply->text;
    EXPECT_FALSE(childText(childByLocalName(reply->data(), "error"), "message").empty());
    auto after = client.call(echo("after", "still here"));
    EXPECT_EQ(childText(after->result(), "text"), "still here");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AgentBadPacket,
    ::testing::Values(BadPacket{"<packet><target>system</target><data><system><echo>", 400},
                      BadPacket{"not xml at all", 400}, BadPacket{"", 400},
                      BadPacket{"<packet><target>\xc3\x28</target><data><a><b/></a></data></packet>", 400},
                      BadPacket{"<other><target>system</target></other>", 400},
                      // Not well-formed, though a lenient parser reads them: each gets one 400.
                      BadPacket{echo("one", "1") + echo("two", "2"), 400},
                      BadPacket{echo("g", "1") + " trailing", 400}, BadPacket{echo("e", "&undefined;"), 400},
                      BadPacket{"<packet id=\"1\" id=\"2\"><target>system</target></packet>", 400},
                      BadPacket{echo("c", "\x01"), 400}, BadPacket{echo("r", "&#1;"), 400},
                      BadPacket{echo("f", "&#xFFFF;"), 400},
                      BadPacket{"<?xml version=\"1.0\" encoding=\"UTF-16\"?>" + echo("u", "x"), 400},
                      BadPacket{request("u", "nowhere", "x", "y"), 404},
                      BadPacket{request("u", "system", "elsewhere", "echo"), 404},
                      BadPacket{request("u", "system", "system", "reboot"), 405},
                      BadPacket{request("u", "environments", "environments", "explode"), 405},
                      BadPacket{request("u", "system", "system", "login"), 409},
                      BadPacket{
                          "<packet><target>system</target><data><system><echo><a><a><a><a><a><a><a><a><a><a>"
                          "<a><a><a><a><a><a/></a></a></a></a></a></a></a></a></a></a></a></a></a></a></a>"
                          "</echo></system></data></packet>",
                          431}));

// A client matching replies by id finds each one: white space written as references in an id, and
// a carriage return in a text, come back as they were sent.
TEST_F(AgentProtocol, IdsAndTextsComeBackExactly) {
    Client client = Client::tcp(s_agent->tcpPort());
    ASSERT_EQ(client.login()->errorCode(), 0);
    auto reply = client.call(echo("a&#9;b&#10;c&#13;d", "x&#13;y\r\nz &lt;&amp;"));
    EXPECT_EQ(reply->id(), "a\tb\nc\rd");
    EXPECT_EQ(childText(reply->result(), "text"), "x\ry\nz <&");
    auto refused = client.call(echo("two&#9;roots", "1") + echo("second", "2"));
    EXPECT_EQ(refused->errorCode(), 400);
    EXPECT_EQ(refused->id(), "two\troots");
    const std::string message = childText(childByLocalName(refused->data(), "error"), "message");
    EXPECT_NE(message.find("malformed XML at line 1, column "), std::string::npos) << message;
    EXPECT_NE(message.find("junk after document element"), std::string::npos) << message;
    // An empty id is an id: it comes back empty, as an error's does; no id gives none.
    for (const std::string& packet : {echo("", "e"), request("", "system", "system", "reboot"),
                                      request("", "environments", "environments", "change", "<id>x</id>")}) {
        auto empty = client.call(packet);
        EXPECT_TRUE(empty->packet().attribute("id")) << empty->text;
        EXPECT_EQ(empty->id(), "");
    }
    auto none = client.call(
        "<packet><target>system</target><data><system><echo><text>n</text></echo></system>"
        "</data></packet>");
    EXPECT_FALSE(none->packet().attribute("id")) << none->text;
}

TEST_F(AgentProtocol, SeveralFramesInOneWriteAndAFrameSplitOverWrites) {
    Client client = Client::tcp(s_agent->tcpPort());
    ASSERT_EQ(client.login()->errorCode(), 0);
    std::string batch;
    for (int i = 0; i < 20; ++i) {
        batch += echo("b" + std::to_string(i), std::to_string(i)) + '\0';
    }
    client.sendRaw(batch);
    for (int i = 0; i < 20; ++i) {
        auto reply = client.read();
        EXPECT_EQ(reply->id(), "b" + std::to_string(i));
        EXPECT_EQ(childText(reply->result(), "text"), std::to_string(i));
    }
    const std::string packet = echo("split", "pieces") + '\0';
    for (std::size_t i = 0; i < packet.size(); i += 7) {
        client.sendRaw(std::string_view(packet).substr(i, 7));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(client.read()->id(), "split");
}

TEST_F(AgentProtocol, OversizedFrameGets413AndCloseWhileOthersAreServed) {
    Client other = Client::tcp(s_agent->tcpPort());
    ASSERT_EQ(other.login()->errorCode(), 0);
    Client client = Client::tcp(s_agent->tcpPort());
    ASSERT_EQ(client.login()->errorCode(), 0);
    // No terminator at all: the limit must trigger on the length alone.
    client.sendRaw(std::string(70000, 'x'));
    auto reply = client.read();
    EXPECT_EQ(reply->errorCode(), 413);
    EXPECT_TRUE(client.closedByPeer());
    EXPECT_EQ(other.call(echo("o", "fine"))->errorCode(), 0);
}

TEST_F(AgentProtocol, HalfAFrameThenSilenceTimesOutWith408) {
    Client staller = Client::tcp(s_agent->tcpPort());
    staller.read();
    staller.sendRaw("<packet><target>sys");
    Client other = Client::tcp(s_agent->tcpPort());
    ASSERT_EQ(other.login()->errorCode(), 0);
    const auto start = std::chrono::steady_clock::now();
    auto reply = staller.read(std::chrono::seconds(5));
    EXPECT_EQ(reply->errorCode(), 408);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
    EXPECT_TRUE(staller.closedByPeer());
    EXPECT_EQ(other.call(echo("o", "fine"))->errorCode(), 0);
}

TEST(AgentLimits, IdleTimeoutAndConnectionLimit) {
    AgentProcess agent(testConfig("idleTimeoutMs=\"600\" maxConnections=\"3\""));
    Client a = Client::tcp(agent.tcpPort());
    ASSERT_EQ(a.login()->errorCode(), 0);
    Client b = Client::tcp(agent.tcpPort());
    b.read();
    Client c = Client::unixSocket(agent.socketPath());
    c.read();
    Client refused = Client::tcp(agent.tcpPort());
    EXPECT_EQ(refused.read()->errorCode(), 503);
    EXPECT_TRUE(refused.closedByPeer());

    EXPECT_EQ(a.read(std::chrono::seconds(5))->errorCode(), 408);
    EXPECT_TRUE(a.closedByPeer());
    a.disconnect();
    // The closed session frees its place once the agent has seen the close.
    bool served = false;
    for (int attempt = 0; attempt < 50 && !served; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        Client d = Client::tcp(agent.tcpPort());
        served = d.read()->errorCode() == 0;
    }
    EXPECT_TRUE(served);
}

// One address holds at most its share of the connections that have not logged in: the next one
// gets 503; other addresses are still greeted, and a login frees a place.
TEST(AgentLimits, ConnectionsNotLoggedInAreBoundedPerAddress) {
    AgentProcess agent(testConfig());
    std::vector<Client> held;
    for (std::size_t i = 0; i < ovagent::PreLoginSlots::kMaxPerAddress; ++i) {
        held.push_back(Client::tcp(agent.tcpPort(), "127.0.0.5"));
        ASSERT_EQ(held.back().greeting()->errorCode(), 0);
    }
    Client over = Client::tcp(agent.tcpPort(), "127.0.0.5");
    EXPECT_EQ(over.read()->errorCode(), 503);
    EXPECT_TRUE(over.closedByPeer());
    Client other = Client::tcp(agent.tcpPort());
    EXPECT_EQ(other.login()->errorCode(), 0);
    EXPECT_EQ(held.front().login()->errorCode(), 0);
    Client again = Client::tcp(agent.tcpPort(), "127.0.0.5");
    EXPECT_EQ(std::string(again.greeting()->result().name()), "ns2:hello");
}

TEST(AgentLifecycle, SighupReloadsUsersAndSigtermStopsCleanly) {
    AgentProcess agent(testConfig());
    {
        Client client = Client::tcp(agent.tcpPort());
        EXPECT_EQ(client.login()->errorCode(), 0);
    }
    // tester's password changes: the login verified before is not remembered any more.
    const std::string newHash = ovagent::PasswordHash::create("changed", 1000);
    std::string config = testConfig();
    const auto tester = config.find("<user login=\"tester\" password=\"") + 31;
    config.replace(tester, config.find('"', tester) - tester, newHash);
    config.replace(config.find("<user login=\"tester\" password=\""), 0,
                   "<user login=\"fresh\" password=\"" + newHash + "\"/>");
    std::ofstream(agent.configPath()) << config;
    agent.signal(SIGHUP);
    bool reloaded = false;
    for (int i = 0; i < 100 && !reloaded; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        reloaded = agent.log().find("configuration reloaded") != std::string::npos;
    }
    ASSERT_TRUE(reloaded);
    Client client = Client::tcp(agent.tcpPort());
    EXPECT_EQ(client.login("fresh", "changed")->errorCode(), 0);
    EXPECT_EQ(Client::tcp(agent.tcpPort()).login("tester", kPassword)->errorCode(), 403);
    EXPECT_EQ(Client::tcp(agent.tcpPort()).login("tester", "changed")->errorCode(), 0);

    // A broken file keeps the running configuration.
    std::ofstream(agent.configPath())
        << "<ovagent><users><user login=\"x\" password=\"plain\"/></users></ovagent>";
    agent.signal(SIGHUP);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_NE(agent.log().find("reload failed"), std::string::npos);
    Client again = Client::tcp(agent.tcpPort());
    EXPECT_EQ(again.login("fresh", "changed")->errorCode(), 0);

    const int status = agent.stop(SIGTERM);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_FALSE(std::filesystem::exists(agent.socketPath()));
}

// logrotate moves the log away and sends SIGHUP: the records after it go to a new file at the
// log's path. A log file that could not be opened at start is tried again on SIGHUP.
TEST(AgentLifecycle, SighupReopensTheLog) {
    ferrik_test::TempDir dir;
    const std::string logDir = dir.file("later");
    AgentProcess agent(testConfig({}, "<log file=\"" + logDir + "/agent.log\"/>"));
    auto logText = [&](const std::string& path) {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    auto waitFor = [&](const std::string& path, const std::string& text) {
        for (int i = 0; i < 250 && logText(path).find(text) == std::string::npos; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return logText(path).find(text) != std::string::npos;
    };
    std::filesystem::create_directory(logDir);
    agent.signal(SIGHUP);
    ASSERT_TRUE(waitFor(logDir + "/agent.log", "configuration reloaded"));
    {
        Client client = Client::tcp(agent.tcpPort());
        EXPECT_EQ(client.login()->errorCode(), 0);
    }
    ASSERT_TRUE(waitFor(logDir + "/agent.log", "logged in"));
    std::filesystem::rename(logDir + "/agent.log", logDir + "/agent.log.1");
    agent.signal(SIGHUP);
    ASSERT_TRUE(waitFor(logDir + "/agent.log", "configuration reloaded"));
    EXPECT_EQ(logText(logDir + "/agent.log").find("logged in"), std::string::npos);
    EXPECT_NE(logText(logDir + "/agent.log.1").find("logged in"), std::string::npos);
}

TEST_F(AgentProtocol, StalledTlsHandshakeIsClosedAtTheLoginTimeout) {
    Client silent = Client::tcp(s_agent->tlsPort());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(silent.closedByPeer(std::chrono::seconds(5)));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
}

// A client's text in a record is escaped: a login name holding line ends (as character
// references) cannot start a record of its own. A client repeating a bad frame writes a few
// records, then one that counts the rest.
TEST(AgentLog, ClientTextCannotForgeRecordsAndRepeatsAreSuppressed) {
    AgentProcess agent(testConfig());
    {
        Client forger = Client::tcp(agent.tcpPort());
        EXPECT_EQ(
            forger
                .login(
                    "x&#10;Tue Dec  8 01:00:24 2026 type: 0, ovagent (Dispatcher.cpp:1) : 'FORGED-peadmin' "
                    "logged in&#13;\tend",
                    "wrong")
                ->errorCode(),
            403);
    }
    constexpr int kEmpty = 50;
    {
        Client repeater = Client::tcp(agent.tcpPort());
        repeater.greeting();
        repeater.sendRaw(std::string(kEmpty, '\0'));
        for (int i = 0; i < kEmpty; ++i) {
            EXPECT_EQ(repeater.read()->errorCode(), 400);
        }
    }
    // Connection after connection from one address: together they write at most the address's budget.
    constexpr int kChurn = ovagent::SessionLog::kAddressBurst / 2 + 10;
    for (int i = 0; i < kChurn; ++i) {
        Client churn = Client::tcp(agent.tcpPort(), "127.0.0.3");
        churn.greeting();
    }
    const std::string summary =
        std::to_string(kEmpty - ovagent::SessionLog::kBurst) + " similar records suppressed";
    for (int i = 0; i < 250 && agent.log().find(summary) == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    agent.stop(SIGTERM);
    std::istringstream log(agent.log());
    std::string line;
    int forged = 0, rejected = 0, churned = 0;
    while (std::getline(log, line)) {
        churned += line.find("tcp://127.0.0.3:") != std::string::npos;
        EXPECT_EQ(line.find(" type: "), 24u) << "not a record of its own: " << line;
        forged += line.find("FORGED") != std::string::npos;
        rejected += line.find("rejected packet") != std::string::npos;
        if (line.find("FORGED") != std::string::npos) {
            EXPECT_NE(line.find("login failed for 'x\\nTue Dec  8"), std::string::npos) << line;
        }
    }
    EXPECT_EQ(forged, 1);
    EXPECT_EQ(rejected, ovagent::SessionLog::kBurst);
    EXPECT_GT(churned, 0);
    EXPECT_LE(churned, ovagent::SessionLog::kAddressBurst);
    EXPECT_NE(agent.log().find(summary), std::string::npos) << agent.log();
}

// Every record of ovagent.log is "<24-character local time> type: <n>, ovagent (<file>:<line>) : <text>";
// connections and logins are logged, passwords never; level 0 writes nothing.
TEST(AgentLog, RecordsCarryTimeTypeAndSourceAndLevelZeroIsSilent) {
    {
        AgentProcess agent(testConfig());
        {
            Client client = Client::tcp(agent.tcpPort());
            EXPECT_EQ(client.login()->errorCode(), 0);
        }
        Client refused = Client::tcp(agent.tcpPort());
        EXPECT_NE(refused.login("tester", "wrong")->errorCode(), 0);
        agent.stop(SIGTERM);
        std::istringstream log(agent.log());
        std::string line;
        bool connected = false, loggedIn = false, failed = false;
        while (std::getline(log, line)) {
            if (line.find(" type: ") != 24) {
                continue;  // a continuation line of a multi-line record (the listener list)
            }
            ASSERT_GE(line.size(), 31u) << line;
            // ctime layout: "Tue Dec  8 01:00:24 2026"
            EXPECT_TRUE(line[3] == ' ' && line[7] == ' ' && line[13] == ':' && line[16] == ':' &&
                        line[19] == ' ')
                << line;
            EXPECT_NE(line.find(", ovagent ("), std::string::npos) << line;
            EXPECT_TRUE(line.find(".cpp:") != std::string::npos || line.find(".h:") != std::string::npos)
                << line;
            connected |= line.find(": connected") != std::string::npos;
            loggedIn |= line.find(" type: 0, ") == 24 &&
                        line.find("'tester' domain '' logged in to realm 'System'") != std::string::npos;
            failed |=
                line.find(" type: 1, ") == 24 && line.find("login failed for 'tester'") != std::string::npos;
        }
        EXPECT_TRUE(connected && loggedIn && failed) << agent.log();
        EXPECT_EQ(agent.log().find(kPassword), std::string::npos);
        EXPECT_EQ(agent.log().find("wrong"), std::string::npos);
    }
    AgentProcess quiet(testConfig({}, "<log level=\"0\"/>"));
    {
        Client client = Client::tcp(quiet.tcpPort());
        EXPECT_EQ(client.login()->errorCode(), 0);
    }
    quiet.stop(SIGTERM);
    EXPECT_EQ(quiet.log(), "");
}
