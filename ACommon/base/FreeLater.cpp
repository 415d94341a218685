#include "ACommon/base/FreeLater.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace FreeLater {
namespace {

struct Queue {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::function<void()>> waiting;
    bool busy = false;
    bool started = false;

    void Run()
    {
        // Below the run's own threads: the freeing only uses time they leave.
        setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 10);
        std::unique_lock<std::mutex> hold(mutex);
        for (;;) {
            changed.wait(hold, [this] { return !waiting.empty(); });
            std::function<void()> next = std::move(waiting.front());
            waiting.pop_front();
            busy = true;
            hold.unlock();
            next();
            next = nullptr;
            hold.lock();
            busy = false;
            changed.notify_all();
        }
    }
};

// Never destroyed: the thread may still be freeing while the process ends, and what is still
// waiting then is left to the system with the rest of the process's memory. A child process made by
// fork() has no freeing thread, and the parent's may have held the lock at the fork: the child
// starts over with a queue of its own.
Queue* gQueue = nullptr;
Queue* gLeftByFork = nullptr; // still known, not leaked
std::once_flag gMade;

Queue& TheQueue()
{
    std::call_once(gMade, [] {
        gQueue = new Queue;
        pthread_atfork(nullptr, nullptr, [] {
            gLeftByFork = gQueue;
            gQueue = new Queue;
        });
    });
    return *gQueue;
}

} // namespace

void Hand(std::function<void()> release)
{
    Queue& queue = TheQueue();
    {
        std::lock_guard<std::mutex> hold(queue.mutex);
        if (!queue.started) {
            try {
                std::thread([&queue] { queue.Run(); }).detach();
                queue.started = true;
            } catch (const std::system_error&) {
            }
        }
        if (queue.started) {
            queue.waiting.push_back(std::move(release));
            queue.changed.notify_all();
            return;
        }
    }
    // No thread to be had: freed here and now, as without this.
    release();
}

void Drain()
{
    Queue& queue = TheQueue();
    std::unique_lock<std::mutex> hold(queue.mutex);
    queue.changed.wait(hold, [&queue] { return queue.waiting.empty() && !queue.busy; });
}

} // namespace FreeLater
