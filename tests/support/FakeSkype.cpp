#include "FakeSkype.h"

#include <cmath>

#include "AppError.h"
#include "WavBytes.h"

namespace {

constexpr int kRate = 48000;

QByteArray toneWav(double hertz, double seconds) {
    std::vector<qint16> samples(size_t(seconds * kRate));
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = qint16(10000 * std::sin(2 * M_PI * hertz * double(i) / kRate));
    return pcmWav(samples, 1, kRate);
}

class FakeCollection : public ICallCollection {
public:
    explicit FakeCollection(QList<std::shared_ptr<FakeCall>> calls) : m_calls(std::move(calls)) {}
    int Count() const override { return int(m_calls.size()); }
    CallPtr Item(int index) const override {
        if (index < 1 || index > m_calls.size()) throw AppError("Invalid index");
        return m_calls[index - 1];
    }

private:
    QList<std::shared_ptr<FakeCall>> m_calls;
};

class FakeSkype : public ISkype, private IClient {
public:
    explicit FakeSkype(FakeCallWorld& world) : m_world(world) { m_world.latest = this; }
    ~FakeSkype() override {
        if (m_world.latest == this) m_world.latest = nullptr;
    }
    IClient& Client() override { return *this; }
    std::unique_ptr<ICallCollection> ActiveCalls() override {
        if (!m_world.running) throw AppError("Skype is not running");
        return std::make_unique<FakeCollection>(m_world.calls);
    }

    CallReport takeCallReport(const QString& callId) override {
        return m_world.reports.take(callId);
    }

private:
    bool IsRunning() const override { return m_world.running; }
    FakeCallWorld& m_world;
};

}  // namespace

void FakeCall::setCaptureMicDevice(int deviceType, const QString& path) {
    if (failRedirects || deviceType != callIoDeviceTypeFile)
        throw AppError("Call " + m_id + " is not in progress");
    redirects << "mic:" + path;
    if (writesMic) writeBytes(path, micBytes.value_or(toneWav(m_micHertz, m_seconds)));
}

void FakeCall::setOutputDevice(int deviceType, const QString& path) {
    if (failRedirects || deviceType != callIoDeviceTypeFile)
        throw AppError("Call " + m_id + " is not in progress");
    redirects << "speaker:" + path;
    if (writesSpeaker) writeBytes(path, speakerBytes.value_or(toneWav(m_speakerHertz, m_seconds)));
}

SkypeFactory FakeCallWorld::factory() {
    return [this] {
        ++created;
        return std::make_unique<FakeSkype>(*this);
    };
}

void FakeCallWorld::raise(const std::shared_ptr<FakeCall>& call, int status) {
    if (latest) emit latest->CallStatus(call, status);
}
