#include "StreamTiming.h"

#include <algorithm>
#include <cstdlib>

namespace {

constexpr qint64 kRate = 48000;
// Beyond a single record's error (PipeWire counts in steps of 5.3 ms; PulseAudio's first records
// after a busy moment are up to 8 ms off) and the drift follower's swing; time lost below it is
// made up by the follower.
constexpr qint64 kGapFrames = kRate / 50;
// Records the frames have not yet caught up with: a stream the server counts but does not send.
constexpr size_t kMaxDue = 64;

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

std::optional<StreamTiming::Check> StreamTiming::check(qint64 delivered, qint64 end, qint64 held) {
    if (m_due.empty() || m_due.front().produced > delivered) return std::nullopt;
    const Record record = m_due.front();
    m_due.pop_front();
    // Where the frames put the record's frame, against where the server heard it.
    const qint64 ahead = end - (delivered - record.produced) - record.heard;
    const qint64 offset = ahead - held;
    if (std::abs(offset) <= kGapFrames) {
        m_doubt.reset();
        m_last = record;
        Check check;
        check.at = record.produced;
        if (const qint64 second = record.heard / kRate; second > m_second) {
            m_second = second;
            check.ahead = ahead;
        }
        return check;
    }
    if (!m_doubt || std::abs(offset - m_doubt->offset) > kGapFrames) {
        m_doubt = Doubt{record, offset};
        return Check{.at = record.produced};
    }
    return correct(record, offset);
}

// Two records agree: the correction goes in where the first of them showed it, as far as the
// time since the last record in place leaves room for it (give or take what that one was off).
StreamTiming::Check StreamTiming::correct(const Record& record, qint64 offset) {
    const Record last = m_last.value_or(m_doubt->record);
    Check check;
    check.at = m_doubt->record.produced;
    if (offset < 0) {
        const qint64 unfilled = (record.heard - last.heard) - (record.produced - last.produced);
        check.silence = std::min(-offset, std::max(unfilled + kGapFrames, qint64(0)));
    } else {
        check.excess = std::min(offset, std::max(record.produced - last.produced, qint64(0)));
    }
    m_doubt.reset();
    m_last = record;
    return check;
}
