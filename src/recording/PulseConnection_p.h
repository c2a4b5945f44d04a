// The libpulse side of PulseCallClient: one threaded main loop feeding the server model, the
// calls it makes and the recorders of the calls being recorded. Everything here runs in the
// main loop's thread or under its lock; events leave through the callback given to the
// constructor.
#pragma once

#include <pulse/thread-mainloop.h>

#include <QString>
#include <QStringList>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "CallLifetime.h"
#include "CallRecorder_p.h"
#include "PulseServerModel_p.h"
#include "SkypeClient.h"

class PulseConnection {
public:
    struct Options {
        bool refuseMonitors = false;  // play a server without per-stream monitors
    };
    // onStatus(callId, status) is called from the main loop's thread.
    PulseConnection(std::function<void(const QString&, int)> onStatus, Options options);
    ~PulseConnection();

    // Waits at most timeoutMs for the server to answer and list its streams.
    bool waitUntilReady(int timeoutMs);
    std::vector<QString> calls();
    // Starts writing one side of the call into a WAV file; throws AppError.
    void recordMicrophone(const QString& callId, const QString& path);
    void recordOutput(const QString& callId, const QString& path);
    void finishAll();
    // What the user should hear about the recording of an ended call; asked once.
    CallReport takeReport(const QString& callId);

private:
    struct Call {
        explicit Call(qint64 nowMs) : lifetime(nowMs) {}
        uint64_t seen = 0;
        bool phone = false;
        CallLifetime lifetime;
        std::unique_ptr<CallRecorder> recorder;
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
    static void onTick(pa_mainloop_api* api, pa_time_event* e, const struct timeval* tv,
                       void* self);
    static void onFollow(pa_mainloop_api* api, pa_time_event* e, const struct timeval* tv,
                         void* self);

    void listAll();
    void subscribeEvent(pa_subscription_event_type_t t, uint32_t index);
    static void track(pa_operation* operation);
    Call& recordedCall(const QString& callId);
    void changed();
    void updateCalls();
    void endCalls();
    void followCalls();
    void finishCall(const QString& callId, Call& call, bool serverGone = false,
                    std::optional<qint64> untilMs = std::nullopt);
    void endCall(QString callId);  // a copy: the call and its key go away here
    void serverGone();

    std::function<void(const QString&, int)> m_onStatus;
    Options m_options;
    pa_threaded_mainloop* m_loop = nullptr;
    pa_context* m_context = nullptr;
    pa_time_event* m_tick = nullptr;
    pa_time_event* m_follow = nullptr;
    bool m_ready = false;
    bool m_failed = false;
    PulseServerModel m_model;
    std::map<QString, Call> m_calls;
    std::map<QString, CallReport> m_reports;
};
