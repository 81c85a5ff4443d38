// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// Task callbacks of the agent client library turned into Qt signals: every reply reaches the
// window as agentReadFinished(text) through a queued connection. In raw mode (the library base's
// raw flag) each piece of a reply is shown as it arrives; otherwise each reply once, complete.
//
// Threads: the callbacks run on the library's I/O thread (one thread for all callbacks); they only
// emit. The raw flag may be set on the GUI thread. Held by the library through an intrusive
// pointer; it has no parent.

#include <QObject>
#include <QString>
#include <QStringDecoder>

#include "FerrikConnHandler.h"  // the meta-type of OVL::OVLRequestErrorData
#include "OVLConnection/OVLTaskHandlerPrototype.h"

class FerrikHandler : public QObject, public OVL::OVLTaskHandlerPrototype {
    Q_OBJECT
public:
    FerrikHandler();
    ~FerrikHandler() override;

    // Emits the reply's text (UTF-8) and finishes the reply; returns the finish result. A reply too
    // large to be copied is reported in its place rather than dropped silently.
    int onReplyComplete(const OVL::OVLReplyPtr& reply) override;
    // Emits agentRequestError, so that the window shows what became of the request.
    void onRequestError(const OVL::OVLRequestErrorData& err) override;
    void onWriteFinished() override;
    // Raw mode: shows the piece and consumes it (false). Otherwise asks for the whole reply (true).
    bool onReplyPiece(const char* bytes, std::size_t length, std::size_t& used) override;

signals:
    void agentReadFinished(const QString& data);
    // Emitted right before the agentReadFinished of a reply or piece: the id of a complete reply
    // (empty for a raw piece), the moment the library handed it over (FerrikReplyTimes::now) and
    // its size in bytes.
    void agentReplyTimed(const QString& id, qint64 at, qint64 bytes, bool piece);
    void agentWriteFinished();
    // A request failed or got no reply in time (the message names the request).
    void agentRequestError(const OVL::OVLRequestErrorData& err);

private:
    // Pieces are cut where the reads fell, possibly inside a multi-byte character; the decoder
    // keeps an incomplete character for the next piece instead of showing replacement marks.
    QStringDecoder pieceDecoder{QStringDecoder::Utf8};
};

using FerrikHandlerPtr = boost::intrusive_ptr<FerrikHandler>;
