#include "catalogue/copy/running_copies.h"

#include "catalogue/copy/background_task.h"
#include "catalogue/copy/file_system.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace velmora {
namespace {

// Process-wide by nature: an exit() called deep inside a copy's caller
// reaches nothing else. Made before the exit handler is registered, so they
// are destroyed only after it has run.
struct Registry {
    std::mutex mutex;
    std::vector<BackgroundTask*> workers;
};

Registry& registry() {
    static Registry instance;
    return instance;
}

constexpr std::chrono::seconds kPatienceAtExit{10};

} // namespace

RunningCopy::RunningCopy(BackgroundTask& worker) : m_worker(worker) {
    Registry& r = registry();
    const std::lock_guard lock(r.mutex);
    r.workers.push_back(&m_worker);
}

RunningCopy::~RunningCopy() {
    Registry& r = registry();
    const std::lock_guard lock(r.mutex);
    r.workers.erase(std::remove(r.workers.begin(), r.workers.end(), &m_worker), r.workers.end());
}

void stopRunningCopies(std::chrono::milliseconds patience) {
    Registry& r = registry();
    const std::lock_guard lock(r.mutex);
    for (BackgroundTask* worker : r.workers) {
        worker->requestStop();
    }
    const auto deadline = std::chrono::steady_clock::now() + patience;
    for (BackgroundTask* worker : r.workers) {
        while (!worker->waitFor() && std::chrono::steady_clock::now() < deadline) {
        }
    }
}

void stopRunningCopiesAtExit() {
    static std::once_flag once;
    std::call_once(once, [] {
        // What the stopping copies use is made before the handler is
        // registered, so it is destroyed only after the handler has run: the
        // registry, and the real file system through which each worker
        // removes its own temporary file.
        registry();
        FileSystem::real();
        std::atexit([] { stopRunningCopies(kPatienceAtExit); });
    });
}

} // namespace velmora
