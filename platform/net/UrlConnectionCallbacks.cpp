// The libcurl callbacks of a connection's load (network thread, inside curl_multi_perform).

#include <cstring>

#include "platform/net/detail/UrlConnectionLoad.h"

namespace platform {

namespace {

using detail::basicChallenge;
using detail::trim;
using detail::urlError;

// Bodies of responses that are not handed on (a redirect, a 401 before its challenge) are
// kept only up to this size; a larger one is cut, since nobody reads it unless the
// delegate stops there.
constexpr std::size_t kHeldBodyLimit = 8u << 20;
// A body up to this size is offered to willCacheResponse with its bytes.
constexpr std::size_t kCacheableBodyLimit = 1u << 20;
// A server that sends more header bytes than this for one response is not speaking HTTP in
// good faith; the load fails rather than growing without bound.
constexpr std::size_t kHeaderBytesLimit = 256u << 10;

bool isRedirectStatus(long status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

}  // namespace

std::size_t UrlConnection::Load::onHeader(char* data, std::size_t size, std::size_t count,
                                          void* user) {
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

bool UrlConnection::Load::headerLine(std::string_view line) {
    headerBytes_ += line.size();
    if (headerBytes_ > kHeaderBytesLimit) {
        bodyError_ = urlError(kUrlErrorBadServerResponse,
                              "The server's response headers are too large.", currentUrl());
        return false;
    }
    if (line.rfind("HTTP/", 0) == 0) {
        // A new response begins (after a 1xx, or the first).
        headerBytes_ = line.size();
        headerBlock_.clear();
        const auto space = line.find(' ');
        httpVersion_ = std::string(trim(line.substr(0, space)));
        status_ = 0;
        if (space != std::string_view::npos) {
            const std::string_view code = line.substr(space + 1);
            int status = 0;
            for (std::size_t i = 0; i < code.size() && i < 3 && code[i] >= '0' && code[i] <= '9';
                 ++i) {
                status = status * 10 + (code[i] - '0');
            }
            status_ = status;
        }
        return true;
    }
    if (trim(line).empty()) {
        headersEnded();
        return !cancelled_;
    }
    // The fields are read from the lines only if someone asks for them (HttpUrlResponse).
    const auto field = headerBlock_.append(line);
    if (!field) {
        return true;
    }
    // A bare CR ends a line for some readers and not for others, and two lengths frame
    // the body two ways: either lets a server, or whoever sits between, smuggle a second
    // response into this one.
    if (field->value.find('\r') != std::string_view::npos ||
        !headerBlock_.contentLengthReadable()) {
        forbidReuse();
        bodyError_ = urlError(
            kUrlErrorBadServerResponse,
            "The server's response header \"" + std::string(field->name) + "\" cannot be read.",
            currentUrl());
        return false;
    }
    return true;
}

void UrlConnection::Load::headersEnded() {
    if (status_ >= 100 && status_ < 200) {
        return;  // an interim response; the real one follows
    }
    if (headerBlock_.hasTransferEncoding() && headerBlock_.contentLength()) {
        // The chunks frame the body; the server's idea of where its reply ends is not to
        // be trusted for the next one on this connection.
        forbidReuse();
    }
    hopResponse_ = HttpUrlResponse::fromHeaderBlock(currentUrl(), static_cast<int>(status_),
                                                    httpVersion_, headerBlock_);
    headerBlock_.clear();
    // Only these statuses need a field: the block is read for them alone.
    if (isRedirectStatus(status_) && hopResponse_->allHeaderFields().contains("Location")) {
        kind_ = HopKind::kRedirect;
        return;
    }
    if (status_ == 401) {
        const auto challenge = hopResponse_->allHeaderFields().value("WWW-Authenticate");
        if (challenge && basicChallenge(*challenge)) {
            kind_ = HopKind::kAuthentication;
            return;
        }
    }
    kind_ = HopKind::kFinal;
    cacheable_ = delegate_ && delegate_->respondsToWillCacheResponse();
    tell(
        [&](UrlConnectionDelegate& d, UrlConnection& c) { d.didReceiveResponse(c, hopResponse_); });
}

std::size_t UrlConnection::Load::onWrite(char* data, std::size_t size, std::size_t count,
                                         void* user) {
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
        const std::size_t room = kHeldBodyLimit - std::min(kHeldBodyLimit, self->heldBody_.size());
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

std::size_t UrlConnection::Load::onRead(char* buffer, std::size_t size, std::size_t count,
                                        void* user) {
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
    if (self->bodyLength_ >= 0) {
        room = static_cast<std::size_t>(std::min<std::int64_t>(
            static_cast<std::int64_t>(room), self->bodyLength_ - self->bodySent_));
        if (room == 0) {
            return 0;
        }
    }
    const long n = stream.read(out, room);
    if (n < 0) {
        self->bodyError_ = stream.streamError().value_or(urlError(
            kUrlErrorUnknown, "The request's body could not be read.", self->currentUrl()));
        return CURL_READFUNC_ABORT;
    }
    self->bodySent_ += n;
    if (n == 0 && self->bodyLength_ >= 0 && self->bodySent_ < self->bodyLength_) {
        self->bodyError_ =
            urlError(kUrlErrorUnknown,
                     "The request's body ended after " + std::to_string(self->bodySent_) +
                         " of the " + std::to_string(self->bodyLength_) + " bytes it declared.",
                     self->currentUrl());
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
                         self->currentUrl());
            return CURL_READFUNC_ABORT;
        }
    }
    return static_cast<std::size_t>(n);
}

void UrlConnection::Load::holdBodyFor(double seconds) {
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

int UrlConnection::Load::onSeek(void* user, curl_off_t offset, int origin) {
    auto* self = static_cast<Load*>(user);
    if (origin != SEEK_SET || !self->bodyData_ || offset < 0 ||
        static_cast<std::size_t>(offset) > self->bodyData_->size()) {
        return CURL_SEEKFUNC_CANTSEEK;
    }
    self->bodySent_ = offset;
    return CURL_SEEKFUNC_OK;
}

int UrlConnection::Load::onProgress(void* user, curl_off_t, curl_off_t, curl_off_t,
                                    curl_off_t uploaded) {
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

}  // namespace platform
