// The two sides of a call on one timeline: streams summed into a side, streams that join late,
// stall, move or leave, and both files always describing the same moments.
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "CallMix.h"
#include "SmallDisk.h"
#include "WavBytes.h"

namespace {

using Side = CallMix::Side;
constexpr qint64 kSecond = CallMix::kRate;
// Hours of a call; under the sanitizers, minutes.
#if defined(__SANITIZE_ADDRESS__)
constexpr qint64 kCallMinutes = 20;
#else
constexpr qint64 kCallMinutes = 180;
#endif

// A WAV file's data, when its header counts exactly the bytes in the file.
std::vector<qint16> countedSamples(const QString& path) {
    const auto data = countedData(readBytes(path));
    return data ? samplesOf(*data, 0, data->size()) : std::vector<qint16>();
}

bool all(const std::vector<qint16>& samples, qint16 value) {
    return std::all_of(samples.begin(), samples.end(), [value](qint16 s) { return s == value; });
}

std::vector<qint16> constant(qint16 value, qint64 frames) {
    return std::vector<qint16>(size_t(frames), value);
}

}  // namespace

class CallMixTest : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_dir;
    qint64 m_now = 0;  // the server's clock
    std::unique_ptr<CallMix> m_mix;
    std::map<int, qint64> m_produced;

    QString path(Side side) const {
        return m_dir->filePath(side == Side::Microphone ? "mic.wav" : "speaker.wav");
    }
    void open(Side side) { m_mix->openSide(side, path(side)); }
    // A stream delivers what it heard up to now, and the server's record of it says so (`off`
    // by as much as it is given).
    void push(int input, qint16 value, qint64 frames, qint64 off = 0) {
        const auto samples = constant(value, frames);
        m_mix->push(input, samples.data(), frames);
        m_produced[input] += frames;
        m_mix->record(input, m_produced[input], m_now + off, m_produced[input]);
    }
    std::vector<qint16> samples(Side side) const {
        const QByteArray bytes = readBytes(path(side));
        return samplesOf(bytes, 44, bytes.size() - 44);
    }
    // The frames [from, to) of a side all hold `value`.
    bool holds(Side side, qint64 from, qint64 to, qint16 value) const {
        const auto all = samples(side);
        if (qint64(all.size()) < to) return false;
        return std::all_of(all.begin() + from, all.begin() + to,
                           [value](qint16 s) { return s == value; });
    }

private slots:
    // Both sides deliver `seconds` of their values, a tenth of a second at a time.
    void talk(int mic, int speaker, int seconds) {
        for (int i = 1; i <= seconds * 10; ++i) {
            m_now = i * kSecond / 10;
            push(mic, 100, kSecond / 10);
            push(speaker, 200, kSecond / 10);
            m_mix->tick();
        }
        m_mix->finish();
    }

    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_now = 0;
        m_mix = std::make_unique<CallMix>();
        m_produced.clear();
    }

    void streamsOfASideAreSummedWithSaturation() {
        open(Side::Speaker);
        const int a = m_mix->addInput(Side::Speaker), b = m_mix->addInput(Side::Speaker);
        m_now = 100;
        push(a, 30000, 100);
        push(b, 10000, 100);
        m_now = 200;
        push(a, -30000, 100);
        push(b, -10000, 100);
        m_now = 300;
        push(a, 1000, 100);
        push(b, -200, 100);
        m_mix->finish();
        QVERIFY(holds(Side::Speaker, 0, 100, 32767));
        QVERIFY(holds(Side::Speaker, 100, 200, -32768));
        QVERIFY(holds(Side::Speaker, 200, 300, 800));
        QCOMPARE(samples(Side::Speaker).size(), size_t(300));
    }

    void aStreamThatJoinsLateStartsAtThePresent() {
        open(Side::Microphone);
        open(Side::Speaker);
        const int mic = m_mix->addInput(Side::Microphone);
        const int ringtone = m_mix->addInput(Side::Speaker);
        m_now = kSecond;
        push(mic, 5, kSecond);
        push(ringtone, 1, kSecond);
        const int voice = m_mix->addInput(Side::Speaker);
        m_now = kSecond + 100;
        push(ringtone, 1, 100);
        push(mic, 5, 100);
        push(voice, 7, 100);
        m_mix->finish();
        QVERIFY(holds(Side::Speaker, 0, kSecond, 1));
        QVERIFY(holds(Side::Speaker, kSecond, kSecond + 100, 8));
        QCOMPARE(samples(Side::Speaker).size(), samples(Side::Microphone).size());
    }

    void aSideOpenedLaterStartsWithSilenceUpToThePresent() {
        open(Side::Microphone);
        const int mic = m_mix->addInput(Side::Microphone);
        m_now = 2400;
        push(mic, 3, 2400);
        open(Side::Speaker);
        const int far = m_mix->addInput(Side::Speaker);
        m_now = 2500;
        push(mic, 3, 100);
        push(far, 9, 100);
        m_mix->finish();
        QVERIFY(holds(Side::Speaker, 0, 2400, 0));
        QVERIFY(holds(Side::Speaker, 2400, 2500, 9));
        QVERIFY(holds(Side::Microphone, 0, 2500, 3));
    }

    // A playback that stops for 40 ms: its record counts no frames for that time, and it gets
    // that silence exactly there. Later it gives 40 ms that fill no time: they go. Then it ends,
    // and its side keeps up with the other. (Records counting in steps of 10 ms may be that late,
    // so a gap must be longer than 20 ms beyond that.)
    void timeAStreamProducedNothingForIsSilenceAndASideWithNoStreamKeepsUp() {
        open(Side::Microphone);
        open(Side::Speaker);
        const int mic = m_mix->addInput(Side::Microphone);
        const int far = m_mix->addInput(Side::Speaker);
        for (m_now = kSecond / 100; m_now <= kSecond; m_now += kSecond / 100) {
            push(mic, 4, kSecond / 100);
            if (m_now <= kSecond / 2 || m_now > kSecond / 2 + kSecond * 4 / 100)
                push(far, 6, kSecond / 100);
            else
                m_mix->record(far, m_produced[far], m_now, m_produced[far]);
            if (m_now == kSecond * 8 / 10) push(far, 7, kSecond * 4 / 100);
        }
        m_mix->endInput(far);
        m_now = 2 * kSecond;
        push(mic, 4, kSecond);
        m_mix->tick();
        QVERIFY(m_mix->framesWritten(Side::Speaker) >= kSecond * 17 / 10);
        m_mix->finish();
        QCOMPARE(samples(Side::Speaker).size(), size_t(2 * kSecond));
        QVERIFY(holds(Side::Speaker, 0, kSecond / 2, 6));
        QVERIFY(holds(Side::Speaker, kSecond / 2, kSecond / 2 + kSecond * 4 / 100, 0));
        QVERIFY(holds(Side::Speaker, kSecond / 2 + kSecond * 4 / 100, kSecond, 6));
        QVERIFY(holds(Side::Speaker, kSecond, 2 * kSecond, 0));
        QVERIFY(holds(Side::Microphone, 0, 2 * kSecond, 4));
    }

    void timeGoesOnWhileAStreamMoves() {
        open(Side::Microphone);
        open(Side::Speaker);
        const int first = m_mix->addInput(Side::Microphone);
        m_now = kSecond;
        push(first, 2, kSecond);
        m_now = 3 * kSecond;  // the microphone moves and nothing arrives for two seconds
        m_mix->tick();
        m_mix->endInput(first);
        const int moved = m_mix->addInput(Side::Microphone, first);
        m_now = 4 * kSecond;
        push(moved, 8, kSecond);
        m_mix->finish();
        const auto mic = samples(Side::Microphone);
        QCOMPARE(mic.size(), size_t(4 * kSecond));
        QVERIFY(holds(Side::Microphone, 0, kSecond, 2));
        QVERIFY(holds(Side::Microphone, kSecond, 3 * kSecond, 0));
        QVERIFY(holds(Side::Microphone, 3 * kSecond, 4 * kSecond, 8));
        QCOMPARE(samples(Side::Speaker).size(), mic.size());
    }

    // A moved stream takes the place its record gives it, without changing what was written,
    // and what its new device heard before the old one's end is not taken twice: also when its
    // first record comes before its frames (PipeWire), and after a restart that failed.
    void aMovedStreamContinuesInTimeWithoutChangingWhatWasWritten_data() {
        QTest::addColumn<bool>("recordFirst");
        QTest::newRow("frames first") << false;
        QTest::newRow("record first, after a failed restart") << true;
    }
    void aMovedStreamContinuesInTimeWithoutChangingWhatWasWritten() {
        QFETCH(bool, recordFirst);
        open(Side::Microphone);
        open(Side::Speaker);
        const int before = m_mix->addInput(Side::Microphone);
        const int far = m_mix->addInput(Side::Speaker);
        m_now = kSecond;
        push(before, 1, kSecond);
        push(far, 5, kSecond);
        m_now = kSecond * 12 / 10;
        push(far, 5, kSecond * 2 / 10);
        m_mix->tick();
        QCOMPARE(m_mix->framesWritten(Side::Microphone), kSecond);
        const QByteArray written = readBytes(path(Side::Microphone)).mid(44, 2 * kSecond);
        m_now = kSecond * 15 / 10;
        push(before, 1, kSecond / 2);  // still on its way when the stream moved
        m_mix->endInput(before);
        int continued = before;
        if (recordFirst) {
            continued = m_mix->addInput(Side::Microphone, before);
            m_mix->endInput(continued);
        }
        const int after = m_mix->addInput(Side::Microphone, continued);
        m_now = kSecond * 21 / 10;
        if (recordFirst) m_mix->record(after, kSecond * 65 / 100, m_now, 0);
        push(after, 2, kSecond * 65 / 100);  // from 50 ms before the old stream's end
        push(far, 5, kSecond * 9 / 10);
        m_mix->finish();
        QCOMPARE(readBytes(path(Side::Microphone)).mid(44, 2 * kSecond), written);
        QVERIFY(holds(Side::Microphone, kSecond, kSecond * 15 / 10, 1));
        QVERIFY(holds(Side::Microphone, kSecond * 15 / 10, kSecond * 21 / 10, 2));
        QCOMPARE(samples(Side::Microphone).size(), size_t(kSecond * 21 / 10));
    }

    // Records an hour late and an hour early (a clock step under one record) among good ones
    // move nothing. A stall longer than the server keeps a stream's frames for: the frames it
    // skipped are silence at their place.
    void noSingleRecordMovesAStreamAndSkippedFramesAreSilence() {
        open(Side::Microphone);
        open(Side::Speaker);
        const int mic = m_mix->addInput(Side::Microphone), far = m_mix->addInput(Side::Speaker);
        const qint64 hour = 3600 * kSecond, step = kSecond / 10;
        for (m_now = step; m_now <= 3 * kSecond; m_now += step) {
            push(far, 200, step);
            push(mic, 100, step, m_now == kSecond ? hour : m_now == 2 * kSecond ? -hour : 0);
            m_mix->tick();
        }
        const qint64 stopped = 25 * kSecond;  // all of it skipped, on both streams
        m_now += stopped - step;
        for (int input : {mic, far}) {
            m_produced[input] += stopped;
            m_mix->record(input, m_produced[input], m_now, m_produced[input]);
        }
        for (const qint64 end = m_now + 2 * kSecond; m_now < end; m_mix->tick()) {
            m_now += step;
            push(mic, 101, step);
            push(far, 201, step);
        }
        m_mix->finish();
        QCOMPARE(samples(Side::Microphone).size(), size_t(30 * kSecond));
        QCOMPARE(samples(Side::Speaker).size(), size_t(30 * kSecond));
        for (const auto& [side, level] : {std::pair{Side::Microphone, 100}, {Side::Speaker, 200}}) {
            QVERIFY(holds(side, 0, 3 * kSecond, qint16(level)));
            QVERIFY(holds(side, 3 * kSecond, 28 * kSecond, 0));
            QVERIFY(holds(side, 28 * kSecond, 30 * kSecond, qint16(level + 1)));
        }
    }

    // A stream that delivers once and never has a record holds its side no more than 2 s, and
    // its frames are where they came.
    void aStreamWithNoRecordIsPlacedByTime() {
        open(Side::Microphone);
        open(Side::Speaker);
        const int mic = m_mix->addInput(Side::Microphone), far = m_mix->addInput(Side::Speaker);
        for (m_now = kSecond / 10; m_now <= 5 * kSecond; m_now += kSecond / 10) {
            push(far, 200, kSecond / 10);
            if (m_now == kSecond) m_mix->push(mic, constant(100, 2400).data(), 2400);
            m_mix->tick();
        }
        QVERIFY2(m_mix->framesWritten(Side::Microphone) >= 5 * kSecond - 2 * kSecond - 4800,
                 qPrintable(QString::number(m_mix->framesWritten(Side::Microphone))));
        m_mix->finish();
        QVERIFY(holds(Side::Microphone, 0, kSecond, 0));
        QVERIFY(holds(Side::Microphone, kSecond, kSecond + 2400, 100));
        QVERIFY(holds(Side::Microphone, kSecond + 2400, 5 * kSecond, 0));
    }

    void aLeavingStreamNoLongerHoldsItsSideBack() {
        open(Side::Speaker);
        const int a = m_mix->addInput(Side::Speaker), b = m_mix->addInput(Side::Speaker);
        m_now = kSecond / 10;
        push(a, 1, kSecond / 10);
        push(b, 2, kSecond / 10);
        m_now = kSecond;
        push(b, 2, kSecond * 9 / 10);
        QCOMPARE(m_mix->framesWritten(Side::Speaker), kSecond / 10);
        m_mix->endInput(a);
        QCOMPARE(m_mix->framesWritten(Side::Speaker), kSecond * 9 / 10);  // a moment held back
        m_mix->finish();
        QVERIFY(holds(Side::Speaker, 0, kSecond / 10, 3));
        QVERIFY(holds(Side::Speaker, kSecond / 10, kSecond, 2));
    }

    void filesAreValidWhileTheyGrow() {
        open(Side::Microphone);
        const int mic = m_mix->addInput(Side::Microphone);
        m_now = kSecond;
        push(mic, 1, kSecond);
        m_mix->tick();
        // The header counts only what went to the disk, at every sixth tick (1.5 s of the
        // call's); a program killed before that leaves the rest for the next start to count.
        QByteArray bytes = readBytes(path(Side::Microphone));
        QVERIFY(bytes.size() >= 44 + 2 * kSecond * 9 / 10);
        QCOMPARE(bytes.mid(40, 4), le32(0));
        for (int tick = 2; tick <= 6; ++tick) {
            m_now += kSecond / 4;
            push(mic, 1, kSecond / 4);
            m_mix->tick();
        }
        bytes = readBytes(path(Side::Microphone));
        QVERIFY(bytes.size() >= 44 + 2 * kSecond * 21 / 10);
        QCOMPARE(bytes.mid(40, 4), le32(quint32(bytes.size() - 44)));
        m_now += kSecond;
        push(mic, 1, kSecond);
        m_mix->tick();
        WavWriter::countWholeFile(path(Side::Microphone));
        bytes = readBytes(path(Side::Microphone));
        QVERIFY(bytes.size() >= 44 + 2 * kSecond * 31 / 10);
        QCOMPARE(bytes.mid(4, 4), le32(quint32(bytes.size() - 8)));
        QCOMPARE(bytes.mid(40, 4), le32(quint32(bytes.size() - 44)));
    }

    void aSideOnAFullDiskStopsThereAndTheOtherGoesOn() {
        SmallDisk disk(m_dir->filePath("small"), 256 * 1024);
        if (!disk.isMounted()) QSKIP(qPrintable(disk.why()));
        const QString mic = m_dir->filePath("small/mic.wav");
        m_mix->openSide(Side::Microphone, mic);
        open(Side::Speaker);
        talk(m_mix->addInput(Side::Microphone), m_mix->addInput(Side::Speaker), 5);
        const auto kept = countedSamples(mic);
        QVERIFY2(kept.size() > 2 * kSecond && kept.size() < 3 * kSecond,
                 qPrintable(QString::number(kept.size())));
        QVERIFY(all(kept, 100));
        const auto speaker = countedSamples(path(Side::Speaker));
        QCOMPARE(qint64(speaker.size()), 5 * kSecond);
        QVERIFY(all(speaker, 200));
        QCOMPARE(m_mix->problems(),
                 QStringList({QString("Your side of the call (the microphone) stopped being "
                                      "recorded 0 min 2 s into the call: %1 could not be written "
                                      "(No space left on device).")
                                  .arg(mic)}));
    }

    void aCallLongerThanAFileHoldsIsCutOnBothSidesAtOneMoment() {
        m_mix = std::make_unique<CallMix>(62 * kSecond * 2 + 1);
        open(Side::Microphone);
        open(Side::Speaker);
        talk(m_mix->addInput(Side::Microphone), m_mix->addInput(Side::Speaker), 63);
        const auto mic = countedSamples(path(Side::Microphone));
        const auto speaker = countedSamples(path(Side::Speaker));
        QCOMPARE(qint64(mic.size()), 62 * kSecond);
        QCOMPARE(qint64(speaker.size()), 62 * kSecond);
        QVERIFY(all(mic, 100) && all(speaker, 200));
        QCOMPARE(m_mix->problems(), QStringList({"The call was longer than a WAV file can hold, so "
                                                 "the recording was cut at 1 min 2 s."}));
    }

    void aWholeCallHasNoProblems() {
        open(Side::Microphone);
        open(Side::Speaker);
        talk(m_mix->addInput(Side::Microphone), m_mix->addInput(Side::Speaker), 1);
        QVERIFY(m_mix->problems().isEmpty());
        QCOMPARE(qint64(countedSamples(path(Side::Microphone)).size()), kSecond);
        QVERIFY(!m_mix->isSilent(Side::Microphone) && !m_mix->isSilent(Side::Speaker));
    }

    // A muted microphone's few counts of noise are silence; a quiet room is not.
    void onlyASideOfNothingButSilenceIsSilent() {
        open(Side::Microphone);
        open(Side::Speaker);
        const int mic = m_mix->addInput(Side::Microphone), far = m_mix->addInput(Side::Speaker);
        for (int i = 1; i <= 10; ++i) {
            m_now = i * kSecond / 10;
            push(mic, i % 2 ? 4 : -4, kSecond / 10);
            push(far, i == 5 ? -5 : 0, kSecond / 10);
        }
        m_mix->finish();
        QVERIFY(m_mix->isSilent(Side::Microphone));
        QVERIFY(!m_mix->isSilent(Side::Speaker));
        CallMix unopened;
        QVERIFY(!unopened.isSilent(Side::Speaker));
    }

    // A microphone whose frames come 150 ms after they were heard, a sink's monitor whose frames
    // come 30 ms before they are played, then the microphone moved to a device 40 ms late: a
    // moment heard on both sides is at one place in both files.
    void streamsArePlacedWhereTheyWereHeard() {
        open(Side::Microphone);
        open(Side::Speaker);
        struct Stream {
            int input;
            qint64 latency;
            qint16 level;
            qint64 sent = 0;  // the moment heard by its next frame
            qint64 start = 0;
        };
        Stream mic{m_mix->addInput(Side::Microphone), kSecond * 15 / 100, 1},
            far{m_mix->addInput(Side::Speaker), -kSecond * 3 / 100, 2};
        const auto deliver = [&](Stream& s) {
            std::vector<qint16> block;
            for (; s.sent < m_now - s.latency; ++s.sent)
                block.push_back(s.sent % (2 * kSecond) < kSecond / 100 ? 9 : s.level);
            m_mix->push(s.input, block.data(), qint64(block.size()));
            m_mix->record(s.input, s.sent - s.start, m_now - s.latency, s.sent - s.start);
        };
        for (m_now = kSecond / 100; m_now <= 5 * kSecond; m_now += kSecond / 100) {
            if (m_now == 3 * kSecond) {
                m_mix->endInput(mic.input);
                mic = {m_mix->addInput(Side::Microphone, mic.input), kSecond * 4 / 100, 1, m_now,
                       m_now};
            }
            deliver(mic);
            deliver(far);
            if (m_now % (kSecond / 4) == 0) m_mix->tick();
        }
        m_mix->finish();
        const auto mine = samples(Side::Microphone), theirs = samples(Side::Speaker);
        for (qint64 mark : {2 * kSecond, 4 * kSecond}) {
            const auto at = [mark](const std::vector<qint16>& side) {
                return std::find(side.begin() + mark - kSecond / 2, side.end(), 9) - side.begin();
            };
            QCOMPARE(at(mine), mark);
            QCOMPARE(at(theirs), mark);
        }
    }

    // A microphone and speakers on two clocks, read by a process that the machine runs late (up
    // to half a second, then all at once): the sides stay within 20 ms of each other, silence
    // comes only where the server's record shows a stream produced nothing (a stall of 2 s, or
    // 30 ms of every stream now and then), as long as it did, and on one clock every sample stays
    // as it was.
    void sidesOnTwoClocksStayInTimeForHours_data() {
        QTest::addColumn<double>("micPpm");
        QTest::addColumn<double>("speakerPpm");
        QTest::addColumn<qint64>("minutes");
        QTest::addColumn<bool>("stall");
        QTest::addColumn<bool>("losses");
        QTest::addColumn<qint64>("quantum");  // records count in its steps, stamped when asked
        QTest::newRow("two clocks, a stall")
            << +100.0 << -100.0 << kCallMinutes << true << false << qint64(1);
        QTest::newRow("one clock") << 0.0 << 0.0 << qint64(10) << false << false << qint64(1);
        QTest::newRow("a server that loses time")
            << 0.0 << 0.0 << qint64(10) << false << true << qint64(1);
        QTest::newRow("clocks far apart")
            << +1000.0 << -1000.0 << qint64(20) << false << false << qint64(1);
        QTest::newRow("one clock, records up to 4096 frames late")
            << 0.0 << 0.0 << qint64(10) << false << false << qint64(4096);
    }
    void sidesOnTwoClocksStayInTimeForHours() {
        QFETCH(double, micPpm);
        QFETCH(double, speakerPpm);
        QFETCH(qint64, minutes);
        QFETCH(bool, stall);
        QFETCH(bool, losses);
        QFETCH(qint64, quantum);
        open(Side::Microphone);
        open(Side::Speaker);
        const qint64 minute = 60 * kSecond, end = minutes * minute, step = kSecond / 100;
        const qint64 stallAt = end / 2, lossEvery = 37 * kSecond, loss = kSecond * 4 / 100;
        // What the server holds for the reader: frames, and records among them, in order.
        struct Event {
            qint64 produced;
            qint64 heard;  // a record's, or -1 for frames up to `produced`
        };
        struct Device {
            int input;
            double ppm;
            qint64 produced = 0, lost = 0;
            std::vector<Event> queue;
        };
        Device devices[2] = {{m_mix->addInput(Side::Microphone), micPpm},
                             {m_mix->addInput(Side::Speaker), speakerPpm}};
        // What a device heard: a steady level, and a mark at each minute of real time.
        const auto heard = [&](const Device& d, qint64 frame) {
            const double minutes = double(frame + d.lost) / (1 + d.ppm * 1e-6) / double(minute);
            return qint16(std::abs(minutes - std::round(minutes)) * double(minute) < 0.5 ? 20000
                                                                                         : 1000);
        };
        unsigned seed = 1;
        qint64 wakeAt = 0;
        std::vector<qint16> block;
        for (m_now = step; m_now <= end; m_now += step) {
            for (Device& d : devices) {
                const bool stalled =
                    stall && &d == devices && m_now > stallAt && m_now <= stallAt + 2 * kSecond;
                const bool lost = losses && m_now % lossEvery > 0 && m_now % lossEvery <= loss;
                const auto made = qint64(double(m_now) * (1 + d.ppm * 1e-6)) - d.lost;
                if (stalled || lost)
                    d.lost += made - d.produced;
                else
                    d.produced = made;
                d.queue.push_back({d.produced, -1});
                if (m_now % (kSecond / 4) == 0)
                    d.queue.push_back({d.produced - (m_now + d.lost) % quantum, m_now});
            }
            if (m_now < wakeAt) continue;
            seed = seed * 1103515245 + 12345;
            wakeAt = m_now + qint64((seed >> 16) % 50 + 1) * step;  // 10 to 500 ms later
            for (Device& d : devices) {
                qint64 delivered = m_produced[d.input];
                for (const Event& e : d.queue) {
                    if (e.heard >= 0) {
                        m_mix->record(d.input, e.produced, e.heard, e.produced);
                        continue;
                    }
                    block.clear();
                    for (; delivered < e.produced; ++delivered)
                        block.push_back(heard(d, delivered));
                    m_mix->push(d.input, block.data(), qint64(block.size()));
                }
                m_produced[d.input] = delivered;
                d.queue.clear();
            }
            m_mix->tick();
        }
        m_mix->finish();
        QFile mic(path(Side::Microphone)), speaker(path(Side::Speaker));
        QVERIFY(mic.open(QIODevice::ReadOnly) && speaker.open(QIODevice::ReadOnly));
        const auto mark = [&](QFile& file, qint64 around) {
            if (!file.seek(44 + 2 * (around - kSecond))) return qint64(-1);
            const QByteArray bytes = file.read(4 * kSecond);
            const auto s = samplesOf(bytes, 0, bytes.size());
            return around - kSecond + qint64(std::max_element(s.begin(), s.end()) - s.begin());
        };
        int worst = 0;
        for (qint64 at = minute; at < end - minute; at += minute) {
            if (stall && at == stallAt) continue;  // the microphone's mark is in its stall
            const qint64 offset = mark(mic, at) - mark(speaker, at);
            worst = std::max(worst, int(std::abs(offset)));
            QVERIFY2(std::abs(offset) <= kSecond / 50,
                     qPrintable(QString("%1 frames apart at %2 min").arg(offset).arg(at / minute)));
        }
        qInfo("the sides at most %.1f ms apart", worst * 1000.0 / kSecond);
        // Silence only where the record shows none was produced, as long as it shows; the end
        // is where the two clocks part.
        for (QFile* file : {&mic, &speaker}) {
            qint64 silent = 0, changed = 0;
            QVERIFY(file->seek(44 + 2 * kSecond));
            while (file->pos() < 44 + 2 * (end - kSecond)) {
                const QByteArray bytes =
                    file->read(std::min<qint64>(1 << 20, 44 + 2 * (end - kSecond) - file->pos()));
                for (qint16 s : samplesOf(bytes, 0, bytes.size()))
                    silent += s == 0, changed += s != 0 && s != 1000 && s != 20000;
            }
            const qint64 expected =
                (stall && file == &mic ? 2 * kSecond : 0) + (losses ? end / lossEvery * loss : 0);
            QVERIFY2(std::abs(silent - expected) <= (stall ? kSecond / 10 : 0),
                     qPrintable(QString("%1 frames of silence").arg(silent)));
            if (micPpm == speakerPpm) QCOMPARE(changed, qint64(0));
        }
    }
};

QTEST_GUILESS_MAIN(CallMixTest)
#include "CallMixTest.moc"
