// Builds WAV files byte by byte for tests: canonical headers, extra chunks, odd layouts.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>
#include <vector>

struct Chunk {
    QByteArray id;
    QByteArray body;
};

QByteArray le16(int value);
QByteArray le32(quint32 value);
QByteArray chunkBytes(const Chunk& chunk);  // with the pad byte of an odd size
QByteArray fmtBody(int tag, int channels, int rate, int bits);
QByteArray sampleBytes(const std::vector<qint16>& samples);

// RIFF/WAVE with the chunks in the order given.
QByteArray riffWave(const QList<Chunk>& chunks);
// A canonical 44-byte-header file: "fmt " then "data", plus chunks before and after the data.
QByteArray pcmWav(const std::vector<qint16>& samples, int channels = 1, int rate = 48000,
                  const QList<Chunk>& before = {}, const QList<Chunk>& after = {});

void writeBytes(const QString& path, const QByteArray& bytes);
QByteArray readBytes(const QString& path);
// The data of a canonical 44-byte-header file, when its RIFF and data sizes count exactly the
// bytes in it; nothing otherwise.
std::optional<QByteArray> countedData(const QByteArray& file);
std::vector<qint16> samplesOf(const QByteArray& bytes, qsizetype from, qsizetype byteCount);
