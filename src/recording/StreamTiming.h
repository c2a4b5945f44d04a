// Where one stream's frames belong in time, from the audio server's own record of the stream:
// how many frames it had written into the stream, and when the frame after them was heard. When
// our process happens to read the frames decides nothing: a record is checked only once every
// frame it counts has come, however late. A stream that stands later in its record than where
// its frames were put produced nothing for that time (a playback that was paused, a device that
// stopped): that is silence. One that stands earlier gave more frames than the time they fill
// (PipeWire 1.4's monitor of a playback that moves): the excess goes. Smaller offsets are its
// device's clock, for the drift follower. No single record moves a stream: a correction is made
// only when the next record agrees, and never larger than the time since the last record that
// stood in place allows (a clock step under one record). PipeWire stamps a record when it is
// asked, not when its frames were counted, so a record may be late by up to the step its count
// moves in (its quantum: 43 ms at 2048 frames); the earliest place of the recent records is
// where the stream stands, and a record as late as a step is in place.
#pragma once

#include <QtGlobal>
#include <deque>
#include <optional>

class StreamTiming {
public:
    struct Record {
        qint64 produced;  // frames the server had written into the stream
        qint64 heard;     // when the frame after them was heard, in frames of the timeline
    };
    // What a checked record asks of the stream's frames.
    struct Check {
        qint64 silence = 0;  // frames of silence, put in before frame `at` of the stream
        qint64 excess = 0;   // frames beyond the time they fill, taken out around frame `at`
        qint64 at = 0;
        // Once a second: how far ahead of its records it stands, by the earliest recent place,
        // and how late a record may be.
        std::optional<qint64> ahead;
        qint64 late = 0;
    };

    // Records that count no frame say nothing of where frames are.
    void note(Record record);
    // Where the stream's first frame was heard, from the first record that counts a frame.
    std::optional<qint64> start() const { return m_start; }
    // The next record whose frames have all come: `delivered` frames, the last of which ends at
    // `end` on the timeline.
    std::optional<Check> check(qint64 delivered, qint64 end);
    // The stream's frame from which nothing may be written while a correction waits for the
    // next record: it goes in there.
    std::optional<qint64> doubtfulFrom() const;

private:
    struct Doubt {
        Record record;
        qint64 ahead;
    };
    Check inPlace(const Record& record, qint64 ahead, qint64 place);
    Check correct(const Record& record, qint64 ahead, qint64 place);
    qint64 step() const;

    std::deque<Record> m_due;
    std::deque<qint64> m_places;  // how far ahead the recent records in place put the stream
    std::deque<qint64> m_counts;  // what the recent records counted
    std::optional<qint64> m_start;
    std::optional<Record> m_last;  // the last record that stood in place
    qint64 m_lastBehind = 0;       // how far that one stood behind the place
    std::optional<Doubt> m_doubt;
    qint64 m_second = -1;  // of the last offset handed on
};
