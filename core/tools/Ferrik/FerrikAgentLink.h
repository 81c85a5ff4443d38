// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// The window's link to the agent: the connection with its states, queuing and sending packets,
// the substitution of ${field:value} placeholders and the realm fetch. The window's documented
// slots forward here; this class reads the connect form, the options and the host records of its
// window and reports through the window's status lines (FerrikDlg::appendText and friends).
//
// No call here waits for the network on the GUI thread: the client library's connect and send
// return at once, and its blocking calls (the access point's environment list, the system agent's
// realm list) run as FerrikBlockingCall on a worker thread. queue() waits for its environment
// list in a local event loop, with Send and Queue disabled meanwhile so that packets cannot
// interleave; Cancel and Disconnect end such a wait at once.
//
// Connection generations: every connect, disconnect and realm fetch counts a generation up; a
// queued handler signal or a finished blocking call that carries an older count belongs to a
// connection that was torn down or replaced, and is dropped.
//
// GUI thread only.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QThreadPool>

#include <functional>
#include <memory>

#include "FerrikBlockingCall.h"
#include "FerrikHandler.h"
#include "FerrikReplyTimes.h"
#include "OVLCore/OVLGUIDBase.h"
#include "OVLFunctionalityCore/OVLConnectionInfo.h"
#include "OVLFunctionalityCore/OVLEnvConfig.h"
#include "OVLLibAgent/OVLAccessAgentPrototype.h"
#include "OVLLibAgent/OVLAccessPointPrototype.h"
#include "OVLLibCore/OVLRequestErrorData.h"

class FerrikConnHandler;
class FerrikDlg;

class FerrikAgentLink : public QObject {
    Q_OBJECT
public:
    explicit FerrikAgentLink(FerrikDlg& window);
    // Closes both connections, then waits for the worker threads (which closing ends promptly).
    ~FerrikAgentLink() override;

    // The connection parameters of the form (see FerrikDlg::connectionInfo).
    OVL::OVLConnectionInfo connectionInfo();

    void connectClicked();
    void onConnect(const OVL::eid_t& eid);
    void onDisconnect(const OVL::OVLRequestErrorData& err);
    void setRaw(bool isRaw);
    void updateCreds(const QString& host);

    int queue();
    void send();
    int substitute(QString& text);
    bool configMatches(const OVL::OVLEnvConfig& config, const QString& field, const QString& value);

    void getRealms();
    void realmsConnect(const OVL::eid_t& eid);

    // True while a blocking call (environment list or realm list) is under way.
    bool isWaiting() const { return substitution || realmFetch; }
    // The blocking call under way, for tests and the wait dialog; null when none.
    FerrikBlockingCall* substitutionCall() const { return substitution.get(); }
    FerrikBlockingCall* realmCall() const { return realmFetch.get(); }
    // Ends the waits under way, as Cancel in their dialog does.
    void cancelWaits();

    QByteArray pendingPackets;  // queued packets, each UTF-8 followed by one zero byte
    OVL::eid_t envId;
    // agent is set from the connect button until the connection ends; the task handler of the
    // last confirmed connection stays until the next one is confirmed.
    OVL::OVLAccessAgentPrototypePtr agent;
    FerrikHandlerPtr taskHandler;
    OVL::OVLAccessPointPrototypePtr accessPoint;  // for substitutions; reset on connect and disconnect
    OVL::OVLAccessAgentPrototypePtr realmAgent;   // the realm fetch, until it is confirmed
    FerrikReplyTimes replyTimes;                  // send times of the current connection

private:
    // Parses and sends each zero-terminated packet of pendingPackets as its own message.
    void sendParsed();
    // Send and Queue are enabled while the connection is confirmed and nothing is waited for.
    void updateSendState();
    void endRealmFetch();
    void showRealmFailure(const QString& what);
    // The status line of a first trust (FerrikConnHandler::agentTrusted), shown for the handler's
    // connection while `current` says it is still the one in use.
    void showFirstTrustOf(const FerrikConnHandler& handler, const std::function<bool()>& current);
    void showFirstTrust(const QString& what);

    FerrikDlg& window;
    QThreadPool pool;
    std::unique_ptr<FerrikBlockingCall> substitution;
    std::unique_ptr<FerrikBlockingCall> realmFetch;
    OVL::OVLAccessAgentPrototypePtr realmConnection;  // the realm fetch's agent, while it runs
    bool confirmed = false;                           // onConnect came for the current connection
    unsigned connectionGeneration = 0;
    unsigned realmGeneration = 0;
};
