// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// Salted PBKDF2-SHA256 password hashes as stored in the configuration file:
//   pbkdf2-sha256$<iterations>$<salt, hex>$<derived key, hex>
// CPU-heavy by design: the agent runs verify() off its network threads.

#include <string>
#include <string_view>

namespace ovagent {

class PasswordHash {
public:
    static constexpr int kDefaultIterations = 600000;
    static constexpr int kMinIterations = 1000;

    // A new hash of `password` with a random 16-byte salt. Empty on failure (no random bytes).
    static std::string create(std::string_view password, int iterations = kDefaultIterations);
    // True when `password` matches `stored`. A malformed stored hash never matches. The comparison
    // takes the same time wherever the keys differ.
    static bool verify(std::string_view password, std::string_view stored);
    // True when `stored` has the form above with at least kMinIterations.
    static bool isWellFormed(std::string_view stored);
    // The iteration count of a well-formed stored hash; 0 for a malformed one.
    static int iterationsOf(std::string_view stored);
};

}  // namespace ovagent
