#include "cli/add/interrupt_watch.h"

#include <initializer_list>
#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace velmora {

InterruptWatch::InterruptWatch() {
    sigemptyset(&m_watched);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction current {};
        if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler != SIG_IGN) {
            sigaddset(&m_watched, signal);
        }
    }
    pthread_sigmask(SIG_BLOCK, &m_watched, &m_previousMask);
    m_fd = signalfd(-1, &m_watched, SFD_NONBLOCK | SFD_CLOEXEC);
    if (m_fd < 0) {
        // Without a way to read them the signals keep their default action:
        // the process ends, and the copy's atomic replace still keeps the
        // previous file.
        pthread_sigmask(SIG_SETMASK, &m_previousMask, nullptr);
    }
}

InterruptWatch::~InterruptWatch() {
    if (m_fd < 0) {
        return;
    }
    // A signal still queued would end the process the moment it is unblocked,
    // after the run has reported and chosen its exit status.
    signalfd_siginfo info{};
    while (::read(m_fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
    }
    ::close(m_fd);
    pthread_sigmask(SIG_SETMASK, &m_previousMask, nullptr);
}

int InterruptWatch::poll() {
    while (m_received == 0 && m_fd >= 0) {
        signalfd_siginfo info{};
        if (::read(m_fd, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) {
            break;
        }
        m_received = static_cast<int>(info.ssi_signo);
    }
    return m_received;
}

} // namespace velmora
