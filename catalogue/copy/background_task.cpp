#include "catalogue/copy/background_task.h"

namespace velmora {

void BackgroundTask::start(Work work) {
    m_thread = std::jthread([this, work = std::move(work)](std::stop_token stop) {
        std::exception_ptr failure;
        try {
            work(stop);
        } catch (...) {
            failure = std::current_exception();
        }
        const std::lock_guard lock(m_mutex);
        m_failure = failure;
        m_ended = true;
        m_changed.notify_all();
    });
}

BackgroundTask::~BackgroundTask() {
    m_thread.request_stop();
    // std::jthread joins on destruction.
}

bool BackgroundTask::waitFor(std::chrono::milliseconds slice) {
    std::unique_lock lock(m_mutex);
    m_changed.wait_for(lock, slice, [this] { return m_ended || m_woken; });
    m_woken = false;
    return m_ended;
}

void BackgroundTask::wake() {
    const std::lock_guard lock(m_mutex);
    m_woken = true;
    m_changed.notify_all();
}

void BackgroundTask::finish(const std::function<void()>& whileWaiting) {
    while (!waitFor()) {
        if (whileWaiting) {
            whileWaiting();
        }
    }
}

void BackgroundTask::rethrowFailure() {
    const std::lock_guard lock(m_mutex);
    if (m_failure) {
        std::rethrow_exception(m_failure);
    }
}

} // namespace velmora
