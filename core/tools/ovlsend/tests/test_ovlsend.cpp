// ovlsend: its command line, and the real program against a real agent.

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>

#include "AgentHarness.h"
#include "OVLFunctionalityCore/OVLRealm.h"
#include "SendOptions.h"

namespace {

using ovlsend::parseOptions;
using ovlsend::SendOptions;

TEST(OvlsendOptions, HostPortTypeAndRealmLikeTheConsole) {
    SendOptions o;
    std::string error;
    ASSERT_TRUE(parseOptions(
        {"-H", "box:99", "-t", "SSL", "-l", "me", "-d", "corp", "--no-password", "f.xml"}, o, error))
        << error;
    EXPECT_EQ(o.info.getHost(), "box");
    EXPECT_EQ(o.info.getPort(), 99);
    EXPECT_EQ(o.info.getTypeName(), "SSL");
    EXPECT_EQ(o.info.getAuthName().getLogin(), "me");
    EXPECT_EQ(o.info.getAuthName().getDomain(), "corp");
    EXPECT_EQ(o.info.getAuthName().getRealmID(), OVL::OVLRealm::systemRealmID);
    EXPECT_EQ(o.inputs, std::vector<std::string>{"f.xml"});

    SendOptions p;
    ASSERT_TRUE(parseOptions({"-l", "me", "-t", "Named PIPE", "-H", "/run/a:b.sock", "-r",
                              "8b2e4c61-7d3f-4e9a-a1b2-3c4d5e6f7a80", "--no-password"},
                             p, error));
    EXPECT_EQ(p.info.getTypeName(), "NamedPipe");
    EXPECT_EQ(p.info.getHost(), "/run/a:b.sock");
    EXPECT_EQ(p.info.getAuthName().getRealmID().toString(), "8b2e4c61-7d3f-4e9a-a1b2-3c4d5e6f7a80");
}

TEST(OvlsendOptions, BadUsageIsNamed) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"-H", "box:99x"}, "invalid port"},
        {{"-H", "box:0"}, "invalid port"},
        {{"-t", "pigeon"}, "unknown connection type"},
        {{"-r", "Lab"}, "invalid realm"},
        {{"--timeout", "soon"}, "invalid time-out"},
        {{"--password-stdin"}, "needs the packets in files"},
        {{"--bogus"}, "unknown option"},
        {{"-l"}, "needs a value"},
        {{"-H", "box", "--no-password"}, "no login given (-l LOGIN)"},
        {{"-l", "", "--no-password"}, "no login given"},
        {{"-l", "me", "--max-reply-size", "12"}, "invalid reply size"},
        {{"-l", "me", "--max-reply-size", "-2000"}, "invalid reply size"},
    };
    for (const auto& [args, expected] : cases) {
        SendOptions o;
        std::string error;
        EXPECT_FALSE(parseOptions(args, o, error)) << args[0];
        EXPECT_NE(error.find(expected), std::string::npos) << error;
    }
}

TEST(OvlsendOptions, SplitPacketsDropsBlankPieces) {
    EXPECT_EQ(ovlsend::splitPackets(std::string("<a/>\0\n\0<b/>\0", 12)),
              (std::vector<std::string>{"<a/>", "<b/>"}));
    EXPECT_EQ(ovlsend::splitPackets("<a/>"), std::vector<std::string>{"<a/>"});
    EXPECT_TRUE(ovlsend::splitPackets(" \n").empty());
}

struct Outcome {
    int status;
    std::string out;
};

// Runs ovlsend through the shell, with `input` on its standard input; stderr joins stdout.
Outcome run(const std::string& args, const std::string& input, const ferrik_test::TempDir& dir) {
    const std::string in = dir.file("stdin");
    std::ofstream(in, std::ios::binary) << input;
    const std::string command = std::string(OVLSEND_PATH) + " " + args + " < " + in + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    Outcome result{-1, {}};
    std::array<char, 4096> chunk;
    std::size_t n;
    while ((n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0)
        result.out.append(chunk.data(), n);
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

class OvlsendAgent : public ::testing::Test {
protected:
    void SetUp() override {
        std::ofstream(dir.file("password")) << agent_test::kPassword << "\n";
        std::ofstream(dir.file("wrong")) << "nope\n";
        base = "-H 127.0.0.1:" + std::to_string(agent.tcpPort()) + " -l tester -r " +
               agent_test::kSystemRealm + " --timeout 5000 ";
    }
    std::string echo(const std::string& text) {
        return "<packet><target>system</target><data><system><echo><text>" + text +
               "</text></echo></system></data></packet>";
    }
    agent_test::AgentProcess agent{agent_test::testConfig()};
    ferrik_test::TempDir dir;
    std::string base;
};

TEST_F(OvlsendAgent, ParsedPacketsFromStandardInputPrintEachReply) {
    const Outcome r =
        run(base + "--password-file " + dir.file("password"), echo("one") + '\0' + echo("two"), dir);
    EXPECT_EQ(r.status, 0) << r.out;
    const auto one = r.out.find("<ns2:text>one</ns2:text>"), two = r.out.find("<ns2:text>two</ns2:text>");
    ASSERT_NE(one, std::string::npos) << r.out;
    ASSERT_NE(two, std::string::npos) << r.out;
    EXPECT_LT(one, two);
}

TEST_F(OvlsendAgent, RawPacketsFromFilesWithThePasswordOnStandardInput) {
    std::ofstream(dir.file("a.xml")) << echo("raw-a");
    std::ofstream(dir.file("b.xml")) << echo("raw-b");
    const Outcome r = run(base + "--raw --password-stdin " + dir.file("a.xml") + " " + dir.file("b.xml"),
                          agent_test::kPassword + "\n", dir);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("raw-a"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("raw-b"), std::string::npos) << r.out;
}

TEST_F(OvlsendAgent, FailuresExitNonzeroWithAMessage) {
    Outcome r = run(base + "--password-file " + dir.file("wrong"), echo("x"), dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("login refused"), std::string::npos) << r.out;

    r = run(base + "--password-file " + dir.file("password"), "<packet><target>", dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("packet 1 cannot be parsed"), std::string::npos) << r.out;

    r = run(base + "--password-file " + dir.file("password"),
            "<packet><target>nowhere</target><data><x><y/></x></data></packet>", dir);
    EXPECT_EQ(r.status, 2) << r.out;
    EXPECT_NE(r.out.find("<ns1:code>404</ns1:code>"), std::string::npos) << r.out;

    r = run(base + "--password-file " + dir.file("password") + " " + dir.file("missing.xml"), "", dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("cannot read"), std::string::npos) << r.out;

    r = run("--no-password -l tester -H 127.0.0.1:1", echo("x"), dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("cannot connect"), std::string::npos) << r.out;

    // A directory as the password file is refused before connecting, not sent as an empty password.
    r = run(base + "--password-file " + dir.path().string(), echo("x"), dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("is a directory"), std::string::npos) << r.out;

    // Plain TCP against the TLS port connects, and the greeting never comes.
    r = run("--no-password -l tester --timeout 800 -H 127.0.0.1:" + std::to_string(agent.tlsPort()), echo("x"),
            dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("sent no greeting within 800 ms"), std::string::npos) << r.out;
}

// A password file written on another system ends its line with CR LF.
TEST_F(OvlsendAgent, APasswordLineEndingInCrLfLogsIn) {
    std::ofstream(dir.file("crlf"), std::ios::binary) << agent_test::kPassword << "\r\n";
    const Outcome r = run(base + "--password-file " + dir.file("crlf"), echo("crlf"), dir);
    EXPECT_EQ(r.status, 0) << r.out;
}

// A reply over the size cap ends the connection with a message instead of growing without end.
TEST_F(OvlsendAgent, RepliesOverTheSizeCapAreRefused) {
    const std::string big(4000, 'b');
    Outcome r = run(base + "--max-reply-size 2048 --password-file " + dir.file("password"), echo(big), dir);
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("sent a frame over 2048 bytes"), std::string::npos) << r.out;
    r = run(base + "--max-reply-size 8192 --password-file " + dir.file("password"), echo(big), dir);
    EXPECT_EQ(r.status, 0) << r.out;
}

}  // namespace
