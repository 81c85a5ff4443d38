// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// The daemon's units that hold logic of their own: password hashes, the configuration file and
// the environment store.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <tuple>
#include <vector>

#include "AgentConfig.h"
#include "AgentLog.h"
#include "EnvironmentStore.h"
#include "LoginGate.h"
#include "PasswordHash.h"
#include "test_utils.h"

using namespace ovagent;

TEST(PasswordHash, VerifiesOnlyTheRightPasswordAndRejectsMalformedHashes) {
    const std::string hash = PasswordHash::create("5t6y7u", 1000);
    EXPECT_TRUE(PasswordHash::isWellFormed(hash));
    EXPECT_TRUE(PasswordHash::verify("5t6y7u", hash));
    EXPECT_FALSE(PasswordHash::verify("5t6y7U", hash));
    EXPECT_FALSE(PasswordHash::verify("", hash));
    EXPECT_NE(PasswordHash::create("5t6y7u", 1000), hash) << "salts must differ";
    for (const char* bad : {"", "5t6y7u", "pbkdf2-sha256$1000$00$00", "pbkdf2-sha256$10$0011223344556677$",
                            "sha1$1000$0011223344556677$00"}) {
        EXPECT_FALSE(PasswordHash::isWellFormed(bad)) << bad;
        EXPECT_FALSE(PasswordHash::verify("5t6y7u", bad)) << bad;
    }
    std::string tampered = hash;
    tampered.back() = tampered.back() == '0' ? '1' : '0';
    EXPECT_FALSE(PasswordHash::verify("5t6y7u", tampered));
    EXPECT_TRUE(PasswordHash::create("x", 10).empty());
    EXPECT_EQ(PasswordHash::iterationsOf(hash), 1000);
    EXPECT_EQ(PasswordHash::iterationsOf("pbkdf2-sha256$10$0011223344556677$"), 0);
}

TEST(AgentLogText, EscapesWhatCouldEndOrForgeARecord) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain 'text' (x)", "plain 'text' (x)"},
        {"a\nTue Dec  8 01:00:24 2026 type: 0, forged", "a\\nTue Dec  8 01:00:24 2026 type: 0, forged"},
        {"cr\r esc\x1b[2J tab\t del\x7f", "cr\\r esc\\x1B[2J tab\\t del\\x7F"},
        {"back\\slash", "back\\\\slash"},
        {"\xc3\xbc \xe2\x82\xac \xf0\x9f\x98\x80", "\xc3\xbc \xe2\x82\xac \xf0\x9f\x98\x80"},
        {"nel\xc2\x85 csi\xc2\x9b nbsp\xc2\xa0", "nel\\xC2\\x85 csi\\xC2\\x9B nbsp\xc2\xa0"},
        {"bad\xff cut\xc3 surrogate\xed\xa0\x80", "bad\\xFF cut\\xC3 surrogate\\xED\\xA0\\x80"},
        {std::string("nul\0x", 5), "nul\\x00x"},
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(AgentLog::escape(in), out) << in;
    }
    EXPECT_EQ(AgentLog::clip(std::string(200, 'a')), std::string(AgentLog::kMaxClientText, 'a') + "...");
    EXPECT_EQ(AgentLog::clip("short"), "short");
}

// One gate thread, held by a first check: what waits behind it is served one address after another,
// and admission stops at the per-address and the overall bound.
TEST(LoginGate, ServesAddressesInTurnAndBoundsWhatItAdmits) {
    LoginGate gate(1);
    std::promise<void> started, release;
    std::shared_future<void> released = release.get_future().share();
    std::mutex mutex;
    std::vector<std::string> order;
    std::atomic<int> done{0};
    auto check = [&](const std::string& name) {
        return [&, name] {
            {
                std::lock_guard<std::mutex> lock(mutex);
                order.push_back(name);
            }
            ++done;
        };
    };
    using A = LoginGate::Admission;
    ASSERT_EQ(gate.submit("a",
                          [&] {
                              started.set_value();
                              released.wait();
                              check("a1")();
                          }),
              A::admitted);
    started.get_future().wait();
    for (const char* name : {"a2", "a3", "a4"}) {
        ASSERT_EQ(gate.submit("a", check(name)), A::admitted);
    }
    ASSERT_EQ(gate.submit("b", check("b1")), A::admitted);

    std::size_t admitted = 5;
    for (std::size_t i = 0; i < LoginGate::kMaxPerAddress; ++i) {
        admitted += gate.submit("c", check("c")) == A::admitted;
    }
    EXPECT_EQ(admitted, 5 + LoginGate::kMaxPerAddress);
    EXPECT_EQ(gate.submit("c", [] { ADD_FAILURE() << "a check over the address limit ran"; }),
              A::addressFull);
    for (int i = 0; admitted < LoginGate::kMaxPending; ++i, ++admitted) {
        ASSERT_EQ(gate.submit("d" + std::to_string(i), check("d")), A::admitted);
    }
    EXPECT_EQ(gate.submit("e", [] { ADD_FAILURE() << "a check over the gate's limit ran"; }), A::gateFull);

    release.set_value();
    for (int i = 0; i < 500 && done.load() < static_cast<int>(admitted); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(done.load(), static_cast<int>(admitted));
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(std::vector<std::string>(order.begin(), order.begin() + 5),
              (std::vector<std::string>{"a1", "a2", "b1", "c", "d"}));
    // Admission is open again once the checks ran.
    EXPECT_EQ(gate.submit("c", [] {}), A::admitted);
}

// Once the gate knows what a check costs, a check that the ones ahead would not let finish
// before its deadline is refused at once (busy); one whose deadline has passed when its turn comes
// is not run.
TEST(LoginGate, RefusesWhatCannotFinishInTimeAndDropsWhatTimedOut) {
    LoginGate gate(1);
    using A = LoginGate::Admission;
    const auto now = [] { return LoginGate::Clock::now(); };
    std::promise<void> trained;
    ASSERT_EQ(gate.submit("a",
                          [&] {
                              std::this_thread::sleep_for(std::chrono::milliseconds(50));
                              trained.set_value();
                          }),
              A::admitted);
    trained.get_future().wait();
    for (int i = 0; i < 200 && gate.checkCost() == LoginGate::Clock::duration::zero(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_GE(gate.checkCost(), std::chrono::milliseconds(50));

    std::promise<void> started, release;
    std::shared_future<void> released = release.get_future().share();
    ASSERT_EQ(gate.submit("a",
                          [&] {
                              started.set_value();
                              released.wait();
                          }),
              A::admitted);
    started.get_future().wait();
    std::atomic<int> ran{0};
    // Behind the running check: two check costs at least, more than 60 ms.
    EXPECT_EQ(gate.submit("b", now() + std::chrono::milliseconds(60), [&] { ++ran; }), A::busy);
    EXPECT_EQ(gate.submit("b", now() + std::chrono::seconds(60), [&] { ++ran; }), A::admitted);
    // Admitted while it could still finish, but its deadline passes while it waits.
    const auto deadline = now() + std::chrono::milliseconds(400);
    ASSERT_EQ(gate.submit("c", deadline, [] { ADD_FAILURE() << "a timed-out check ran"; }), A::admitted);
    std::this_thread::sleep_until(deadline + std::chrono::milliseconds(10));
    release.set_value();
    for (int i = 0; i < 500 && ran.load() < 1; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(ran.load(), 1);
}

TEST(VerifiedLogins, RemembersOnlyTheVerifiedTripleUntilForgotten) {
    VerifiedLogins logins;
    logins.remember("tester", "", "pw", logins.generation());
    EXPECT_TRUE(logins.contains("tester", "", "pw"));
    // The parts are kept apart: no other split of the same bytes matches.
    for (const auto& [login, domain, password] :
         std::vector<std::tuple<std::string, std::string, std::string>>{{"tester", "", "pW"},
                                                                        {"tester", "x", "pw"},
                                                                        {"teste", "r", "pw"},
                                                                        {"tester", "p", "w"},
                                                                        {"", "", ""}}) {
        EXPECT_FALSE(logins.contains(login, domain, password)) << login << "/" << domain << "/" << password;
    }
    const unsigned long before = logins.generation();
    logins.forget();
    EXPECT_FALSE(logins.contains("tester", "", "pw"));
    // A check that started before the users changed does not remember its login.
    logins.remember("tester", "", "pw", before);
    EXPECT_FALSE(logins.contains("tester", "", "pw"));
    logins.remember("tester", "", "pw", logins.generation());
    EXPECT_TRUE(logins.contains("tester", "", "pw"));
}

TEST(AgentConfig, ReadsEverySectionAndAlwaysHasTheSystemRealm) {
    const std::string hash = PasswordHash::create("pw", 1000);
    AgentConfig config;
    std::string error;
    ASSERT_TRUE(AgentConfig::parse(
        "<ovagent><listen><tcp address=\"0.0.0.0\" port=\"5000\"/><tls enabled=\"false\"/>"
        "<unix path=\"/tmp/x.sock\"/></listen><stateDirectory>/var/lib/ova</stateDirectory>"
        "<log level=\"4\" file=\"/tmp/a.log\"/>"
        "<limits maxPacketSize=\"4096\" maxDepth=\"8\" maxConnections=\"9\" loginTimeoutMs=\"10\" "
        "idleTimeoutMs=\"20\" failedLoginDelayMs=\"0\"/>"
        "<realms><realm id=\"8b2e4c61-7d3f-4e9a-a1b2-3c4d5e6f7a80\" name=\"Lab\"/></realms>"
        "<users><user login=\"a\" domain=\"d\" password=\"" +
            hash +
            "\"><realm>Lab</realm><realm>00000000-0000-0000-0000-000000000001</realm></user></users>"
            "<environments><environment "
            "name=\"e\"><config><type>db</type></config></environment></environments>"
            "</ovagent>",
        config, error))
        << error;
    EXPECT_EQ(config.tcp.address, "0.0.0.0");
    EXPECT_EQ(config.tcp.port, 5000);
    EXPECT_FALSE(config.tls.enabled);
    EXPECT_EQ(config.tls.port, 4434);
    EXPECT_EQ(config.unixPath, "/tmp/x.sock");
    EXPECT_EQ(config.unixMode, 0600u) << "only the agent's user, unless configured";
    EXPECT_EQ(config.stateDirectory, "/var/lib/ova");
    EXPECT_EQ(config.logLevel, 4);
    EXPECT_EQ(config.limits.maxPacketSize, 4096u);
    EXPECT_EQ(config.limits.failedLoginDelay.count(), 0);
    ASSERT_EQ(config.realms.size(), 2u);
    EXPECT_EQ(config.realms[0].name, "System");
    EXPECT_EQ(config.realms[0].id.toString(), "00000000-0000-0000-0000-000000000001");
    ASSERT_NE(config.findUser("a", "d"), nullptr);
    EXPECT_EQ(config.findUser("a", ""), nullptr);
    EXPECT_EQ(config.findUser("a", "d")->realms.size(), 2u);
    ASSERT_EQ(config.environments.size(), 1u);
    EXPECT_TRUE(config.environments[0].id.isValid());
    EXPECT_EQ(config.environments[0].config, (ConfigFields{{"type", "db"}}));
}

TEST(AgentConfig, InvalidFilesAreRejectedWithAMessage) {
    const std::string hash = PasswordHash::create("pw", 1000);
    for (const std::string& text : {
             std::string("<ovagent>"),
             std::string("<agent/>"),
             std::string("<ovagent><listen><tcp port=\"70000\"/></listen></ovagent>"),
             std::string("<ovagent><limits maxDepth=\"deep\"/></ovagent>"),
             std::string("<ovagent><listen><tls certificate=\"c.pem\"/></listen></ovagent>"),
             std::string("<ovagent><users><user login=\"a\" password=\"plain\"/></users></ovagent>"),
             "<ovagent><users><user login=\"a\" password=\"" + hash +
                 "\"><realm>Nope</realm></user></users></ovagent>",
             "<ovagent><users><user login=\"a\" password=\"" + hash + "\"/><user login=\"a\" password=\"" +
                 hash + "\"/></users></ovagent>",
             std::string("<ovagent><realms><realm id=\"x\" name=\"A\"/></realms></ovagent>"),
             std::string("<ovagent><listen><unix mode=\"0888\"/></listen></ovagent>"),
             std::string("<ovagent><listen><unix mode=\"01777\"/></listen></ovagent>"),
             std::string("<ovagent><listen><unix mode=\" 0600\"/></listen></ovagent>"),
             std::string("<ovagent><listen><unix mode=\"\"/></listen></ovagent>"),
         }) {
        AgentConfig config;
        config.logLevel = 7;
        std::string error;
        EXPECT_FALSE(AgentConfig::parse(text, config, error)) << text;
        EXPECT_FALSE(error.empty()) << text;
        EXPECT_EQ(config.logLevel, 7) << "a failed parse leaves the target alone";
    }
    AgentConfig config;
    std::string error;
    EXPECT_FALSE(AgentConfig::load("/nonexistent/ovagent.xml", config, error));
}

// The file is read as an OVLMessage: text errors name line and column, the file's name is in every
// error, and fields keep their local names whatever prefix they carry.
TEST(AgentConfig, ErrorsNameTheFileAndPositionAndPrefixedFieldsAreRead) {
    ferrik_test::TempDir dir;
    const std::string path = dir.file("agent.xml");
    AgentConfig config;
    config.logLevel = 7;
    std::string error;
    std::ofstream(path) << "<ovagent>\n<listen>\n  <tcp port=\"1\"></listen>\n</ovagent>\n";
    EXPECT_FALSE(AgentConfig::load(path, config, error));
    EXPECT_EQ(error.rfind(path + ": malformed XML at line 3, column ", 0), 0u) << error;
    EXPECT_FALSE(AgentConfig::load(dir.file("missing.xml"), config, error));
    EXPECT_EQ(error.rfind("cannot open the configuration file " + dir.file("missing.xml") + ": ", 0), 0u)
        << error;
    std::ofstream(path, std::ios::trunc) << "<ovagent><log level=\"10\"/></ovagent>";
    EXPECT_FALSE(AgentConfig::load(path, config, error));
    EXPECT_EQ(error, path + ": <log> level=\"10\" is not a number from 0 to 9");
    EXPECT_FALSE(AgentConfig::parse("", config, error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(config.logLevel, 7);

    std::ofstream(path, std::ios::trunc)
        << "<?xml version=\"1.0\"?>\n<ovagent xmlns:e=\"urn:x\"><stateDirectory>/var/s</stateDirectory>"
           "<listen><tcp enabled=\"no\" address=\"0.0.0.0\" port=\"5\"/><unix enabled=\"false\"/></listen>"
           "<environments><environment name=\"n\"><e:config><e:host>h</e:host><type/></e:config>"
           "</environment><environment "
           "id=\"0f6d2b1e-8a4c-4d3b-9e7f-1a2b3c4d5e60\"/></environments></ovagent>";
    ASSERT_TRUE(AgentConfig::load(path, config, error)) << error;
    EXPECT_EQ(config.stateDirectory, "/var/s");
    EXPECT_FALSE(config.tcp.enabled);
    EXPECT_EQ(config.tcp.address, "0.0.0.0");
    EXPECT_EQ(config.tcp.port, 5);
    EXPECT_TRUE(config.tls.enabled);
    EXPECT_FALSE(config.unixEnabled);
    EXPECT_EQ(config.logLevel, 3);
    ASSERT_EQ(config.environments.size(), 2u);
    EXPECT_EQ(config.environments[0].config, (ConfigFields{{"host", "h"}, {"type", ""}}));
    EXPECT_EQ(config.environments[1].id.toString(), "0f6d2b1e-8a4c-4d3b-9e7f-1a2b3c4d5e60");
    ASSERT_EQ(config.realms.size(), 1u);
}

TEST(AgentConfig, DemoIsLoopbackOnlyWithTheConsoleDefaults) {
    AgentConfig demo = AgentConfig::demo();
    EXPECT_EQ(demo.tcp.address, "127.0.0.1");
    EXPECT_EQ(demo.tls.address, "127.0.0.1");
    const UserConfig* user = demo.findUser("peadmin", "");
    ASSERT_NE(user, nullptr);
    EXPECT_TRUE(PasswordHash::verify("5t6y7u", user->passwordHash));
    EXPECT_EQ(demo.realms.at(0).name, "System");
    EXPECT_EQ(user->realms.at(0), demo.realms.at(0).id);
    EXPECT_GE(demo.environments.size(), 2u);
}

// The configuration the package installs for the service: it loads, listens on loopback only,
// has no account, puts the socket in the unit's runtime directory and leaves TLS to the
// generated certificate.
TEST(AgentConfig, ServiceConfigurationIsLoopbackOnlyWithoutAccounts) {
    AgentConfig config;
    std::string error;
    ASSERT_TRUE(AgentConfig::load(OVAGENT_SERVICE_CONFIG, config, error)) << error;
    EXPECT_TRUE(config.tcp.enabled);
    EXPECT_EQ(config.tcp.address, "127.0.0.1");
    EXPECT_TRUE(config.tls.enabled);
    EXPECT_EQ(config.tls.address, "127.0.0.1");
    EXPECT_TRUE(config.certificateFile.empty() && config.keyFile.empty());
    EXPECT_EQ(config.unixPath, "/run/ovagent/ovagent.sock");
    EXPECT_EQ(config.unixMode, 0666u) << "every local user may connect; the login is the gate";
    EXPECT_EQ(config.stateDirectory, "/var/lib/ovagent");
    EXPECT_EQ(config.logFile, "/var/log/ovagent/ovagent.log");
    EXPECT_TRUE(config.users.empty());
    EXPECT_EQ(config.findUser("peadmin", ""), nullptr);
}

TEST(EnvironmentStore, ChangesAreOnDiskAndAFailedWriteChangesNothing) {
    ferrik_test::TempDir dir;
    EnvironmentSeed seed;
    seed.id.generate();
    seed.name = "seeded";
    seed.config = {{"type", "database"}};
    OVL::OVLGUIDBase agentId;
    {
        EnvironmentStore store(dir.file("state.xml"));
        std::string error;
        ASSERT_TRUE(store.open({seed}, error)) << error;
        agentId = store.agentId();
        Environment env;
        env.name = "new";
        env.config = {{"host", "h<&>"}};
        ASSERT_EQ(store.create(env, 10), EnvironmentStore::Result::ok);
        EXPECT_TRUE(env.id.isValid());
        Environment again;
        again.name = "new";
        EXPECT_EQ(store.create(again, 10), EnvironmentStore::Result::conflict);
        EXPECT_EQ(store.create(again, 2), EnvironmentStore::Result::full);

        // The directory turns read-only: the write fails, memory and disk keep the old state.
        if (::geteuid() != 0) {
            ::chmod(dir.path().c_str(), 0500);
            Environment out;
            EXPECT_EQ(
                store.change(env.id, std::string("renamed"), std::nullopt, std::nullopt, std::nullopt, out),
                EnvironmentStore::Result::ioError);
            EXPECT_EQ(store.get(env.id)->name, "new");
            ::chmod(dir.path().c_str(), 0700);
        }
        EXPECT_EQ(store.destroy(seed.id), EnvironmentStore::Result::ok);
        EXPECT_EQ(store.destroy(seed.id), EnvironmentStore::Result::notFound);
    }
    EnvironmentStore reopened(dir.file("state.xml"));
    std::string error;
    ASSERT_TRUE(reopened.open({seed}, error)) << error;
    EXPECT_EQ(reopened.agentId(), agentId);
    auto list = reopened.list();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].name, "new");
    EXPECT_EQ(list[0].config, (ConfigFields{{"host", "h<&>"}}));
    EXPECT_FALSE(std::filesystem::exists(dir.file("state.xml.tmp")));

    std::ofstream(dir.file("broken.xml")) << "<ovagentState><agentId>zz";
    EnvironmentStore broken(dir.file("broken.xml"));
    EXPECT_FALSE(broken.open({}, error));
    EXPECT_FALSE(error.empty());
}

// The daemon and the --stdio sessions next to it share one state file: each store applies its
// change to what is on disk, so none overwrites another's, also when processes write at once.
TEST(EnvironmentStore, StoresSharingTheFileKeepEachOthersChanges) {
    ferrik_test::TempDir dir;
    const std::string path = dir.file("state.xml");
    using R = EnvironmentStore::Result;
    EnvironmentStore first(path), second(path);
    std::string error;
    ASSERT_TRUE(first.open({}, error)) << error;
    ASSERT_TRUE(second.open({}, error)) << error;
    EXPECT_EQ(first.agentId(), second.agentId());
    Environment a, b, same;
    a.name = same.name = "from-first";
    b.name = "from-second";
    ASSERT_EQ(first.create(a, 100), R::ok);
    ASSERT_EQ(second.create(b, 100), R::ok);
    EXPECT_EQ(first.list().size(), 2u);
    EXPECT_EQ(second.create(same, 100), R::conflict);
    EXPECT_EQ(second.create(same, 2), R::full);
    ASSERT_EQ(second.destroy(a.id), R::ok);
    Environment out;
    EXPECT_EQ(first.change(a.id, std::string("renamed"), std::nullopt, std::nullopt, std::nullopt, out),
              R::notFound);
    EXPECT_FALSE(first.get(a.id).has_value());
    ASSERT_TRUE(first.get(b.id).has_value());

    constexpr int kChildren = 4, kEach = 25;
    std::vector<pid_t> children;
    for (int c = 0; c < kChildren; ++c) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            EnvironmentStore mine(path);
            std::string childError;
            int failures = mine.open({}, childError) ? 0 : 1;
            for (int i = 0; i < kEach; ++i) {
                Environment env;
                env.name = "p" + std::to_string(c) + "-" + std::to_string(i);
                failures += mine.create(env, 1000) != R::ok;
            }
            ::_exit(failures == 0 ? 0 : 1);
        }
        ASSERT_GT(pid, 0);
        children.push_back(pid);
    }
    for (const pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(first.list().size(), 1u + kChildren * kEach);
    EnvironmentStore reopened(path);
    ASSERT_TRUE(reopened.open({}, error)) << error;
    EXPECT_EQ(reopened.list().size(), 1u + kChildren * kEach);

    // A file removed from under the store is written again from memory; one that another program
    // broke is left as it is, and the change is refused.
    std::filesystem::remove(path);
    Environment c;
    c.name = "after-removal";
    EXPECT_EQ(first.create(c, 1000), R::ok);
    EnvironmentStore again(path);
    ASSERT_TRUE(again.open({}, error)) << error;
    EXPECT_EQ(again.list().size(), 2u + kChildren * kEach);
    std::ofstream(path) << "<ovagentState><agentId>zz";
    Environment d;
    d.name = "over-a-broken-file";
    EXPECT_EQ(first.create(d, 1000), R::ioError);
    std::ifstream in(path);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "<ovagentState><agentId>zz");
    EXPECT_EQ(first.list().size(), 2u + kChildren * kEach) << "reads answer from memory";
}

// State files that another program wrote or broke: each refusal names what is wrong.
TEST(EnvironmentStore, InvalidStateFilesAreRefusedWithTheReason) {
    const std::string a = "0f6d2b1e-8a4c-4d3b-9e7f-1a2b3c4d5e60", b = "3a9c7e15-2b4d-4f6a-8c1e-9d0b2a3c4e70";
    auto file = [](const std::string& environments) {
        return "<ovagentState version=\"1\"><agentId>6a9f7ffc-db33-4c55-b086-6a5d3f4b6e52</agentId>"
               "<environments>" +
               environments + "</environments></ovagentState>";
    };
    auto env = [](const std::string& id, const std::string& name, const std::string& extra = {}) {
        return "<environment id=\"" + id + "\" name=\"" + name + "\" " + extra + "/>";
    };
    const struct {
        std::string text;
        std::string reason;
    } cases[] = {
        {file(env(a, "one") + env(a, "two")), "the environment id " + a + " appears twice"},
        {file(env(a, "one") + env(b, "one")), "the environment name 'one' appears twice"},
        {file(env(a, "one", "revision=\"-5\"")), "revision=\"-5\"; it must be a whole number from 1"},
        {file(env(a, "one", "revision=\"0\"")), "from 1"},
        {file(env(a, "one", "revision=\"2x\"")), "from 1"},
        {file(env(a, "one", "created=\"\"")), "created=\"\""},
        {file(env("nope", "one")), "no valid id ('nope')"},
        {file(env(a, "")), "has no name"},
        {"<ovagentState><agentId>zz", "malformed XML"},
    };
    for (const auto& c : cases) {
        ferrik_test::TempDir dir;
        std::ofstream(dir.file("state.xml")) << c.text;
        EnvironmentStore store(dir.file("state.xml"));
        std::string error;
        EXPECT_FALSE(store.open({}, error)) << c.text;
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        EXPECT_NE(error.find(dir.file("state.xml")), std::string::npos) << error;
    }
    ferrik_test::TempDir dir;
    std::filesystem::create_directory(dir.file("state.xml"));
    EnvironmentStore store(dir.file("state.xml"));
    std::string error;
    EXPECT_FALSE(store.open({}, error));
    EXPECT_NE(error.find("state.xml is a directory, not a state file"), std::string::npos) << error;

    // What a writer killed half-way left is removed at the start; other files stay.
    ferrik_test::TempDir stale;
    std::ofstream(stale.file("state.xml")) << file(env(a, "one", "revision=\"3\""));
    for (const char* name : {"state.xml.tmp", "state.xml.tmp-4242-0", "state.xml.bak"}) {
        std::ofstream(stale.file(name)) << "<half";
    }
    EnvironmentStore restarted(stale.file("state.xml"));
    ASSERT_TRUE(restarted.open({}, error)) << error;
    OVL::OVLGUIDBase idA;
    idA.fromString(a.c_str());
    ASSERT_TRUE(restarted.get(idA).has_value());
    EXPECT_EQ(restarted.get(idA)->revision, 3u);
    EXPECT_FALSE(std::filesystem::exists(stale.file("state.xml.tmp")));
    EXPECT_FALSE(std::filesystem::exists(stale.file("state.xml.tmp-4242-0")));
    EXPECT_TRUE(std::filesystem::exists(stale.file("state.xml.bak")));
}

TEST(EnvironmentStore, TheStateSizeIsBoundedAndAStateOverTheBoundMayShrink) {
    ferrik_test::TempDir dir;
    using R = EnvironmentStore::Result;
    EnvironmentStore store(dir.file("state.xml"));
    std::string error;
    ASSERT_TRUE(store.open({}, error)) << error;
    Environment big;
    big.name = "big";
    big.config = {{"blob", std::string(5000, 'x')}};
    ASSERT_EQ(store.create(big, 100), R::ok);
    store.setMaxStateSize(4096);
    Environment small;
    small.name = "small";
    EXPECT_EQ(store.create(small, 100), R::tooLarge);
    Environment out;
    const ConfigFields larger = {{"blob", std::string(6000, 'x')}};
    EXPECT_EQ(store.change(big.id, std::nullopt, larger, std::nullopt, std::nullopt, out), R::tooLarge);
    EXPECT_EQ(store.get(big.id)->config, big.config) << "a refused change changes nothing";
    const ConfigFields shorter = {{"blob", std::string(4500, 'x')}};
    EXPECT_EQ(store.change(big.id, std::nullopt, shorter, std::nullopt, std::nullopt, out), R::ok);
    EXPECT_EQ(store.destroy(big.id), R::ok);
    EXPECT_EQ(store.create(small, 100), R::ok);
    EXPECT_EQ(EnvironmentStore::stateSize(small), 64u + 5u);
}
