// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "OVLWire/WellFormed.h"

#include <expat.h>
#include <strings.h>

#include <memory>
#include <string>

#include "OVLWire/Protocol.h"

namespace OVL::Wire {

namespace {

struct Check {
    XML_Parser parser;
    std::string refusal;  // set by a handler that stopped the parser
    int maxDepth = 0;     // 0: no limit
    int depth = 0;
    bool tooDeep = false;
    bool rootIsPacket = false;
    bool inTarget = false;  // in the root's first `target` child (depth 2)
    bool targetRead = false;
    FrameStart* start = nullptr;
    std::string text;  // of the target while it is read
};

std::string_view localPart(const XML_Char* name) {
    const std::string_view full(name);
    const auto colon = full.find(':');
    return colon == std::string_view::npos ? full : full.substr(colon + 1);
}

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

void onStartElement(void* data, const XML_Char* name, const XML_Char** attributes) {
    auto& check = *static_cast<Check*>(data);
    ++check.depth;
    if (check.maxDepth > 0 && check.depth > check.maxDepth) {
        check.tooDeep = true;
        refuse(check, "element nesting deeper than " + std::to_string(check.maxDepth));
        return;
    }
    if (check.start == nullptr) {
        return;
    }
    if (check.depth == 1) {
        check.rootIsPacket = localPart(name) == "packet";
        for (const XML_Char** a = attributes; check.rootIsPacket && a[0] != nullptr; a += 2) {
            if (std::string_view(a[0]) == "id") {
                check.start->id = a[1];
            }
        }
    } else if (check.depth == 2 && check.rootIsPacket && !check.targetRead && localPart(name) == "target") {
        check.inTarget = true;
    }
}

void onEndElement(void* data, const XML_Char* /*name*/) {
    auto& check = *static_cast<Check*>(data);
    if (check.depth == 2 && check.inTarget) {
        check.inTarget = false;
        check.targetRead = true;
        check.start->target = std::move(check.text);
    }
    --check.depth;
}

void onCharacters(void* data, const XML_Char* text, int length) {
    auto& check = *static_cast<Check*>(data);
    if (check.inTarget && check.depth == 2) {
        check.text.append(text, static_cast<std::size_t>(length));
    }
}

// The expat parser of this thread, reset for `check`. Null when there is no memory.
XML_Parser threadParser(Check& check, std::unique_ptr<XML_ParserStruct, decltype(&XML_ParserFree)>& parser) {
    if (!parser || XML_ParserReset(parser.get(), "UTF-8") != XML_TRUE) {
        parser.reset(XML_ParserCreate("UTF-8"));
    }
    if (!parser) {
        return nullptr;
    }
    check.parser = parser.get();
    XML_SetUserData(parser.get(), &check);
    XML_SetXmlDeclHandler(parser.get(), &onXmlDeclaration);
    XML_SetStartDoctypeDeclHandler(parser.get(), &onDoctype);
    if (check.maxDepth > 0 || check.start != nullptr) {
        XML_SetElementHandler(parser.get(), &onStartElement, &onEndElement);
        XML_SetCharacterDataHandler(parser.get(), check.start != nullptr ? &onCharacters : nullptr);
    }
    return parser.get();
}

// Runs `check` over `text`; false with `message` set when the text fails it.
bool run(std::string_view text, Check& check, std::string& message) {
    // One parser per thread, reset for each frame: creating one costs more than checking a small
    // frame. The encoding given here overrides a declared one, so the declaration is checked on
    // its own.
    thread_local std::unique_ptr<XML_ParserStruct, decltype(&XML_ParserFree)> parser(nullptr,
                                                                                     &XML_ParserFree);
    // The parser copies the text into a buffer of its own and keeps it across resets: after a
    // large frame the parser goes, and its buffer with it.
    constexpr std::size_t kKeptInput = std::size_t{64} * 1024;
    struct Release {
        decltype(parser)& held;
        bool large;
        ~Release() {
            if (large) {
                held.reset();
            }
        }
    } release{parser, text.size() >= kKeptInput};
    XML_Parser p = threadParser(check, parser);
    if (p == nullptr) {
        message = "no memory to check the packet";
        return false;
    }
    // Frames are at most the packet size limit (at most 256 MiB), within expat's int length.
    if (XML_Parse(p, text.data(), static_cast<int>(text.size()), XML_TRUE) == XML_STATUS_OK) {
        return true;
    }
    const std::string reason = !check.refusal.empty() ? check.refusal : XML_ErrorString(XML_GetErrorCode(p));
    message = check.tooDeep
                  ? reason
                  : "malformed XML at line " + std::to_string(XML_GetCurrentLineNumber(p)) + ", column " +
                        std::to_string(XML_GetCurrentColumnNumber(p) + 1) + ": " + reason;
    return false;
}

}  // namespace

int checkFrame(std::string_view text, int maxDepth, std::string& message, FrameStart& start) {
    Check check{};
    check.maxDepth = maxDepth;
    check.start = &start;
    if (run(text, check, message)) {
        return 0;
    }
    return check.tooDeep ? kErrTooDeep : kErrMalformed;
}

bool checkWellFormed(std::string_view text, std::string& message) {
    Check check{};
    return run(text, check, message);
}

}  // namespace OVL::Wire
