#include "platform/net/UrlConnection.h"

#include <curl/curl.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <stdexcept>

#include <strings.h>

#include "platform/Text.h"
#include "platform/net/Stream.h"
#include "platform/net/detail/NetworkLoop.h"

namespace platform {

namespace {

constexpr int kMaximumRedirects = 16;
// Bodies of responses that are not handed on (a redirect, a 401 before its challenge) are
// kept only up to this size; a larger one is cut, since nobody reads it unless the
// delegate stops there.
constexpr std::size_t kHeldBodyLimit = 8u << 20;
// A body up to this size is offered to willCacheResponse with its bytes.
constexpr std::size_t kCacheableBodyLimit = 1u << 20;
// A server that sends more header bytes than this for one response is not speaking HTTP in
// good faith; the load fails rather than growing without bound.
constexpr std::size_t kHeaderBytesLimit = 256u << 10;

double monotonicSeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

Error urlError(long code, const std::string& description, const Url& url) {
    return Error(kUrlErrorDomain, code,
                 Map{{kLocalizedDescriptionKey, Value(description)},
                     {kUrlErrorFailingUrlErrorKey, Value(url.absoluteString())},
                     {kUrlErrorFailingUrlStringErrorKey, Value(url.absoluteString())}});
}

Error errorForCurl(CURLcode code, const char* detail, const Url& url) {
    const std::string reason = detail && *detail ? detail : curl_easy_strerror(code);
    switch (code) {
        case CURLE_URL_MALFORMAT:
            return urlError(kUrlErrorBadUrl, "The URL is not valid (" + reason + ").", url);
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_BAD_CONTENT_ENCODING:
        case CURLE_OUT_OF_MEMORY:
        case CURLE_FILESIZE_EXCEEDED:
        case CURLE_TOO_MANY_REDIRECTS:
            return urlError(kUrlErrorBadServerResponse,
                            "The server returned a response that cannot be read (" + reason + ").",
                            url);
        case CURLE_COULDNT_RESOLVE_HOST:
            return urlError(kUrlErrorCannotFindHost,
                            "A server with the specified hostname could not be found.", url);
        case CURLE_COULDNT_CONNECT:
            return urlError(kUrlErrorCannotConnectToHost, "Could not connect to the server.", url);
        case CURLE_OPERATION_TIMEDOUT:
            return urlError(kUrlErrorTimedOut, "The request timed out.", url);
        case CURLE_PARTIAL_FILE:
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_GOT_NOTHING:
        case CURLE_SEND_FAIL_REWIND:
            return urlError(kUrlErrorNetworkConnectionLost,
                            "The network connection was lost (" + reason + ").", url);
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
            return urlError(kUrlErrorSecureConnectionFailed,
                            "A TLS error has occurred and a secure connection to the server "
                            "cannot be made (" +
                                reason + ").",
                            url);
        default:
            return urlError(kUrlErrorUnknown, "The load failed (" + reason + ").", url);
    }
}

std::string base64(std::string_view text) {
    std::string out(4 * ((text.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                  reinterpret_cast<const unsigned char*>(text.data()),
                                  static_cast<int>(text.size()));
    out.resize(static_cast<std::size_t>(n));
    return out;
}

bool holdsLineBreakOrNul(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' ||
                             text.back() == '\n')) {
        text.remove_suffix(1);
    }
    return text;
}

// Where the Basic scheme's name ends among the challenges, or npos. Only a scheme counts: a
// token at the start or after a comma, outside quotes, so that a Digest challenge whose realm
// says "basic" never gets the password in the clear.
std::size_t basicSchemeEnd(std::string_view header) {
    constexpr std::string_view kBasic = "basic";
    bool atToken = true;
    for (std::size_t i = 0; i < header.size(); ++i) {
        const char c = header[i];
        if (c == '"') {
            for (++i; i < header.size() && header[i] != '"'; ++i) {
                i += header[i] == '\\' ? 1 : 0;
            }
            atToken = false;
        } else if (c == ',') {
            atToken = true;
        } else if (c != ' ' && c != '\t') {
            const std::size_t end = i + kBasic.size();
            if (atToken && end <= header.size() &&
                strncasecmp(header.data() + i, kBasic.data(), kBasic.size()) == 0 &&
                (end == header.size() || header[end] == ' ' || header[end] == '\t' ||
                 header[end] == ',')) {
                return end;
            }
            atToken = false;
        }
    }
    return std::string_view::npos;
}

// realm="x" of a Basic challenge; nullopt when the header offers no Basic scheme.
std::optional<std::optional<std::string>> basicChallenge(std::string_view header) {
    const std::size_t scheme = basicSchemeEnd(header);
    if (scheme == std::string_view::npos) {
        return std::nullopt;
    }
    header.remove_prefix(scheme);
    std::optional<std::string> realm;
    const auto at = text::findCaseInsensitive(header, "realm=");
    if (at) {
        std::string_view rest = header.substr(at->offset + at->length);
        if (!rest.empty() && rest.front() == '"') {
            rest.remove_prefix(1);
            realm = std::string(rest.substr(0, rest.find('"')));
        } else {
            realm = std::string(trim(rest.substr(0, rest.find(','))));
        }
    }
    return realm;
}

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

int effectivePort(const Url& url) {
    return url.port().value_or(url.scheme() == "https" ? 443 : 80);
}

// Scheme, host and port: what a credential or a cookie that the request carries belongs to.
bool sameOrigin(const Url& a, const Url& b) {
    return equalIgnoringCase(a.scheme(), b.scheme()) && equalIgnoringCase(a.host(), b.host()) &&
           effectivePort(a) == effectivePort(b);
}

// The one length that a Content-Length value (digits, or a list of the same digits) gives,
// together with what an earlier field gave; nullopt when they are not one number.
std::optional<std::string> contentLength(std::string_view value,
                                         const std::optional<std::string>& earlier) {
    const std::string all = earlier ? *earlier + "," + std::string(value) : std::string(value);
    std::string_view rest(all);
    std::optional<std::string_view> length;
    while (true) {
        const auto comma = rest.find(',');
        const std::string_view item = trim(rest.substr(0, comma));
        if (item.empty() || item.size() > 18 ||
            item.find_first_not_of("0123456789") != std::string_view::npos ||
            (length && item != *length)) {
            return std::nullopt;
        }
        length = item;
        if (comma == std::string_view::npos) {
            return std::string(*length);
        }
        rest.remove_prefix(comma + 1);
    }
}

bool isRedirectStatus(long status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

}  // namespace

// ---------------------------------------------------------------------------------------

class UrlConnection::Load final : public AuthenticationChallengeSender,
                                  public std::enable_shared_from_this<Load> {
  public:
    Load(const UrlRequest& request, std::shared_ptr<UrlConnectionDelegate> delegate)
        : original(request), current_(request), delegate_(std::move(delegate)) {}

    ~Load() override { releaseHop(); }

    void start(std::shared_ptr<UrlConnection> owner) {
        if (started_.exchange(true)) {
            return;
        }
        // Kept alive by the network thread until the load ends; set there, since the end of
        // the load lets it go there, whatever thread started it or cancelled it meanwhile.
        NetworkThread::shared().post([self = shared_from_this(), owner = std::move(owner)] {
            self->owner_ = owner;
            self->begin();
        });
    }

    // From any thread: no delegate call starts after this returns. The transfer itself is
    // taken down on the network thread, never inside one of libcurl's callbacks.
    void cancel() {
        if (cancelled_.exchange(true)) {
            return;
        }
        NetworkThread::shared().post([self = shared_from_this()] { self->end(); });
    }

    // From any thread; applied on the network thread in the order asked.
    void setSuspended(bool suspended) {
        NetworkThread::shared().post(
            [self = shared_from_this(), suspended] { self->pause(suspended); });
    }

    UrlRequest currentRequest() const {
        std::lock_guard lock(requestMutex_);
        return current_;
    }

    const UrlRequest original;

    // AuthenticationChallengeSender: the answer is taken when the delegate call returns.
    void useCredential(const Credential& credential, const AuthenticationChallenge&) override {
        answer_ = Answer::kUseCredential;
        credential_ = credential;
    }
    void continueWithoutCredential(const AuthenticationChallenge&) override {
        answer_ = Answer::kContinueWithout;
    }
    void cancelAuthenticationChallenge(const AuthenticationChallenge&) override {
        answer_ = Answer::kCancel;
    }
    void performDefaultHandling(const AuthenticationChallenge&) override {
        answer_ = Answer::kDefault;
    }

  private:
    enum class Answer { kNone, kUseCredential, kContinueWithout, kCancel, kDefault };
    enum class HopKind { kUndecided, kFinal, kRedirect, kAuthentication };

    // Calls the delegate unless the load was cancelled or has ended; the delegate is held
    // for the call, since cancelling inside it lets the connection's reference go.
    template <typename F>
    void tell(F&& call) {
        if (cancelled_ || ended_) {
            return;
        }
        std::shared_ptr<UrlConnectionDelegate> delegate = delegate_;
        std::shared_ptr<UrlConnection> owner = owner_;
        if (delegate && owner) {
            call(*delegate, *owner);
        }
    }

    // --- the load, hop by hop (network thread) ---------------------------------------

    void begin() {
        if (cancelled_) {
            end();
            return;
        }
        tell([](UrlConnectionDelegate& d, UrlConnection& c) {
            d.connectionShouldUseCredentialStorage(c);
        });
        lastActivity_ = monotonicSeconds();
        scheduleIdleCheck();
        startHop();
    }

    void startHop() {
        releaseHop();
        if (paused_) {
            hopWaiting_ = true;  // resume() starts it
            return;
        }
        kind_ = HopKind::kUndecided;
        status_ = 0;
        httpVersion_.clear();
        headers_ = HeaderFields();
        headerBytes_ = 0;
        heldBody_.clear();
        hopResponse_.reset();
        uploaded_ = 0;
        bodySent_ = 0;
        bodyError_.reset();
        cacheCopy_.clear();
        cacheable_ = true;

        const UrlRequest request = currentRequest();
        const Url& url = request.url();
        if (url.scheme() != "http" && url.scheme() != "https") {
            fail(urlError(kUrlErrorUnsupportedUrl, "The URL's scheme is not supported.", url));
            return;
        }
        if (url.host().empty()) {
            fail(urlError(kUrlErrorBadUrl, "The URL names no host.", url));
            return;
        }
        if (holdsLineBreakOrNul(request.httpMethod()) || request.httpMethod().empty()) {
            fail(urlError(kUrlErrorUnknown, "The request's method is not a valid token.", url));
            return;
        }

        easyHasCookies_ = request.httpShouldHandleCookies();
        easy_ = NetworkThread::shared().state().takeEasyHandle(easyHasCookies_);
        if (!easy_) {
            fail(urlError(kUrlErrorUnknown, "The load could not be set up.", url));
            return;
        }
        CURL* e = easy_;
        curl_easy_setopt(e, CURLOPT_PRIVATE, this);
        curl_easy_setopt(e, CURLOPT_URL, url.absoluteString().c_str());
        curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(e, CURLOPT_ERRORBUFFER, errorText_);
        errorText_[0] = '\0';
        const double timeout = request.timeoutInterval();
        if (timeout > 0) {
            curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS,
                             static_cast<long>(std::max(1.0, timeout * 1000)));
        }
        curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Load::onHeader);
        curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Load::onWrite);
        curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &Load::onProgress);
        curl_easy_setopt(e, CURLOPT_XFERINFODATA, this);
        if (request.httpShouldHandleCookies()) {
            curl_easy_setopt(e, CURLOPT_SHARE, NetworkThread::shared().state().cookieShare());
            curl_easy_setopt(e, CURLOPT_COOKIEFILE, "");
        }
        if (freshConnectionNext_) {
            curl_easy_setopt(e, CURLOPT_FRESH_CONNECT, 1L);
            freshConnectionNext_ = false;
        }
        if (url.scheme() == "https") {
            // Every handshake is judged by this load's delegate, so neither a TLS session
            // nor a kept-alive connection that another load's judgement let through is
            // taken again.
            curl_easy_setopt(e, CURLOPT_SSL_SESSIONID_CACHE, 0L);
            curl_easy_setopt(e, CURLOPT_FRESH_CONNECT, 1L);
            curl_easy_setopt(e, CURLOPT_FORBID_REUSE, 1L);
            curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
            curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 0L);  // the trust evaluation checks it
            curl_easy_setopt(e, CURLOPT_SSL_CTX_FUNCTION, &Load::onSslContext);
            curl_easy_setopt(e, CURLOPT_SSL_CTX_DATA, this);
        }

        if (!setMethodAndBody(request)) {
            return;
        }
        if (!setHeaders(request)) {
            return;
        }
        transferring_ = true;
        NetworkThread::shared().state().addTransfer(
            e, [self = shared_from_this()](CURLcode result) { self->hopDone(result); });
    }

    void pause(bool on) {
        if (ended_ || paused_ == on) {
            return;
        }
        paused_ = on;
        if (easy_ && transferring_) {
            // libcurl forgets a pause asked before its transfer phase begins, so the
            // callbacks also answer "pause" while paused_ holds. Continuing may hand
            // libcurl's kept bytes to the delegate at once, from here; that is fine, this is
            // not inside another libcurl callback.
            curl_easy_pause(easy_, on ? CURLPAUSE_ALL : CURLPAUSE_CONT);
        }
        if (!on) {
            touch();
            if (hopWaiting_ && !cancelled_) {
                hopWaiting_ = false;
                startHop();
            }
        }
    }

    bool setMethodAndBody(const UrlRequest& request) {
        CURL* e = easy_;
        const std::string& method = request.httpMethod();
        bodyData_.reset();
        bodyStream_.reset();
        bodyLength_ = -1;
        if (request.httpBody()) {
            bodyData_ = std::make_shared<const Bytes>(*request.httpBody());
            bodyLength_ = static_cast<std::int64_t>(bodyData_->size());
        } else if (request.httpBodyStream()) {
            bodyStream_ = request.httpBodyStream();
            if (bodyStream_->streamStatus() != StreamStatus::kNotOpen) {
                fail(urlError(kUrlErrorUnknown,
                              "The request's body stream was read already and cannot be sent "
                              "again.",
                              request.url()));
                return false;
            }
            if (const auto length = request.valueForHttpHeaderField("Content-Length")) {
                try {
                    std::size_t used = 0;
                    bodyLength_ = std::stoll(*length, &used);
                    if (used != length->size() || bodyLength_ < 0) {
                        bodyLength_ = -1;
                    }
                } catch (const std::exception&) {
                    bodyLength_ = -1;
                }
            }
            bodyStream_->open();
        }
        const bool hasBody = bodyData_ || bodyStream_;
        if (method == "HEAD") {
            curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
        } else if (hasBody) {
            curl_easy_setopt(e, CURLOPT_POST, 1L);
            curl_easy_setopt(e, CURLOPT_READFUNCTION, &Load::onRead);
            curl_easy_setopt(e, CURLOPT_READDATA, this);
            curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(bodyLength_));
            if (bodyData_) {
                curl_easy_setopt(e, CURLOPT_SEEKFUNCTION, &Load::onSeek);
                curl_easy_setopt(e, CURLOPT_SEEKDATA, this);
            }
            if (method != "POST") {
                curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, method.c_str());
            }
        } else if (method == "GET") {
            curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
        } else if (method == "POST") {
            curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(0));
            curl_easy_setopt(e, CURLOPT_POSTFIELDS, "");
        } else {
            curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, method.c_str());
        }
        return true;
    }

    bool setHeaders(const UrlRequest& request) {
        bool hasExpect = false;
        bool hasAccept = false;
        for (const auto& [name, value] : request.allHttpHeaderFields().fields()) {
            if (name.empty() || holdsLineBreakOrNul(name) || holdsLineBreakOrNul(value) ||
                name.find(':') != std::string::npos) {
                fail(urlError(kUrlErrorUnknown,
                              "The request's header field \"" + std::string(trim(name)) +
                                  "\" is not a valid header line.",
                              request.url()));
                return false;
            }
            if (HeaderFields::sameName(name, "Content-Length")) {
                continue;  // libcurl writes it from the body it sends
            }
            if (HeaderFields::sameName(name, "Accept-Encoding")) {
                // libcurl sends the header and decodes what comes back, so that the delegate
                // gets the body itself, as the request's maker expects of URL loading.
                curl_easy_setopt(easy_, CURLOPT_ACCEPT_ENCODING, value.c_str());
                continue;
            }
            if (HeaderFields::sameName(name, "Expect")) {
                hasExpect = true;
            }
            if (HeaderFields::sameName(name, "Accept")) {
                hasAccept = true;
            }
            // "Name;" is libcurl's way of sending a header with an empty value.
            const std::string line = value.empty() ? name + ";" : name + ": " + value;
            headerList_ = curl_slist_append(headerList_, line.c_str());
        }
        if (!hasExpect) {
            headerList_ = curl_slist_append(headerList_, "Expect:");
        }
        if (!hasAccept) {
            headerList_ = curl_slist_append(headerList_, "Accept: */*");
        }
        if ((bodyData_ || bodyStream_) && bodyLength_ < 0) {
            headerList_ = curl_slist_append(headerList_, "Transfer-Encoding: chunked");
        }
        if (authorization_) {
            headerList_ =
                curl_slist_append(headerList_, ("Authorization: " + *authorization_).c_str());
        }
        curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headerList_);
        return true;
    }

    void hopDone(CURLcode result) {
        transferring_ = false;
        easyReusable_ = result == CURLE_OK && !cancelled_ && !bodyError_;
        if (ended_) {
            return;
        }
        if (cancelled_) {
            end();
            return;
        }
        const Url url = currentRequest().url();
        if (bodyError_) {
            fail(*bodyError_);
            return;
        }
        if (result != CURLE_OK && shouldRetryOnFreshConnection()) {
            freshConnectionNext_ = true;
            startHop();
            return;
        }
        if (result != CURLE_OK) {
            fail(errorForCurl(result, errorText_, url));
            return;
        }
        if (kind_ == HopKind::kUndecided) {
            // No response at all can only be a broken exchange.
            fail(urlError(kUrlErrorBadServerResponse, "The server sent no response.", url));
            return;
        }
        if (kind_ == HopKind::kRedirect) {
            redirect();
            return;
        }
        if (kind_ == HopKind::kAuthentication) {
            authenticate();
            return;
        }
        if (cacheable_) {
            CachedUrlResponse proposed{hopResponse_, std::move(cacheCopy_)};
            tell([&](UrlConnectionDelegate& d, UrlConnection& c) {
                d.willCacheResponse(c, proposed);
            });
        }
        tell([](UrlConnectionDelegate& d, UrlConnection& c) { d.didFinishLoading(c); });
        end();
    }

    // The hop's response goes to the delegate as the final one, with the body held so far.
    void deliverHeldResponse() {
        kind_ = HopKind::kFinal;
        tell([&](UrlConnectionDelegate& d, UrlConnection& c) {
            d.didReceiveResponse(c, hopResponse_);
        });
        if (!heldBody_.empty()) {
            tell([&](UrlConnectionDelegate& d, UrlConnection& c) {
                d.didReceiveData(c, std::span<const std::uint8_t>(heldBody_));
            });
        }
        tell([](UrlConnectionDelegate& d, UrlConnection& c) { d.didFinishLoading(c); });
        end();
    }

    void redirect() {
        UrlRequest request = currentRequest();
        const auto location = hopResponse_->allHeaderFields().value("Location");
        const auto target = location ? Url::parse(trim(*location), request.url()) : std::nullopt;
        if (!target) {
            deliverHeldResponse();
            return;
        }
        if (++redirects_ > kMaximumRedirects) {
            fail(
                urlError(kUrlErrorHttpTooManyRedirects, "Too many HTTP redirects.", request.url()));
            return;
        }
        // A Basic answer belongs to the hop it was asked for: the next one is challenged
        // afresh. What the request itself carries for its origin stays there.
        authorization_.reset();
        authenticationFailures_ = 0;
        if (!sameOrigin(request.url(), *target)) {
            for (const char* name : {"Authorization", "Proxy-Authorization", "Cookie"}) {
                request.setValue(std::nullopt, name);
            }
        }
        request.setUrl(*target);
        const std::string method = request.httpMethod();
        if ((status_ == 303 && method != "HEAD") ||
            ((status_ == 301 || status_ == 302) && method == "POST")) {
            request.setHttpMethod("GET");
            request.setHttpBody(std::nullopt);
            request.setHttpBodyStream(nullptr);
            request.setValue(std::nullopt, "Content-Type");
            request.setValue(std::nullopt, "Content-Length");
        }
        std::optional<UrlRequest> next = request;
        tell([&](UrlConnectionDelegate& d, UrlConnection& c) {
            next = d.willSendRequest(c, request, hopResponse_);
        });
        if (cancelled_) {
            end();
            return;
        }
        if (!next) {
            deliverHeldResponse();
            return;
        }
        {
            std::lock_guard lock(requestMutex_);
            current_ = std::move(*next);
        }
        startHop();
    }

    void authenticate() {
        const UrlRequest request = currentRequest();
        const Url& url = request.url();
        const auto header = hopResponse_->allHeaderFields().value("WWW-Authenticate");
        ProtectionSpace space(url.host(), url.port().value_or(url.scheme() == "https" ? 443 : 80),
                              url.scheme(), header ? *basicChallenge(*header) : std::nullopt,
                              kAuthenticationMethodHttpBasic);
        AuthenticationChallenge challenge(space, authenticationFailures_, hopResponse_, *this);
        answer_ = Answer::kNone;
        tell([&](UrlConnectionDelegate& d, UrlConnection& c) {
            d.willSendRequestForAuthenticationChallenge(c, challenge);
        });
        if (cancelled_) {
            end();
            return;
        }
        if (answer_ == Answer::kCancel) {
            fail(urlError(kUrlErrorUserCancelledAuthentication,
                          "The server asked for a user name and password and the load was "
                          "cancelled.",
                          url));
            return;
        }
        if (answer_ == Answer::kUseCredential && !credential_.serverTrust()) {
            ++authenticationFailures_;
            authorization_ = "Basic " + base64(credential_.user() + ":" + credential_.password());
            if (bodyStream_) {
                fail(urlError(kUrlErrorUnknown,
                              "The request's body stream was read already and cannot be sent "
                              "again with credentials.",
                              url));
                return;
            }
            startHop();
            return;
        }
        deliverHeldResponse();
    }

    // A kept-alive connection can be dead, or hold bytes a server sent beyond its last
    // response's length; a load that failed on one before any response came is tried once
    // more on a new connection, as long as its body can be sent again.
    bool shouldRetryOnFreshConnection() {
        if (retriedOnFreshConnection_ || kind_ != HopKind::kUndecided || bodyStream_ || !easy_) {
            return false;
        }
        long connects = 0;
        if (curl_easy_getinfo(easy_, CURLINFO_NUM_CONNECTS, &connects) != CURLE_OK ||
            connects != 0) {
            return false;
        }
        retriedOnFreshConnection_ = true;
        return true;
    }

    void fail(const Error& error) {
        if (ended_) {
            return;
        }
        tell([&](UrlConnectionDelegate& d, UrlConnection& c) { d.didFailWithError(c, error); });
        end();
    }

    // Ends the load: nothing reaches the delegate after this, and the cycle between the
    // connection and its delegate is broken.
    void end() {
        const auto self = shared_from_this();
        ended_ = true;
        releaseHop();
        if (idleCheck_) {
            idleCheck_->cancel();
            idleCheck_.reset();
        }
        if (bodyStream_) {
            bodyStream_->close();
            bodyStream_.reset();
        }
        const auto delegate = std::move(delegate_);
        const auto owner = std::move(owner_);
    }

    void releaseHop() {
        transferring_ = false;
        if (bodyHold_) {
            bodyHold_->cancel();
            bodyHold_.reset();
        }
        if (easy_) {
            if (NetworkThread::shared().isCurrent()) {
                auto& loop = NetworkThread::shared().state();
                loop.removeTransfer(easy_);
                // Only a handle whose transfer ran its course is kept: one stopped midway
                // (cancelled, paused, failed) may carry state that a reset does not clear.
                if (easyReusable_) {
                    loop.giveBackEasyHandle(easy_, easyHasCookies_);
                } else {
                    curl_easy_cleanup(easy_);
                }
            } else {
                curl_easy_cleanup(easy_);
            }
            easy_ = nullptr;
            easyReusable_ = false;
        }
        if (headerList_) {
            curl_slist_free_all(headerList_);
            headerList_ = nullptr;
        }
    }

    // The request's time-out counts from the last sign of life of the load.
    void scheduleIdleCheck() {
        const double timeout = original.timeoutInterval();
        if (timeout <= 0) {
            return;
        }
        const double due = lastActivity_ + timeout - monotonicSeconds();
        idleCheck_ = NetworkThread::shared().after(std::max(0.0, due), [weak = weak_from_this()] {
            const auto self = weak.lock();
            if (!self || self->ended_) {
                return;
            }
            if (self->cancelled_) {
                self->end();
                return;
            }
            if (self->paused_ || (self->bodyHold_ && self->bodyHold_->isValid())) {
                // A suspended load, or one whose body paces itself, is not idle by its own
                // doing: the time-out waits.
                self->touch();
                self->scheduleIdleCheck();
                return;
            }
            if (monotonicSeconds() - self->lastActivity_ >= self->original.timeoutInterval()) {
                self->fail(urlError(kUrlErrorTimedOut, "The request timed out.",
                                    self->currentRequest().url()));
                return;
            }
            self->scheduleIdleCheck();
        });
    }

    void touch() { lastActivity_ = monotonicSeconds(); }

    // --- libcurl callbacks (network thread, inside curl_multi_perform) ---------------

    static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* user) {
        auto* self = static_cast<Load*>(user);
        const std::size_t length = size * count;
        if (self->cancelled_ || self->ended_) {
            return 0;
        }
        if (self->paused_) {
            return CURL_WRITEFUNC_PAUSE;  // libcurl keeps the bytes and offers them again
        }
        self->touch();
        // A line at a time, as a rule; the lines libcurl kept through a pause come back
        // together.
        std::string_view rest(data, length);
        while (!rest.empty()) {
            const auto end = rest.find('\n');
            const std::string_view line =
                end == std::string_view::npos ? rest : rest.substr(0, end + 1);
            rest.remove_prefix(line.size());
            if (!self->headerLine(line)) {
                return 0;
            }
        }
        return length;
    }

    // False stops the transfer.
    bool headerLine(std::string_view line) {
        headerBytes_ += line.size();
        if (headerBytes_ > kHeaderBytesLimit) {
            bodyError_ =
                urlError(kUrlErrorBadServerResponse, "The server's response headers are too large.",
                         currentRequest().url());
            return false;
        }
        if (line.rfind("HTTP/", 0) == 0) {
            // A new response begins (after a 1xx, or the first).
            headerBytes_ = line.size();
            headers_ = HeaderFields();
            const auto space = line.find(' ');
            httpVersion_ = std::string(trim(line.substr(0, space)));
            status_ = 0;
            if (space != std::string_view::npos) {
                const std::string_view code = line.substr(space + 1);
                int status = 0;
                for (std::size_t i = 0;
                     i < code.size() && i < 3 && code[i] >= '0' && code[i] <= '9'; ++i) {
                    status = status * 10 + (code[i] - '0');
                }
                status_ = status;
            }
            return true;
        }
        const std::string_view content = trim(line);
        if (content.empty()) {
            headersEnded();
            return !cancelled_;
        }
        const auto colon = content.find(':');
        if (colon == std::string_view::npos) {
            return true;
        }
        const std::string_view name = trim(content.substr(0, colon));
        const std::string_view value = trim(content.substr(colon + 1));
        // A bare CR ends a line for some readers and not for others, and two lengths frame
        // the body two ways: either lets a server, or whoever sits between, smuggle a second
        // response into this one.
        const bool isLength = HeaderFields::sameName(name, "Content-Length");
        const auto length =
            isLength ? contentLength(value, headers_.value("Content-Length")) : std::nullopt;
        if (value.find('\r') != std::string_view::npos || (isLength && !length)) {
            curl_easy_setopt(easy_, CURLOPT_FORBID_REUSE, 1L);
            bodyError_ = urlError(
                kUrlErrorBadServerResponse,
                "The server's response header \"" + std::string(name) + "\" cannot be read.",
                currentRequest().url());
            return false;
        }
        if (isLength) {
            headers_.set(name, *length);
        } else {
            headers_.add(name, value);
        }
        return true;
    }

    void headersEnded() {
        if (status_ >= 100 && status_ < 200) {
            return;  // an interim response; the real one follows
        }
        if (headers_.contains("Transfer-Encoding") && headers_.contains("Content-Length")) {
            // The chunks frame the body; the server's idea of where its reply ends is not to
            // be trusted for the next one on this connection.
            curl_easy_setopt(easy_, CURLOPT_FORBID_REUSE, 1L);
        }
        const UrlRequest request = currentRequest();
        hopResponse_ = std::make_shared<HttpUrlResponse>(request.url(), static_cast<int>(status_),
                                                         httpVersion_, headers_);
        if (isRedirectStatus(status_) && headers_.contains("Location")) {
            kind_ = HopKind::kRedirect;
            return;
        }
        if (status_ == 401) {
            const auto challenge = headers_.value("WWW-Authenticate");
            if (challenge && basicChallenge(*challenge)) {
                kind_ = HopKind::kAuthentication;
                return;
            }
        }
        kind_ = HopKind::kFinal;
        tell([&](UrlConnectionDelegate& d, UrlConnection& c) {
            d.didReceiveResponse(c, hopResponse_);
        });
    }

    static std::size_t onWrite(char* data, std::size_t size, std::size_t count, void* user) {
        auto* self = static_cast<Load*>(user);
        const std::size_t length = size * count;
        if (self->cancelled_ || self->ended_) {
            return 0;
        }
        if (self->paused_) {
            return CURL_WRITEFUNC_PAUSE;
        }
        self->touch();
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(data);
        if (self->kind_ != HopKind::kFinal) {
            const std::size_t room =
                kHeldBodyLimit - std::min(kHeldBodyLimit, self->heldBody_.size());
            self->heldBody_.insert(self->heldBody_.end(), bytes, bytes + std::min(room, length));
            return length;
        }
        if (self->cacheable_) {
            if (self->cacheCopy_.size() + length <= kCacheableBodyLimit) {
                self->cacheCopy_.insert(self->cacheCopy_.end(), bytes, bytes + length);
            } else {
                self->cacheable_ = false;
                Bytes().swap(self->cacheCopy_);
            }
        }
        self->tell([&](UrlConnectionDelegate& d, UrlConnection& c) {
            d.didReceiveData(c, std::span<const std::uint8_t>(bytes, length));
        });
        return self->cancelled_ ? 0 : length;
    }

    static std::size_t onRead(char* buffer, std::size_t size, std::size_t count, void* user) {
        auto* self = static_cast<Load*>(user);
        std::size_t room = size * count;
        if (self->cancelled_ || self->ended_) {
            return CURL_READFUNC_ABORT;
        }
        if (self->paused_) {
            return CURL_READFUNC_PAUSE;
        }
        self->touch();
        auto* out = reinterpret_cast<std::uint8_t*>(buffer);
        if (self->bodyData_) {
            const Bytes& data = *self->bodyData_;
            const auto offset = static_cast<std::size_t>(self->bodySent_);
            const std::size_t n = std::min(room, data.size() - std::min(offset, data.size()));
            std::memcpy(out, data.data() + offset, n);
            self->bodySent_ += static_cast<std::int64_t>(n);
            return n;
        }
        InputStream& stream = *self->bodyStream_;
        if (const double wait = stream.secondsUntilReadable(); wait > 0) {
            self->holdBodyFor(wait);
            return CURL_READFUNC_PAUSE;
        }
        const Url url = self->currentRequest().url();
        if (self->bodyLength_ >= 0) {
            room = static_cast<std::size_t>(std::min<std::int64_t>(
                static_cast<std::int64_t>(room), self->bodyLength_ - self->bodySent_));
            if (room == 0) {
                return 0;
            }
        }
        const long n = stream.read(out, room);
        if (n < 0) {
            self->bodyError_ = stream.streamError().value_or(
                urlError(kUrlErrorUnknown, "The request's body could not be read.", url));
            return CURL_READFUNC_ABORT;
        }
        self->bodySent_ += n;
        if (n == 0 && self->bodyLength_ >= 0 && self->bodySent_ < self->bodyLength_) {
            self->bodyError_ =
                urlError(kUrlErrorUnknown,
                         "The request's body ended after " + std::to_string(self->bodySent_) +
                             " of the " + std::to_string(self->bodyLength_) + " bytes it declared.",
                         url);
            return CURL_READFUNC_ABORT;
        }
        // A paced stream is not asked for more before its time: its length is its own.
        if (self->bodyLength_ >= 0 && self->bodySent_ == self->bodyLength_ &&
            stream.hasBytesAvailable() && stream.secondsUntilReadable() == 0) {
            std::uint8_t extra;
            if (stream.read(&extra, 1) > 0) {
                self->bodyError_ =
                    urlError(kUrlErrorUnknown,
                             "The request's body is longer than the " +
                                 std::to_string(self->bodyLength_) + " bytes it declared.",
                             url);
                return CURL_READFUNC_ABORT;
            }
        }
        return static_cast<std::size_t>(n);
    }

    // A body stream that paces its reader: the transfer pauses and a timer of this thread
    // lets it go on, so that no other load waits meanwhile. The wait is no idleness.
    void holdBodyFor(double seconds) {
        if (bodyHold_) {
            bodyHold_->cancel();
        }
        bodyHold_ = NetworkThread::shared().after(seconds, [weak = weak_from_this()] {
            const auto self = weak.lock();
            if (!self || self->ended_ || !self->easy_ || !self->transferring_) {
                return;
            }
            self->touch();
            if (!self->paused_) {
                curl_easy_pause(self->easy_, CURLPAUSE_CONT);
            }
        });
        touch();
    }

    static int onSeek(void* user, curl_off_t offset, int origin) {
        auto* self = static_cast<Load*>(user);
        if (origin != SEEK_SET || !self->bodyData_ || offset < 0 ||
            static_cast<std::size_t>(offset) > self->bodyData_->size()) {
            return CURL_SEEKFUNC_CANTSEEK;
        }
        self->bodySent_ = offset;
        return CURL_SEEKFUNC_OK;
    }

    static int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t uploaded) {
        auto* self = static_cast<Load*>(user);
        if (self->cancelled_ || self->ended_) {
            return 1;
        }
        if (uploaded > self->uploaded_ && self->kind_ == HopKind::kUndecided) {
            const std::int64_t delta = uploaded - self->uploaded_;
            self->uploaded_ = uploaded;
            self->touch();
            self->tell([&](UrlConnectionDelegate& d, UrlConnection& c) {
                d.didSendBodyData(c, delta, uploaded, self->bodyLength_);
            });
        }
        return self->cancelled_ ? 1 : 0;
    }

    static CURLcode onSslContext(CURL*, void* context, void* user) {
        SSL_CTX_set_cert_verify_callback(static_cast<SSL_CTX*>(context), &Load::onVerify, user);
        return CURLE_OK;
    }

    // OpenSSL asks whether the server's chain is good: the delegate decides, through a
    // server-trust challenge, before the handshake goes on.
    static int onVerify(X509_STORE_CTX* context, void* user) {
        auto* self = static_cast<Load*>(user);
        std::vector<Bytes> chain;
        if (STACK_OF(X509)* sent = X509_STORE_CTX_get0_untrusted(context)) {
            for (int i = 0; i < sk_X509_num(sent); ++i) {
                X509* certificate = sk_X509_value(sent, i);
                const int length = i2d_X509(certificate, nullptr);
                if (length <= 0) {
                    continue;
                }
                Bytes der(static_cast<std::size_t>(length));
                unsigned char* out = der.data();
                i2d_X509(certificate, &out);
                chain.push_back(std::move(der));
            }
        }
        const bool trusted = self->judgeServerTrust(std::move(chain));
        if (!trusted) {
            X509_STORE_CTX_set_error(context, X509_V_ERR_APPLICATION_VERIFICATION);
        }
        return trusted ? 1 : 0;
    }

    bool judgeServerTrust(std::vector<Bytes> chain) {
        const Url url = currentRequest().url();
        auto untrusted = [&](const std::string& reason) {
            bodyError_ = urlError(kUrlErrorServerCertificateUntrusted,
                                  "The certificate for this server is invalid (" + reason +
                                      "): it may not be \"" + url.host() + "\".",
                                  url);
            return false;
        };
        if (cancelled_ || ended_) {
            return false;
        }
        auto trust = ServerTrust::create(std::move(chain), TrustPolicy::ssl(url.host()));
        if (!trust) {
            return untrusted("the server sent no readable certificate");
        }
        ProtectionSpace space(url.host(), url.port().value_or(443), "https", std::nullopt,
                              kAuthenticationMethodServerTrust, trust);
        AuthenticationChallenge challenge(space, 0, nullptr, *this);
        answer_ = Answer::kNone;
        tell([&](UrlConnectionDelegate& d, UrlConnection& c) {
            d.willSendRequestForAuthenticationChallenge(c, challenge);
        });
        if (cancelled_) {
            return false;
        }
        if (answer_ == Answer::kCancel) {
            return untrusted("the server's certificate was not accepted");
        }
        if (answer_ == Answer::kUseCredential && credential_.serverTrust()) {
            return true;
        }
        const auto result = trust->evaluate();
        if (result == TrustResult::kProceed || result == TrustResult::kUnspecified) {
            return true;
        }
        return untrusted(trust->failureReason().empty() ? "the chain could not be evaluated"
                                                        : trust->failureReason());
    }

    friend class UrlConnection;

    mutable std::mutex requestMutex_;  // guards current_
    UrlRequest current_;
    std::shared_ptr<UrlConnectionDelegate> delegate_;
    std::atomic<bool> started_{false};
    std::atomic<bool> cancelled_{false};

    // Network thread only, from here on.
    std::shared_ptr<UrlConnection> owner_;
    bool ended_ = false;
    int redirects_ = 0;
    int authenticationFailures_ = 0;
    std::optional<std::string> authorization_;
    Answer answer_ = Answer::kNone;
    Credential credential_{"", "", CredentialPersistence::kNone};
    double lastActivity_ = 0;
    std::shared_ptr<TimerHandle> idleCheck_;
    std::shared_ptr<TimerHandle> bodyHold_;  // lets a paced body go on
    bool paused_ = false;
    bool hopWaiting_ = false;  // a hop was due while paused

    // The current hop.
    CURL* easy_ = nullptr;
    bool transferring_ = false;  // easy_ is in the multi handle
    bool easyHasCookies_ = false;
    bool easyReusable_ = false;
    bool freshConnectionNext_ = false;
    bool retriedOnFreshConnection_ = false;
    curl_slist* headerList_ = nullptr;
    char errorText_[CURL_ERROR_SIZE] = {};
    HopKind kind_ = HopKind::kUndecided;
    long status_ = 0;
    std::string httpVersion_;
    HeaderFields headers_;
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

// ---------------------------------------------------------------------------------------

void UrlConnectionDelegate::willSendRequestForAuthenticationChallenge(
    UrlConnection&, const AuthenticationChallenge& challenge) {
    challenge.sender().performDefaultHandling(challenge);
}

std::optional<UrlRequest> UrlConnectionDelegate::willSendRequest(
    UrlConnection&, const UrlRequest& request, const std::shared_ptr<const UrlResponse>&) {
    return request;
}

std::optional<CachedUrlResponse> UrlConnectionDelegate::willCacheResponse(
    UrlConnection&, const CachedUrlResponse& proposed) {
    return proposed;
}

std::shared_ptr<UrlConnection> UrlConnection::create(
    const UrlRequest& request, std::shared_ptr<UrlConnectionDelegate> delegate) {
    if (!delegate) {
        throw std::invalid_argument("UrlConnection: a connection needs a delegate");
    }
    return std::shared_ptr<UrlConnection>(
        new UrlConnection(std::make_shared<Load>(request, std::move(delegate))));
}

UrlConnection::UrlConnection(std::shared_ptr<Load> load) : load_(std::move(load)) {}

UrlConnection::~UrlConnection() = default;

void UrlConnection::start() {
    load_->start(shared_from_this());
}

void UrlConnection::cancel() {
    load_->cancel();
}

void UrlConnection::suspend() {
    load_->setSuspended(true);
}

void UrlConnection::resume() {
    load_->setSuspended(false);
}

const UrlRequest& UrlConnection::originalRequest() const {
    return load_->original;
}

UrlRequest UrlConnection::currentRequest() const {
    return load_->currentRequest();
}

}  // namespace platform
