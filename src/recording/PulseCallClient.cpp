#include "PulseCallClient.h"

#include "AppError.h"
#include "PulseConnection_p.h"

namespace {

constexpr int kConnectTimeoutMs = 2000;

class PulseCall : public ICall {
public:
    PulseCall(std::weak_ptr<PulseConnection> connection, QString id)
        : m_connection(std::move(connection)), m_id(std::move(id)) {}

    QString Id() const override { return m_id; }
    void setCaptureMicDevice(int deviceType, const QString& path) override {
        connection(deviceType)->recordMicrophone(m_id, path);
    }
    void setOutputDevice(int deviceType, const QString& path) override {
        connection(deviceType)->recordOutput(m_id, path);
    }

private:
    std::shared_ptr<PulseConnection> connection(int deviceType) const {
        if (deviceType != callIoDeviceTypeFile)
            throw AppError("Only a file can receive a call's audio here.");
        auto connection = m_connection.lock();
        if (!connection) throw AppError("The call client was closed.");
        return connection;
    }

    std::weak_ptr<PulseConnection> m_connection;
    QString m_id;
};

class PulseCallCollection : public ICallCollection {
public:
    explicit PulseCallCollection(std::vector<CallPtr> calls) : m_calls(std::move(calls)) {}
    int Count() const override { return int(m_calls.size()); }
    CallPtr Item(int index) const override {
        if (index < 1 || index > Count()) throw AppError("Invalid index");
        return m_calls[size_t(index - 1)];
    }

private:
    std::vector<CallPtr> m_calls;
};

}  // namespace

PulseCallClient::PulseCallClient() : PulseCallClient(Options()) {}

PulseCallClient::PulseCallClient(Options options) {
    // Events come from the server's thread; the window hears of them on its own thread.
    m_connection = std::make_shared<PulseConnection>(
        [this](const QString& id, int status) {
            QMetaObject::invokeMethod(
                this,
                [this, id, status] {
                    emit CallStatus(std::make_shared<PulseCall>(m_connection, id), status);
                },
                Qt::QueuedConnection);
        },
        PulseConnection::Options{options.refuseMonitors});
}

PulseCallClient::~PulseCallClient() = default;

bool PulseCallClient::IsRunning() const {
    return m_connection->waitUntilReady(kConnectTimeoutMs);
}

std::unique_ptr<ICallCollection> PulseCallClient::ActiveCalls() {
    if (!m_connection->waitUntilReady(kConnectTimeoutMs))
        throw AppError("The audio server does not answer.");
    std::vector<CallPtr> calls;
    for (const QString& id : m_connection->calls())
        calls.push_back(std::make_shared<PulseCall>(m_connection, id));
    return std::make_unique<PulseCallCollection>(std::move(calls));
}

void PulseCallClient::finishFiles() {
    m_connection->finishAll();
}

CallReport PulseCallClient::takeCallReport(const QString& callId) {
    return m_connection->takeReport(callId);
}
