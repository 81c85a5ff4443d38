// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "SettingsMerge.h"

#include <QHash>
#include <QPair>

#include <set>
#include <string>

namespace {

// Unclaimed indices of theirs under a key, handed out first to last.
template <typename Key>
class Unclaimed {
public:
    void add(const Key& key, qsizetype index) { m_lists[key].prepend(index); }
    // The first unclaimed index under `key`, now claimed; -1 when there is none.
    qsizetype take(const Key& key) {
        const auto found = m_lists.find(key);
        if (found == m_lists.end() || found->isEmpty()) {
            return -1;
        }
        return found->takeLast();
    }

private:
    QHash<Key, QList<qsizetype>> m_lists;
};

using PacketKey = QPair<QString, QString>;  // target, packet: an entry whatever its label

PacketKey packetKey(const HistoryEntry& entry) {
    return {entry.target, entry.packet};
}

// The fields of the credentials that the settings file keeps (never the password).
bool sameStoredCredentials(const OVL::OVLAuthName& a, const OVL::OVLAuthName& b) {
    return a.getLogin() == b.getLogin() && a.getDomain() == b.getDomain() && a.getRealmID() == b.getRealmID();
}

template <typename T>
const T& pick(const T& mine, const T& mineAtSync, const T& fileNow) {
    return mine != mineAtSync || !fileNow.has_value() ? mine : fileNow;
}

}  // namespace

QList<TrackedEntry> rebaseHistory(const QList<HistoryEntry>& base, const QList<HistoryEntry>& theirs,
                                  const QList<TrackedEntry>& mine) {
    const qsizetype baseCount = base.size();
    const qsizetype theirCount = theirs.size();
    QList<qsizetype> mineOf(baseCount, -1);      // base index -> index in mine
    QList<qsizetype> theirsOf(baseCount, -1);    // base index -> index in theirs
    QList<qsizetype> baseOf(theirCount, -1);     // index in theirs -> base index
    QList<qsizetype> addedAs(theirCount, -1);    // index in theirs -> new entry of mine
    QList<bool> addedThere(mine.size(), false);  // new entries of mine found in theirs
    for (qsizetype m = 0; m < mine.size(); ++m) {
        if (mine[m].origin >= 0 && mine[m].origin < baseCount) {
            mineOf[mine[m].origin] = m;
        }
    }
    // Base entries still held here are matched first: of equal entries, the one deleted here is
    // then the one that theirs may lack.
    const auto eachBase = [&](const auto& match) {
        for (const bool held : {true, false}) {
            for (qsizetype b = 0; b < baseCount; ++b) {
                if ((mineOf[b] >= 0) == held && theirsOf[b] < 0) {
                    match(b);
                }
            }
        }
    };
    const auto link = [&](qsizetype b, qsizetype t) {
        if (t >= 0) {
            theirsOf[b] = t;
            baseOf[t] = b;
        }
    };

    // The same entry in theirs.
    Unclaimed<HistoryEntry> exact;
    for (qsizetype t = 0; t < theirCount; ++t) {
        exact.add(theirs[t], t);
    }
    eachBase([&](qsizetype b) { link(b, exact.take(base[b])); });

    // New entries of mine that theirs holds already.
    Unclaimed<HistoryEntry> unclaimed;
    for (qsizetype t = 0; t < theirCount; ++t) {
        if (baseOf[t] < 0) {
            unclaimed.add(theirs[t], t);
        }
    }
    for (qsizetype m = 0; m < mine.size(); ++m) {
        if (mine[m].origin < 0) {
            const qsizetype t = unclaimed.take(mine[m].entry);
            if (t >= 0) {
                addedAs[t] = m;
                addedThere[m] = true;
            }
        }
    }

    // A base entry that theirs lacks, and an entry of the same target and packet that nothing
    // accounts for: the same packet, relabelled by another console.
    Unclaimed<PacketKey> relabelled;
    for (qsizetype t = 0; t < theirCount; ++t) {
        if (baseOf[t] < 0 && addedAs[t] < 0) {
            relabelled.add(packetKey(theirs[t]), t);
        }
    }
    eachBase([&](qsizetype b) { link(b, relabelled.take(packetKey(base[b]))); });

    QList<TrackedEntry> result;
    result.reserve(theirCount + mine.size());
    for (qsizetype t = 0; t < theirCount; ++t) {
        if (addedAs[t] >= 0) {
            result.append({mine[addedAs[t]].entry, t});
            continue;
        }
        const qsizetype b = baseOf[t];
        if (b < 0) {
            result.append({theirs[t], t});  // added there
            continue;
        }
        const qsizetype m = mineOf[b];
        if (m < 0) {
            continue;  // deleted here
        }
        const HistoryEntry& held = mine[m].entry;
        result.append({held == base[b] ? theirs[t] : held, t});
    }
    for (qsizetype m = 0; m < mine.size(); ++m) {
        const qsizetype origin = mine[m].origin;
        if (origin < 0 || origin >= baseCount) {
            if (!addedThere[m]) {
                result.append({mine[m].entry, -1});
            }
        } else if (theirsOf[origin] < 0 && mine[m].entry != base[origin]) {
            result.append({mine[m].entry, -1});  // relabelled here, deleted there
        }
    }
    return result;
}

HostRecords rebaseHosts(const HostRecords& base, const HostRecords& theirs, const HostRecords& mine) {
    std::set<std::string> hosts;
    for (const HostRecords* records : {&base, &theirs, &mine}) {
        for (const auto& [host, record] : *records) {
            hosts.insert(host);
        }
    }
    const auto find = [](const HostRecords& records, const std::string& host) -> const HostRecord* {
        const auto found = records.find(host);
        return found == records.end() ? nullptr : &found->second;
    };
    static const HostRecord kNoRecord;
    HostRecords result;
    for (const std::string& host : hosts) {
        const HostRecord* was = find(base, host);
        const HostRecord* there = find(theirs, host);
        const HostRecord* here = find(mine, host);
        if (here == nullptr) {
            if (was == nullptr && there != nullptr) {
                result.emplace(host, *there);
            }
            continue;
        }
        const HostRecord& from = was != nullptr ? *was : kNoRecord;
        const bool credentialsChanged = !sameStoredCredentials(here->auth, from.auth);
        const bool realmsChanged = here->realms != from.realms;
        if (there == nullptr) {
            if (was == nullptr || credentialsChanged || realmsChanged) {
                result.emplace(host, *here);
            }
            continue;
        }
        HostRecord merged;
        merged.auth = credentialsChanged ? here->auth : there->auth;
        merged.realms = realmsChanged ? here->realms : there->realms;
        result.emplace(host, std::move(merged));
    }
    return result;
}

SettingsValues mergeValues(const SettingsValues& mine, const SettingsValues& mineAtSync,
                           const SettingsValues& fileNow) {
    SettingsValues result;
    result.host = pick(mine.host, mineAtSync.host, fileNow.host);
    result.type = pick(mine.type, mineAtSync.type, fileNow.type);
    for (std::size_t i = 0; i < result.options.size(); ++i) {
        result.options[i] = pick(mine.options[i], mineAtSync.options[i], fileNow.options[i]);
    }
    return result;
}
