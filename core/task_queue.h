#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

// A queue of tasks posted from any thread and run on the thread that calls
// RunUntil / RunPending, one at a time and in posting order. It stands in
// for a window's event loop wherever there is no window (tests, benchmarks).
class TaskQueue {
public:
    using Task = std::function<void()>;

    void Post(Task task) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            tasks_.push_back(std::move(task));
        }
        wake_.notify_one();
    }

    // A dispatcher for ServerConnection that posts to this queue.
    std::function<void(Task)> Dispatcher() {
        return [this](Task task) { Post(std::move(task)); };
    }

    // Runs tasks as they arrive until done() holds (checked before each
    // wait and after each task) or the timeout passes; returns done().
    template <class Predicate>
    bool RunUntil(Predicate done, std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!done()) {
            Task task;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                if (!wake_.wait_until(lock, deadline, [this] { return !tasks_.empty(); })) return done();
                task = std::move(tasks_.front());
                tasks_.pop_front();
            }
            task();
        }
        return true;
    }

    // Runs what is queued now, and what those tasks post, until the queue is empty.
    void RunPending() {
        for (;;) {
            Task task;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (tasks_.empty()) return;
                task = std::move(tasks_.front());
                tasks_.pop_front();
            }
            task();
        }
    }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Task> tasks_;
};
