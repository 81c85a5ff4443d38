// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "OVLCore/OVLException.h"

#include "OVLCommon/Errors.h"
#include "OVLCommon/Logger.h"
#include "OVLCore/OVLTLS.h"

namespace OVL {

namespace {
// Created when the library is loaded, destroyed when it is unloaded.
OVLTLS<OVLExceptionHandlerInfo> g_handlerInfo;
}  // namespace

OVLException::OVLException(int code, const char* text) : m_code(code), m_reason(text ? text : "") {}

OVLException::~OVLException() = default;

const char* OVLException::what() const noexcept {
    return m_reason.c_str();
}

OVLException::Handler OVLException::registerExceptionHandler(Handler handler) {
    OVLExceptionHandlerInfo* info = g_handlerInfo.get();
    if (info == nullptr) {
        return nullptr;  // no slot: handlers cannot be registered
    }
    Handler old = info->m_handler;
    info->m_handler = handler;
    return old;
}

void throwErrorImpl(const OVLException& e, const char* file, int line) {
    if (OVLExceptionHandlerInfo* info = g_handlerInfo.get(); info && info->m_handler) {
        info->m_handler(e);
    }
    Log.put(Logger::kError, "Throwing exception from %s(%d): %s.", file ? file : "", line, e.what());
    throw OVLException(e);
}

int processException(const OVLException& e) {
    Log.put(Logger::kError, "Exception is caught. Error code %d, reason: %s.", e.code(), e.what());
    setErrorMessage("%s", e.what());
    return e.code();
}

}  // namespace OVL
