// The contenders of the request benchmarks, over HTTP or HTTPS alike: raw libcurl multi, the
// platform's URL connection, and the network layer's HTTP request operations and session data
// tasks, each doing the same small requests with the same number in flight.
//
// Each contender is paired with raw libcurl in every iteration, one batch of each in turn, so
// that the machine's moods (other work, frequency, the host's neighbours) weigh on both alike:
// the ratio of their times is what the benchmark reports, and is steadier than two rates taken
// a few seconds apart.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/Value.h"

// The server the contenders ask: a URL with a small reply and, for HTTPS, the self-signed
// certificate that each contender anchors its own way (libcurl as its CA, the URL connection
// through its trust challenge, the network layer through a security policy that pins it).
struct RequestTarget {
    std::string url;
    std::string certificatePem;  // empty over HTTP
    platform::Bytes certificateDer;
    std::function<std::uint64_t()> handshakes;  // the server's count so far, if it keeps one
};

class RequestContender {
  public:
    virtual ~RequestContender() = default;
    // `batch` requests, `inFlight` at a time; false if one failed or the batch timed out.
    virtual bool run(int batch) = 0;
};

using ContenderFactory =
    std::function<std::unique_ptr<RequestContender>(const RequestTarget&, int inFlight)>;

std::unique_ptr<RequestContender> rawLibcurlMulti(const RequestTarget& target, int inFlight);
std::unique_ptr<RequestContender> urlConnections(const RequestTarget& target, int inFlight);
#if __has_include("SocialSDK/framework/network/RAZududeHTTPRequestOperation.h")
#define RZ_HAVE_NETWORK_LAYER 1
std::unique_ptr<RequestContender> httpRequestOperations(const RequestTarget& target, int inFlight);
std::unique_ptr<RequestContender> sessionDataTasks(const RequestTarget& target, int inFlight);
#endif

// Requests per iteration and at once (RZ_IN_FLIGHT changes the second, to see latency against
// throughput).
constexpr int kRequestBatch = 256;
int requestsInFlight();

// Raw libcurl alone, its batches back to back after one to warm up: the rate it keeps.
void measureRawLibcurlAlone(benchmark::State& state, const RequestTarget& target);
// `ours` and raw libcurl in steady runs in the same iterations: a run of kSteadyRun batches of
// each in turn, of which the first kSteadyWarmUp are not timed. A machine whose speed drifts
// within a run weighs on both alike, which two steady rates taken minutes apart do not, and
// the first batch after a switch, which runs slower, does not set the rate. Reports our steady
// rate, `ratio` (raw libcurl's time over ours), raw libcurl's steady rate (`libcurl_per_second`)
// and the network thread's CPU time per request.
constexpr int kSteadyRun = 16;
constexpr int kSteadyWarmUp = 4;
void measureSteadyAgainstRawLibcurl(benchmark::State& state, const RequestTarget& target,
                                    const ContenderFactory& ours);
// `ours` against raw libcurl in the same iterations. Reports our rate (items per second, on
// our batches' time), `ratio` (raw libcurl's time over ours: 1 is as fast), raw libcurl's own
// rate in the pairing (`libcurl_per_second`, to set against its steady rate) and its thread's
// CPU time per request (`libcurl_thread_us_per_request`), the network thread's CPU time per request
// (the thread every request crosses, whose time bounds the rate whatever the machine's load) and,
// when the server counts them, its handshakes per request.
void measureAgainstRawLibcurl(benchmark::State& state, const RequestTarget& target,
                              const ContenderFactory& ours);

// Registers every contender under `prefix` ("requests/url_connection" and so on): raw libcurl
// alone, each of ours against it in the same iterations, and each of ours against it in steady
// runs ("..._sustained").
// Returns true, so that a benchmark file can register at start-up.
bool registerRequestBenchmarks(const std::string& prefix, std::function<RequestTarget()> target);
