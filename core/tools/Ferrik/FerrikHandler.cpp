// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "FerrikHandler.h"
#include "FerrikReplyTimes.h"

#include <cstdlib>
#include <string>

namespace {
// The largest reply the window shows, in KiB (the bound of OVLReply::getText): 40000 KiB, about
// 39 MiB. A longer reply is reported in its place ("Reply not shown: ...").
constexpr std::size_t kMaxShownReplyKiB = 40000;
}  // namespace

FerrikHandler::FerrikHandler() = default;

FerrikHandler::~FerrikHandler() = default;

int FerrikHandler::onReplyComplete(const OVL::OVLReplyPtr& reply) {
    const qint64 at = FerrikReplyTimes::now();
    const std::string& whole = reply->text();
    emit agentReplyTimed(FerrikReplyTimes::replyId(QByteArrayView(whole.data(), qsizetype(whole.size()))), at,
                         qint64(whole.size()), false);
    std::string error;
    char* text = reply->getText(0, error, kMaxShownReplyKiB);
    if (text != nullptr) {
        emit agentReadFinished(QString::fromUtf8(text));
        std::free(text);
    } else {
        emit agentReadFinished(QStringLiteral("Reply not shown: %1").arg(QString::fromStdString(error)));
    }
    return reply->finish();
}

void FerrikHandler::onRequestError(const OVL::OVLRequestErrorData& err) {
    emit agentRequestError(err);
}

void FerrikHandler::onWriteFinished() {
    emit agentWriteFinished();
}

bool FerrikHandler::onReplyPiece(const char* bytes, std::size_t length, std::size_t& used) {
    if (isRaw()) {
        used = length;
        emit agentReplyTimed(QString(), FerrikReplyTimes::now(), qint64(length), true);
        emit agentReadFinished(pieceDecoder.decode(QByteArrayView(bytes, static_cast<qsizetype>(length))));
        return false;
    }
    used = 0;
    return true;
}
