// The libpulse side of PulseCallClient: one threaded main loop, a model of the server's capture
// and playback streams, and the two recorders of a call. Everything here runs in the main
// loop's thread or under its lock; events leave through the callback given to the constructor.
#pragma once

#include <pulse/pulseaudio.h>

#include <QString>
#include <QStringList>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "WavWriter.h"

struct PulseCallInfo {
    QString id;  // the application's name
};

class PulseConnection : public std::enable_shared_from_this<PulseConnection> {
public:
    // onStatus(callId, status) is called from the main loop's thread.
    explicit PulseConnection(std::function<void(const QString&, int)> onStatus);
    ~PulseConnection();

    // Waits at most timeoutMs for the server to answer and list its streams.
    bool waitUntilReady(int timeoutMs);
    std::vector<PulseCallInfo> calls();
    // Starts writing one side of the call into a WAV file; throws AppError.
    void recordMicrophone(const QString& callId, const QString& path);
    void recordOutput(const QString& callId, const QString& path);
    void finishAll();

private:
    struct Capture {
        uint32_t client = PA_INVALID_INDEX;
        uint32_t source = PA_INVALID_INDEX;
        QString app;
        bool phone = false;
        uint64_t seen = 0;
    };
    struct Playback {
        QString app;
        uint32_t sink = PA_INVALID_INDEX;
    };
    struct Recorder;
    struct Call {
        uint64_t seen = 0;
        bool phone = false;
        pa_time_event* ending = nullptr;
        std::vector<std::unique_ptr<Recorder>> recorders;
    };

    class Lock;

    static void onContextState(pa_context* c, void* self);
    static void onSubscribe(pa_context* c, pa_subscription_event_type_t t, uint32_t index,
                            void* self);
    static void onSourceOutput(pa_context* c, const pa_source_output_info* i, int eol, void* self);
    static void onSinkInput(pa_context* c, const pa_sink_input_info* i, int eol, void* self);
    static void onSource(pa_context* c, const pa_source_info* i, int eol, void* self);
    static void onSink(pa_context* c, const pa_sink_info* i, int eol, void* self);
    static void onServer(pa_context* c, const pa_server_info* i, void* self);
    static void onListed(pa_context* c, int success, void* self);
    static void onTimeout(pa_mainloop_api* api, pa_time_event* e, const struct timeval* tv,
                          void* self);
    static void onCallEnded(pa_mainloop_api* api, pa_time_event* e, const struct timeval* tv,
                            void* self);
    static void onTick(pa_mainloop_api* api, pa_time_event* e, const struct timeval* tv,
                       void* self);
    static void onRead(pa_stream* s, size_t bytes, void* recorder);

    void listAll();
    static void track(pa_operation* operation);
    void updateCalls();
    bool isCallStream(const pa_source_output_info& i) const;
    QString monitorFor(const QString& callId) const;
    void startRecorder(const QString& callId, const QString& device, const QString& path);
    void alignRecorders(Call& call, bool final);
    void finishCall(Call& call);
    void endCall(QString callId);  // a copy: the call and its key go away here
    void serverGone();

    std::function<void(const QString&, int)> m_onStatus;
    pa_threaded_mainloop* m_loop = nullptr;
    pa_context* m_context = nullptr;
    pa_time_event* m_tick = nullptr;
    bool m_ready = false;
    bool m_failed = false;
    int m_pendingLists = 0;
    uint64_t m_nextSeen = 1;
    QString m_ownProcess;
    QString m_defaultSink;
    std::map<uint32_t, Capture> m_captures;
    std::map<uint32_t, Playback> m_playbacks;
    std::map<uint32_t, bool> m_monitorSources;  // source index -> is a monitor
    std::map<uint32_t, QString> m_sourceNames;
    std::map<uint32_t, QString> m_sinkNames;
    std::map<QString, Call> m_calls;
};
