// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "OVLWire/Request.h"

#include <cstring>

#include "OVLWire/Protocol.h"
#include "OVLWire/Utf8.h"
#include "OVLWire/WellFormed.h"

namespace OVL::Wire {

std::string_view localName(const char* name) {
    const char* colon = std::strchr(name, ':');
    return colon != nullptr ? std::string_view(colon + 1) : std::string_view(name);
}

std::string_view localName(pugi::xml_node node) {
    return localName(node.name());
}

pugi::xml_node childByLocalName(pugi::xml_node parent, std::string_view name) {
    for (pugi::xml_node child = parent.first_child(); child; child = child.next_sibling()) {
        if (child.type() == pugi::node_element && localName(child) == name) {
            return child;
        }
    }
    return {};
}

std::string childText(pugi::xml_node parent, std::string_view name, std::string_view fallback) {
    pugi::xml_node child = childByLocalName(parent, name);
    return child ? std::string(child.child_value()) : std::string(fallback);
}

pugi::xml_node firstElement(pugi::xml_node parent) {
    for (pugi::xml_node child = parent.first_child(); child; child = child.next_sibling()) {
        if (child.type() == pugi::node_element) {
            return child;
        }
    }
    return {};
}

namespace {

// The packet's id attribute: none, or its text (empty for id="").
PacketId idOf(pugi::xml_node root) {
    if (pugi::xml_attribute id = root.attribute("id")) {
        return std::string(id.value());
    }
    return std::nullopt;
}

}  // namespace

std::string_view Request::interfaceName() const {
    return m_interface ? localName(m_interface) : std::string_view();
}

std::string_view Request::operationName() const {
    return m_operation ? localName(m_operation) : std::string_view();
}

int Request::parse(std::span<char> frame, const ParseLimits& limits, std::string& message) {
    m_id.reset();
    m_target.clear();
    m_interface = m_operation = {};
    if (!isValidUtf8({frame.data(), frame.size()})) {
        message = "packet is not valid UTF-8";
        return kErrMalformed;
    }
    // The strict check comes first and stops at the depth limit, so a frame that fails it never
    // gets a tree: what it costs is bounded by the depth, not by the frame's size. What it read
    // before it stopped still gives the error reply its id and target.
    FrameStart start;
    if (const int code = checkFrame({frame.data(), frame.size()}, limits.maxDepth, message, start);
        code != 0) {
        m_id = std::move(start.id);
        m_target = std::move(start.target);
        return code;
    }
    const pugi::xml_parse_result parsed =
        m_doc.load_buffer_inplace(frame.data(), frame.size(), pugi::parse_default, pugi::encoding_utf8);
    pugi::xml_node root = m_doc.document_element();
    if (!parsed) {
        message = std::string("malformed XML at byte ") + std::to_string(parsed.offset) + ": " +
                  parsed.description();
        return kErrMalformed;
    }
    if (!root || localName(root) != "packet") {
        message = "the root element must be 'packet'";
        return kErrMalformed;
    }
    m_id = idOf(root);
    m_target = childText(root, "target");
    if (!childByLocalName(root, "target")) {
        message = "the packet has no 'target'";
        return kErrMalformed;
    }
    pugi::xml_node data = childByLocalName(root, "data");
    if (!data) {
        message = "the packet has no 'data'";
        return kErrMalformed;
    }
    m_interface = firstElement(data);
    if (!m_interface) {
        message = "'data' names no interface";
        return kErrMalformed;
    }
    m_operation = firstElement(m_interface);
    if (!m_operation) {
        message = "the interface element names no operation";
        return kErrMalformed;
    }
    return 0;
}

}  // namespace OVL::Wire
