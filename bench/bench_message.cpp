// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// OVLMessage against bare pugixml on the same generated ~10 MB document: parse, walk, print,
// save to a file; element lookup by identifier against lookup by name; memory held by a parsed
// tree per byte of input.
//
// Run: build/release/bin/bench_message  (see docs/benchmarks/message.md)

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <pugixml.hpp>
#include <string>

#include "OVLMessage/OVLElement.h"
#include "OVLMessage/OVLMessage.h"

namespace {

// ~10 MB of agent-like XML: environments with identifiers, names, attributes and configuration
// fields, some of them non-ASCII and with escaped characters.
const std::string& document() {
    static const std::string text = [] {
        std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<environments>\n";
        char buf[512];
        for (int i = 0; s.size() < std::size_t{10} * 1024 * 1024; ++i) {
            std::snprintf(buf, sizeof buf,
                          "  <environment kind=\"vm\" index=\"%d\">\n"
                          "    <eid>%08x-2222-4333-8444-%012x</eid>\n"
                          "    <name>web-%d \xC3\xA9t\xC3\xA9 &amp; co</name>\n"
                          "    <config>\n"
                          "      <hostname>host%d.example</hostname>\n"
                          "      <role>db</role>\n"
                          "      <note>line one\nline &lt;two&gt;</note>\n"
                          "    </config>\n"
                          "    <data><target>sysinfo</target></data>\n"
                          "  </environment>\n",
                          i, i, i, i, i);
            s += buf;
        }
        s += "</environments>\n";
        return s;
    }();
    return text;
}

std::string tempPath(const char* name) {
    return (std::filesystem::temp_directory_path() / name).string();
}

struct StringWriter : pugi::xml_writer {
    std::string out;
    void write(const void* data, size_t size) override { out.append(static_cast<const char*>(data), size); }
};

// --- parse ------------------------------------------------------------------------------

void BM_Parse_Pugixml(benchmark::State& state) {
    const std::string& text = document();
    for (auto _ : state) {
        pugi::xml_document doc;
        benchmark::DoNotOptimize(
            doc.load_buffer(text.data(), text.size(), pugi::parse_default, pugi::encoding_utf8));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_Parse_Pugixml)->Unit(benchmark::kMillisecond);

void BM_Parse_OVLMessage(benchmark::State& state) {
    const std::string& text = document();
    for (auto _ : state) {
        OVL::OVLMessagePtr msg = OVL::OVLMessage::getFactory()->createNew();
        if (msg->parse(text.data(), text.size(), 0) != 0) {
            state.SkipWithError(msg->getError().c_str());
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_Parse_OVLMessage)->Unit(benchmark::kMillisecond);

// --- walk: visit every element and read its text ------------------------------------------

void BM_Walk_Pugixml(benchmark::State& state) {
    pugi::xml_document doc;
    doc.load_buffer(document().data(), document().size());
    for (auto _ : state) {
        size_t chars = 0;
        pugi::xml_node root = doc.document_element();
        pugi::xml_node n = root;
        for (;;) {
            chars += std::strlen(n.child_value());
            pugi::xml_node c = n.first_child();
            while (c && c.type() != pugi::node_element) {
                c = c.next_sibling();
            }
            if (c) {
                n = c;
                continue;
            }
            for (;;) {
                if (n == root) {
                    goto done;
                }
                pugi::xml_node s = n.next_sibling();
                while (s && s.type() != pugi::node_element) {
                    s = s.next_sibling();
                }
                if (s) {
                    n = s;
                    break;
                }
                n = n.parent();
            }
        }
    done:
        benchmark::DoNotOptimize(chars);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * document().size()));
}
BENCHMARK(BM_Walk_Pugixml)->Unit(benchmark::kMillisecond);

void BM_Walk_OVLMessage(benchmark::State& state) {
    OVL::OVLMessagePtr msg = OVL::OVLMessage::getFactory()->createNew();
    msg->parse(document().data(), document().size(), 0);
    std::string text;
    for (auto _ : state) {
        size_t chars = 0;
        OVL::OVLMessageIterator it = msg->getIterator();
        for (;;) {
            it.getText(text);
            chars += text.size();
            if (it.moveToFirstChild() == 0) {
                continue;
            }
            bool more = true;
            while (it.moveToNextSibling() != 0) {
                if (it.moveToParent() != 0) {
                    more = false;
                    break;
                }
            }
            if (!more) {
                break;
            }
        }
        benchmark::DoNotOptimize(chars);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * document().size()));
}
BENCHMARK(BM_Walk_OVLMessage)->Unit(benchmark::kMillisecond);

// --- lookup of the same child by identifier and by name ----------------------------------

void BM_Lookup_ById(benchmark::State& state) {
    OVL::OVLMessagePtr msg = OVL::OVLMessage::getFactory()->createNew();
    msg->parse(
        "<packet><id>1</id><origin>o</origin><version>1</version><target>t</target><data><x/></data></"
        "packet>");
    const OVL::OVLMessageIterator root = msg->getIterator();
    for (auto _ : state) {
        OVL::OVLMessageIterator it = root;
        benchmark::DoNotOptimize(it.moveTo(OVL::OVLElement::Data));
    }
}
BENCHMARK(BM_Lookup_ById);

void BM_Lookup_ByName(benchmark::State& state) {
    OVL::OVLMessagePtr msg = OVL::OVLMessage::getFactory()->createNew();
    msg->parse(
        "<packet><id>1</id><origin>o</origin><version>1</version><target>t</target><data><x/></data></"
        "packet>");
    const OVL::OVLMessageIterator root = msg->getIterator();
    for (auto _ : state) {
        OVL::OVLMessageIterator it = root;
        benchmark::DoNotOptimize(it.moveTo("data"));
    }
}
BENCHMARK(BM_Lookup_ByName);

// --- print to memory ------------------------------------------------------------------------

void BM_Print_Pugixml(benchmark::State& state) {
    pugi::xml_document doc;
    doc.load_buffer(document().data(), document().size());
    size_t bytes = 0;
    for (auto _ : state) {
        StringWriter w;
        doc.save(w, "  ", pugi::format_indent | pugi::format_no_declaration, pugi::encoding_utf8);
        bytes += w.out.size();
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_Print_Pugixml)->Unit(benchmark::kMillisecond);

void BM_Print_OVLMessage(benchmark::State& state) {
    OVL::OVLMessagePtr msg = OVL::OVLMessage::getFactory()->createNew();
    msg->parse(document().data(), document().size(), 0);
    size_t bytes = 0;
    for (auto _ : state) {
        bytes += msg->toString(OVL::OVLMessage::kIndent).size();
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_Print_OVLMessage)->Unit(benchmark::kMillisecond);

// --- save to a file ---------------------------------------------------------------------------

void BM_Save_Pugixml(benchmark::State& state) {
    pugi::xml_document doc;
    doc.load_buffer(document().data(), document().size());
    const std::string path = tempPath("bench_message_pugi.xml");
    for (auto _ : state) {
        if (!doc.save_file(path.c_str(), "  ")) {
            state.SkipWithError("save_file failed");
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * std::filesystem::file_size(path)));
    std::filesystem::remove(path);
}
BENCHMARK(BM_Save_Pugixml)->Unit(benchmark::kMillisecond);

// pugixml's save followed by the flush to disk that a crash-safe save needs.
void BM_Save_PugixmlFsync(benchmark::State& state) {
    pugi::xml_document doc;
    doc.load_buffer(document().data(), document().size());
    const std::string path = tempPath("bench_message_pugi_fsync.xml");
    for (auto _ : state) {
        if (!doc.save_file(path.c_str(), "  ")) {
            state.SkipWithError("save_file failed");
        }
        const int fd = ::open(path.c_str(), O_RDONLY);
        ::fsync(fd);
        ::close(fd);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * std::filesystem::file_size(path)));
    std::filesystem::remove(path);
}
BENCHMARK(BM_Save_PugixmlFsync)->Unit(benchmark::kMillisecond);

void BM_Save_OVLMessage(benchmark::State& state) {
    OVL::OVLMessagePtr msg = OVL::OVLMessage::getFactory()->createNew();
    msg->parse(document().data(), document().size(), 0);
    const std::string path = tempPath("bench_message_ovl.xml");
    for (auto _ : state) {
        if (msg->save(path.c_str()) != 0) {
            state.SkipWithError(msg->getError().c_str());
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * std::filesystem::file_size(path)));
    std::filesystem::remove(path);
}
BENCHMARK(BM_Save_OVLMessage)->Unit(benchmark::kMillisecond);

// --- memory held by a parsed message, per byte of input ----------------------------------------

std::atomic<long long> g_live{0};
std::atomic<long long> g_peak{0};

void* countingAllocate(size_t size) {
    auto* p = static_cast<size_t*>(std::malloc(size + 16));
    if (p == nullptr) {
        return nullptr;
    }
    *p = size;
    const long long live = g_live.fetch_add(static_cast<long long>(size)) + static_cast<long long>(size);
    long long peak = g_peak.load();
    while (live > peak && !g_peak.compare_exchange_weak(peak, live)) {
    }
    return reinterpret_cast<char*>(p) + 16;
}

void countingDeallocate(void* ptr) {
    if (ptr == nullptr) {
        return;
    }
    auto* p = reinterpret_cast<size_t*>(static_cast<char*>(ptr) - 16);
    g_live.fetch_sub(static_cast<long long>(*p));
    std::free(p);
}

// Peak bytes that pugixml allocates for one parse, divided by the input size: the realistic
// document (arg 0) and the worst case, nothing but empty elements (arg 1).
void BM_ParseMemory_OVLMessage(benchmark::State& state) {
    std::string worst;
    if (state.range(0) == 1) {
        worst = "<r>";
        while (worst.size() < std::size_t{10} * 1024 * 1024) {
            worst += "<a/>";
        }
        worst += "</r>";
    }
    const std::string& text = state.range(0) == 1 ? worst : document();
    pugi::set_memory_management_functions(&countingAllocate, &countingDeallocate);
    double ratio = 0;
    for (auto _ : state) {
        g_live = 0;
        g_peak = 0;
        OVL::OVLMessagePtr msg = OVL::OVLMessage::getFactory()->createNew();
        if (msg->parse(text.data(), text.size(), 0) != 0) {
            state.SkipWithError(msg->getError().c_str());
        }
        ratio = static_cast<double>(g_peak.load()) / static_cast<double>(text.size());
    }
    pugi::set_memory_management_functions(&std::malloc, &std::free);
    state.counters["peak_bytes_per_input_byte"] = ratio;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ParseMemory_OVLMessage)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
