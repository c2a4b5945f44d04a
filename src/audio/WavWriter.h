// Writes a growing 16-bit PCM WAV file that stays valid while it grows. What is written goes to
// the disk itself (not only to the system's cache) at every sixth sync, and the header counts
// only what is there, so a power cut costs the last seconds at most; a program
// killed at any moment leaves a file whose every whole frame countWholeFile() reclaims. A write
// that fails (a full disk) or data past what a WAV file can count ends the file there: it takes
// nothing more, and its header counts exactly the whole frames in it.
#pragma once

#include <QFile>
#include <QString>

class WavWriter {
public:
    // The most data bytes a WAV file's 32-bit sizes can count.
    static constexpr qint64 kMaxDataBytes = 0xFFFFFFFFLL - 36;

    enum class Stop { None, Full, Failed };

    // maxDataBytes: where the file ends (tests give small ones); whole frames are kept.
    WavWriter(int channels, int sampleRate, qint64 maxDataBytes = kMaxDataBytes);

    // Throws AppError when the file cannot be created.
    void open(const QString& path);
    void append(const char* bytes, qint64 count);
    void appendSilence(qint64 count);
    // Writes what is held back; at every sixth, puts what is new on the disk and rewrites the
    // header's sizes to count it.
    void sync();
    // Ends the data at this many bytes, when it holds more.
    void cut(qint64 dataBytes);
    void finish();

    // A file this writer left (its program ended between two trips to the disk) may hold more
    // than its header counts: the header is made to count every whole frame in it. Files of any
    // other layout are left as they are.
    static void countWholeFile(const QString& path);

    bool isOpen() const { return m_file.isOpen(); }
    // The data bytes in the file, not counting those held back until the next sync().
    qint64 dataBytes() const { return m_dataBytes; }
    QString path() const { return m_file.fileName(); }
    // Why the file takes nothing more; failure() is the system's reason for Stop::Failed.
    Stop stop() const { return m_stop; }
    QString failure() const { return m_failure; }

private:
    void writePending();
    void toDisk();
    void fail();
    bool writeHeader();

    int m_channels;
    int m_sampleRate;
    qint64 m_maxDataBytes;
    QFile m_file;
    qint64 m_dataBytes = 0;
    qint64 m_durableBytes = 0;  // of m_dataBytes, those on the disk and counted by the header
    int m_syncs = 0;            // since the last trip to the disk
    QByteArray m_pending;
    Stop m_stop = Stop::None;
    QString m_failure;
};
