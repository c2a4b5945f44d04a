// A microphone on a clock of its own, for the audio-server tests: feeds the FIFO of a pipe
// source from a thread paced on the steady clock at `rate` × (1 + ppm / 10⁶) frames a second,
// so the source runs exactly that far off the server's clock. It hears a 1000 Hz burst of
// 0.2 s at every second second of real time, silence between; or, given the FIFO of a pipe
// sink (`output`), it plays that sink at the same pace and hears what it plays, as a
// microphone beside a loudspeaker does.
#pragma once

#include <QString>
#include <atomic>
#include <thread>

class PacedMicrophone {
public:
    PacedMicrophone(const QString& fifo, double ppm, const QString& output = {});
    ~PacedMicrophone();
    PacedMicrophone(const PacedMicrophone&) = delete;
    PacedMicrophone& operator=(const PacedMicrophone&) = delete;

    static constexpr int kRate = 48000;
    // What a pipe sink holds in its FIFO before its device plays it (mono, 16 bits).
    static constexpr int kOutputBytes = 32768;

private:
    void run(const QString& fifo, double ppm, const QString& output);

    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};
