#include "AudioChecks.h"

#include <QProcess>
#include <cmath>

#include "FakePrompts.h"
#include "WavBytes.h"
#include "modWave.h"

double ToneShare(const std::vector<qint16>& samples, double hertz, int rate) {
    const double w = 2 * M_PI * hertz / rate, coeff = 2 * std::cos(w);
    double s1 = 0, s2 = 0, total = 0;
    for (qint16 x : samples) {
        const double s = x + coeff * s1 - s2;
        s2 = s1;
        s1 = s;
        total += double(x) * x;
    }
    const double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
    return power / (total * double(samples.size()) / 2);
}

std::vector<qint16> DecodeMp3(const QString& mp3, const QString& wav, int* rate, int* channels) {
    if (QProcess::execute("lame", {"--quiet", "--decode", mp3, wav}) != 0) return {};
    FakePrompts prompts;
    const WaveInfo info = ReadWaveInfo(wav, prompts);
    *rate = info.SampleRate;
    if (channels) *channels = info.Channels;
    return samplesOf(readBytes(wav), info.dataStart(), info.DataSize);
}
