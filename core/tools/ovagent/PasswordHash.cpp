// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "PasswordHash.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <charconv>
#include <vector>

namespace ovagent {

namespace {

constexpr std::string_view kScheme = "pbkdf2-sha256";
constexpr std::size_t kSaltBytes = 16;
constexpr std::size_t kKeyBytes = 32;
constexpr int kMaxIterations = 100000000;

std::string toHex(const unsigned char* data, std::size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        out.push_back(digits[data[i] >> 4]);
        out.push_back(digits[data[i] & 15]);
    }
    return out;
}

bool fromHex(std::string_view text, std::vector<unsigned char>& out) {
    if (text.size() % 2 != 0) {
        return false;
    }
    out.clear();
    for (std::size_t i = 0; i < text.size(); i += 2) {
        unsigned value = 0;
        auto [end, ec] = std::from_chars(text.data() + i, text.data() + i + 2, value, 16);
        if (ec != std::errc() || end != text.data() + i + 2) {
            return false;
        }
        out.push_back(static_cast<unsigned char>(value));
    }
    return true;
}

struct Parsed {
    int iterations = 0;
    std::vector<unsigned char> salt;
    std::vector<unsigned char> key;
};

bool parse(std::string_view stored, Parsed& parsed) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= stored.size(); ++i) {
        if (i == stored.size() || stored[i] == '$') {
            parts.push_back(stored.substr(start, i - start));
            start = i + 1;
        }
    }
    if (parts.size() != 4 || parts[0] != kScheme) {
        return false;
    }
    auto [end, ec] = std::from_chars(parts[1].data(), parts[1].data() + parts[1].size(), parsed.iterations);
    if (ec != std::errc() || end != parts[1].data() + parts[1].size()) {
        return false;
    }
    if (parsed.iterations < PasswordHash::kMinIterations || parsed.iterations > kMaxIterations) {
        return false;
    }
    return fromHex(parts[2], parsed.salt) && parsed.salt.size() >= 8 && fromHex(parts[3], parsed.key) &&
           parsed.key.size() == kKeyBytes;
}

bool derive(std::string_view password, const std::vector<unsigned char>& salt, int iterations,
            unsigned char* key) {
    return PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt.data(),
                             static_cast<int>(salt.size()), iterations, EVP_sha256(), kKeyBytes, key) == 1;
}

}  // namespace

std::string PasswordHash::create(std::string_view password, int iterations) {
    if (iterations < kMinIterations || iterations > kMaxIterations) {
        return {};
    }
    std::vector<unsigned char> salt(kSaltBytes);
    if (RAND_bytes(salt.data(), static_cast<int>(salt.size())) != 1) {
        return {};
    }
    unsigned char key[kKeyBytes];
    if (!derive(password, salt, iterations, key)) {
        return {};
    }
    std::string out(kScheme);
    out += '$' + std::to_string(iterations) + '$' + toHex(salt.data(), salt.size()) + '$' +
           toHex(key, kKeyBytes);
    OPENSSL_cleanse(key, sizeof key);
    return out;
}

bool PasswordHash::verify(std::string_view password, std::string_view stored) {
    Parsed parsed;
    if (!parse(stored, parsed)) {
        return false;
    }
    unsigned char key[kKeyBytes];
    if (!derive(password, parsed.salt, parsed.iterations, key)) {
        return false;
    }
    const bool same = CRYPTO_memcmp(key, parsed.key.data(), kKeyBytes) == 0;
    OPENSSL_cleanse(key, sizeof key);
    return same;
}

bool PasswordHash::isWellFormed(std::string_view stored) {
    Parsed parsed;
    return parse(stored, parsed);
}

int PasswordHash::iterationsOf(std::string_view stored) {
    Parsed parsed;
    return parse(stored, parsed) ? parsed.iterations : 0;
}

}  // namespace ovagent
