#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

namespace velmora {

// What a copy's worker tells the thread that waits for it: whether the data
// has started to move, the size, and how much counts as copied. Written by
// the worker, read by the waiting thread.
class CopyTotals {
public:
    // Called by the worker once the source and the target are open; `onStart`
    // is then called on the worker, so the waiting thread can wake at once.
    void start(std::int64_t size) {
        m_size.store(size);
        m_started.store(true);
        if (onStart) {
            onStart();
        }
    }
    void setDone(std::int64_t done) { m_done.store(done); }

    bool started() const { return m_started.load(); }
    std::int64_t size() const { return m_size.load(); }
    std::int64_t done() const { return m_done.load(); }

    std::function<void()> onStart;

private:
    std::atomic<bool> m_started{false};
    std::atomic<std::int64_t> m_size{0};
    std::atomic<std::int64_t> m_done{0};
};

} // namespace velmora
