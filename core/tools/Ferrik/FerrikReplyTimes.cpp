// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "FerrikReplyTimes.h"

#include <QXmlStreamReader>

#include <algorithm>
#include <chrono>

namespace {

// A request whose reply never comes (a time-out) must not keep its entry for ever.
constexpr qsizetype kMaxOutstanding = 4096;

}  // namespace

qint64 FerrikReplyTimes::now() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void FerrikReplyTimes::sentParsed(const QString& id, qint64 at) {
    if (sent.size() >= kMaxOutstanding) {
        sent.clear();
    }
    sent.insert(id, at);
}

void FerrikReplyTimes::sentRaw(qint64 at) {
    rawSent = at;
    rawFirst = -1;
    rawBytes = 0;
    rawPieces = 0;
}

void FerrikReplyTimes::clear() {
    sent.clear();
    rawSent = -1;
    rawFirst = -1;
    rawBytes = 0;
    rawPieces = 0;
}

QString FerrikReplyTimes::parsedReply(const QString& id, qint64 at, qint64 bytes) {
    const QString who = id.isEmpty() ? QStringLiteral("Reply") : QStringLiteral("Reply %1").arg(id);
    const auto it = id.isEmpty() ? sent.end() : sent.find(id);
    if (it == sent.end()) {
        return QStringLiteral("%1: %2").arg(who, formatSize(bytes));
    }
    const qint64 elapsed = at - it.value();
    sent.erase(it);
    return QStringLiteral("%1: %2, %3").arg(who, formatMs(elapsed), formatSize(bytes));
}

QString FerrikReplyTimes::rawPiece(qint64 at, qint64 bytes) {
    rawBytes += bytes;
    ++rawPieces;
    const QString size = rawPieces == 1
                             ? formatSize(rawBytes)
                             : QStringLiteral("%1 in %2 pieces").arg(formatSize(rawBytes)).arg(rawPieces);
    if (rawSent < 0) {
        return QStringLiteral("Raw reply: %1").arg(size);
    }
    if (rawFirst < 0) {
        rawFirst = at;
    }
    return QStringLiteral("Raw reply: first piece %1, last piece %2, %3")
        .arg(formatMs(rawFirst - rawSent), formatMs(at - rawSent), size);
}

QString FerrikReplyTimes::replyId(QByteArrayView reply) {
    // Only the root element's start tag is read, however long the reply.
    QXmlStreamReader reader(QByteArray::fromRawData(reply.data(), reply.size()));
    reader.setNamespaceProcessing(false);  // an undeclared prefix does not hide the id
    while (!reader.atEnd()) {
        if (reader.readNext() == QXmlStreamReader::StartElement) {
            return reader.attributes().value(QLatin1String("id")).toString();
        }
    }
    return QString();
}

QString FerrikReplyTimes::formatMs(qint64 ns) {
    const double ms = double(std::max<qint64>(ns, 0)) / 1e6;
    return ms < 10000 ? QStringLiteral("%1 ms").arg(ms, 0, 'f', 1)
                      : QStringLiteral("%1 s").arg(ms / 1000, 0, 'f', 2);
}

QString FerrikReplyTimes::formatSize(qint64 bytes) {
    if (bytes < 1024) {
        return QStringLiteral("%1 B").arg(bytes);
    }
    if (bytes < qint64{1024} * 1024) {
        return QStringLiteral("%1 KB").arg(double(bytes) / 1024, 0, 'f', 1);
    }
    return QStringLiteral("%1 MB").arg(double(bytes) / (1024 * 1024), 0, 'f', 1);
}
