#include "WavBytes.h"

#include <QFile>
#include <QtEndian>
#include <stdexcept>

QByteArray le16(int value) {
    QByteArray b(2, '\0');
    qToLittleEndian<quint16>(static_cast<quint16>(value), b.data());
    return b;
}

QByteArray le32(quint32 value) {
    QByteArray b(4, '\0');
    qToLittleEndian<quint32>(value, b.data());
    return b;
}

QByteArray chunkBytes(const Chunk& chunk) {
    QByteArray bytes = chunk.id + le32(static_cast<quint32>(chunk.body.size())) + chunk.body;
    if (chunk.body.size() % 2) bytes += '\0';
    return bytes;
}

QByteArray fmtBody(int tag, int channels, int rate, int bits) {
    const int align = channels * bits / 8;
    return le16(tag) + le16(channels) + le32(rate) + le32(rate * align) + le16(align) + le16(bits);
}

QByteArray sampleBytes(const std::vector<qint16>& samples) {
    QByteArray bytes;
    for (qint16 s : samples) bytes += le16(s);
    return bytes;
}

QByteArray riffWave(const QList<Chunk>& chunks) {
    QByteArray body = "WAVE";
    for (const Chunk& c : chunks) body += chunkBytes(c);
    return "RIFF" + le32(static_cast<quint32>(body.size())) + body;
}

QByteArray pcmWav(const std::vector<qint16>& samples, int channels, int rate,
                  const QList<Chunk>& before, const QList<Chunk>& after) {
    QList<Chunk> chunks{{"fmt ", fmtBody(1, channels, rate, 16)}};
    chunks += before;
    chunks += Chunk{"data", sampleBytes(samples)};
    chunks += after;
    return riffWave(chunks);
}

void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write test file " + path.toStdString());
}

QByteArray readBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

std::vector<qint16> samplesOf(const QByteArray& bytes, qsizetype from, qsizetype byteCount) {
    std::vector<qint16> samples;
    for (qsizetype i = from; i + 1 < from + byteCount && i + 1 < bytes.size(); i += 2)
        samples.push_back(qFromLittleEndian<qint16>(bytes.constData() + i));
    return samples;
}

std::optional<QByteArray> countedData(const QByteArray& file) {
    if (file.size() < 44) return std::nullopt;
    const qint64 riff = qFromLittleEndian<quint32>(file.constData() + 4);
    const qint64 data = qFromLittleEndian<quint32>(file.constData() + 40);
    if (data != file.size() - 44 || riff != data + 36) return std::nullopt;
    return file.mid(44);
}
