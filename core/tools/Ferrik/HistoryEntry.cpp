// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "HistoryEntry.h"

#include <string>

#include "OVLMessage/OVLElement.h"
#include "OVLMessage/OVLMessage.h"

namespace {

const char kHistoryElement[] = "history";

QString fromUtf8(const std::string& bytes) {
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

}  // namespace

const QString& HistoryEntry::systemMessages() {
    static const QString name = QStringLiteral("System Messages");
    return name;
}

const QString& HistoryEntry::invalidMessages() {
    static const QString name = QStringLiteral("Invalid Messages");
    return name;
}

HistoryEntry::HistoryEntry(const QString& packetText) : packet(packetText), target(invalidMessages()) {
    const QByteArray utf8 = packetText.toUtf8();
    // An empty text is no message; parse() with length 0 would read up to a zero byte.
    if (utf8.isEmpty()) {
        return;
    }
    OVL::OVLMessagePtr message = OVL::OVLMessage::getFactory()->createNew();
    if (message->parse(utf8.constData(), static_cast<std::size_t>(utf8.size())) != 0) {
        return;
    }
    OVL::OVLMessageIterator it = message->getIterator();
    std::string text;
    if (it.readText(OVL::OVLElement::Target, text) == 0) {
        target = fromUtf8(text);
    } else {
        target = systemMessages();
    }
    if (it.moveTo(OVL::OVLElement::Data) != 0 || it.moveToFirstChild() != 0 || it.moveToFirstChild() != 0) {
        return;
    }
    function = QString::fromUtf8(it.getName());
}

int HistoryEntry::Reader::operator()(OVL::OVLMessageIterator& it, HistoryEntry& entry) const {
    std::string text;
    if (it.readText(OVL::OVLElement::Target, text) != 0) {
        return -1;
    }
    entry.target = fromUtf8(text);
    if (it.readText(OVL::OVLElement::Label, text) != 0) {
        return -1;
    }
    entry.function = fromUtf8(text);
    if (it.readText(OVL::OVLElement::Data, text) != 0) {
        return -1;
    }
    entry.packet = fromUtf8(text);
    return 0;
}

int HistoryEntry::Writer::operator()(OVL::OVLMessageIterator& it, const HistoryEntry& entry) const {
    const QByteArray target = entry.target.toUtf8();
    const QByteArray label = entry.function.toUtf8();
    const QByteArray packet = entry.packet.toUtf8();
    if (it.writeText(OVL::OVLElement::Target, std::string_view(target.constData(), target.size())) != 0 ||
        it.writeText(OVL::OVLElement::Label, std::string_view(label.constData(), label.size())) != 0 ||
        it.writeText(OVL::OVLElement::Data, std::string_view(packet.constData(), packet.size())) != 0) {
        return -1;
    }
    return 0;
}

int readHistoryEntries(OVL::OVLMessageIterator& it, QList<HistoryEntry>& entries) {
    OVL::OVLMessageIterator element(it);
    if (element.moveTo(kHistoryElement) != 0) {
        return 0;
    }
    do {
        HistoryEntry entry;
        if (element.read(HistoryEntry::Reader(), entry) == 0) {
            entries.append(entry);
        }
    } while (element.moveToNext(kHistoryElement) == 0);
    return 0;
}

int writeHistoryEntries(OVL::OVLMessageIterator& it, const QList<HistoryEntry>& entries) {
    int result = 0;
    for (const HistoryEntry& entry : entries) {
        OVL::OVLMessageIterator element(it);
        if (element.addChild(kHistoryElement) != 0) {
            return -1;
        }
        // A half-written element would be skipped at the next start anyway; leave none.
        if (element.write(HistoryEntry::Writer(), entry) != 0) {
            element.removeCurrent();
            result = -1;
        }
    }
    return result;
}
