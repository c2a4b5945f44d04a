// Mixing the two sides of a call: the arithmetic, which file shapes the output, what is kept
// byte for byte, progress, and what happens to the inputs after success and after failure.
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <random>

#include "FakePrompts.h"
#include "Main.h"
#include "ReferenceMix.h"
#include "WavBytes.h"
#include "WaveMP3.h"

namespace {

using Side = ReferenceSide;

Side side(const std::vector<qint16>& samples, const QList<Chunk>& before = {},
          const QList<Chunk>& after = {}) {
    const QByteArray bytes = pcmWav(samples, 1, 48000, before, after);
    qsizetype start = 44;
    for (const Chunk& c : before) start += chunkBytes(c).size();
    return {bytes, start, qsizetype(samples.size() * 2)};
}

std::vector<qint16> noise(size_t count, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> sample(-32768, 32767);
    std::vector<qint16> samples(count);
    for (auto& s : samples) s = qint16(sample(random));
    return samples;
}

}  // namespace

class MergeWaveTest : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_temp;
    std::unique_ptr<QTemporaryDir> m_calls;
    FakePrompts m_prompts;
    QList<int> m_progress;
    AudioSeams m_seams;

    QString mic() const { return Main::TempFile("mic.wav"); }
    QString speaker() const { return Main::TempFile("speaker.wav"); }
    QString result() const { return Main::TempFile("result.wav"); }
    QString mp3() const { return m_calls->filePath("call.mp3"); }

    bool merge(const Side& a, const Side& b) {
        writeBytes(mic(), a.bytes);
        writeBytes(speaker(), b.bytes);
        return MergeWave(mic(), speaker(), mp3(), m_seams);
    }

private slots:
    void init() {
        m_temp = std::make_unique<QTemporaryDir>();
        m_calls = std::make_unique<QTemporaryDir>();
        qputenv("TEMP", m_temp->path().toLocal8Bit());
        m_prompts = FakePrompts();
        m_progress.clear();
        m_seams = {&m_prompts, [this](int v) { m_progress << v; }, {}};
    }

    void arithmetic_data() {
        QTest::addColumn<int>("a");
        QTest::addColumn<int>("b");
        QTest::addColumn<int>("mixed");
        QTest::newRow("1000 + 3000") << 1000 << 3000 << 2000;
        QTest::newRow("-3 + -3 truncates toward zero") << -3 << -3 << -2;
        QTest::newRow("3 + 0") << 3 << 0 << 1;
        QTest::newRow("32767 + 32767") << 32767 << 32767 << 32766;
        QTest::newRow("-32768 + -32768") << -32768 << -32768 << -32768;
        QTest::newRow("-32768 + 32767") << -32768 << 32767 << -16384 + 16383;
    }
    void arithmetic() {
        QFETCH(int, a);
        QFETCH(int, b);
        QFETCH(int, mixed);
        QVERIFY(merge(side({qint16(a), qint16(a)}), side({qint16(b), qint16(b)})));
        const QByteArray out = readBytes(result());
        QCOMPARE(samplesOf(out, 44, 4), std::vector<qint16>({qint16(mixed), qint16(mixed)}));
    }

    void longerSecondInputShapesTheOutput() {
        const Side a = side(noise(300, 1), {{"LIST", QByteArray(10, 'a')}});
        const Side b = side(noise(1000, 2), {}, {{"LIST", QByteArray(33, 'z')}});
        QVERIFY(merge(a, b));
        const QByteArray out = readBytes(result());
        QCOMPARE(out.size(), b.bytes.size());
        QCOMPARE(out.left(44), b.bytes.left(44));            // header, sizes unchanged
        QCOMPARE(out.right(8 + 34), b.bytes.right(8 + 34));  // chunk after the data, with pad
        QCOMPARE(out, ReferenceMix(a, b));
        // Past the shorter side only the longer one is heard: silence, not a stale value.
        const auto tail = samplesOf(out, 44 + 600, 800);
        const auto alone = samplesOf(b.bytes, 44 + 600, 800);
        for (size_t i = 0; i < tail.size(); ++i) QCOMPARE(tail[i], qint16(alone[i] / 2));
    }

    void equalLengthsTakeTheMicrophoneSide() {
        const Side a = side(noise(256, 3), {{"JUNK", QByteArray(7, 'j')}});
        const Side b = side(noise(256, 4));
        QVERIFY(merge(a, b));
        const QByteArray out = readBytes(result());
        QCOMPARE(out.left(a.dataStart), a.bytes.left(a.dataStart));
        QCOMPARE(out, ReferenceMix(a, b));
    }

    void largeOddInputsMatchTheBlockDefinition() {
        // Several chunks, an odd byte count left over in the longer side.
        Side a = side(noise(400001, 5));
        Side b = side(noise(150007, 6), {{"bext", QByteArray(602, '\0')}});
        a.bytes += 'Q';  // a lone byte at the end of the data
        a.bytes.replace(40, 4, le32(quint32(a.dataSize + 1)));
        a.dataSize += 1;
        QVERIFY(merge(a, b));
        const QByteArray out = readBytes(result());
        QCOMPARE(out.size(), a.bytes.size());
        QVERIFY(out == ReferenceMix(a, b));
        QCOMPARE(out.back(), 'Q');
    }

    void progress_data() {
        QTest::addColumn<int>("samples");
        QTest::addColumn<QList<int>>("values");
        QTest::newRow("partial last block: 1000 bytes") << 500 << QList<int>{51, 100};
        QTest::newRow("whole blocks: 1024 bytes") << 512 << QList<int>{50, 100};
        QTest::newRow("1536 bytes") << 768 << QList<int>{33, 67, 100};
    }
    void progress() {
        QFETCH(int, samples);
        QVERIFY(merge(side(noise(samples, 7)), side(noise(10, 8))));
        QTEST(m_progress, "values");
    }

    void progressIsSetOnlyWhenItChanges() {
        QVERIFY(merge(side(noise(2'000'000, 9)), side(noise(1000, 10))));
        QCOMPARE(m_progress.size(), 101);
        QCOMPARE(m_progress.front(), 0);
        QCOMPARE(m_progress.back(), 100);
    }

    void inputsAreDeletedAfterSuccess() {
        QVERIFY(merge(side(noise(10, 11)), side(noise(10, 12))));
        QVERIFY(!QFile::exists(mic()));
        QVERIFY(!QFile::exists(speaker()));
        QVERIFY(QFile::exists(result()));
        QVERIFY(m_prompts.messages.isEmpty());
    }

    void refusedInputsAreKeptAndTheMessageSaysWhere_data() {
        QTest::addColumn<QByteArray>("second");
        QTest::addColumn<QString>("reason");
        QTest::newRow("other rate") << pcmWav(noise(10, 13), 1, 44100) << "at 44100 Hz";
        QTest::newRow("other channels") << pcmWav(noise(10, 13), 2, 48000) << "2 channel(s)";
        QTest::newRow("not a WAV") << QByteArray("garbage that is no wave file") << "not a WAV";
        QTest::newRow("float") << riffWave({{"fmt ", fmtBody(3, 1, 48000, 32)}, {"data", "abcd"}})
                               << "not 16-bit PCM";
    }
    void refusedInputsAreKeptAndTheMessageSaysWhere() {
        QFETCH(QByteArray, second);
        QFETCH(QString, reason);
        const Side a = side(noise(10, 14));
        QVERIFY(!merge(a, {second, 0, 0}));
        QVERIFY(!QFile::exists(result()));
        QVERIFY(!QFile::exists(mic()) && !QFile::exists(speaker()));
        const QString keptMic = m_calls->filePath("call-mic.wav");
        const QString keptSpeaker = m_calls->filePath("call-speaker.wav");
        QCOMPARE(readBytes(keptMic), a.bytes);
        QCOMPARE(readBytes(keptSpeaker), second);
        QCOMPARE(m_prompts.messages.size(), 1);
        const QString text = m_prompts.messages[0].text;
        QVERIFY2(text.startsWith("The two sides of the call could not be mixed: "),
                 qPrintable(text));
        QVERIFY2(text.contains(reason), qPrintable(text));
        QVERIFY(text.contains(keptMic) && text.contains(keptSpeaker));
    }

    // A side that is not there is lost: never "Nothing is lost".
    void aMissingSideIsSaidLost() {
        const Side a = side(noise(10, 16));
        writeBytes(mic(), a.bytes);
        QVERIFY(!MergeWave(mic(), speaker(), mp3(), m_seams));
        const QString keptMic = m_calls->filePath("call-mic.wav");
        QCOMPARE(readBytes(keptMic), a.bytes);
        QCOMPARE(m_prompts.messages.size(), 1);
        QVERIFY2(m_prompts.messages[0].text.endsWith(
                     "\n\nPart of the recording is lost: " + speaker() +
                     " is missing. What there is was kept as:\n" + keptMic),
                 qPrintable(m_prompts.messages[0].text));
    }

    void keptFilesNeverReplaceEarlierOnes() {
        writeBytes(m_calls->filePath("call-mic.wav"), "an earlier call");
        QVERIFY(!merge(side(noise(10, 15)), {QByteArray("bad"), 0, 0}));
        QCOMPARE(readBytes(m_calls->filePath("call-mic.wav")), QByteArray("an earlier call"));
        QVERIFY(QFile::exists(m_calls->filePath("call-mic (2).wav")));
    }

    void failingStepIsReportedOnceWithTheCounters() {
        QVERIFY(QDir().mkdir(result()));  // the output cannot be opened
        QVERIFY(!merge(side(noise(600, 16)), side(noise(10, 17))));
        QCOMPARE(m_prompts.messages.size(), 2);
        const MessageRequest& report = m_prompts.messages[0];
        QCOMPARE(report.title, QString("Application Error"));
        QVERIFY(report.text.contains(
            "\r\nin VocordaCallRecorder2021/08/31.WaveMP3.MergeWave at line 124\r\r"));
        QVERIFY(report.text.endsWith("\r\nlCnt: 0\r\nNFO(Index).DataSize: 1200"));
        QVERIFY(QFile::exists(m_calls->filePath("call-mic.wav")));
        QVERIFY(QFile::exists(m_calls->filePath("call-speaker.wav")));
    }
};

QTEST_GUILESS_MAIN(MergeWaveTest)
#include "MergeWaveTest.moc"
