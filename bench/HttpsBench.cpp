// Requests over loopback HTTPS keep-alive against one OpenSSL server with a self-signed
// certificate: raw libcurl multi reusing its connections, and each of ours against it in the
// same iterations (see RequestContenders.h), with the server's handshakes per request.
#include "RequestContenders.h"
#include "ServerPlacement.h"
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

const bool registered = registerRequestBenchmarks("https", target);

}  // namespace

int main(int argc, char** argv) {
    return bench::runBenchmarks(argc, argv);
}
