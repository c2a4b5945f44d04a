#include "RateFollower.h"

#include <speex/speex_resampler.h>

#include <algorithm>
#include <cmath>

namespace {

// A proportional-integral steer, critically damped at about 20 s: a stream 1000 ppm off its
// clock stays within 10 ms of its place, one 100 ppm off within 1 ms.
constexpr double kProportional = 0.1;  // per second of error, per second
constexpr double kIntegral = 0.1 / 30;
// Far beyond a crystal's error.
constexpr double kMaxCorrection = 0.002;
// A record's own error stays well inside this once a median of seconds is taken (a tenth of
// what the records may be off, when that is more: PipeWire's large quanta).
constexpr double kEngageSeconds = 0.003;
constexpr double kEngageShare = 0.1;
constexpr size_t kRecent = 5;
// A 32-tap filter: a passband far beyond speech, a fraction of a millisecond of delay, and
// under half a percent of a core for two streams (VoIP quality, 3, costs more).
constexpr int kQuality = 2;
constexpr size_t kHistory = 128;  // more than the filter at this quality

}  // namespace

RateFollower::RateFollower(int rate) : m_rate(rate), m_resampler(nullptr, nullptr) {}
RateFollower::~RateFollower() = default;
RateFollower::RateFollower(RateFollower&&) noexcept = default;
RateFollower& RateFollower::operator=(RateFollower&&) noexcept = default;

qint64 RateFollower::convert(const qint16* samples, qint64 frames, std::vector<qint16>& out) {
    if (!m_resampler) {
        out.insert(out.end(), samples, samples + frames);
        const qint64 kept = std::min(frames, qint64(kHistory));
        m_history.insert(m_history.end(), samples + frames - kept, samples + frames);
        if (m_history.size() > kHistory)
            m_history.erase(m_history.begin(), m_history.end() - kHistory);
        return frames;
    }
    const size_t start = out.size();
    size_t end = start;
    // It takes what fits in the room given; the rest goes in the next round.
    for (qint64 done = 0; done < frames;) {
        out.resize(end + size_t(double(frames - done) * (1 + kMaxCorrection)) + 64);
        auto taken = spx_uint32_t(frames - done), made = spx_uint32_t(out.size() - end);
        speex_resampler_process_int(m_resampler.get(), 0, samples + done, &taken, out.data() + end,
                                    &made);
        done += taken;
        end += made;
    }
    const auto owed = size_t(std::min<qint64>(m_discard, qint64(end - start)));
    out.erase(out.begin() + qsizetype(start), out.begin() + qsizetype(start + owed));
    m_discard -= qint64(owed);
    out.resize(end - owed);
    return qint64(end - start - owed);
}

// A median: a record's own error is no clock. Time a stream loses, too little for the mix to
// fill with silence, is made up the same way: the sides stay in time.
void RateFollower::measure(qint64 place, qint64 noise) {
    m_recent.push_back(place);
    if (m_recent.size() > kRecent) m_recent.pop_front();
    if (m_recent.size() < kRecent) return;
    std::vector<qint64> sorted(m_recent.begin(), m_recent.end());
    std::nth_element(sorted.begin(), sorted.begin() + kRecent / 2, sorted.end());
    const qint64 median = sorted[kRecent / 2];
    if (!m_place) m_place = median;
    steer(median - *m_place, noise);
}

// The resampler is fed the frames already passed on and gives back nothing for them: its first
// new frame follows the last untouched one.
void RateFollower::engage() {
    int error = 0;
    m_resampler = {
        speex_resampler_init(1, spx_uint32_t(m_rate), spx_uint32_t(m_rate), kQuality, &error),
        speex_resampler_destroy};
    if (!m_resampler) return;
    std::vector<qint16> ignored(m_history.size() + 16);
    spx_uint32_t taken = spx_uint32_t(m_history.size()), made = spx_uint32_t(ignored.size());
    speex_resampler_process_int(m_resampler.get(), 0, m_history.data(), &taken, ignored.data(),
                                &made);
    m_discard = qint64(m_history.size()) + speex_resampler_get_input_latency(m_resampler.get()) -
                qint64(made);
    m_history.clear();
}

void RateFollower::steer(qint64 frames, qint64 noise) {
    const double errorSeconds = double(frames) / m_rate;
    if (!m_resampler) {
        const double threshold = std::max(kEngageSeconds, kEngageShare * double(noise) / m_rate);
        if (std::abs(errorSeconds) < threshold) return;
        engage();
        if (!m_resampler) return;
    }
    m_integral += errorSeconds;
    m_correction = std::clamp(-(kProportional * errorSeconds + kIntegral * m_integral),
                              -kMaxCorrection, kMaxCorrection);
    // Input frames to output frames: a stream ahead of the clock gives fewer. In steps of one
    // frame a second (21 ppm at 48 kHz): libspeexdsp 1.2.1 crashes on ratios of larger terms.
    const auto rate = spx_uint32_t(m_rate);
    const auto out = spx_uint32_t(std::lround(m_rate * (1 + m_correction)));
    speex_resampler_set_rate_frac(m_resampler.get(), rate, out, rate, rate);
}
