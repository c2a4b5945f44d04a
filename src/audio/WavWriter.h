// Writes a growing 16-bit PCM WAV file that stays valid while it grows: the header's sizes are
// rewritten on every sync(), so a program killed at any moment leaves a file that holds
// everything up to the last sync.
#pragma once

#include <QFile>
#include <QString>

class WavWriter {
public:
    WavWriter(int channels, int sampleRate);

    // Throws AppError when the file cannot be created.
    void open(const QString& path);
    void append(const char* bytes, qint64 count);
    void appendSilence(qint64 count);
    // Rewrites the header's sizes and hands the data to the system.
    void sync();
    void finish();

    bool isOpen() const { return m_file.isOpen(); }
    qint64 dataBytes() const { return m_dataBytes; }

private:
    void writeHeader();

    int m_channels;
    int m_sampleRate;
    QFile m_file;
    qint64 m_dataBytes = 0;
};
