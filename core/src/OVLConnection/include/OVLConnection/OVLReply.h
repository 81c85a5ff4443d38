// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// One complete reply frame of the agent, handed to OVLTaskHandlerPrototype::onReplyComplete.
// The text is the agent's packet exactly as received, without the frame's zero terminator.
//
// Threads: a reply is given to one handler on the library's I/O thread; its members are not
// synchronised, so keep it on one thread at a time.

#include <cstddef>
#include <string>

#include <boost/intrusive_ptr.hpp>

#include "OVLCore/OVLRefCounter.h"

namespace OVL {

class OVLReply : public OVLRefCounter {
public:
    explicit OVLReply(std::string text);
    ~OVLReply() override;

    // A malloc'd, zero-terminated copy of the text from byte `offset` on; the caller frees it with
    // free(). `maxKiB` bounds the size of the copy in KiB (0: no bound). Returns null and sets
    // `error` when the reply was finished, `offset` lies past the end, the text is larger than the
    // bound, or memory ran out; the reply is never cut short silently.
    char* getText(std::size_t offset, std::string& error, std::size_t maxKiB) const;

    // The handler is done with the reply: its text is released. 0; -1 when it was finished already.
    int finish();

    const std::string& text() const noexcept { return m_text; }
    bool isFinished() const noexcept { return m_finished; }

private:
    std::string m_text;
    bool m_finished = false;
};

using OVLReplyPtr = boost::intrusive_ptr<OVLReply>;

}  // namespace OVL
