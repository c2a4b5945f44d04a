// The recorders of one call: its microphone side from the source the call reads, its far side
// from each of the call's playback streams by itself, both following the call when its streams
// move. Where the server refuses per-stream monitors, the far side falls back to the monitor of
// the sink the call plays to. Lives in the main loop's thread.
#pragma once

#include <pulse/context.h>

#include <QStringList>
#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "CallMix.h"
#include "PulseServerModel_p.h"
#include "SkypeClient.h"
#include "StreamRecorder_p.h"

class CallRecorder {
public:
    // onChange runs when a stream is gone: call follow() again soon after.
    CallRecorder(pa_context* context, std::function<void()> onChange, bool refuseMonitors);

    // Create the side's file (throws AppError); follow() starts its streams.
    void recordMicrophone(const QString& path);
    void recordOutput(const QString& path);
    // Brings the recorders in line with the call's streams as the model describes them now.
    void follow(const PulseServerModel& model, const QString& callId);
    // Regularly: asks for the streams' records, and opens again a microphone stream that gets
    // nothing while its source runs.
    void tick(const PulseServerModel& model);
    // The last moment the call's playback carried sound, in ms of the steady clock.
    std::optional<qint64> farSoundAt() const;
    // How long the call has been recorded, in frames of the mix.
    qint64 length() const {
        return std::max(m_mix.framesWritten(CallMix::Side::Microphone),
                        m_mix.framesWritten(CallMix::Side::Speaker));
    }
    // `untilMs`: where the call ended, when its streams went on after it (ms of the steady
    // clock).
    void finish(std::optional<qint64> untilMs = std::nullopt);
    // What the user should hear about this recording when it is saved.
    CallReport report() const;

private:
    // Ends `previous`, if any, and starts its successor.
    void restart(std::unique_ptr<StreamRecorder>& recorder, CallMix::Side side,
                 StreamRecorder::Target target);
    // Why the user's side lost its microphone stream.
    enum class Gap { Released, Stalled, Lost };

    static bool keeps(const std::unique_ptr<StreamRecorder>& recorder, const QString& device);
    void followMicrophone(const PulseServerModel& model, const QString& callId);
    void endMicrophone(Gap why);
    void followPlaybacks(const std::map<uint32_t, QString>& playbacks);
    void followWholeOutput(const QString& monitor);
    QStringList silenceNotes() const;
    QStringList gapNotes() const;

    pa_context* m_context;
    std::function<void()> m_onChange;
    bool m_refuseMonitors;
    bool m_wholeOutput = false;  // per-stream monitors were refused
    QString m_callId;
    QStringList m_microphones;  // every source the microphone side was recorded from
    CallMix m_mix;
    std::unique_ptr<StreamRecorder> m_microphone;
    int m_lastMicrophone = 0;  // the input the next microphone stream continues
    // Why each microphone input ended, and on which device.
    std::map<int, std::pair<Gap, QString>> m_microphoneEnds;
    // By sink input; the whole-output recorder of the fallback under PA_INVALID_INDEX.
    std::map<uint32_t, std::unique_ptr<StreamRecorder>> m_playbacks;
};
