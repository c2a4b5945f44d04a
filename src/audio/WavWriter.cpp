#include "WavWriter.h"

#include <unistd.h>

#include <QtEndian>
#include <algorithm>
#include <array>
#include <cstring>

#include "AppError.h"

namespace {

constexpr qint64 kHeaderBytes = 44;
// Held back between syncs: a call's side arrives in many small pieces.
constexpr qsizetype kPendingBytes = 64 * 1024;
// A trip to the disk at every this many syncs: a call's come four times a second.
constexpr int kSyncsPerTrip = 6;

}  // namespace

WavWriter::WavWriter(int channels, int sampleRate, qint64 maxDataBytes)
    : m_channels(channels),
      m_sampleRate(sampleRate),
      m_maxDataBytes(maxDataBytes - maxDataBytes % (channels * 2)) {}

void WavWriter::open(const QString& path) {
    m_file.setFileName(path);
    m_dataBytes = 0;
    m_durableBytes = 0;
    m_syncs = 0;
    m_pending.clear();
    m_stop = Stop::None;
    m_failure.clear();
    // Unbuffered, so a failing write is seen at once and the count of bytes on disk is exact.
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered) ||
        !writeHeader()) {
        const QString reason = m_file.errorString();
        m_file.close();
        throw AppError(QString("%1 cannot be written: %2").arg(path, reason));
    }
}

void WavWriter::append(const char* bytes, qint64 count) {
    if (!isOpen() || m_stop != Stop::None || count <= 0) return;
    const qint64 room = m_maxDataBytes - m_dataBytes - m_pending.size();
    m_pending.append(bytes, std::min(count, room));
    if (count >= room) m_stop = Stop::Full;
    if (m_pending.size() >= kPendingBytes) writePending();
}

void WavWriter::writePending() {
    qsizetype done = 0;
    while (done < m_pending.size()) {
        // A short write is followed by one that fails and says why.
        const qint64 n = m_file.write(m_pending.constData() + done, m_pending.size() - done);
        if (n <= 0) break;
        done += n;
        m_dataBytes += n;
    }
    const bool failed = done < m_pending.size();
    m_pending.clear();
    if (failed) fail();
}

// Where the disk cannot take it (an error of the device), the header still counts it: it is in
// the file for as long as the system runs.
void WavWriter::toDisk() {
    m_syncs = 0;
    ::fdatasync(m_file.handle());
    m_durableBytes = m_dataBytes;
}

// The file ends at its last whole frame, with a header that counts it.
void WavWriter::fail() {
    m_stop = Stop::Failed;
    m_failure = m_file.errorString();
    const qint64 whole = m_dataBytes - m_dataBytes % (m_channels * 2);
    if (whole != m_dataBytes && m_file.resize(kHeaderBytes + whole)) m_dataBytes = whole;
    toDisk();
    writeHeader();
}

void WavWriter::appendSilence(qint64 count) {
    static const std::array<char, 4096> zeros{};
    while (count > 0 && m_stop == Stop::None) {
        const qint64 n = std::min<qint64>(count, zeros.size());
        append(zeros.data(), n);
        count -= n;
    }
}

void WavWriter::sync() {
    if (!isOpen()) return;
    writePending();
    if (++m_syncs < kSyncsPerTrip || m_dataBytes == m_durableBytes) return;
    toDisk();
    writeHeader();
}

void WavWriter::cut(qint64 dataBytes) {
    writePending();
    if (!isOpen() || dataBytes >= m_dataBytes || !m_file.resize(kHeaderBytes + dataBytes)) return;
    m_dataBytes = dataBytes;
    m_durableBytes = std::min(m_durableBytes, dataBytes);
    writeHeader();
}

void WavWriter::finish() {
    if (!isOpen()) return;
    writePending();
    toDisk();
    writeHeader();
    m_file.close();
}

void WavWriter::countWholeFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly)) return;
    const QByteArray h = file.read(kHeaderBytes);
    const qint64 size = file.size();
    if (h.size() < kHeaderBytes || !h.startsWith("RIFF") || h.mid(8, 8) != "WAVEfmt " ||
        qFromLittleEndian<quint32>(h.constData() + 16) != 16 ||
        qFromLittleEndian<quint16>(h.constData() + 20) != 1 || h.mid(36, 4) != "data")
        return;
    const int align = qFromLittleEndian<quint16>(h.constData() + 32);
    const qint64 counted = qFromLittleEndian<quint32>(h.constData() + 40);
    if (align <= 0 || size - kHeaderBytes <= counted) return;
    const qint64 whole = std::min(kMaxDataBytes, size - kHeaderBytes);
    const quint32 data = quint32(whole - whole % align);
    char sizes[4];
    qToLittleEndian<quint32>(36 + data, sizes);
    file.seek(4);
    file.write(sizes, 4);
    qToLittleEndian<quint32>(data, sizes);
    file.seek(40);
    file.write(sizes, 4);
}

bool WavWriter::writeHeader() {
    const auto data = quint32(m_durableBytes);
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
    const qint64 end = kHeaderBytes + m_dataBytes;
    const bool written = m_file.seek(0) && m_file.write(h, kHeaderBytes) == kHeaderBytes;
    m_file.seek(end);
    return written;
}
