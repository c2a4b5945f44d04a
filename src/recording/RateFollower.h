// Keeps one stream of a call in time with the call's other streams, whatever the clock of its
// device: a USB or Bluetooth microphone and the speakers run 10 to 100 ppm apart, 36 to 360 ms
// an hour. Each second its owner tells it where the stream stands against the server's record of
// it; once that place moves, a resampler (libspeexdsp's, the one PulseAudio uses) holds it there,
// continuously and far below what can be heard. Until then the frames pass untouched, so a call
// on one device keeps its samples bit for bit.
#pragma once

#include <QtGlobal>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

struct SpeexResamplerState_;

class RateFollower {
public:
    explicit RateFollower(int rate);
    ~RateFollower();
    RateFollower(RateFollower&&) noexcept;
    RateFollower& operator=(RateFollower&&) noexcept;

    // Appends the frames as the timeline takes them; returns how many it appended.
    qint64 convert(const qint16* samples, qint64 frames, std::vector<qint16>& out);

    // Once a second: how many frames the stream stands ahead of where the server's record puts
    // it, and how far off its records may be. A few seconds' median of it is held where it first
    // was.
    void measure(qint64 place, qint64 noise = 0);

    bool isResampling() const { return m_resampler != nullptr; }
    double correction() const { return m_correction; }  // timeline frames per frame, less 1

private:
    void engage();
    void steer(qint64 frames, qint64 noise);

    int m_rate;
    std::unique_ptr<SpeexResamplerState_, void (*)(SpeexResamplerState_*)> m_resampler;
    std::deque<qint64> m_recent;  // the last seconds' places
    std::optional<qint64> m_place;
    double m_integral = 0;
    double m_correction = 0;
    // The last frames passed untouched: the resampler starts from them, without a seam.
    std::vector<qint16> m_history;
    qint64 m_discard = 0;  // output frames the resampler still owes the history
};
