#include "EndSignals.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QWidget>
#include <cerrno>
#include <csignal>

namespace {

int s_pipe[2] = {-1, -1};
constexpr int kSignals[] = {SIGTERM, SIGHUP, SIGINT};

void wake(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(s_pipe[0], &byte, 1);
    errno = saved;
}

void handle(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : kSignals) ::sigaction(signal, &action, nullptr);
}

}  // namespace

EndSignals::EndSignals(QWidget& window) {
    // Without the pair the signals keep their default: the program ends at once.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, s_pipe) != 0) return;
    m_notifier = new QSocketNotifier(s_pipe[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, &window, [this, &window] {
        char bytes[16];
        while (::read(s_pipe[1], bytes, sizeof bytes) > 0) {
        }
        window.close();
    });
    handle(wake);
}

EndSignals::~EndSignals() {
    if (!m_notifier) return;
    handle(SIG_DFL);
    ::close(s_pipe[0]);
    ::close(s_pipe[1]);
}
