#include "PulseConnection_p.h"

#include <unistd.h>

#include <algorithm>
#include <string_view>
#include <utility>

#include "AppError.h"

namespace {

constexpr int kRate = 48000;
constexpr int kBytesPerSecond = kRate * 2;
constexpr pa_usec_t kReopenGrace = 500 * PA_USEC_PER_MSEC;
// Both files' headers are rewritten at every tick, so a killed program loses at most this much.
constexpr pa_usec_t kTick = 250 * PA_USEC_PER_MSEC;
// A side this far behind the wall clock gets silence (a sink with nothing to play is
// suspended, so its monitor delivers nothing); the slack covers the server's own latency.
constexpr qint64 kStarvedBytes = kBytesPerSecond * 3 / 10;
constexpr qint64 kSlackBytes = kBytesPerSecond / 10;

QString property(const pa_proplist* list, const char* key) {
    const char* value = list ? pa_proplist_gets(list, key) : nullptr;
    return value ? QString::fromUtf8(value) : QString();
}

// One call per application, by its name: an application that reopens the microphone from a
// helper process is still the same call. Unnamed streams count by their connection.
QString applicationKey(const pa_proplist* list, uint32_t client) {
    const QString name = property(list, PA_PROP_APPLICATION_NAME);
    return name.isEmpty() ? QString("client %1").arg(client) : name;
}

}  // namespace

class PulseConnection::Lock {
public:
    explicit Lock(pa_threaded_mainloop* loop) : m_loop(loop) { pa_threaded_mainloop_lock(m_loop); }
    ~Lock() { pa_threaded_mainloop_unlock(m_loop); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

private:
    pa_threaded_mainloop* m_loop;
};

struct PulseConnection::Recorder {
    pa_stream* stream = nullptr;
    WavWriter writer{1, kRate};

    void drain() {
        while (stream && pa_stream_readable_size(stream) > 0) {
            const void* data = nullptr;
            size_t bytes = 0;
            if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0) break;
            if (data)
                writer.append(static_cast<const char*>(data), qint64(bytes));
            else
                writer.appendSilence(qint64(bytes));  // a hole in the stream
            pa_stream_drop(stream);
        }
    }
    void stop() {
        if (!stream) return;
        pa_stream_set_read_callback(stream, nullptr, nullptr);
        drain();
        if (pa_stream_get_state(stream) == PA_STREAM_READY) pa_stream_disconnect(stream);
        pa_stream_unref(stream);
        stream = nullptr;
    }
};

PulseConnection::PulseConnection(std::function<void(const QString&, int)> onStatus)
    : m_onStatus(std::move(onStatus)), m_ownProcess(QString::number(::getpid())) {
    m_loop = pa_threaded_mainloop_new();
    pa_proplist* props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Vocorda Call Recorder");
    m_context = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(m_loop),
                                             "Vocorda Call Recorder", props);
    pa_proplist_free(props);
    pa_context_set_state_callback(m_context, onContextState, this);
    if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        m_failed = true;
    pa_threaded_mainloop_start(m_loop);
}

PulseConnection::~PulseConnection() {
    finishAll();
    {
        Lock lock(m_loop);
        if (m_tick) pa_threaded_mainloop_get_api(m_loop)->time_free(m_tick);
        pa_context_disconnect(m_context);
    }
    pa_threaded_mainloop_stop(m_loop);
    pa_context_unref(m_context);
    pa_threaded_mainloop_free(m_loop);
}

bool PulseConnection::waitUntilReady(int timeoutMs) {
    Lock lock(m_loop);
    bool timedOut = false;
    std::pair<PulseConnection*, bool*> waiter{this, &timedOut};
    pa_time_event* deadline = pa_context_rttime_new(
        m_context, pa_rtclock_now() + pa_usec_t(timeoutMs) * PA_USEC_PER_MSEC,
        [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* w) {
            auto* pair = static_cast<std::pair<PulseConnection*, bool*>*>(w);
            *pair->second = true;
            pa_threaded_mainloop_signal(pair->first->m_loop, 0);
        },
        &waiter);
    while (!m_ready && !m_failed && !timedOut) pa_threaded_mainloop_wait(m_loop);
    pa_threaded_mainloop_get_api(m_loop)->time_free(deadline);
    return m_ready && !m_failed;
}

std::vector<PulseCallInfo> PulseConnection::calls() {
    Lock lock(m_loop);
    std::vector<std::pair<const QString*, const Call*>> ordered;
    for (const auto& [id, call] : m_calls) ordered.emplace_back(&id, &call);
    std::sort(ordered.begin(), ordered.end(), [](const auto& a, const auto& b) {
        if (a.second->phone != b.second->phone) return a.second->phone;
        return a.second->seen < b.second->seen;
    });
    std::vector<PulseCallInfo> result;
    for (const auto& [id, call] : ordered) result.push_back({*id});
    return result;
}

void PulseConnection::recordMicrophone(const QString& callId, const QString& path) {
    Lock lock(m_loop);
    if (!m_calls.count(callId)) throw AppError("The call is no longer in progress.");
    for (const auto& [index, capture] : m_captures) {
        if (capture.app != callId || !m_sourceNames.count(capture.source)) continue;
        startRecorder(callId, m_sourceNames[capture.source], path);
        return;
    }
    throw AppError("The call's microphone is not open.");
}

void PulseConnection::recordOutput(const QString& callId, const QString& path) {
    Lock lock(m_loop);
    if (!m_calls.count(callId)) throw AppError("The call is no longer in progress.");
    const QString monitor = monitorFor(callId);
    if (monitor.isEmpty()) throw AppError("The audio server has no output to record.");
    startRecorder(callId, monitor, path);
}

void PulseConnection::finishAll() {
    Lock lock(m_loop);
    for (auto& [id, call] : m_calls) finishCall(call);
}

// -- inside the main loop ------------------------------------------------------------------

void PulseConnection::onContextState(pa_context* c, void* self) {
    auto* me = static_cast<PulseConnection*>(self);
    switch (pa_context_get_state(c)) {
        case PA_CONTEXT_READY:
            pa_context_set_subscribe_callback(c, onSubscribe, me);
            me->listAll();
            me->m_tick = pa_context_rttime_new(c, pa_rtclock_now() + kTick, onTick, me);
            break;
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED:
            if (me->m_ready) me->serverGone();
            me->m_failed = true;
            pa_threaded_mainloop_signal(me->m_loop, 0);
            break;
        default:
            break;
    }
}

void PulseConnection::track(pa_operation* operation) {
    if (operation) pa_operation_unref(operation);
}

void PulseConnection::listAll() {
    track(pa_context_get_server_info(m_context, onServer, this));
    track(pa_context_get_sink_info_list(m_context, onSink, this));
    track(pa_context_get_source_info_list(m_context, onSource, this));
    track(pa_context_get_sink_input_info_list(m_context, onSinkInput, this));
    track(pa_context_get_source_output_info_list(m_context, onSourceOutput, this));
    // Replies come in order: when the subscription is confirmed, every list has arrived.
    const auto mask = pa_subscription_mask_t(
        PA_SUBSCRIPTION_MASK_SOURCE_OUTPUT | PA_SUBSCRIPTION_MASK_SINK_INPUT |
        PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SERVER);
    track(pa_context_subscribe(m_context, mask, onListed, this));
}

void PulseConnection::onListed(pa_context*, int, void* self) {
    auto* me = static_cast<PulseConnection*>(self);
    me->m_ready = true;
    pa_threaded_mainloop_signal(me->m_loop, 0);
}

void PulseConnection::onSubscribe(pa_context* c, pa_subscription_event_type_t t, uint32_t index,
                                  void* self) {
    auto* me = static_cast<PulseConnection*>(self);
    const auto facility = t & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    const bool removed = (t & PA_SUBSCRIPTION_EVENT_TYPE_MASK) == PA_SUBSCRIPTION_EVENT_REMOVE;
    switch (facility) {
        case PA_SUBSCRIPTION_EVENT_SOURCE_OUTPUT:
            if (removed) {
                me->m_captures.erase(index);
                me->updateCalls();
            } else {
                me->track(pa_context_get_source_output_info(c, index, onSourceOutput, me));
            }
            break;
        case PA_SUBSCRIPTION_EVENT_SINK_INPUT:
            if (removed)
                me->m_playbacks.erase(index);
            else
                me->track(pa_context_get_sink_input_info(c, index, onSinkInput, me));
            break;
        case PA_SUBSCRIPTION_EVENT_SOURCE:
            if (removed) {
                me->m_monitorSources.erase(index);
                me->m_sourceNames.erase(index);
            } else {
                me->track(pa_context_get_source_info_by_index(c, index, onSource, me));
            }
            break;
        case PA_SUBSCRIPTION_EVENT_SINK:
            if (removed)
                me->m_sinkNames.erase(index);
            else
                me->track(pa_context_get_sink_info_by_index(c, index, onSink, me));
            break;
        case PA_SUBSCRIPTION_EVENT_SERVER:
            me->track(pa_context_get_server_info(c, onServer, me));
            break;
        default:
            break;
    }
}

bool PulseConnection::isCallStream(const pa_source_output_info& i) const {
    if (i.client == PA_INVALID_INDEX) return false;  // the server's own filters and loopbacks
    if (property(i.proplist, PA_PROP_APPLICATION_PROCESS_ID) == m_ownProcess) return false;
    if (i.resample_method && std::string_view(i.resample_method) == "peaks") return false;
    const auto monitor = m_monitorSources.find(i.source);
    return monitor == m_monitorSources.end() || !monitor->second;
}

void PulseConnection::onSourceOutput(pa_context*, const pa_source_output_info* i, int eol,
                                     void* self) {
    auto* me = static_cast<PulseConnection*>(self);
    if (eol || !i) return;
    if (!me->isCallStream(*i)) {
        me->m_captures.erase(i->index);
    } else {
        Capture& capture = me->m_captures[i->index];
        if (capture.seen == 0) capture.seen = me->m_nextSeen++;
        capture.client = i->client;
        capture.source = i->source;
        capture.app = applicationKey(i->proplist, i->client);
        capture.phone = property(i->proplist, PA_PROP_MEDIA_ROLE) == "phone";
    }
    me->updateCalls();
}

void PulseConnection::onSinkInput(pa_context*, const pa_sink_input_info* i, int eol, void* self) {
    auto* me = static_cast<PulseConnection*>(self);
    if (eol || !i) return;
    me->m_playbacks[i->index] = {applicationKey(i->proplist, i->client), i->sink};
}

void PulseConnection::onSource(pa_context*, const pa_source_info* i, int eol, void* self) {
    auto* me = static_cast<PulseConnection*>(self);
    if (eol || !i) return;
    me->m_monitorSources[i->index] = i->monitor_of_sink != PA_INVALID_INDEX;
    me->m_sourceNames[i->index] = QString::fromUtf8(i->name);
}

void PulseConnection::onSink(pa_context*, const pa_sink_info* i, int eol, void* self) {
    auto* me = static_cast<PulseConnection*>(self);
    if (eol || !i) return;
    me->m_sinkNames[i->index] = QString::fromUtf8(i->name);
}

void PulseConnection::onServer(pa_context*, const pa_server_info* i, void* self) {
    if (i && i->default_sink_name)
        static_cast<PulseConnection*>(self)->m_defaultSink =
            QString::fromUtf8(i->default_sink_name);
}

void PulseConnection::updateCalls() {
    std::map<QString, std::pair<uint64_t, bool>> present;  // app -> first seen, phone
    for (const auto& [index, capture] : m_captures) {
        auto [it, added] = present.try_emplace(capture.app, capture.seen, capture.phone);
        if (!added) {
            it->second.first = std::min(it->second.first, capture.seen);
            it->second.second = it->second.second || capture.phone;
        }
    }
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(m_loop);
    for (const auto& [app, facts] : present) {
        auto [it, added] = m_calls.try_emplace(app);
        Call& call = it->second;
        call.phone = facts.second;
        if (added) {
            call.seen = facts.first;
            m_onStatus(app, 5);
        } else if (call.ending) {  // the microphone came back in time
            api->time_free(call.ending);
            call.ending = nullptr;
        }
    }
    // Some applications reopen the microphone when a device changes: wait before ending.
    for (auto& [app, call] : m_calls)
        if (!present.count(app) && !call.ending)
            call.ending = pa_context_rttime_new(m_context, pa_rtclock_now() + kReopenGrace,
                                                onCallEnded, this);
}

void PulseConnection::onCallEnded(pa_mainloop_api* api, pa_time_event* e, const struct timeval*,
                                  void* self) {
    auto* me = static_cast<PulseConnection*>(self);
    for (auto& [app, call] : me->m_calls) {
        if (call.ending != e) continue;
        api->time_free(e);
        call.ending = nullptr;
        me->endCall(app);
        return;
    }
}

void PulseConnection::endCall(QString callId) {
    auto it = m_calls.find(callId);
    if (it == m_calls.end()) return;
    finishCall(it->second);
    m_calls.erase(it);
    m_onStatus(callId, 7);  // the files are complete before anyone hears of the end
}

void PulseConnection::serverGone() {
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(m_loop);
    auto calls = std::exchange(m_calls, {});
    for (auto& [id, call] : calls) {
        if (call.ending) api->time_free(call.ending);
        finishCall(call);
        m_onStatus(id, 7);
    }
    m_captures.clear();
}

QString PulseConnection::monitorFor(const QString& callId) const {
    QString sink = m_defaultSink;
    for (const auto& [index, playback] : m_playbacks) {
        const auto name = m_sinkNames.find(playback.sink);
        if (playback.app == callId && name != m_sinkNames.end()) {
            sink = name->second;
            break;
        }
    }
    return sink.isEmpty() ? QString() : sink + ".monitor";
}

void PulseConnection::startRecorder(const QString& callId, const QString& device,
                                    const QString& path) {
    auto recorder = std::make_unique<Recorder>();
    recorder->writer.open(path);
    const pa_sample_spec spec{PA_SAMPLE_S16LE, kRate, 1};
    recorder->stream = pa_stream_new(m_context, "Vocorda call side", &spec, nullptr);
    if (!recorder->stream)
        throw AppError(QString("The audio server refused a recording stream: %1")
                           .arg(pa_strerror(pa_context_errno(m_context))));
    pa_buffer_attr attr{};
    attr.maxlength = uint32_t(-1);
    attr.fragsize = kBytesPerSecond / 20;
    pa_stream_set_read_callback(recorder->stream, onRead, recorder.get());
    if (pa_stream_connect_record(recorder->stream, device.toUtf8().constData(), &attr,
                                 PA_STREAM_ADJUST_LATENCY) < 0) {
        const QString reason = pa_strerror(pa_context_errno(m_context));
        pa_stream_unref(recorder->stream);
        recorder->stream = nullptr;
        throw AppError(QString("%1 cannot be recorded: %2").arg(device, reason));
    }
    m_calls[callId].recorders.push_back(std::move(recorder));
}

void PulseConnection::onRead(pa_stream*, size_t, void* recorder) {
    static_cast<Recorder*>(recorder)->drain();
}

void PulseConnection::alignRecorders(Call& call, bool final) {
    qint64 lead = 0;
    for (const auto& r : call.recorders) lead = std::max(lead, r->writer.dataBytes());
    for (const auto& r : call.recorders) {
        const qint64 behind = lead - r->writer.dataBytes();
        if (final)
            r->writer.appendSilence(behind);
        else if (behind > kStarvedBytes)
            r->writer.appendSilence(behind - kSlackBytes);
    }
}

void PulseConnection::finishCall(Call& call) {
    for (const auto& r : call.recorders) r->stop();
    alignRecorders(call, true);
    for (const auto& r : call.recorders) r->writer.finish();
    call.recorders.clear();
}

void PulseConnection::onTick(pa_mainloop_api*, pa_time_event* e, const struct timeval*,
                             void* self) {
    auto* me = static_cast<PulseConnection*>(self);
    for (auto& [id, call] : me->m_calls) {
        me->alignRecorders(call, false);
        for (const auto& r : call.recorders) r->writer.sync();
    }
    pa_context_rttime_restart(me->m_context, e, pa_rtclock_now() + kTick);
}
