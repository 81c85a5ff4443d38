#include "OVLWire/WellFormed.h"

#include <expat.h>
#include <strings.h>

#include <memory>

namespace OVL::Wire {

namespace {

struct Check {
    XML_Parser parser;
    std::string refusal;  // set by a handler that stopped the parser
};

void refuse(Check& check, std::string reason) {
    check.refusal = std::move(reason);
    XML_StopParser(check.parser, XML_FALSE);
}

void onXmlDeclaration(void* data, const XML_Char* /*version*/, const XML_Char* encoding, int /*standalone*/) {
    auto& check = *static_cast<Check*>(data);
    if (encoding != nullptr && ::strcasecmp(encoding, "UTF-8") != 0 && ::strcasecmp(encoding, "UTF8") != 0) {
        refuse(check, std::string("the packet declares the encoding '") + encoding + "'; packets are UTF-8");
    }
}

void onDoctype(void* data, const XML_Char* /*name*/, const XML_Char* /*systemId*/,
               const XML_Char* /*publicId*/, int /*hasInternalSubset*/) {
    refuse(*static_cast<Check*>(data), "document type declarations are not accepted");
}

}  // namespace

bool checkWellFormed(std::string_view text, std::string& message) {
    // One parser per thread, reset for each frame: creating one costs more than checking a small
    // frame. The encoding given here overrides a declared one, so the declaration is checked on
    // its own.
    thread_local std::unique_ptr<XML_ParserStruct, decltype(&XML_ParserFree)> parser(nullptr,
                                                                                     &XML_ParserFree);
    if (!parser || XML_ParserReset(parser.get(), "UTF-8") != XML_TRUE) {
        parser.reset(XML_ParserCreate("UTF-8"));
    }
    if (!parser) {
        message = "no memory to check the packet";
        return false;
    }
    Check check{parser.get(), {}};
    XML_SetUserData(parser.get(), &check);
    XML_SetXmlDeclHandler(parser.get(), &onXmlDeclaration);
    XML_SetStartDoctypeDeclHandler(parser.get(), &onDoctype);
    // Frames are at most the packet size limit (at most 256 MiB), within expat's int length.
    if (XML_Parse(parser.get(), text.data(), static_cast<int>(text.size()), XML_TRUE) == XML_STATUS_OK) {
        return true;
    }
    const std::string reason =
        !check.refusal.empty() ? check.refusal : XML_ErrorString(XML_GetErrorCode(parser.get()));
    message = "malformed XML at line " + std::to_string(XML_GetCurrentLineNumber(parser.get())) +
              ", column " + std::to_string(XML_GetCurrentColumnNumber(parser.get()) + 1) + ": " + reason;
    return false;
}

}  // namespace OVL::Wire
