// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "OVLWire/FrameSplitter.h"

using OVL::Wire::FrameSplitter;

namespace {

void feed(FrameSplitter& splitter, std::string_view bytes) {
    auto area = splitter.prepare(bytes.size());
    std::memcpy(area.data(), bytes.data(), bytes.size());
    splitter.commit(bytes.size());
}

std::vector<std::string> drain(FrameSplitter& splitter) {
    std::vector<std::string> frames;
    std::span<char> frame;
    while (splitter.next(frame) == FrameSplitter::Status::frame) {
        frames.emplace_back(frame.data(), frame.size());
    }
    return frames;
}

}  // namespace

TEST(FrameSplitter, SeveralFramesInOneReadComeOutInOrder) {
    FrameSplitter splitter(1024);
    feed(splitter, std::string_view("<a/>\0<b/>\0\0<c", 13));
    EXPECT_EQ(drain(splitter), (std::vector<std::string>{"<a/>", "<b/>", ""}));
    EXPECT_EQ(splitter.buffered(), 2u);
    feed(splitter, std::string_view("/>\0", 3));
    EXPECT_EQ(drain(splitter), (std::vector<std::string>{"<c/>"}));
    EXPECT_EQ(splitter.buffered(), 0u);
}

TEST(FrameSplitter, FrameSplitByteByByteIsReassembled) {
    FrameSplitter splitter(1024, 64);
    const std::string packet =
        "<packet><target>system</target><data>" + std::string(200, 'x') + "</data></packet>";
    std::vector<std::string> frames;
    for (int round = 0; round < 3; ++round) {
        for (char c : packet) {
            feed(splitter, std::string_view(&c, 1));
        }
        feed(splitter, std::string_view("\0", 1));
        for (auto& f : drain(splitter)) {
            frames.push_back(f);
        }
    }
    ASSERT_EQ(frames.size(), 3u);
    for (auto& f : frames) {
        EXPECT_EQ(f, packet);
    }
}

TEST(FrameSplitter, OversizedFrameIsReportedBeforeItsEndArrives) {
    FrameSplitter splitter(10);
    feed(splitter, "0123456789");
    std::span<char> frame;
    EXPECT_EQ(splitter.next(frame), FrameSplitter::Status::needMore);
    feed(splitter, "A");
    EXPECT_EQ(splitter.next(frame), FrameSplitter::Status::tooLarge);
}

TEST(FrameSplitter, FrameOfExactlyTheLimitPassesAndOneMoreFails) {
    FrameSplitter ok(4);
    feed(ok, std::string_view("abcd\0", 5));
    std::span<char> frame;
    ASSERT_EQ(ok.next(frame), FrameSplitter::Status::frame);
    EXPECT_EQ(std::string(frame.data(), frame.size()), "abcd");

    FrameSplitter tooLong(4);
    feed(tooLong, std::string_view("abcde\0", 6));
    EXPECT_EQ(tooLong.next(frame), FrameSplitter::Status::tooLarge);
}

TEST(FrameSplitter, CompactionKeepsThePartialFrameAndShrinkFreesIdleMemory) {
    FrameSplitter splitter(1 << 20, 64);
    feed(splitter, std::string(40, 'a') + '\0' + std::string(20, 'b'));
    EXPECT_EQ(drain(splitter).size(), 1u);
    // Needs room beyond the capacity: the 20 partial bytes move to the front, nothing is lost.
    feed(splitter, std::string(60, 'c') + '\0');
    auto frames = drain(splitter);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], std::string(20, 'b') + std::string(60, 'c'));

    feed(splitter, std::string(5000, 'd') + '\0');
    EXPECT_GE(splitter.capacity(), 5000u);
    EXPECT_EQ(drain(splitter).size(), 1u);
    splitter.shrink();
    EXPECT_EQ(splitter.capacity(), 0u);
    feed(splitter, std::string_view("<z/>\0", 5));
    EXPECT_EQ(drain(splitter), (std::vector<std::string>{"<z/>"}));
}

TEST(FrameSplitter, ShrinkKeepsAPartialFrame) {
    FrameSplitter splitter(1 << 20, 64);
    feed(splitter, std::string(1000, 'x') + '\0' + "<part");
    EXPECT_EQ(drain(splitter).size(), 1u);
    splitter.shrink();
    EXPECT_EQ(splitter.capacity(), 64u);
    feed(splitter, std::string_view("/>\0", 3));
    EXPECT_EQ(drain(splitter), (std::vector<std::string>{"<part/>"}));
}
