#include "PulseTestServer.h"

#include <signal.h>
#include <sys/prctl.h>

#include <QDir>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QTest>
#include <cmath>

#include "WavBytes.h"

namespace {

// A test that crashes must not leave a server behind holding its output open.
void dieWithTheTest(QProcess& process) {
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

}  // namespace

PulseTestServer::~PulseTestServer() {
    kill();
}

QString PulseTestServer::start() {
    if (QStandardPaths::findExecutable("pulseaudio").isEmpty() ||
        QStandardPaths::findExecutable("pactl").isEmpty())
        return "pulseaudio and pactl are not installed";
    const QString run = m_dir.filePath("run"), home = m_dir.filePath("home");
    QDir().mkpath(run);
    QDir().mkpath(home);
    QFile::setPermissions(run,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", run.toLocal8Bit());
    qputenv("PULSE_RUNTIME_PATH", run.toLocal8Bit());
    qputenv("HOME", home.toLocal8Bit());
    qputenv("PULSE_SERVER", ("unix:" + run + "/native").toLocal8Bit());
    m_server = std::make_unique<QProcess>();
    dieWithTheTest(*m_server);
    m_server->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_server->start(
        "pulseaudio",
        {"-n", "--daemonize=no", "--use-pid-file=no", "--exit-idle-time=-1", "--disallow-exit",
         "-L", "module-native-protocol-unix socket=" + run + "/native auth-anonymous=1", "-L",
         "module-null-sink sink_name=speaker", "-L", "module-null-sink sink_name=micsink", "-L",
         "module-remap-source master=micsink.monitor source_name=mic"});
    if (!m_server->waitForStarted()) return "pulseaudio could not be started";
    if (!waitForServer()) return "pulseaudio did not answer";
    pactl({"set-default-sink", "speaker"});
    pactl({"set-default-source", "mic"});
    // A fresh null sink renders ahead, so a new recorder would hear nothing for a second or
    // two; keeping a recorder on each monitor and waking both sinks makes new ones real-time.
    for (const char* monitor : {"speaker.monitor", "micsink.monitor"})
        startProgram("parecord", {"--raw", "--latency-msec=10", "-d", monitor, "/dev/null"});
    for (const char* sink : {"speaker", "micsink"}) {
        pactl({"suspend-sink", sink, "1"});
        pactl({"suspend-sink", sink, "0"});
    }
    return {};
}

bool PulseTestServer::waitForServer() {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 15000) {
        if (!pactl({"info"}).isNull()) return true;
        if (m_server->state() == QProcess::NotRunning) return false;
        QTest::qWait(50);
    }
    return false;
}

QString PulseTestServer::pactl(const QStringList& arguments) const {
    QProcess process;
    process.start("pactl", arguments);
    if (!process.waitForFinished(5000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return {};
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

QProcess* PulseTestServer::startProgram(const QString& program, const QStringList& arguments) {
    auto process = std::make_unique<QProcess>();
    dieWithTheTest(*process);
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->setStandardOutputFile(QProcess::nullDevice());
    process->start(program, arguments);
    process->waitForStarted();
    m_programs.push_back(std::move(process));
    return m_programs.back().get();
}

void PulseTestServer::stopProgram(QProcess* process) {
    if (process->state() == QProcess::NotRunning) return;
    ::kill(pid_t(process->processId()), SIGTERM);
    process->waitForFinished(5000);
}

QProcess* PulseTestServer::startSoftphone(const QString& name) {
    return startProgram("parecord", {"--raw", "--property=application.name=" + name,
                                     "--latency-msec=20", "/dev/null"});
}

QProcess* PulseTestServer::playTone(const QString& sink, int hertz, int seconds) {
    const QString path = m_dir.filePath(QString("tone-%1.wav").arg(hertz));
    if (!QFile::exists(path)) {
        std::vector<qint16> samples(size_t(seconds) * 48000);
        for (size_t i = 0; i < samples.size(); ++i)
            samples[i] = qint16(8000 * std::sin(2 * M_PI * hertz * double(i) / 48000));
        writeBytes(path, pcmWav(samples));
    }
    return startProgram("paplay", {"-d", sink, path});
}

void PulseTestServer::kill() {
    for (auto& program : m_programs) stopProgram(program.get());
    m_programs.clear();
    if (m_server && m_server->state() != QProcess::NotRunning) {
        ::kill(pid_t(m_server->processId()), SIGTERM);
        if (!m_server->waitForFinished(5000)) {
            ::kill(pid_t(m_server->processId()), SIGKILL);
            m_server->waitForFinished(5000);
        }
    }
}
