// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "OVLMessage/OVLMessageIterator.h"

#include <charconv>
#include <climits>
#include <cstring>
#include <pugixml.hpp>

#include "OVLMessage/OVLElement.h"
#include "Utf8.h"

namespace OVL {
namespace {

bool isTextNode(const pugi::xml_node& n) {
    const pugi::xml_node_type t = n.type();
    return t == pugi::node_pcdata || t == pugi::node_cdata;
}

pugi::xml_node childElement(pugi::xml_node node, const char* name) {
    if (name == nullptr) {
        return {};
    }
    for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling()) {
        if (c.type() == pugi::node_element && std::strcmp(c.name(), name) == 0) {
            return c;
        }
    }
    return {};
}

pugi::xml_node nextElement(pugi::xml_node node, const char* name) {
    for (pugi::xml_node c = node.next_sibling(); c; c = c.next_sibling()) {
        if (c.type() == pugi::node_element && (name == nullptr || std::strcmp(c.name(), name) == 0)) {
            return c;
        }
    }
    return {};
}

int textOf(pugi::xml_node node, std::string& out) {
    pugi::xml_node first = node.first_child();
    while (first && !isTextNode(first)) {
        first = first.next_sibling();
    }
    if (!first) {
        out.clear();
        return 0;
    }
    std::string text = first.value();
    for (pugi::xml_node c = first.next_sibling(); c; c = c.next_sibling()) {
        if (isTextNode(c)) {
            text += c.value();
        }
    }
    out = std::move(text);
    return 0;
}

bool acceptableText(std::string_view text) {
    return detail::isValidUtf8(text);
}

template <class Int>
int parseInt(const char* s, Int& out) {
    if (*s == '+') {
        ++s;
    }
    if (*s == '+' || *s == '\0') {
        return -1;
    }
    const char* end = s + std::strlen(s);
    Int value{};
    const auto [p, ec] = std::from_chars(s, end, value, 10);
    if (ec != std::errc() || p != end) {
        return -1;
    }
    out = value;
    return 0;
}

int parseBool(const char* s, bool& out) {
    if (std::strcmp(s, "1") == 0 || std::strcmp(s, "true") == 0) {
        out = true;
        return 0;
    }
    if (std::strcmp(s, "0") == 0 || std::strcmp(s, "false") == 0) {
        out = false;
        return 0;
    }
    return -1;
}

}  // namespace

#define OVL_NODE pugi::xml_node(m_node)

const char* OVLMessageIterator::getName() const noexcept {
    return m_node ? OVL_NODE.name() : "";
}

int OVLMessageIterator::getId() const noexcept {
    return m_node ? OVLElement::id(OVL_NODE.name()) : -1;
}

int OVLMessageIterator::moveTo(const char* name) noexcept {
    if (!m_node) {
        return -1;
    }
    pugi::xml_node c = childElement(OVL_NODE, name);
    if (!c) {
        return -1;
    }
    m_node = c.internal_object();
    return 0;
}

int OVLMessageIterator::moveTo(int id) noexcept {
    return moveTo(OVLElement::name(id));
}

int OVLMessageIterator::moveToFirstChild() noexcept {
    if (!m_node) {
        return -1;
    }
    for (pugi::xml_node c = OVL_NODE.first_child(); c; c = c.next_sibling()) {
        if (c.type() == pugi::node_element) {
            m_node = c.internal_object();
            return 0;
        }
    }
    return -1;
}

int OVLMessageIterator::moveToNext(const char* name) noexcept {
    if (!m_node || name == nullptr) {
        return -1;
    }
    pugi::xml_node c = nextElement(OVL_NODE, name);
    if (!c) {
        return -1;
    }
    m_node = c.internal_object();
    return 0;
}

int OVLMessageIterator::moveToNext(int id) noexcept {
    return moveToNext(OVLElement::name(id));
}

int OVLMessageIterator::moveToNextSibling() noexcept {
    if (!m_node) {
        return -1;
    }
    pugi::xml_node c = nextElement(OVL_NODE, nullptr);
    if (!c) {
        return -1;
    }
    m_node = c.internal_object();
    return 0;
}

int OVLMessageIterator::moveToParent() noexcept {
    if (!m_node) {
        return -1;
    }
    pugi::xml_node p = OVL_NODE.parent();
    if (!p || p.type() != pugi::node_element) {
        return -1;
    }
    m_node = p.internal_object();
    return 0;
}

bool OVLMessageIterator::hasChild(const char* name) const noexcept {
    return m_node && childElement(OVL_NODE, name);
}

bool OVLMessageIterator::hasChild(int id) const noexcept {
    return hasChild(OVLElement::name(id));
}

int OVLMessageIterator::addChild(const char* name) {
    if (!m_node || !detail::isValidXmlName(name)) {
        return -1;
    }
    pugi::xml_node c = OVL_NODE.append_child(pugi::node_element);
    if (!c) {
        return -1;
    }
    if (!c.set_name(name)) {
        OVL_NODE.remove_child(c);
        return -1;
    }
    m_node = c.internal_object();
    return 0;
}

int OVLMessageIterator::addChild(int id) {
    return addChild(OVLElement::name(id));
}

int OVLMessageIterator::addCopy(const OVLMessageIterator& source) {
    if (!m_node || !source.m_node) {
        return -1;
    }
    pugi::xml_node copy = OVL_NODE.append_copy(pugi::xml_node(source.m_node));
    if (!copy) {
        return -1;
    }
    m_node = copy.internal_object();
    return 0;
}

int OVLMessageIterator::removeChild(const char* name) {
    if (!m_node) {
        return -1;
    }
    pugi::xml_node c = childElement(OVL_NODE, name);
    return c && OVL_NODE.remove_child(c) ? 0 : -1;
}

int OVLMessageIterator::removeChild(int id) {
    return removeChild(OVLElement::name(id));
}

int OVLMessageIterator::removeCurrent() {
    if (!m_node) {
        return -1;
    }
    pugi::xml_node node = OVL_NODE;
    pugi::xml_node parent = node.parent();
    if (!parent || parent.type() != pugi::node_element) {
        return -1;
    }
    if (!parent.remove_child(node)) {
        return -1;
    }
    m_node = parent.internal_object();
    return 0;
}

int OVLMessageIterator::getText(std::string& out) const {
    if (!m_node) {
        return -1;
    }
    return textOf(OVL_NODE, out);
}

int OVLMessageIterator::setText(std::string_view text) {
    if (!m_node || !acceptableText(text)) {
        return -1;
    }
    pugi::xml_node node = OVL_NODE;
    for (pugi::xml_node c = node.first_child(); c;) {
        pugi::xml_node next = c.next_sibling();
        if (isTextNode(c)) {
            node.remove_child(c);
        }
        c = next;
    }
    pugi::xml_node t = node.prepend_child(pugi::node_pcdata);
    return t && t.set_value(text.data(), text.size()) ? 0 : -1;
}

int OVLMessageIterator::getAttribute(const char* name, std::string& out) const {
    if (!m_node || name == nullptr) {
        return -1;
    }
    pugi::xml_attribute a = OVL_NODE.attribute(name);
    if (!a) {
        return -1;
    }
    out = a.value();
    return 0;
}

int OVLMessageIterator::setAttribute(const char* name, std::string_view value) {
    if (!m_node || !detail::isValidXmlName(name) || !acceptableText(value)) {
        return -1;
    }
    pugi::xml_node node = OVL_NODE;
    pugi::xml_attribute a = node.attribute(name);
    if (!a) {
        a = node.append_attribute(name);
    }
    return a && a.set_value(value.data(), value.size()) ? 0 : -1;
}

int OVLMessageIterator::readText(const char* name, std::string& out) const {
    if (!m_node) {
        return -1;
    }
    pugi::xml_node c = childElement(OVL_NODE, name);
    if (!c) {
        return -1;
    }
    return textOf(c, out);
}

int OVLMessageIterator::readText(int id, std::string& out) const {
    return readText(OVLElement::name(id), out);
}

int OVLMessageIterator::readInt(const char* name, int& out) const {
    if (!m_node) {
        return -1;
    }
    pugi::xml_node c = childElement(OVL_NODE, name);
    return c ? parseInt(c.child_value(), out) : -1;
}

int OVLMessageIterator::readInt(int id, int& out) const {
    return readInt(OVLElement::name(id), out);
}

int OVLMessageIterator::readInt(const char* name, long long& out) const {
    if (!m_node) {
        return -1;
    }
    pugi::xml_node c = childElement(OVL_NODE, name);
    return c ? parseInt(c.child_value(), out) : -1;
}

int OVLMessageIterator::readInt(int id, long long& out) const {
    return readInt(OVLElement::name(id), out);
}

int OVLMessageIterator::readBool(const char* name, bool& out) const {
    if (!m_node) {
        return -1;
    }
    pugi::xml_node c = childElement(OVL_NODE, name);
    return c ? parseBool(c.child_value(), out) : -1;
}

int OVLMessageIterator::readBool(int id, bool& out) const {
    return readBool(OVLElement::name(id), out);
}

int OVLMessageIterator::writeText(const char* name, std::string_view text) {
    if (!m_node || !acceptableText(text)) {
        return -1;
    }
    OVLMessageIterator child(*this);
    if (child.addChild(name) != 0) {
        return -1;
    }
    if (text.empty()) {
        return 0;
    }
    pugi::xml_node t = pugi::xml_node(child.m_node).append_child(pugi::node_pcdata);
    return t && t.set_value(text.data(), text.size()) ? 0 : -1;
}

int OVLMessageIterator::writeText(int id, std::string_view text) {
    return writeText(OVLElement::name(id), text);
}

int OVLMessageIterator::writeInt(const char* name, long long value) {
    char buf[24];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    if (ec != std::errc()) {
        return -1;
    }
    return writeText(name, std::string_view(buf, static_cast<std::size_t>(end - buf)));
}

int OVLMessageIterator::writeInt(int id, long long value) {
    return writeInt(OVLElement::name(id), value);
}

int OVLMessageIterator::writeBool(const char* name, bool value) {
    return writeText(name, value ? "true" : "false");
}

int OVLMessageIterator::writeBool(int id, bool value) {
    return writeBool(OVLElement::name(id), value);
}

#undef OVL_NODE

}  // namespace OVL
