#include "net/HubBrowse.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace {

std::mutex lock;
std::condition_variable wake;
struct Waiting {
    BrowseErrand errand;
    bool droppable;
};
std::deque<Waiting> waiting;
std::thread worker;
std::atomic<bool> cancelled{false};
bool running = false;
int busy = 0;

void loop()
{
    for (;;) {
        BrowseErrand errand;
        {
            std::unique_lock<std::mutex> guard(lock);
            wake.wait(guard, [] { return cancelled.load() || !waiting.empty(); });
            if (cancelled.load()) {
                return;
            }
            errand = std::move(waiting.front().errand);
            waiting.pop_front();
            ++busy;
        }
        errand(&cancelled);
        std::lock_guard<std::mutex> guard(lock);
        --busy;
    }
}

} // namespace

void browsePost(BrowseErrand errand, bool droppable)
{
    {
        std::lock_guard<std::mutex> guard(lock);
        waiting.push_back(Waiting{std::move(errand), droppable});
        if (!running) {
            running = true;
            cancelled = false;
            worker = std::thread(loop);
        }
    }
    wake.notify_all();
}

void browseDropWaiting()
{
    std::lock_guard<std::mutex> guard(lock);
    std::erase_if(waiting, [](const Waiting& w) { return w.droppable; });
}

void browseStop()
{
    {
        std::lock_guard<std::mutex> guard(lock);
        cancelled = true;
        waiting.clear();
    }
    wake.notify_all();
    if (worker.joinable()) {
        worker.join();
    }
    std::lock_guard<std::mutex> guard(lock);
    running = false;
    busy = 0;
    cancelled = false;
}

int browsePending()
{
    std::lock_guard<std::mutex> guard(lock);
    return static_cast<int>(waiting.size()) + busy;
}
