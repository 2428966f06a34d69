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
    // Moved out first: posting may run code that holds more.
    auto tasks = std::exchange(mainTasks_, {});
    MainLoop::main().postAll(std::move(tasks));
}

void ThreadLoop::beforeWaiting() {
    flushMain();
    for (auto& job : std::exchange(jobs_, {})) {
        ThreadPool::shared().submit(std::move(job));
    }
}

std::vector<std::function<void()>> ThreadLoop::takeJobs() {
    return std::exchange(jobs_, {});
}

}  // namespace platform
