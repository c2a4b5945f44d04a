// The WAV reader on arbitrary bytes: it refuses with an error or returns a header whose data
// lies inside the file.
#include <cstdint>
#include <cstdlib>

#include "AppError.h"
#include "FuzzSupport.h"
#include "modWave.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString path = scratchFile("in.wav");
    writeScratch(path, QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    SilentPrompts prompts;
    try {
        const WaveInfo info = ReadWaveInfo(path, prompts);
        if (info.BitsPerSample != 16 || info.Channels <= 0 || info.SampleRate <= 0) abort();
        if (info.dataStart() + qint64(info.DataSize) > qint64(size)) abort();
    } catch (const AppError&) {
    }
    return 0;
}
