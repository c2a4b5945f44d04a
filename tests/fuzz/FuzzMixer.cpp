// The mixer on two arbitrary files (the input split in two at the offset its first two bytes
// give): it refuses with an error, or its output has exactly the longer input's size and
// equals the sample-by-sample mix.
#include <cstdint>
#include <cstdlib>

#include "AppError.h"
#include "FuzzSupport.h"
#include "ReferenceMix.h"
#include "TrackMixer.h"
#include "modWave.h"

namespace {

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const QByteArray all(reinterpret_cast<const char*>(data) + 2, qsizetype(size - 2));
    const qsizetype split = qMin<qsizetype>(data[0] | (data[1] << 8), all.size());
    const QByteArray bytes[2] = {all.left(split), all.mid(split)};
    MixInput inputs[2] = {{scratchFile("mic.wav"), {}}, {scratchFile("speaker.wav"), {}}};
    SilentPrompts prompts;
    try {
        for (int i = 0; i < 2; ++i) {
            writeScratch(inputs[i].path, bytes[i]);
            inputs[i].info = ReadWaveInfo(inputs[i].path, prompts);
        }
    } catch (const AppError&) {
        return 0;  // refused
    }
    const QString output = scratchFile("result.wav");
    TrackMixer mixer(inputs[0], inputs[1], {});
    mixer.openInputs();
    mixer.openOutput(output);
    mixer.mixData();
    mixer.finishOutput();
    const QByteArray expected = ReferenceMix(
        {bytes[0], qsizetype(inputs[0].info.dataStart()), qsizetype(inputs[0].info.DataSize)},
        {bytes[1], qsizetype(inputs[1].info.dataStart()), qsizetype(inputs[1].info.DataSize)});
    if (readAll(output) != expected) abort();
    return 0;
}
