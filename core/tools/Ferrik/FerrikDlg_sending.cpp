// FerrikDlg: queuing and sending packets, and the substitution of ${field:value} placeholders by
// environment identifiers.
#include <QRegularExpression>

#include <cstring>
#include <string>

#include "FerrikDlg.h"
#include "OVLFunctionalityCore/OVLAnyData.h"
#include "OVLFunctionalityCore/OVLEnv.h"
#include "OVLMessage/OVLElement.h"
#include "OVLMessage/OVLMessage.h"
#include "OVLMessage/OVLMsgFactory.h"

int FerrikDlg::queue() {
    QString text = teInput->toPlainText();
    if (substitiotions && substitute(text) != 0) {
        return -1;
    }
    pendingPackets.append(text.toUtf8());
    pendingPackets.append('\0');
    if (cbClearInput->isChecked()) {
        teInput->clear();
    }
    appendText(histInput, text, false, raw);
    return 0;
}

void FerrikDlg::send() {
    if (queue() != 0) {
        return;
    }
    // The send button is enabled only while connected; a send without a connection (a call from
    // elsewhere) keeps the queue for the next one.
    if (!agent || !taskHandler) {
        return;
    }
    if (raw) {
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
void FerrikDlg::sendParsed() {
    OVL::OVLMsgFactoryPtr factory = OVL::OVLMessage::getFactory();
    const char* packet = pendingPackets.constData();
    const char* const end = packet + pendingPackets.size();
    while (packet < end) {
        OVL::OVLMessagePtr message = factory->createNew();
        if (message->parse(packet, 0, 0) != 0) {
            appendText(
                histOutput,
                tr("<font color='red'><b>WARNING:</b> can't parse message, try to send as raw!</font>"), true,
                true);
        } else {
            std::string id;
            agent->createTask(envId, std::string(), taskHandler, id)->send(message->getBody(0));
            appendText(histInput, tr("Sent message ID: ") + QString::fromStdString(id), false, true);
        }
        packet += std::strlen(packet) + 1;
    }
}

void FerrikDlg::onWriteFinished() {}

int FerrikDlg::substitute(QString& text) {
    if (!accessPoint) {
        accessPoint = OVL::OVLAccessPointPrototype::createInstance(agent, nullptr);
        appendText(histOutput, tr("<font color='navy'><b>Initilizing Access Point...</b></font>"), true,
                   false);
        const int r = accessPoint->initializeSync(OVL::OVLConnectionInfo(), nullptr, 0x600000ab);
        if (r != 0) {
            appendText(histOutput,
                       tr("<font color='red'><b>Error:</b> unable to initialize Access Point.</font>"), true,
                       true);
            return -1;
        }
        appendText(histOutput, tr("Successfully Initilized Access Point..."), true, true);
    }
    const OVL::OVLEnvCache::EnvValuesListPtr list = accessPoint->getEnvList();
    if (!list) {
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
        for (auto env = list->begin(); env != list->end(); ++env) {
            const OVL::OVLEnvPtr& candidate = *env;
            if (configMatches(candidate->getConfig(), field, value) ||
                configMatches(candidate->getRuntimeConfig(), field, value)) {
                text.replace(pos, match.capturedLength(),
                             QString::fromStdString(candidate->getEID().toString()));
                replaced = true;
                break;
            }
        }
        if (!replaced) {
            appendText(histOutput,
                       tr("<font color='red'><b>WARNING:</b> no substitution found for ") +
                           match.captured(0).toHtmlEscaped() + QStringLiteral("</font>"),
                       true, true);
            return -1;
        }
        pos = pos + 1;
    }
}

bool FerrikDlg::configMatches(const OVL::OVLEnvConfig& config, const QString& field, const QString& value) {
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
