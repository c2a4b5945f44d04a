#include "PacedMicrophone.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <QFile>
#include <cmath>
#include <vector>

PacedMicrophone::PacedMicrophone(const QString& fifo, double ppm)
    : m_thread([this, fifo, ppm] { run(fifo, ppm); }) {}

PacedMicrophone::~PacedMicrophone() {
    m_stop = true;
    m_thread.join();
}

void PacedMicrophone::run(const QString& fifo, double ppm) {
    const int fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY);
    if (fd < 0) return;
    const double speed = 1 + ppm * 1e-6;
    timespec due{};
    ::clock_gettime(CLOCK_MONOTONIC, &due);
    std::vector<qint16> block;
    for (qint64 step = 1, written = 0; !m_stop; ++step) {
        block.clear();
        for (const auto end = qint64(double(step * kRate / 100) * speed); written < end;
             ++written) {
            const double seconds = double(written) / kRate / speed;  // of real time
            const bool on = std::fmod(seconds, 2.0) < 0.2;
            block.push_back(on ? qint16(8000 * std::sin(2 * M_PI * 1000 * seconds)) : 0);
        }
        if (::write(fd, block.data(), block.size() * 2) < 0) break;
        due.tv_nsec += 10'000'000;
        if (due.tv_nsec >= 1'000'000'000) due.tv_sec += 1, due.tv_nsec -= 1'000'000'000;
        ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr);
    }
    ::close(fd);
}
