// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// Reply time and size of the console's requests. Parsed mode: every reply carries its request's
// id, and its time is measured from the send of that id to the moment the complete reply was handed
// over by the client library. Raw mode: the replies come as pieces without ids; the time to the
// first and to the latest piece after the last raw send is measured, with the bytes so far.
//
// Times are steady-clock nanoseconds (now()), taken on the GUI thread at the send and on the
// library's I/O thread at the reply. GUI thread only otherwise.

#include <QHash>
#include <QString>
#include <QStringView>

class FerrikReplyTimes {
public:
    // The steady clock in nanoseconds; comparable across threads.
    static qint64 now();

    void sentParsed(const QString& id, qint64 at);
    void sentRaw(qint64 at);
    // Forgets every send (a new connection).
    void clear();

    // The status text of a complete parsed reply, e.g. "Reply r12: 12.4 ms, 1.2 KB"; the send of id
    // is forgotten. Without a known send the time is left out.
    QString parsedReply(const QString& id, qint64 at, qint64 bytes);
    // The status text of a raw piece, e.g. "Raw reply: first piece 3.1 ms, last piece 12.4 ms,
    // 4.2 KB in 5 pieces".
    QString rawPiece(qint64 at, qint64 bytes);
    // Requests sent in parsed mode whose reply has not come.
    int outstanding() const { return int(sent.size()); }

    // The id attribute of the reply's root element; empty when there is none.
    static QString replyId(QByteArrayView reply);
    static QString formatMs(qint64 ns);
    static QString formatSize(qint64 bytes);

private:
    QHash<QString, qint64> sent;
    qint64 rawSent = -1;
    qint64 rawFirst = -1;
    qint64 rawBytes = 0;
    int rawPieces = 0;
};
