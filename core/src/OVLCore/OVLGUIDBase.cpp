// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "OVLCore/OVLGUIDBase.h"

#include <pthread.h>
#include <sys/random.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "OVLCommon/SysCall.h"

static_assert(std::endian::native == std::endian::little,
              "OVLGUIDBase reads its halves as little-endian words");

namespace OVL {

const int OVLGUIDBase::m_uuidstrlen = 37;

namespace {

constexpr char kHex[] = "0123456789abcdef";

// Hex digit value, or 0xff for anything else.
constexpr auto kHexValue = [] {
    struct Table {
        uint8_t v[256];
    } t{};
    for (auto& x : t.v) {
        x = 0xff;
    }
    for (int i = 0; i < 10; ++i) {
        t.v['0' + i] = static_cast<uint8_t>(i);
    }
    for (int i = 0; i < 6; ++i) {
        t.v['a' + i] = static_cast<uint8_t>(10 + i);
        t.v['A' + i] = static_cast<uint8_t>(10 + i);
    }
    return t;
}();

// Text position of each of the 16 bytes, in text order (byte index per text pair).
// Text shows Data1..Data3 most significant first, i.e. storage bytes 3,2,1,0,5,4,7,6,8..15.
constexpr int kTextByte[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
constexpr int kTextPos[16] = {0, 2, 4, 6, 9, 11, 14, 16, 19, 21, 24, 26, 28, 30, 32, 34};

// Parses exactly 36 characters at s; false on any deviation from the form.
bool parse36(const char* s, uint8_t out[16]) {
    if (s[8] != '-' || s[13] != '-' || s[18] != '-' || s[23] != '-') {
        return false;
    }
    uint8_t bad = 0;
    for (int i = 0; i < 16; ++i) {
        uint8_t hi = kHexValue.v[static_cast<unsigned char>(s[kTextPos[i]])];
        uint8_t lo = kHexValue.v[static_cast<unsigned char>(s[kTextPos[i] + 1])];
        bad |= (hi | lo) & 0xf0;
        out[kTextByte[i]] = static_cast<uint8_t>((hi << 4) | lo);
    }
    return bad == 0;
}

std::atomic<int> g_idCounter{0};

}  // namespace

OVLGUIDBase::OVLGUIDBase(long long first, long long second) {
    memcpy(reinterpret_cast<char*>(this), &first, 8);
    memcpy(reinterpret_cast<char*>(this) + 8, &second, 8);
}

OVLGUIDBase::OVLGUIDBase(const void* raw) {
    fromBinary(raw);
}

int OVLGUIDBase::fromBinary(const void* raw) {
    if (raw == nullptr) {
        *this = OVLGUIDBase();
    } else {
        memcpy(static_cast<void*>(this), raw, 16);
    }
    return 0;
}

bool OVLGUIDBase::isValid() const {
    unsigned long long a, b;
    getData(a, b);
    return (a | b) != 0;
}

std::string OVLGUIDBase::toString() const {
    const auto* bytes = reinterpret_cast<const uint8_t*>(this);
    std::string out(36, '-');
    char* p = out.data();
    for (int i = 0; i < 16; ++i) {
        uint8_t b = bytes[kTextByte[i]];
        p[kTextPos[i]] = kHex[b >> 4];
        p[kTextPos[i] + 1] = kHex[b & 0xf];
    }
    return out;
}

int OVLGUIDBase::fromString(const char* text) {
    *this = OVLGUIDBase();
    if (text == nullptr) {
        return -1;
    }
    const char* s = text;
    // Braced form: "{" + 36 characters + "}" at index 37; anything after it is ignored.
    // strnlen keeps the length check from reading past a short text's terminator.
    const size_t len = strnlen(text, 38);
    if (text[0] == '{' && len >= 38 && text[37] == '}') {
        s = text + 1;
    } else if (len != 36 || text[36] != '\0') {
        return -1;
    }
    uint8_t bytes[16];
    if (!parse36(s, bytes)) {
        return -1;
    }
    memcpy(static_cast<void*>(this), bytes, 16);
    return 0;
}

int OVLGUIDBase::generate() {
    uint8_t bytes[16];
    size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = retryOnEintr([&] { return getrandom(bytes + got, sizeof bytes - got, 0); });
        if (n < 0) {
            return -1;
        }
        got += static_cast<size_t>(n);
    }
    // Version 4 in the high nibble of the third field (storage byte 7), RFC 4122 variant in byte 8.
    bytes[7] = static_cast<uint8_t>((bytes[7] & 0x0f) | 0x40);
    bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3f) | 0x80);
    memcpy(static_cast<void*>(this), bytes, 16);
    return 0;
}

void OVLGUIDBase::getData(unsigned long long& first, unsigned long long& second) const {
    memcpy(&first, reinterpret_cast<const char*>(this), 8);
    memcpy(&second, reinterpret_cast<const char*>(this) + 8, 8);
}

bool OVLGUIDBase::operator==(const OVLGUIDBase& other) const {
    return memcmp(this, &other, 16) == 0;
}

bool OVLGUIDBase::operator<(const OVLGUIDBase& other) const {
    unsigned long long a1, a2, b1, b2;
    getData(a1, a2);
    other.getData(b1, b2);
    if (a1 != b1) {
        return a1 < b1;
    }
    return a2 < b2;
}

}  // namespace OVL

namespace {

std::atomic<unsigned> g_forkGeneration{0};

// The calling thread's id, asked of the kernel once per thread (and again in a forked child):
// a system call per id is a noticeable part of a request on a virtual machine.
unsigned int currentThreadId() {
    static const int watch = pthread_atfork(nullptr, nullptr, [] { g_forkGeneration.fetch_add(1); });
    (void)watch;
    thread_local unsigned int tid = 0;
    thread_local unsigned int generation = ~0u;
    const unsigned int now = g_forkGeneration.load(std::memory_order_relaxed);
    if (generation != now) {
        tid = static_cast<unsigned int>(syscall(SYS_gettid));
        generation = now;
    }
    return tid;
}

}  // namespace

extern "C" void generateID(std::string& out) {
    const int counter = OVL::g_idCounter.fetch_add(1, std::memory_order_relaxed);
    const unsigned int thread = currentThreadId();
    const int random = rand();
    const long now = static_cast<long>(time(nullptr));
    char buf[64];
    snprintf(buf, sizeof buf, "%xc%lxt%xr%x", static_cast<unsigned int>(counter),
             static_cast<unsigned long>(now), static_cast<unsigned int>(random), thread);
    out = buf;
}
