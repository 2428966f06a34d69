#include "SocialSDK/core/image/RAZududeImageLoadConnection.h"

#include <algorithm>
#include <span>
#include <utility>

#include "platform/net/UrlRequest.h"
#include "platform/net/UrlSessionTask.h"

namespace {

// A server's announced length reserves at most this much up front; a larger picture grows
// as it arrives, so that a lying header costs nothing.
constexpr std::int64_t kLargestReservation = 16 << 20;

std::optional<platform::Url> absoluteUrl(const std::string& text) {
    auto url = platform::Url::parse(text);
    if (!url || url->scheme().empty()) {
        return std::nullopt;
    }
    return url;
}

platform::Error badUrlError(const std::string& text) {
    return platform::Error(platform::kUrlErrorDomain, platform::kUrlErrorBadUrl,
                           platform::Map{
                               {platform::kLocalizedDescriptionKey, "bad URL"},
                               {platform::kUrlErrorFailingUrlStringErrorKey, text},
                           });
}

}  // namespace

// Takes the URL connection's calls on the network thread to the image connection, which it
// does not keep alive: the URL connection holds its delegate until the load ends.
class RAZududeImageLoadConnection::Relay : public platform::UrlConnectionDelegate {
  public:
    explicit Relay(std::weak_ptr<RAZududeImageLoadConnection> owner) : owner_(std::move(owner)) {}

    void didReceiveResponse(platform::UrlConnection& connection,
                            const std::shared_ptr<const platform::UrlResponse>& response) override {
        if (auto owner = owner_.lock()) {
            owner->received(connection, response);
        }
    }
    void didReceiveData(platform::UrlConnection& connection,
                        std::span<const std::uint8_t> data) override {
        if (auto owner = owner_.lock()) {
            owner->received(connection, data.data(), data.size());
        }
    }
    void didFinishLoading(platform::UrlConnection& connection) override {
        if (auto owner = owner_.lock()) {
            owner->finished(connection);
        }
    }
    void didFailWithError(platform::UrlConnection& connection,
                          const platform::Error& error) override {
        if (auto owner = owner_.lock()) {
            owner->failed(connection, error);
        }
    }

  private:
    std::weak_ptr<RAZududeImageLoadConnection> owner_;
};

std::shared_ptr<RAZududeImageLoadConnection> RAZududeImageLoadConnection::create(
    std::string imageURL, std::weak_ptr<RZImageLoadConnectionDelegate> delegate, bool isGif,
    std::shared_ptr<platform::DispatchQueue> delegateQueue) {
    return std::shared_ptr<RAZududeImageLoadConnection>(new RAZududeImageLoadConnection(
        std::move(imageURL), std::move(delegate), isGif, std::move(delegateQueue)));
}

RAZududeImageLoadConnection::RAZududeImageLoadConnection(
    std::string imageURL, std::weak_ptr<RZImageLoadConnectionDelegate> delegate, bool isGif,
    std::shared_ptr<platform::DispatchQueue> delegateQueue)
    : imageURL_(std::move(imageURL)),
      url_(absoluteUrl(imageURL_)),
      isGif_(isGif),
      delegateQueue_(delegateQueue
                         ? std::move(delegateQueue)
                         : platform::DispatchQueue::serial("RAZududeImageLoadConnection")),
      delegate_(std::move(delegate)) {}

platform::Bytes RAZududeImageLoadConnection::responseData() const {
    std::lock_guard lock(mutex_);
    return responseData_;
}

std::shared_ptr<const platform::UrlResponse> RAZududeImageLoadConnection::response() const {
    std::lock_guard lock(mutex_);
    return response_;
}

void RAZududeImageLoadConnection::setResponse(
    std::shared_ptr<const platform::UrlResponse> response) {
    std::lock_guard lock(mutex_);
    response_ = std::move(response);
}

std::shared_ptr<RZImageLoadConnectionDelegate> RAZududeImageLoadConnection::delegate() const {
    std::lock_guard lock(mutex_);
    return delegate_.lock();
}

void RAZududeImageLoadConnection::setDelegate(
    std::weak_ptr<RZImageLoadConnectionDelegate> delegate) {
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
}

platform::Seconds RAZududeImageLoadConnection::timeoutInterval() const {
    std::lock_guard lock(mutex_);
    return timeoutInterval_;
}

void RAZududeImageLoadConnection::setTimeoutInterval(platform::Seconds timeout) {
    std::lock_guard lock(mutex_);
    timeoutInterval_ = timeout;
}

std::size_t RAZududeImageLoadConnection::maximumBytes() const {
    std::lock_guard lock(mutex_);
    return maximumBytes_;
}

void RAZududeImageLoadConnection::setMaximumBytes(std::size_t bytes) {
    std::lock_guard lock(mutex_);
    maximumBytes_ = bytes;
}

void RAZududeImageLoadConnection::start() {
    if (cancelled_ || started_.exchange(true)) {
        return;
    }
    if (!url_) {
        const platform::Error error = badUrlError(imageURL_);
        tell([error](RZImageLoadConnectionDelegate& delegate,
                     RAZududeImageLoadConnection& connection) {
            delegate.imageLoadConnection(connection, error);
        });
        return;
    }
    std::shared_ptr<platform::UrlConnection> connection;
    {
        std::lock_guard lock(mutex_);
        platform::UrlRequest request(*url_,
                                     platform::UrlRequestCachePolicy::kReturnCacheDataElseLoad,
                                     timeoutInterval_.count());
        request.setValue("gzip", "Accept-Encoding");
        connection_ =
            platform::UrlConnection::create(request, std::make_shared<Relay>(weak_from_this()));
        connection = connection_;
    }
    connection->start();
}

void RAZududeImageLoadConnection::cancel() {
    cancelled_ = true;
    std::shared_ptr<platform::UrlConnection> connection;
    {
        std::lock_guard lock(mutex_);
        connection = connection_;
    }
    if (connection) {
        connection->cancel();
    }
}

template <typename Call>
void RAZududeImageLoadConnection::tell(Call call) {
    delegateQueue_->async([self = shared_from_this(), call = std::move(call)] {
        if (self->cancelled_) {
            return;
        }
        if (auto delegate = self->delegate()) {
            call(*delegate, *self);
        }
    });
}

bool RAZududeImageLoadConnection::isOwn(const platform::UrlConnection& from) const {
    std::lock_guard lock(mutex_);
    return connection_.get() == &from;
}

void RAZududeImageLoadConnection::received(
    platform::UrlConnection& from, const std::shared_ptr<const platform::UrlResponse>& response) {
    if (!isOwn(from)) {
        return;
    }
    std::lock_guard lock(mutex_);
    response_ = response;
    const std::int64_t expected = response ? response->expectedContentLength() : -1;
    if (maximumBytes_ != 0 && expected > static_cast<std::int64_t>(maximumBytes_)) {
        refuseOversized(from);
        return;
    }
    if (expected > 0) {
        responseData_.reserve(static_cast<std::size_t>(std::min(expected, kLargestReservation)));
    }
}

void RAZududeImageLoadConnection::received(platform::UrlConnection& from, const std::uint8_t* data,
                                           std::size_t length) {
    if (!isOwn(from)) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        if (refused_) {
            return;
        }
        if (maximumBytes_ != 0 &&
            length > maximumBytes_ - std::min(maximumBytes_, responseData_.size())) {
            refuseOversized(from);
            return;
        }
        responseData_.insert(responseData_.end(), data, data + length);
        const std::int64_t expected = response_ ? response_->expectedContentLength() : -1;
        latestPercent_ = static_cast<float>(responseData_.size()) / static_cast<float>(expected);
        // Progress that the delegate has not taken yet is folded into the latest, so that a
        // delegate slower than the network is told where the download stands, not where it
        // stood, and the end of the download never waits behind a queue of old progress.
        if (percentPending_) {
            return;
        }
        percentPending_ = true;
    }
    tell([](RZImageLoadConnectionDelegate& delegate, RAZududeImageLoadConnection& connection) {
        float percent = 0;
        {
            std::lock_guard lock(connection.mutex_);
            percent = connection.latestPercent_;
            connection.percentPending_ = false;
        }
        delegate.imageLoadConnectionDidReceivePercent(percent, connection);
    });
}

void RAZududeImageLoadConnection::refuseOversized(platform::UrlConnection& from) {
    refused_ = true;
    platform::Bytes().swap(responseData_);
    from.cancel();
    const platform::Error error(
        platform::kUrlErrorDomain, platform::kUrlErrorDataLengthExceedsMaximum,
        platform::Map{
            {platform::kLocalizedDescriptionKey, "The picture is larger than the " +
                                                     std::to_string(maximumBytes_) +
                                                     " bytes a download of a picture may take."},
            {platform::kUrlErrorFailingUrlStringErrorKey, imageURL_},
        });
    tell([error](RZImageLoadConnectionDelegate& delegate, RAZududeImageLoadConnection& connection) {
        delegate.imageLoadConnection(connection, error);
    });
}

void RAZududeImageLoadConnection::finished(platform::UrlConnection& from) {
    if (!isOwn(from)) {
        return;
    }
    tell([](RZImageLoadConnectionDelegate& delegate, RAZududeImageLoadConnection& connection) {
        delegate.imageLoadConnectionDidFinishLoading(connection);
    });
}

void RAZududeImageLoadConnection::failed(platform::UrlConnection& from,
                                         const platform::Error& error) {
    if (!isOwn(from)) {
        return;
    }
    tell([error](RZImageLoadConnectionDelegate& delegate, RAZududeImageLoadConnection& connection) {
        delegate.imageLoadConnection(connection, error);
    });
}
