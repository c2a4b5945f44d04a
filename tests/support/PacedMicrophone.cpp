#include "PacedMicrophone.h"

#include <errno.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <QFile>
#include <cmath>
#include <vector>

namespace {

// The sink keeps its FIFO full, so what it holds is how long its device takes to play it.
int openOutput(const QString& output) {
    const int fd = ::open(QFile::encodeName(output).constData(), O_RDONLY | O_NONBLOCK);
    char drain[4096];
    if (fd >= 0)
        while (::fcntl(fd, F_SETPIPE_SZ, PacedMicrophone::kOutputBytes) < 0)  // while too full
            if (errno != EBUSY || (::read(fd, drain, sizeof drain) < 0 && errno != EAGAIN))
                return ::close(fd), -1;
    return fd;
}

void hearBursts(std::vector<qint16>& block, qint64& written, qint64 end, double speed) {
    for (; written < end; ++written) {
        const double seconds = double(written) / PacedMicrophone::kRate / speed;  // real time
        const bool on = std::fmod(seconds, 2.0) < 0.2;
        block.push_back(on ? qint16(8000 * std::sin(2 * M_PI * 1000 * seconds)) : 0);
    }
}

void hearOutput(int output, std::vector<qint16>& block, qint64& written, qint64 end) {
    block.assign(size_t(end - written), 0);
    if (::read(output, block.data(), block.size() * 2) < 0 && errno != EAGAIN) block.clear();
    written = end;
}

}  // namespace

PacedMicrophone::PacedMicrophone(const QString& fifo, double ppm, const QString& output)
    : m_thread([this, fifo, ppm, output] { run(fifo, ppm, output); }) {}

PacedMicrophone::~PacedMicrophone() {
    m_stop = true;
    m_thread.join();
}

void PacedMicrophone::run(const QString& fifo, double ppm, const QString& output) {
    const int heard = output.isEmpty() ? -1 : openOutput(output);
    const int fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY);
    if (fd < 0 || (heard < 0 && !output.isEmpty())) return;
    // A device that nobody reads (its source suspended) loses its sound, and never blocks.
    ::fcntl(fd, F_SETFL, O_NONBLOCK);
    const double speed = 1 + ppm * 1e-6;
    timespec due{};
    ::clock_gettime(CLOCK_MONOTONIC, &due);
    std::vector<qint16> block;
    for (qint64 step = 1, written = 0; !m_stop; ++step) {
        block.clear();
        const auto end = qint64(double(step * kRate / 100) * speed);
        if (heard >= 0)
            hearOutput(heard, block, written, end);
        else
            hearBursts(block, written, end, speed);
        if (::write(fd, block.data(), block.size() * 2) < 0 && errno != EAGAIN) break;
        due.tv_nsec += 10'000'000;
        if (due.tv_nsec >= 1'000'000'000) due.tv_sec += 1, due.tv_nsec -= 1'000'000'000;
        ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr);
    }
    if (heard >= 0) ::close(heard);
    ::close(fd);
}
