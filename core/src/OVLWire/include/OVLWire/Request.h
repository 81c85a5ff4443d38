// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// Parsing of one request packet:
//   <packet
//   id="..."><target>T</target><data><interface><operation>...</operation></interface></data></packet>
// Element names are matched by local name, so prefixed and unprefixed requests are alike.

#include <pugixml.hpp>

#include <span>
#include <string>
#include <string_view>

#include "OVLWire/Protocol.h"

namespace OVL::Wire {

struct ParseLimits {
    int maxDepth = 32;  // deepest element nesting, the root counting as 1
};

class Request {
public:
    // Parses `frame` in place (the bytes are modified and must outlive the request). On failure
    // returns an error code of Protocol.h (400 malformed, 431 too deep) and sets `message`; the
    // packet's id and target are still set when they could be read, so the error reply can carry them.
    int parse(std::span<char> frame, const ParseLimits& limits, std::string& message);

    const PacketId& id() const { return m_id; }
    const std::string& target() const { return m_target; }
    // First child element of <data> and its first child element; null nodes when absent.
    pugi::xml_node interfaceNode() const { return m_interface; }
    pugi::xml_node operationNode() const { return m_operation; }
    std::string_view interfaceName() const;
    std::string_view operationName() const;

private:
    pugi::xml_document m_doc;
    PacketId m_id;
    std::string m_target;
    pugi::xml_node m_interface;
    pugi::xml_node m_operation;
};

// The name without its namespace prefix.
std::string_view localName(const char* name);
std::string_view localName(pugi::xml_node node);
// First child element with local name `name`; a null node if there is none.
pugi::xml_node childByLocalName(pugi::xml_node parent, std::string_view name);
// Text of the child element with local name `name`, or `fallback` if there is none.
std::string childText(pugi::xml_node parent, std::string_view name, std::string_view fallback = {});
// First child that is an element, skipping text, comments and processing instructions.
pugi::xml_node firstElement(pugi::xml_node parent);

}  // namespace OVL::Wire
