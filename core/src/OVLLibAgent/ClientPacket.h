// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// Packet text helpers of the client side: the login request, reading a packet's id from the first
// bytes of a frame, and giving a packet a new id.

#include <string>
#include <string_view>

#include <pugixml.hpp>

#include "OVLFunctionalityCore/OVLAuthName.h"

namespace OVL::Agent {

// The login request (system/system/login) with the credentials, as one frame (NUL included).
std::string loginFrame(const std::string& id, const OVLAuthName& auth);

// Finds the id attribute of the root element in the first bytes of a packet. Returns true when
// the root's start tag is complete in `head` (then `id` is the id, empty when there is none).
bool findPacketId(std::string_view head, std::string& id);

// Parses `packet`, sets the root's id attribute to `id` (replacing one that is there) and makes
// `frame` the packet's text followed by NUL. False with `error` set for text that is not XML.
bool withPacketId(std::string_view packet, const std::string& id, std::string& frame, std::string& error);

// A reply's <data> element and its error, if it is one: returns the error code (0: no error) and
// sets `message`. The document must have been loaded by the caller.
int replyError(const pugi::xml_document& reply, std::string& message);

// <data>/<interface>/<operationResult> of a reply; a null node when absent.
pugi::xml_node replyResult(const pugi::xml_document& reply);

}  // namespace OVL::Agent
