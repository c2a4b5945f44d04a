// vocorda-recordbench: what recording a call costs the program: the CPU time and memory of its
// own process while it records a call with two playback streams, one of which moves halfway,
// against a private audio server (VOCORDA_TEST_SERVER=pipewire for PipeWire); then what keeping
// two streams on the clock costs when their devices run 1000 ppm apart.
//   vocorda-recordbench [--seconds N]
#include <sys/resource.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>

#include "PulseCallClient.h"
#include "PulseTestServer.h"
#include "RateFollower.h"

namespace {

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double residentMegabytes() {
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ')[0].toDouble() / 1024;
    return 0;
}

// Both streams resampled all along, in 20 ms blocks: CPU time against the call's length.
double correctionShare(int minutes) {
    constexpr int kRate = 48000, kBlock = kRate / 50;
    std::vector<qint16> block(kBlock, 1000), out;
    RateFollower followers[2] = {RateFollower(kRate), RateFollower(kRate)};
    qint64 made[2] = {0, 0};
    const double cpu0 = cpuSeconds();
    for (qint64 now = 0; now < qint64(minutes) * 60 * kRate; now += kBlock) {
        for (int i = 0; i < 2; ++i) {
            out.clear();
            made[i] += followers[i].convert(block.data(), kBlock, out);
        }
        if (now % kRate != 0) continue;
        // Devices 1000 ppm apart: each stream drifts off its record by a frame a second.
        for (int i = 0; i < 2; ++i) followers[i].measure(made[i] - now + (i ? 1 : -1) * now / 1000);
    }
    return 100 * (cpuSeconds() - cpu0) / (minutes * 60.0);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int at = int(args.indexOf("--seconds"));
    const int seconds = at > 0 && at + 1 < args.size() ? args[at + 1].toInt() : 20;

    PulseTestServer server;
    if (const QString failure = server.start(); !failure.isEmpty()) {
        std::fprintf(stderr, "no audio server: %s\n", qPrintable(failure));
        return 1;
    }
    server.playTone("micsink", 1000, "Notifier", seconds + 30);
    server.playTone("speaker", 600, "BenchPhone", seconds + 30);
    server.playTone("speaker", 900, "BenchPhone", seconds + 30);
    QProcess* phone = server.startSoftphone("BenchPhone");

    PulseCallClient client;
    if (!client.Client().IsRunning() ||
        !QTest::qWaitFor([&] { return client.ActiveCalls()->Count() == 1; })) {
        std::fprintf(stderr, "the call was not found\n");
        return 1;
    }
    QTemporaryDir dir;
    const CallPtr call = client.ActiveCalls()->Item(1);
    call->setCaptureMicDevice(callIoDeviceTypeFile, dir.filePath("mic.wav"));
    call->setOutputDevice(callIoDeviceTypeFile, dir.filePath("speaker.wav"));
    QTest::qWait(1000);  // both sides under way

    const double cpu0 = cpuSeconds(), rss0 = residentMegabytes();
    QElapsedTimer clock;
    clock.start();
    QTest::qWait(seconds * 500);
    server.pactl({"move-sink-input", server.streamOf("sink-inputs", "BenchPhone"), "speaker2"});
    QTest::qWait(seconds * 500);
    const double cpu = cpuSeconds() - cpu0, wall = double(clock.elapsed()) / 1000;
    const double rss1 = residentMegabytes();
    server.stopProgram(phone);

    std::printf("%s, %.0f s of a call with two playback streams and a move:\n",
                qPrintable(PulseTestServer::kind()), wall);
    std::printf("  CPU %.3f s = %.2f%% of one core\n", cpu, 100 * cpu / wall);
    std::printf("  resident memory %.1f MB at the start, %.1f MB at the end\n", rss0, rss1);
    std::printf("keeping two streams 1000 ppm off on the clock: %.3f%% of one core\n",
                correctionShare(60));
    return 0;
}
