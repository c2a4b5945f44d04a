// The whole road in the real window (offscreen) with an in-process call client: "Start
// Recording", the call's end, the mix, the real encoder, "Done." - and every way it can go wrong.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <cmath>
#include <memory>

#include "AccessHelp.h"
#include "AudioChecks.h"
#include "FakePrompts.h"
#include "FakeSkype.h"
#include "Form1.h"
#include "SettingsStore.h"
#include "WavBytes.h"
#include "modWave.h"

class RecordingTest : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<SettingsStore> m_settings;
    FakePrompts m_prompts;
    FakeLauncher m_launcher;
    FakeCallWorld m_world;
    std::unique_ptr<Form1> m_form;
    std::shared_ptr<FakeCall> m_call;

    // The program's own folder inside TEMP.
    QString temp(const QString& name) const {
        return m_dir->filePath(QString("temp/vocorda-call-recorder-%1/").arg(::getuid()) + name);
    }
    QString calls(const QString& name) const { return m_dir->filePath("calls/" + name); }
    QStringList texts() const { return m_prompts.texts(); }
    void plantStaleFiles() {
        for (const char* name : {"mic.wav", "speaker.wav", "result.wav"})
            writeBytes(temp(name), "stale");
    }
    bool tempIsClean() const {
        for (const char* name : {"mic.wav", "speaker.wav", "result.wav", "lame.exe"})
            if (QFile::exists(temp(name))) return false;
        return true;
    }

    // The window as the program shows it at start.
    void startWindow() {
        m_form = std::make_unique<Form1>(Form1::Seams{.prompts = &m_prompts,
                                                      .settings = m_settings.get(),
                                                      .launcher = &m_launcher,
                                                      .callClient = m_world.factory(),
                                                      .programFolder = m_dir->filePath("program"),
                                                      .endProgram = [] {}});
        m_form->start();
        m_form->Text3->setText(calls("call.mp3"));
    }
    // Another copy of the program, recording a call into the same temporary folder.
    void startCopy(QProcess& copy) {
        copy.start(RECORDING_COPY, {m_dir->filePath("copy-config"), calls("copy.mp3")});
        QVERIFY(copy.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(copy.canReadLine(), 15000);
        QCOMPARE(copy.readLine(), QByteArray("recording\n"));
    }

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QDir(m_dir->path()).mkpath("temp");
        QDir(m_dir->path()).mkpath("calls");
        qputenv("TEMP", m_dir->filePath("temp").toLocal8Bit());
        QDir().mkpath(temp(""));
        qputenv("XDG_DATA_HOME", m_dir->filePath("data").toLocal8Bit());
        m_settings = std::make_unique<SettingsStore>(m_dir->filePath("config"));
        m_prompts = FakePrompts();
        m_launcher.opened.clear();
        m_world = FakeCallWorld();
        m_call = std::make_shared<FakeCall>("call-1");
        m_world.calls = {m_call};
        startWindow();
    }
    void cleanup() { m_form.reset(); }

    void wholeRoadGivesTheMp3WithBothSides() {
        m_form->PushButton6->click();
        QVERIFY(!m_form->PushButton6->isEnabled());
        QCOMPARE(m_call->redirects,
                 QStringList({"mic:" + temp("mic.wav"), "speaker:" + temp("speaker.wav")}));
        QVERIFY(texts().isEmpty());

        m_world.raise(m_call, clsInProgress);
        QVERIFY(texts().isEmpty());
        m_world.raise(m_call, clsFinished);
        QCOMPARE(texts(), QStringList({"Done."}));
        QCOMPARE(m_prompts.messages[0].title, QString("Vocorda Call"));
        QCOMPARE(m_prompts.messages[0].icon, MessageIcon::None);
        QCOMPARE(m_prompts.messages[0].buttons, MessageButtons::Ok);
        QVERIFY(m_form->PushButton6->isEnabled());
        QCOMPARE(m_form->ProgressBar1->value(), 0);
        QCOMPARE(m_form->ProgressBar1->text(), QString("Progress Bar"));
        QVERIFY(tempIsClean());

        int rate = 0;
        const auto samples = DecodeMp3(calls("call.mp3"), calls("decoded.wav"), &rate);
        QVERIFY(!samples.empty());
        QVERIFY2(std::abs(double(samples.size()) / rate - 2.0) < 0.06, "two seconds of call");
        const double mic = ToneShare(samples, 1000, rate), speaker = ToneShare(samples, 440, rate);
        const double neither = ToneShare(samples, 700, rate);
        QVERIFY2(
            mic > 0.3 && speaker > 0.3 && neither < 0.01,
            qPrintable(
                QString("1000 Hz %1, 440 Hz %2, 700 Hz %3").arg(mic).arg(speaker).arg(neither)));
    }

    void whatTheClientSaysOfTheRecordingFollowsDone() {
        m_form->PushButton6->click();
        m_world.reports["call-1"] = CallReport{{}, {"Other sounds are in it."}};
        m_world.raise(m_call, clsFinished);
        QCOMPARE(texts(), QStringList({"Done.\n\nOther sounds are in it."}));
        QVERIFY(m_world.reports.isEmpty());
    }

    void whatTheClientLostIsSaidFirstThenTheCallIsSaved() {
        m_form->PushButton6->click();
        const QString lost =
            "Your side of the call stopped being recorded 0 min 1 s into the call.";
        m_world.reports["call-1"] = CallReport{{lost}, {}};
        m_world.raise(m_call, clsFinished);
        QCOMPARE(texts(), QStringList({lost + "\n\nWhat was recorded is saved next.", "Done."}));
        QCOMPARE(m_prompts.messages[0].icon, MessageIcon::Warning);
        QVERIFY(QFileInfo(calls("call.mp3")).size() > 0);
        QVERIFY(tempIsClean());
    }

    // The window is marked for the user whenever a box ends a call, even if another window was
    // in front all along.
    void theEndOfACallAsksForAttention() {
        QWidget callApplication;
        callApplication.show();
        callApplication.activateWindow();
        QTRY_VERIFY(callApplication.isActiveWindow());
        QList<bool> inFront;
        m_prompts.onMessage = [&](const MessageRequest&) {
            QCoreApplication::processEvents();
            inFront << m_form->isActiveWindow();
            callApplication.activateWindow();
            QCoreApplication::processEvents();
        };
        m_form->PushButton6->click();
        m_world.raise(m_call, clsFinished);
        m_form->PushButton6->click();
        m_form->Text3->clear();
        m_world.raise(m_call, clsFinished);
        QCOMPARE(m_prompts.messages.size(), 2);
        QCOMPARE(inFront, QList<bool>({true, true}));
    }

    void aSecondRecordingNeverReplacesTheFirst() {
        m_form->PushButton6->click();
        m_world.raise(m_call, clsFinished);
        const QByteArray first = readBytes(calls("call.mp3"));
        QVERIFY(!first.isEmpty());
        for (const QString n : {"2", "3"}) {
            m_call = std::make_shared<FakeCall>("call-" + n, 700, 300);
            m_world.calls = {m_call};
            m_form->PushButton6->click();
            m_world.raise(m_call, clsFinished);
            const QString written = calls("call (" + n + ").mp3");
            QCOMPARE(texts().last(), QString("Done.\nThe recording was saved as %1, because %2 "
                                             "holds an earlier recording.")
                                         .arg(written, calls("call.mp3")));
            QVERIFY(QFileInfo(written).size() > 0);
        }
        QCOMPARE(readBytes(calls("call.mp3")), first);
        QCOMPARE(m_form->Text3->text(), calls("call.mp3"));
        QCOMPARE(m_settings->read(kAppKey, kSection, kOutputPathKey, {}), calls("call.mp3"));
        int rate = 0;
        const auto third = DecodeMp3(calls("call (3).mp3"), calls("decoded.wav"), &rate);
        QVERIFY(ToneShare(third, 700, rate) > 0.3 && ToneShare(third, 1000, rate) < 0.01);
    }

    void aMissingMp3FolderIsMadeWithItsParents() {
        m_form->Text3->setText(m_dir->filePath("home/Desktop/Calls/call.mp3"));
        m_form->PushButton6->click();
        m_world.raise(m_call, clsFinished);
        QCOMPARE(texts(), QStringList({"Done."}));
        QVERIFY(QFileInfo(m_dir->filePath("home/Desktop/Calls/call.mp3")).size() > 0);
    }

    void anotherCopysRecordingIsLeftAlone() {
        QProcess copy;
        startCopy(copy);
        const QByteArray mic = readBytes(temp("mic.wav")), speaker = readBytes(temp("speaker.wav"));
        QVERIFY(!mic.isEmpty() && !speaker.isEmpty());
        // A lock held for hours still holds while its copy runs.
        QFile lock(temp("recording.lock"));
        QVERIFY(lock.open(QIODevice::Append));
        QVERIFY(lock.setFileTime(QDateTime::currentDateTime().addSecs(-3 * 3600),
                                 QFileDevice::FileModificationTime));
        lock.close();

        startWindow();  // this copy started now: its files are not left over from a killed one
        QTest::qWait(100);
        QVERIFY(texts().isEmpty());
        m_form->PushButton6->click();
        QCOMPARE(
            texts(),
            QStringList({"Another copy of Vocorda Call Recorder is recording a call, using the "
                         "temporary folder " +
                         temp("").chopped(1) +
                         ". Only one recording at a time can use it: start this one when "
                         "the other copy has saved its call."}));
        QVERIFY(!m_form->recording().isRecording() && m_form->PushButton6->isEnabled());
        QVERIFY(m_call->redirects.isEmpty());
        QCOMPARE(readBytes(temp("mic.wav")), mic);
        QCOMPARE(readBytes(temp("speaker.wav")), speaker);

        copy.write("end\n");
        QVERIFY(copy.waitForFinished(30000));
        QCOMPARE(copy.readAll(), QByteArray("Done.\n"));
        QVERIFY(QFileInfo(calls("copy.mp3")).size() > 0);
        m_form->PushButton6->click();
        m_world.raise(m_call, clsFinished);
        QCOMPARE(texts().last(), QString("Done."));
    }

    // A logout or `kill` ends a copy as closing it does; a kill leaves the same.
    void aKilledCopysRecordingIsOfferedAtStart_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGKILL") << SIGKILL;
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGHUP") << SIGHUP;
    }
    void aKilledCopysRecordingIsOfferedAtStart() {
        QFETCH(int, signal);
        QProcess copy;
        startCopy(copy);
        ::kill(pid_t(copy.processId()), signal);
        QVERIFY(copy.waitForFinished());
        QCOMPARE(copy.exitStatus() == QProcess::NormalExit, signal != SIGKILL);
        if (signal != SIGKILL) QCOMPARE(copy.exitCode(), 0);
        QCOMPARE(QDir(calls("")).entryList(QDir::Files | QDir::Hidden), QStringList());
        m_prompts.nextAnswers.enqueue(MessageAnswer::Yes);
        startWindow();
        QTRY_COMPARE(texts().size(), 2);
        QVERIFY2(texts()[0].contains("was not finished"), qPrintable(texts()[0]));
        QCOMPARE(texts()[1], QString("Done."));
        int rate = 0;
        const auto saved = DecodeMp3(calls("call.mp3"), calls("decoded.wav"), &rate);
        QVERIFY(ToneShare(saved, 1200, rate) > 0.3 && ToneShare(saved, 330, rate) > 0.3);
    }

    // The real program, asking about a left recording when SIGTERM comes, ends as closed.
    void theProgramEndsOnSIGTERMAndTouchesNothing() {
        m_form.reset();
        plantStaleFiles();
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", m_dir->filePath("home"));
        environment.insert("XDG_CONFIG_HOME", m_dir->filePath("home/config"));
        program.setProcessEnvironment(environment);
        program.start(VOCORDA_PROGRAM, {});
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(temp("recording.lock")), 15000);
        program.terminate();
        QVERIFY(program.waitForFinished());
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        for (const char* name : {"mic.wav", "speaker.wav", "result.wav"})
            QCOMPARE(readBytes(temp(name)), QByteArray("stale"));
    }

    // Files under the program's names in TEMP itself, the user's own or another user's in a
    // shared TEMP, are neither offered, nor run, nor read, nor replaced.
    void filesInTempItselfAreLeftAlone_data() {
        QTest::addColumn<bool>("foreign");
        QTest::newRow("the user's own") << false;
        QTest::newRow("another user's, in a shared TEMP") << true;
    }
    void filesInTempItselfAreLeftAlone() {
        QFETCH(bool, foreign);
        if (foreign && ::getuid() != 0) QSKIP("needs root to plant another user's files");
        const QString root = m_dir->filePath("temp/");
        QCOMPARE(::chmod(root.toLocal8Bit().constData(), foreign ? 01777 : 0700), 0);
        const QByteArray planted =
            "#!/bin/sh\ntouch " + root.toLocal8Bit() + "mark\nexec " LAME_EXECUTABLE " \"$@\"\n";
        const QStringList names = {"lame.exe", "mic.wav", "result.wav", "speaker.wav"};
        for (const QString& name : names) {
            writeBytes(root + name, planted);
            const QByteArray native = (root + name).toLocal8Bit();
            if (foreign) QCOMPARE(::chown(native.constData(), 65534, 65534), 0);
            QCOMPARE(::chmod(native.constData(), 0755), 0);
        }
        startWindow();
        QVERIFY(texts().isEmpty());  // nothing offered
        m_form->PushButton6->click();
        m_world.raise(m_call, clsFinished);
        QCOMPARE(texts(), QStringList({"Done."}));
        QVERIFY(QFileInfo(calls("call.mp3")).size() > 0);
        const QString own = QString("vocorda-call-recorder-%1").arg(::getuid());
        QCOMPARE(QDir(root).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 names + QStringList(own));
        for (const QString& name : names) QCOMPARE(readBytes(root + name), planted);
        QCOMPARE(QDir(temp("")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList());
    }

    void clientNotRunningOffersTheHelpAndTouchesNothing() {
        m_world.running = false;
        plantStaleFiles();
        m_prompts.nextAnswers.enqueue(MessageAnswer::No);
        m_form->PushButton6->click();
        QCOMPARE(texts(), QStringList({AccessHelpText("Start Recording")}));
        QCOMPARE(m_prompts.messages[0].buttons, MessageButtons::YesNo);
        QVERIFY(m_launcher.opened.isEmpty());
        QCOMPARE(readBytes(temp("mic.wav")), QByteArray("stale"));
        QVERIFY(m_form->PushButton6->isEnabled());
    }

    void noCallSaysSoAndTouchesNothing() {
        m_world.calls.clear();
        plantStaleFiles();
        m_form->PushButton6->click();
        QCOMPARE(texts(), QStringList({"There are no active calls found."}));
        QCOMPARE(m_prompts.messages[0].title, QString("Vocorda Call"));
        QCOMPARE(m_prompts.messages[0].icon, MessageIcon::None);
        QCOMPARE(readBytes(temp("speaker.wav")), QByteArray("stale"));
        QVERIFY(m_form->PushButton6->isEnabled());
    }

    void failingRedirectsAreReportedAndTheButtonWaitsForTheCallsEnd() {
        m_call->failRedirects = true;
        m_form->PushButton6->click();
        QCOMPARE(m_prompts.messages.size(), 2);
        QVERIFY(texts()[0].startsWith(
            "Call call-1 is not in progress\r\nin "
            "VocordaCallRecorder2021/08/31.Form1.PushButton6_Click at line 126\r\r"));
        QVERIFY(texts()[1].contains("PushButton6_Click at line 128\r\r"));
        QVERIFY(!m_form->PushButton6->isEnabled());
        m_world.raise(m_call, clsInProgress);
        QVERIFY(!m_form->PushButton6->isEnabled());
        m_world.raise(m_call, clsFinished);
        QVERIFY(m_form->PushButton6->isEnabled());
        QCOMPARE(m_prompts.messages.size(), 3);
        QVERIFY(
            texts()[2].startsWith("The call could not be saved: the call client did not write"));
        QVERIFY(!texts().contains("Done."));
    }

    void onlyTheFirstCallIsRecordedAndAnotherCallCannotEndIt() {
        auto second = std::make_shared<FakeCall>("call-2", 300, 500);
        m_world.calls = {m_call, second};
        // A microphone test that comes first and is over while the recording starts.
        auto test = std::make_shared<FakeCall>("test", 300, 500);
        QTimer::singleShot(300, [&] {
            m_world.calls.prepend(test);
            m_world.raise(test, clsInProgress);
            m_world.raise(test, clsFinished);
        });
        m_form->PushButton6->click();
        QCOMPARE(m_call->redirects.size(), 2);
        QVERIFY(second->redirects.isEmpty() && test->redirects.isEmpty());
        m_world.raise(second, clsRinging);
        m_world.raise(second, clsFinished);
        QVERIFY(texts().isEmpty());
        QVERIFY(m_form->recording().isRecording());
        QVERIFY(QFile::exists(temp("mic.wav")));
        m_world.raise(m_call, clsOnHold);
        QCOMPARE(texts(), QStringList({"Done."}));
    }

    void eventsWithoutARecordingShowNothing() {
        m_world.calls.clear();
        m_form->PushButton6->click();  // a client object now exists, but nothing is recorded
        m_prompts.messages.clear();
        m_world.raise(m_call, clsFinished);
        m_world.raise(m_call, clsRefused);
        QVERIFY(texts().isEmpty());
    }

    void pressesAndEventsDuringTheFinishingWorkAreIgnored() {
        m_form->PushButton6->click();
        QCOMPARE(m_world.created, 1);
        int nestedChecks = 0;
        // Fires while the mixer and the encoder wait with the window alive.
        QTimer poke;
        connect(&poke, &QTimer::timeout, this, [&] {
            if (!m_form->recording().isFinishing()) return;
            ++nestedChecks;
            QVERIFY(!m_form->PushButton6->isEnabled());
            m_form->PushButton6->click();
            QMetaObject::invokeMethod(m_form->PushButton6, "clicked");
            m_world.raise(m_call, clsFinished);
        });
        poke.start(150);
        m_world.raise(m_call, clsFinished);
        poke.stop();
        QVERIFY(nestedChecks > 0);
        QCOMPARE(m_world.created, 1);
        QCOMPARE(texts(), QStringList({"Done."}));
        QVERIFY(QFileInfo(calls("call.mp3")).size() > 0);
        QVERIFY(tempIsClean());
    }

    void unwritableMp3FolderKeepsTheRecordingAndSaysWhere() {
        m_form->PushButton6->click();
        writeBytes(m_dir->filePath("plain-file"), "x");  // no folder can be made under a file
        m_form->Text3->setText(m_dir->filePath("plain-file/folder/call.mp3"));
        m_world.raise(m_call, clsFinished);
        QCOMPARE(m_prompts.messages.size(), 1);
        const QString text = texts()[0];
        QVERIFY2(text.contains("does not exist"), qPrintable(text));
        const QString kept = m_dir->filePath("data/vocorda-call-recorder/call.wav");
        QVERIFY2(text.endsWith(kept), qPrintable(text));
        QVERIFY(QFileInfo(kept).size() > 44);
        QVERIFY(tempIsClean());
        QVERIFY(m_form->PushButton6->isEnabled());
    }

    // What a killed program left is set aside, never replaced, and said once; a mix cut short
    // beside both whole sides is not kept (it is made again from them).
    void aLeftRecordingIsMovedAsideBeforeTheNextOne() {
        plantStaleFiles();
        QStringList kept;
        for (const auto& [name, suffix] :
             {std::pair{"mic.wav", "-mic"}, {"speaker.wav", "-speaker"}})
            kept << m_dir->filePath(
                "data/vocorda-call-recorder/Call " +
                QFileInfo(temp(name)).lastModified().toString("yyyy-MM-dd hh.mm.ss") + suffix +
                ".wav");
        m_prompts.nextAnswers.enqueue(MessageAnswer::No);
        startWindow();
        m_form->PushButton6->click();
        m_world.raise(m_call, clsFinished);
        QCOMPARE(texts().last(),
                 "Done.\n\nA recording that was not finished earlier was still in "
                 "the temporary folder. So that this recording could not replace "
                 "it, it was moved to:\n" +
                     kept.join('\n'));
        for (const QString& file : kept) QCOMPARE(readBytes(file), QByteArray("stale"));
        QCOMPARE(QDir(m_dir->filePath("data/vocorda-call-recorder")).entryList(QDir::Files).size(),
                 2);
        m_form->PushButton6->click();
        m_world.raise(m_call, clsFinished);
        QVERIFY(!texts().last().contains("not finished"));
    }

    // As the file dialog takes them; the window keeps the path as typed.
    void typedPathsAreTheFilesTheUserMeans() {
        qputenv("HOME", m_dir->filePath("home").toLocal8Bit());
        const QString working = QDir::currentPath();
        QDir::setCurrent(calls(""));
        for (const QString typed : {"-call.mp3", "~/Calls/call.mp3"}) {
            m_form->Text3->setText(typed);
            m_form->PushButton6->click();
            m_world.raise(m_call, clsFinished);
            const QString saved =
                typed == "-call.mp3" ? calls("-call.mp3") : m_dir->filePath("home/Calls/call.mp3");
            QCOMPARE(texts().last(), "Done.\nThe recording was saved as " + saved + ".");
            QVERIFY(QFileInfo(saved).size() > 0);
            QCOMPARE(m_form->Text3->text(), typed);
        }
        QDir::setCurrent(working);
    }

    void pathChangedDuringTheCallIsUsed() {
        m_form->PushButton6->click();
        m_form->Text3->setText(calls("renamed.mp3"));
        m_world.raise(m_call, clsFinished);
        QCOMPARE(texts(), QStringList({"Done."}));
        QVERIFY(QFileInfo(calls("renamed.mp3")).size() > 0);
        QVERIFY(!QFile::exists(calls("call.mp3")));
    }

    void helpTextIsExactAndYesOpensTheVideo() {
        m_form->PushButton6->setText("Record Now");
        m_prompts.nextAnswers.enqueue(MessageAnswer::Yes);
        m_form->PushButton13->click();
        QCOMPARE(m_prompts.messages.size(), 1);
        QCOMPARE(
            texts()[0],
            QString("For your information: I have Skype Version 5.6.0.110 installed on my "
                    "computer and this software works well with it.\r\rIn order to use this "
                    "software, please make sure that you have Skype open and you are logged "
                    "into your account.\r\rAlso, after clicking the 'Record Now' button, Skype "
                    "will ask if this software has permission to can access it. You will have "
                    "to switch from looking at this software to looking at Skype and click "
                    "'Allow'.\r\rWould you like to see a video showing how this 'Allow' "
                    "message appears in Skype?"));
        QCOMPARE(m_prompts.messages[0].title, QString("Vocorda Call"));
        QCOMPARE(m_prompts.messages[0].icon, MessageIcon::None);
        QCOMPARE(m_launcher.opened,
                 QStringList({m_dir->filePath("program/Help Video/Skype Allow.avi")}));

        m_prompts.nextAnswers.enqueue(MessageAnswer::No);
        m_form->PushButton13->click();
        QCOMPARE(m_launcher.opened.size(), 1);
    }
};

QTEST_MAIN(RecordingTest)
#include "RecordingTest.moc"
