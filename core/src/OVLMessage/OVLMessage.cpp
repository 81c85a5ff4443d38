// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "OVLMessage/OVLMessage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <strings.h>
#include <cerrno>
#include <cstring>
#include <pugixml.hpp>
#include <vector>

#include <boost/make_shared.hpp>

#include "OVLCommon/AtomicFile.h"
#include "OVLCommon/Errors.h"
#include "OVLCommon/SysCall.h"
#include "Utf8.h"

namespace OVL {
namespace {

// Comments and processing instructions are not kept; declarations and document types are
// parsed only to be checked. No line-end conversion, so that text reads back byte for byte.
// Fragment mode keeps text at the top level, which pugixml would otherwise drop silently, so
// that trailing garbage after the root is reported; the single root is checked here instead.
constexpr unsigned kParseFlags = pugi::parse_cdata | pugi::parse_escapes | pugi::parse_wconv_attribute |
                                 pugi::parse_ws_pcdata_single | pugi::parse_declaration |
                                 pugi::parse_doctype | pugi::parse_fragment;

bool isBlank(const char* s) {
    for (; *s != '\0'; ++s) {
        if (*s != ' ' && *s != '\t' && *s != '\n' && *s != '\r') {
            return false;
        }
    }
    return true;
}

struct Position {
    int line;
    int column;
};

// Line and column of a byte offset; pugixml may report an offset at or past the end of the text
// (for example when the text ends inside a tag), which counts as the end.
Position positionOf(const char* text, std::size_t length, std::size_t offset) {
    if (offset > length) {
        offset = length;
    }
    int line = 1;
    std::size_t lineStart = 0;
    const char* p = text;
    const char* end = text + offset;
    while (p < end) {
        const void* nl = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
        if (nl == nullptr) {
            break;
        }
        ++line;
        p = static_cast<const char*>(nl) + 1;
        lineStart = static_cast<std::size_t>(p - text);
    }
    return {line, static_cast<int>(offset - lineStart) + 1};
}

bool isUtf8EncodingName(const char* name) {
    return strcasecmp(name, "UTF-8") == 0 || strcasecmp(name, "UTF8") == 0 ||
           strcasecmp(name, "US-ASCII") == 0 || strcasecmp(name, "ASCII") == 0;
}

// Finds the first element nested deeper than a limit (the root is depth 1). pugixml's own
// traversal is iterative and several times faster than walking through the public node calls.
class DepthCheck final : public pugi::xml_tree_walker {
public:
    explicit DepthCheck(unsigned limit) : m_limit(limit) {}

    bool for_each(pugi::xml_node& node) override {
        // depth() is 0 for the root's children.
        if (static_cast<unsigned>(depth()) + 2 > m_limit && node.type() == pugi::node_element) {
            m_tooDeep = node;
            return false;
        }
        return true;
    }

    pugi::xml_node tooDeep() const { return m_tooDeep; }

private:
    unsigned m_limit;
    pugi::xml_node m_tooDeep;
};

pugi::xml_node findTooDeep(pugi::xml_node root, unsigned limit) {
    if (limit == 0) {
        return {};
    }
    if (limit == 1) {
        for (pugi::xml_node c = root.first_child(); c; c = c.next_sibling()) {
            if (c.type() == pugi::node_element) {
                return c;
            }
        }
        return {};
    }
    DepthCheck check(limit);
    root.traverse(check);
    return check.tooDeep();
}

class StringSink final : public pugi::xml_writer {
public:
    explicit StringSink(std::string& out) : m_out(out) {}
    void write(const void* data, std::size_t size) override {
        m_out.append(static_cast<const char*>(data), size);
    }

private:
    std::string& m_out;
};

class ChunkSinkWriter final : public pugi::xml_writer {
public:
    explicit ChunkSinkWriter(ChunkSink& sink) : m_sink(sink) {}
    void write(const void* data, std::size_t size) override { m_sink.put(data, size); }

private:
    ChunkSink& m_sink;
};

unsigned formatFlags(int flags) {
    const bool lines = (flags & (OVLMessage::kIndent | OVLMessage::kLines)) != 0;
    return (lines ? pugi::format_indent : pugi::format_raw) | pugi::format_no_declaration;
}

// Whitespace-only text beside other content (a child element or more text) reads back as
// layout and is dropped by the parser, so it cannot be written as plain text. The tree holds
// such text when it was given as character references (<a>&#10;<b/></a>) or set through the
// iterator on an element with children.
bool isLostAsPlainText(const pugi::xml_node& node) {
    return node.type() == pugi::node_pcdata && *node.value() != '\0' && isBlank(node.value()) &&
           (node.previous_sibling() || node.next_sibling());
}

class LostTextFinder final : public pugi::xml_tree_walker {
public:
    bool for_each(pugi::xml_node& node) override {
        if (isLostAsPlainText(node)) {
            m_found.push_back(node);
        }
        return true;
    }

    std::vector<pugi::xml_node>& found() { return m_found; }

private:
    std::vector<pugi::xml_node> m_found;
};

void save(const pugi::xml_document& doc, pugi::xml_writer& writer, int flags) {
    doc.save(writer, (flags & OVLMessage::kIndent) ? "  " : "", formatFlags(flags), pugi::encoding_utf8);
}

void print(const pugi::xml_document& doc, pugi::xml_writer& writer, int flags) {
    // pugixml's own declaration names no encoding; ours does.
    if (flags & OVLMessage::kDeclaration) {
        static constexpr char kDecl[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
        writer.write(kDecl, sizeof kDecl - 1);
    }
    // Text that the parser would drop is written from a copy of the tree as a CDATA section,
    // which the parser keeps and the iterator reads as text; whitespace holds no "]]>". Trees
    // without such text (every ordinary message) are written as they are.
    LostTextFinder finder;
    pugi::xml_node root = doc.document_element();
    root.traverse(finder);
    if (finder.found().empty()) {
        save(doc, writer, flags);
        return;
    }
    pugi::xml_document copy;
    copy.reset(doc);
    LostTextFinder inCopy;
    copy.document_element().traverse(inCopy);
    for (pugi::xml_node& text : inCopy.found()) {
        pugi::xml_node parent = text.parent();
        parent.insert_child_before(pugi::node_cdata, text).set_value(text.value());
        parent.remove_child(text);
    }
    save(copy, writer, flags);
}

}  // namespace

OVLMsgFactoryPtr OVLMessage::getFactory() {
    static const OVLMsgFactoryPtr factory(new OVLMsgFactory);
    return factory;
}

boost::intrusive_ptr<OVLMessage> OVLMsgFactory::createNew() const {
    return OVLMessagePtr(new OVLMessage);
}

OVLMessage::OVLMessage() : m_tree(std::make_shared<pugi::xml_document>()) {}

OVLMessage::~OVLMessage() = default;

int OVLMessage::fail(std::string reason, int line, int column) const {
    if (line > 0) {
        m_error = "line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + reason;
    } else {
        m_error = std::move(reason);
    }
    m_errorLine = line;
    m_errorColumn = column;
    setErrorMessage("%s", m_error.c_str());
    return -1;
}

int OVLMessage::setRootName(const char* name) {
    if (!detail::isValidXmlName(name)) {
        return fail(std::string("invalid element name: ") + (name ? name : "(null)"));
    }
    pugi::xml_node root = m_tree->document_element();
    if (!root) {
        root = m_tree->append_child(pugi::node_element);
    }
    return root && root.set_name(name) ? 0 : fail("out of memory");
}

const char* OVLMessage::getRootName() const noexcept {
    return m_tree->document_element().name();
}

bool OVLMessage::isEmpty() const noexcept {
    return !m_tree->document_element();
}

OVLMessageIterator OVLMessage::getIterator() const {
    pugi::xml_node root = m_tree->document_element();
    if (!root) {
        return {};
    }
    return OVLMessageIterator(m_tree, root.internal_object());
}

int OVLMessage::parse(const char* text, std::size_t length, int flags) {
    if (text == nullptr) {
        return fail("no text to parse");
    }
    if (flags != 0) {
        return fail("unknown parse flags " + std::to_string(flags));
    }
    if (length == 0) {
        length = std::strlen(text);
    }

    const std::size_t valid = detail::validUtf8Prefix(std::string_view(text, length));
    if (valid != length) {
        const Position pos = positionOf(text, length, valid);
        return fail(text[valid] == '\0' ? "zero byte in the text" : "text is not valid UTF-8", pos.line,
                    pos.column);
    }
    const std::size_t badRef = detail::findBadCharReference(std::string_view(text, length));
    if (badRef != std::string_view::npos) {
        const Position pos = positionOf(text, length, badRef);
        return fail("character reference to a code point that is not allowed", pos.line, pos.column);
    }
    // A UTF-8 byte order mark is allowed; positions still count it.
    std::size_t skip = 0;
    if (length >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0) {
        skip = 3;
    }

    auto tree = std::make_shared<pugi::xml_document>();
    const pugi::xml_parse_result result =
        tree->load_buffer(text + skip, length - skip, kParseFlags, pugi::encoding_utf8);
    if (!result) {
        const Position pos = positionOf(text, length, skip + static_cast<std::size_t>(result.offset));
        return fail(result.description(), pos.line, pos.column);
    }

    auto failAt = [&](const char* reason, pugi::xml_node node) {
        const std::ptrdiff_t offset = node.offset_debug();
        const Position pos =
            offset >= 0 ? positionOf(text, length, skip + static_cast<std::size_t>(offset)) : Position{0, 0};
        return fail(reason, pos.line, pos.column);
    };

    pugi::xml_node root;
    for (pugi::xml_node node = tree->first_child(); node;) {
        pugi::xml_node next = node.next_sibling();
        switch (node.type()) {
            case pugi::node_declaration: {
                const char* encoding = node.attribute("encoding").value();
                if (*encoding != '\0' && !isUtf8EncodingName(encoding)) {
                    return failAt("unsupported encoding (only UTF-8 is accepted)", node);
                }
                tree->remove_child(node);
                break;
            }
            case pugi::node_doctype:
                return failAt("document type declarations are not allowed", node);
            case pugi::node_pcdata:
                if (!isBlank(node.value())) {
                    return failAt("text outside the root element", node);
                }
                tree->remove_child(node);
                break;
            case pugi::node_element:
                if (root) {
                    return failAt("more than one root element", node);
                }
                root = node;
                break;
            default:
                return failAt("text outside the root element", node);
        }
        node = next;
    }
    if (!root) {
        const Position end = positionOf(text, length, length);
        return fail("no root element", end.line, end.column);
    }
    if (pugi::xml_node deep = findTooDeep(root, m_maxDepth)) {
        return failAt(("elements nested deeper than " + std::to_string(m_maxDepth) + " levels").c_str(),
                      deep);
    }

    m_tree = std::move(tree);
    m_error.clear();
    m_errorLine = m_errorColumn = 0;
    return 0;
}

int OVLMessage::load(const char* path) {
    if (path == nullptr) {
        return fail("no file name");
    }
    const int fd = retryOnEintr([&] { return sys::calls().open(path, O_RDONLY | O_CLOEXEC, 0); });
    if (fd < 0) {
        return fail(std::string("cannot open ") + path + ": " + formatWin32Error(getLastError()));
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        sys::calls().close(fd);
        return fail(std::string("not a regular file: ") + path);
    }
    if (static_cast<unsigned long long>(st.st_size) > kMaxFileSize) {
        sys::calls().close(fd);
        return fail(std::string("file too large: ") + path);
    }
    std::string text;
    text.resize(static_cast<std::size_t>(st.st_size));
    std::size_t used = 0;
    for (;;) {
        if (used == text.size()) {
            // The file may have grown since fstat; read on until its end, within the limit.
            if (text.size() > kMaxFileSize) {
                sys::calls().close(fd);
                return fail(std::string("file too large: ") + path);
            }
            text.resize(text.size() + 4096);
        }
        const ssize_t r =
            retryOnEintr([&] { return sys::calls().read(fd, text.data() + used, text.size() - used); });
        if (r < 0) {
            const int err = errno;
            sys::calls().close(fd);
            return fail(std::string("cannot read ") + path + ": " +
                        formatWin32Error(static_cast<unsigned long>(err)));
        }
        if (r == 0) {
            break;
        }
        used += static_cast<std::size_t>(r);
    }
    sys::calls().close(fd);
    text.resize(used);
    if (used == 0) {
        return fail(std::string("empty file: ") + path);
    }
    return parse(text.data(), text.size(), 0);
}

int OVLMessage::save(const char* path) const {
    if (path == nullptr) {
        return fail("no file name");
    }
    if (isEmpty()) {
        return fail("empty message");
    }
    std::string error;
    const pugi::xml_document& doc = *m_tree;
    const int r = replaceFileAtomically(
        path,
        [&doc](ChunkSink& sink) {
            ChunkSinkWriter writer(sink);
            print(doc, writer, kIndent | kDeclaration);
        },
        error);
    if (r != 0) {
        return fail(std::move(error));
    }
    m_error.clear();
    m_errorLine = m_errorColumn = 0;
    return 0;
}

std::string OVLMessage::toString(int flags) const {
    std::string out;
    if (isEmpty()) {
        return out;
    }
    StringSink sink(out);
    print(*m_tree, sink, flags);
    return out;
}

OVLMessageBodyPtr OVLMessage::getBody(int flags) const {
    if (isEmpty()) {
        return {};
    }
    return boost::make_shared<const OVLMessageBody>(toString(flags));
}

}  // namespace OVL
