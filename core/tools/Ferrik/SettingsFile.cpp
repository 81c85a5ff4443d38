// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "SettingsFile.h"

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <string>

#include "OVLCommon/AtomicFile.h"
#include "OVLMessage/OVLMessage.h"

namespace {

const char kRootName[] = "config";

FileIdentity identityOfStat(const struct stat& st) {
    FileIdentity identity;
    identity.device = st.st_dev;
    identity.inode = st.st_ino;
    identity.size = st.st_size;
    identity.modifiedNs = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    return identity;
}

void readValues(OVL::OVLMessageIterator& it, SettingsValues& values) {
    std::string host;
    if (it.readText("host", host) == 0) {
        values.host = host;
    }
    int type = 0;
    if (it.readInt("type", type) == 0) {
        values.type = type;
    }
    for (std::size_t i = 0; i < kFerrikOptions.size(); ++i) {
        const FerrikOption& option = kFerrikOptions[i];
        if (option.number != nullptr) {
            int number = 0;
            if (it.readInt(option.key, number) == 0) {
                values.options[i] = number;
            }
        } else {
            bool flag = false;
            if (it.readBool(option.key, flag) == 0) {
                values.options[i] = flag ? 1 : 0;
            }
        }
    }
}

// A temporary file of a save: "<name>.tmp-<pid>-<n>"; the pid, or 0 for any other name.
pid_t writerOfTemporary(const QString& name, const QString& prefix) {
    if (!name.startsWith(prefix + QLatin1Char('-'))) {
        return 0;
    }
    const QStringList parts = name.mid(prefix.size() + 1).split(QLatin1Char('-'));
    bool pidOk = false;
    bool counterOk = false;
    if (parts.size() != 2) {
        return 0;
    }
    const long pid = parts[0].toLong(&pidOk);
    parts[1].toULongLong(&counterOk);
    return pidOk && counterOk && pid > 0 ? static_cast<pid_t>(pid) : 0;
}

}  // namespace

FileIdentity identityOf(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
        return {};
    }
    return identityOfStat(st);
}

SettingsRead readSettingsFile(const QString& path, SettingsContent& content, FileIdentity& identity,
                              QString& error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        const QFileInfo info(path);
        if (!info.exists() && !info.isSymLink()) {
            return SettingsRead::Missing;
        }
        error = file.errorString();
        return SettingsRead::Unreadable;
    }
    struct stat st {};
    if (::fstat(file.handle(), &st) != 0 || !S_ISREG(st.st_mode)) {
        error = QStringLiteral("not a regular file");
        return SettingsRead::Unreadable;
    }
    if (static_cast<std::size_t>(st.st_size) > OVL::OVLMessage::kMaxFileSize) {
        error = QStringLiteral("larger than %1 bytes").arg(OVL::OVLMessage::kMaxFileSize);
        return SettingsRead::Unreadable;
    }
    const QByteArray text = file.readAll();
    if (text.isEmpty()) {
        error = QStringLiteral("the file is empty");
        return SettingsRead::Unreadable;
    }
    OVL::OVLMessagePtr message = OVL::OVLMessage::getFactory()->createNew();
    if (message->parse(text.constData(), static_cast<std::size_t>(text.size())) != 0) {
        error = QString::fromStdString(message->getError());
        return SettingsRead::Unreadable;
    }
    identity = identityOfStat(st);
    content = SettingsContent();
    OVL::OVLMessageIterator it = message->getIterator();
    readValues(it, content.values);
    readHostRecords(it, content.hosts);
    readHistoryEntries(it, content.history);
    return SettingsRead::Read;
}

int writeSettingsFile(const QString& path, const SettingsContent& content, QString& error) {
    OVL::OVLMessagePtr message = OVL::OVLMessage::getFactory()->createNew();
    message->setRootName(kRootName);
    OVL::OVLMessageIterator it = message->getIterator();
    const SettingsValues& values = content.values;
    it.writeText("host", values.host.value_or(std::string()));
    it.writeInt("type", values.type.value_or(0));
    for (std::size_t i = 0; i < kFerrikOptions.size(); ++i) {
        it.writeInt(kFerrikOptions[i].key, values.options[i].value_or(kFerrikOptions[i].atStart));
    }
    writeHostRecords(it, content.hosts);
    writeHistoryEntries(it, content.history);
    if (message->save(QFile::encodeName(path).constData()) != 0) {
        error = QString::fromStdString(message->getError());
        return -1;
    }
    return 0;
}

void removeLeftoverTemporaries(const QString& path) {
    const QFileInfo target(path);
    const QString prefix = target.fileName() + QStringLiteral(".tmp");
    const QDir dir = target.absoluteDir();
    for (const QString& name : dir.entryList({prefix + QStringLiteral("-*")}, QDir::Files | QDir::Hidden)) {
        const pid_t writer = writerOfTemporary(name, prefix);
        // A save of a process that still runs may be under way (one that does not take the lock).
        if (writer != 0 && ::kill(writer, 0) != 0 && errno == ESRCH) {
            QFile::remove(dir.filePath(name));
        }
    }
}
