// The header facts of a 16-bit PCM WAV file, found by walking its RIFF chunk list.
#pragma once

#include <QString>
#include <QtGlobal>

class Prompts;

struct WaveInfo {
    qint32 SampleRate = 0;
    qint16 BitsPerSample = 0;
    qint16 Channels = 0;
    // Offset of the data chunk's size field; the first sample byte is 4 bytes further on.
    qint64 DataPos = 0;
    // Sample bytes, clipped to what the file really holds (a long call exceeds 2 GiB).
    quint32 DataSize = 0;

    qint64 dataStart() const { return DataPos + 4; }
    bool isEmpty() const { return SampleRate == 0 && Channels == 0 && DataPos == 0; }
};

// Reads the header of `path` without changing the file. A name that is not a valid file name
// shows "The file is not found." and gives the all-zero record; a file that is missing, not
// RIFF/WAVE, lacks "fmt " or "data", or is not 16-bit PCM is refused with an AppError that
// names the file and the reason.
WaveInfo ReadWaveInfo(const QString& path, Prompts& prompts);
