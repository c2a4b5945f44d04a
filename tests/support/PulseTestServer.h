// A private PulseAudio server for tests: a "speaker" sink (what the remote party says), a
// "micsink" sink whose monitor is remapped as the microphone "mic", and helpers to play the
// parts of a fake call. Started and stopped by its own PID; the test process is pointed at it.
#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <memory>
#include <vector>

class PulseTestServer {
public:
    ~PulseTestServer();

    // Returns an empty text on success, else why the server could not be had.
    QString start();
    void kill();

    // Starts a program against the server; it stays running until the server is stopped or
    // stopProgram() is called.
    QProcess* startProgram(const QString& program, const QStringList& arguments);
    void stopProgram(QProcess* process);

    // The call application holding the microphone open.
    QProcess* startSoftphone(const QString& name = "FakeSoftphone");
    // A tone into a sink: "speaker" for the remote party, "micsink" for the user's voice.
    QProcess* playTone(const QString& sink, int hertz, int seconds = 90);

    // Runs pactl with the arguments; returns its output, or a null text when it failed.
    QString pactl(const QStringList& arguments) const;
    QString folder() const { return m_dir.path(); }

private:
    bool waitForServer();

    QTemporaryDir m_dir;
    std::unique_ptr<QProcess> m_server;
    std::vector<std::unique_ptr<QProcess>> m_programs;
};
