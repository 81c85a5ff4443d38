// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// A task: a request context of one agent connection, made by OVLAccessAgentPrototype::createTask.
// A task object may be released right after its operation was called; the connection keeps what
// it still needs.
//
// All operations may be called on any thread and return at once; results come through the task
// handler's callbacks on the library's I/O thread. Writes made before the login completed are held
// and written after it, in order; if the connection fails first, the handler gets onRequestError.

#include <cstddef>
#include <string>

#include <boost/intrusive_ptr.hpp>

#include "OVLCore/OVLRefCounter.h"
#include "OVLMessage/OVLMessageBody.h"

namespace OVL {

class OVLTask : public OVLRefCounter {
public:
    ~OVLTask() override;

    // Subscribes the task's handler to the connection's frames that no pending parsed request
    // claims. Idempotent per handler: a handler subscribed twice gets each frame once. The
    // subscription lasts as long as the connection. 0; -1 without handler or connection.
    virtual int start() = 0;
    // Writes the bytes given at createTask as they are (one or more zero-terminated packets); a
    // zero byte is added when the data does not end with one, so that the stream stays in step.
    // onWriteFinished follows the write. 0; -1 when the task has no data or no connection.
    virtual int startRaw() = 0;
    // Sends the message body as one request whose packet id is the task's id (createTask's id
    // output); the reply goes to the task's handler only. 0; -1 for a null or unparsable body, a
    // task without id, or no connection.
    virtual int send(const OVLMessageBodyPtr& body) = 0;

    // The id of the task's parsed request; empty for tasks made without id output.
    virtual const std::string& getID() const = 0;
};

using OVLTaskPtr = boost::intrusive_ptr<OVLTask>;

}  // namespace OVL
