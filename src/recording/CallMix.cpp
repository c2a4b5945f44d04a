#include "CallMix.h"

#include <QtEndian>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "AppError.h"

namespace {

// An input this far behind the newest moment gets silence (a stream with nothing to play
// delivers nothing); the slack leaves room for the server's own latency and for a stream's
// first delivery.
constexpr qint64 kStalledFrames = CallMix::kRate * 3 / 10;
constexpr qint64 kSlackFrames = CallMix::kRate / 10;
constexpr qint64 kMaxLatency = CallMix::kRate * 2;
// Farther than a server's bursts or two clocks move a stream against the others in a second,
// and less than one of PipeWire's cycles (5.3 ms).
constexpr qint64 kLostFrames = CallMix::kRate / 200;
// Dither and a muted device's noise stay within this of zero; a quiet room does not.
constexpr qint32 kSilentPeak = 4;

}  // namespace

CallMix::CallMix(Clock clock, qint64 maxSideBytes)
    : m_clock(std::move(clock)),
      m_sides{{SideState(maxSideBytes), SideState(maxSideBytes)}},
      m_leadAt(m_clock()),
      m_start(m_leadAt) {}

CallMix::Clock CallMix::steadyClock() {
    return [] {
        using namespace std::chrono;
        const auto since = steady_clock::now().time_since_epoch();
        return qint64(duration_cast<microseconds>(since).count() * kRate / 1000000);
    };
}

QString CallMix::callTime(qint64 frames) {
    const qint64 s = frames / kRate;
    if (s >= 3600) return QString("%1 h %2 min %3 s").arg(s / 3600).arg(s / 60 % 60).arg(s % 60);
    return QString("%1 min %2 s").arg(s / 60).arg(s % 60);
}

void CallMix::openSide(Side side, const QString& path) {
    SideState& state = m_sides[index(side)];
    state.writer.open(path);
    state.writer.appendSilence(m_lead * 2);
    state.written = m_lead;
    state.opened = true;
}

int CallMix::addInput(Side side, int continues) {
    const int id = m_nextInput++;
    m_inputs[id] = Input{side, continues};
    return id;
}

// The input, placed in time if this is its first delivery (the frames arriving now end now);
// null when it takes none.
CallMix::Input* CallMix::deliverer(int input, qint64 frames) {
    const auto it = m_inputs.find(input);
    if (it == m_inputs.end() || it->second.ended) return nullptr;
    Input& in = it->second;
    const qint64 now = m_clock();
    if (const qint64 second = (now - m_start) / kRate; second > m_second) closeSecond(second);
    if (!in.placed) place(in, now, frames);
    if (in.stalled) resume(in, now, frames);
    in.lastAt = now;
    return &in;
}

// The frames arriving now end at the newest moment, or for a moved stream where its old stream
// would be by now; earlier by as much as they were heard earlier than the call's first
// stream's. What that puts before what is written is gone.
void CallMix::place(Input& in, qint64 now, qint64 frames) {
    // A moved stream keeps its own latency when the server does not tell it: joining at the
    // newest moment of another stream would shift this side by the difference.
    const auto previous = m_ended.find(in.continues);
    const qint64 endsNow = previous != m_ended.end()
                               ? previous->second.end + now - previous->second.lastAt
                               : m_lead + now - m_leadAt;
    if (previous != m_ended.end()) m_ended.erase(previous);
    // More is no device's: a server that has not yet measured.
    if (in.latency) in.latency = std::clamp(*in.latency, -kMaxLatency, kMaxLatency);
    if (in.latency && !m_latency) m_latency = in.latency;
    in.lag = in.latency ? *in.latency - *m_latency : 0;
    in.end = std::max(endsNow - frames, m_sides[index(in.side)].written) - in.lag;
    in.placed = true;
}

void CallMix::setLatency(int input, qint64 frames) {
    if (const auto it = m_inputs.find(input); it != m_inputs.end()) it->second.latency = frames;
}

// Each second, every stream's place against the others: its lead on the clock less what the
// streams delivering in both seconds moved on average. A server that runs slow or loses time
// moves them all alike; a device on its own clock moves only its streams.
void CallMix::closeSecond(qint64 second) {
    std::vector<Input*> measured;
    std::vector<std::pair<Input*, qint64>> moves;
    for (auto& [id, in] : m_inputs) {
        const std::optional<qint64> best = in.follower.closeSecond();
        if (!best || in.ended) continue;
        if (in.bestSecond == m_second - 1) moves.push_back({&in, *best - in.best});
        in.best = *best;
        in.bestSecond = m_second;
        measured.push_back(&in);
    }
    makeUpLostTime(moves);
    double moved = 0;
    for (const auto& [in, move] : moves) moved += double(move);
    if (!moves.empty()) m_common += moved / double(moves.size());
    for (Input* in : measured) in->follower.measure(in->best - std::llround(m_common));
    m_second = second;
}

// A stream that fell behind the others by more than a cycle in one second lost that time (a
// playback that ran dry, or one the server was moving, gives its monitor nothing for it while
// the sink plays silence): it gets that silence, and the sides stay in time.
void CallMix::makeUpLostTime(std::vector<std::pair<Input*, qint64>>& moves) {
    if (moves.size() < 2) return;
    qint64 kept = std::numeric_limits<qint64>::min();
    for (const auto& [in, move] : moves) kept = std::max(kept, move);
    for (auto& [in, move] : moves) {
        const qint64 lost = kept - move;
        if (lost <= kLostFrames) continue;
        in->pending.resize(in->pending.size() + size_t(lost), 0);
        in->end += lost;
        in->best += lost;
        move = kept;
    }
}

// Silence put in or a new place is no move of the stream's own: this second and the last say
// nothing of where all streams went.
void CallMix::forgetSecond(Input& in) {
    in.follower.closeSecond();
    in.bestSecond = -2;
}

// A stream back from a stall takes its held place against the others again: the present, not
// squeezed.
void CallMix::resume(Input& in, qint64 now, qint64 frames) {
    in.stalled = false;
    forgetSecond(in);
    const std::optional<qint64> place = in.follower.place();
    const qint64 start = place ? now - m_start + *place + std::llround(m_common) - frames : in.end;
    if (start < in.end) in.follower.restart();
    if (start <= in.end) return;
    in.pending.resize(in.pending.size() + size_t(start - in.end), 0);
    in.end = start;
}

void CallMix::push(int input, const qint16* samples, qint64 frames) {
    Input* in = frames > 0 ? deliverer(input, frames) : nullptr;
    if (!in) return;
    delivered(*in, in->follower.convert(samples, frames, in->pending));
}

void CallMix::pushSilence(int input, qint64 frames) {
    Input* in = frames > 0 ? deliverer(input, frames) : nullptr;
    if (!in) return;
    in->pending.resize(in->pending.size() + size_t(frames), 0);
    delivered(*in, frames);
}

void CallMix::delivered(Input& in, qint64 frames) {
    in.end += frames;
    in.follower.note(in.end - (in.lastAt - m_start));
    advance(in.end + in.lag);
    flush(in.side);
}

void CallMix::endInput(int input) {
    const auto it = m_inputs.find(input);
    if (it == m_inputs.end() || it->second.ended) return;
    it->second.ended = true;
    if (!it->second.placed) {
        m_inputs.erase(it);
        return;
    }
    m_ended[input] = {it->second.end + it->second.lag, it->second.lastAt};
    flush(it->second.side);
}

void CallMix::advance(qint64 position) {
    if (position <= m_lead) return;
    m_lead = position;
    m_leadAt = m_clock();
}

// Everything delivered by every live input is written; an ended input never holds a side back.
qint64 CallMix::frontier(Side side) const {
    qint64 live = std::numeric_limits<qint64>::max(), ended = m_sides[index(side)].written;
    for (const auto& [id, in] : m_inputs) {
        if (in.side != side || !in.placed) continue;
        if (in.ended)
            ended = std::max(ended, in.end);
        else
            live = std::min(live, in.end);
    }
    return live == std::numeric_limits<qint64>::max() ? ended : live;
}

bool CallMix::hasLiveInput(Side side) const {
    return std::any_of(m_inputs.begin(), m_inputs.end(), [side](const auto& entry) {
        const Input& in = entry.second;
        return in.side == side && in.placed && !in.ended;
    });
}

// Held back a little behind the newest moment: a stream that delivers for the first time now
// takes its place just behind the present, and must find that place not yet written.
void CallMix::flush(Side side) {
    SideState& state = m_sides[index(side)];
    if (state.writer.isOpen())
        writeUpTo(state, side, std::min(frontier(side), m_lead - kSlackFrames));
}

void CallMix::writeUpTo(SideState& state, Side side, qint64 position) {
    const qint64 count = position - state.written;
    if (count <= 0) return;
    std::vector<qint32> sum(size_t(count), 0);
    for (auto it = m_inputs.begin(); it != m_inputs.end();) {
        Input& in = it->second;
        if (in.side != side || !in.placed) {
            ++it;
            continue;
        }
        const qint64 start = in.end - qint64(in.pending.size());
        const qint64 from = std::max(start, state.written), to = std::min(in.end, position);
        for (qint64 t = from; t < to; ++t) sum[size_t(t - state.written)] += in.pending[t - start];
        const qint64 used = std::clamp<qint64>(position - start, 0, qint64(in.pending.size()));
        in.pending.erase(in.pending.begin(), in.pending.begin() + used);
        it = in.ended && in.pending.empty() ? m_inputs.erase(it) : std::next(it);
    }
    std::vector<qint16> out(sum.size());
    for (size_t i = 0; i < sum.size(); ++i) {
        state.peak = std::max(state.peak, std::abs(sum[i]));
        out[i] = qToLittleEndian(qint16(std::clamp<qint32>(sum[i], -32768, 32767)));
    }
    state.writer.append(reinterpret_cast<const char*>(out.data()), qint64(out.size()) * 2);
    state.written = position;
}

void CallMix::padStalled() {
    // Nothing delivered at all for a while (every device idle or changing): time goes on.
    const qint64 now = m_clock();
    if (now - m_leadAt > kStalledFrames) {
        m_lead += now - m_leadAt;
        m_leadAt = now;
    }
    const qint64 target = m_lead - kSlackFrames;
    for (auto& [id, in] : m_inputs)
        if (in.placed && !in.ended && in.end + in.lag < m_lead - kStalledFrames) {
            in.pending.resize(in.pending.size() + size_t(target - in.lag - in.end), 0);
            in.end = target - in.lag;
            in.lastAt = m_leadAt - kSlackFrames;
            in.stalled = true;
            forgetSecond(in);
        }
    for (Side side : {Side::Microphone, Side::Speaker}) {
        SideState& state = m_sides[index(side)];
        if (!state.writer.isOpen()) continue;
        flush(side);
        if (!hasLiveInput(side) && state.written < m_lead - kStalledFrames)
            writeUpTo(state, side, target);
    }
}

void CallMix::tick() {
    padStalled();
    for (SideState& state : m_sides) state.writer.sync();
}

void CallMix::finish() {
    for (auto it = m_inputs.begin(); it != m_inputs.end();)
        it = it->second.placed ? std::next(it) : m_inputs.erase(it);
    // A stream heard later than it came (a sink's monitor) is written whole.
    qint64 end = m_lead;
    for (auto& [id, in] : m_inputs) in.ended = true, end = std::max(end, in.end);
    for (Side side : {Side::Microphone, Side::Speaker}) {
        SideState& state = m_sides[index(side)];
        if (!state.writer.isOpen()) continue;
        flush(side);
        writeUpTo(state, side, end);
        state.writer.finish();
    }
    m_inputs.clear();
    m_ended.clear();
}

bool CallMix::isSilent(Side side) const {
    const SideState& state = m_sides[index(side)];
    return state.opened && state.peak <= kSilentPeak;
}

QStringList CallMix::problems() const {
    QStringList problems;
    qint64 cutAt = -1;
    for (Side side : {Side::Microphone, Side::Speaker}) {
        const WavWriter& file = m_sides[index(side)].writer;
        const qint64 frames = file.dataBytes() / 2;
        if (file.stop() == WavWriter::Stop::Full) cutAt = std::max(cutAt, frames);
        if (file.stop() != WavWriter::Stop::Failed) continue;
        const QString name = side == Side::Microphone
                                 ? "Your side of the call (the microphone)"
                                 : "The other side of the call (what the call application played)";
        // One arg() call: a '%' in the path must not be taken for a place-marker.
        problems << QString(
                        "%1 stopped being recorded %2 into the call: %3 could not be "
                        "written (%4).")
                        .arg(name, callTime(frames), file.path(), file.failure());
    }
    if (cutAt >= 0)
        problems << QString(
                        "The call was longer than a WAV file can hold, so the recording was "
                        "cut at %1.")
                        .arg(callTime(cutAt));
    return problems;
}
