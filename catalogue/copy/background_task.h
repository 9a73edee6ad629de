#pragma once

#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>
#include <type_traits>
#include <utility>

namespace velmora {

// One piece of work on a thread of its own, so that the thread that started it
// (the window's) never waits on the disk: it waits in short slices and keeps
// its window alive between them.
class BackgroundTask {
public:
    using Work = std::function<void(std::stop_token)>;

    // How long one slice of waiting lasts: the window's events run at least
    // this often while the work goes on.
    static constexpr std::chrono::milliseconds kSlice{25};

    BackgroundTask() = default;
    // Starts the work, once.
    void start(Work work);
    // Asks the work to stop and waits for it.
    ~BackgroundTask();
    BackgroundTask(const BackgroundTask&) = delete;
    BackgroundTask& operator=(const BackgroundTask&) = delete;

    // Waits until the work has ended, it calls wake(), or `slice` has passed.
    // True once the work has ended.
    bool waitFor(std::chrono::milliseconds slice = kSlice);
    // Ends a waitFor() early; called by the work when it has news.
    void wake();
    void requestStop() { m_thread.request_stop(); }
    // Waits for the end, calling `whileWaiting` after every slice.
    void finish(const std::function<void()>& whileWaiting);
    // Once the work has ended: rethrows what it threw, if anything.
    void rethrowFailure();

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_ended = false;
    bool m_woken = false;
    std::exception_ptr m_failure;
    // Last, so that the thread starts after, and is joined before, the rest.
    std::jthread m_thread;
};

// Runs `work` on a thread of its own and returns its result, or rethrows what
// it threw; the calling thread calls `whileWaiting` after every slice.
template <typename Work>
std::invoke_result_t<Work> runInBackground(Work&& work, const std::function<void()>& whileWaiting) {
    using Result = std::invoke_result_t<Work>;
    if constexpr (std::is_void_v<Result>) {
        BackgroundTask task;
        task.start([&](std::stop_token) { work(); });
        task.finish(whileWaiting);
        task.rethrowFailure();
    } else {
        std::optional<Result> result;
        BackgroundTask task;
        task.start([&](std::stop_token) { result.emplace(work()); });
        task.finish(whileWaiting);
        task.rethrowFailure();
        return std::move(*result);
    }
}

} // namespace velmora
