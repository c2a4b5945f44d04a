#include "TrackMixer.h"

#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "AppError.h"

static_assert(std::endian::native == std::endian::little, "WAV samples are read in place");

void MixSamples(const qint16* a, const qint16* b, qint16* out, qsizetype count) {
    for (qsizetype i = 0; i < count; ++i) out[i] = static_cast<qint16>(a[i] / 2 + b[i] / 2);
}

namespace {

[[noreturn]] void fail(const QFile& file, const char* what) {
    throw AppError(QString("%1 cannot be %2: %3").arg(file.fileName(), what, file.errorString()));
}

}  // namespace

TrackMixer::TrackMixer(MixInput first, MixInput second, std::function<void(int)> progress)
    : m_inputs{std::move(first), std::move(second)}, m_progress(std::move(progress)) {
    m_index = m_inputs[0].info.DataSize >= m_inputs[1].info.DataSize ? 0 : 1;
    for (auto& buffer : m_buffers) buffer.resize(kChunkBytes / 2);
    m_mixed.resize(kChunkBytes / 2);
}

void TrackMixer::openInputs() {
    for (int i = 0; i < 2; ++i) {
        m_files[i].setFileName(m_inputs[i].path);
        if (!m_files[i].open(QIODevice::ReadOnly | QIODevice::Unbuffered))
            fail(m_files[i], "opened");
    }
}

void TrackMixer::openOutput(const QString& outputPath) {
    m_output.setFileName(outputPath);
    if (!m_output.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        fail(m_output, "written");
    copyRange(0, m_inputs[m_index].info.dataStart());
}

void TrackMixer::mixData() {
    const quint32 total = longerDataSize();
    while (m_done < total) {
        const auto bytes = static_cast<qsizetype>(std::min<quint32>(kChunkBytes, total - m_done));
        readSamples(0, m_done, bytes);
        readSamples(1, m_done, bytes);
        MixSamples(m_buffers[0].data(), m_buffers[1].data(), m_mixed.data(), (bytes + 1) / 2);
        // A lone last byte is no sample: it stays as the longer input has it.
        if (bytes % 2)
            std::memcpy(reinterpret_cast<char*>(m_mixed.data()) + bytes - 1,
                        reinterpret_cast<const char*>(m_buffers[m_index].data()) + bytes - 1, 1);
        if (m_output.write(reinterpret_cast<const char*>(m_mixed.data()), bytes) != bytes)
            fail(m_output, "written");
        m_done += static_cast<quint32>(bytes);
        reportProgress();
    }
}

void TrackMixer::finishOutput() {
    const WaveInfo& longer = m_inputs[m_index].info;
    copyRange(longer.dataStart() + longer.DataSize, m_files[m_index].size());
    // On the disk before the sides it holds are removed.
    if (!m_output.flush() || ::fsync(m_output.handle()) != 0) fail(m_output, "written");
    m_output.close();
    for (QFile& file : m_files) file.close();
}

// Whole samples inside the input's data are read; the rest of the chunk is silence.
void TrackMixer::readSamples(int input, quint32 offset, qsizetype bytes) {
    const WaveInfo& info = m_inputs[input].info;
    auto* buffer = reinterpret_cast<char*>(m_buffers[input].data());
    const qint64 available = std::max<qint64>(0, qint64(info.DataSize) - offset);
    qint64 wanted = std::min<qint64>(bytes, available);
    if (input != m_index) wanted &= ~qint64(1);
    if (wanted > 0) {
        if (!m_files[input].seek(info.dataStart() + offset)) fail(m_files[input], "read");
        if (m_files[input].read(buffer, wanted) != wanted) fail(m_files[input], "read");
    }
    std::memset(buffer + wanted, 0, static_cast<size_t>(kChunkBytes - wanted));
}

void TrackMixer::copyRange(qint64 from, qint64 to) {
    QFile& source = m_files[m_index];
    auto* buffer = reinterpret_cast<char*>(m_mixed.data());
    if (from < to && !source.seek(from)) fail(source, "read");
    for (qint64 at = from; at < to;) {
        const qint64 n = std::min<qint64>(kChunkBytes, to - at);
        if (source.read(buffer, n) != n) fail(source, "read");
        if (m_output.write(buffer, n) != n) fail(m_output, "written");
        at += n;
    }
}

void TrackMixer::reportProgress() {
    const double total = longerDataSize();
    auto report = [this](double percent) {
        const int value = static_cast<int>(std::clamp(std::nearbyint(percent), 0.0, 100.0));
        if (value == m_lastProgress) return;
        m_lastProgress = value;
        if (m_progress) m_progress(value);
    };
    for (; m_nextBlockEnd <= m_done; m_nextBlockEnd += kBlockBytes)
        report(m_nextBlockEnd * 100.0 / total);
    // The last block reaches past the data, so the bar ends full.
    if (m_done == longerDataSize()) report(100);
}
