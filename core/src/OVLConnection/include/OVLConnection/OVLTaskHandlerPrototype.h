// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// Callbacks of the tasks of an agent connection (OVLAccessAgentPrototype::createTask).
//
// A handler receives the frames that the agent sends to it: the replies to its parsed requests
// (matched by the packet's id), and, once a task of the handler was started with start(), every
// frame that no pending parsed request claims (the replies to raw requests).
//
// Delivery of one frame: onReplyPiece for each piece of the frame as it arrives (the bytes read
// from the connection at once, the zero terminator excluded). A piece callback that returns true
// (leaving `used` at 0) asks for the whole frame: it comes later through onReplyComplete. One that
// returns false has consumed the piece (raw display of each piece as it arrives); if every piece
// was consumed, onReplyComplete does not come for that frame.
//
// Threads: every callback comes on the client library's I/O thread, never inside a call of the
// caller; callbacks must not block. The raw flag may be set on any thread.
// Ownership: the library holds the handler by intrusive pointer while a callback may still come.

#include <atomic>
#include <cstddef>

#include <boost/intrusive_ptr.hpp>

#include "OVLConnection/OVLReply.h"
#include "OVLCore/OVLRefCounter.h"
#include "OVLLibCore/OVLRequestErrorData.h"

namespace OVL {

class OVLTaskHandlerPrototype : public virtual OVLRefCounter {
public:
    ~OVLTaskHandlerPrototype() override;

    // A complete reply frame. The handler takes the text (reply->getText) and ends with
    // reply->finish(), whose result it returns.
    virtual int onReplyComplete(const OVLReplyPtr& reply);
    // A request of this handler will get no reply: the connection ended before it came, the
    // request could not be written, or no reply came within OVL_REQUEST_TIMEOUT_MS (code
    // kTimeout; a reply that still comes later goes to the subscribed handlers). Also for a write
    // that failed. The message of a parsed request's error begins with "request <id>: "; that of
    // a raw request's time-out with "raw request: ".
    virtual void onRequestError(const OVLRequestErrorData& err);
    // A write of this handler's task reached the connection. The default does nothing and marks
    // the handler as having no use for the call: the library then stops making it for writes that
    // go out from the caller's thread, each of which would otherwise cost a wake-up of the I/O
    // thread. Override it to get every one (an override that calls the default gets no more).
    virtual void onWriteFinished();
    // One piece of a frame (see above). The default asks for the complete frame.
    virtual bool onReplyPiece(const char* bytes, std::size_t length, std::size_t& used);

    // False once the default onWriteFinished ran. Any thread.
    bool wantsWriteFinished() const noexcept {
        return !m_writeFinishedUnused.load(std::memory_order_relaxed);
    }

    bool isRaw() const noexcept { return m_raw.load(std::memory_order_relaxed); }
    void setRaw(bool raw) noexcept { m_raw.store(raw, std::memory_order_relaxed); }

protected:
    // Raw mode of the owner's display; the library itself does not read it.
    std::atomic<bool> m_raw{false};

private:
    std::atomic<bool> m_writeFinishedUnused{false};
};

using OVLTaskHandlerPrototypePtr = boost::intrusive_ptr<OVLTaskHandlerPrototype>;

}  // namespace OVL
