// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "ClientPacket.h"

#include <cstring>
#include <sstream>

#include "OVLWire/Request.h"

namespace OVL::Agent {

namespace {

struct StringWriter : pugi::xml_writer {
    std::string* out;
    void write(const void* data, size_t size) override { out->append(static_cast<const char*>(data), size); }
};

void appendFrame(const pugi::xml_document& doc, std::string& out) {
    StringWriter writer;
    writer.out = &out;
    doc.save(writer, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
    out.push_back('\0');
}

}  // namespace

std::string loginFrame(const std::string& id, const OVLAuthName& auth) {
    pugi::xml_document doc;
    pugi::xml_node packet = doc.append_child("packet");
    packet.append_attribute("id") = id.c_str();
    packet.append_child("target").text() = "system";
    pugi::xml_node login = packet.append_child("data").append_child("system").append_child("login");
    login.append_child("login").text() = auth.getLogin().c_str();
    login.append_child("domain").text() = auth.getDomain().c_str();
    login.append_child("realm").text() = auth.getRealmID().toString().c_str();
    login.append_child("password").text() = auth.getPassword().c_str();
    std::string frame;
    appendFrame(doc, frame);
    return frame;
}

bool findPacketId(std::string_view head, std::string& id) {
    id.clear();
    std::size_t pos = 0;
    // Skip the declaration, comments and processing instructions before the root.
    for (;;) {
        pos = head.find('<', pos);
        if (pos == std::string_view::npos || pos + 1 >= head.size()) {
            return false;
        }
        const char next = head[pos + 1];
        if (next != '?' && next != '!') {
            break;
        }
        const std::string_view close = next == '?' ? "?>" : (head.substr(pos, 4) == "<!--" ? "-->" : ">");
        pos = head.find(close, pos + 2);
        if (pos == std::string_view::npos) {
            return false;
        }
        pos += close.size();
    }
    // The root's start tag; quoted attribute values may hold '>'.
    std::size_t end = pos + 1;
    char quote = 0;
    for (; end < head.size(); ++end) {
        const char c = head[end];
        if (quote != 0) {
            if (c == quote) {
                quote = 0;
            }
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            break;
        }
    }
    if (end >= head.size()) {
        return false;
    }
    // Walk the attributes: name, '=', quoted value.
    const std::string_view tag = head.substr(pos + 1, end - pos - 1);
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    std::size_t at = 0;
    while (at < tag.size() && !blank(tag[at])) {
        ++at;  // the element's name
    }
    for (;;) {
        while (at < tag.size() && blank(tag[at])) {
            ++at;
        }
        const std::size_t nameBegin = at;
        while (at < tag.size() && !blank(tag[at]) && tag[at] != '=') {
            ++at;
        }
        const std::string_view name = tag.substr(nameBegin, at - nameBegin);
        while (at < tag.size() && blank(tag[at])) {
            ++at;
        }
        if (name.empty() || at >= tag.size() || tag[at] != '=') {
            return true;
        }
        ++at;
        while (at < tag.size() && blank(tag[at])) {
            ++at;
        }
        if (at >= tag.size() || (tag[at] != '"' && tag[at] != '\'')) {
            return true;
        }
        const std::size_t close = tag.find(tag[at], at + 1);
        if (close == std::string_view::npos) {
            return true;
        }
        if (name == "id") {
            id.assign(tag.substr(at + 1, close - at - 1));
            return true;
        }
        at = close + 1;
    }
}

bool withPacketId(std::string_view packet, const std::string& id, std::string& frame, std::string& error) {
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed =
        doc.load_buffer(packet.data(), packet.size(), pugi::parse_default, pugi::encoding_utf8);
    if (!parsed || !doc.document_element()) {
        error = std::string("the packet is not well-formed XML: ") + parsed.description() + " at byte " +
                std::to_string(parsed.offset);
        return false;
    }
    pugi::xml_node root = doc.document_element();
    pugi::xml_attribute attribute = root.attribute("id");
    if (!attribute) {
        attribute = root.prepend_attribute("id");
    }
    attribute = id.c_str();
    frame.clear();
    appendFrame(doc, frame);
    return true;
}

int replyError(const pugi::xml_document& reply, std::string& message) {
    pugi::xml_node data = Wire::childByLocalName(reply.document_element(), "data");
    pugi::xml_node error = Wire::childByLocalName(data, "error");
    if (!error) {
        return 0;
    }
    message = Wire::childText(error, "message");
    const int code = std::atoi(Wire::childText(error, "code").c_str());
    return code != 0 ? code : -1;
}

pugi::xml_node replyResult(const pugi::xml_document& reply) {
    pugi::xml_node data = Wire::childByLocalName(reply.document_element(), "data");
    return Wire::firstElement(Wire::firstElement(data));
}

}  // namespace OVL::Agent
