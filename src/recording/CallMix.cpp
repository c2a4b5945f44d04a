#include "CallMix.h"

#include <QtEndian>
#include <algorithm>
#include <cstdlib>
#include <limits>

#include "AppError.h"

namespace {

// A side with no stream keeps up with the other once it is this far behind.
constexpr qint64 kStalledFrames = CallMix::kRate * 3 / 10;
// What is written stays this far behind the newest moment: a stream that starts now takes its
// place just behind the present, and must find it not yet written.
constexpr qint64 kSlackFrames = CallMix::kRate / 10;
// A stream with no record after this much, of its frames or of the call's time, is placed by
// when its frames came.
constexpr qint64 kNoRecordFrames = CallMix::kRate * 2;

}  // namespace

CallMix::CallMix(qint64 maxSideBytes)
    : m_sides{{SideState(maxSideBytes), SideState(maxSideBytes)}} {}

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
    m_inputs[id] = Input{side, continues, id};
    return id;
}

CallMix::Input* CallMix::live(int input) {
    const auto it = m_inputs.find(input);
    return it == m_inputs.end() || it->second.ended ? nullptr : &it->second;
}

void CallMix::push(int input, const qint16* samples, qint64 frames) {
    Input* in = frames > 0 ? live(input) : nullptr;
    if (!in) return;
    if (!in->placed && !in->arrived) in->arrived = m_lead;
    in->delivered += frames;
    delivered(*in, in->follower.convert(samples, frames, in->pending));
}

// In pieces of a second: a long stall must not take its length in memory at once.
void CallMix::pushSilence(int input, qint64 frames) {
    Input* in = frames > 0 ? live(input) : nullptr;
    if (!in) return;
    if (!in->placed && !in->arrived) in->arrived = m_lead;
    for (qint64 piece = 0; frames > 0; frames -= piece) {
        piece = std::min(frames, qint64(kRate));
        in->delivered += piece;
        in->pending.resize(in->pending.size() + size_t(piece), 0);
        delivered(*in, piece);
    }
}

void CallMix::record(int input, qint64 produced, qint64 heard, qint64 read) {
    Input* in = live(input);
    if (!in) return;
    if (read > in->delivered) pushSilence(input, read - in->delivered);
    if (produced <= 0) return;
    if (!m_origin) m_origin = heard - produced;
    in->timing.note({produced, heard - *m_origin});
    if (!in->placed) place(*in, *in->timing.start());
    delivered(*in, 0);
}

// A moved stream's new device may have heard a moment that the old one gave already.
void CallMix::place(Input& in, qint64 start) {
    in.placed = true;
    in.arrived.reset();
    in.end = start + qint64(in.pending.size());
    m_sides[index(in.side)].spans[in.id] = {in.id, start, in.end};
    const auto previous = m_ended.find(in.continues);
    if (previous == m_ended.end()) return;
    in.takenUntil = previous->second;
    m_ended.erase(previous);
}

// Whatever comes first, its record or its frames: what the ended input gave is not taken twice.
void CallMix::delivered(Input& in, qint64 frames) {
    in.end += frames;
    if (!in.placed) return;
    keepTime(in);
    const qint64 start = in.end - qint64(in.pending.size());
    const auto twice = std::clamp<qint64>(in.takenUntil - start, 0, qint64(in.pending.size()));
    in.pending.erase(in.pending.begin(), in.pending.begin() + qsizetype(twice));
    advance(in.end);
    flush(in.side);
}

void CallMix::keepTime(Input& in) {
    while (const auto check = in.timing.check(in.delivered, in.end)) {
        if (check->silence > 0) putSilence(in, check->at, check->silence);
        if (check->excess > 0) takeOut(in, check->at, check->excess);
        if (check->ahead) in.follower.measure(*check->ahead, check->late);
    }
}

// How many of the frames not yet written come from the stream's frame `at` on.
qint64 CallMix::pendingFrom(const Input& in, qint64 at) {
    return std::clamp<qint64>(in.delivered - at, 0, qint64(in.pending.size()));
}

// Before the stream's frame `at`, or what of it is not yet written.
void CallMix::putSilence(Input& in, qint64 at, qint64 frames) {
    in.pending.insert(in.pending.end() - qsizetype(pendingFrom(in, at)), size_t(frames), 0);
    in.end += frames;
}

// Before the stream's frame `at`, what of them is not yet written; the rest from `at` on.
void CallMix::takeOut(Input& in, qint64 at, qint64 frames) {
    const qint64 after = pendingFrom(in, at);
    const qint64 before = std::min(frames, qint64(in.pending.size()) - after);
    const qint64 later = std::min(frames - before, after);
    const auto to = in.pending.end() - qsizetype(after);
    in.pending.erase(to - qsizetype(before), to + qsizetype(later));
    in.end -= before + later;
}

// Where the input lets its side be written up to: not past a frame a correction may go before;
// one with no record at all (that would give it silence when it gives nothing) no further back
// than such a stream is placed.
qint64 CallMix::holdsAt(const Input& in) const {
    if (!in.timing.start()) return std::max(in.end, m_lead - kNoRecordFrames);
    const auto doubtful = in.timing.doubtfulFrom();
    return doubtful ? in.end - pendingFrom(in, *doubtful) : in.end;
}

void CallMix::endInput(int input) {
    Input* in = live(input);
    if (!in) return;
    if (!in->placed && !in->pending.empty()) placeByArrival(*in);
    in->ended = true;
    if (!in->placed) {
        // A restart that failed: the next one continues what this one continued.
        if (const auto chain = m_ended.find(in->continues); chain != m_ended.end())
            m_ended.emplace(input, chain->second);
        m_inputs.erase(input);
        return;
    }
    m_ended[input] = in->end;
    m_sides[index(in->side)].spans[input].end = in->end;
    flush(in->side);
}

// For a stream with no usable record: its frames begin where the call was when they came, and
// end no later than the present.
void CallMix::placeByArrival(Input& in) {
    const qint64 present = m_lead - qint64(in.pending.size());
    place(in, std::max<qint64>(std::min(in.arrived.value_or(present), present), 0));
    delivered(in, 0);
}

// Everything delivered by every live input is written; an ended input never holds a side back,
// and one that waits for its first record holds it where it is.
qint64 CallMix::frontier(Side side) const {
    const qint64 written = m_sides[index(side)].written;
    qint64 live = std::numeric_limits<qint64>::max(), ended = written;
    for (const auto& [id, in] : m_inputs) {
        if (in.side != side) continue;
        if (!in.placed && !in.pending.empty()) return written;
        if (!in.placed) continue;
        if (in.ended)
            ended = std::max(ended, in.end);
        else
            live = std::min(live, holdsAt(in));
    }
    return live == std::numeric_limits<qint64>::max() ? ended : live;
}

bool CallMix::hasLiveInput(Side side) const {
    return std::any_of(m_inputs.begin(), m_inputs.end(), [side](const auto& entry) {
        const Input& in = entry.second;
        return in.side == side && !in.ended && (in.placed || !in.pending.empty());
    });
}

// Held back a little behind the newest moment: a stream that delivers for the first time now
// takes its place just behind the present, and must find that place not yet written.
void CallMix::flush(Side side) {
    SideState& state = m_sides[index(side)];
    if (state.writer.isOpen())
        writeUpTo(state, side, std::min(frontier(side), m_lead - kSlackFrames));
}

// In pieces of a second: a long stretch (a stall, a side catching up) must not take its length
// in memory at once.
void CallMix::writeUpTo(SideState& state, Side side, qint64 position) {
    if (position <= state.written) return;
    for (qint64 from = state.written; from < position; from += kRate)
        writePiece(state, side, from, std::min(from + kRate, position));
    for (auto it = m_inputs.begin(); it != m_inputs.end();) {
        Input& in = it->second;
        if (in.side != side || !in.placed) {
            ++it;
            continue;
        }
        const qint64 used = std::clamp<qint64>(position - (in.end - qint64(in.pending.size())), 0,
                                               qint64(in.pending.size()));
        in.pending.erase(in.pending.begin(), in.pending.begin() + used);
        it = in.ended && in.pending.empty() ? m_inputs.erase(it) : std::next(it);
    }
    state.written = position;
}

void CallMix::writePiece(SideState& state, Side side, qint64 from, qint64 to) {
    std::vector<qint32> sum(size_t(to - from), 0);
    for (const auto& [id, in] : m_inputs) {
        if (in.side != side || !in.placed) continue;
        const qint64 start = in.end - qint64(in.pending.size());
        for (qint64 t = std::max(start, from); t < std::min(in.end, to); ++t)
            sum[size_t(t - from)] += in.pending[size_t(t - start)];
    }
    std::vector<qint16> out(sum.size());
    for (size_t i = 0; i < sum.size(); ++i) {
        state.peak = std::max(state.peak, std::abs(sum[i]));
        out[i] = qToLittleEndian(qint16(std::clamp<qint32>(sum[i], -32768, 32767)));
    }
    state.writer.append(reinterpret_cast<const char*>(out.data()), qint64(out.size()) * 2);
}

// A side with no stream (the call application plays nothing) keeps up with the other.
void CallMix::keepUp() {
    for (Side side : {Side::Microphone, Side::Speaker}) {
        SideState& state = m_sides[index(side)];
        if (!state.writer.isOpen()) continue;
        flush(side);
        if (!hasLiveInput(side) && state.written < m_lead - kStalledFrames)
            writeUpTo(state, side, m_lead - kSlackFrames);
    }
}

void CallMix::tick() {
    for (auto& [id, in] : m_inputs)
        if (in.arrived &&
            (qint64(in.pending.size()) > kNoRecordFrames || m_lead - *in.arrived > kNoRecordFrames))
            placeByArrival(in);
    keepUp();
    for (SideState& state : m_sides) state.writer.sync();
}

void CallMix::finish(std::optional<qint64> until) {
    for (auto it = m_inputs.begin(); it != m_inputs.end();) {
        if (!it->second.placed && !it->second.pending.empty()) placeByArrival(it->second);
        it = it->second.placed ? std::next(it) : m_inputs.erase(it);
    }
    // Everything delivered is written, a stream heard later than it came (a sink's monitor)
    // whole.
    for (auto& [id, in] : m_inputs) {
        in.ended = true;
        m_sides[index(in.side)].spans[id].end = in.end;
    }
    for (Side side : {Side::Microphone, Side::Speaker}) {
        SideState& state = m_sides[index(side)];
        if (!state.writer.isOpen()) continue;
        writeUpTo(state, side, m_lead);
        // A file's frames are the timeline's from its start.
        if (until && m_origin && *until - *m_origin < state.written) {
            state.written = std::max<qint64>(*until - *m_origin, 0);
            state.writer.cut(state.written * 2);
        }
        state.writer.finish();
    }
    m_inputs.clear();
    m_ended.clear();
}

std::vector<CallMix::Span> CallMix::spans(Side side) const {
    std::vector<Span> result;
    for (const auto& [id, span] : m_sides[index(side)].spans) result.push_back(span);
    std::sort(result.begin(), result.end(),
              [](const Span& a, const Span& b) { return a.start < b.start; });
    return result;
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
