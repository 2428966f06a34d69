// One download of a picture: a URL connection for the picture's URL that keeps the bytes as
// they arrive and tells its delegate how far it got, that it finished, or why it failed.
//
// Threads: make, start and cancel it on any thread. The delegate hears from it on its
// delegate queue, in the order things happened, never on the network thread, so a delegate
// that waits holds up no other load: a serial queue of the connection's own, or the queue it
// was made with (the image loader, which tells the main thread anyway, takes the main queue).
// Once cancel() returns, no delegate call starts.
//
// The URL is kept as the text it was given. Text that is no absolute URL fails the download
// with the URL error -1000 (bad URL) instead of loading anything.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/Dispatch.h"
#include "platform/Error.h"
#include "platform/MainLoop.h"
#include "platform/Url.h"
#include "platform/Value.h"
#include "platform/net/UrlConnection.h"
#include "platform/net/UrlResponse.h"

class RAZududeImageLoadConnection;

// What a connection tells; every method is optional.
class RZImageLoadConnectionDelegate {
  public:
    virtual ~RZImageLoadConnectionDelegate() = default;

    // Bytes received so far divided by the expected length; negative while the length is
    // unknown. Progress the delegate has not taken yet is folded into the latest.
    virtual void imageLoadConnectionDidReceivePercent(float /*percent*/,
                                                      RAZududeImageLoadConnection& /*connection*/) {
    }
    virtual void imageLoadConnectionDidFinishLoading(RAZududeImageLoadConnection& /*connection*/) {}
    // The download failed with the error.
    virtual void imageLoadConnection(RAZududeImageLoadConnection& /*connection*/,
                                     const platform::Error& /*didFailWithError*/) {}
};

class RAZududeImageLoadConnection
    : public std::enable_shared_from_this<RAZududeImageLoadConnection> {
  public:
    static constexpr std::chrono::seconds kDefaultTimeoutInterval{30};

    // A connection for the picture at the URL, not yet started. The delegate is not kept
    // alive by it. In GIF mode the bytes are the result as they are; the mode is the
    // connection's own for its whole life, and so is the delegate queue (a serial one of its
    // own when none is given).
    static std::shared_ptr<RAZududeImageLoadConnection> create(
        std::string imageURL, std::weak_ptr<RZImageLoadConnectionDelegate> delegate,
        bool isGif = false, std::shared_ptr<platform::DispatchQueue> delegateQueue = nullptr);
    static std::shared_ptr<RAZududeImageLoadConnection> create(
        const platform::Url& imageURL, std::weak_ptr<RZImageLoadConnectionDelegate> delegate,
        bool isGif = false) {
        return create(imageURL.absoluteString(), std::move(delegate), isGif);
    }

    RAZududeImageLoadConnection(const RAZududeImageLoadConnection&) = delete;
    RAZududeImageLoadConnection& operator=(const RAZududeImageLoadConnection&) = delete;

    // The URL as given.
    const std::string& imageURL() const { return imageURL_; }
    // The URL as parsed; nothing when the text is no absolute URL.
    const std::optional<platform::Url>& url() const { return url_; }
    bool isGif() const { return isGif_; }

    // The bytes received so far.
    platform::Bytes responseData() const;
    std::shared_ptr<const platform::UrlResponse> response() const;
    void setResponse(std::shared_ptr<const platform::UrlResponse> response);

    std::shared_ptr<RZImageLoadConnectionDelegate> delegate() const;
    void setDelegate(std::weak_ptr<RZImageLoadConnectionDelegate> delegate);

    // Seconds without progress before the download fails; read when it starts.
    platform::Seconds timeoutInterval() const;
    void setTimeoutInterval(platform::Seconds timeout);

    // The most bytes, once decoded, that the download gathers: a picture announced or arriving
    // larger fails it with the URL error -1103 and the bytes gathered are let go. 0: none.
    static constexpr std::size_t kDefaultMaximumBytes = std::size_t{20} << 20;
    std::size_t maximumBytes() const;
    void setMaximumBytes(std::size_t bytes);

    // Loads the URL with the cached response when the URL cache holds one, asking for gzip.
    // A second start does nothing.
    void start();
    void cancel();

  private:
    class Relay;
    RAZududeImageLoadConnection(std::string imageURL,
                                std::weak_ptr<RZImageLoadConnectionDelegate> delegate, bool isGif,
                                std::shared_ptr<platform::DispatchQueue> delegateQueue);

    // Runs the call on the delegate queue unless the connection was cancelled by then.
    template <typename Call>
    void tell(Call call);

    void received(platform::UrlConnection& from,
                  const std::shared_ptr<const platform::UrlResponse>& response);
    void received(platform::UrlConnection& from, const std::uint8_t* data, std::size_t length);
    void finished(platform::UrlConnection& from);
    // Ends a download past its ceiling: the bytes go and the delegate hears why. Under mutex_.
    void refuseOversized(platform::UrlConnection& from);
    void failed(platform::UrlConnection& from, const platform::Error& error);
    bool isOwn(const platform::UrlConnection& from) const;

    const std::string imageURL_;
    const std::optional<platform::Url> url_;
    const bool isGif_;
    const std::shared_ptr<platform::DispatchQueue> delegateQueue_;

    mutable std::mutex mutex_;  // guards the fields below
    platform::Bytes responseData_;
    std::shared_ptr<const platform::UrlResponse> response_;
    std::weak_ptr<RZImageLoadConnectionDelegate> delegate_;
    platform::Seconds timeoutInterval_ = kDefaultTimeoutInterval;
    std::size_t maximumBytes_ = kDefaultMaximumBytes;
    bool refused_ = false;  // past the ceiling: nothing more is taken
    std::shared_ptr<platform::UrlConnection> connection_;
    float latestPercent_ = 0;
    bool percentPending_ = false;  // a progress call is queued and will read latestPercent_

    std::atomic<bool> started_{false};
    std::atomic<bool> cancelled_{false};
};
