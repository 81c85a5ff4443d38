// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// libFuzzer target for what a client's bytes reach in the agent: the frame splitter, then the
// dispatcher with its handlers (login, system, environments, performance) on a real state file.
//
// The input is the byte stream of one connection; its first byte chooses how the stream is cut
// into reads. Every frame must get exactly one reply frame, and every reply must be a well-formed
// document (only characters XML 1.0 allows) whose root is the envelope's packet; a frame over the
// limit ends the stream.

#include <unistd.h>

#include <pugixml.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "AgentConfig.h"
#include "AgentContext.h"
#include "AgentLog.h"
#include "Dispatcher.h"
#include "EnvironmentStore.h"
#include "OVLWire/FrameSplitter.h"
#include "PasswordHash.h"

namespace {

constexpr std::size_t kMaxPacket = 65536;

struct Agent {
    std::unique_ptr<ovagent::EnvironmentStore> store;
    std::unique_ptr<ovagent::AgentContext> context;
};

// One agent for the whole run, its state file on a memory file system where there is one (a
// change fsyncs it).
Agent& agent() {
    static Agent* instance = [] {
        ovagent::AgentLog::setLevel(0);
        const char* base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
        std::string dir = std::string(base) + "/fuzz-agent-" + std::to_string(::getpid());
        std::filesystem::create_directories(dir);
        std::string error;
        auto config = std::make_shared<ovagent::AgentConfig>();
        if (!ovagent::AgentConfig::parse(
                "<ovagent><limits maxPacketSize=\"65536\" maxDepth=\"16\" maxEnvironments=\"32\" "
                "failedLoginDelayMs=\"0\"/><realms><realm id=\"8b2e4c61-7d3f-4e9a-a1b2-3c4d5e6f7a80\" "
                "name=\"Lab\"/></realms><users><user login=\"fuzz\" password=\"" +
                    ovagent::PasswordHash::create("pw", ovagent::PasswordHash::kMinIterations) +
                    "\"><realm>System</realm><realm>Lab</realm></user></users></ovagent>",
                *config, error)) {
            std::fprintf(stderr, "fuzz configuration: %s\n", error.c_str());
            std::abort();
        }
        auto* made = new Agent;
        made->store = std::make_unique<ovagent::EnvironmentStore>(dir + "/state.xml");
        if (!made->store->open(config->environments, error)) {
            std::fprintf(stderr, "fuzz state: %s\n", error.c_str());
            std::abort();
        }
        made->context = std::make_unique<ovagent::AgentContext>(config, *made->store);
        std::atexit(
            [] { std::filesystem::remove_all(std::filesystem::path(agent().store->path()).parent_path()); });
        return made;
    }();
    return *instance;
}

std::size_t countFrames(const std::string& out, std::size_t from) {
    std::size_t n = 0;
    for (std::size_t i = from; i < out.size(); ++i) {
        n += out[i] == '\0' ? 1 : 0;
    }
    return n;
}

// True when `text` is UTF-8 holding only characters that XML 1.0 allows (pugixml does not check).
bool onlyXmlCharacters(const std::string& text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    for (std::size_t i = 0; i < size;) {
        unsigned c = p[i];
        std::size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        if (n == 0 || i + n > size) {
            return false;
        }
        if (n > 1) {
            c &= 0xFFu >> (n + 1);
        }
        for (std::size_t k = 1; k < n; ++k) {
            if ((p[i + k] & 0xC0u) != 0x80u) {
                return false;
            }
            c = (c << 6) | (p[i + k] & 0x3Fu);
        }
        static const unsigned kMin[] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < kMin[n]) {
            return false;
        }
        const bool allowed = c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
                             (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
        if (!allowed) {
            return false;
        }
        i += n;
    }
    return true;
}

void checkReplies(const std::string& out, std::size_t from) {
    while (from < out.size()) {
        const std::size_t end = out.find('\0', from);
        if (end == std::string::npos) {
            std::abort();  // a reply without its terminator
        }
        pugi::xml_document doc;
        const std::string reply = out.substr(from, end - from);
        if (!onlyXmlCharacters(reply) ||
            !doc.load_buffer(reply.data(), reply.size(), pugi::parse_default | pugi::parse_declaration) ||
            std::strcmp(doc.document_element().name(), "ns1:packet") != 0) {
            std::fprintf(stderr, "reply is not a packet document:\n%s\n", reply.c_str());
            std::abort();
        }
        from = end + 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    Agent& a = agent();
    ovagent::Dispatcher dispatcher(*a.context);
    ovagent::SessionState state;
    state.log.setPeer("fuzz");
    OVL::Wire::FrameSplitter splitter(kMaxPacket, 64);
    // Read sizes 1 to 256 from the first byte; 0 feeds everything in one read.
    const std::size_t step = data[0] == 0 ? size : data[0];
    std::string out;
    for (std::size_t offset = 1; offset < size;) {
        const std::size_t n = std::min(step, size - offset);
        auto area = splitter.prepare(n);
        std::memcpy(area.data(), data + offset, n);
        splitter.commit(n);
        offset += n;
        std::span<char> frame;
        for (;;) {
            const auto status = splitter.next(frame);
            if (status == OVL::Wire::FrameSplitter::Status::needMore) {
                break;
            }
            if (status == OVL::Wire::FrameSplitter::Status::tooLarge) {
                return 0;  // the session answers 413 and closes
            }
            const std::size_t before = out.size();
            ovagent::LoginAttempt attempt;
            switch (dispatcher.handle(frame, state, out, attempt)) {
                case ovagent::Dispatcher::Outcome::replied:
                    break;
                case ovagent::Dispatcher::Outcome::login:
                    dispatcher.finishLogin(attempt, dispatcher.verifyLogin(attempt), state, out);
                    break;
                case ovagent::Dispatcher::Outcome::sample:
                    dispatcher.finishSample(out);
                    break;
                case ovagent::Dispatcher::Outcome::store:
                    dispatcher.finishStore(out);
                    break;
            }
            if (countFrames(out, before) != 1) {
                std::fprintf(stderr, "one frame did not get exactly one reply\n");
                std::abort();
            }
            checkReplies(out, before);
            out.clear();
        }
    }
    return 0;
}
