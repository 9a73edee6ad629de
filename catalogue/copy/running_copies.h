#pragma once

#include <chrono>

namespace velmora {

class BackgroundTask;

// Marks one copy's worker as running for as long as it lives, so that
// stopRunningCopies() can reach it.
class RunningCopy {
public:
    explicit RunningCopy(BackgroundTask& worker);
    ~RunningCopy();
    RunningCopy(const RunningCopy&) = delete;
    RunningCopy& operator=(const RunningCopy&) = delete;

private:
    BackgroundTask& m_worker;
};

// Asks the worker of every running copy to stop and waits for each, at most
// `patience` in all, so that each removes its own temporary file and leaves
// the previous target in place.
void stopRunningCopies(std::chrono::milliseconds patience);

// Makes stopRunningCopies() run when the process exits. For an exit that
// unwinds no stack and so never reaches the copy under way: Qt's X11 platform
// calls exit() when the X server goes away. Once per process; later calls do
// nothing.
void stopRunningCopiesAtExit();

} // namespace velmora
