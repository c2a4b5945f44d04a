#include "PulseConnection_p.h"

#include <pulse/error.h>
#include <pulse/rtclock.h>
#include <pulse/subscribe.h>
#include <pulse/timeval.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

#include "AppError.h"

namespace {

// Both files' headers are rewritten at every tick, so a killed program loses at most this much.
constexpr pa_usec_t kTick = 250 * PA_USEC_PER_MSEC;

qint64 nowMs() {
    return qint64(pa_rtclock_now() / PA_USEC_PER_MSEC);
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

PulseConnection::PulseConnection(std::function<void(const QString&, int)> onStatus, Options options)
    : m_onStatus(std::move(onStatus)), m_options(options), m_model(QString::number(::getpid())) {
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
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(m_loop);
        if (m_tick) api->time_free(m_tick);
        if (m_follow) api->time_free(m_follow);
        // Going away is no news: no call ends with a status event from a destructor.
        pa_context_set_state_callback(m_context, nullptr, nullptr);
        pa_context_set_subscribe_callback(m_context, nullptr, nullptr);
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
    if (deadline) pa_threaded_mainloop_get_api(m_loop)->time_free(deadline);
    return m_ready && !m_failed;
}

std::vector<QString> PulseConnection::calls() {
    Lock lock(m_loop);
    std::vector<std::pair<const QString*, const Call*>> ordered;
    for (const auto& [id, call] : m_calls) ordered.emplace_back(&id, &call);
    std::sort(ordered.begin(), ordered.end(), [](const auto& a, const auto& b) {
        if (a.second->phone != b.second->phone) return a.second->phone;
        return a.second->seen < b.second->seen;
    });
    std::vector<QString> result;
    for (const auto& [id, call] : ordered) result.push_back(*id);
    return result;
}

PulseConnection::Call& PulseConnection::recordedCall(const QString& callId) {
    const auto it = m_calls.find(callId);
    if (it == m_calls.end()) throw AppError("The call is no longer in progress.");
    Call& call = it->second;
    if (!call.recorder)
        call.recorder = std::make_unique<CallRecorder>(
            m_context, [this] { changed(); }, m_options.refuseMonitors);
    return call;
}

void PulseConnection::recordMicrophone(const QString& callId, const QString& path) {
    Lock lock(m_loop);
    Call& call = recordedCall(callId);
    // A microphone not yet open, or not yet on its source, is recorded once it is.
    call.recorder->recordMicrophone(path);
    call.recorder->follow(m_model, callId);
}

void PulseConnection::recordOutput(const QString& callId, const QString& path) {
    Lock lock(m_loop);
    Call& call = recordedCall(callId);
    if (m_model.outputMonitorOf(callId).isEmpty())
        throw AppError("The audio server has no output to record.");
    call.recorder->recordOutput(path);
    call.recorder->follow(m_model, callId);
}

void PulseConnection::finishAll() {
    Lock lock(m_loop);
    for (auto& [id, call] : m_calls) finishCall(id, call);
}

CallReport PulseConnection::takeReport(const QString& callId) {
    Lock lock(m_loop);
    const auto it = m_reports.find(callId);
    if (it == m_reports.end()) return {};
    CallReport report = std::move(it->second);
    m_reports.erase(it);
    return report;
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

void PulseConnection::onSubscribe(pa_context*, pa_subscription_event_type_t t, uint32_t index,
                                  void* self) {
    static_cast<PulseConnection*>(self)->subscribeEvent(t, index);
}

void PulseConnection::subscribeEvent(pa_subscription_event_type_t t, uint32_t index) {
    const bool removed = (t & PA_SUBSCRIPTION_EVENT_TYPE_MASK) == PA_SUBSCRIPTION_EVENT_REMOVE;
    pa_context* c = m_context;
    switch (t & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) {
        case PA_SUBSCRIPTION_EVENT_SOURCE_OUTPUT:
            if (removed) return m_model.removeCapture(index), changed();
            return track(pa_context_get_source_output_info(c, index, onSourceOutput, this));
        case PA_SUBSCRIPTION_EVENT_SINK_INPUT:
            if (removed) return m_model.removePlayback(index), changed();
            return track(pa_context_get_sink_input_info(c, index, onSinkInput, this));
        case PA_SUBSCRIPTION_EVENT_SOURCE:
            if (removed) return m_model.removeSource(index), changed();
            return track(pa_context_get_source_info_by_index(c, index, onSource, this));
        case PA_SUBSCRIPTION_EVENT_SINK:
            if (removed) return m_model.removeSink(index), changed();
            return track(pa_context_get_sink_info_by_index(c, index, onSink, this));
        case PA_SUBSCRIPTION_EVENT_SERVER:
            return track(pa_context_get_server_info(c, onServer, this));
        default:
            return;
    }
}

void PulseConnection::onSourceOutput(pa_context*, const pa_source_output_info* i, int eol,
                                     void* self) {
    auto* me = static_cast<PulseConnection*>(self);
    if (eol || !i) return;
    me->m_model.updateCapture(*i);
    me->changed();
}

void PulseConnection::onSinkInput(pa_context*, const pa_sink_input_info* i, int eol, void* self) {
    auto* me = static_cast<PulseConnection*>(self);
    if (eol || !i) return;
    me->m_model.updatePlayback(*i);
    me->changed();
}

void PulseConnection::onSource(pa_context*, const pa_source_info* i, int eol, void* self) {
    auto* me = static_cast<PulseConnection*>(self);
    if (eol || !i) return;
    me->m_model.updateSource(*i);
    me->changed();
}

void PulseConnection::onSink(pa_context*, const pa_sink_info* i, int eol, void* self) {
    auto* me = static_cast<PulseConnection*>(self);
    if (eol || !i) return;
    me->m_model.updateSink(*i);
    me->changed();
}

void PulseConnection::onServer(pa_context*, const pa_server_info* i, void* self) {
    auto* me = static_cast<PulseConnection*>(self);
    if (!i) return;
    me->m_model.updateServer(*i);
    me->changed();
}

// The model changed or a recorder lost its stream: calls are counted now, the recorders
// follow from an event of their own (never inside a stream's callback).
void PulseConnection::changed() {
    updateCalls();
    if (!m_follow) m_follow = pa_context_rttime_new(m_context, pa_rtclock_now(), onFollow, this);
}

void PulseConnection::onFollow(pa_mainloop_api* api, pa_time_event* e, const struct timeval*,
                               void* self) {
    auto* me = static_cast<PulseConnection*>(self);
    api->time_free(e);
    me->m_follow = nullptr;
    me->followCalls();
}

void PulseConnection::followCalls() {
    for (auto& [id, call] : m_calls)
        if (call.recorder) call.recorder->follow(m_model, id);
}

void PulseConnection::updateCalls() {
    const qint64 now = nowMs();
    for (const auto& facts : m_model.calls()) {
        auto it = m_calls.find(facts.id);
        if (it == m_calls.end()) {
            if (!CallLifetime::begins(facts.streams)) {
                m_model.forget(facts.id);
                continue;
            }
            it = m_calls.try_emplace(facts.id, now).first;
            it->second.seen = facts.seen;
            m_onStatus(facts.id, 5);
        }
        it->second.phone = facts.phone;
        it->second.lifetime.hold(facts.streams, now);
    }
    endCalls();
}

// Called after every change and at every tick: an end is at most a tick late.
void PulseConnection::endCalls() {
    const qint64 now = nowMs();
    std::vector<QString> ended;
    for (auto& [id, call] : m_calls) {
        if (call.recorder)
            if (const auto heard = call.recorder->farSoundAt()) call.lifetime.heard(*heard);
        if (call.lifetime.hasEnded(now)) ended.push_back(id);
    }
    for (const QString& id : ended) {
        m_model.forget(id);
        endCall(id);
    }
}

void PulseConnection::endCall(QString callId) {
    auto it = m_calls.find(callId);
    if (it == m_calls.end()) return;
    finishCall(callId, it->second, false, it->second.lifetime.endMs());
    m_calls.erase(it);
    m_onStatus(callId, 7);  // the files are complete before anyone hears of the end
}

void PulseConnection::finishCall(const QString& callId, Call& call, bool serverGone,
                                 std::optional<qint64> untilMs) {
    if (!call.recorder) return;
    call.recorder->finish(untilMs);
    CallReport report = call.recorder->report();
    if (serverGone)
        report.notes.prepend(
            QString("The audio server stopped %1 into the call, and the recording ends there.")
                .arg(CallMix::callTime(call.recorder->length())));
    m_reports[callId] = std::move(report);
    call.recorder.reset();
}

void PulseConnection::serverGone() {
    auto calls = std::exchange(m_calls, {});
    for (auto& [id, call] : calls) {
        finishCall(id, call, true);
        m_onStatus(id, 7);
    }
}

void PulseConnection::onTick(pa_mainloop_api*, pa_time_event* e, const struct timeval*,
                             void* self) {
    auto* me = static_cast<PulseConnection*>(self);
    me->followCalls();  // a stream that could not be started is tried again
    for (auto& [id, call] : me->m_calls)
        if (call.recorder) call.recorder->tick(me->m_model);
    me->endCalls();
    pa_context_rttime_restart(me->m_context, e, pa_rtclock_now() + kTick);
}
