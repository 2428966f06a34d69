#include "platform/ThreadLoop.h"

#include <utility>

#include "platform/MainLoop.h"
#include "platform/ThreadPool.h"

namespace platform {

namespace {

thread_local ThreadLoop* tLoop = nullptr;

}  // namespace

ThreadLoop* ThreadLoop::current() {
    return tLoop;
}

void ThreadLoop::install(ThreadLoop* loop) {
    tLoop = loop;
}

void ThreadLoop::runSoon(std::function<void()> job) {
    jobs_.push_back(std::move(job));
}

void ThreadLoop::holdForMain(std::function<void()> task) {
    mainTasks_.push_back(std::move(task));
}

void ThreadLoop::flushMain() {
    if (mainTasks_.empty()) {
        return;
    }
    // Moved out first: posting may run code that holds more. The storage goes round between
    // the two vectors, so that each turn's hand-off costs no allocation.
    std::vector<std::function<void()>> tasks = std::move(spareMainTasks_);
    tasks.swap(mainTasks_);
    MainLoop::main().postAll(tasks);
    tasks.clear();
    spareMainTasks_ = std::move(tasks);
}

void ThreadLoop::beforeWaiting() {
    flushMain();
    for (auto& job : std::exchange(jobs_, {})) {
        ThreadPool::shared().submit(std::move(job));
    }
}

void ThreadLoop::takeJobs(std::vector<std::function<void()>>& jobs) {
    jobs.swap(jobs_);
}

}  // namespace platform
