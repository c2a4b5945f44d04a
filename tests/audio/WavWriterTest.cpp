// The growing WAV file of a call's side: where it ends when the disk will not take more, or
// when a WAV file can count no more, its header counts exactly the whole frames in it.
#include <sys/resource.h>

#include <QTemporaryDir>
#include <QtTest>
#include <csignal>

#include "AppError.h"
#include "SmallDisk.h"
#include "WavBytes.h"
#include "WavWriter.h"

namespace {

QByteArray ramp(int bytes) {
    QByteArray data(bytes, 0);
    for (int i = 0; i < bytes; ++i) data[i] = char(i * 7);
    return data;
}

// Files this process writes may not grow past `bytes` while it lives (EFBIG, not a signal).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        m_signal = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{bytes, m_saved.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_signal);
    }

private:
    rlimit m_saved{};
    void (*m_signal)(int) = nullptr;
};

}  // namespace

class WavWriterTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void aFailedWriteEndsTheFileAtItsLastWholeFrame() {
        const QString path = m_dir.filePath("limited.wav");
        const QByteArray data = ramp(4000);
        WavWriter file(2, 48000);
        {
            // 1001 data bytes fit: a short write, then one that fails and says why.
            FileSizeLimit limit(44 + 1001);
            file.open(path);
            file.append(data.constData(), 800);
            file.append(data.constData() + 800, 3200);
            file.append(data.constData(), 100);
            file.sync();
        }
        file.append(data.constData(), 100);  // the file takes nothing more, even with room again
        file.finish();
        QCOMPARE(file.stop(), WavWriter::Stop::Failed);
        QCOMPARE(file.failure(), QString("File too large"));
        QCOMPARE(file.dataBytes(), 1000);
        QCOMPARE(countedData(readBytes(path)), data.left(1000));
    }

    void aSideOnAFullDiskKeepsWhatFitAndSaysNoSpace() {
        SmallDisk disk(m_dir.filePath("small"), 64 * 1024);
        if (!disk.isMounted()) QSKIP(qPrintable(disk.why()));
        const QString path = m_dir.filePath("small/mic.wav");
        WavWriter file(1, 48000);
        file.open(path);
        const QByteArray data = ramp(10000);
        for (int i = 0; i < 10; ++i) file.append(data.constData(), data.size());
        file.finish();
        QCOMPARE(file.stop(), WavWriter::Stop::Failed);
        QCOMPARE(file.failure(), QString("No space left on device"));
        const auto written = countedData(readBytes(path));
        QVERIFY(written);
        QVERIFY2(written->size() > 60000 - 44, qPrintable(QString::number(written->size())));
        QCOMPARE(written->left(10000), data);
    }

    void theFileEndsWhereAWavFileCanCountNoMore() {
        const QString path = m_dir.filePath("full.wav");
        const QByteArray data = ramp(700);
        WavWriter file(1, 48000, 1001);  // a limit inside a frame keeps whole frames
        file.open(path);
        file.append(data.constData(), 700);
        file.append(data.constData(), 700);
        QCOMPARE(file.stop(), WavWriter::Stop::Full);
        file.appendSilence(100);
        file.finish();
        QCOMPARE(countedData(readBytes(path)), data + data.left(300));
        QVERIFY(file.failure().isEmpty());
    }

    void aFileThatCannotBeCreatedIsRefusedWithTheReason() {
        WavWriter file(1, 48000);
        try {
            file.open(m_dir.filePath("no-folder/mic.wav"));
            QFAIL("opened");
        } catch (const AppError& e) {
            QVERIFY2(e.description().contains("No such file or directory"),
                     qPrintable(e.description()));
        }
        QVERIFY(!file.isOpen());
    }
};

QTEST_GUILESS_MAIN(WavWriterTest)
#include "WavWriterTest.moc"
