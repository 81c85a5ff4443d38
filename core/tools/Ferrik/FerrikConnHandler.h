// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// Connection callbacks of the agent client library turned into Qt signals. The library calls the
// overrides on its I/O thread; each only emits its signal, so a receiver on the GUI thread gets
// the call through a queued connection. Held by the library through an intrusive pointer (the
// reference count of OVLRefCounter), so the object may be destroyed on the I/O thread after its
// last callback; it has no parent.

#include <QMetaType>
#include <QObject>
#include <QString>

#include "OVLCore/OVLGUIDBase.h"
#include "OVLLibCore/OVLConnectionHandlerPrototype.h"
#include "OVLLibCore/OVLRequestErrorData.h"

Q_DECLARE_METATYPE(OVL::eid_t)
Q_DECLARE_METATYPE(OVL::OVLRequestErrorData)

class FerrikConnHandler : public QObject, public OVL::OVLConnectionHandlerPrototype {
    Q_OBJECT
public:
    FerrikConnHandler();
    ~FerrikConnHandler() override;

    void onError(const OVL::OVLRequestErrorData& err) override;
    void onConnected(const OVL::eid_t& eid) override;
    void onDisconnected(const OVL::OVLRequestErrorData& err) override;
    void onAgentTrusted(const OVL::OVLAgentTrust& trust) override;

signals:
    void agentConnected(const OVL::eid_t& eid);
    void agentDisconnected(const OVL::OVLRequestErrorData& err);
    void agentError(const OVL::OVLRequestErrorData& err);
    // A TLS agent's certificate was trusted on first use: OVL::OVLAgentTrust::describe().
    void agentTrusted(const QString& what);
};

using FerrikConnHandlerPtr = boost::intrusive_ptr<FerrikConnHandler>;
