// A private audio server for tests, either the PulseAudio daemon or PipeWire with WirePlumber
// and its PulseAudio service (VOCORDA_TEST_SERVER=pipewire), with the same devices on both:
// sinks "speaker" and "speaker2" (what the call plays), sinks "micsink" and "micsink2" whose
// monitors feed the microphones "mic" and "mic2". Helpers play the parts of a fake call. Every
// process is started and stopped by its own PID; the test process is pointed at it.
#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QVersionNumber>
#include <functional>
#include <memory>
#include <vector>

class PulseTestServer {
public:
    ~PulseTestServer();

    // "pulseaudio" or "pipewire", from VOCORDA_TEST_SERVER.
    static QString kind();
    // Returns an empty text on success, else why the server could not be had.
    QString start();
    void kill();
    // The servers only, as when they crash or are stopped: their clients stay.
    void killServers();

    // Starts a program against the server; it stays running until the server is stopped or
    // stopProgram() is called.
    QProcess* startProgram(const QString& program, const QStringList& arguments);
    void stopProgram(QProcess* process);
    // The call application hangs up: every program playing its part stops.
    void hangUp(const QString& application = "FakeSoftphone");

    // The call application holding a microphone open (the default one, or `source`).
    QProcess* startSoftphone(const QString& name = "FakeSoftphone", const QString& source = {});
    // A tone played into a sink by an application: "micsink" for the user's voice, "speaker"
    // for what the call application (or any other) plays.
    QProcess* playTone(const QString& sink, int hertz, const QString& application = "Notifier",
                       int seconds = 90);
    // Any sound, played once; `name` tells the sounds of one test apart.
    QProcess* play(const QString& sink, const std::vector<qint16>& samples,
                   const QString& application, const QString& name);

    // Runs pactl with the arguments; returns its output, or a null text when it failed.
    QString pactl(const QStringList& arguments) const;
    // The indexes of the streams ("source-outputs" or "sink-inputs") of the application.
    QStringList streamsOf(const QString& kind, const QString& application) const;
    QString streamOf(const QString& kind, const QString& application) const;
    // Moves the application's first stream of the kind to the device, and waits until the
    // server says it is there (PipeWire's session manager moves it a moment later).
    bool moveStream(const QString& kind, const QString& application, const QString& device);
    // Waits until the application has this many streams of the kind.
    bool waitForStreams(const QString& kind, const QString& application, int count);
    QString folder() const { return m_dir.path(); }
    // PipeWire's version, when the server is PipeWire's PulseAudio service.
    QVersionNumber pipeWireVersion() const;

private:
    QString startPulseAudio(const QString& run);
    QString startPipeWire(const QString& run, const QString& home);
    QProcess* startServerProcess(const QString& program, const QStringList& arguments);
    QString addDevices();
    QString foreignDevices() const;
    bool addMicrophone(const QString& master, const QString& name);
    bool waitFor(const std::function<bool()>& ready);

    QTemporaryDir m_dir;
    std::vector<std::unique_ptr<QProcess>> m_servers;  // in the order they were started
    std::vector<std::unique_ptr<QProcess>> m_programs;
};
