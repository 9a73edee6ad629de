#include "cli/add/interrupt_watch.h"

#include "catalogue/ending_signals.h"

#include <initializer_list>
#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>
#include <utility>

namespace velmora {

InterruptWatch::InterruptWatch() {
    sigemptyset(&m_watched);
    for (const int signal : endingSignals()) {
        struct sigaction current {};
        if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler != SIG_IGN) {
            sigaddset(&m_watched, signal);
        }
    }
    // Ignored by default, so only seen while blocked; a terminal that
    // changes its size sends it.
    sigaddset(&m_watched, SIGWINCH);
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

void InterruptWatch::readPending() {
    while (m_fd >= 0) {
        signalfd_siginfo info{};
        if (::read(m_fd, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) {
            break;
        }
        const auto signal = static_cast<int>(info.ssi_signo);
        if (signal == SIGWINCH) {
            m_resized = true;
        } else if (m_received == 0) {
            m_received = signal;
        }
    }
}

int InterruptWatch::poll() {
    readPending();
    return m_received;
}

bool InterruptWatch::resized() {
    readPending();
    return std::exchange(m_resized, false);
}

} // namespace velmora
