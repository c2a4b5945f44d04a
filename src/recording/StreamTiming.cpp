#include "StreamTiming.h"

#include <algorithm>
#include <cstdlib>
#include <numeric>

namespace {

constexpr qint64 kRate = 48000;
// Beyond a single record's error (PulseAudio's first records after a busy moment are up to 8 ms
// off; PipeWire's lateness is the step, on top) and the drift follower's swing; time lost below
// it is made up by the follower.
constexpr qint64 kGapFrames = kRate / 50;
// Records the frames have not yet caught up with: a stream the server counts but does not send.
constexpr size_t kMaxDue = 64;
// Records whose earliest place is the stream's: some 4 s of them; the counts the step is read from.
constexpr size_t kPlaces = 16;
constexpr size_t kSteps = 8;
// PipeWire's largest quantum.
constexpr qint64 kMaxStep = 8192;

}  // namespace

void StreamTiming::note(Record record) {
    if (record.produced <= 0) return;
    if (!m_start) m_start = record.heard - record.produced;
    if (!m_last) m_last = record;
    m_due.push_back(record);
    if (m_due.size() > kMaxDue) m_due.pop_front();
}

std::optional<qint64> StreamTiming::doubtfulFrom() const {
    if (!m_doubt) return std::nullopt;
    return m_doubt->record.produced;
}

std::optional<StreamTiming::Check> StreamTiming::check(qint64 delivered, qint64 end) {
    if (m_due.empty() || m_due.front().produced > delivered) return std::nullopt;
    const Record record = m_due.front();
    m_due.pop_front();
    m_counts.push_back(record.produced);
    if (m_counts.size() > kSteps) m_counts.pop_front();
    // Where the frames put the record's frame, against where the server heard it.
    const qint64 ahead = end - (delivered - record.produced) - record.heard;
    const qint64 place =
        m_places.empty() ? ahead : *std::max_element(m_places.begin(), m_places.end());
    // Until the places are known, the first of them may have been late itself.
    const qint64 early = m_places.size() < kPlaces ? step() : 0;
    if (m_places.empty() ||
        (ahead >= place - step() - kGapFrames && ahead <= place + early + kGapFrames))
        return inPlace(record, ahead, place);
    if (!m_doubt || (m_doubt->ahead > place) != (ahead > place) ||
        std::abs(ahead - m_doubt->ahead) > kGapFrames + step()) {
        m_doubt = Doubt{record, ahead};
        return Check{.at = record.produced};
    }
    return correct(record, ahead, place);
}

// The step the server's count moves in: a whole quantum on PipeWire, a block on PulseAudio.
qint64 StreamTiming::step() const {
    qint64 step = 0;
    for (size_t i = 1; i < m_counts.size(); ++i)
        step = std::gcd(step, m_counts[i] - m_counts[i - 1]);
    return std::min(step, kMaxStep);
}

StreamTiming::Check StreamTiming::inPlace(const Record& record, qint64 ahead, qint64 place) {
    m_doubt.reset();
    m_last = record;
    m_lastBehind = std::max(place - ahead, qint64(0));
    m_places.push_back(ahead);
    if (m_places.size() > kPlaces) m_places.pop_front();
    Check check;
    check.at = record.produced;
    // The follower takes its place from the earliest of a full set of places.
    if (const qint64 second = record.heard / kRate;
        second > m_second && m_places.size() == kPlaces) {
        m_second = second;
        check.ahead = *std::max_element(m_places.begin(), m_places.end());
        check.late = step();
    }
    return check;
}

// Two records agree: the correction goes in where the first of them showed it, by the less late
// of the two, as far as the time since the last record in place leaves room for it
// (with what that one already lacked, give or take a record's error). The places start again
// from there.
StreamTiming::Check StreamTiming::correct(const Record& record, qint64 ahead, qint64 place) {
    const Record last = m_last.value_or(m_doubt->record);
    const qint64 leastLate = std::max(ahead, m_doubt->ahead);
    Check check;
    check.at = m_doubt->record.produced;
    if (ahead < place) {
        const qint64 unfilled = (record.heard - last.heard) - (record.produced - last.produced);
        check.silence =
            std::min(place - leastLate, std::max(unfilled + m_lastBehind + kGapFrames, qint64(0)));
    } else {
        check.excess =
            std::min(leastLate - place, std::max(record.produced - last.produced, qint64(0)));
    }
    m_doubt.reset();
    m_last = record;
    m_lastBehind = 0;
    m_places = {ahead + check.silence - check.excess};
    return check;
}
