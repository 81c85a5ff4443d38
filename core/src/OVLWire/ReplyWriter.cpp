// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "OVLWire/ReplyWriter.h"

#include "OVLWire/Protocol.h"
#include "OVLWire/Utf8.h"

namespace OVL::Wire {

namespace {

std::string prefixed(const char* prefix, std::string_view name) {
    std::string result(prefix);
    result.append(name);
    return result;
}

// What XML can carry of `text`; the text itself when all of it (the common case).
class XmlText {
public:
    explicit XmlText(std::string_view text) : m_view(text) {
        if (!isXmlText(text)) {
            m_cleaned = toXmlText(text);
            m_view = m_cleaned;
        }
    }
    std::string_view view() const { return m_view; }
    // As a C string, for pugixml's attribute and name setters.
    std::string string() const { return std::string(m_view); }

private:
    std::string m_cleaned;
    std::string_view m_view;
};

void setText(pugi::xml_node node, std::string_view text) {
    const XmlText clean(text);
    node.append_child(pugi::node_pcdata).set_value(clean.view().data(), clean.view().size());
}

// Appends pugixml's output, writing a carriage return as "&#13;": pugixml escapes it in attribute
// values only, and a raw one in text would reach the reader as a line feed. Text is the only place
// the output can hold one (the writers here put no comments or processing instructions).
class StringWriter final : public pugi::xml_writer {
public:
    explicit StringWriter(std::string& out) : m_out(out) {}
    void write(const void* data, size_t size) override {
        std::string_view chunk(static_cast<const char*>(data), size);
        for (std::size_t cr = chunk.find('\r'); cr != std::string_view::npos; cr = chunk.find('\r')) {
            m_out.append(chunk.substr(0, cr)).append("&#13;");
            chunk.remove_prefix(cr + 1);
        }
        m_out.append(chunk);
    }

private:
    std::string& m_out;
};

// pugixml escapes the tab, line feed and carriage return in attribute values as references; the
// values hold nothing else below U+0020 (XmlText dropped it), so no reference is one that XML forbids.
constexpr unsigned kSaveFlags = pugi::format_indent;

}  // namespace

ReplyWriter::ReplyWriter(const PacketId& id, std::string_view origin, std::string_view target,
                         std::string_view interfaceNamespace) {
    pugi::xml_node decl = m_doc.append_child(pugi::node_declaration);
    decl.append_attribute("version") = "1.0";
    decl.append_attribute("encoding") = "UTF-8";
    pugi::xml_node packet = m_doc.append_child("ns1:packet");
    packet.append_attribute("xmlns:ns1") = kPacketNamespace;
    if (!interfaceNamespace.empty()) {
        packet.append_attribute("xmlns:ns2").set_value(std::string(interfaceNamespace).c_str());
    }
    if (id) {
        packet.append_attribute("id").set_value(XmlText(*id).string().c_str());
    }
    packet.append_attribute("origin").set_value(XmlText(origin).string().c_str());
    setText(packet.append_child("ns1:target"), target);
    m_data = packet.append_child("ns1:data");
}

pugi::xml_node ReplyWriter::result(std::string_view interface, std::string_view element) {
    pugi::xml_node node = m_data.append_child(prefixed("ns2:", interface).c_str());
    return node.append_child(prefixed("ns2:", element).c_str());
}

void ReplyWriter::error(int code, std::string_view message) {
    pugi::xml_node error = m_data.append_child("ns1:error");
    error.append_child("ns1:code").text().set(code);
    setText(error.append_child("ns1:message"), message);
}

pugi::xml_node ReplyWriter::add(pugi::xml_node parent, std::string_view name, std::string_view text) {
    pugi::xml_node node = parent.append_child(prefixed("ns2:", name).c_str());
    if (!text.empty()) {
        setText(node, text);
    }
    return node;
}

void ReplyWriter::appendFrame(std::string& out) const {
    StringWriter writer(out);
    m_doc.save(writer, "", kSaveFlags, pugi::encoding_utf8);
    if (!out.empty() && out.back() == '\n') {
        out.pop_back();
    }
    out.push_back('\0');
}

void appendErrorFrame(std::string& out, const PacketId& id, std::string_view origin, std::string_view target,
                      int code, std::string_view message) {
    ReplyWriter writer(id, origin, target, {});
    writer.error(code, message);
    writer.appendFrame(out);
}

void appendRequestFrame(std::string& out, std::string_view id, std::string_view target,
                        std::string_view interface, std::string_view operation,
                        std::initializer_list<std::pair<std::string_view, std::string_view>> arguments) {
    pugi::xml_document doc;
    pugi::xml_node packet = doc.append_child("packet");
    if (!id.empty()) {
        packet.append_attribute("id").set_value(XmlText(id).string().c_str());
    }
    setText(packet.append_child("target"), target);
    pugi::xml_node op = packet.append_child("data")
                            .append_child(std::string(interface).c_str())
                            .append_child(std::string(operation).c_str());
    for (const auto& [name, value] : arguments) {
        setText(op.append_child(std::string(name).c_str()), value);
    }
    StringWriter writer(out);
    doc.save(writer, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
    out.push_back('\0');
}

}  // namespace OVL::Wire
