// An in-process call client for tests: calls that write real WAV files (a tone on each side) when
// their audio is redirected, and status events raised when the test says so.
#pragma once

#include <QList>
#include <QMap>
#include <QStringList>
#include <memory>
#include <optional>

#include "FileLauncher.h"
#include "SkypeClient.h"

class FakeCall : public ICall {
public:
    FakeCall(QString id, double micHertz = 1000, double speakerHertz = 440, double seconds = 2)
        : m_id(std::move(id)),
          m_micHertz(micHertz),
          m_speakerHertz(speakerHertz),
          m_seconds(seconds) {}

    QString Id() const override { return m_id; }
    void setCaptureMicDevice(int deviceType, const QString& path) override;
    void setOutputDevice(int deviceType, const QString& path) override;

    bool failRedirects = false;
    // What each side's file holds instead of the tone; a side with `writes...` false is never
    // written at all.
    std::optional<QByteArray> micBytes, speakerBytes;
    bool writesMic = true, writesSpeaker = true;
    QStringList redirects;  // "mic:PATH" and "speaker:PATH", in order

private:
    QString m_id;
    double m_micHertz, m_speakerHertz, m_seconds;
};

// What every client object made by one factory sees: the desktop's calls and state.
struct FakeCallWorld {
    bool running = true;
    QList<std::shared_ptr<FakeCall>> calls;
    int created = 0;
    ISkype* latest = nullptr;
    QMap<QString, CallReport> reports;  // what the client says of a call when it has ended

    SkypeFactory factory();
    // Raises the event on the newest client object, as the real client would.
    void raise(const std::shared_ptr<FakeCall>& call, int status);
};

class FakeLauncher : public FileLauncher {
public:
    QStringList opened;
    bool openFile(const QString& path) override {
        opened << path;
        return false;
    }
};
