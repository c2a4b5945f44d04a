// The call client over the PulseAudio (or PipeWire's PulseAudio) audio server: a call is another
// application holding a microphone open; its sides are the microphone it reads and the monitor
// of the output it plays to. libpulse stays behind this header.
#pragma once

#include <memory>

#include "SkypeClient.h"

class PulseConnection;

class PulseCallClient : public ISkype, private IClient {
    Q_OBJECT
public:
    PulseCallClient();
    ~PulseCallClient() override;

    IClient& Client() override { return *this; }
    std::unique_ptr<ICallCollection> ActiveCalls() override;
    void finishFiles() override;

private:
    bool IsRunning() const override;

    std::shared_ptr<PulseConnection> m_connection;
};
