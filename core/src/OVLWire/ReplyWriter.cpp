#include "OVLWire/ReplyWriter.h"

#include "OVLWire/Protocol.h"

namespace OVL::Wire {

namespace {

std::string prefixed(const char* prefix, std::string_view name) {
    std::string result(prefix);
    result.append(name);
    return result;
}

class StringWriter final : public pugi::xml_writer {
public:
    explicit StringWriter(std::string& out) : m_out(out) {}
    void write(const void* data, size_t size) override { m_out.append(static_cast<const char*>(data), size); }

private:
    std::string& m_out;
};

}  // namespace

ReplyWriter::ReplyWriter(std::string_view id, std::string_view origin, std::string_view target,
                         std::string_view interfaceNamespace) {
    pugi::xml_node decl = m_doc.append_child(pugi::node_declaration);
    decl.append_attribute("version") = "1.0";
    decl.append_attribute("encoding") = "UTF-8";
    pugi::xml_node packet = m_doc.append_child("ns1:packet");
    packet.append_attribute("xmlns:ns1") = kPacketNamespace;
    if (!interfaceNamespace.empty()) {
        packet.append_attribute("xmlns:ns2").set_value(std::string(interfaceNamespace).c_str());
    }
    if (!id.empty())
        packet.append_attribute("id").set_value(std::string(id).c_str());
    packet.append_attribute("origin").set_value(std::string(origin).c_str());
    packet.append_child("ns1:target").text().set(std::string(target).c_str());
    m_data = packet.append_child("ns1:data");
}

pugi::xml_node ReplyWriter::result(std::string_view interface, std::string_view element) {
    pugi::xml_node node = m_data.append_child(prefixed("ns2:", interface).c_str());
    return node.append_child(prefixed("ns2:", element).c_str());
}

void ReplyWriter::error(int code, std::string_view message) {
    pugi::xml_node error = m_data.append_child("ns1:error");
    error.append_child("ns1:code").text().set(code);
    error.append_child("ns1:message").text().set(std::string(message).c_str());
}

pugi::xml_node ReplyWriter::add(pugi::xml_node parent, std::string_view name, std::string_view text) {
    pugi::xml_node node = parent.append_child(prefixed("ns2:", name).c_str());
    if (!text.empty())
        node.append_child(pugi::node_pcdata).set_value(std::string(text).c_str());
    return node;
}

void ReplyWriter::appendFrame(std::string& out) const {
    StringWriter writer(out);
    m_doc.save(writer, "", pugi::format_indent | pugi::format_skip_control_chars, pugi::encoding_utf8);
    if (!out.empty() && out.back() == '\n')
        out.pop_back();
    out.push_back('\0');
}

void appendErrorFrame(std::string& out, std::string_view id, std::string_view origin, std::string_view target,
                      int code, std::string_view message) {
    ReplyWriter writer(id, origin, target, {});
    writer.error(code, message);
    writer.appendFrame(out);
}

}  // namespace OVL::Wire
