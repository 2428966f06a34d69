// Requests over loopback HTTPS keep-alive against one OpenSSL server with a self-signed
// certificate: raw libcurl multi reusing its connections, and each of ours against it in the
// same iterations (see RequestContenders.h), with the server's handshakes per request.
#include "RequestContenders.h"
#include "TlsLoopbackServer.h"

namespace {

TlsLoopbackServer& server() {
    static auto* s = new TlsLoopbackServer;  // never destroyed: loads may outlive the run
    return *s;
}

RequestTarget target() {
    return {.url = server().url("/small"),
            .certificatePem = server().certificatePem(),
            .certificateDer = server().certificateDer(),
            .handshakes = [] { return server().handshakes(); }};
}

void BM_RawLibcurlMulti(benchmark::State& state) {
    measureRawLibcurl(state, target());
}
BENCHMARK(BM_RawLibcurlMulti)->Name("https/raw_libcurl_multi")->UseManualTime();

void BM_UrlConnection(benchmark::State& state) {
    measureAgainstRawLibcurl(state, target(), urlConnections);
}
BENCHMARK(BM_UrlConnection)->Name("https/url_connection")->UseManualTime();

#ifdef RZ_HAVE_NETWORK_LAYER

void BM_SessionDataTask(benchmark::State& state) {
    measureAgainstRawLibcurl(state, target(), sessionDataTasks);
}
BENCHMARK(BM_SessionDataTask)->Name("https/session_data_task")->UseManualTime();

void BM_HttpRequestOperation(benchmark::State& state) {
    measureAgainstRawLibcurl(state, target(), httpRequestOperations);
}
BENCHMARK(BM_HttpRequestOperation)->Name("https/http_request_operation")->UseManualTime();

#endif

}  // namespace

BENCHMARK_MAIN();
