#include "PulseTestServer.h"

#include <signal.h>
#include <sys/prctl.h>

#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>
#include <cmath>

#include "WavBytes.h"

namespace {

// A test that crashes must not leave a server behind holding its output open.
void dieWithTheTest(QProcess& process) {
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

std::unique_ptr<QProcess> launch(const QString& program, const QStringList& arguments) {
    auto process = std::make_unique<QProcess>();
    dieWithTheTest(*process);
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->setStandardOutputFile(QProcess::nullDevice());
    process->start(program, arguments);
    process->waitForStarted();
    return process;
}

QString missingProgram(const QStringList& programs) {
    for (const QString& program : programs)
        if (QStandardPaths::findExecutable(program).isEmpty()) return program + " is not installed";
    return {};
}

// A test server must never take the machine's own sound cards, cameras or Bluetooth devices:
// read after WirePlumber's own settings, before it enables them. WirePlumber 0.4 reads the Lua
// files, 0.5 only the last.
const std::pair<const char*, const char*> kWirePlumberNoDevices[] = {
    {"main.lua.d/51-no-devices.lua",
     "alsa_monitor.enabled = false\nv4l2_monitor.enabled = false\n"
     "libcamera_monitor.enabled = false\n"},
    {"bluetooth.lua.d/51-no-devices.lua", "bluez_monitor.enabled = false\n"},
    {"wireplumber.conf.d/51-no-devices.conf",
     "wireplumber.profiles = {\n  main = {\n"
     "    monitor.alsa = disabled\n    monitor.alsa-midi = disabled\n"
     "    monitor.bluez = disabled\n    monitor.bluez-midi = disabled\n"
     "    monitor.v4l2 = disabled\n    monitor.libcamera = disabled\n  }\n}\n"}};
const QStringList kOwnSinks = {"speaker", "speaker2", "micsink", "micsink2"};

}  // namespace

PulseTestServer::~PulseTestServer() {
    kill();
}

QString PulseTestServer::kind() {
    return qEnvironmentVariable("VOCORDA_TEST_SERVER", "pulseaudio");
}

QString PulseTestServer::start() {
    const QString run = m_dir.filePath("run"), home = m_dir.filePath("home");
    QDir().mkpath(run);
    QDir().mkpath(home);
    QFile::setPermissions(run,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", run.toLocal8Bit());
    qputenv("HOME", home.toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home + "/.config").toLocal8Bit());
    qputenv("LC_ALL", "C");
    const QString failure = kind() == "pipewire" ? startPipeWire(run, home) : startPulseAudio(run);
    if (!failure.isEmpty()) return failure;
    if (const QString added = addDevices(); !added.isEmpty()) return added;
    return foreignDevices();
}

// Any sink or source the server lists that is not the test's own: a device of the machine's.
QString PulseTestServer::foreignDevices() const {
    QStringList own = kOwnSinks, foreign;
    for (const QString& sink : kOwnSinks) own << sink + ".monitor";
    own << "mic"
        << "mic2";
    for (const char* kind : {"sinks", "sources"})
        for (const QString& line : pactl({"list", "short", kind}).split('\n', Qt::SkipEmptyParts))
            if (!own.contains(line.section('\t', 1, 1))) foreign << line.section('\t', 1, 1);
    return foreign.isEmpty() ? QString() : "the server opened other devices: " + foreign.join(", ");
}

QVersionNumber PulseTestServer::pipeWireVersion() const {
    const auto match = QRegularExpression("on PipeWire ([0-9.]+)").match(pactl({"info"}));
    return match.hasMatch() ? QVersionNumber::fromString(match.captured(1)) : QVersionNumber();
}

QString PulseTestServer::startPulseAudio(const QString& run) {
    if (QString missing = missingProgram({"pulseaudio", "pactl"}); !missing.isEmpty())
        return missing;
    qputenv("PULSE_RUNTIME_PATH", run.toLocal8Bit());
    qputenv("PULSE_SERVER", ("unix:" + run + "/native").toLocal8Bit());
    QProcess* server = startServerProcess(
        "pulseaudio", {"-n", "--daemonize=no", "--log-level=error", "--use-pid-file=no",
                       "--exit-idle-time=-1", "--disallow-exit", "-L",
                       "module-native-protocol-unix socket=" + run + "/native auth-anonymous=1"});
    if (!waitFor([&] { return !pactl({"info"}).isNull(); }))
        return "pulseaudio did not answer: " + server->errorString();
    return {};
}

QString PulseTestServer::startPipeWire(const QString& run, const QString& home) {
    if (QString missing = missingProgram(
            {"dbus-daemon", "pipewire", "wireplumber", "pipewire-pulse", "pactl", "pw-link"});
        !missing.isEmpty())
        return missing;
    const QString config = home + "/.config/wireplumber";
    for (const auto& [file, settings] : kWirePlumberNoDevices) {
        QDir().mkpath(QFileInfo(config + "/" + file).path());
        writeBytes(config + "/" + file, settings);
    }
    // WirePlumber will not run without a session bus: a private one.
    const QString bus = "unix:path=" + run + "/bus";
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.toLocal8Bit());
    qputenv("PULSE_RUNTIME_PATH", (run + "/pulse").toLocal8Bit());
    qputenv("PULSE_SERVER", ("unix:" + run + "/pulse/native").toLocal8Bit());
    startServerProcess("dbus-daemon", {"--session", "--nofork", "--address=" + bus});
    if (!waitFor([&] { return QFile::exists(run + "/bus"); })) return "dbus-daemon did not start";
    startServerProcess("pipewire", {});
    if (!waitFor([&] { return QFile::exists(run + "/pipewire-0"); }))
        return "pipewire did not start";
    startServerProcess("wireplumber", {});
    startServerProcess("pipewire-pulse", {});
    if (!waitFor([&] { return !pactl({"info"}).isNull(); })) return "pipewire-pulse did not answer";
    return {};
}

QString PulseTestServer::addDevices() {
    for (const QString& sink : kOwnSinks)
        if (pactl({"load-module", "module-null-sink", "sink_name=" + sink}).isNull())
            return QString("the sink %1 could not be made").arg(sink);
    for (const auto& [master, name] : {std::pair{"micsink", "mic"}, {"micsink2", "mic2"}})
        if (!addMicrophone(master, name))
            return QString("the source %1 could not be made").arg(name);
    // The session manager may still be starting: the defaults take once it is.
    if (!waitFor([&] {
            return !pactl({"set-default-sink", "speaker"}).isNull() &&
                   !pactl({"set-default-source", "mic"}).isNull() &&
                   pactl({"info"}).contains("Default Source: mic");
        }))
        return "the default devices could not be set";
    // A fresh null sink renders ahead, so a new recorder would hear nothing for a second or
    // two; keeping a recorder on each monitor and waking the sinks makes new ones real-time.
    for (const QString& sink : kOwnSinks) {
        startProgram("parecord",
                     {"--raw", "--latency-msec=10", "-d", sink + ".monitor", "/dev/null"});
        pactl({"suspend-sink", sink, "1"});
        pactl({"suspend-sink", sink, "0"});
    }
    return {};
}

// A source that carries what is played into `master`. PipeWire 0.3.65's remapped source (a
// loopback) now and then carried one channel only, or nothing, for seconds at a time; there the
// sink's monitor ports are linked straight into a virtual source instead.
bool PulseTestServer::addMicrophone(const QString& master, const QString& name) {
    if (kind() != "pipewire")
        return !pactl({"load-module", "module-remap-source", "master=" + master + ".monitor",
                       "source_name=" + name})
                    .isNull();
    if (pactl({"load-module", "module-null-sink", "media.class=Audio/Source/Virtual",
               "sink_name=" + name, "channel_map=front-left,front-right"})
            .isNull())
        return false;
    for (const char* channel : {"FL", "FR"}) {
        const QStringList ports{QString("%1:monitor_%2").arg(master, channel),
                                QString("%1:input_%2").arg(name, channel)};
        // The ports appear a moment after the module is loaded.
        if (!waitFor([&] {
                QProcess link;
                link.start("pw-link", ports);
                link.waitForFinished(5000);
                return link.exitCode() == 0 || link.readAllStandardError().contains("File exists");
            }))
            return false;
    }
    return true;
}

bool PulseTestServer::waitFor(const std::function<bool()>& ready) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 15000) {
        if (ready()) return true;
        for (const auto& server : m_servers)
            if (server->state() == QProcess::NotRunning) return false;
        QTest::qWait(50);
    }
    return false;
}

QProcess* PulseTestServer::startServerProcess(const QString& program,
                                              const QStringList& arguments) {
    m_servers.push_back(launch(program, arguments));
    return m_servers.back().get();
}

QString PulseTestServer::pactl(const QStringList& arguments) const {
    QProcess process;
    process.start("pactl", arguments);
    if (!process.waitForFinished(5000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return {};
    const QString output = QString::fromLocal8Bit(process.readAllStandardOutput());
    return output.isNull() ? QString("") : output;  // null stands for a failure
}

namespace {

QString header(const QString& kind) {
    return kind == "sink-inputs" ? "Sink Input #" : "Source Output #";
}

}  // namespace

QStringList PulseTestServer::streamsOf(const QString& kind, const QString& application) const {
    QStringList result;
    for (const QString& block : pactl({"list", kind}).split(header(kind), Qt::SkipEmptyParts))
        if (block.contains(QString("application.name = \"%1\"").arg(application)))
            result << block.section('\n', 0, 0).trimmed();
    return result;
}

QString PulseTestServer::streamOf(const QString& kind, const QString& application) const {
    const QStringList streams = streamsOf(kind, application);
    return streams.isEmpty() ? QString() : streams.first();
}

bool PulseTestServer::moveStream(const QString& kind, const QString& application,
                                 const QString& device) {
    const QString stream = streamOf(kind, application);
    const bool playback = kind == "sink-inputs";
    const QStringList move{playback ? "move-sink-input" : "move-source-output", stream, device};
    if (stream.isEmpty() || pactl(move).isNull()) return false;
    const QString devices = playback ? "sinks" : "sources";
    QString index;
    for (const QString& line : pactl({"list", "short", devices}).split('\n'))
        if (line.section('\t', 1, 1) == device) index = line.section('\t', 0, 0);
    const QString where = QString(playback ? "Sink: %1\n" : "Source: %1\n").arg(index);
    // PipeWire 0.3.65's session manager now and then drops a move: it is asked again.
    QElapsedTimer asked;
    asked.start();
    return waitFor([&] {
        for (const QString& block : pactl({"list", kind}).split(header(kind), Qt::SkipEmptyParts))
            if (block.section('\n', 0, 0).trimmed() == stream && block.contains(where)) return true;
        if (asked.elapsed() > 1000) pactl(move), asked.restart();
        return false;
    });
}

bool PulseTestServer::waitForStreams(const QString& kind, const QString& application, int count) {
    return waitFor([&] { return streamsOf(kind, application).size() == count; });
}

QProcess* PulseTestServer::startProgram(const QString& program, const QStringList& arguments) {
    m_programs.push_back(launch(program, arguments));
    return m_programs.back().get();
}

void PulseTestServer::stopProgram(QProcess* process) {
    if (process->state() == QProcess::NotRunning) return;
    ::kill(pid_t(process->processId()), SIGTERM);
    if (!process->waitForFinished(5000)) {
        ::kill(pid_t(process->processId()), SIGKILL);
        process->waitForFinished(5000);
    }
}

void PulseTestServer::hangUp(const QString& application) {
    for (const auto& process : m_programs)
        if (process->arguments().contains("--property=application.name=" + application))
            stopProgram(process.get());
}

QProcess* PulseTestServer::startSoftphone(const QString& name, const QString& source) {
    QStringList arguments{"--raw", "--property=application.name=" + name, "--latency-msec=20"};
    if (!source.isEmpty()) arguments << "-d" << source;
    return startProgram("parecord", arguments << "/dev/null");
}

QProcess* PulseTestServer::playTone(const QString& sink, int hertz, const QString& application,
                                    int seconds) {
    std::vector<qint16> samples(size_t(seconds) * 48000);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = qint16(8000 * std::sin(2 * M_PI * hertz * double(i) / 48000));
    return play(sink, samples, application, QString("tone-%1-%2").arg(hertz).arg(seconds));
}

QProcess* PulseTestServer::play(const QString& sink, const std::vector<qint16>& samples,
                                const QString& application, const QString& name) {
    // In stereo like the sinks: PipeWire 0.3.65 now and then spreads a mono stream over one
    // channel only (seen in about one test in six here).
    const QString path = m_dir.filePath(name + ".wav");
    if (!QFile::exists(path)) {
        std::vector<qint16> stereo(samples.size() * 2);
        for (size_t i = 0; i < samples.size(); ++i) stereo[2 * i] = stereo[2 * i + 1] = samples[i];
        writeBytes(path, pcmWav(stereo, 2));
    }
    return startProgram("paplay", {"--property=application.name=" + application, "-d", sink, path});
}

void PulseTestServer::kill() {
    for (auto& program : m_programs) stopProgram(program.get());
    m_programs.clear();
    killServers();
}

void PulseTestServer::killServers() {
    // The services first, the bus they talk over last.
    for (auto it = m_servers.rbegin(); it != m_servers.rend(); ++it) stopProgram(it->get());
    m_servers.clear();
}
