// Reading WAV headers: where the samples lie and how many bytes they hold, and which files are
// refused.
#include <QTemporaryDir>
#include <QtTest>

#include "AppError.h"
#include "FakePrompts.h"
#include "WavBytes.h"
#include "modWave.h"

namespace {

QByteArray extensibleFmt(quint16 subFormat, int bits) {
    const QByteArray guidTail = QByteArray::fromHex("000000001000800000AA00389B71");
    return fmtBody(0xFFFE, 2, 44100, bits) + le16(22) + le16(bits) + le32(3) + le16(subFormat) +
           guidTail;
}

const std::vector<qint16> kTen = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};

}  // namespace

class modWaveTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void readsHeaders_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("rate");
        QTest::addColumn<qint64>("dataPos");
        QTest::addColumn<quint32>("dataSize");

        QTest::newRow("canonical 44-byte header")
            << pcmWav(kTen, 1, 48000) << 1 << 48000 << qint64(40) << quint32(20);
        QTest::newRow("extra chunk before data")
            << pcmWav(kTen, 2, 44100, {{"LIST", QByteArray(26, 'x')}}) << 2 << 44100
            << qint64(40 + 34) << quint32(20);
        QTest::newRow("\"data\" inside a LIST chunk")
            << pcmWav(kTen, 1, 8000, {{"LIST", QByteArray("INFOICMT\x08\0\0\0data!!!!", 20)}}) << 1
            << 8000 << qint64(40 + 28) << quint32(20);
        QTest::newRow("data past byte 96 (bext)")
            << pcmWav(kTen, 1, 48000, {{"bext", QByteArray(602, '\0')}}) << 1 << 48000
            << qint64(40 + 610) << quint32(20);
        QTest::newRow("odd-sized chunk with its pad byte")
            << pcmWav(kTen, 1, 48000, {{"JUNK", QByteArray(5, 'j')}}) << 1 << 48000
            << qint64(40 + 14) << quint32(20);
        QTest::newRow("extensible PCM")
            << riffWave({{"fmt ", extensibleFmt(1, 16)}, {"data", sampleBytes(kTen)}}) << 2 << 44100
            << qint64(12 + 48 + 4) << quint32(20);
        QTest::newRow("data cut short: size clipped to the file")
            << pcmWav(kTen).left(44 + 6) << 1 << 48000 << qint64(40) << quint32(6);
        QByteArray longCall = pcmWav(kTen);
        longCall.replace(40, 4, le32(0xF0000000u));  // a call of hours, killed writer
        QTest::newRow("size above 2 GiB is unsigned, then clipped")
            << longCall << 1 << 48000 << qint64(40) << quint32(20);
    }
    void readsHeaders() {
        QFETCH(QByteArray, bytes);
        const QString path = m_dir.filePath("in.wav");
        writeBytes(path, bytes);
        FakePrompts prompts;
        const WaveInfo info = ReadWaveInfo(path, prompts);
        QTEST(int(info.Channels), "channels");
        QTEST(int(info.SampleRate), "rate");
        QTEST(info.DataPos, "dataPos");
        QTEST(info.DataSize, "dataSize");
        QCOMPARE(info.BitsPerSample, qint16(16));
        QCOMPARE(readBytes(path), bytes);  // read-only
        QVERIFY(prompts.messages.isEmpty());
    }

    void refusesWithTheFileAndTheReason_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("reason");
        QTest::newRow("not RIFF") << QByteArray("ID3\x04 an mp3 file, not a wave")
                                  << "not a WAV file";
        QTest::newRow("no fmt") << riffWave({{"data", sampleBytes(kTen)}}) << "no format chunk";
        QTest::newRow("no data") << riffWave({{"fmt ", fmtBody(1, 1, 48000, 16)}})
                                 << "no data chunk";
        QTest::newRow("truncated header") << pcmWav(kTen).left(30) << "format chunk is cut short";
        QTest::newRow("8-bit") << riffWave({{"fmt ", fmtBody(1, 1, 8000, 8)}, {"data", "abcd"}})
                               << "not 16-bit PCM (format tag 1, 8 bits";
        QTest::newRow("float") << riffWave({{"fmt ", fmtBody(3, 1, 48000, 32)}, {"data", "abcd"}})
                               << "not 16-bit PCM (format tag 3, 32 bits";
        QTest::newRow("a-law") << riffWave({{"fmt ", fmtBody(6, 1, 8000, 16)}, {"data", "abcd"}})
                               << "not 16-bit PCM (format tag 6";
        QTest::newRow("extensible float")
            << riffWave({{"fmt ", extensibleFmt(3, 16)}, {"data", "abcd"}}) << "not 16-bit PCM";
        QTest::newRow("no channels")
            << riffWave({{"fmt ", fmtBody(1, 0, 48000, 16)}, {"data", "abcd"}}) << "no channels";
    }
    void refusesWithTheFileAndTheReason() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, reason);
        const QString path = m_dir.filePath("bad.wav");
        writeBytes(path, bytes);
        FakePrompts prompts;
        try {
            ReadWaveInfo(path, prompts);
            QFAIL("the file was accepted");
        } catch (const AppError& e) {
            QVERIFY2(e.description().startsWith(path + " cannot be used: "),
                     qPrintable(e.description()));
            QVERIFY2(e.description().contains(reason), qPrintable(e.description()));
        }
    }

    void missingFileIsRefusedAndNotCreated() {
        FakePrompts prompts;
        const QString path = m_dir.filePath("missing.wav");
        QVERIFY_THROWS_EXCEPTION(AppError, ReadWaveInfo(path, prompts));
        QVERIFY(!QFile::exists(path));
    }

    void invalidNameSaysTheFileIsNotFound() {
        FakePrompts prompts;
        const WaveInfo info = ReadWaveInfo(QString(), prompts);
        QVERIFY(info.isEmpty());
        QCOMPARE(info.DataSize, 0u);
        QCOMPARE(prompts.messages.size(), 1);
        QCOMPARE(prompts.messages[0].text, QString("The file is not found."));
        QCOMPARE(prompts.messages[0].buttons, MessageButtons::Ok);
    }
};

QTEST_GUILESS_MAIN(modWaveTest)
#include "modWaveTest.moc"
