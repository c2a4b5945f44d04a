// The server model fed by hand with the records the server sends: which streams make a call,
// in which order, and which devices a call reads and plays to as its streams come, move and go;
// and when a call ends, from the stream patterns measured on real call applications.
#include <pulse/proplist.h>

#include <QRegularExpression>
#include <QtTest>
#include <memory>

#include "CallLifetime.h"
#include "PulseServerModel_p.h"

namespace {

constexpr uint32_t kMic = 1, kMic2 = 2, kSpeakerMonitor = 3, kSpeaker2Monitor = 4;
constexpr uint32_t kSpeaker = 10, kSpeaker2 = 11;
constexpr uint32_t kClient = 7;
constexpr char kOwnProcess[] = "4242";

using Proplist = std::unique_ptr<pa_proplist, decltype(&pa_proplist_free)>;

Proplist props(std::initializer_list<std::pair<const char*, const char*>> entries) {
    Proplist list(pa_proplist_new(), &pa_proplist_free);
    for (const auto& [key, value] : entries) pa_proplist_sets(list.get(), key, value);
    return list;
}

struct Capture {
    pa_source_output_info info{};
    Proplist list;
    Capture(uint32_t index, uint32_t source, Proplist p, uint32_t client = kClient,
            const char* resample = "speex-float-1")
        : list(std::move(p)) {
        info.index = index;
        info.source = source;
        info.client = client;
        info.proplist = list.get();
        info.resample_method = resample;
    }
};

struct Playback {
    pa_sink_input_info info{};
    Proplist list;
    Playback(uint32_t index, uint32_t sink, Proplist p, uint32_t client = kClient)
        : list(std::move(p)) {
        info.index = index;
        info.sink = sink;
        info.client = client;
        info.proplist = list.get();
    }
};

// A stream of an application that is a process of its own.
Proplist app(const char* name, const char* role = nullptr) {
    const QByteArray pid = QByteArray::number(1000 + qHash(QByteArray(name)) % 30000);
    Proplist list = props(
        {{PA_PROP_APPLICATION_NAME, name}, {PA_PROP_APPLICATION_PROCESS_ID, pid.constData()}});
    if (role) pa_proplist_sets(list.get(), PA_PROP_MEDIA_ROLE, role);
    return list;
}

// The calls that hold a microphone now.
QStringList ids(PulseServerModel& model) {
    QStringList result;
    for (const auto& call : model.calls())
        if (call.streams.captures > 0) result << call.id;
    return result;
}

// When the call ends, in ms, for a pattern of "MS:FLAGS" steps: cN captures and pN playing
// streams from then on, s the far party talks (0.2 s every 2 s) from then on, q it is quiet.
// -1: it has not ended by `until`. Then where its recording ends.
std::pair<qint64, qint64> endOf(const QString& pattern, qint64 until) {
    std::map<qint64, QString> steps;
    for (const QString& step : pattern.split(' '))
        steps[step.section(':', 0, 0).toLongLong()] = step.section(':', 1);
    CallLifetime lifetime(0);
    CallLifetime::Streams streams;
    bool talks = false;
    for (qint64 now = 0; now <= until; now += 10) {
        if (const auto step = steps.find(now); step != steps.end()) {
            static const QRegularExpression flag("([cpsq])(\\d*)");
            for (const auto& match : flag.globalMatch(step->second)) {
                const QString kind = match.captured(1);
                if (kind == "c") streams.captures = match.captured(2).toInt();
                if (kind == "p") streams.playing = match.captured(2).toInt();
                if (kind == "s" || kind == "q") talks = kind == "s";
            }
            lifetime.hold(streams, now);
        }
        if (talks && now % 2000 < 200) lifetime.heard(now);
        if (lifetime.hasEnded(now)) return {now, lifetime.endMs()};
    }
    return {-1, -1};
}

}  // namespace

class PulseServerModelTest : public QObject {
    Q_OBJECT
    std::unique_ptr<PulseServerModel> m_model;

    void source(uint32_t index, const char* name, uint32_t monitorOf = PA_INVALID_INDEX) {
        pa_source_info info{};
        info.index = index;
        info.name = name;
        info.monitor_of_sink = monitorOf;
        m_model->updateSource(info);
    }
    void sink(uint32_t index, const char* name, const char* monitor) {
        pa_sink_info info{};
        info.index = index;
        info.name = name;
        info.monitor_source_name = monitor;
        m_model->updateSink(info);
    }
    void capture(Capture c) { m_model->updateCapture(c.info); }
    void playback(Playback p) { m_model->updatePlayback(p.info); }

private slots:
    void init() {
        m_model = std::make_unique<PulseServerModel>(kOwnProcess);
        source(kMic, "mic");
        source(kMic2, "mic2");
        source(kSpeakerMonitor, "speaker.monitor", kSpeaker);
        source(kSpeaker2Monitor, "speaker2.monitor", kSpeaker2);
        sink(kSpeaker, "speaker", "speaker.monitor");
        sink(kSpeaker2, "speaker2", "speaker2.monitor");
        pa_server_info server{};
        server.default_sink_name = "speaker";
        m_model->updateServer(server);
    }

    void onlyApplicationsReadingAMicrophoneAreCalls() {
        capture({1, kSpeakerMonitor, app("Recorder")});  // reads a monitor
        capture({2, kMic, app("Meter"), kClient, "peaks"});
        capture({3, kMic, app("Loopback"), PA_INVALID_INDEX});  // the server's own
        capture({4, kMic,
                 props({{PA_PROP_APPLICATION_NAME, "Vocorda Call Recorder"},
                        {PA_PROP_APPLICATION_PROCESS_ID, kOwnProcess}})});
        QCOMPARE(ids(*m_model), QStringList());
        capture({5, kMic, app("Softphone")});
        capture({6, kMic, props({{PA_PROP_APPLICATION_PROCESS_ID, "99"}}), 12});
        QCOMPARE(ids(*m_model), QStringList({"Softphone", "client 12"}));
    }

    void aSourceDescribedLaterIsJudgedThen() {
        capture({1, 50, app("Recorder")});
        QCOMPARE(ids(*m_model), QStringList({"Recorder"}));
        source(50, "headset.monitor", kSpeaker2);
        QCOMPARE(ids(*m_model), QStringList());
    }

    // A call is remembered with its streams until it is forgotten: a browser that closes its
    // microphone at a mute, makes a new playback stream and opens a microphone on another source.
    void aCallWithoutMicrophoneKeepsItsFarSideAndItsName() {
        const auto browser = [](const char* name) {
            return props({{PA_PROP_APPLICATION_NAME, name}, {PA_PROP_APPLICATION_PROCESS_ID, "5"}});
        };
        capture({1, kMic, browser("Browser input")});
        playback({20, kSpeaker, browser("Browser")});
        QCOMPARE(ids(*m_model), QStringList({"Browser input"}));
        m_model->removeCapture(1);
        m_model->removePlayback(20);
        playback({21, kSpeaker2, browser("Browser")});
        auto calls = m_model->calls();
        QCOMPARE(calls.size(), size_t(1));
        QCOMPARE(calls[0].id, QString("Browser input"));
        QCOMPARE(calls[0].streams.captures, 0);
        QCOMPARE(calls[0].streams.playing, 1);
        QVERIFY(!m_model->holdsMicrophone("Browser input"));
        const std::map<uint32_t, QString> far{{21, "speaker2.monitor"}};
        QCOMPARE(m_model->playbacksOf("Browser input"), far);
        Playback corked(21, kSpeaker2, browser("Browser"));
        corked.info.corked = 1;
        m_model->updatePlayback(corked.info);
        QCOMPARE(m_model->calls()[0].streams.playing, 0);
        capture({2, kMic2, browser("Browser mic")});
        QCOMPARE(ids(*m_model), QStringList({"Browser input"}));
        QCOMPARE(m_model->microphoneOf("Browser input"), QString("mic2"));
        m_model->removeCapture(2);
        m_model->forget("Browser input");
        QVERIFY(m_model->calls().empty());
        QVERIFY(m_model->playbacksOf("Browser input").empty());
    }

    // The stream patterns of real applications (see CallLifetime.h), a call that begins at 0.
    void aCallEndsWhenItsApplicationHangsUp_data() {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<qint64>("until");
        QTest::addColumn<qint64>("end");
        QTest::addColumn<qint64>("cut");
        QTest::newRow("baresip hangs up")
            << QString("0:c1p1s 12000:c0 12120:p0q") << 20000ll << 13120ll << 13110ll;
        QTest::newRow("an application with a microphone only")
            << QString("0:c1 8000:c0") << 20000ll << 9000ll << 9000ll;
        QTest::newRow("... reopened after 0.3 s")
            << QString("0:c1 5000:c0 5300:c1") << 20000ll << -1ll << -1ll;
        QTest::newRow("Chromium: a mute of 8 s, the hang-up")
            << QString("0:c1p1s 5000:c0p3 13000:c1 20000:c0q 21000:p2") << 60000ll << 40000ll
            << 21000ll;
        QTest::newRow("Chromium: a mute of 5 min")
            << QString("0:c1p1s 5000:c0p3 305000:c1") << 310000ll << -1ll << -1ll;
        QTest::newRow("Firefox: a mute of 8 s, the hang-up")
            << QString("0:c1p1s 5000:c0 13000:c1 20000:c0q") << 60000ll << 40000ll << 21000ll;
        QTest::newRow("Firefox: the far party quiet at the mute")
            << QString("0:c1p1 5000:c0 5300:s 13000:c1") << 20000ll << -1ll << -1ll;
        QTest::newRow("a microphone switched")
            << QString("0:c1p1s 6000:c0 6100:c1") << 20000ll << -1ll << -1ll;
        QTest::newRow("a call that plays nothing, muted")
            << QString("0:c1p0 5000:c0") << 20000ll << 6000ll << 6000ll;
    }
    void aCallEndsWhenItsApplicationHangsUp() {
        QFETCH(QString, pattern);
        QFETCH(qint64, until);
        QFETCH(qint64, end);
        QFETCH(qint64, cut);
        QCOMPARE(endOf(pattern, until), std::make_pair(end, cut));
    }

    void phoneCallsComeFirstThenTheOrderOfFirstSight() {
        capture({1, kMic, app("Browser")});
        capture({2, kMic, app("Meeting")});
        capture({3, kMic, app("Softphone", "phone")});
        QCOMPARE(ids(*m_model), QStringList({"Softphone", "Browser", "Meeting"}));
        capture({4, kMic, app("Browser")});  // a second stream of the same application
        m_model->removeCapture(1);
        QCOMPARE(ids(*m_model), QStringList({"Softphone", "Browser", "Meeting"}));
        m_model->removeCapture(4);
        QCOMPARE(ids(*m_model), QStringList({"Softphone", "Meeting"}));
    }

    void aMovedCaptureChangesTheCallsMicrophone() {
        capture({1, kMic, app("Softphone")});
        QCOMPARE(m_model->microphoneOf("Softphone"), QString("mic"));
        capture({1, kMic2, app("Softphone")});  // the same stream, now on another source
        QCOMPARE(m_model->microphoneOf("Softphone"), QString("mic2"));
        m_model->removeSource(kMic2);  // a headset unplugged: nothing to read until it moves
        QCOMPARE(m_model->microphoneOf("Softphone"), QString());
        m_model->removeCapture(1);
        QCOMPARE(m_model->microphoneOf("Softphone"), QString());
        QCOMPARE(m_model->microphoneOf("Nobody"), QString());
    }

    void theCallsPlaybackStreamsAndWhereTheyPlay() {
        capture({1, kMic, app("Softphone")});
        QCOMPARE(m_model->outputMonitorOf("Softphone"), QString("speaker.monitor"));  // default
        playback({20, kSpeaker, app("Softphone")});
        playback({21, kSpeaker, app("Notifier")});
        playback({22, kSpeaker2, app("Softphone")});
        const std::map<uint32_t, QString> both{{20, "speaker.monitor"}, {22, "speaker2.monitor"}};
        QCOMPARE(m_model->playbacksOf("Softphone"), both);
        playback({20, kSpeaker2, app("Softphone")});  // moved
        m_model->removePlayback(22);
        const std::map<uint32_t, QString> moved{{20, "speaker2.monitor"}};
        QCOMPARE(m_model->playbacksOf("Softphone"), moved);
        QCOMPARE(m_model->outputMonitorOf("Softphone"), QString("speaker2.monitor"));
        m_model->removeSink(kSpeaker2);  // gone with its device: nothing to record it from
        QVERIFY(m_model->playbacksOf("Softphone").empty());
    }

    // Chromium (and every Electron application): capture and playback on two clients with two
    // names, from one audio process.
    void theStreamsOfOneProcessAreOneCall() {
        const auto chromium = [](const char* name) {
            return props({{PA_PROP_APPLICATION_NAME, name},
                          {PA_PROP_APPLICATION_PROCESS_ID, "777"},
                          {PA_PROP_APPLICATION_PROCESS_BINARY, "chromium"}});
        };
        capture({1, kMic, chromium("Chromium input"), 30});
        playback({20, kSpeaker, chromium("Chromium")});
        playback({21, kSpeaker, app("Notifier")});
        QCOMPARE(ids(*m_model), QStringList({"Chromium input"}));
        const std::map<uint32_t, QString> far{{20, "speaker.monitor"}};
        QCOMPARE(m_model->playbacksOf("Chromium input"), far);
        QCOMPARE(m_model->microphoneOf("Chromium input"), QString("mic"));
    }

    // Firefox reopens its capture stream, each new one before the old one closes.
    void overlappingCapturesOfOneClientStayOneCallInItsPlace() {
        const auto firefox = [] { return props({{PA_PROP_APPLICATION_NAME, "Firefox"}}); };
        capture({1, kMic, firefox(), 40});
        capture({2, kMic, app("Meeting")});
        playback({20, kSpeaker, props({{PA_PROP_MEDIA_NAME, "Call"}}), 40});  // on its client
        capture({3, kMic2, firefox(), 40});
        m_model->removeCapture(1);
        capture({4, kMic, firefox(), 40});
        m_model->removeCapture(3);
        QCOMPARE(ids(*m_model), QStringList({"Firefox", "Meeting"}));
        QCOMPARE(m_model->microphoneOf("Firefox"), QString("mic"));
        QCOMPARE(m_model->playbacksOf("Firefox").size(), size_t(1));
    }

    // Inside sandboxes process ids repeat: the application's id (PipeWire) or its program tells.
    void sandboxedApplicationsWithOneProcessIdAreTwoCalls() {
        const auto sandboxed = [](const char* name, const char* appId, const char* binary) {
            return props({{PA_PROP_APPLICATION_NAME, name},
                          {PA_PROP_APPLICATION_PROCESS_ID, "2"},
                          {PA_PROP_APPLICATION_PROCESS_BINARY, binary},
                          {"pipewire.access.portal.app_id", appId}});
        };
        capture({1, kMic, sandboxed("Chat", "org.example.Chat", "electron")});
        playback({20, kSpeaker, sandboxed("Music", "org.example.Music", "electron")});
        capture({2, kMic, sandboxed("Meeting", "", "meeting")});
        capture({3, kMic, sandboxed("Softphone", "", "softphone")});
        QCOMPARE(ids(*m_model), QStringList({"Chat", "Meeting", "Softphone"}));
        QVERIFY(m_model->playbacksOf("Chat").empty());
        capture({4, kMic,
                 props({{PA_PROP_APPLICATION_NAME, "Vocorda Call Recorder"},
                        {"pipewire.sec.pid", kOwnProcess}})});  // ours, as the server knows it
        QCOMPARE(ids(*m_model).size(), 3);
    }
};

QTEST_GUILESS_MAIN(PulseServerModelTest)
#include "PulseServerModelTest.moc"
