#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace klangor {

// Slow work the window's thread must not wait for (probing a file, reading tags, rendering a song,
// syncing a record) runs here, one task at a time in the order given, on a thread of its own. Each
// task's result goes back through the owner's poster, which runs it on the owner's thread; a result that
// arrives after the owner is gone is dropped. Owner's thread only, apart from the tasks themselves.
class BackgroundTasks {
public:
    // Hands a callable to the owner's thread, to run there later; it may be called from any thread.
    using Poster = std::function<void(std::function<void()>)>;

    explicit BackgroundTasks(Poster post);
    // Tasks not yet started are dropped; a running one is finished first, and its result dropped.
    ~BackgroundTasks();
    BackgroundTasks(const BackgroundTasks &) = delete;
    BackgroundTasks &operator=(const BackgroundTasks &) = delete;

    // Runs work here and then done(result) on the owner's thread.
    template <class Work, class Done>
    void Run(Work work, Done done) {
        Enqueue([this, work = std::move(work), done = std::move(done), alive = m_pAlive]() mutable {
            auto result = work();
            m_post([alive, done = std::move(done), result = std::move(result)]() mutable {
                if (*alive) {
                    done(std::move(result));
                }
            });
        });
    }

    // Waits until every task given so far has run; for the program's end and for tests.
    void Drain();

private:
    void Enqueue(std::function<void()> task);
    void Loop();

    Poster m_post;
    // Read and cleared on the owner's thread only: posted results check it before they run.
    std::shared_ptr<bool> m_pAlive = std::make_shared<bool>(true);
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<std::function<void()>> m_queue;
    bool m_bRunning = false;
    bool m_bStop = false;
    std::thread m_thread;
};

}  // namespace klangor
