#include "WavWriter.h"

#include <QtEndian>
#include <algorithm>
#include <array>
#include <cstring>

#include "AppError.h"

namespace {

constexpr qint64 kHeaderBytes = 44;
constexpr qint64 kMaxDataBytes = 0xFFFFFFFFLL - 36;

}  // namespace

WavWriter::WavWriter(int channels, int sampleRate)
    : m_channels(channels), m_sampleRate(sampleRate) {}

void WavWriter::open(const QString& path) {
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw AppError(QString("%1 cannot be written: %2").arg(path, m_file.errorString()));
    m_dataBytes = 0;
    writeHeader();
}

void WavWriter::append(const char* bytes, qint64 count) {
    if (!isOpen() || count <= 0) return;
    m_file.write(bytes, count);
    m_dataBytes += count;
}

void WavWriter::appendSilence(qint64 count) {
    static const std::array<char, 4096> zeros{};
    while (count > 0) {
        const qint64 n = std::min<qint64>(count, zeros.size());
        append(zeros.data(), n);
        count -= n;
    }
}

void WavWriter::sync() {
    if (!isOpen()) return;
    writeHeader();
    m_file.flush();
}

void WavWriter::finish() {
    sync();
    m_file.close();
}

void WavWriter::writeHeader() {
    const auto data = static_cast<quint32>(std::min(m_dataBytes, kMaxDataBytes));
    const int align = m_channels * 2;
    char h[kHeaderBytes];
    std::memcpy(h, "RIFF", 4);
    qToLittleEndian<quint32>(36 + data, h + 4);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    qToLittleEndian<quint32>(16, h + 16);
    qToLittleEndian<quint16>(1, h + 20);
    qToLittleEndian<quint16>(quint16(m_channels), h + 22);
    qToLittleEndian<quint32>(quint32(m_sampleRate), h + 24);
    qToLittleEndian<quint32>(quint32(m_sampleRate * align), h + 28);
    qToLittleEndian<quint16>(quint16(align), h + 32);
    qToLittleEndian<quint16>(16, h + 34);
    std::memcpy(h + 36, "data", 4);
    qToLittleEndian<quint32>(data, h + 40);
    const qint64 end = m_file.pos();
    m_file.seek(0);
    m_file.write(h, kHeaderBytes);
    m_file.seek(std::max(end, kHeaderBytes));
}
