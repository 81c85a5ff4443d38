// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// Writes one reply (or greeting) packet in the agent's output form:
//
//   <?xml version="1.0" encoding="UTF-8"?>
//   <ns1:packet xmlns:ns1="urn:ovl:agent:packet:1" xmlns:ns2="<interface namespace>" id="..." origin="...">
//   <ns1:target>system</ns1:target>
//   <ns1:data>
//   <ns2:system>
//   <ns2:echoResult>
//   ...
//
// The envelope uses the prefix ns1, the interface's namespace ns2; one element per line, no
// indentation. Not thread-safe; one writer builds one packet.

#include <pugixml.hpp>

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

#include "OVLWire/Protocol.h"

namespace OVL::Wire {

class ReplyWriter {
public:
    // id: the request's id (none: no id attribute). origin: the agent's name. target: the addressee
    // echoed from the request. interfaceNamespace: namespace bound to ns2 (empty: none).
    ReplyWriter(const PacketId& id, std::string_view origin, std::string_view target,
                std::string_view interfaceNamespace);
    ReplyWriter(const ReplyWriter&) = delete;
    ReplyWriter& operator=(const ReplyWriter&) = delete;

    // <ns2:interface><ns2:element/></ns2:interface> under <data>; returns the inner element.
    pugi::xml_node result(std::string_view interface, std::string_view element);
    // <ns1:error><ns1:code>code</ns1:code><ns1:message>message</ns1:message></ns1:error> under <data>.
    void error(int code, std::string_view message);

    // A child element named ns2:`name` of `parent`, with `text` when not empty.
    static pugi::xml_node add(pugi::xml_node parent, std::string_view name, std::string_view text = {});

    // Appends the packet's text followed by its NUL terminator.
    void appendFrame(std::string& out) const;

private:
    pugi::xml_document m_doc;
    pugi::xml_node m_data;
};

// A request as one frame, for clients:
//   <packet id="id"><target>target</target><data><interface><operation><name>value</name>...
// `arguments` are written as text elements in order (escaped); an empty id writes no id attribute.
void appendRequestFrame(std::string& out, std::string_view id, std::string_view target,
                        std::string_view interface, std::string_view operation,
                        std::initializer_list<std::pair<std::string_view, std::string_view>> arguments = {});

// The error packet as one frame, for callers that have no request (greeting-time failures).
void appendErrorFrame(std::string& out, const PacketId& id, std::string_view origin, std::string_view target,
                      int code, std::string_view message);

}  // namespace OVL::Wire
