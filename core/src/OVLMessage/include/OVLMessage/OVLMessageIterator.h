// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// A position on one element of a message tree.
//
// An iterator stands on an element. It moves down to children (by name, by numeric element
// identifier, or to the first child element), along to later siblings and back up; it adds
// children, reads and writes their text, and runs typed readers and writers at its position.
//
// Results: every operation returning int gives 0 on success and -1 on failure. A failed move
// leaves the iterator where it was. An iterator that stands on nothing (default-constructed, or
// taken from a message without a root) fails every operation.
//
// Names: element names are UTF-8 byte strings and must be valid XML names (a letter, '_', ':' or a
// non-ASCII character first; then also digits, '-', '.' and ':'); adding a child with any other
// name fails. Identifiers are resolved through OVLElement (an unknown identifier fails).
//
// Text: values are UTF-8. Reading gives the concatenated character data (text and CDATA) that
// stands directly in the element, exactly as written: no whitespace trimming and no line-end
// conversion. Writing rejects text that holds a zero byte or is not valid UTF-8.
//
// Typed readers and writers are function objects of these shapes:
//     int reader(OVLMessageIterator& it, T& object);        // 0 = read, -1 = rejected
//     int writer(OVLMessageIterator& it, const T& object);  // 0 = written, -1 = failed
// They run with the iterator standing on the element that represents the object and read or
// write that element's content (its children, text and attributes). They may move the
// iterator; read() and write() put it back where it stood before they return. A reader that
// rejects its element may have filled part of the object.
//
// Lifetime and threads: an iterator shares ownership of the tree it stands in, so it stays
// usable even when its message is released, reparsed or reloaded (it then still walks the old
// tree). Iterators are cheap to copy; copies move independently but edit the same tree. A tree
// and all iterators on it belong to one thread at a time.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "OVLMessage/OVLMessageExport.h"

namespace pugi {
class xml_document;
struct xml_node_struct;
}  // namespace pugi

namespace OVL {

class OVLMESSAGE_EXPORT OVLMessageIterator {
public:
    OVLMessageIterator() = default;

    // True when the iterator stands on an element.
    bool isValid() const noexcept { return m_node != nullptr; }
    explicit operator bool() const noexcept { return isValid(); }

    // Name of the current element; "" when invalid. Valid until the element is renamed or
    // its tree is destroyed.
    const char* getName() const noexcept;
    // Identifier of the current element's name (OVLElement::id), -1 when it has none.
    int getId() const noexcept;

    // --- moving -------------------------------------------------------------------------
    // To the first child element of that name.
    int moveTo(const char* name) noexcept;
    int moveTo(int id) noexcept;
    // To the first child element, whatever its name.
    int moveToFirstChild() noexcept;
    // To the next sibling element of that name.
    int moveToNext(const char* name) noexcept;
    int moveToNext(int id) noexcept;
    // To the next sibling element, whatever its name.
    int moveToNextSibling() noexcept;
    // To the parent element; fails on the root.
    int moveToParent() noexcept;
    // True when the current element has a child element of that name.
    bool hasChild(const char* name) const noexcept;
    bool hasChild(int id) const noexcept;

    // --- editing ------------------------------------------------------------------------
    // Appends a child element and moves onto it. Fails (and stays) on an invalid name.
    int addChild(const char* name);
    int addChild(int id);
    // Appends a deep copy of the element that `source` stands on (from any tree, this one
    // included) and moves onto the copy. Copying an element into its own subtree copies it as it
    // stood before the call.
    int addCopy(const OVLMessageIterator& source);
    // Removes the first child element of that name with everything in it.
    int removeChild(const char* name);
    int removeChild(int id);
    // Removes the current element with everything in it and moves to its parent; fails on the
    // root. Other iterators on the removed elements must not be used afterwards.
    int removeCurrent();

    // --- the current element's own text and attributes ----------------------------------
    int getText(std::string& out) const;
    // Replaces the element's character data (keeps child elements).
    int setText(std::string_view text);
    int getAttribute(const char* name, std::string& out) const;
    // Sets or replaces an attribute.
    int setAttribute(const char* name, std::string_view value);

    // --- a child's value ----------------------------------------------------------------
    // Reads the text of the first child element of that name. 0 = found and read; -1 = no
    // such child or (for the numeric forms) text that is not entirely a number in range
    // (decimal, optional sign, no blanks) or (bool) not one of "1", "0", "true", "false".
    // `out` is left unchanged on failure.
    int readText(const char* name, std::string& out) const;
    int readText(int id, std::string& out) const;
    int readInt(const char* name, int& out) const;
    int readInt(int id, int& out) const;
    int readInt(const char* name, long long& out) const;
    int readInt(int id, long long& out) const;
    int readBool(const char* name, bool& out) const;
    int readBool(int id, bool& out) const;

    // Appends a child element with that text (an existing child of the name is kept, not
    // replaced). The iterator stays on the current element. Integers are written in decimal,
    // booleans as "true" and "false".
    int writeText(const char* name, std::string_view text);
    int writeText(int id, std::string_view text);
    int writeInt(const char* name, long long value);
    int writeInt(int id, long long value);
    int writeBool(const char* name, bool value);
    int writeBool(int id, bool value);

    // --- typed readers and writers --------------------------------------------------------
    // Runs the reader or writer at the current element.
    template <class Reader, class T>
    int read(const Reader& reader, T& object) {
        if (!isValid()) {
            return -1;
        }
        OVLMessageIterator at(*this);
        return reader(at, object);
    }
    template <class Writer, class T>
    int write(const Writer& writer, const T& object) {
        if (!isValid()) {
            return -1;
        }
        OVLMessageIterator at(*this);
        return writer(at, object);
    }
    // Runs the reader on the first child element of that name (-1 when there is none).
    template <class Reader, class T>
    int read(const char* name, const Reader& reader, T& object) {
        OVLMessageIterator at(*this);
        if (at.moveTo(name) != 0) {
            return -1;
        }
        return reader(at, object);
    }
    template <class Reader, class T>
    int read(int id, const Reader& reader, T& object) {
        OVLMessageIterator at(*this);
        if (at.moveTo(id) != 0) {
            return -1;
        }
        return reader(at, object);
    }
    // Appends a child element of that name and runs the writer on it. The child stays even
    // when the writer fails, with whatever the writer put into it.
    template <class Writer, class T>
    int write(const char* name, const Writer& writer, const T& object) {
        OVLMessageIterator at(*this);
        if (at.addChild(name) != 0) {
            return -1;
        }
        return writer(at, object);
    }
    template <class Writer, class T>
    int write(int id, const Writer& writer, const T& object) {
        OVLMessageIterator at(*this);
        if (at.addChild(id) != 0) {
            return -1;
        }
        return writer(at, object);
    }

    // True when both stand on the same element (or both on nothing).
    bool operator==(const OVLMessageIterator& other) const noexcept { return m_node == other.m_node; }
    bool operator!=(const OVLMessageIterator& other) const noexcept { return m_node != other.m_node; }

private:
    friend class OVLMessage;
    OVLMessageIterator(std::shared_ptr<pugi::xml_document> tree, pugi::xml_node_struct* node) noexcept
        : m_tree(std::move(tree)), m_node(node) {}

    std::shared_ptr<pugi::xml_document> m_tree;
    pugi::xml_node_struct* m_node = nullptr;
};

}  // namespace OVL
