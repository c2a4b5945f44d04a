#include "CallLifetime.h"

#include <algorithm>

CallLifetime::CallLifetime(qint64 nowMs)
    : m_lastCapture(nowMs), m_lastPlaying(nowMs), m_lastSound(nowMs) {}

void CallLifetime::hold(const Streams& streams, qint64 nowMs) {
    // Each "last" moment runs up to the change: what was held until now counts until now.
    if (m_streams.captures > 0) m_lastCapture = nowMs;
    if (m_streams.playing > 0) m_lastPlaying = nowMs;
    m_streams = streams;
}

void CallLifetime::heard(qint64 nowMs) {
    m_lastSound = std::max(m_lastSound, nowMs);
}

qint64 CallLifetime::endMs() const {
    return std::max(m_lastSound, m_lastCapture) + kHangUpMs;
}

bool CallLifetime::hasEnded(qint64 nowMs) const {
    if (m_streams.captures > 0) return false;
    const qint64 playing = m_streams.playing > 0 ? nowMs : m_lastPlaying;
    const qint64 sound = std::max(m_lastSound, m_lastCapture);
    return nowMs - std::max(playing, m_lastCapture) >= kHangUpMs || nowMs - sound >= kSilenceMs;
}
