// An image view of a remote picture: it shows a placeholder, asks the shared image loader for
// the picture at its URL and shows the picture when the loader announces it.
//
// Make it with std::make_shared (it registers itself with the loader as a shared observer).
// Main thread only.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "SocialSDK/core/image/RAZududeImageLoader.h"
#include "platform/Error.h"
#include "platform/Url.h"
#include "platform/graphics/Image.h"
#include "platform/ui/ImageView.h"

class RAZududeImageView;

// Told how a view's picture came; every method is optional.
class RZImageViewDelegate {
  public:
    virtual ~RZImageViewDelegate() = default;
    virtual void imageViewLoadedImageSizePercent(float /*percent*/,
                                                 RAZududeImageView& /*imageView*/) {}
    virtual void imageViewLoadedImage(RAZududeImageView& /*imageView*/) {}
    virtual void imageViewFailedToLoadImage(RAZududeImageView& /*imageView*/,
                                            const platform::Error& /*error*/) {}
};

class RAZududeImageView : public platform::ImageView, public RZImageLoaderObserver {
  public:
    enum Status { kNotLoaded = 0, kLoaded = 1, kFailed = 2 };

    // Shows the placeholder and stays hidden until a picture is shown.
    explicit RAZududeImageView(platform::ImagePtr placeholderImage,
                               std::weak_ptr<RZImageViewDelegate> delegate = {});
    ~RAZududeImageView() override;

    // The URL as given; nothing while none is set.
    const std::optional<std::string>& imageURL() const { return imageURL_; }
    // Shows the cached picture at once (and tells the delegate before returning), or the
    // placeholder while the picture loads; no URL shows the placeholder.
    void setImageURL(const std::optional<std::string>& imageURL);
    void setImageURL(const platform::Url& imageURL) { setImageURL(imageURL.absoluteString()); }

    const platform::ImagePtr& placeholderImage() const { return placeholderImage_; }
    void setPlaceholderImage(platform::ImagePtr image) { placeholderImage_ = std::move(image); }
    std::shared_ptr<RZImageViewDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<RZImageViewDelegate> delegate) {
        delegate_ = std::move(delegate);
    }

    Status status() const { return status_; }
    // In GIF mode the view neither loads nor shows pictures.
    bool isGif() const { return isGif_; }
    void setIsGif(bool isGif) { isGif_ = isGif; }
    bool isAutoStart() const { return isAutoStart_; }
    void setIsAutoStart(bool isAutoStart) { isAutoStart_ = isAutoStart; }
    // Whether the last setImageURL found the picture in the cache.
    bool isCacheImage() const { return isCacheImage_; }
    void setIsCacheImage(bool isCacheImage) { isCacheImage_ = isCacheImage; }

    // Stops the download of the view's URL and stops listening for it.
    void cancelImageLoad();
    // The cache lifetime of every picture the loader downloads from now on; a value not
    // above 0 is refused with a console line.
    void setCacheSecondes(double seconds);

    unsigned imageLoaderMethods() const override { return kDidLoad | kDidFailToLoad; }
    void imageLoaderDidLoad(const RZImageLoaderNotification& notification) override;
    void imageLoaderDidFailToLoad(const RZImageLoaderNotification& notification) override;

  private:
    bool isOwnURL(const RZImageLoaderNotification& notification) const;
    template <typename Call>
    void tellDelegate(Call call);

    std::optional<std::string> imageURL_;
    platform::ImagePtr placeholderImage_;
    std::weak_ptr<RZImageViewDelegate> delegate_;
    Status status_ = kNotLoaded;
    bool isGif_ = false;
    bool isAutoStart_ = false;
    bool isCacheImage_ = false;
};
