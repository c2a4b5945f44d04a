// A microphone on a clock of its own, for the audio-server tests: feeds the FIFO of a pipe
// source from a thread paced on the steady clock at `rate` × (1 + ppm / 10⁶) frames a second,
// so the source runs exactly that far off the server's clock. It hears a 1000 Hz burst of
// 0.2 s at every second second of real time, silence between.
#pragma once

#include <QString>
#include <atomic>
#include <thread>

class PacedMicrophone {
public:
    PacedMicrophone(const QString& fifo, double ppm);
    ~PacedMicrophone();
    PacedMicrophone(const PacedMicrophone&) = delete;
    PacedMicrophone& operator=(const PacedMicrophone&) = delete;

    static constexpr int kRate = 48000;

private:
    void run(const QString& fifo, double ppm);

    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};
