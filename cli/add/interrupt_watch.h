#pragma once

#include <csignal>

namespace velmora {

// SIGINT, SIGTERM, SIGHUP (the terminal closed), SIGQUIT and every other
// signal of endingSignals(), kept from ending the process while it adds, so
// that a copy removes its own temporary file: they are blocked (for this thread and every thread it
// starts later, so create this before any) and read through a signalfd when asked, so that a run
// can cancel its copy, report and exit with a status of its own. A signal that the parent process
// set to be ignored stays ignored, as it would without this watch.
class InterruptWatch {
public:
    InterruptWatch();
    // Drops what was received and unblocks the signals.
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

    // Never waits. The first ending signal received so far, or 0.
    int poll();
    // Never waits. Whether the terminal changed its size (SIGWINCH) since the
    // last call.
    bool resized();

private:
    void readPending();

    sigset_t m_watched{};
    sigset_t m_previousMask{};
    int m_fd = -1;
    int m_received = 0;
    bool m_resized = false;
};

} // namespace velmora
