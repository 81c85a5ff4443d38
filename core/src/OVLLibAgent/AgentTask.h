// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// The library's task: a handler, optional raw data or a request id, and the session to use.

#include <memory>
#include <string>

#include "AgentSession.h"
#include "OVLLibAgent/OVLTask.h"

namespace OVL::Agent {

class AgentTask : public OVLTask {
public:
    AgentTask(std::shared_ptr<AgentSession> session, OVLTaskHandlerPrototypePtr handler, std::string name);

    void setData(const void* data, std::size_t length);
    void setID(std::string id) { m_id = std::move(id); }

    int start() override;
    int startRaw() override;
    int send(const OVLMessageBodyPtr& body) override;
    const std::string& getID() const override { return m_id; }

private:
    std::shared_ptr<AgentSession> m_session;
    OVLTaskHandlerPrototypePtr m_handler;
    std::string m_name;
    std::string m_data;
    bool m_hasData = false;
    std::string m_id;
};

}  // namespace OVL::Agent
