#include "catalogue/ending_signals.h"

#include <csignal>

namespace velmora {

std::vector<int> endingSignals() {
    std::vector<int> signals = {SIGHUP,    SIGINT,  SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2,  SIGALRM,
                                SIGVTALRM, SIGPROF, SIGIO,   SIGPWR,  SIGXCPU, SIGSTKFLT};
    // SIGRTMIN is a call: the C library keeps the first few for itself.
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) {
        signals.push_back(signal);
    }
    return signals;
}

} // namespace velmora
