#pragma once

#include "service/agent.h"
#include "service/idlequeue.h"
#include "service/processingthread.h"
#include "service/userlocation.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

namespace mr {

// The agent with its idle queue and completion path, driven step by step for programs
// without windows: each step runs a local event loop until its answer arrives.
class HeadlessSession : public QObject {
    Q_OBJECT
public:
    static constexpr int kDefaultStepTimeoutMs = 60000;

    explicit HeadlessSession(QObject* parent = nullptr);
    ~HeadlessSession() override;

    TMRAgentHttp& agent() { return *m_agent; }
    // The longest wait for one reply.
    void setStepTimeout(int ms) { m_stepTimeoutMs = ms; }

    // Signs on, trying the service hosts one after another from the current host index until
    // one accepts; true when online.
    bool signOn(std::uint16_t infoPort, std::uint16_t fileServerPort);
    // "H"; nothing when the request failed or its reply does not read.
    std::optional<UserLocation> locate(qint32 userId);
    void signOff();

    // Runs a request operation and waits for its completion; nothing when it was not queued,
    // failed or timed out.
    std::optional<QByteArray> await(const std::function<bool(RequestHandler)>& send);

private:
    std::unique_ptr<TIdleQueue> m_idle;
    std::unique_ptr<TMRAgentHttp> m_agent;
    std::unique_ptr<TProcessingThread> m_processing;
    int m_stepTimeoutMs = kDefaultStepTimeoutMs;
};

}  // namespace mr
