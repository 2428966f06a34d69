#include "platform/net/UrlConnection.h"

#include <curl/curl.h>
#include <openssl/evp.h>

#include <algorithm>
#include <stdexcept>

#include <strings.h>
#include <time.h>

#include "platform/Text.h"
#include "platform/net/detail/UrlConnectionLoad.h"

namespace platform {

namespace detail {

Error urlError(long code, const std::string& description, const Url& url) {
    return Error(kUrlErrorDomain, code,
                 Map{{kLocalizedDescriptionKey, Value(description)},
                     {kUrlErrorFailingUrlErrorKey, Value(url.absoluteString())},
                     {kUrlErrorFailingUrlStringErrorKey, Value(url.absoluteString())}});
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

}  // namespace detail

namespace {

using detail::basicChallenge;
using detail::trim;
using detail::urlError;

constexpr int kMaximumRedirects = 16;

// The clock of a load's signs of life, read at every callback: the coarse monotonic clock
// costs a quarter of the precise one, and its few milliseconds of grain are nothing beside
// a time-out. It runs on the same base as steady_clock, a tick behind at most, so the
// sweep's due times stay comparable with it.
double activitySeconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
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

}  // namespace

// --- the load, hop by hop (network thread) -------------------------------------------------

void UrlConnection::Load::start(std::shared_ptr<UrlConnection> owner) {
    if (started_.exchange(true)) {
        return;
    }
    // Kept alive by the network thread until the load ends; owner_ is set there, since the
    // end of the load lets it go there, whatever thread started it or cancelled it
    // meanwhile. Until then the connection travels in startingOwner_, which holds this load
    // too, so that the task carries a bare pointer and costs no allocation.
    startingOwner_ = std::move(owner);
    NetworkThread::shared().post([this] {
        owner_ = std::move(startingOwner_);
        begin();
    });
}

void UrlConnection::Load::cancel() {
    if (cancelled_.exchange(true)) {
        return;
    }
    NetworkThread::shared().post([self = shared_from_this()] { self->end(); });
}

void UrlConnection::Load::setSuspended(bool suspended) {
    NetworkThread::shared().post(
        [self = shared_from_this(), suspended] { self->pause(suspended); });
}

void UrlConnection::Load::useCredential(const Credential& credential,
                                        const AuthenticationChallenge&) {
    answer_ = Answer::kUseCredential;
    credential_ = credential;
}

void UrlConnection::Load::continueWithoutCredential(const AuthenticationChallenge&) {
    answer_ = Answer::kContinueWithout;
}

void UrlConnection::Load::cancelAuthenticationChallenge(const AuthenticationChallenge&) {
    answer_ = Answer::kCancel;
}

void UrlConnection::Load::performDefaultHandling(const AuthenticationChallenge&) {
    answer_ = Answer::kDefault;
}

void UrlConnection::Load::begin() {
    if (cancelled_) {
        end();
        return;
    }
    tell([](UrlConnectionDelegate& d, UrlConnection& c) {
        d.connectionShouldUseCredentialStorage(c);
    });
    lastActivity_ = activitySeconds();
    if (original().timeoutInterval() > 0) {
        NetworkThread::shared().state().watch(shared_from_this());
    }
    startHop();
}

void UrlConnection::Load::startHop() {
    releaseHop();
    if (paused_) {
        hopWaiting_ = true;  // resume() starts it
        return;
    }
    kind_ = HopKind::kUndecided;
    status_ = 0;
    httpVersion_.clear();
    headerBlock_.clear();
    headerBytes_ = 0;
    heldBody_.clear();
    hopResponse_.reset();
    uploaded_ = 0;
    bodySent_ = 0;
    bodyError_.reset();
    cacheCopy_.clear();
    cacheable_ = false;

    const UrlRequest& request = *hopRequest_;
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
    const bool https = url.scheme() == "https";
    easyHttps_ = https;
    easyPlain_ = request.httpMethod() == "GET" && !request.httpBody() &&
                 !request.httpBodyStream() && !freshConnectionNext_;
    auto& loop = NetworkThread::shared().state();
    const auto kept = easyPlain_ ? loop.takeConfiguredHandle(easyHasCookies_, https, url)
                                 : NetworkThread::State::ConfiguredHandle{};
    const bool configured = kept.handle.easy != nullptr;
    const auto handle = configured ? kept.handle : loop.takeEasyHandle(easyHasCookies_);
    easy_ = handle.easy;
    easyUrl_ = handle.url;
    easyAcceptEncoding_ = configured ? kept.acceptEncoding : std::nullopt;
    if (!easy_) {
        fail(urlError(kUrlErrorUnknown, "The load could not be set up.", url));
        return;
    }
    CURL* e = easy_;
    // What points into this load, or differs from one plain GET to the next.
    if (!kept.hasUrl) {
        const std::string& text = url.absoluteString();
        if (curl_url_set(easyUrl_, CURLUPART_URL, text.c_str(), CURLU_NON_SUPPORT_SCHEME) ==
            CURLUE_OK) {
            curl_easy_setopt(e, CURLOPT_CURLU, easyUrl_);
        } else {
            // libcurl's own reading of the text fails the transfer as it always did.
            curl_easy_setopt(e, CURLOPT_CURLU, nullptr);
            curl_easy_setopt(e, CURLOPT_URL, text.c_str());
        }
    }
    hopUrl_ = url;
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, errorText_);
    errorText_[0] = '\0';
    const double timeout = request.timeoutInterval();
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS,
                     timeout > 0 ? static_cast<long>(std::max(1.0, timeout * 1000)) : 0L);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
    if (https) {
        setTlsCallbackData(e);
    }
    if (!configured) {
        curl_easy_setopt(e, CURLOPT_PROXY, loop.proxyFor(https).c_str());
        curl_easy_setopt(e, CURLOPT_NOPROXY, loop.noProxy().c_str());
        curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Load::onHeader);
        curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Load::onWrite);
        if (easyHasCookies_) {
            // Once per handle: each call adds to the files libcurl reads at every transfer.
            curl_easy_setopt(e, CURLOPT_SHARE, loop.cookieShare());
            curl_easy_setopt(e, CURLOPT_COOKIEFILE, "");
        }
        if (freshConnectionNext_) {
            curl_easy_setopt(e, CURLOPT_FRESH_CONNECT, 1L);
            freshConnectionNext_ = false;
        }
        if (https) {
            configureTls(e);
        }
    }

    if (!setMethodAndBody(request)) {
        return;
    }
    if (!setHeaders(request)) {
        return;
    }
    transferring_ = true;
    transferSelf_ = shared_from_this();
    NetworkThread::shared().state().addTransfer(e, *this);
}

void UrlConnection::Load::transferEnded(CURLcode result) {
    transferring_ = false;
    const auto self = std::move(transferSelf_);
    hopDone(result);
}

void UrlConnection::Load::pause(bool on) {
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

bool UrlConnection::Load::setMethodAndBody(const UrlRequest& request) {
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
        // The progress callback tells of the body sent; a load without one is spared
        // libcurl's calls to it, several per transfer.
        curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &Load::onProgress);
        curl_easy_setopt(e, CURLOPT_XFERINFODATA, this);
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

bool UrlConnection::Load::setHeaders(const UrlRequest& request) {
    bool hasExpect = false;
    std::optional<std::string> acceptEncoding;
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
            acceptEncoding = value;
            continue;
        }
        if (HeaderFields::sameName(name, "Expect")) {
            hasExpect = true;
        }
        // "Name;" is libcurl's way of sending a header with an empty value.
        const std::string line = value.empty() ? name + ";" : name + ": " + value;
        headerList_ = curl_slist_append(headerList_, line.c_str());
    }
    // libcurl would hold a large or open-ended body back until the server answers "100
    // Continue"; ours goes at once. Without a body it never asks, and it sends "Accept: */*"
    // itself when the request names no Accept: a list left empty spares it a header search.
    if (!hasExpect && (bodyData_ || bodyStream_)) {
        headerList_ = curl_slist_append(headerList_, "Expect:");
    }
    if ((bodyData_ || bodyStream_) && bodyLength_ < 0) {
        headerList_ = curl_slist_append(headerList_, "Transfer-Encoding: chunked");
    }
    if (authorization_) {
        headerList_ = curl_slist_append(headerList_, ("Authorization: " + *authorization_).c_str());
    }
    curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headerList_);
    // A kept handle may ask for other encodings than this request, or for some where this
    // one asks for none.
    if (acceptEncoding != easyAcceptEncoding_) {
        curl_easy_setopt(easy_, CURLOPT_ACCEPT_ENCODING,
                         acceptEncoding ? acceptEncoding->c_str() : nullptr);
        easyAcceptEncoding_ = std::move(acceptEncoding);
    }
    return true;
}

void UrlConnection::Load::hopDone(CURLcode result) {
    easyReusable_ = result == CURLE_OK && !cancelled_ && !bodyError_;
    if (ended_) {
        return;
    }
    if (cancelled_) {
        end();
        return;
    }
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
        fail(errorForCurl(result, errorText_, currentUrl()));
        return;
    }
    if (kind_ == HopKind::kUndecided) {
        // No response at all can only be a broken exchange.
        fail(urlError(kUrlErrorBadServerResponse, "The server sent no response.", currentUrl()));
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
        tell([&](UrlConnectionDelegate& d, UrlConnection& c) { d.willCacheResponse(c, proposed); });
    }
    tell([](UrlConnectionDelegate& d, UrlConnection& c) { d.didFinishLoading(c); });
    end();
}

void UrlConnection::Load::deliverHeldResponse() {
    kind_ = HopKind::kFinal;
    tell(
        [&](UrlConnectionDelegate& d, UrlConnection& c) { d.didReceiveResponse(c, hopResponse_); });
    if (!heldBody_.empty()) {
        tell([&](UrlConnectionDelegate& d, UrlConnection& c) {
            d.didReceiveData(c, std::span<const std::uint8_t>(heldBody_));
        });
    }
    tell([](UrlConnectionDelegate& d, UrlConnection& c) { d.didFinishLoading(c); });
    end();
}

void UrlConnection::Load::redirect() {
    UrlRequest request = *hopRequest_;
    const auto location = hopResponse_->allHeaderFields().value("Location");
    const auto target = location ? Url::parse(trim(*location), request.url()) : std::nullopt;
    if (!target) {
        deliverHeldResponse();
        return;
    }
    if (++redirects_ > kMaximumRedirects) {
        fail(urlError(kUrlErrorHttpTooManyRedirects, "Too many HTTP redirects.", request.url()));
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
    hopRequest_ = std::make_shared<const UrlRequest>(std::move(*next));
    current_.set(hopRequest_);
    startHop();
}

void UrlConnection::Load::authenticate() {
    const Url& url = currentUrl();
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
    if (answer_ == Answer::kUseCredential && !credential_->serverTrust()) {
        ++authenticationFailures_;
        authorization_ = "Basic " + base64(credential_->user() + ":" + credential_->password());
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

bool UrlConnection::Load::shouldRetryOnFreshConnection() {
    if (retriedOnFreshConnection_ || kind_ != HopKind::kUndecided || bodyStream_ || !easy_) {
        return false;
    }
    long connects = 0;
    if (curl_easy_getinfo(easy_, CURLINFO_NUM_CONNECTS, &connects) != CURLE_OK || connects != 0) {
        return false;
    }
    retriedOnFreshConnection_ = true;
    return true;
}

void UrlConnection::Load::fail(const Error& error) {
    if (ended_) {
        return;
    }
    tell([&](UrlConnectionDelegate& d, UrlConnection& c) { d.didFailWithError(c, error); });
    end();
}

void UrlConnection::Load::end() {
    const auto self = shared_from_this();
    ended_ = true;
    releaseHop();
    NetworkThread::shared().state().unwatch(this);  // nothing if it was never watched
    if (bodyStream_) {
        bodyStream_->close();
        bodyStream_.reset();
    }
    // What the load gathered goes now, on this thread: a connection kept after its end holds
    // no body, response or password, and the network thread reuses the memory it frees.
    bodyData_.reset();
    hopResponse_.reset();
    headerBlock_ = HeaderBlock();
    Bytes().swap(heldBody_);
    Bytes().swap(cacheCopy_);
    authorization_.reset();
    credential_.reset();
    const auto delegate = std::move(delegate_);
    const auto owner = std::move(owner_);
}

void UrlConnection::Load::forbidReuse() {
    curl_easy_setopt(easy_, CURLOPT_FORBID_REUSE, 1L);
    easyPlain_ = false;  // the option would stay with the handle
}

void UrlConnection::Load::releaseHop() {
    const bool inMulti = transferring_;
    transferring_ = false;
    const auto self = std::move(transferSelf_);  // let go once nothing here needs this
    if (bodyHold_) {
        bodyHold_->cancel();
        bodyHold_.reset();
    }
    if (easy_) {
        if (NetworkThread::shared().isCurrent()) {
            auto& loop = NetworkThread::shared().state();
            if (inMulti) {
                loop.removeTransfer(easy_);
            }
            // Only a handle whose transfer ran its course is kept: one stopped midway
            // (cancelled, paused, failed) may carry state that a reset does not clear.
            const NetworkThread::State::EasyHandle handle{easy_, easyUrl_};
            if (easyReusable_ && easyPlain_) {
                loop.keepConfiguredHandle(handle, easyHasCookies_, easyHttps_, std::move(*hopUrl_),
                                          std::move(easyAcceptEncoding_));
            } else if (easyReusable_) {
                loop.giveBackEasyHandle(handle, easyHasCookies_);
            } else {
                NetworkThread::State::destroyEasyHandle(handle);
            }
        } else {
            NetworkThread::State::destroyEasyHandle({easy_, easyUrl_});
        }
        easy_ = nullptr;
        easyUrl_ = nullptr;
        easyReusable_ = false;
        easyPlain_ = false;
        easyAcceptEncoding_.reset();
    }
    if (headerList_) {
        curl_slist_free_all(headerList_);
        headerList_ = nullptr;
    }
}

double UrlConnection::Load::idleDue() const {
    return lastActivity_ + original().timeoutInterval();
}

void UrlConnection::Load::idleCheck() {
    if (ended_) {
        return;
    }
    if (cancelled_) {
        end();
        return;
    }
    if (paused_ || (bodyHold_ && bodyHold_->isValid())) {
        // A suspended load, or one whose body paces itself, is not idle by its own doing:
        // the time-out waits.
        touch();
        return;
    }
    if (activitySeconds() - lastActivity_ >= original().timeoutInterval()) {
        fail(urlError(kUrlErrorTimedOut, "The request timed out.", currentUrl()));
    }
}

void UrlConnection::Load::touch() {
    lastActivity_ = activitySeconds();
}

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
    return load_->original();
}

UrlRequest UrlConnection::currentRequest() const {
    return load_->currentRequest();
}

}  // namespace platform
