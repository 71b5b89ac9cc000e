#include "common/BackgroundTasks.h"

namespace klangor {

BackgroundTasks::BackgroundTasks(Poster post) : m_post(std::move(post)), m_thread([this] { Loop(); }) {}

BackgroundTasks::~BackgroundTasks() {
    *m_pAlive = false;
    {
        std::lock_guard lock(m_mutex);
        m_bStop = true;
        m_queue.clear();
    }
    m_wake.notify_all();
    m_thread.join();
}

void BackgroundTasks::Enqueue(std::function<void()> task) {
    {
        std::lock_guard lock(m_mutex);
        m_queue.push_back(std::move(task));
    }
    m_wake.notify_one();
}

void BackgroundTasks::Drain() {
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return m_queue.empty() && !m_bRunning; });
}

void BackgroundTasks::Loop() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_bStop || !m_queue.empty(); });
        if (m_bStop) {
            break;
        }
        std::function<void()> task = std::move(m_queue.front());
        m_queue.pop_front();
        m_bRunning = true;
        lock.unlock();
        task();
        task = nullptr;
        lock.lock();
        m_bRunning = false;
        if (m_queue.empty()) {
            m_idle.notify_all();
        }
    }
    m_bRunning = false;
    m_idle.notify_all();
}

}  // namespace klangor
