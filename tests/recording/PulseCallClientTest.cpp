// The call client against a real, private PulseAudio server: which streams are calls, the two
// files of a recorded call, the call's end, a killed program, a server that goes away, drift,
// and the whole road in the real window.
#include <signal.h>

#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>
#include <cstdio>
#include <memory>

#include "AppError.h"
#include "AudioChecks.h"
#include "FakePrompts.h"
#include "FakeSkype.h"
#include "Form1.h"
#include "PulseCallClient.h"
#include "PulseTestServer.h"
#include "SettingsStore.h"
#include "WavBytes.h"
#include "modWave.h"

namespace {

constexpr int kBytesPerSecond = 96000;
constexpr char kChildFolder[] = "VOCORDA_TEST_CHILD_RECORD";

struct Events {
    QList<std::pair<QString, int>> seen;
    void listen(ISkype& client) {
        QObject::connect(&client, &ISkype::CallStatus, &client,
                         [this](const CallPtr& call, int status) {
                             seen.append({call->Id(), status});
                         });
    }
    bool has(const QString& id, int status) const { return seen.contains({id, status}); }
};

WaveInfo infoOf(const QString& path) {
    FakePrompts prompts;
    return ReadWaveInfo(path, prompts);
}

void redirectFirstCall(ISkype& client, const QString& folder) {
    const CallPtr call = client.ActiveCalls()->Item(1);
    call->setCaptureMicDevice(callIoDeviceTypeFile, folder + "/mic.wav");
    call->setOutputDevice(callIoDeviceTypeFile, folder + "/speaker.wav");
}

// The child that a test kills: records call 1 into the folder until it is killed.
int recordAsChild(const QString& folder) {
    PulseCallClient client;
    if (!client.Client().IsRunning()) return 2;
    QElapsedTimer clock;
    clock.start();
    while (client.ActiveCalls()->Count() == 0 && clock.elapsed() < 10000) QTest::qWait(20);
    redirectFirstCall(client, folder);
    std::printf("recording\n");
    std::fflush(stdout);
    return QCoreApplication::exec();
}

}  // namespace

class PulseCallClientTest : public QObject {
    Q_OBJECT
    std::unique_ptr<PulseTestServer> m_server;
    std::unique_ptr<QTemporaryDir> m_dir;

    std::unique_ptr<PulseCallClient> m_client;
    Events m_events;
    FakePrompts m_prompts;
    FakeLauncher m_launcher;
    std::unique_ptr<SettingsStore> m_settings;

    // The real window with the real call client; its boxes are answered by m_prompts.
    std::unique_ptr<Form1> startWindow() {
        m_settings = std::make_unique<SettingsStore>(m_dir->filePath("config"));
        auto form = std::make_unique<Form1>(
            Form1::Seams{.prompts = &m_prompts,
                         .settings = m_settings.get(),
                         .launcher = &m_launcher,
                         .callClient = [] { return std::make_unique<PulseCallClient>(); },
                         .programFolder = m_dir->path(),
                         .endProgram = [] {}});
        form->start();
        return form;
    }

    std::unique_ptr<PulseCallClient> connectedClient() {
        auto client = std::make_unique<PulseCallClient>();
        if (!client->Client().IsRunning()) return nullptr;
        return client;
    }
    // Connects, waits for the one call and sends both its sides into the test's folder.
    bool recordFirstCall() {
        m_client = connectedClient();
        if (!m_client) return false;
        m_events.listen(*m_client);
        if (!QTest::qWaitFor([&] { return m_client->ActiveCalls()->Count() == 1; })) return false;
        redirectFirstCall(*m_client, m_dir->path());
        return true;
    }

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_server = std::make_unique<PulseTestServer>();
        const QString failure = m_server->start();
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
    }
    void cleanup() {
        m_prompts = FakePrompts();
        m_client.reset();
        m_events = {};
        m_server.reset();
    }

    void noServerMeansNotRunning() {
        m_server.reset();
        QElapsedTimer clock;
        clock.start();
        PulseCallClient client;
        QVERIFY(!client.Client().IsRunning());
        QVERIFY(clock.elapsed() < 3000);
        QVERIFY_THROWS_EXCEPTION(AppError, client.ActiveCalls());
    }

    void onlyApplicationsHoldingAMicrophoneAreCalls() {
        // Present from the start: recorders on both monitors, the remap filter's own stream.
        m_server->startSoftphone("FakeSoftphone");
        auto client = connectedClient();
        QVERIFY(client);
        m_events.listen(*client);
        QTRY_COMPARE(client->ActiveCalls()->Count(), 1);
        QCOMPARE(client->ActiveCalls()->Item(1)->Id(), QString("FakeSoftphone"));

        m_server->startSoftphone("OtherPhone");
        QTRY_COMPARE(client->ActiveCalls()->Count(), 2);
        QCOMPARE(client->ActiveCalls()->Item(2)->Id(), QString("OtherPhone"));
        QTRY_VERIFY(m_events.has("OtherPhone", clsInProgress));

        redirectFirstCall(*client, m_dir->path());  // our own two streams are no call
        QTest::qWait(300);
        QCOMPARE(client->ActiveCalls()->Count(), 2);
        QCOMPARE(client->ActiveCalls()->Item(1)->Id(), QString("FakeSoftphone"));
    }

    void recordedCallEndsWithBothFilesFinished() {
        m_server->playTone("speaker", 440);
        m_server->playTone("micsink", 1000);
        QProcess* phone = m_server->startSoftphone();
        QVERIFY(recordFirstCall());
        QTest::qWait(3000);
        m_server->stopProgram(phone);
        QTRY_VERIFY(m_events.has("FakeSoftphone", clsFinished));
        for (const char* side : {"mic.wav", "speaker.wav"}) {
            const QString path = m_dir->filePath(side);
            const WaveInfo info = infoOf(path);
            QCOMPARE(info.SampleRate, 48000);
            QCOMPARE(info.Channels, qint16(1));
            QCOMPARE(info.DataPos, qint64(40));
            QCOMPARE(qint64(info.DataSize) + 44, QFileInfo(path).size());
            const double seconds = double(info.DataSize) / kBytesPerSecond;
            QVERIFY2(seconds > 3.0 && seconds < 4.5, qPrintable(QString::number(seconds)));
        }
        const auto mic =
            samplesOf(readBytes(m_dir->filePath("mic.wav")), 44 + kBytesPerSecond, kBytesPerSecond);
        const auto speaker = samplesOf(readBytes(m_dir->filePath("speaker.wav")),
                                       44 + kBytesPerSecond, kBytesPerSecond);
        QVERIFY2(ToneShare(mic, 1000, 48000) > 0.5, "the microphone side holds the user's voice");
        QVERIFY2(ToneShare(speaker, 440, 48000) > 0.5, "the speaker side holds the remote party");
        QVERIFY(ToneShare(mic, 440, 48000) < 0.05);
    }

    void reopenedMicrophoneKeepsTheCall() {
        QProcess* phone = m_server->startSoftphone();
        QVERIFY(recordFirstCall());
        m_server->stopProgram(phone);
        phone = m_server->startSoftphone();  // the application opens its microphone again
        QTest::qWait(1500);
        QVERIFY(!m_events.has("FakeSoftphone", clsFinished));
        QCOMPARE(m_client->ActiveCalls()->Count(), 1);
        m_server->stopProgram(phone);
        QTRY_VERIFY(m_events.has("FakeSoftphone", clsFinished));
    }

    void serverGoneEndsTheCallWithValidFiles() {
        m_server->playTone("speaker", 440);
        m_server->startSoftphone();
        QVERIFY(recordFirstCall());
        QTest::qWait(1500);
        m_server->kill();
        QTRY_VERIFY(m_events.has("FakeSoftphone", clsFinished));
        for (const char* side : {"mic.wav", "speaker.wav"}) {
            const QString path = m_dir->filePath(side);
            QVERIFY(infoOf(path).DataSize > kBytesPerSecond);
            QCOMPARE(qint64(infoOf(path).DataSize) + 44, QFileInfo(path).size());
        }
    }

    void killedProgramLeavesValidFiles() {
        m_server->playTone("speaker", 440);
        m_server->startSoftphone();
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(kChildFolder, m_dir->path());
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(child.waitForReadyRead(15000));
        QCOMPARE(child.readLine(), QByteArray("recording\n"));
        QElapsedTimer clock;
        clock.start();
        QTest::qWait(3500);
        ::kill(pid_t(child.processId()), SIGKILL);
        const double recorded = clock.elapsed() / 1000.0;
        QVERIFY(child.waitForFinished(5000));
        for (const char* side : {"mic.wav", "speaker.wav"}) {
            const WaveInfo info = infoOf(m_dir->filePath(side));
            const double seconds = double(info.DataSize) / kBytesPerSecond;
            QVERIFY2(seconds >= recorded - 1.0,
                     qPrintable(QString("%1: %2 s of %3 s").arg(side).arg(seconds).arg(recorded)));
        }

        // The program started again offers the recording and saves it.
        qputenv("TEMP", m_dir->path().toLocal8Bit());
        std::unique_ptr<Form1> window = startWindow();
        Form1& form = *window;
        form.Text3->setText(m_dir->filePath("recovered.mp3"));
        QTRY_COMPARE_WITH_TIMEOUT(m_prompts.messages.size(), 2, 30000);
        QCOMPARE(m_prompts.messages[0].buttons, MessageButtons::YesNo);
        QCOMPARE(m_prompts.texts()[1], QString("Done."));
        QVERIFY(QFileInfo(m_dir->filePath("recovered.mp3")).size() > 0);
    }

    void bothSidesStayAlignedForAMinute() {
        m_server->playTone("speaker", 440);
        QProcess* phone = m_server->startSoftphone();
        QVERIFY(recordFirstCall());
        QTest::qWait(60000);
        m_server->stopProgram(phone);
        QTRY_VERIFY(m_events.has("FakeSoftphone", clsFinished));
        const WaveInfo mic = infoOf(m_dir->filePath("mic.wav"));
        const WaveInfo speaker = infoOf(m_dir->filePath("speaker.wav"));
        QVERIFY(std::abs(qint64(mic.DataSize) - qint64(speaker.DataSize)) <= 512);
        QVERIFY(std::abs(double(mic.DataSize) / kBytesPerSecond - 60.5) < 1.0);
    }

    void wholeRoadInTheWindow() {
        m_server->playTone("speaker", 440);
        m_server->playTone("micsink", 1000);
        QProcess* phone = m_server->startSoftphone();
        qputenv("TEMP", m_dir->filePath("temp").toLocal8Bit());
        QDir().mkpath(m_dir->filePath("temp"));
        std::unique_ptr<Form1> window = startWindow();
        Form1& form = *window;
        form.Text3->setText(m_dir->filePath("call.mp3"));
        QTest::qWait(500);  // the softphone's stream is up
        form.PushButton6->click();
        QVERIFY2(m_prompts.messages.isEmpty(), qPrintable(m_prompts.texts().join("|")));
        QElapsedTimer clock;
        clock.start();
        QTest::qWait(8000);
        m_server->stopProgram(phone);
        const double expected = clock.elapsed() / 1000.0 + 0.5;  // the reopen grace
        QTRY_VERIFY_WITH_TIMEOUT(!m_prompts.messages.isEmpty(), 60000);
        QCOMPARE(m_prompts.texts(), QStringList({"Done."}));
        for (const char* name : {"mic.wav", "speaker.wav", "result.wav", "lame.exe"})
            QVERIFY(!QFile::exists(m_dir->filePath(QString("temp/") + name)));

        int rate = 0, channels = 0;
        const auto samples = DecodeMp3(m_dir->filePath("call.mp3"), m_dir->filePath("decoded.wav"),
                                       &rate, &channels);
        QVERIFY(!samples.empty());
        const double seconds = double(samples.size()) / rate / channels;
        QVERIFY2(std::abs(seconds - expected) < 0.5,
                 qPrintable(QString("%1 s, expected %2 s").arg(seconds).arg(expected)));
        QVERIFY(ToneShare(samples, 440, rate) > 0.2);
        QVERIFY(ToneShare(samples, 1000, rate) > 0.2);
    }
};

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString childFolder = qEnvironmentVariable(kChildFolder);
    if (!childFolder.isEmpty()) return recordAsChild(childFolder);
    PulseCallClientTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "PulseCallClientTest.moc"
