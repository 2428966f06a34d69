// Where the benchmark servers' threads run. On loopback the scheduler may put the server's
// thread for a connection on the processor of the client that just wrote to it, preempting
// the client: the two then take turns on one processor with warm caches and no wake-up across
// processors, and the client's thread costs far less a request than when the server answers
// from another processor. Which contender gets that placement depended on what ran before it,
// so that the same code read 14 us a request in one run and 22 in the next, and a ratio could
// swing from 0.7 to 1.3 with the length of the runs compared. A server on another machine
// never shares the client's processor; keeping the servers' threads on processors of their
// own measures the clients as such a server would see them.
#pragma once

namespace bench {

// A benchmark program's main, called before any thread starts: where the process may use three
// processors or more, sets the last quarter of them (at least one) aside for the servers and
// keeps the calling thread, and every thread it starts later, on the rest; then runs the
// benchmarks the command line names. RZ_BENCH_SERVER_APART=0 leaves the placement to the
// scheduler. Says on standard error what it chose; returns the program's exit status.
int runBenchmarks(int argc, char** argv);

// Each server thread as it starts: onto the servers' processors, where they were set aside.
void moveToServerProcessors();

}  // namespace bench
