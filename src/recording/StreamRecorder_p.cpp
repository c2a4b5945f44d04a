#include "StreamRecorder_p.h"

#include <pulse/rtclock.h>
#include <pulse/timeval.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>

namespace {

constexpr uint32_t kFragmentBytes = CallMix::kRate * 4 / 20;  // 50 ms of stereo
// Ticks of the call's recorders (250 ms each) with no frame before a stream counts as stalled:
// counted in our own ticks, so a process that the machine did not run for a while does not count
// the time it was stopped.
constexpr int kStalledTicks = 8;

// A step of the wall clock larger than this between two records: the later one may straddle it.
constexpr qint64 kClockStepUsec = 2000;

qint64 usecOf(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return qint64(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}

// The wall clock less the steady one, read between two readings of the steady clock that lie
// close together (a busy machine may stop us between them).
qint64 wallLessSteady() {
    for (int attempt = 0;; ++attempt) {
        const qint64 before = usecOf(CLOCK_MONOTONIC), wall = usecOf(CLOCK_REALTIME),
                     after = usecOf(CLOCK_MONOTONIC);
        if (after - before < 100 || attempt == 3) return wall - (before + after) / 2;
    }
}

// When the frame after those the server had written into the stream was heard, in frames of
// the steady clock: a microphone's frames come after they were heard (the source's latency), a
// sink's monitor gives them before they are played (the sink's). The server's timestamp is on
// the wall clock, which can jump: it is taken across with the two clocks' gap of this moment.
qint64 heardAt(const pa_timing_info& timing, qint64 gap) {
    const qint64 at = qint64(pa_timeval_load(&timing.timestamp)) - gap -
                      qint64(timing.source_usec) + qint64(timing.sink_usec);
    return at * CallMix::kRate / 1000000;
}

}  // namespace

StreamRecorder::StreamRecorder(pa_context* context, CallMix& mix, CallMix::Side side, Target target,
                               int continues, std::function<void()> onChange, bool refuseMonitors)
    : m_mix(mix),
      m_input(mix.addInput(side, continues)),
      m_target(std::move(target)),
      m_onChange(std::move(onChange)) {
    connect(context, refuseMonitors);
}

void StreamRecorder::connect(pa_context* context, bool refuseMonitors) {
    const pa_sample_spec spec{PA_SAMPLE_S16NE, CallMix::kRate, 2};
    pa_channel_map map;
    pa_channel_map_init_stereo(&map);
    m_stream = pa_stream_new(context, "Vocorda call side", &spec, &map);
    if (!m_stream) {
        m_state = State::Lost;
        return;
    }
    if (m_target.monitoredStream != PA_INVALID_INDEX &&
        (refuseMonitors || pa_stream_set_monitor_stream(m_stream, m_target.monitoredStream) < 0)) {
        m_state = State::Refused;
        return;
    }
    pa_stream_set_read_callback(m_stream, onRead, this);
    pa_stream_set_state_callback(m_stream, onState, this);
    pa_stream_set_latency_update_callback(m_stream, onTiming, this);
    pa_buffer_attr attr{};
    attr.maxlength = uint32_t(-1);
    attr.fragsize = kFragmentBytes;
    // The recorder follows the call itself: a stream the server would move elsewhere is lost.
    const auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE |
                                         PA_STREAM_AUTO_TIMING_UPDATE);
    if (pa_stream_connect_record(m_stream, m_target.device.toUtf8().constData(), &attr, flags) < 0)
        m_state = State::Lost;
}

StreamRecorder::~StreamRecorder() {
    if (m_stream) {
        pa_stream_set_read_callback(m_stream, nullptr, nullptr);
        pa_stream_set_state_callback(m_stream, nullptr, nullptr);
        pa_stream_set_latency_update_callback(m_stream, nullptr, nullptr);
        drain();
        if (pa_stream_get_state(m_stream) == PA_STREAM_READY) pa_stream_disconnect(m_stream);
        pa_stream_unref(m_stream);
    }
    m_mix.endInput(m_input);
}

void StreamRecorder::onState(pa_stream* stream, void* self) {
    auto* me = static_cast<StreamRecorder*>(self);
    switch (pa_stream_get_state(stream)) {
        case PA_STREAM_READY:
            me->m_state = State::Recording;
            break;
        case PA_STREAM_FAILED:
        case PA_STREAM_TERMINATED: {
            const int error = pa_context_errno(pa_stream_get_context(stream));
            const bool refused = me->m_state == State::Connecting &&
                                 me->m_target.monitoredStream != PA_INVALID_INDEX &&
                                 (error == PA_ERR_NOTSUPPORTED || error == PA_ERR_NOTIMPLEMENTED);
            me->drain();
            // Only reported: the owner replaces a gone recorder from its own event.
            me->m_state = refused ? State::Refused : State::Lost;
            break;
        }
        default:
            return;
    }
    me->m_onChange();
}

void StreamRecorder::onRead(pa_stream*, size_t, void* self) {
    static_cast<StreamRecorder*>(self)->drain();
}

void StreamRecorder::onTiming(pa_stream* stream, void* self) {
    auto* me = static_cast<StreamRecorder*>(self);
    const pa_timing_info* timing = pa_stream_get_timing_info(stream);
    if (!timing || timing->write_index_corrupt) return;
    me->drain();  // the frames the record counts, if they are here, go first
    // Every frame sent before the record has come: a read index beyond them counts frames the
    // server skipped.
    const qint64 read = timing->read_index_corrupt ? 0 : timing->read_index / 4;
    const qint64 gap = wallLessSteady();
    // A record taken across a step of the wall clock places nothing: only its skip counts.
    const bool stepped = me->m_clockGap && std::abs(gap - *me->m_clockGap) > kClockStepUsec;
    me->m_clockGap = gap;
    const qint64 produced = stepped ? 0 : timing->write_index / 4;
    me->m_mix.record(me->m_input, produced, heardAt(*timing, gap), read);
}

// A record of the server's is asked for as often as the mix writes, so that a stream that stops
// producing frames is known as such.
void StreamRecorder::askTiming() {
    if (m_state != State::Recording) return;
    if (pa_operation* asked = pa_stream_update_timing_info(m_stream, nullptr, nullptr))
        pa_operation_unref(asked);
}

bool StreamRecorder::isStalled(bool deviceRuns) {
    if (!deviceRuns || m_state != State::Recording) return m_quietTicks = 0, false;
    return ++m_quietTicks > kStalledTicks;
}

void StreamRecorder::drain() {
    for (;;) {
        const size_t readable = pa_stream_readable_size(m_stream);
        if (readable == 0 || readable == size_t(-1)) break;
        const void* data = nullptr;
        size_t bytes = 0;
        if (pa_stream_peek(m_stream, &data, &bytes) < 0 || bytes == 0) break;
        const qint64 frames = qint64(bytes / 4);
        if (!m_delivered) askTiming();  // its first frames take their place from a record
        m_delivered = true;
        m_quietTicks = 0;
        if (!data) {
            m_mix.pushSilence(m_input, frames);  // a hole in the stream
        } else {
            const auto* stereo = static_cast<const qint16*>(data);
            m_mono.resize(size_t(frames));
            int peak = 0;
            for (qint64 i = 0; i < frames; ++i) {
                m_mono[size_t(i)] = qint16((int(stereo[2 * i]) + stereo[2 * i + 1]) / 2);
                peak = std::max(peak, std::abs(int(m_mono[size_t(i)])));
            }
            if (peak > CallMix::kSilentPeak)
                m_soundAt = qint64(pa_rtclock_now() / PA_USEC_PER_MSEC);
            m_mix.push(m_input, m_mono.data(), frames);
        }
        pa_stream_drop(m_stream);
    }
}
