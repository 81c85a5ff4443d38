// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// The environments target against a real daemon, and the state file across restarts and kills.

#include <gtest/gtest.h>

#include <sys/file.h>
#include <sys/resource.h>

#include <filesystem>
#include <random>

#include "AgentHarness.h"
#include "EnvironmentStore.h"

using namespace agent_test;
using OVL::Wire::childByLocalName;
using OVL::Wire::childText;

namespace {

std::string envRequest(const std::string& id, const std::string& op, const std::string& body = {}) {
    return request(id, "environments", "environments", op, body);
}

std::map<std::string, std::string> fields(pugi::xml_node node) {
    std::map<std::string, std::string> out;
    for (pugi::xml_node child : node.children()) {
        out[std::string(OVL::Wire::localName(child))] = child.child_value();
    }
    return out;
}

struct AgentRun {
    int status = -1;
    std::string output;  // standard error and, with <log file="/dev/stderr"/>, the log
};

// Runs ovagent to its end with writes to files limited to `fileSizeLimit` bytes: past it a write
// fails with EFBIG, as on a full disk (pipes, such as its standard error, are not limited).
AgentRun runWithFullDisk(const std::vector<std::string>& arguments, rlim_t fileSizeLimit) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        throw std::runtime_error("pipe");
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeFds[1], 2);
        ::close(pipeFds[0]);
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{fileSizeLimit, fileSizeLimit};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        std::vector<char*> argv{const_cast<char*>(OVAGENT_PATH)};
        for (const std::string& a : arguments) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    AgentRun run;
    char chunk[4096];
    for (ssize_t n; (n = ::read(pipeFds[0], chunk, sizeof chunk)) > 0;) {
        run.output.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(pipeFds[0]);
    ::waitpid(pid, &run.status, 0);
    return run;
}

int temporaries(const std::string& dir) {
    int n = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        n += entry.path().filename().string().find(".tmp") != std::string::npos;
    }
    return n;
}

}  // namespace

TEST(AgentEnvironments, AStartOnAFullDiskFailsSaysSoAndLeavesNoTemporaryFile) {
    ferrik_test::TempDir dir;
    const std::string state = dir.file("state"), ports = dir.file("ports"), config = dir.file("agent.xml");
    std::filesystem::create_directory(state);
    std::string text = testConfig({}, "<log file=\"/dev/stderr\"/>");
    text.replace(text.find("@SOCKET@"), 8, dir.file("agent.sock"));
    std::ofstream(config) << text;
    const std::vector<std::string> args = {"--config", config, "--state-dir", state, "--ports-file", ports};

    // The first start cannot write its state file.
    AgentRun run = runWithFullDisk(args, 16);
    EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 1) << run.output;
    EXPECT_NE(run.output.find("start failed: cannot write"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("state.xml"), std::string::npos) << run.output;
    EXPECT_EQ(temporaries(state), 0);

    // With the state file and certificate in place, the ports file is the one write left.
    {
        AgentProcess once(testConfig(), {}, nullptr);
        std::filesystem::remove_all(state);
        std::filesystem::copy(once.stateDir(), state);
        std::filesystem::remove(state + "/ovagent.log");
    }
    run = runWithFullDisk(args, 16);
    EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 1) << run.output;
    EXPECT_NE(run.output.find("start failed: cannot write the ports file"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("started"), std::string::npos) << run.output;
    EXPECT_FALSE(std::filesystem::exists(ports));
    EXPECT_EQ(temporaries(dir.path().string()), 0);
    EXPECT_FALSE(std::filesystem::exists(dir.file("agent.sock"))) << "the listeners are closed";
}

TEST(AgentEnvironments, TheStoredStateIsBoundedWithAClearError) {
    AgentProcess agent(testConfig("maxStateSize=\"4096\""));
    Client client = Client::tcp(agent.tcpPort());
    ASSERT_EQ(client.login()->errorCode(), 0);
    const std::string blob = "<config><blob>" + std::string(5000, 'x') + "</blob></config>";
    auto refused = client.call(envRequest("big", "create", "<name>big</name>" + blob));
    EXPECT_EQ(refused->errorCode(), 422);
    const std::string message = childText(childByLocalName(refused->data(), "error"), "message");
    EXPECT_NE(message.find("would exceed maxStateSize (4096 bytes)"), std::string::npos) << message;
    EXPECT_EQ(client.call(envRequest("l", "list"))->result().select_nodes("*").size(), 2u);
    EXPECT_EQ(client.call(envRequest("s", "create", "<name>small</name>"))->errorCode(), 0);
}

TEST(AgentEnvironments, ListCreateChangeDestroyAndPersistAcrossRestart) {
    ferrik_test::TempDir state;
    std::string createdId;
    {
        AgentProcess agent(testConfig(), {}, &state);
        Client client = Client::tcp(agent.tcpPort());
        ASSERT_EQ(client.login()->errorCode(), 0);

        auto list = client.call(envRequest("1", "list"));
        ASSERT_EQ(list->errorCode(), 0);
        std::vector<pugi::xml_node> envs(list->result().children().begin(), list->result().children().end());
        ASSERT_EQ(envs.size(), 2u);
        EXPECT_EQ(childText(envs[0], "id"), "0f6d2b1e-8a4c-4d3b-9e7f-1a2b3c4d5e60");
        EXPECT_EQ(fields(childByLocalName(envs[0], "config"))["type"], "database");
        EXPECT_EQ(fields(childByLocalName(envs[0], "altConfig"))["role"], "primary");
        EXPECT_EQ(childText(childByLocalName(envs[0], "runtime"), "state"), "ready");

        auto created = client.call(envRequest(
            "2", "create", "<name>cache</name><config><type>cache</type><host>c1</host></config>"));
        ASSERT_EQ(created->errorCode(), 0) << created->text;
        pugi::xml_node env = created->result().first_child();
        createdId = childText(env, "id");
        EXPECT_EQ(fields(childByLocalName(env, "config")),
                  (std::map<std::string, std::string>{{"type", "cache"}, {"host", "c1"}}));

        EXPECT_EQ(client.call(envRequest("3", "create", "<name>cache</name>"))->errorCode(), 409);
        EXPECT_EQ(client.call(envRequest("4", "create", "<config/>"))->errorCode(), 422);
        EXPECT_EQ(
            client.call(envRequest("5", "create", "<name>n</name><config><a><b/></a></config>"))->errorCode(),
            422);

        auto changed = client.call(
            envRequest("6", "change",
                       "<id>" + createdId + "</id><revision>1</revision><config><type>kv</type></config>"));
        ASSERT_EQ(changed->errorCode(), 0) << changed->text;
        EXPECT_EQ(childText(childByLocalName(changed->result().first_child(), "runtime"), "revision"), "2");
        // A stale revision is a conflict and changes nothing.
        EXPECT_EQ(client
                      .call(envRequest("7", "change",
                                       "<id>" + createdId + "</id><revision>1</revision><name>z</name>"))
                      ->errorCode(),
                  409);
        // A revision that is no revision is a bad argument, not a stale one; none changes anything.
        for (const char* revision : {"-1", "0", "18446744073709551617", " 1", "1 ", "+1", "0x1", ""}) {
            auto bad = client.call(
                envRequest("r", "change",
                           "<id>" + createdId + "</id><revision>" + revision + "</revision><name>z</name>"));
            EXPECT_EQ(bad->errorCode(), 422) << "revision \"" << revision << "\": " << bad->text;
        }
        EXPECT_EQ(client
                      .call(envRequest("r", "change",
                                       "<id>" + createdId + "</id><revision>18446744073709551615</revision>"))
                      ->errorCode(),
                  409);
        EXPECT_EQ(client.call(envRequest("8", "change", "<id>" + createdId + "</id><name>test-web</name>"))
                      ->errorCode(),
                  409);

        auto got = client.call(envRequest("9", "get", "<id>" + createdId + "</id>"));
        EXPECT_EQ(childText(got->result().first_child(), "name"), "cache");
        EXPECT_EQ(fields(childByLocalName(got->result().first_child(), "config"))["type"], "kv");

        EXPECT_EQ(client.call(envRequest("10", "destroy", "<id>3a9c7e15-2b4d-4f6a-8c1e-9d0b2a3c4e70</id>"))
                      ->errorCode(),
                  0);
        EXPECT_EQ(client.call(envRequest("11", "get", "<id>3a9c7e15-2b4d-4f6a-8c1e-9d0b2a3c4e70</id>"))
                      ->errorCode(),
                  410);
        EXPECT_EQ(client.call(envRequest("12", "get", "<id>nonsense</id>"))->errorCode(), 422);
        EXPECT_EQ(client.call(envRequest("13", "destroy"))->errorCode(), 422);
    }
    AgentProcess agent(testConfig(), {}, &state);
    Client client = Client::tcp(agent.tcpPort());
    ASSERT_EQ(client.login()->errorCode(), 0);
    auto list = client.call(envRequest("1", "list"));
    std::vector<std::string> names;
    for (pugi::xml_node env : list->result().children()) {
        names.push_back(childText(env, "name"));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"prod-db", "cache"}));
}

TEST(AgentEnvironments, KillingTheDaemonDuringStateWritesLeavesAReadableStateFile) {
    ferrik_test::TempDir state;
    std::mt19937 random(42);
    int created = 0;
    for (int round = 0; round < 5; ++round) {
        AgentProcess agent(testConfig(), {}, &state);
        Client client = Client::tcp(agent.tcpPort());
        ASSERT_EQ(client.login()->errorCode(), 0);
        // Pipeline many creates without waiting, then kill while the agent is writing them.
        std::string batch;
        for (int i = 0; i < 200; ++i) {
            batch += envRequest("c", "create",
                                "<name>r" + std::to_string(round) + "-" + std::to_string(i) +
                                    "</name><config><type>t</type></config>") +
                     '\0';
        }
        client.sendRaw(batch);
        client.read();
        std::this_thread::sleep_for(std::chrono::milliseconds(random() % 30));
        agent.stop(SIGKILL);

        ovagent::EnvironmentStore store(state.file("state.xml"));
        std::string error;
        ASSERT_TRUE(store.open({}, error)) << error;
        const int now = static_cast<int>(store.list().size());
        EXPECT_GT(now, created) << "the first acknowledged create must be on disk";
        created = now;
    }
}

// An environment operation waits for the state file on the store thread: while another process
// holds the file's lock, sessions that do not touch the environments are served, also by an agent
// with a single network thread, and the change completes once the lock is released.
TEST(AgentEnvironments, AStalledStateFileDoesNotStallOtherSessions) {
    ferrik_test::TempDir state;
    AgentProcess agent(testConfig("workerThreads=\"1\""), {}, &state);
    Client writer = Client::tcp(agent.tcpPort());
    ASSERT_EQ(writer.login()->errorCode(), 0);
    Client reader = Client::unixSocket(agent.socketPath());
    ASSERT_EQ(reader.login()->errorCode(), 0);
    const int lockFd = ::open(state.file("state.xml.lock").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(lockFd, 0);
    ASSERT_EQ(::flock(lockFd, LOCK_EX), 0);
    writer.send(envRequest("c", "create", "<name>late</name>"));
    auto echoed = reader.call(request("e", "system", "system", "echo", "<text>on</text>"));
    EXPECT_EQ(childText(echoed->result(), "text"), "on");
    EXPECT_THROW(writer.read(std::chrono::milliseconds(200)), std::runtime_error) << "the lock is still held";
    ::flock(lockFd, LOCK_UN);
    ::close(lockFd);
    auto created = writer.read();
    EXPECT_EQ(created->errorCode(), 0) << created->text;
    EXPECT_EQ(created->id(), "c");
}

TEST(AgentEnvironments, ASecondAgentOnTheSameStateDirectoryIsRefused) {
    ferrik_test::TempDir state;
    AgentProcess first(testConfig(), {}, &state);
    EXPECT_THROW(AgentProcess second(testConfig(), {}, &state), std::runtime_error);
    Client client = Client::tcp(first.tcpPort());
    EXPECT_EQ(client.login()->errorCode(), 0);
}
