// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <vector>

#include "OVLCommon/SysCall.h"
#include "OVLCore/OVLLogMessage.h"
#include "OVLCore/OVLLogSystem.h"
#include "test_utils.h"

using namespace OVL;
using boost::intrusive_ptr;

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The lines of a log file with their 25-byte time prefix checked and removed.
std::vector<std::string> recordTexts(const std::string& path) {
    static const std::regex kTime(R"(^[A-Z][a-z]{2} [A-Z][a-z]{2} [ 1-3][0-9] \d\d:\d\d:\d\d \d{4} $)");
    std::vector<std::string> texts;
    std::istringstream in(readFile(path));
    std::string line;
    while (std::getline(in, line)) {
        EXPECT_GE(line.size(), 25u);
        EXPECT_TRUE(std::regex_match(line.substr(0, 25), kTime)) << line;
        texts.push_back(line.substr(25));
    }
    return texts;
}

class Collecting : public OVLLogWriterEngine {
public:
    Collecting(std::vector<std::string>& out, std::string tag) : m_out(out), m_tag(std::move(tag)) {}
    void writeMessage(const std::string& text) override { m_out.push_back(m_tag + text); }

private:
    std::vector<std::string>& m_out;
    std::string m_tag;
};

OVLLogMessage message(const std::string& text = "T") {
    return OVLLogMessage("f.cpp", 9, "L", text, static_cast<OVLLogSystem::LogMsgType>(3));
}

int g_opens = 0, g_writes = 0, g_closes = 0;

}  // namespace

TEST(LogSystem, OneRecordPerMessageWithHeaderTimeAndLineFeed) {
    ferrik_test::TempDir dir;
    const std::string file = dir.file("a.log");
    intrusive_ptr<OVLLogSystem> sys(new OVLLogSystem(OVLLogSystem::LOG_ON, file));

    const std::time_t before = std::time(nullptr);
    *sys << (message() << 42) << post;
    const std::time_t after = std::time(nullptr);

    const std::string content = readFile(file);
    ASSERT_EQ(content.size(), 25u + std::string("type: 3, L (f.cpp:9) : T42\n").size());
    EXPECT_EQ(content.substr(25), "type: 3, L (f.cpp:9) : T42\n");
    EXPECT_EQ(content[24], ' ');
    // The time is the local ctime text of the write.
    bool matched = false;
    for (std::time_t t = before; t <= after; ++t) {
        char text[32];
        ctime_r(&t, text);
        matched = matched || content.compare(0, 24, text, 24) == 0;
    }
    EXPECT_TRUE(matched) << content.substr(0, 24);
}

TEST(LogSystem, EachRecordIsOneOpenOneWriteOneClose) {
    ferrik_test::TempDir dir;
    intrusive_ptr<OVLLogSystem> sys(new OVLLogSystem(OVLLogSystem::LOG_ON, dir.file("a.log")));
    sys::ScopedCalls guard;
    g_opens = g_writes = g_closes = 0;
    sys::calls().open = [](const char* p, int f, mode_t m) {
        return ++g_opens, sys::defaultCalls().open(p, f, m);
    };
    sys::calls().write = [](int fd, const void* b, size_t n) {
        return ++g_writes, sys::defaultCalls().write(fd, b, n);
    };
    sys::calls().close = [](int fd) { return ++g_closes, sys::defaultCalls().close(fd); };
    *sys << message("a") << message("b") << post;
    EXPECT_EQ(g_opens, 2);
    EXPECT_EQ(g_writes, 2);
    EXPECT_EQ(g_closes, 2);
}

TEST(LogSystem, EnginesWriteInOrderEachGettingAllMessagesFirst) {
    std::vector<std::string> out;
    intrusive_ptr<OVLLogSystem> sys(new OVLLogSystem(OVLLogSystem::LOG_ON, "/nonexistent-dir/x.log"));
    sys->addEngine(new Collecting(out, "1:"));
    sys->addEngine(new Collecting(out, "2:"));
    *sys << message("a") << message("b") << post;
    EXPECT_EQ(out, (std::vector<std::string>{"1:type: 3, L (f.cpp:9) : a", "1:type: 3, L (f.cpp:9) : b",
                                             "2:type: 3, L (f.cpp:9) : a", "2:type: 3, L (f.cpp:9) : b"}));
    sys->flush();  // the pending list was emptied
    EXPECT_EQ(out.size(), 4u);
}

TEST(LogSystem, LevelZeroDiscardsPendingMessages) {
    std::vector<std::string> out;
    intrusive_ptr<OVLLogSystem> sys(new OVLLogSystem(OVLLogSystem::LOG_OFF, "/nonexistent-dir/x.log"));
    sys->addEngine(new Collecting(out, ""));
    EXPECT_EQ(sys->getLogLevel(), OVLLogSystem::LOG_OFF);
    *sys << message("dropped") << post;
    sys->setLogLevel(OVLLogSystem::LOG_ON);
    sys->flush();
    EXPECT_TRUE(out.empty());
    *sys << message("kept") << post;
    EXPECT_EQ(out, std::vector<std::string>{"type: 3, L (f.cpp:9) : kept"});
}

TEST(LogSystem, MessageCopiesShareOneTextAndCanBeQueuedTwice) {
    std::vector<std::string> out;
    intrusive_ptr<OVLLogSystem> sys(new OVLLogSystem(OVLLogSystem::LOG_ON, "/nonexistent-dir/x.log"));
    sys->addEngine(new Collecting(out, ""));
    OVLLogMessage msg = message();
    // The copy is what the test is about.
    // NOLINTNEXTLINE(performance-unnecessary-copy-initialization)
    OVLLogMessage copy = msg;
    *sys << msg;
    copy << "+more";
    *sys << msg << post;
    EXPECT_EQ(out, (std::vector<std::string>{"type: 3, L (f.cpp:9) : T", "type: 3, L (f.cpp:9) : T+more"}));
}

TEST(LogSystem, InsertionsFormatLikeTheStream) {
    struct tm tm {};
    tm.tm_year = 126;
    tm.tm_mon = 11;
    tm.tm_mday = 6;
    tm.tm_wday = 0;
    tm.tm_hour = 18;
    tm.tm_min = 49;
    tm.tm_sec = 5;
    in_addr addr{};
    inet_pton(AF_INET, "10.1.2.3", &addr);
    const char* null = nullptr;
    OVLLogMessage msg = OVLLogMessage("a.cpp", 17, "L", "T", OVLLogSystem::MSG_ERROR)
                        << std::hex << 255 << std::dec << "|" << -1 << "|" << 7u << "|" << 1LL << "|" << 2ULL
                        << "|" << 1.5 << "|" << 2.5f << "|" << std::string("s") << "|" << &tm << "|" << addr
                        << "|" << null << "|" << static_cast<const struct tm*>(nullptr);
    EXPECT_EQ(
        msg.text(),
        "type: 2, L (a.cpp:17) : Tff|-1|7|1|2|1.5|2.5|s|Sun Dec  6 18:49:05 2026|10.1.2.3|(null)|(null)");
}

TEST(LogSystem, TimeInsertionIsTwentyFourCharactersAndTextAfterItIsWritten) {
    ferrik_test::TempDir dir;
    const std::string file = dir.file("a.log");
    intrusive_ptr<OVLLogSystem> sys(new OVLLogSystem(OVLLogSystem::LOG_ON, file));
    const std::time_t t = 0;
    struct tm tm;
    gmtime_r(&t, &tm);
    *sys << (message("") << &tm << " after") << post;
    EXPECT_EQ(recordTexts(file),
              std::vector<std::string>{"type: 3, L (f.cpp:9) : Thu Jan  1 00:00:00 1970 after"});
    // Fields out of range still give 24 characters.
    tm.tm_year = 20000;
    tm.tm_mon = 12;
    EXPECT_EQ((message("") << &tm).text().size(), std::string("type: 3, L (f.cpp:9) : ").size() + 24);
}

TEST(LogSystem, LongTextIsCutTo4071BytesAndZeroByteEndsIt) {
    ferrik_test::TempDir dir;
    const std::string file = dir.file("a.log");
    intrusive_ptr<OVLLogSystem> sys(new OVLLogSystem(OVLLogSystem::LOG_ON, file));
    const std::string header = message("").text();
    const std::string body(5000 - header.size(), 'x');
    *sys << message(body) << post;
    std::string content = readFile(file);
    ASSERT_EQ(content.size(), 4097u);
    EXPECT_EQ(content.substr(25, 4071), (header + body).substr(0, 4071));
    EXPECT_EQ(content.back(), '\n');

    std::filesystem::remove(file);
    *sys << (message(std::string("ab\0cd", 5)) << "tail") << post;
    EXPECT_EQ(recordTexts(file), std::vector<std::string>{"type: 3, L (f.cpp:9) : ab"});
}

TEST(LogSystem, TwoSystemsWithOneFileNameShareItsEngine) {
    ferrik_test::TempDir dir;
    const std::string file = dir.file("shared.log");
    intrusive_ptr<OVLLogSystem> a(new OVLLogSystem(OVLLogSystem::LOG_ON, file));
    intrusive_ptr<OVLLogSystem> b(new OVLLogSystem(OVLLogSystem::LOG_ON, file));
    *a << message("from a") << post;
    *b << message("from b") << post;
    EXPECT_EQ(recordTexts(file),
              (std::vector<std::string>{"type: 3, L (f.cpp:9) : from a", "type: 3, L (f.cpp:9) : from b"}));
    a.reset();
    *b << message("b again") << post;
    EXPECT_EQ(recordTexts(file).size(), 3u);
}

TEST(LogSystem, UnopenableFileGivesNoEngineAndNoCrash) {
    ferrik_test::TempDir dir;
    const std::string file = dir.file("missing/a.log");
    intrusive_ptr<OVLLogSystem> sys(new OVLLogSystem(OVLLogSystem::LOG_ON, file));
    *sys << message() << post;
    EXPECT_FALSE(std::filesystem::exists(file));
    // Once the directory exists, this log system still has no engine: nothing appears.
    std::filesystem::create_directory(dir.file("missing"));
    *sys << message() << post;
    EXPECT_FALSE(std::filesystem::exists(file));
}

TEST(LogSystem, FailedWriteDropsOnlyThatRecord) {
    ferrik_test::TempDir dir;
    const std::string file = dir.file("a.log");
    intrusive_ptr<OVLLogSystem> sys(new OVLLogSystem(OVLLogSystem::LOG_ON, file));
    {
        sys::ScopedCalls guard;
        sys::calls().write = [](int, const void*, size_t) -> ssize_t { return errno = ENOSPC, -1; };
        *sys << message("lost") << post;
        sys::calls().open = [](const char*, int, mode_t) { return errno = EMFILE, -1; };
        *sys << message("lost too") << post;
    }
    *sys << message("kept") << post;
    EXPECT_EQ(recordTexts(file), std::vector<std::string>{"type: 3, L (f.cpp:9) : kept"});
}

TEST(LogSystem, GetLogSystemKeepsTheFirstCallsArguments) {
    ferrik_test::TempDir dir;
    OVLLogSystem& first = getLogSystem(OVLLogSystem::LOG_OFF, dir.file("first.log"));
    OVLLogSystem& second = getLogSystem(OVLLogSystem::LOG_ON, dir.file("second.log"));
    EXPECT_EQ(&first, &second);
    EXPECT_EQ(second.getLogLevel(), OVLLogSystem::LOG_OFF);
    second.setLogLevel(OVLLogSystem::LOG_ON);
    second << message("x") << post;
    EXPECT_EQ(recordTexts(dir.file("first.log")).size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(dir.file("second.log")));
}
