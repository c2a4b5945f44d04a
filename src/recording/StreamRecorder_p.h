// One record stream of the audio server feeding one input of a call's mix: a source (the
// call's microphone), one playback stream by itself (a per-stream monitor), or the monitor of
// a whole sink. Recorded in stereo and folded to mono here, so that a side has the same level
// on every server (PipeWire folds a mono record stream 3 dB louder than PulseAudio does).
// Lives in the main loop's thread.
#pragma once

#include <pulse/context.h>
#include <pulse/stream.h>

#include <QString>
#include <functional>
#include <optional>
#include <vector>

#include "CallMix.h"

class StreamRecorder {
public:
    enum class State {
        Connecting,
        Recording,
        Refused,  // the server does not record a playback stream by itself
        Lost,     // failed or ended by the server (its device went away, its stream moved)
    };
    struct Target {
        QString device;
        uint32_t monitoredStream = PA_INVALID_INDEX;  // a sink input, or the whole device
    };

    // onChange runs in the main loop whenever state() changes. `continues`: the mix input of
    // the recorder this one replaces, if any. refuseMonitors plays a server that refuses
    // per-stream monitors.
    StreamRecorder(pa_context* context, CallMix& mix, CallMix::Side side, Target target,
                   int continues, std::function<void()> onChange, bool refuseMonitors = false);
    // Ends the mix's input; what the stream delivered stays in it.
    ~StreamRecorder();
    StreamRecorder(const StreamRecorder&) = delete;
    StreamRecorder& operator=(const StreamRecorder&) = delete;

    State state() const { return m_state; }
    bool isGone() const { return m_state == State::Refused || m_state == State::Lost; }
    const QString& device() const { return m_target.device; }
    int input() const { return m_input; }
    // Asks the server for its record of the stream (CallMix::record).
    void askTiming();
    // Asked once a tick: the stream has been recording and got no frame for about 2 s while
    // its device ran.
    bool isStalled(bool deviceRuns);
    // The last moment a frame beyond dither came, in ms of the steady clock.
    std::optional<qint64> soundAt() const { return m_soundAt; }

private:
    void connect(pa_context* context, bool refuseMonitors);
    void drain();
    static void onRead(pa_stream* stream, size_t bytes, void* self);
    static void onState(pa_stream* stream, void* self);
    static void onTiming(pa_stream* stream, void* self);

    CallMix& m_mix;
    int m_input;
    Target m_target;
    std::function<void()> m_onChange;
    pa_stream* m_stream = nullptr;
    State m_state = State::Connecting;
    bool m_delivered = false;
    int m_quietTicks = 0;
    std::optional<qint64> m_soundAt;
    std::optional<qint64> m_clockGap;  // the wall clock less the steady one at the last record
    std::vector<qint16> m_mono;
};
