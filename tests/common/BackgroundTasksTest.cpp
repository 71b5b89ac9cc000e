#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/BackgroundTasks.h"

namespace klangor {

namespace {

// Stands for the window's event queue: what the tasks post waits here until the test runs it.
class PostedQueue {
public:
    BackgroundTasks::Poster Poster() {
        return [this](std::function<void()> fn) {
            std::lock_guard lock(m_mutex);
            m_posted.push_back(std::move(fn));
        };
    }
    void RunAll() {
        std::vector<std::function<void()>> posted;
        {
            std::lock_guard lock(m_mutex);
            posted.swap(m_posted);
        }
        for (auto &fn : posted) {
            fn();
        }
    }

private:
    std::mutex m_mutex;
    std::vector<std::function<void()>> m_posted;
};

}  // namespace

// Results come back on the owner's thread in the order the work was given, so a record written after
// another is never overtaken by it; a result that comes back once its owner is gone (the window closed
// while a probe ran) must not run, since it would reach freed state.
TEST(BackgroundTasks, ResultsComeBackInOrderAndNeverAfterTheOwnerIsGone) {
    PostedQueue queue;
    std::vector<std::string> seen;
    {
        BackgroundTasks tasks(queue.Poster());
        for (int i = 0; i < 5; ++i) {
            tasks.Run([i] { return std::to_string(i); }, [&seen](std::string s) { seen.push_back(s); });
        }
        tasks.Drain();
        EXPECT_TRUE(seen.empty()) << "a result ran on the worker instead of being posted";
        queue.RunAll();
        EXPECT_EQ(seen, (std::vector<std::string>{"0", "1", "2", "3", "4"}));

        tasks.Run([] { return 1; }, [&seen](int) { seen.push_back("late"); });
        tasks.Drain();
    }
    queue.RunAll();
    EXPECT_EQ(seen.size(), 5u);
}

}  // namespace klangor
