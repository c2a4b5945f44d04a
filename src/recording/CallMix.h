// The two sides of a recorded call on one timeline: every stream the call reads or plays is an
// input of a side; a side's file holds the sum of its inputs (saturated), sample for sample in
// time with the other side. Each stream's frames go where the audio server's record of it puts
// them (StreamTiming); streams may join, leave or stall at any time: time a stream produced
// nothing for and a side with no input get silence, so both files describe the same moments.
#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <algorithm>
#include <array>
#include <map>
#include <optional>
#include <vector>

#include "RateFollower.h"
#include "StreamTiming.h"
#include "WavWriter.h"

class CallMix {
public:
    enum class Side { Microphone = 0, Speaker = 1 };
    static constexpr int kRate = 48000;
    // Dither and a muted device's noise stay within this of zero; a quiet room does not.
    static constexpr qint32 kSilentPeak = 4;

    // maxSideBytes: the most a side's file takes (tests give small ones).
    explicit CallMix(qint64 maxSideBytes = WavWriter::kMaxDataBytes);

    // Creates the side's file; it starts with silence up to the call's present moment.
    // Throws AppError when the file cannot be created.
    void openSide(Side side, const QString& path);
    bool isOpen(Side side) const { return m_sides[index(side)].writer.isOpen(); }

    // A stream that joins the side, or that continues an ended input (the same stream on
    // another device: what it heard before the ended input's end is not taken twice). Returns
    // its input number.
    int addInput(Side side, int continues = 0);
    void push(int input, const qint16* samples, qint64 frames);
    void pushSilence(int input, qint64 frames);  // a hole the server left in the stream
    // The server's record of the stream: `produced` frames written into it when the frame after
    // them was heard at `heard`, in frames of kRate on the system's steady clock; `read` frames
    // handed over, with those it skipped (PipeWire's, when the stream was not read for long):
    // these were lost at this point of the stream and become silence. A stream's frames wait for
    // the first record that counts some of them, which gives them their place.
    void record(int input, qint64 produced, qint64 heard, qint64 read);
    // The stream is gone; what it delivered is still written.
    void endInput(int input);

    // Regularly: makes both files valid on disk.
    void tick();
    // Ends every input; both files end at the same moment: `until`, when it is given and they
    // reach past it (on the steady clock, in frames of kRate).
    void finish(std::optional<qint64> until = std::nullopt);

    qint64 framesWritten(Side side) const { return m_sides[index(side)].written; }
    // Where each input of the side put its frames on the timeline, in the order they begin.
    struct Span {
        int input;
        qint64 start, end;
    };
    std::vector<Span> spans(Side side) const;
    // The side's file was made and holds nothing but silence (every sample within a few counts
    // of zero): a muted device, or a call application that plays where it cannot be heard.
    bool isSilent(Side side) const;
    // What the user must hear about the files: a side that stopped being written, a call cut
    // at the longest a file holds. Empty when both files hold the whole call.
    QStringList problems() const;

    // A moment of the call as the user reads it: "2 min 5 s", "1 h 0 min 3 s".
    static QString callTime(qint64 frames);

private:
    struct Input {
        Side side;
        int continues = 0;
        int id = 0;
        bool placed = false;
        qint64 delivered = 0;  // frames of the stream, holes included
        qint64 end = 0;        // timeline position just past the last frame delivered
        std::vector<qint16> pending;
        std::optional<qint64> arrived;  // the lead when its first frames came, while unplaced
        qint64 takenUntil = 0;          // what the input it continues gave already, up to here
        bool ended = false;
        StreamTiming timing;
        RateFollower follower{kRate};
    };
    struct SideState {
        explicit SideState(qint64 maxBytes) : writer(1, kRate, maxBytes) {}
        WavWriter writer;
        qint64 written = 0;  // timeline position of the next frame of the file
        bool opened = false;
        std::map<int, Span> spans;
        qint32 peak = 0;  // the loudest sample written
    };

    static size_t index(Side side) { return size_t(side); }
    Input* live(int input);
    void place(Input& in, qint64 start);
    void placeByArrival(Input& in);
    void keepTime(Input& in);
    static qint64 pendingFrom(const Input& in, qint64 at);
    qint64 holdsAt(const Input& in) const;
    void putSilence(Input& in, qint64 at, qint64 frames);
    void takeOut(Input& in, qint64 at, qint64 frames);
    void delivered(Input& in, qint64 frames);
    void advance(qint64 position) { m_lead = std::max(m_lead, position); }
    void writeUpTo(SideState& state, Side side, qint64 position);
    void writePiece(SideState& state, Side side, qint64 from, qint64 to);
    qint64 frontier(Side side) const;
    bool hasLiveInput(Side side) const;
    void flush(Side side);
    void keepUp();

    std::array<SideState, 2> m_sides;
    std::map<int, Input> m_inputs;
    std::map<int, qint64> m_ended;  // where each ended input stopped, for its continuation
    int m_nextInput = 1;
    qint64 m_lead = 0;               // the newest moment any input has delivered
    std::optional<qint64> m_origin;  // the steady clock's frame at the timeline's start
};
