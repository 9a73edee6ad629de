#pragma once

#include <vector>

namespace velmora {

// The signals whose default action ends a process and that a program may
// catch, less those that report its own faults (SIGSEGV, SIGBUS, SIGFPE,
// SIGILL, SIGABRT, SIGSYS, SIGTRAP), SIGPIPE (a front end that writes to a
// pipe ignores it) and SIGXFSZ (ignored, a copy past the file size limit
// fails with EFBIG instead): SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGUSR1,
// SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGIO, SIGPWR, SIGXCPU, SIGSTKFLT and
// the real-time signals. Each ends a front end as SIGTERM does: the copy
// under way is cancelled and its temporary file removed.
std::vector<int> endingSignals();

} // namespace velmora
