#include "StreamTiming.h"

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
    m_due.push_back(record);
    if (m_due.size() > kMaxDue) m_due.pop_front();
}

std::optional<StreamTiming::Check> StreamTiming::check(qint64 delivered, qint64 end, qint64 held) {
    if (m_due.empty() || m_due.front().produced > delivered) return std::nullopt;
    const Record record = m_due.front();
    m_due.pop_front();
    // Where the frames put the record's frame, against where the server heard it.
    const qint64 ahead = end - (delivered - record.produced) - record.heard;
    Check check;
    check.at = record.produced;
    if (ahead < held - kGapFrames) check.silence = held - ahead;
    if (ahead > held + kGapFrames) check.excess = ahead - held;
    if (const qint64 second = record.heard / kRate; second > m_second) {
        m_second = second;
        check.ahead = ahead + check.silence - check.excess;
    }
    return check;
}
