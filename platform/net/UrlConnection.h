// A URL connection: one load of one request over HTTP or HTTPS, reported to a delegate.
//
// Threads: make, start and cancel it on any thread. The load runs on the NetworkThread and
// every delegate call arrives there, one at a time.
//
// Ownership: the connection keeps its delegate (and the delegate usually keeps the
// connection) until the load ends: after didFinishLoading, didFailWithError or cancel() the
// connection lets the delegate go, which breaks the cycle.
//
// Order of delegate calls for one load:
//   1. willSendRequestForAuthenticationChallenge: for a TLS server-trust challenge (see
//      below), and for an HTTP Basic challenge when the server answers 401 (again per
//      attempt, with previousFailureCount counting the refused ones).
//   2. didSendBodyData: as the body goes out, before the response.
//   3. willSendRequest: once per redirect, hop by hop, before it is followed; returning nullopt
//      stops there and the redirect response becomes the final response. A Basic answer is
//      not carried past a redirect (the next hop is challenged afresh), and the request
//      proposed for another origin (scheme, host or port) holds no Authorization,
//      Proxy-Authorization or Cookie field; the jar's own cookies go by their domains.
//   4. didReceiveResponse: once, for the final response.
//   5. didReceiveData: zero or more times, in order.
//   6. willCacheResponse: once, before the end of a successful load, to a delegate that
//      responds to it (respondsToWillCacheResponse); only then is the body gathered for it.
//   7. exactly one of didFinishLoading and didFailWithError, last.
// Once cancel() returns, on whatever thread, no delegate call starts, not even
// didFailWithError (a call already running on the network thread ends normally).
//
// Suspending: suspend() pauses the transfer (libcurl sends and receives nothing for it) and
// stops the request's time-out from counting; resume() lets it go on, and the time-out then
// counts afresh. Both may be called from any thread, before or after start(), and take effect
// on the network thread in the order they were called; delegate calls already under way, or
// due from bytes libcurl had in hand, may still arrive just after suspend() returns. A hop
// that would begin while suspended (the first one, or one after a redirect or a challenge)
// waits for resume(); a connection to the server that is being made when the transfer is
// suspended is still made. A connection suspended for good never ends by itself: cancel it.
//
// Server trust: every TLS handshake is judged once, by the delegate of the load that made it,
// through a server-trust challenge; the verdict stays with the connection, under the host,
// the port and the name the delegate gives its judgement (serverTrustJudgement). Before each
// request on a kept-alive connection the load checks it: a verdict under its own delegate's
// name lets it go on; otherwise its delegate judges the chain the connection holds (a
// challenge as in a handshake, without one). A refusal fails the load with -1202 and closes
// the connection, so that no later load takes it. A resumed TLS session sends no chain: the
// one it was first accepted with is judged for the load that resumes it. libcurl never reads
// the machine's anchors: the judgement alone decides.
//
// A response whose framing can be read two ways (two Content-Length values that disagree, or
// one that is not a number; a header value holding a CR) fails with -1011 and its connection
// is closed; one with both Transfer-Encoding and Content-Length is read by its chunks, and its
// connection is not used again.
//
// Errors carry the URL error domain with the platform's codes (-1000 bad URL, -1001 timed
// out, -1003 host not found, -1004 cannot connect, -1005 connection lost, -1011 bad server
// response, -1012 authentication cancelled, -1202 untrusted certificate, …), a readable
// description, and the failing URL under kUrlErrorFailingUrlErrorKey.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "platform/Error.h"
#include "platform/net/Authentication.h"
#include "platform/net/NetworkThread.h"
#include "platform/net/UrlRequest.h"
#include "platform/net/UrlResponse.h"

namespace platform {

class UrlConnection;

class UrlConnectionDelegate {
  public:
    virtual ~UrlConnectionDelegate() = default;

    // Default: performDefaultHandling (the system's trust evaluation for a server; no
    // credential for Basic, so the 401 becomes the response).
    virtual void willSendRequestForAuthenticationChallenge(
        UrlConnection& connection, const AuthenticationChallenge& challenge);
    virtual bool connectionShouldUseCredentialStorage(UrlConnection&) { return true; }
    // Names how this delegate judges a server's trust (its anchors, pins, host-name check),
    // so that a kept-alive connection it accepted is not judged again for each load. Every
    // delegate giving the same name must reach the same verdict on the same chain, host and
    // port. Asked on the network thread before each server-trust challenge and each request
    // on a kept-alive TLS connection. Default: nullopt, and every load on a kept-alive
    // connection is judged again.
    virtual std::optional<std::string> serverTrustJudgement(UrlConnection&) { return std::nullopt; }
    // Default: the proposed request.
    virtual std::optional<UrlRequest> willSendRequest(
        UrlConnection& connection, const UrlRequest& request,
        const std::shared_ptr<const UrlResponse>& redirectResponse);
    virtual void didSendBodyData(UrlConnection&, std::int64_t /*bytesWritten*/,
                                 std::int64_t /*totalBytesWritten*/,
                                 std::int64_t /*totalBytesExpectedToWrite*/) {}
    virtual void didReceiveResponse(UrlConnection&, const std::shared_ptr<const UrlResponse>&) {}
    virtual void didReceiveData(UrlConnection&, std::span<const std::uint8_t>) {}
    // Default: the proposed response. Nothing caches responses here; the answer is only
    // taken as the delegate's wish. Called only if respondsToWillCacheResponse says so, asked
    // when the final response's header ends: a copy of the body up to 1 MiB goes with it.
    virtual std::optional<CachedUrlResponse> willCacheResponse(UrlConnection& connection,
                                                               const CachedUrlResponse& proposed);
    virtual bool respondsToWillCacheResponse() const { return false; }
    virtual void didFinishLoading(UrlConnection&) {}
    virtual void didFailWithError(UrlConnection&, const Error&) {}
};

class UrlConnection : public std::enable_shared_from_this<UrlConnection> {
  public:
    // A connection for the request, not yet started. Throws std::invalid_argument for a null
    // delegate.
    static std::shared_ptr<UrlConnection> create(const UrlRequest& request,
                                                 std::shared_ptr<UrlConnectionDelegate> delegate);
    ~UrlConnection();
    UrlConnection(const UrlConnection&) = delete;
    UrlConnection& operator=(const UrlConnection&) = delete;

    // Starts the load; a second start does nothing.
    void start();
    // Stops the load; see the header comment for what follows. Cancelling a connection that
    // has ended, or cancelling twice, does nothing.
    void cancel();
    // Pauses and continues the transfer; see the header comment. Suspending twice needs one
    // resume(); both do nothing once the load has ended.
    void suspend();
    void resume();

    const UrlRequest& originalRequest() const;
    // The request of the current hop (after redirects).
    UrlRequest currentRequest() const;

    class Load;  // the libcurl side

  private:
    explicit UrlConnection(std::shared_ptr<Load> load);

    std::shared_ptr<Load> load_;
};

}  // namespace platform
