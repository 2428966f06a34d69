// A connection's load: its hops on the network thread (UrlConnection.cpp), the libcurl
// callbacks that feed them (UrlConnectionCallbacks.cpp) and the judgement of the server's
// certificates (UrlConnectionTrust.cpp).
#pragma once

#include <curl/curl.h>
#include <openssl/x509.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Mutex.h"
#include "platform/net/Stream.h"
#include "platform/net/UrlConnection.h"
#include "platform/net/detail/HeaderLines.h"
#include "platform/net/detail/NetworkLoop.h"
#include "platform/net/detail/UrlErrors.h"

namespace platform {

namespace detail {

// realm="x" of a Basic challenge; nullopt when the header offers no Basic scheme.
std::optional<std::optional<std::string>> basicChallenge(std::string_view header);

}  // namespace detail

class UrlConnection::Load final : public AuthenticationChallengeSender,
                                  public NetworkThread::State::Timed,
                                  public NetworkThread::State::Transfer,
                                  public std::enable_shared_from_this<Load> {
  public:
    Load(UrlRequest request, std::shared_ptr<UrlConnectionDelegate> delegate)
        : original_(std::make_shared<const UrlRequest>(std::move(request))),
          current_(original_),
          hopRequest_(original_),
          delegate_(std::move(delegate)) {}

    ~Load() override { releaseHop(); }

    void start(std::shared_ptr<UrlConnection> owner);

    // From any thread: no delegate call starts after this returns. The transfer itself is
    // taken down on the network thread, never inside one of libcurl's callbacks.
    void cancel();

    // From any thread; applied on the network thread in the order asked.
    void setSuspended(bool suspended);

    UrlRequest currentRequest() const { return *current_.get(); }
    // The current hop's URL (network thread).
    const Url& currentUrl() const { return hopRequest_->url(); }

    const UrlRequest& original() const { return *original_; }

    // AuthenticationChallengeSender: the answer is taken when the delegate call returns.
    void useCredential(const Credential& credential, const AuthenticationChallenge&) override;
    void continueWithoutCredential(const AuthenticationChallenge&) override;
    void cancelAuthenticationChallenge(const AuthenticationChallenge&) override;
    void performDefaultHandling(const AuthenticationChallenge&) override;

    // What a TLS connection keeps of its judgements; it lives as long as the connection.
    struct TlsVerdicts;

  private:
    enum class Answer { kNone, kUseCredential, kContinueWithout, kCancel, kDefault };
    enum class HopKind { kUndecided, kFinal, kRedirect, kAuthentication };

    // Calls the delegate unless the load was cancelled or has ended. The load holds the
    // delegate and the connection until end(), which never runs inside a delegate call (a
    // cancel from the delegate is posted to the loop), so the call borrows them.
    template <typename F>
    void tell(F&& call);

    // --- the load, hop by hop (network thread) ---------------------------------------

    void begin();
    void startHop();
    void pause(bool on);
    bool setMethodAndBody(const UrlRequest& request);
    bool setHeaders(const UrlRequest& request);
    void transferEnded(CURLcode result) override;
    void hopDone(CURLcode result);

    // The hop's response goes to the delegate as the final one, with the body held so far.
    void deliverHeldResponse();

    void redirect();
    void authenticate();

    // A kept-alive connection can be dead, or hold bytes a server sent beyond its last
    // response's length; a load that failed on one before any response came is tried once
    // more on a new connection, as long as its body can be sent again.
    bool shouldRetryOnFreshConnection();

    void fail(const Error& error);

    // Ends the load: nothing reaches the delegate after this, and the cycle between the
    // connection and its delegate is broken.
    void end();

    void releaseHop();
    // The connection closes when this hop ends instead of staying for the next load.
    void forbidReuse();

    // The request's time-out counts from the last sign of life of the load; the network
    // thread's sweep looks at it (Timed).
    double idleDue() const override;
    void idleCheck() override;

    void touch();

    // --- libcurl callbacks (network thread, inside curl_multi_perform) ---------------

    static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* user);

    // False stops the transfer.
    bool headerLine(std::string_view line);

    void headersEnded();
    static std::size_t onWrite(char* data, std::size_t size, std::size_t count, void* user);
    static std::size_t onRead(char* buffer, std::size_t size, std::size_t count, void* user);

    // A body stream that paces its reader: the transfer pauses and a timer of this thread
    // lets it go on, so that no other load waits meanwhile. The wait is no idleness.
    void holdBodyFor(double seconds);

    static int onSeek(void* user, curl_off_t offset, int origin);
    static int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t uploaded);
    // --- server trust (UrlConnectionTrust.cpp) ----------------------------------------

    // The options of a hop to an https URL: those a handle keeps, then those that point at
    // the load that uses it.
    void configureTls(CURL* easy);
    void setTlsCallbackData(CURL* easy);

    // A new connection's TLS context: its own verdicts, and our judgement in place of
    // OpenSSL's chain verification.
    static CURLcode onSslContext(CURL*, void* context, void* user);

    // OpenSSL asks whether the server's chain is good: the delegate of the load that made
    // the connection decides, through a server-trust challenge, before the handshake goes on.
    static int onVerify(X509_STORE_CTX* context, void* user);

    // Before the request is sent, on a new or a kept-alive connection: whether this load may
    // use it (see the header comment of UrlConnection).
    static int onPrerequest(void* user, char*, char*, int, int);
    bool mayUseTlsConnection();

    // The delegate's name for its judgement of a server's trust (nullopt when it gives none).
    std::optional<std::string> trustJudgement();

    bool judgeServerTrust(std::vector<Bytes> chain);

    friend class UrlConnection;

    // The request as given, and the current hop's: the same one until a redirect puts another
    // in its place. Shared with whoever reads them, as a request never changes.
    const std::shared_ptr<const UrlRequest> original_;
    Guarded<std::shared_ptr<const UrlRequest>> current_;
    // The same, for the network thread, which alone changes it and so reads it unlocked.
    std::shared_ptr<const UrlRequest> hopRequest_;
    std::shared_ptr<UrlConnectionDelegate> delegate_;
    std::atomic<bool> started_{false};
    // Written once by start() before it posts the task that takes it (any thread).
    std::shared_ptr<UrlConnection> startingOwner_;
    std::atomic<bool> cancelled_{false};

    // Tells this load's handshakes apart from another's: an address may be taken again.
    const std::uint64_t serial_ = nextSerial();
    static std::uint64_t nextSerial() {
        static std::atomic<std::uint64_t> last{0};
        return ++last;
    }

    // Network thread only, from here on.
    std::shared_ptr<UrlConnection> owner_;
    bool ended_ = false;
    int redirects_ = 0;
    int authenticationFailures_ = 0;
    std::optional<std::string> authorization_;
    Answer answer_ = Answer::kNone;
    std::optional<Credential> credential_;  // the delegate's answer to the last challenge
    double lastActivity_ = 0;
    std::shared_ptr<TimerHandle> bodyHold_;  // lets a paced body go on
    bool paused_ = false;
    bool hopWaiting_ = false;  // a hop was due while paused

    // The current hop.
    CURL* easy_ = nullptr;
    CURLU* easyUrl_ = nullptr;            // easy_'s URL, parsed
    bool transferring_ = false;           // easy_ is in the multi handle
    std::shared_ptr<Load> transferSelf_;  // the loop holds no reference while it transfers
    bool easyHasCookies_ = false;
    bool easyReusable_ = false;
    bool easyPlain_ = false;  // a plain GET's options only: the handle may keep them
    std::optional<std::string> easyAcceptEncoding_;  // what easy_ was set to ask for
    bool easyHttps_ = false;
    std::optional<Url> hopUrl_;  // the URL easy_ was given
    bool freshConnectionNext_ = false;
    bool retriedOnFreshConnection_ = false;
    curl_slist* headerList_ = nullptr;
    char errorText_[CURL_ERROR_SIZE] = {};
    HopKind kind_ = HopKind::kUndecided;
    long status_ = 0;
    std::string httpVersion_;
    HeaderBlock headerBlock_;  // the current response's field lines
    std::size_t headerBytes_ = 0;
    std::shared_ptr<const HttpUrlResponse> hopResponse_;
    Bytes heldBody_;
    Bytes cacheCopy_;
    bool cacheable_ = true;
    std::shared_ptr<const Bytes> bodyData_;
    std::shared_ptr<InputStream> bodyStream_;
    std::int64_t bodyLength_ = -1;
    std::int64_t bodySent_ = 0;
    std::int64_t uploaded_ = 0;
    std::optional<Error> bodyError_;
};

template <typename F>
void UrlConnection::Load::tell(F&& call) {
    if (cancelled_ || ended_) {
        return;
    }
    if (delegate_ && owner_) {
        call(*delegate_, *owner_);
    }
}

}  // namespace platform
