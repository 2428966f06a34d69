#include "ServerPlacement.h"

#include <benchmark/benchmark.h>
#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace bench {

namespace {

// Written once by keepServersApart, before any server thread exists.
cpu_set_t serverProcessors;
bool apart = false;

std::vector<int> allowedProcessors() {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    std::vector<int> found;
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0) {
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
            if (CPU_ISSET(cpu, &allowed)) {
                found.push_back(cpu);
            }
        }
    }
    return found;
}

std::string listed(const std::vector<int>& processors) {
    std::string text;
    for (const int cpu : processors) {
        text += (text.empty() ? "" : ",") + std::to_string(cpu);
    }
    return text;
}

void keepServersApart() {
    const char* setting = std::getenv("RZ_BENCH_SERVER_APART");
    const std::vector<int> allowed = allowedProcessors();
    if ((setting && std::strcmp(setting, "0") == 0) || allowed.size() < 3) {
        std::fprintf(stderr, "benchmark servers share the clients' %zu processors\n",
                     allowed.size());
        return;
    }
    const std::size_t serverCount = std::max<std::size_t>(1, allowed.size() / 4);
    const std::vector<int> clients(allowed.begin(), allowed.end() - serverCount);
    const std::vector<int> servers(allowed.end() - serverCount, allowed.end());
    cpu_set_t clientSet;
    CPU_ZERO(&clientSet);
    CPU_ZERO(&serverProcessors);
    for (const int cpu : clients) {
        CPU_SET(cpu, &clientSet);
    }
    for (const int cpu : servers) {
        CPU_SET(cpu, &serverProcessors);
    }
    if (sched_setaffinity(0, sizeof clientSet, &clientSet) != 0) {
        std::fprintf(stderr, "benchmark servers share the clients' processors: %s\n",
                     std::strerror(errno));
        return;
    }
    apart = true;
    std::fprintf(stderr, "benchmark servers on processors %s, clients on %s\n",
                 listed(servers).c_str(), listed(clients).c_str());
}

}  // namespace

void moveToServerProcessors() {
    if (apart) {
        pthread_setaffinity_np(pthread_self(), sizeof serverProcessors, &serverProcessors);
    }
}

int runBenchmarks(int argc, char** argv) {
    keepServersApart();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

}  // namespace bench
