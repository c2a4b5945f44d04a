// Bad input from end to end in the real window (offscreen, in-process call client): every case
// ends with a clear message, a usable window, and nothing recorded lost. Also the recovery of a
// recording that a killed program left behind.
#include <unistd.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <memory>

#include "AudioChecks.h"
#include "FakePrompts.h"
#include "FakeSkype.h"
#include "Form1.h"
#include "Main.h"
#include "PartialFile.h"
#include "SettingsStore.h"
#include "SmallDisk.h"
#include "WavBytes.h"

namespace {

enum Case {
    SideNotWav,
    SideEightBit,
    SideFloat,
    DifferentRates,
    SideWithoutSamples,
    SideMissing,
    Mp3PathEmpty,
    Mp3FolderCannotBeMade,
    Mp3FolderReadOnly,
    Mp3PathIsFolder,
    DiskFull,
    TempUnwritable,
    EncoderWillNotStart,
    OneSecondCall,
};

QByteArray tone(double seconds, int rate = 48000) {
    std::vector<qint16> samples(size_t(seconds * rate));
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = qint16((i % 100) * 200 - 10000);
    return pcmWav(samples, 1, rate);
}

// Writes until the file system is full.
void fill(const QString& path) {
    QFile file(path);
    if (file.open(QIODevice::WriteOnly)) file.write(QByteArray(1 << 20, 'x'));
}

}  // namespace

class BadInputTest : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<SettingsStore> m_settings;
    FakePrompts m_prompts;
    FakeLauncher m_launcher;
    FakeCallWorld m_world;
    std::shared_ptr<FakeCall> m_call;
    std::function<QByteArray()> m_encoder;

    std::unique_ptr<Form1> makeForm() {
        return std::make_unique<Form1>(Form1::Seams{.prompts = &m_prompts,
                                                    .settings = m_settings.get(),
                                                    .launcher = &m_launcher,
                                                    .callClient = m_world.factory(),
                                                    .encoderBytes = m_encoder,
                                                    .programFolder = m_dir->path(),
                                                    .endProgram = [] {}});
    }
    QString path(const QString& name) const { return m_dir->filePath(name); }
    // The program's own folder inside TEMP.
    QString temp(const QString& name = {}) const {
        const QString own = path(QString("temp/vocorda-call-recorder-%1").arg(::getuid()));
        return name.isEmpty() ? own : own + '/' + name;
    }

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QDir(m_dir->path()).mkpath("temp");
        QDir(m_dir->path()).mkpath("calls");
        qputenv("TEMP", path("temp").toLocal8Bit());
        QDir().mkpath(temp());
        qputenv("XDG_DATA_HOME", path("data").toLocal8Bit());
        m_settings = std::make_unique<SettingsStore>(path("config"));
        m_prompts = FakePrompts();
        m_world = FakeCallWorld();
        m_call = std::make_shared<FakeCall>("call-1");
        m_world.calls = {m_call};
        m_encoder = {};
    }

    void clearMessageUsableWindowNothingLost_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("message");
        QTest::newRow("a side that is not WAV") << int(SideNotWav) << "could not be mixed";
        QTest::newRow("one side 8-bit") << int(SideEightBit) << "not 16-bit PCM";
        QTest::newRow("one side float") << int(SideFloat) << "not 16-bit PCM";
        QTest::newRow("sides at different rates") << int(DifferentRates) << "at 44100 Hz";
        QTest::newRow("one side without samples") << int(SideWithoutSamples) << "Done.";
        QTest::newRow("one side missing") << int(SideMissing) << "did not write";
        QTest::newRow("MP3 path empty") << int(Mp3PathEmpty) << "the path is empty";
        QTest::newRow("MP3 folder cannot be made")
            << int(Mp3FolderCannotBeMade) << "does not exist";
        QTest::newRow("MP3 folder read-only") << int(Mp3FolderReadOnly) << "could not be made";
        QTest::newRow("MP3 path is a folder") << int(Mp3PathIsFolder) << "is a folder";
        QTest::newRow("a device as the MP3 file") << int(DiskFull) << "is a device, not a file";
        QTest::newRow("temporary folder unwritable") << int(TempUnwritable) << "cannot be started";
        QTest::newRow("encoder cannot start") << int(EncoderWillNotStart) << "could not be started";
        QTest::newRow("call of one second") << int(OneSecondCall) << "Done.";
    }
    void clearMessageUsableWindowNothingLost() {
        QFETCH(int, kind);
        QFETCH(QString, message);
        QString mp3 = path("calls/call.mp3");
        switch (Case(kind)) {
            case SideNotWav:
                m_call->speakerBytes = "RIFF? no, just text";
                break;
            case SideEightBit:
                m_call->micBytes = riffWave({{"fmt ", fmtBody(1, 1, 48000, 8)}, {"data", "abcd"}});
                break;
            case SideFloat:
                m_call->micBytes = riffWave({{"fmt ", fmtBody(3, 1, 48000, 32)}, {"data", "abcd"}});
                break;
            case DifferentRates:
                m_call->speakerBytes = tone(1, 44100);
                break;
            case SideWithoutSamples:
                m_call->speakerBytes = pcmWav({});
                break;
            case SideMissing:
                m_call->writesSpeaker = false;
                break;
            case Mp3PathEmpty:
                mp3.clear();
                break;
            case Mp3FolderCannotBeMade:
                writeBytes(path("plain-file"), "x");
                mp3 = path("plain-file/folder/call.mp3");
                break;
            case Mp3FolderReadOnly:
                if (::geteuid() == 0) {
                    mp3 = "/sys/kernel/vocorda-call.mp3";  // even root cannot write there
                } else {
                    QDir().mkpath(path("locked"));
                    QFile::setPermissions(path("locked"),
                                          QFileDevice::ReadOwner | QFileDevice::ExeOwner);
                    mp3 = path("locked/call.mp3");
                }
                break;
            case Mp3PathIsFolder:
                mp3 = path("calls");
                break;
            case DiskFull:
                mp3 = "/dev/full";
                break;
            case TempUnwritable:
                writeBytes(path("plain-file"), "x");
                qputenv("TEMP", path("plain-file/temp").toLocal8Bit());
                break;
            case EncoderWillNotStart:
                m_encoder = [] {
                    return QByteArray(
                        "\x7f"
                        "ELF broken");
                };
                break;
            case OneSecondCall:
                m_call = std::make_shared<FakeCall>("call-1", 1000, 440, 1.0);
                m_world.calls = {m_call};
                break;
        }
        auto form = makeForm();
        form->start();
        form->Text3->setText(mp3);
        form->PushButton6->click();
        m_world.raise(m_call, clsFinished);

        QVERIFY(!m_prompts.messages.isEmpty());
        const MessageRequest& last = m_prompts.messages.last();
        QVERIFY2(last.text.contains(message), qPrintable(last.text));
        QVERIFY(form->PushButton6->isEnabled());
        QVERIFY(!form->recording().isFinishing());
        const bool done = message == "Done.";
        QCOMPARE(m_prompts.texts().contains("Done."), done);
        if (done) {
            QVERIFY(QFileInfo(mp3).size() > 0);
        } else {
            QCOMPARE(last.icon, MessageIcon::Warning);
            if (kind == SideNotWav)
                QVERIFY2(last.text.endsWith("\n\nPart of the recording is lost: the file marked "
                                            "unusable is damaged. What there is was kept as:\n" +
                                            path("calls/call-mic.wav") + "\n" +
                                            path("calls/call-speaker.wav") + " (unusable)"),
                         qPrintable(last.text));
            // Every file the message names as kept is really there.
            for (const QString& line : last.text.split('\n'))
                if (line.startsWith('/') && line.endsWith(".wav"))
                    QVERIFY2(QFileInfo(line).size() > 0, qPrintable(line));
        }
        for (const char* name : {"mic.wav", "speaker.wav", "result.wav", "lame.exe"})
            QVERIFY2(!QFile::exists(temp(name)), name);  // the next press deletes these
    }

    // Killed during the call (before its last trip to the disk, or by an earlier version that
    // kept the call in the system's temporary folder), or while its MP3 was being made (the mix
    // whole, its sides being removed).
    void recordingLeftByAKilledProgramIsOfferedAtStart_data() {
        QTest::addColumn<QStringList>("left");
        QTest::addColumn<QString>("what");
        QTest::addColumn<bool>("former");
        const QString sides = "the two sides of a call (mic.wav and speaker.wav)";
        const QString mixed = "a call, mixed but not yet made into an MP3 file (result.wav)";
        QTest::newRow("two sides") << QStringList{"mic.wav", "speaker.wav"} << sides << false;
        QTest::newRow("by an earlier version")
            << QStringList{"mic.wav", "speaker.wav"} << sides << true;
        QTest::newRow("mixed") << QStringList{"result.wav"} << mixed << false;
        QTest::newRow("mixed, a side left")
            << QStringList{"result.wav", "speaker.wav"} << mixed << false;
    }
    void recordingLeftByAKilledProgramIsOfferedAtStart() {
        QFETCH(QStringList, left);
        QFETCH(QString, what);
        QFETCH(bool, former);
        QString folder = temp();
        if (former) {
            qunsetenv("TEMP");
            qputenv("TMPDIR", path("tmp").toLocal8Bit());
            qputenv("XDG_STATE_HOME", path("state").toLocal8Bit());
            folder = path(QString("tmp/vocorda-call-recorder-%1").arg(::getuid()));
            QVERIFY(QDir().mkpath(folder));
            QFile::setPermissions(
                folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        }
        for (const QString& name : left) {
            // Its header counts the first tenth only, as the last trip to the disk left it.
            QByteArray wav = tone(1.5);
            if (name != "result.wav") wav.replace(40, 4, le32(quint32(wav.size() - 44) / 10));
            writeBytes(folder + '/' + name, wav);
        }
        auto form = makeForm();
        form->start();
        form->Text3->setText(path("calls/recovered.mp3"));
        QTRY_VERIFY(!m_prompts.messages.isEmpty());
        const MessageRequest& question = m_prompts.messages[0];
        QCOMPARE(question.buttons, MessageButtons::YesNo);
        QCOMPARE(question.text,
                 QString("A recording that was not finished (the program was ended during a "
                         "call, or while it was saving one) is still in %1: %2.\n\nSave it now "
                         "as %3?\n\nNo leaves it there, and the next \"Start Recording\" moves "
                         "it to %4 first.")
                     .arg(former ? path("state/vocorda-call-recorder") : temp(), what,
                          path("calls/recovered.mp3"), path("data/vocorda-call-recorder")));
        QTRY_COMPARE(m_prompts.texts().last(), QString("Done."));
        int rate = 0;
        const auto saved = DecodeMp3(path("calls/recovered.mp3"), path("decoded.wav"), &rate);
        QVERIFY(rate > 0 && std::abs(double(saved.size()) / rate - 1.5) < 0.06);
        QCOMPARE(QDir(Main::TempFolder()).entryList(QDir::Files), QStringList());
        QVERIFY(!QFileInfo::exists(folder) || !former);
        qunsetenv("TMPDIR");
        qunsetenv("XDG_STATE_HOME");
    }

    // Closed while the encoder writes: no part of an MP3 is left, and the mix stays for the
    // next start.
    void closedWhileEncodingLeavesNoPartOfTheMp3() {
        m_encoder = [] { return QByteArray("#!/bin/sh\necho part > \"$3\"\nsleep 2\n"); };
        auto form = makeForm();
        form->start();
        form->Text3->setText(path("calls/call.mp3"));
        QStringList left;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (QDir(path("calls"))
                    .entryList({".vocorda-*.partial"}, QDir::Files | QDir::Hidden)
                    .isEmpty())
                return;
            poll.stop();
            form->close();
            left = QDir(path("calls")).entryList(QDir::Files | QDir::Hidden) +
                   QDir(temp()).entryList({"*.wav"}, QDir::Files);
        });
        poll.start(20);
        form->PushButton6->click();
        m_world.raise(m_call, clsFinished);
        QCOMPARE(left, QStringList("result.wav"));
    }

    // The MP3's folder full and no data folder: the call stays, the next one is recorded all the
    // same, and what was left is set aside in the temporary folder and offered once more.
    void aLeftoverThatCannotBeMovedNeverBlocksTheNextCall() {
        SmallDisk disk(path("small"), 64 * 1024);
        if (!disk.isMounted()) QSKIP(qPrintable(disk.why()));
        fill(path("small/filler"));
        writeBytes(path("plain-file"), "x");
        qputenv("XDG_DATA_HOME", path("plain-file/data").toLocal8Bit());
        auto form = makeForm();
        form->start();
        form->Text3->setText(path("small/call.mp3"));
        form->PushButton6->click();
        m_world.raise(m_call, clsFinished);
        const QString result = temp("result.wav"), data = path("plain-file/data");
        const QString noData = data + "/vocorda-call-recorder cannot be created: Not a directory.";
        QVERIFY2(m_prompts.texts().last().endsWith(
                     "\n\nThe recording could not be moved to a safe place; copy it by hand to "
                     "a folder of your own now:\n" +
                     result + " could not be moved to a safe place:\n" + path("small/call.wav") +
                     ": No space left on device.\n" + noData),
                 qPrintable(m_prompts.texts().last()));
        const QByteArray mix = readBytes(result);
        const QString setAside = temp(
            "Call " + QFileInfo(result).lastModified().toString("yyyy-MM-dd hh.mm.ss") + ".wav");

        QFile::remove(path("small/filler"));
        form->PushButton6->click();
        QVERIFY(form->recording().isRecording());
        m_world.raise(m_call, clsFinished);
        QCOMPARE(m_prompts.texts().last(),
                 "Done.\n\nA recording that was not finished earlier was still in the temporary "
                 "folder. So that this recording could not replace it, it was set aside in the "
                 "temporary folder as:\n" +
                     setAside + "\n\nIt could not be moved to a safe place:\n" + result +
                     " could not be moved to a safe place:\n" + noData +
                     "\n\nCopy it by hand to a folder of your own; it is offered again at the "
                     "next start.");
        QVERIFY(QFileInfo(path("small/call.mp3")).size() > 0);

        // Offered at each start until declined; a move that fails again leaves it set aside.
        fill(path("small/filler"));
        const QString offer =
            "A recording that could not be moved to a safe place is set aside in the temporary "
            "folder " +
            temp() + ":\n" + setAside + "\n\nMove it now to " + path("small") + ", or else to " +
            data +
            "/vocorda-call-recorder?\n\nNo leaves it there for you to copy by hand, and it is "
            "not offered again.";
        const QString dated = QFileInfo(setAside).fileName();
        const QString stays = "It could not be moved to a safe place:\n" + setAside +
                              " could not be moved to a safe place:\n" + path("small/") + dated +
                              ": No space left on device.\n" + noData +
                              "\n\nIt stays set aside: copy it by hand to a folder of your "
                              "own. It is offered again at the next start.";
        const QList<QStringList> shown = {{offer, stays}, {offer}, {}};
        for (const QStringList& texts : shown) {
            m_prompts = FakePrompts();
            m_prompts.nextAnswers.enqueue(texts.size() == 2 ? MessageAnswer::Yes
                                                            : MessageAnswer::No);
            form = makeForm();
            form->start();
            QTest::qWait(100);
            QCOMPARE(m_prompts.texts(), texts);
        }
        QCOMPARE(QDir(temp()).entryList(QDir::Files), QStringList(dated));
        QCOMPARE(QDir(path("small")).entryList(QDir::Files), QStringList({"call.mp3", "filler"}));
        QCOMPARE(readBytes(setAside), mix);
    }

    // What a killed encoder wrote goes at the next start; the recording stays.
    void declinedRecoveryLeavesTheFiles() {
        writeBytes(temp("mic.wav"), tone(0.5));
        writeBytes(temp("speaker.wav"), tone(0.5));
        writeBytes(CreatePartialFile(path("calls/first.mp3"), "mp3"), "part of an MP3");
        m_prompts.nextAnswers.enqueue(MessageAnswer::No);
        auto form = makeForm();
        form->start();
        QTRY_COMPARE(m_prompts.messages.size(), 1);
        QTest::qWait(50);
        QCOMPARE(m_prompts.messages.size(), 1);
        QCOMPARE(QDir(temp()).entryList(QDir::Files), QStringList({"mic.wav", "speaker.wav"}));
        QCOMPARE(QDir(path("calls")).entryList(QDir::Files | QDir::Hidden), QStringList());
    }
};

QTEST_MAIN(BadInputTest)
#include "BadInputTest.moc"
