// The two sides of a recorded call on one timeline: every stream the call reads or plays is an
// input of a side; a side's file holds the sum of its inputs (saturated), sample for sample in
// time with the other side. Streams may join, leave or stall at any time: a stalled input and a
// side with no input get silence, so both files always describe the same moments.
#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <array>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "RateFollower.h"
#include "WavWriter.h"

class CallMix {
public:
    enum class Side { Microphone = 0, Speaker = 1 };
    static constexpr int kRate = 48000;
    // Frames of kRate since any fixed moment; never goes back.
    using Clock = std::function<qint64()>;

    // maxSideBytes: the most a side's file takes (tests give small ones).
    explicit CallMix(Clock clock = steadyClock(), qint64 maxSideBytes = WavWriter::kMaxDataBytes);

    // Creates the side's file; it starts with silence up to the call's present moment.
    // Throws AppError when the file cannot be created.
    void openSide(Side side, const QString& path);
    bool isOpen(Side side) const { return m_sides[index(side)].writer.isOpen(); }

    // A stream that joins the side, or that continues an ended input (the same stream on
    // another device). It takes its place in time when it first delivers: the present moment,
    // or for a continuation the ended input's end plus the time since it last delivered.
    // Returns its input number.
    int addInput(Side side, int continues = 0);
    void push(int input, const qint16* samples, qint64 frames);
    // How long before its first delivery's last frame reaches us it was heard (negative: it
    // will be heard later, as a sink plays what its monitor gives), as the server tells it.
    // Streams are placed by it when they start and after a move.
    void setLatency(int input, qint64 frames);
    void pushSilence(int input, qint64 frames);
    // The stream is gone; what it delivered is still written.
    void endInput(int input);

    // Regularly: pads stalled inputs and silent sides, then makes both files valid on disk.
    void tick();
    // Ends every input; both files end at the same moment.
    void finish();

    qint64 framesWritten(Side side) const { return m_sides[index(side)].written; }
    // The side's file was made and holds nothing but silence (every sample within a few counts
    // of zero): a muted device, or a call application that plays where it cannot be heard.
    bool isSilent(Side side) const;
    // What the user must hear about the files: a side that stopped being written, a call cut
    // at the longest a file holds. Empty when both files hold the whole call.
    QStringList problems() const;

    static Clock steadyClock();
    // A moment of the call as the user reads it: "2 min 5 s", "1 h 0 min 3 s".
    static QString callTime(qint64 frames);

private:
    struct Input {
        Side side;
        int continues = 0;
        bool placed = false;  // has delivered, so has a place in time
        qint64 end = 0;       // timeline position just past the last frame delivered
        std::vector<qint16> pending;
        bool ended = false;
        qint64 lastAt = 0;  // the clock when it last delivered
        std::optional<qint64> latency;
        qint64 lag = 0;        // how much earlier than the call's first stream it is heard
        bool stalled = false;  // padded with silence since it last delivered
        RateFollower follower{kRate};
        qint64 best = 0;  // its best lead on the clock in the last second it delivered
        qint64 bestSecond = -2;
    };
    struct Ended {
        qint64 end;  // as it arrived
        qint64 lastAt;
    };
    struct SideState {
        explicit SideState(qint64 maxBytes) : writer(1, kRate, maxBytes) {}
        WavWriter writer;
        qint64 written = 0;  // timeline position of the next frame of the file
        bool opened = false;
        qint32 peak = 0;  // the loudest sample written
    };

    static size_t index(Side side) { return size_t(side); }
    Input* deliverer(int input, qint64 frames);
    void place(Input& in, qint64 now, qint64 frames);
    void delivered(Input& in, qint64 frames);
    void resume(Input& in, qint64 now, qint64 frames);
    void closeSecond(qint64 second);
    void makeUpLostTime(std::vector<std::pair<Input*, qint64>>& moves);
    static void forgetSecond(Input& in);
    void advance(qint64 position);
    void writeUpTo(SideState& state, Side side, qint64 position);
    qint64 frontier(Side side) const;
    bool hasLiveInput(Side side) const;
    void flush(Side side);
    void padStalled();

    Clock m_clock;
    std::array<SideState, 2> m_sides;
    std::map<int, Input> m_inputs;
    std::map<int, Ended> m_ended;  // where each ended input stopped, for its continuation
    int m_nextInput = 1;
    qint64 m_lead = 0;  // the newest moment any input has delivered, as it arrived
    qint64 m_leadAt = 0;
    std::optional<qint64> m_latency;  // of the first stream placed with a known one
    qint64 m_start = 0;               // the clock at the timeline's first frame
    qint64 m_second = 0;              // of the clock since the start
    double m_common = 0;              // how far all streams moved together on the clock
};
