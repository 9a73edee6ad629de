#include "entry_form/session_end_watch.h"

#include "catalogue/copy/running_copies.h"
#include "catalogue/ending_signals.h"

#include <QSocketNotifier>
#include <array>
#include <cerrno>
#include <csignal>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace velmora {
namespace {

// The one write end that the handler may use: a handler can reach nothing
// but globals, and may only call what is async-signal-safe (write).
volatile sig_atomic_t g_writeEnd = -1;

void onSignal(int signal) {
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(signal);
    // A full socket already holds a signal, which is all that matters.
    [[maybe_unused]] const ssize_t written = ::write(g_writeEnd, &byte, 1);
    errno = saved;
}

// Indexed by signal number.
struct PreviousActions {
    std::array<struct sigaction, NSIG> actions{};
    std::array<bool, NSIG> replaced{};
};

PreviousActions& previousActions() {
    static PreviousActions previous;
    return previous;
}

} // namespace

SessionEndWatch::SessionEndWatch(QObject* parent) : QObject(parent) {
    if (g_writeEnd != -1) {
        throw std::logic_error("one SessionEndWatch per process");
    }
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends) != 0) {
        // Without it the signals keep their default action: the program
        // ends at once, and a replaced file is still never half-written.
        return;
    }
    m_readEnd = ends[0];
    g_writeEnd = ends[1];
    m_notifier = new QSocketNotifier(m_readEnd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SessionEndWatch::readSignals);

    PreviousActions& previous = previousActions();
    for (const int signal : endingSignals()) {
        struct sigaction current {};
        if (::sigaction(signal, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) {
            continue;
        }
        struct sigaction action {};
        action.sa_handler = &onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        const auto at = static_cast<std::size_t>(signal);
        previous.replaced[at] = ::sigaction(signal, &action, &previous.actions[at]) == 0;
    }
    // Ignored, a write past the file size limit fails with EFBIG, which the
    // copy reports and cleans up after, instead of ending the program.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    previous.replaced[SIGXFSZ] = ::sigaction(SIGXFSZ, &ignore, &previous.actions[SIGXFSZ]) == 0;
    stopRunningCopiesAtExit();
}

SessionEndWatch::~SessionEndWatch() {
    if (m_readEnd < 0) {
        return;
    }
    PreviousActions& previous = previousActions();
    for (std::size_t signal = 0; signal < previous.replaced.size(); ++signal) {
        if (previous.replaced[signal]) {
            ::sigaction(static_cast<int>(signal), &previous.actions[signal], nullptr);
            previous.replaced[signal] = false;
        }
    }
    ::close(g_writeEnd);
    g_writeEnd = -1;
    ::close(m_readEnd);
}

void SessionEndWatch::readSignals() {
    unsigned char byte = 0;
    while (::read(m_readEnd, &byte, 1) == 1) {
        if (m_received == 0) {
            m_received = byte;
            emit ended(byte);
        }
    }
}

} // namespace velmora
