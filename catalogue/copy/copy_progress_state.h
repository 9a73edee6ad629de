#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

namespace velmora {

// What a copy's worker tells the thread that waits for it: whether the data
// has started to move, the size, how much counts as copied, and the two
// descriptors. Written by the worker, read by the waiting thread.
class CopyProgressState {
public:
    // Called by the worker once the source and the target are open; `onStart`
    // is then called on the worker, so the waiting thread can wake at once.
    void start(std::int64_t size, int source, int target) {
        m_size.store(size);
        m_source.store(source);
        m_target.store(target);
        m_started.store(true);
        if (onStart) {
            onStart();
        }
    }
    void setDone(std::int64_t done) { m_done.store(done); }

    bool started() const { return m_started.load(); }
    std::int64_t size() const { return m_size.load(); }
    std::int64_t done() const { return m_done.load(); }
    int source() const { return m_source.load(); }
    int target() const { return m_target.load(); }

    std::function<void()> onStart;

private:
    std::atomic<bool> m_started{false};
    std::atomic<std::int64_t> m_size{0};
    std::atomic<std::int64_t> m_done{0};
    std::atomic<int> m_source{-1};
    std::atomic<int> m_target{-1};
};

} // namespace velmora
