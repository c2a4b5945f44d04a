// Encoding with the embedded LAME: the command line, the wait, a real MP3 from a tone, and the
// recording kept whenever the MP3 cannot be made.
#include <sys/stat.h>

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>
#include <memory>
#include <optional>

#include "FakePrompts.h"
#include "Main.h"
#include "PartialFile.h"
#include "RunAndWait.h"
#include "SafePlace.h"
#include "SmallDisk.h"
#include "WavBytes.h"
#include "WaveMP3.h"
#include "modWave.h"

namespace {

std::vector<qint16> tone(double hertz, double seconds, int rate = 48000) {
    std::vector<qint16> samples(size_t(seconds * rate));
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = qint16(12000 * std::sin(2 * M_PI * hertz * double(i) / rate));
    return samples;
}

double frequencyOf(const std::vector<qint16>& samples, int rate) {
    int crossings = 0;
    for (size_t i = 1; i < samples.size(); ++i)
        if ((samples[i - 1] < 0) != (samples[i] < 0)) ++crossings;
    return crossings / 2.0 / (double(samples.size()) / rate);
}

QByteArray script(const QByteArray& body) {
    return "#!/bin/sh\n" + body + "\n";
}

}  // namespace

class ConvertToMP3Test : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_temp;
    std::unique_ptr<QTemporaryDir> m_calls;
    std::unique_ptr<QTemporaryDir> m_data;
    FakePrompts m_prompts;
    QList<int> m_progress;
    AudioSeams m_seams;

    QString wav() const { return Main::TempFile("result.wav"); }
    QString encoder() const { return Main::TempFile("lame.exe"); }

private slots:
    void init() {
        m_temp = std::make_unique<QTemporaryDir>();
        m_calls = std::make_unique<QTemporaryDir>();
        m_data = std::make_unique<QTemporaryDir>();
        qputenv("TEMP", m_temp->path().toLocal8Bit());
        qputenv("XDG_DATA_HOME", m_data->path().toLocal8Bit());
        m_prompts = FakePrompts();
        m_progress.clear();
        m_seams = {&m_prompts, [this](int v) { m_progress << v; }, {}};
        writeBytes(wav(), pcmWav(tone(1000, 2)));
    }

    void commandLineText() {
        QCOMPARE(
            EncoderCommandLine("C:\\Temp\\lame.exe", "C:\\Temp\\result.wav", "D:\\Calls\\call.mp3"),
            QString("\"C:\\Temp\\lame.exe\"  -h \"C:\\Temp\\result.wav\" "
                    "\"D:\\Calls\\call.mp3\""));
        QVERIFY(
            EncoderCommandLine("/t/lame.exe", "/t/result.wav", "/c/call").endsWith("\"/c/call\""));
        QVERIFY(EncoderCommandLine("/t/lame.exe", "/t/result.wav", "").endsWith(" \"\""));
    }

    void windowStyleRule() {
        QCOMPARE(EffectiveWindowStyle(std::nullopt), 6);
        QCOMPARE(EffectiveWindowStyle(7), 6);
        QCOMPARE(EffectiveWindowStyle(-1), 6);
        QCOMPARE(EffectiveWindowStyle(0), 0);
        QCOMPARE(EffectiveWindowStyle(3), 3);
    }

    void runAndWait() {
        QElapsedTimer clock;
        clock.start();
        QVERIFY(RunAndWait(m_temp->filePath("no-such-program"), {}) < 0);
        QVERIFY(clock.elapsed() < 1000);
        QCOMPARE(RunAndWait("/bin/sh", {"-c", "exit 3"}, 0), 3);
        clock.restart();
        QCOMPARE(RunAndWait("/bin/true", {}), 0);
        QVERIFY2(clock.elapsed() < 600, "an ended process is noticed after one poll");
        QByteArray said;
        RunAndWait("/bin/sh", {"-c", "echo 'a \"quoted\" word' >&2"}, 0,
                   [&](const QByteArray& chunk) { said += chunk; });
        QCOMPARE(said, QByteArray("a \"quoted\" word\n"));
    }

    void embeddedEncoderIsLame() {
        QFile lame(LAME_EXECUTABLE);
        QVERIFY(lame.open(QIODevice::ReadOnly));
        QCOMPARE(LoadEncoderResource(), lame.readAll());
    }

    void realEncoderMakesAnMp3OfTheTone() {
        const QString mp3 = m_calls->filePath("call.mp3");
        QVERIFY(ConvertToMP3(wav(), mp3, m_seams));
        QVERIFY(m_prompts.messages.isEmpty());
        QVERIFY(!QFile::exists(wav()));
        QVERIFY(!QFile::exists(encoder()));
        QVERIFY(!m_progress.isEmpty());

        const QString decoded = m_calls->filePath("decoded.wav");
        QCOMPARE(QProcess::execute(LAME_EXECUTABLE, {"--quiet", "--decode", mp3, decoded}), 0);
        const QByteArray bytes = readBytes(decoded);
        FakePrompts prompts;
        const WaveInfo info = ReadWaveInfo(decoded, prompts);
        QCOMPARE(info.SampleRate, 48000);
        const auto samples = samplesOf(bytes, info.dataStart(), info.DataSize);
        const double seconds = double(samples.size()) / info.SampleRate / info.Channels;
        QVERIFY2(std::abs(seconds - 2.0) < 0.06, qPrintable(QString::number(seconds)));
        const double hertz = frequencyOf(samples, info.SampleRate);
        QVERIFY2(std::abs(hertz - 1000) < 10, qPrintable(QString::number(hertz)));
    }

    void encoderIsWrittenOwnerOnlyAndGivenTheArguments() {
        const QString mp3 = m_calls->filePath("odd \"name\" -V9.mp3");
        m_seams.encoderBytes = [] {
            return script("stat -c %a \"$0\" > \"$3\"; printf '%s|' \"$@\" >> \"$3\"");
        };
        QVERIFY(ConvertToMP3(wav(), mp3, m_seams));
        const QString given = QString::fromLocal8Bit(readBytes(mp3));
        const QString partial = QRegularExpression::escape(m_calls->filePath(".vocorda-"));
        QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(
                                        "700\n-h\\|" + QRegularExpression::escape(wav()) + "\\|" +
                                        partial + "[a-z0-9]{8}\\.mp3\\.partial\\|"))
                     .match(given)
                     .hasMatch(),
                 qPrintable(given));
        QCOMPARE(QDir(m_calls->path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList(QFileInfo(mp3).fileName()));
    }

    void badOutputPathIsRefusedAndTheRecordingKept_data() {
        QTest::addColumn<QString>("mp3");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("keptIn");
        QTest::newRow("empty") << QString() << "the path is empty"
                               << "data";
        QTest::newRow("no such folder") << "/no/such/folder/call.mp3"
                                        << "does not exist"
                                        << "data";
        QTest::newRow("a folder") << "calls"
                                  << "is a folder"
                                  << "calls";
    }
    void badOutputPathIsRefusedAndTheRecordingKept() {
        QFETCH(QString, mp3);
        QFETCH(QString, reason);
        QFETCH(QString, keptIn);
        if (mp3 == "calls") mp3 = m_calls->path();
        const QByteArray recording = readBytes(wav());
        QVERIFY(!ConvertToMP3(wav(), mp3, m_seams));
        QVERIFY(!QFile::exists(wav()));
        QVERIFY(!QFile::exists(encoder()));
        QCOMPARE(m_prompts.messages.size(), 1);
        const QString text = m_prompts.messages[0].text;
        QVERIFY2(text.contains(reason), qPrintable(text));
        const QString folder = keptIn == "data" ? m_data->filePath("vocorda-call-recorder")
                                                : QFileInfo(m_calls->path()).absolutePath();
        const QString kept = text.section('\n', -1);
        QVERIFY2(kept.startsWith(folder + "/"), qPrintable(text));
        QCOMPARE(readBytes(kept), recording);
    }

    void encoderFailuresKeepTheRecordingBesideTheMp3_data() {
        QTest::addColumn<QByteArray>("program");
        QTest::addColumn<QString>("reason");
        QTest::newRow("exit code") << script("echo 'Could not open input' >&2; exit 3")
                                   << "the encoder failed with exit code 3: \"";
        QTest::newRow("no output, exit 0") << script("exit 0") << "left no MP3 file";
        QTest::newRow("killed half way")
            << script("echo part > \"$3\"; kill -9 $$") << "stopped unexpectedly";
        QTest::newRow("not a program") << QByteArray(
                                              "\x7f"
                                              "ELF broken")
                                       << "could not be started";
    }
    void encoderFailuresKeepTheRecordingBesideTheMp3() {
        QFETCH(QByteArray, program);
        QFETCH(QString, reason);
        m_seams.encoderBytes = [&] { return program; };
        const QString mp3 = m_calls->filePath("call.mp3");
        const QByteArray recording = readBytes(wav());
        QVERIFY(!ConvertToMP3(wav(), mp3, m_seams));
        QCOMPARE(m_prompts.messages.size(), 1);
        const QString text = m_prompts.messages[0].text;
        QVERIFY2(text.startsWith("The MP3 file " + mp3 + " could not be made: "), qPrintable(text));
        QVERIFY2(text.contains(reason), qPrintable(text));
        QVERIFY(text.endsWith(m_calls->filePath("call.wav")));
        // No part of an MP3 is left: only the recording, whole.
        QCOMPARE(QDir(m_calls->path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList("call.wav"));
        QCOMPARE(readBytes(m_calls->filePath("call.wav")), recording);
        QVERIFY(!QFile::exists(encoder()));
        if (QTest::currentDataTag() == QLatin1String("exit code"))
            QVERIFY(text.contains("The encoder said: Could not open input"));
    }

    // A file that took the MP3's name while the encoder ran stays as it is.
    void aFileThatTookTheNameMeanwhileIsNotReplaced() {
        m_seams.encoderBytes = [] {
            return script("echo mine > \"${3%/*}/call.mp3\"; echo part > \"$3\"");
        };
        const QString mp3 = m_calls->filePath("call.mp3");
        QVERIFY(!ConvertToMP3(wav(), mp3, m_seams));
        const QString text = m_prompts.messages.last().text;
        QVERIFY2(text.startsWith("The MP3 file " + mp3 +
                                 " could not be made: another file took "
                                 "the name " +
                                 mp3 + " while the MP3 file was made."),
                 qPrintable(text));
        QCOMPARE(readBytes(mp3), QByteArray("mine\n"));
        QCOMPARE(QDir(m_calls->path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList({"call.mp3", "call.wav"}));
    }

    // Real failures of the real encoder: nothing is left in the MP3's folder, and the recording
    // is kept whole where the box says, or stays where it was and the box says that.
    void anMp3ThatCannotBeWrittenLeavesNoPartOfIt_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("full");
        QTest::addColumn<QString>("keptAs");
        QTest::addColumn<QString>("reason");
        const QString tooLong = "the name is too long for this folder.";
        QTest::newRow("folder full") << "call.mp3" << true << "call.wav"
                                     << "the encoder ";
        QTest::newRow("name too long") << QString(300, 'a') + ".mp3" << false << "dated" << tooLong;
        QTest::newRow("name too long in bytes")
            << QString(140, QChar(0x0436)) + ".mp3" << false << "dated" << tooLong;
        QTest::newRow("nowhere to keep") << "call.mp3" << true << ""
                                         << "the encoder ";
    }
    void anMp3ThatCannotBeWrittenLeavesNoPartOfIt() {
        QFETCH(QString, name);
        QFETCH(bool, full);
        QFETCH(QString, keptAs);
        QFETCH(QString, reason);
        std::optional<SmallDisk> disk;
        if (full) disk.emplace(m_calls->filePath("small"), 64 * 1024);
        if (disk && !disk->isMounted()) QSKIP(qPrintable(disk->why()));
        if (keptAs.isEmpty()) qputenv("XDG_DATA_HOME", "/dev/null/data");
        writeBytes(wav(), pcmWav(tone(1000, 10)));
        const QByteArray recording = readBytes(wav());
        const QString folder = full ? m_calls->filePath("small") : m_calls->path();
        const QString mp3 = folder + "/" + name;
        QVERIFY(!ConvertToMP3(wav(), mp3, m_seams));
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList());
        const QString data = m_data->filePath("vocorda-call-recorder");
        const QStringList kept = QDir(data).entryList(QDir::Files);
        const QString text = m_prompts.messages.value(0).text;
        QVERIFY2(text.startsWith("The MP3 file " + mp3 + " could not be made: " + reason),
                 qPrintable(text));
        if (keptAs.isEmpty()) {
            QVERIFY2(text.contains("\n\nThe recording could not be moved to a safe place; copy "
                                   "it by hand to a folder of your own now:\n" +
                                   wav() + " could not be moved"),
                     qPrintable(text));
            QCOMPARE(readBytes(wav()), recording);
            return;
        }
        QCOMPARE(kept.size(), 1);
        if (keptAs == "dated")
            QVERIFY2(kept[0].startsWith("Call 20"), qPrintable(kept[0]));
        else
            QCOMPARE(kept[0], keptAs);
        QVERIFY2(text.endsWith("\n\nNothing is lost; the recording was kept as:\n" + data + "/" +
                               kept[0]),
                 qPrintable(text));
        QCOMPARE(readBytes(data + "/" + kept[0]), recording);
    }

    // A mix cut to 10 bytes is no recording: kept, named unusable, and nothing said "not lost".
    void aDamagedMixIsKeptAndNamedUnusable() {
        writeBytes(wav(), QByteArray("RIFF\x24\0\0\0WA", 10));
        const QString mp3 = m_calls->filePath("call.mp3");
        QVERIFY(!ConvertToMP3(wav(), mp3, m_seams));
        QCOMPARE(m_prompts.messages.size(), 1);
        QVERIFY2(m_prompts.messages.last().text.endsWith(
                     "\n\nPart of the recording is lost: the file marked unusable is damaged. "
                     "What there is was kept as:\n" +
                     m_calls->filePath("call.wav") + " (unusable)"),
                 qPrintable(m_prompts.messages.last().text));
        QCOMPARE(readBytes(m_calls->filePath("call.wav")), QByteArray("RIFF\x24\0\0\0WA", 10));
    }

    // Only the encoder this run wrote may run, and only where programs may run.
    void anEncoderThatCannotRunSaysWhyAndKeepsTheRecording_data() {
        QTest::addColumn<bool>("noexec");
        QTest::newRow("something else where the encoder goes") << false;
        QTest::newRow("temporary folder noexec, no lame on the system") << true;
    }
    void anEncoderThatCannotRunSaysWhyAndKeepsTheRecording() {
        QFETCH(bool, noexec);
        std::optional<SmallDisk> disk;
        QString reason;
        const QString wavPath = wav();
        if (noexec) {
            disk.emplace(m_temp->filePath("noexec"), 4 << 20);
            if (!disk->isMounted()) QSKIP(qPrintable(disk->why()));
            qputenv("TEMP", m_temp->filePath("noexec").toLocal8Bit());
            reason = "the temporary folder " + Main::TempFolder() +
                     " does not allow running programs (it is mounted noexec), and no encoder "
                     "(lame) is installed on the system to run instead.";
        } else {
            QVERIFY(QDir().mkdir(encoder()));
            reason = "the encoder could not be written out: " + encoder() + ": Is a directory";
        }
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", m_calls->path().toLocal8Bit());
        const QByteArray recording = readBytes(wavPath);
        const QString mp3 = m_calls->filePath("call.mp3");
        const bool made = ConvertToMP3(wavPath, mp3, m_seams);
        qputenv("PATH", path);
        QVERIFY(!made);
        QCOMPARE(m_prompts.messages.last().text,
                 "The MP3 file " + mp3 + " could not be made: " + reason +
                     "\n\nNothing is lost; the recording was kept as:\n" +
                     m_calls->filePath("call.wav"));
        QCOMPARE(QDir(m_calls->path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList("call.wav"));
        QCOMPARE(readBytes(m_calls->filePath("call.wav")), recording);
    }

    // The longest names the folder takes work too; a partial file left by an encoding cut
    // short goes before the next one, and nothing that only looks like one is touched.
    void everyNameThatFitsWorksAndOnlyOurLeftPartsGo() {
        const QString mp3 = m_calls->filePath(QString(250, 'a') + ".mp3");
        const QString elsewhere = m_data->filePath("other/call.mp3");
        QDir().mkpath(m_data->filePath("other"));
        const QString left = CreatePartialFile(elsewhere, "mp3"),
                      replaced = CreatePartialFile(elsewhere, "mp3");
        writeBytes(left, "part of an MP3");
        QFile::remove(replaced);
        writeBytes(replaced, "the user's");
        writeBytes(m_data->filePath("other/.vocorda-00000000.mp3.partial"), "the user's too");
        QVERIFY(ConvertToMP3(wav(), mp3, m_seams));
        QVERIFY(m_prompts.messages.isEmpty());
        QCOMPARE(QDir(m_calls->path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList(QFileInfo(mp3).fileName()));
        QVERIFY(QFileInfo(mp3).size() > 0);
        QCOMPARE(QDir(m_data->filePath("other")).entryList(QDir::Files | QDir::Hidden),
                 QStringList({".vocorda-00000000.mp3.partial", QFileInfo(replaced).fileName()}));
        QCOMPARE(QDir(m_temp->path()).entryList(QDir::Files), QStringList());
    }

    // A move to another file system is whole at its name or not there at all, and no move ever
    // replaces a file.
    void movesReplaceNothingAndAcrossFileSystemsArriveWhole() {
        SmallDisk disk(m_calls->filePath("disk"), 4 << 20);
        if (!disk.isMounted()) QSKIP(qPrintable(disk.why()));
        const QByteArray recording = readBytes(wav());
        const QString target = m_calls->filePath("disk/call.wav");
        writeBytes(target, "the user's");
        QVERIFY(!MoveFile(wav(), target).isEmpty());
        QCOMPARE(RenameWithoutReplacing(wav(), m_temp->filePath("temp")), 0);
        writeBytes(wav(), "the user's too");
        QCOMPARE(RenameWithoutReplacing(m_temp->filePath("temp"), wav()), EEXIST);
        QCOMPARE(readBytes(wav()), QByteArray("the user's too"));
        QCOMPARE(readBytes(target), QByteArray("the user's"));
        QCOMPARE(MoveFile(m_temp->filePath("temp"), m_calls->filePath("disk/moved.wav")),
                 QString());
        QCOMPARE(readBytes(m_calls->filePath("disk/moved.wav")), recording);
        QVERIFY(!QFile::exists(m_temp->filePath("temp")));
        QCOMPARE(QDir(m_calls->filePath("disk")).entryList(QDir::Files | QDir::Hidden),
                 QStringList({"call.wav", "moved.wav"}));
    }
};

QTEST_GUILESS_MAIN(ConvertToMP3Test)
#include "ConvertToMP3Test.moc"
