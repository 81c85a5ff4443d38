// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// FerrikAgentLink: queuing and sending packets, and the substitution of ${field:value}
// placeholders by environment identifiers.
#include <QRegularExpression>

#include <cstring>
#include <string>

#include "FerrikAgentLink.h"
#include "FerrikDlg.h"
#include "OVLFunctionalityCore/OVLAnyData.h"
#include "OVLFunctionalityCore/OVLEnv.h"
#include "OVLMessage/OVLElement.h"
#include "OVLMessage/OVLMessage.h"
#include "OVLMessage/OVLMsgFactory.h"

int FerrikAgentLink::queue() {
    if (substitution) {
        // Reached only by a direct call: Send and Queue are disabled while a packet waits for
        // its environment list. Nothing may overtake that packet.
        window.appendError(tr("still waiting for the agent; nothing was queued"));
        return -1;
    }
    QString text = window.teInput->toPlainText();
    if (window.substitiotions && substitute(text) != 0) {
        return -1;
    }
    pendingPackets.append(text.toUtf8());
    pendingPackets.append('\0');
    if (window.cbClearInput->isChecked()) {
        window.teInput->clear();
    }
    window.appendText(window.histInput, text, false, window.raw);
    return 0;
}

void FerrikAgentLink::send() {
    if (queue() != 0) {
        return;
    }
    // The send button is enabled only while connected; a send without a connection (a call from
    // elsewhere) keeps the queue for the next one.
    if (!agent || !taskHandler) {
        return;
    }
    if (window.raw) {
        replyTimes.sentRaw(FerrikReplyTimes::now());
        agent
            ->createTask(envId, std::string(), taskHandler, pendingPackets.constData(),
                         static_cast<std::size_t>(pendingPackets.size()))
            ->startRaw();
    } else {
        sendParsed();
    }
    pendingPackets.clear();
}

// Every queued packet goes out as its own message, in queue order; one that does not parse is
// reported and skipped, the others still go.
void FerrikAgentLink::sendParsed() {
    OVL::OVLMsgFactoryPtr factory = OVL::OVLMessage::getFactory();
    const char* packet = pendingPackets.constData();
    const char* const end = packet + pendingPackets.size();
    while (packet < end) {
        OVL::OVLMessagePtr message = factory->createNew();
        if (message->parse(packet, 0, 0) != 0) {
            window.appendWarning(tr("can't parse message, try to send as raw!"));
        } else {
            std::string id;
            const OVL::OVLTaskPtr task = agent->createTask(envId, std::string(), taskHandler, id);
            replyTimes.sentParsed(QString::fromStdString(id), FerrikReplyTimes::now());
            task->send(message->getBody(0));
            window.appendText(window.histInput, tr("Sent message ID: ") + QString::fromStdString(id), false,
                              true);
        }
        packet += std::strlen(packet) + 1;
    }
}

int FerrikAgentLink::substitute(QString& text) {
    if (!accessPoint) {
        const unsigned generation = connectionGeneration;
        accessPoint = OVL::OVLAccessPointPrototype::createInstance(agent, nullptr);
        const OVL::OVLAccessPointPrototypePtr starting = accessPoint;
        window.appendText(window.histOutput,
                          tr("<font color='navy'><b>Initilizing Access Point...</b></font>"), true, false);
        // The environment list comes over the network: the window goes on while it is fetched.
        substitution = std::make_unique<FerrikBlockingCall>(&window, pool, tr("Initilizing Access Point..."));
        substitution->start(
            [starting] { return starting->initializeSync(OVL::OVLConnectionInfo(), nullptr, 0x600000ab); });
        updateSendState();
        const std::optional<int> r = substitution->wait();
        releaseLater(substitution);
        updateSendState();
        if (!r || generation != connectionGeneration) {
            // Cancelled, or the connection ended meanwhile: the next queue starts afresh.
            if (accessPoint == starting) {
                accessPoint.reset();
            }
            window.appendError(tr("waiting for the agent was cancelled; nothing was queued"));
            return -1;
        }
        if (*r != 0) {
            window.appendError(tr("unable to initialize Access Point.") + QLatin1Char(' ') +
                               QString::fromStdString(starting->getError()).toHtmlEscaped());
            return -1;
        }
        window.appendText(window.histOutput, tr("Successfully Initilized Access Point..."), true, true);
    }
    const OVL::OVLEnvCache::EnvValuesListPtr list = accessPoint->getEnvList();
    if (!list) {
        // The access point failed before and is kept until the next connect or disconnect.
        window.appendError(
            tr("no environment list (the Access Point could not be initialized); nothing was "
               "queued. Connect again to retry."));
        return -1;
    }

    static const QRegularExpression placeholder(QStringLiteral("\\$\\{(\\w+):(\\w+)\\}"));
    qsizetype pos = 0;
    for (;;) {
        const QRegularExpressionMatch match = placeholder.match(text, pos);
        if (!match.hasMatch()) {
            return 0;
        }
        pos = match.capturedStart();
        const QString field = match.captured(1);
        const QString value = match.captured(2);
        bool replaced = false;
        for (const OVL::OVLEnvPtr& candidate : *list) {
            if (configMatches(candidate->getConfig(), field, value) ||
                configMatches(candidate->getRuntimeConfig(), field, value)) {
                text.replace(pos, match.capturedLength(),
                             QString::fromStdString(candidate->getEID().toString()));
                replaced = true;
                break;
            }
        }
        if (!replaced) {
            window.appendWarning(tr("no substitution found for ") + match.captured(0).toHtmlEscaped());
            return -1;
        }
        pos = pos + 1;
    }
}

bool FerrikAgentLink::configMatches(const OVL::OVLEnvConfig& config, const QString& field,
                                    const QString& value) {
    OVL::OVLAnyData data(OVL::OVLElement::Data);
    OVL::OVLMessageIterator it = data.any();
    it.write(OVL::OVLEnvConfig::Writer(), config);
    if (it.moveTo(field.toUtf8().constData()) != 0) {
        return false;
    }
    std::string text;
    if (it.getText(text) != 0) {
        return false;
    }
    return text == value.toUtf8().toStdString();
}

void FerrikAgentLink::cancelWaits() {
    if (substitution) {
        substitution->cancel();
    }
    if (realmFetch) {
        realmFetch->cancel();
    }
}
