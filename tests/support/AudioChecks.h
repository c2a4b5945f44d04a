// What the road tests ask of a recording: how much of a tone it holds, and the samples of an
// MP3 file decoded by LAME.
#pragma once

#include <QString>
#include <vector>

// The power of one frequency in the samples (Goertzel), as a share of the signal's power.
double ToneShare(const std::vector<qint16>& samples, double hertz, int rate);

// Decodes the MP3 to a WAV file beside `wav` and returns its samples; empty when it fails.
std::vector<qint16> DecodeMp3(const QString& mp3, const QString& wav, int* rate,
                              int* channels = nullptr);
