// The server model fed by hand with the records the server sends: which streams make a call,
// in which order, and which devices a call reads and plays to as its streams come, move and go.
#include <pulse/proplist.h>

#include <QtTest>
#include <memory>

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

QStringList ids(const PulseServerModel& model) {
    QStringList result;
    for (const auto& call : model.calls()) result << call.id;
    return result;
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
