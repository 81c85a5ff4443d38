// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// ovlsend: its command line, and the real program against a real agent.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>

#include "AgentHarness.h"
#include "OVLFunctionalityCore/OVLRealm.h"
#include "RoundTripStats.h"
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
        {{"-l", "me", "--repeat", "0"}, "invalid repeat count '0' (1 to 1000000)"},
        {{"-l", "me", "--repeat", "-3"}, "invalid repeat count"},
        {{"-l", "me", "--repeat", "+3"}, "invalid repeat count"},
        {{"-l", "me", "--repeat", "2.5"}, "invalid repeat count"},
        {{"-l", "me", "--repeat", "1000001"}, "invalid repeat count"},
        {{"-l", "me", "--repeat", "99999999999999999999"}, "invalid repeat count"},
        {{"-l", "me", "--repeat", ""}, "invalid repeat count"},
        {{"-l", "me", "--repeat"}, "needs a value"},
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

using std::chrono::milliseconds;
using std::chrono::nanoseconds;

// Nearest rank: p50 of four is the 2nd smallest, p99 the 4th; of 200 the 100th and the 198th.
TEST(OvlsendRoundTrips, SummaryIsExactNearestRank) {
    const std::vector<nanoseconds> four = {milliseconds(3), milliseconds(1), milliseconds(10),
                                           milliseconds(2)};
    ovlsend::RoundTripStats s = ovlsend::summarize(four);
    EXPECT_EQ(s.count, 4u);
    EXPECT_EQ(s.mean, milliseconds(4));
    EXPECT_EQ(s.p50, milliseconds(2));
    EXPECT_EQ(s.p99, milliseconds(10));
    EXPECT_EQ(s.max, milliseconds(10));
    EXPECT_EQ(ovlsend::formatStats(s), "count 4, mean 4.000 ms, p50 2.000 ms, p99 10.000 ms, max 10.000 ms");

    std::vector<nanoseconds> many;
    for (int i = 200; i >= 1; --i) {
        many.emplace_back(i * 1000);
    }
    s = ovlsend::summarize(many);
    EXPECT_EQ(s.count, 200u);
    EXPECT_EQ(s.mean, nanoseconds(100500));
    EXPECT_EQ(s.p50, nanoseconds(100000));
    EXPECT_EQ(s.p99, nanoseconds(198000));
    EXPECT_EQ(s.max, nanoseconds(200000));
    EXPECT_EQ(ovlsend::nearestRank(many, 1), nanoseconds(2000));
    EXPECT_EQ(ovlsend::nearestRank(many, 100), nanoseconds(200000));

    s = ovlsend::summarize({nanoseconds(1500)});
    EXPECT_EQ(s.p50, nanoseconds(1500));
    EXPECT_EQ(s.p99, nanoseconds(1500));
    EXPECT_EQ(ovlsend::formatStats(ovlsend::summarize({})),
              "count 0, mean 0.000 ms, p50 0.000 ms, p99 0.000 ms, max 0.000 ms");
}

TEST(OvlsendRoundTrips, MillisecondsWithThreeDecimalsRounded) {
    EXPECT_EQ(ovlsend::formatMs(nanoseconds(0)), "0.000 ms");
    EXPECT_EQ(ovlsend::formatMs(nanoseconds(499)), "0.000 ms");
    EXPECT_EQ(ovlsend::formatMs(nanoseconds(500)), "0.001 ms");
    EXPECT_EQ(ovlsend::formatMs(nanoseconds(1234567)), "1.235 ms");
    EXPECT_EQ(ovlsend::formatMs(nanoseconds(12400000)), "12.400 ms");
    EXPECT_EQ(ovlsend::formatMs(std::chrono::seconds(3600)), "3600000.000 ms");
}

struct Outcome {
    int status;
    std::string out;
    std::string err;  // empty unless run with separateErrors
};

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The replies that ovlsend printed, each without the line end it adds.
std::vector<std::string> replies(const std::string& out) {
    const std::string end = "</ns1:packet>\n";
    std::vector<std::string> result;
    for (std::size_t begin = 0, at; (at = out.find(end, begin)) != std::string::npos;
         begin = at + end.size()) {
        result.push_back(out.substr(begin, at + end.size() - 1 - begin));
    }
    return result;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        result.push_back(line);
    }
    return result;
}

// Runs ovlsend through the shell, with `input` on its standard input; stderr joins stdout unless
// `separateErrors`, which gives it in `err`.
Outcome run(const std::string& args, const std::string& input, const ferrik_test::TempDir& dir,
            bool separateErrors = false, const std::string& launcher = std::string()) {
    const std::string in = dir.file("stdin");
    std::ofstream(in, std::ios::binary) << input;
    const std::string command = launcher + (launcher.empty() ? "" : " ") + std::string(OVLSEND_PATH) + " " +
                                args + " < " + in + " 2>" +
                                (separateErrors ? dir.file("stderr") : std::string("&1"));
    FILE* pipe = ::popen(command.c_str(), "r");
    Outcome result{-1, {}, {}};
    std::array<char, 4096> chunk;
    std::size_t n;
    while ((n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) {
        result.out.append(chunk.data(), n);
    }
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (separateErrors) {
        result.err = slurp(dir.file("stderr"));
    }
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
    // At the debug level the agent records a TLS close without close_notify.
    agent_test::AgentProcess agent{agent_test::testConfig("", "<log level=\"4\"/>")};
    ferrik_test::TempDir dir;
    std::string base;
};

// Over TLS: the first contact remembers the fingerprint that `ovagent fingerprint` publishes, and
// ovlsend closes with close_notify, so the agent records an ordinary close.
TEST_F(OvlsendAgent, SslRemembersThePublishedFingerprintAndClosesCleanly) {
    const std::string store = dir.file("known_agents");
    ::setenv("OVL_KNOWN_AGENTS_FILE", store.c_str(), 1);  // NOLINT(concurrency-mt-unsafe): one thread
    const Outcome r = run("-t SSL -H 127.0.0.1:" + std::to_string(agent.tlsPort()) +
                              " -l tester --timeout 5000 " + "--password-file " + dir.file("password"),
                          echo("tls"), dir);
    ::unsetenv("OVL_KNOWN_AGENTS_FILE");  // NOLINT(concurrency-mt-unsafe)
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("<ns2:text>tls</ns2:text>"), std::string::npos) << r.out;

    FILE* fingerprint =
        ::popen((std::string(OVAGENT_PATH) + " fingerprint --state-dir " + agent.stateDir()).c_str(), "r");
    std::array<char, 256> published{};
    const std::size_t length = std::fread(published.data(), 1, published.size() - 1, fingerprint);
    EXPECT_EQ(::pclose(fingerprint), 0);
    EXPECT_EQ(slurp(store),
              "127.0.0.1:" + std::to_string(agent.tlsPort()) + " " + std::string(published.data(), length));

    const auto closedBy = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (agent.log().find(": closed") == std::string::npos && std::chrono::steady_clock::now() < closedBy) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const std::string log = agent.log();
    EXPECT_NE(log.find(": closed"), std::string::npos) << log;
    EXPECT_EQ(log.find("without TLS close_notify"), std::string::npos) << log;
    EXPECT_EQ(log.find("read failed"), std::string::npos) << log;

    const Outcome version = run("--version", "", dir);
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "ovlsend 0.1.0\n");
}

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
    r = run("--no-password -l tester --timeout 800 -H 127.0.0.1:" + std::to_string(agent.tlsPort()),
            echo("x"), dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("sent no greeting within 800 ms"), std::string::npos) << r.out;
}

// A listener of another user at the default socket never sees the password.
TEST_F(OvlsendAgent, TheDefaultSocketOfAnotherUserGetsNoPassword) {
    ::chmod(dir.path().c_str(), 0777);
    // The test's process runs no other thread that reads the environment.
    // NOLINTNEXTLINE(concurrency-mt-unsafe)
    ::setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
    agent_test::ForeignListener listener(dir.file("ovagent.sock"), 1);
    const Outcome r =
        run("-t NamedPipe -l tester --timeout 5000 --password-file " + dir.file("password"), echo("x"), dir);
    // NOLINTNEXTLINE(concurrency-mt-unsafe): as above
    ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find(dir.file("ovagent.sock") + " belongs to a process of uid 65534"), std::string::npos)
        << r.out;
    EXPECT_EQ(listener.received(), "");
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

// One line per reply on stderr: its packet, the id and size of the reply printed on stdout, and a
// time; stdout holds the replies alone, one per line, as without --time.
TEST_F(OvlsendAgent, TimeReportsEachReplyOnStandardError) {
    const Outcome r = run(base + "--time --password-file " + dir.file("password"),
                          echo("one") + '\0' + echo("two"), dir, true);
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> out = replies(r.out), err = lines(r.err);
    ASSERT_EQ(out.size(), 2u) << r.out;
    ASSERT_EQ(err.size(), 2u) << r.err;
    const std::regex timeLine(
        R"(ovlsend: reply ([12]) \(id ([^)]+)\): ([0-9]+)\.[0-9]{3} ms, ([0-9]+) bytes)");
    for (std::size_t i = 0; i < 2; ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(err[i], m, timeLine)) << err[i];
        const std::string& reply = out[m[1] == "1" ? 0 : 1];
        EXPECT_NE(reply.find(m[1] == "1" ? "<ns2:text>one</ns2:text>" : "<ns2:text>two</ns2:text>"),
                  std::string::npos)
            << reply;
        EXPECT_NE(reply.find("id=\"" + m[2].str() + "\""), std::string::npos) << reply;
        EXPECT_EQ(std::stoul(m[4]), reply.size());
        EXPECT_LT(std::stol(m[3]), 5000);
    }

    // Raw: a packet without an id gets a reply without one, so the line gives its place only.
    const Outcome raw =
        run(base + "--raw --time --password-file " + dir.file("password"), echo("r"), dir, true);
    EXPECT_EQ(raw.status, 0) << raw.err;
    ASSERT_EQ(replies(raw.out).size(), 1u) << raw.out;
    EXPECT_TRUE(
        std::regex_match(raw.err, std::regex(R"(ovlsend: reply 1: [0-9]+\.[0-9]{3} ms, )" +
                                             std::to_string(replies(raw.out)[0].size()) + " bytes\n")))
        << raw.err;
}

// Each repetition sends the whole input; the summary counts every reply and orders its figures.
TEST_F(OvlsendAgent, RepeatSendsTheInputAgainAndSummarizes) {
    Outcome r =
        run(base + "--repeat 3 --time --password-file " + dir.file("password"), echo("again"), dir, true);
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> out = replies(r.out), err = lines(r.err);
    ASSERT_EQ(out.size(), 3u) << r.out;
    for (const std::string& reply : out) {
        EXPECT_NE(reply.find("<ns2:text>again</ns2:text>"), std::string::npos) << reply;
    }
    ASSERT_EQ(err.size(), 4u) << r.err;
    double slowest = 0;
    for (int i = 0; i < 3; ++i) {
        std::smatch m;
        ASSERT_TRUE(
            std::regex_match(err[i], m,
                             std::regex("ovlsend: repeat " + std::to_string(i + 1) +
                                        R"( of 3, reply 1 \(id [^)]+\): ([0-9.]+) ms, [1-9][0-9]* bytes)")))
            << err[i];
        slowest = std::max(slowest, std::stod(m[1]));
    }
    std::smatch m;
    ASSERT_TRUE(std::regex_match(
        err[3], m,
        std::regex(
            R"(ovlsend: round trips: count 3, mean ([0-9.]+) ms, p50 ([0-9.]+) ms, p99 ([0-9.]+) ms, max ([0-9.]+) ms)")))
        << err[3];
    EXPECT_LE(std::stod(m[2]), std::stod(m[3]));
    EXPECT_LE(std::stod(m[1]), std::stod(m[4]));
    EXPECT_DOUBLE_EQ(std::stod(m[3]), slowest);  // nearest-rank p99 of three is the largest
    EXPECT_DOUBLE_EQ(std::stod(m[4]), slowest);

    // Raw input of two packets, twice: four replies; without --time stderr stays silent.
    r = run(base + "--raw --repeat 2 --password-file " + dir.file("password"), echo("a") + '\0' + echo("b"),
            dir, true);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(replies(r.out).size(), 4u) << r.out;
    EXPECT_EQ(r.err, "");
}

// A repetition that fails is named, stops the run with status 1, and the summary covers the
// replies that came.
TEST_F(OvlsendAgent, AFailedRepetitionStopsWithTheSummarySoFar) {
    const Outcome r =
        run(base + "--max-reply-size 2048 --repeat 3 --time --password-file " + dir.file("password"),
            echo("small") + '\0' + echo(std::string(4000, 'b')), dir, true);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(replies(r.out).size(), 1u) << r.out;
    EXPECT_NE(r.err.find("ovlsend: repeat 1 of 3: reply 2 of 2: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("sent a frame over 2048 bytes"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("ovlsend: round trips: count 1, mean "), std::string::npos) << r.err;
}

// Over TLS, the first connection says on stderr which certificate it trusted and where it is kept;
// a later one says nothing; a changed certificate is refused with how to accept it.
TEST_F(OvlsendAgent, TlsSaysAFirstTrustOnStandardError) {
    const std::string store = dir.file("known_agents");
    const std::string key = "127.0.0.1:" + std::to_string(agent.tlsPort());
    const std::string args = "-t SSL -H " + key + " -l tester -r " + agent_test::kSystemRealm +
                             " --timeout 5000 --password-file " + dir.file("password");
    const auto runTls = [&] {
        return run(args, echo("tls"), dir, true, "env OVL_KNOWN_AGENTS_FILE=" + store);
    };
    Outcome r = runTls();
    EXPECT_EQ(r.status, 0) << r.err;
    std::ifstream in(store);
    std::string name, fingerprint;
    in >> name >> fingerprint;
    EXPECT_EQ(name, key);
    ASSERT_EQ(fingerprint.size(), 95u) << fingerprint;
    EXPECT_EQ(r.err, "ovlsend: trusted on first use: agent " + key + ", SHA-256 fingerprint " + fingerprint +
                         ", remembered in " + store + "\n");
    EXPECT_NE(r.out.find("<ns2:text>tls</ns2:text>"), std::string::npos) << r.out;

    r = runTls();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");

    std::ofstream(store) << key << " AA:BB\n";
    r = runTls();
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("remembered SHA-256 fingerprint AA:BB, presented " + fingerprint), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("remove the line of " + key + " from " + store), std::string::npos) << r.err;
}

}  // namespace
