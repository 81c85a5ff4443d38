// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// An XML message: one tree of elements under a single root, held by intrusive pointer.
//
//     OVL::OVLMsgFactoryPtr factory = OVL::OVLMessage::getFactory();
//     OVL::OVLMessagePtr msg = factory->createNew();      // empty: no root yet
//     msg->setRootName("config");
//     OVL::OVLMessageIterator it = msg->getIterator();    // on the root
//     it.writeInt("tab", 4);
//     msg->save("/path/ferrik.xml");
//
// Text: a message parses and writes UTF-8 only. Input that is not well-formed XML, not valid
// UTF-8, holds a zero byte or a character reference to a code point that cannot be text
// (&#0;, surrogates, above U+10FFFF), declares another encoding, has a document type
// declaration (so no entity expansion can happen), has no single root element or text outside
// it, or nests elements deeper than the depth limit is rejected with an error text that names
// the line and column (1-based, columns in bytes). Unknown entity references stay literal text.
// Character data keeps its exact bytes: line ends are not converted and whitespace-only text of
// an element that has no child elements is kept, so that what is written reads back equal.
// Plain whitespace beside child elements is layout and is dropped; given as character
// references or CDATA (or set through the iterator) it is kept and written as a CDATA section.
// Comments and processing instructions are dropped.
//
// Memory: a parsed tree takes at most about 17 times the text's size (the worst case, a document
// made only of empty elements; typical messages about 4 times); the parser, the
// destruction of a tree and every walk and write of this library are iterative, so no input
// can exhaust the stack.
//
// Failures: operations return 0 on success and -1 on failure; a failed parse or load leaves the
// message as it was and sets getError() and the thread's error message (OVL::getErrorMessage).
//
// Threads: a message and its iterators belong to one thread at a time; distinct messages may be
// used on different threads at once.

#include <cstddef>
#include <memory>
#include <string>

#include <boost/intrusive_ptr.hpp>

#include "OVLCore/OVLRefCounter.h"
#include "OVLMessage/OVLMessageBody.h"
#include "OVLMessage/OVLMessageExport.h"
#include "OVLMessage/OVLMessageIterator.h"
#include "OVLMessage/OVLMsgFactory.h"

namespace OVL {

class OVLMESSAGE_EXPORT OVLMessage : public OVLRefCounter {
public:
    // Deepest element nesting that parse() and load() accept by default (the root is depth 1).
    static constexpr unsigned kDefaultMaxDepth = 1000;
    // Largest file that load() reads.
    static constexpr std::size_t kMaxFileSize = std::size_t(1) << 30;

    // Layouts of toString() and getBody(); save() writes kIndent | kDeclaration.
    enum : int {
        kCompact = 0,      // no indentation, no XML declaration
        kIndent = 1,       // one element per line, indented by two spaces
        kDeclaration = 2,  // begin with <?xml version="1.0" encoding="UTF-8"?>
        kLines = 4,        // one element per line without indentation (kIndent takes precedence)
    };

    // The process's message factory.
    static OVLMsgFactoryPtr getFactory();

    OVLMessage();
    ~OVLMessage() override;

    // Names the root element, creating it when the message is empty. -1 on an invalid name.
    int setRootName(const char* name);
    // Name of the root element; "" when the message is empty.
    const char* getRootName() const noexcept;
    bool isEmpty() const noexcept;

    // Replaces the tree by the one parsed from `text`. With length 0 the text ends at its first
    // zero byte; otherwise exactly `length` bytes are parsed (a zero byte among them is an
    // error). `flags` is reserved and must be 0. On failure nothing changes.
    int parse(const char* text, std::size_t length = 0, int flags = 0);

    // Replaces the tree by the one in the file. On failure (no file, unreadable, larger than
    // kMaxFileSize, not acceptable as by parse) nothing changes.
    int load(const char* path);

    // Writes the message to the file, indented and with an XML declaration. The file is
    // replaced atomically: the text goes to a new file in the same directory, which is flushed
    // to disk and then renamed over `path`, and the directory is flushed. A crash or a full disk
    // leaves either the old file or the new one, complete. A file that existed keeps its
    // permission bits, and one that the caller may not write is not replaced; a new one gets
    // 0666 less the umask. A symbolic link at `path` is replaced, not followed. A process killed
    // during a save may leave its temporary file ("<path>.tmp-<pid>-<n>") behind, never a
    // damaged `path`. An empty message fails.
    int save(const char* path) const;

    // An iterator on the root; an invalid one when the message is empty.
    OVLMessageIterator getIterator() const;

    // The message as text (see the flags above); "" when empty.
    std::string toString(int flags = kCompact) const;
    // The body that a task sends: the text of toString(flags), fixed now. Null when empty.
    OVLMessageBodyPtr getBody(int flags = kCompact) const;

    // Nesting limit of later parse() and load() calls; 0 means no limit.
    void setMaxDepth(unsigned depth) noexcept { m_maxDepth = depth; }
    unsigned getMaxDepth() const noexcept { return m_maxDepth; }

    // Error of the last failed parse(), load() or save(): "line 3, column 7: <reason>" for text
    // that was rejected, otherwise the reason (e.g. the system's error text). "" after success.
    const std::string& getError() const noexcept { return m_error; }
    // Position of the last parse error (1-based); 0 when the error has no position.
    int getErrorLine() const noexcept { return m_errorLine; }
    int getErrorColumn() const noexcept { return m_errorColumn; }

private:
    int fail(std::string reason, int line = 0, int column = 0) const;

    std::shared_ptr<pugi::xml_document> m_tree;
    unsigned m_maxDepth = kDefaultMaxDepth;
    mutable std::string m_error;
    mutable int m_errorLine = 0;
    mutable int m_errorColumn = 0;
};

using OVLMessagePtr = boost::intrusive_ptr<OVLMessage>;

}  // namespace OVL
