// When a call begins and ends, from what its application does with its streams. A call is the
// application's voice session, not its microphone stream: applications close the microphone
// while the call goes on (a mute that releases the device, another microphone picked, a device
// that sleeps) and open it again. Measured on real applications:
// - baresip closes its microphone and its playback within 0.15 s of the hang-up;
// - Chromium closes the microphone at a mute and at the hang-up and keeps playing: it corks the
//   far party's stream a second after the hang-up, and a page's Web Audio streams play silence
//   for as long as the page is open;
// - Firefox closes the microphone and makes a new playback stream at a mute, an unmute and the
//   hang-up; the one made at the hang-up plays silence while the page is open.
// So a call begins with the application's first microphone stream and goes on while it holds a
// microphone or plays sound; without a microphone it ends once the application plays nothing
// for a moment, or only silence for longer than a far party's pause. No libpulse: fed with the
// server model's facts and their times.
#pragma once

#include <QtGlobal>

class CallLifetime {
public:
    // After this long with no microphone and nothing playing (a hang-up that closes the streams).
    static constexpr qint64 kHangUpMs = 1000;
    // After this long with no microphone and nothing but silence played.
    static constexpr qint64 kSilenceMs = 20000;

    // What the application holds, at `nowMs` on a steady clock.
    struct Streams {
        int captures = 0;
        int playing = 0;  // playback streams that are not paused (corked)
    };

    // A call begins with the application's first microphone stream.
    static bool begins(const Streams& streams) { return streams.captures > 0; }

    explicit CallLifetime(qint64 nowMs);
    void hold(const Streams& streams, qint64 nowMs);
    // What the application played carried sound at this moment.
    void heard(qint64 nowMs);
    bool hasEnded(qint64 nowMs) const;
    // Where an ended call's recording ends: what its application played after the hang-up was
    // silence (a little after the last sound, which is read ahead of being heard).
    qint64 endMs() const;

private:
    Streams m_streams;
    qint64 m_lastCapture;  // the last moment a microphone stream was open
    qint64 m_lastPlaying;  // ... a playback stream played
    qint64 m_lastSound;    // ... what it played carried sound
};
