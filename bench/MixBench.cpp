// vocorda-mixbench: measures the mixer and the encoder step against the usual tools.
//   vocorda-mixbench --mix FIRST.wav SECOND.wav OUT.wav
//   vocorda-mixbench --minutes N
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cmath>
#include <cstdio>
#include <random>

#include "AppError.h"
#include "Main.h"
#include "Prompts.h"
#include "WavWriter.h"
#include "WaveMP3.h"

namespace {

constexpr int kRate = 48000;

// Messages go to the error output; every question is answered No.
class ConsolePrompts : public Prompts {
public:
    QString lastMessage;
    MessageAnswer showMessage(const MessageRequest& request) override {
        lastMessage = request.text;
        std::fprintf(stderr, "%s\n", qPrintable(request.text));
        return request.buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
    }
    QString askSaveFileName(const SaveFileRequest&) override { return {}; }
};

// A speech-like side: a wandering tone with noise, written in chunks so memory stays small.
void writeSide(const QString& path, qint64 samples, double hertz, unsigned seed) {
    WavWriter file(1, kRate);
    file.open(path);
    std::mt19937 random(seed);
    std::normal_distribution<double> hiss(0, 600);
    std::vector<qint16> chunk(1 << 16);
    for (qint64 done = 0; done < samples;) {
        const qint64 n = std::min<qint64>(qint64(chunk.size()), samples - done);
        for (qint64 i = 0; i < n; ++i) {
            const double t = double(done + i) / kRate;
            const double v = 9000 * std::sin(2 * M_PI * hertz * t + 3 * std::sin(t)) + hiss(random);
            chunk[size_t(i)] = qint16(std::clamp(v, -32768.0, 32767.0));
        }
        file.append(reinterpret_cast<const char*>(chunk.data()), n * 2);
        done += n;
    }
    file.finish();
}

double secondsOf(const std::function<void()>& work) {
    QElapsedTimer clock;
    clock.start();
    work();
    return clock.nsecsElapsed() / 1e9;
}

// Runs a command; returns its time, or a negative value when it is missing or fails.
double timeCommand(const QString& program, const QStringList& arguments) {
    if (QStandardPaths::findExecutable(program).isEmpty()) return -1;
    ::sync();
    int code = 0;
    const double seconds = secondsOf([&] {
        QProcess process;
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.setStandardOutputFile(QProcess::nullDevice());
        process.start(program, arguments);
        process.waitForFinished(-1);
        code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    });
    return code == 0 ? seconds : -1;
}

bool copyFile(const QString& from, const QString& to) {
    QFile::remove(to);
    return QFile::copy(from, to);
}

// MergeWave on copies of the two files in a private temporary folder; the result goes to out.
int mixCommand(const QString& first, const QString& second, const QString& out) {
    QTemporaryDir temp;
    qputenv("TEMP", temp.path().toLocal8Bit());
    const QString mic = Main::TempFile("mic.wav"), speaker = Main::TempFile("speaker.wav");
    if (!copyFile(first, mic) || !copyFile(second, speaker)) {
        std::fprintf(stderr, "cannot copy the inputs into %s\n", qPrintable(temp.path()));
        return 2;
    }
    ConsolePrompts prompts;
    bool ok = false;
    ::sync();  // the copies' writeback must not be billed to the mix
    const double seconds = secondsOf([&] {
        ok = MergeWave(mic, speaker, out, {&prompts, {}, {}});
    });
    if (!ok) return 1;
    QFile::remove(out);
    if (!QFile::rename(Main::TempFile("result.wav"), out)) {
        std::fprintf(stderr, "cannot move the result to %s\n", qPrintable(out));
        return 2;
    }
    std::printf("MergeWave: %.3f s (including its designed 1 s wait)\n", seconds);
    return 0;
}

void printRow(const char* name, double seconds, double cp) {
    if (seconds < 0)
        std::printf("%-34s %10s\n", name, "not installed");
    else
        std::printf("%-34s %9.3f s %8.2fx cp\n", name, seconds, seconds / cp);
}

double peakMegabytesOfChildMix(const QString& program, const QStringList& arguments) {
    QProcess child;
    child.setStandardOutputFile(QProcess::nullDevice());
    child.start(program, arguments);
    child.waitForFinished(-1);
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_maxrss / 1024.0;
}

// MergeWave's own time, without its designed one-second wait; the best of `runs`.
double bestMergeWave(const QString& a, const QString& b, const QString& out, int runs) {
    double best = -1;
    for (int run = 0; run < runs; ++run) {
        QTemporaryDir temp;
        qputenv("TEMP", temp.path().toLocal8Bit());
        const QString mic = Main::TempFile("mic.wav"), speaker = Main::TempFile("speaker.wav");
        if (!copyFile(a, mic) || !copyFile(b, speaker)) return -1;
        ConsolePrompts prompts;
        bool ok = false;
        ::sync();
        const double seconds = secondsOf([&] {
                                   ok = MergeWave(mic, speaker, out, {&prompts, {}, {}});
                               }) -
                               1.0;
        if (!ok) return -1;
        if (best < 0 || seconds < best) best = seconds;
    }
    return best;
}

double bestOf(int runs, const std::function<double()>& measure) {
    double best = -1;
    for (int run = 0; run < runs; ++run) {
        const double seconds = measure();
        if (seconds >= 0 && (best < 0 || seconds < best)) best = seconds;
    }
    return best;
}

int minutesCommand(double minutes) {
    QTemporaryDir work;
    const QString a = work.filePath("a.wav"), b = work.filePath("b.wav");
    const auto samples = qint64(minutes * 60 * kRate);
    writeSide(a, samples, 180, 1);
    writeSide(b, samples - 3 * kRate, 230, 2);
    std::printf(
        "Two synthetic sides of %.1f minutes (48 kHz mono 16-bit), %.0f MB each; "
        "times are the best of 3 runs (sox and ffmpeg: one run)\n\n",
        minutes, samples * 2 / 1e6);

    const QString out = work.filePath("out.wav");
    const double cp = bestOf(3, [&] { return timeCommand("cp", {a, out}); });
    const double mix = bestMergeWave(a, b, out, 3);
    const double sox = timeCommand("sox", {"-m", a, b, out});
    const double ffmpeg = timeCommand("ffmpeg", {"-loglevel", "error", "-y", "-i", a, "-i", b,
                                                 "-filter_complex", "amix=inputs=2", out});
    const double peak =
        peakMegabytesOfChildMix(QCoreApplication::applicationFilePath(), {"--mix", a, b, out});

    std::printf("%-34s %9.3f s\n", "cp of the longer side", cp);
    printRow("MergeWave (without its 1 s wait)", mix, cp);
    printRow("sox -m", sox, cp);
    printRow("ffmpeg amix", ffmpeg, cp);
    std::printf("%-34s %9.1f MB (whole process)\n\n", "peak memory of a MergeWave run", peak);

    ConsolePrompts prompts;
    QTemporaryDir temp;
    qputenv("TEMP", temp.path().toLocal8Bit());
    const QString wav = Main::TempFile("result.wav");
    copyFile(out, wav);
    ::sync();
    bool ok = false;
    const double convert = secondsOf([&] {
        ok = ConvertToMP3(wav, work.filePath("call.mp3"), {&prompts, {}, {}});
    });
    const double lame = timeCommand("lame", {"--quiet", "-h", out, work.filePath("direct.mp3")});
    std::printf("%-34s %9.3f s%s\n", "ConvertToMP3 (with its 1 s wait)", convert,
                ok ? "" : "  FAILED");
    std::printf("%-34s %9.3f s\n", "lame -h directly", lame);
    std::printf("%-34s %9.3f s\n", "ConvertToMP3 - 1 s - lame -h", convert - 1.0 - lame);
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    try {
        if (args.size() == 4 && args[0] == "--mix") return mixCommand(args[1], args[2], args[3]);
        if (args.size() == 2 && args[0] == "--minutes" && args[1].toDouble() > 0)
            return minutesCommand(args[1].toDouble());
    } catch (const AppError& e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.description()));
        return 2;
    }
    std::fprintf(stderr,
                 "usage: vocorda-mixbench --mix FIRST.wav SECOND.wav OUT.wav\n"
                 "       vocorda-mixbench --minutes N\n");
    return 2;
}
