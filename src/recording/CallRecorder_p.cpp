#include "CallRecorder_p.h"

#include "Main.h"

CallRecorder::CallRecorder(pa_context* context, std::function<void()> onChange, bool refuseMonitors)
    : m_context(context), m_onChange(std::move(onChange)), m_refuseMonitors(refuseMonitors) {}

void CallRecorder::recordMicrophone(const QString& path) {
    m_mix.openSide(CallMix::Side::Microphone, path);
}

void CallRecorder::recordOutput(const QString& path) {
    m_mix.openSide(CallMix::Side::Speaker, path);
}

void CallRecorder::restart(std::unique_ptr<StreamRecorder>& recorder, CallMix::Side side,
                           StreamRecorder::Target target) {
    const int previous = recorder                            ? recorder->input()
                         : side == CallMix::Side::Microphone ? m_lastMicrophone
                                                             : 0;
    recorder.reset();  // its input ends before the next one starts
    if (target.device.isEmpty()) return;
    if (side == CallMix::Side::Microphone && !m_microphones.contains(target.device))
        m_microphones << target.device;
    recorder = std::make_unique<StreamRecorder>(m_context, m_mix, side, std::move(target), previous,
                                                m_onChange, m_refuseMonitors);
}

void CallRecorder::follow(const PulseServerModel& model, const QString& callId) {
    m_callId = callId;
    if (m_mix.isOpen(CallMix::Side::Microphone)) followMicrophone(model, callId);
    if (!m_mix.isOpen(CallMix::Side::Speaker)) return;
    if (!m_wholeOutput) followPlaybacks(model.playbacksOf(callId));
    if (m_wholeOutput) followWholeOutput(model.outputMonitorOf(callId));
}

// While the call has nothing there to record (it may reopen a stream), the last device goes on.
bool CallRecorder::keeps(const std::unique_ptr<StreamRecorder>& recorder, const QString& device) {
    return recorder && !recorder->isGone() && (device.isEmpty() || recorder->device() == device);
}

// While the call has no microphone stream, the user's side holds silence: the far party hears
// nothing of what the microphone picks up then. The next stream, on any source, continues it.
void CallRecorder::followMicrophone(const PulseServerModel& model, const QString& callId) {
    if (!model.holdsMicrophone(callId)) {
        if (m_microphone) endMicrophone(Gap::Released);
        return;
    }
    const QString source = model.microphoneOf(callId);
    if (keeps(m_microphone, source)) return;
    if (m_microphone) endMicrophone(Gap::Lost);
    restart(m_microphone, CallMix::Side::Microphone, {source});
}

void CallRecorder::endMicrophone(Gap why) {
    m_microphoneEnds[m_microphone->input()] = {why, m_microphone->device()};
    m_lastMicrophone = m_microphone->input();
    m_microphone.reset();
}

void CallRecorder::followPlaybacks(const std::map<uint32_t, QString>& playbacks) {
    for (auto it = m_playbacks.begin(); it != m_playbacks.end();) {
        const auto wanted = playbacks.find(it->first);
        if (wanted == playbacks.end()) {
            it = m_playbacks.erase(it);
            continue;
        }
        // A per-stream monitor ends when its stream moves: start again on the new sink.
        if (it->second->state() == StreamRecorder::State::Lost ||
            it->second->device() != wanted->second)
            restart(it->second, CallMix::Side::Speaker, {wanted->second, it->first});
        ++it;
    }
    for (const auto& [index, monitor] : playbacks) {
        auto& recorder = m_playbacks[index];
        if (!recorder) restart(recorder, CallMix::Side::Speaker, {monitor, index});
    }
    for (const auto& [index, recorder] : m_playbacks)
        if (recorder->state() == StreamRecorder::State::Refused) {
            m_wholeOutput = true;
            m_playbacks.clear();
            return;
        }
}

void CallRecorder::followWholeOutput(const QString& monitor) {
    auto& recorder = m_playbacks[PA_INVALID_INDEX];
    if (!keeps(recorder, monitor)) restart(recorder, CallMix::Side::Speaker, {monitor});
}

// PipeWire 0.3 stops giving a record stream frames after its source was suspended, and says
// nothing of it: the source runs again, and the call application hears it.
void CallRecorder::tick(const PulseServerModel& model) {
    if (m_microphone && m_microphone->isStalled(!model.isSuspended(m_microphone->device()))) {
        const QString source = m_microphone->device();
        endMicrophone(Gap::Stalled);
        restart(m_microphone, CallMix::Side::Microphone, {source});
    }
    if (m_microphone) m_microphone->askTiming();
    for (const auto& [index, recorder] : m_playbacks) recorder->askTiming();
    m_mix.tick();
}

std::optional<qint64> CallRecorder::farSoundAt() const {
    std::optional<qint64> last;
    for (const auto& [index, recorder] : m_playbacks)
        if (const auto at = recorder->soundAt(); at && (!last || *at > *last)) last = at;
    return last;
}

void CallRecorder::finish(std::optional<qint64> untilMs) {
    m_microphone.reset();
    m_playbacks.clear();
    m_mix.finish(untilMs ? std::optional(*untilMs * CallMix::kRate / 1000) : std::nullopt);
}

CallReport CallRecorder::report() const {
    CallReport report{m_mix.problems(), gapNotes() + silenceNotes()};
    if (m_wholeOutput)
        report.notes << "The audio server could not record the call application's own sound by "
                        "itself, so the recording holds everything that was played on the same "
                        "output during the call.";
    return report;
}

// A side that holds nothing at all was most likely recorded from the wrong place.
QStringList CallRecorder::silenceNotes() const {
    QStringList notes;
    if (m_mix.isSilent(CallMix::Side::Microphone))
        notes << QString(
                     "Your side of the call is silent: the microphone %1 gave nothing but silence "
                     "for the whole call. It may have been muted, or the call application may "
                     "have captured your voice through a device that %2 could not see.")
                     .arg(m_microphones.isEmpty() ? QString("of the call")
                                                  : m_microphones.join(", "),
                          Main::kProductName);
    if (m_mix.isSilent(CallMix::Side::Speaker))
        notes << QString(
                     "The other side of the call is silent: the call application %1 played "
                     "nothing but silence for the whole call. It may have played the other side "
                     "through a device that %2 could not see.")
                     .arg(m_callId, Main::kProductName);
    return notes;
}

// Each stretch of the user's side that no microphone stream covers, once, with its cause.
QStringList CallRecorder::gapNotes() const {
    constexpr qint64 kShortest = CallMix::kRate / 2;
    QStringList notes;
    const auto note = [&](qint64 from, const QString& to, int before) {
        const auto end = m_microphoneEnds.find(before);
        const Gap why = end == m_microphoneEnds.end() ? Gap::Released : end->second.first;
        const QString device = end == m_microphoneEnds.end() ? QString() : end->second.second;
        const QString cause =
            why == Gap::Released ? QString("the call application had closed the microphone (muted)")
            : why == Gap::Stalled
                ? QString("the microphone %1 stopped sending sound to %2, and was opened again")
                      .arg(device, Main::kProductName)
                : QString("the microphone %1 could not be recorded").arg(device);
        notes << QString("Your side holds silence from %1 to %2: %3.")
                     .arg(CallMix::callTime(from), to, cause);
    };
    // Before the first stream there is only its connecting.
    const auto spans = m_mix.spans(CallMix::Side::Microphone);
    if (spans.empty()) return notes;
    qint64 covered = spans.front().start;
    int before = 0;
    for (const CallMix::Span& span : spans) {
        if (span.start - covered >= kShortest) note(covered, CallMix::callTime(span.start), before);
        if (span.end > covered) covered = span.end, before = span.input;
    }
    // A hang-up closes the microphone up to a second before the call ends.
    if (m_mix.framesWritten(CallMix::Side::Microphone) - covered >= 2 * CallMix::kRate)
        note(covered, "the end of the call", before);
    return notes;
}
