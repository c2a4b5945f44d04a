#include "modWave.h"

#include <QFile>
#include <QtEndian>
#include <algorithm>
#include <array>
#include <optional>

#include "AppError.h"
#include "Main.h"
#include "Prompts.h"

namespace {

constexpr quint16 kFormatPcm = 1;
constexpr quint16 kFormatExtensible = 0xFFFE;
// KSDATAFORMAT_SUBTYPE_PCM after its leading format tag.
constexpr std::array<uchar, 14> kPcmGuidTail = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

struct FormatChunk {
    quint16 tag = 0;
    quint16 channels = 0;
    quint32 rate = 0;
    quint16 bits = 0;
    bool pcm = false;
};

[[noreturn]] void refuse(const QString& path, const QString& reason) {
    throw AppError(QString("%1 cannot be used: %2.").arg(path, reason));
}

template <typename T>
T readLittle(const QByteArray& bytes, int offset) {
    return qFromLittleEndian<T>(bytes.constData() + offset);
}

FormatChunk parseFormat(const QString& path, const QByteArray& body) {
    if (body.size() < 16) refuse(path, "its format chunk is cut short");
    FormatChunk f;
    f.tag = readLittle<quint16>(body, 0);
    f.channels = readLittle<quint16>(body, 2);
    f.rate = readLittle<quint32>(body, 4);
    f.bits = readLittle<quint16>(body, 14);
    f.pcm = f.tag == kFormatPcm;
    if (f.tag == kFormatExtensible && body.size() >= 40) {
        const auto* guid = reinterpret_cast<const uchar*>(body.constData()) + 24;
        f.pcm = readLittle<quint16>(body, 24) == kFormatPcm &&
                std::equal(kPcmGuidTail.begin(), kPcmGuidTail.end(), guid + 2);
    }
    return f;
}

bool isValidFileName(const QString& path) {
    return !path.isEmpty() && !path.contains(QChar(0));
}

}  // namespace

WaveInfo ReadWaveInfo(const QString& path, Prompts& prompts) {
    if (!isValidFileName(path)) {
        prompts.showMessage({"The file is not found.", Main::ApplicationTitle(), MessageIcon::None,
                             MessageButtons::Ok});
        return {};
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) refuse(path, file.errorString());
    const qint64 fileSize = file.size();
    const QByteArray riff = file.read(12);
    if (riff.size() < 12 || !riff.startsWith("RIFF") || riff.mid(8, 4) != "WAVE")
        refuse(path, "it is not a WAV file (no RIFF/WAVE header)");

    std::optional<FormatChunk> format;
    WaveInfo info;
    bool haveData = false;
    // The RIFF size is not trusted (a writer that was killed leaves it stale): walk the file.
    for (qint64 offset = 12; offset + 8 <= fileSize && !(format && haveData);) {
        file.seek(offset);
        const QByteArray head = file.read(8);
        if (head.size() < 8) break;
        const quint32 size = readLittle<quint32>(head, 4);
        if (head.startsWith("fmt ") && !format) {
            format = parseFormat(path, file.read(qMin<qint64>(size, 64)));
        } else if (head.startsWith("data") && !haveData) {
            haveData = true;
            info.DataPos = offset + 4;
            info.DataSize = static_cast<quint32>(qMin<qint64>(size, fileSize - (offset + 8)));
        }
        offset += 8 + qint64(size) + (size & 1);
    }
    if (!format) refuse(path, "it has no format chunk (\"fmt \")");
    if (!haveData) refuse(path, "it has no data chunk (\"data\")");
    if (!format->pcm || format->bits != 16)
        refuse(path, QString("it is not 16-bit PCM (format tag %1, %2 bits per sample)")
                         .arg(format->tag)
                         .arg(format->bits));
    if (format->channels == 0 || format->channels > INT16_MAX || format->rate == 0 ||
        format->rate > INT32_MAX)
        refuse(path, "its format chunk names no channels or no sample rate");
    info.SampleRate = static_cast<qint32>(format->rate);
    info.BitsPerSample = 16;
    info.Channels = static_cast<qint16>(format->channels);
    return info;
}
