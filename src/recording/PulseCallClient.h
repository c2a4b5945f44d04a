// The call client over the PulseAudio (or PipeWire's PulseAudio) audio server: a call is another
// application holding a microphone open; its sides are the microphone it reads and what it plays
// itself, each stream on its own. libpulse stays behind this header.
#pragma once

#include <memory>

#include "SkypeClient.h"

class PulseConnection;

class PulseCallClient : public ISkype, private IClient {
    Q_OBJECT
public:
    struct Options {
        bool refuseMonitors = false;  // play a server without per-stream monitors
    };
    PulseCallClient();
    explicit PulseCallClient(Options options);
    ~PulseCallClient() override;

    IClient& Client() override { return *this; }
    std::unique_ptr<ICallCollection> ActiveCalls() override;
    void finishFiles() override;
    CallReport takeCallReport(const QString& callId) override;

private:
    bool IsRunning() const override;

    std::shared_ptr<PulseConnection> m_connection;
};
