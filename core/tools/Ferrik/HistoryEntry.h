// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// One remembered packet of the message history: the packet text, the label shown in the history
// tree and the group (target) it belongs to. A plain value type; GUI thread only.

#include <QHashFunctions>
#include <QList>
#include <QString>

namespace OVL {
class OVLMessageIterator;
}

class HistoryEntry {
public:
    // Group of packets that parse but name no target.
    static const QString& systemMessages();
    // Group of text that does not parse as a message.
    static const QString& invalidMessages();

    HistoryEntry() = default;
    // Parses `packetText` with the message library: target from the root's `target` child ("System
    // Messages" when there is none), label from the name of the element two levels inside `data`
    // (empty when there is none). Text that does not parse goes to "Invalid Messages" with an
    // empty label. Never fails.
    explicit HistoryEntry(const QString& packetText);

    QString packet;
    QString function;
    QString target;

    bool operator==(const HistoryEntry& other) const = default;

    // Run on a `history` element of the settings file: its children target (1401), label (1010)
    // and data (1307), UTF-8. Reader: -1 at the first missing child (the entry may then be partly
    // filled). Writer: -1 when a field cannot be written (text with a zero character).
    struct Reader {
        int operator()(OVL::OVLMessageIterator& it, HistoryEntry& entry) const;
    };
    struct Writer {
        int operator()(OVL::OVLMessageIterator& it, const HistoryEntry& entry) const;
    };
};

inline size_t qHash(const HistoryEntry& entry, size_t seed = 0) noexcept {
    return qHashMulti(seed, entry.target, entry.function, entry.packet);
}

// The `history` elements directly below the iterator's element, in order: the reader skips those
// that HistoryEntry::Reader rejects and returns 0; the writer leaves out an entry that cannot be
// written (no half-written element stays) and then returns -1.
int readHistoryEntries(OVL::OVLMessageIterator& it, QList<HistoryEntry>& entries);
int writeHistoryEntries(OVL::OVLMessageIterator& it, const QList<HistoryEntry>& entries);
