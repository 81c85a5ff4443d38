// The daemon's units that hold logic of their own: password hashes, the configuration file and
// the environment store.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>

#include "AgentConfig.h"
#include "EnvironmentStore.h"
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
