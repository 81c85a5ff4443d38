#include "FerrikHandler.h"

#include <cstdlib>
#include <string>

FerrikHandler::FerrikHandler() = default;

FerrikHandler::~FerrikHandler() = default;

int FerrikHandler::onReplyComplete(const OVL::OVLReplyPtr& reply) {
    std::string error;
    char* text = reply->getText(0, error, 40000);
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
        emit agentReadFinished(pieceDecoder.decode(QByteArrayView(bytes, static_cast<qsizetype>(length))));
        return false;
    }
    used = 0;
    return true;
}
