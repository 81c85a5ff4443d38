// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// OVLGUIDBase text conversion next to libuuid's, in one run.
#include <benchmark/benchmark.h>
#include <uuid/uuid.h>

#include <string>
#include <vector>

#include "OVLCore/OVLGUIDBase.h"

namespace {

std::vector<std::string> makeTexts() {
    std::vector<std::string> texts(256);
    for (auto& t : texts) {
        OVL::OVLGUIDBase g;
        g.generate();
        t = g.toString();
    }
    return texts;
}

const std::vector<std::string>& texts() {
    static const std::vector<std::string> t = makeTexts();
    return t;
}

void BM_OVL_fromString(benchmark::State& state) {
    const auto& in = texts();
    size_t i = 0;
    OVL::OVLGUIDBase g;
    for (auto _ : state) {
        benchmark::DoNotOptimize(g.fromString(in[i++ & 255].c_str()));
        benchmark::DoNotOptimize(g);
    }
}
BENCHMARK(BM_OVL_fromString);

void BM_libuuid_parse(benchmark::State& state) {
    const auto& in = texts();
    size_t i = 0;
    uuid_t u;
    for (auto _ : state) {
        benchmark::DoNotOptimize(uuid_parse(in[i++ & 255].c_str(), u));
        benchmark::DoNotOptimize(u);
    }
}
BENCHMARK(BM_libuuid_parse);

void BM_OVL_toString(benchmark::State& state) {
    OVL::OVLGUIDBase g;
    g.generate();
    for (auto _ : state) {
        std::string s = g.toString();
        benchmark::DoNotOptimize(s);
    }
}
BENCHMARK(BM_OVL_toString);

void BM_libuuid_unparse_lower_string(benchmark::State& state) {
    uuid_t u;
    uuid_generate_random(u);
    for (auto _ : state) {
        char buf[37];
        uuid_unparse_lower(u, buf);
        std::string s(buf);
        benchmark::DoNotOptimize(s);
    }
}
BENCHMARK(BM_libuuid_unparse_lower_string);

}  // namespace
