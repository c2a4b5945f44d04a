// Streams the mix of two 16-bit PCM WAV files into a third: the output is the longer input (the
// first when equal) byte for byte, except that its samples are (a / 2) + (b / 2), truncating
// toward zero. An input whose data has ended contributes silence. Memory stays flat: the files
// are read in chunks of kChunkBytes.
#pragma once

#include <QFile>
#include <QString>
#include <functional>
#include <vector>

#include "modWave.h"

struct MixInput {
    QString path;
    WaveInfo info;
};

void MixSamples(const qint16* a, const qint16* b, qint16* out, qsizetype count);

class TrackMixer {
public:
    static constexpr qsizetype kChunkBytes = 512 * 1024;
    // The progress unit: the value after each block of 256 samples, rounded half to even and
    // clamped to 0..100, is reported whenever it changes.
    static constexpr quint32 kBlockBytes = 512;

    TrackMixer(MixInput first, MixInput second, std::function<void(int)> progress);

    // The steps, in order; each throws AppError naming the file when it fails.
    void openInputs();
    void openOutput(const QString& outputPath);  // writes the longer input's header
    void mixData();
    void finishOutput();  // copies what follows the data, closes everything

    quint32 bytesDone() const { return m_done; }
    quint32 longerDataSize() const { return m_inputs[m_index].info.DataSize; }

private:
    void readSamples(int input, quint32 offset, qsizetype bytes);
    void copyRange(qint64 from, qint64 to);
    void reportProgress();

    MixInput m_inputs[2];
    int m_index = 0;
    QFile m_files[2];
    QFile m_output;
    std::vector<qint16> m_buffers[2];
    std::vector<qint16> m_mixed;
    quint32 m_done = 0;
    quint64 m_nextBlockEnd = kBlockBytes;
    int m_lastProgress = -1;
    std::function<void(int)> m_progress;
};
