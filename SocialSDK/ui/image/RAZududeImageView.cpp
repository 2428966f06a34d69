#include "SocialSDK/ui/image/RAZududeImageView.h"

#include <exception>

#include "platform/Log.h"
#include "platform/TaskGuard.h"

template <typename Call>
void RAZududeImageView::tellDelegate(Call call) {
    auto delegate = delegate_.lock();
    if (!delegate) {
        return;
    }
    platform::runGuarded("the image view's delegate", [&] { call(*delegate); });
}

RAZududeImageView::RAZududeImageView(platform::ImagePtr placeholderImage,
                                     std::weak_ptr<RZImageViewDelegate> delegate)
    : placeholderImage_(std::move(placeholderImage)), delegate_(std::move(delegate)) {
    setImage(placeholderImage_);
    setHidden(true);
}

RAZududeImageView::~RAZududeImageView() {
    RAZududeImageLoader::sharedImageLoader().removeObserver(*this);
}

void RAZududeImageView::setImageURL(const std::optional<std::string>& imageURL) {
    auto& loader = RAZududeImageLoader::sharedImageLoader();
    status_ = kNotLoaded;
    if (!imageURL) {
        if (imageURL_) {
            loader.removeObserver(*this, *imageURL_);
            imageURL_.reset();
        }
        setImage(placeholderImage_);
        return;
    }
    // Every registration of the view goes, that of its old URL among them. The old URL is
    // replaced, never dropped first: the new one may be the view's own imageURL().
    loader.removeObserver(*this);
    imageURL_ = imageURL;
    if (isGif_) {
        return;
    }
    const std::shared_ptr<RZImageLoaderObserver> self(shared_from_this(), this);
    if (auto cached = loader.imageForURL(imageURL_, self, true)) {
        setImage(std::move(cached));
        setHidden(false);
        isCacheImage_ = true;
        status_ = kLoaded;
        tellDelegate([&](RZImageViewDelegate& delegate) { delegate.imageViewLoadedImage(*this); });
        return;
    }
    isCacheImage_ = false;
    setImage(placeholderImage_);
}

void RAZududeImageView::cancelImageLoad() {
    if (!imageURL_) {
        return;
    }
    RAZududeImageLoader::sharedImageLoader().cancelLoadForObserver(*this, *imageURL_);
}

void RAZududeImageView::setCacheSecondes(double seconds) {
    if (!(seconds > 0)) {
        platform::consoleLog("[%f] is error", seconds);
        return;
    }
    RAZududeImageLoader::sharedImageLoader().setCache_seconds(seconds);
}

bool RAZududeImageView::isOwnURL(const RZImageLoaderNotification& notification) const {
    const std::string* url = notification.userInfo()[RAZududeImageLoader::kImageURLKey].string();
    return imageURL_ && url && *url == *imageURL_;
}

void RAZududeImageView::imageLoaderDidLoad(const RZImageLoaderNotification& notification) {
    setHidden(false);
    if (!isOwnURL(notification)) {
        return;
    }
    status_ = kLoaded;
    // Of a download that another caller started in GIF mode too: its bytes are the picture.
    platform::ImagePtr image = isGif_ ? nullptr : notification.picture();
    if (image) {
        setImage(std::move(image));  // redraws the view
    } else {
        setNeedsDisplay();
    }
    tellDelegate([&](RZImageViewDelegate& delegate) { delegate.imageViewLoadedImage(*this); });
}

void RAZududeImageView::imageLoaderDidFailToLoad(const RZImageLoaderNotification& notification) {
    status_ = kFailed;
    if (!isOwnURL(notification)) {
        return;
    }
    const platform::Error error = notification.error ? *notification.error : platform::Error();
    tellDelegate(
        [&](RZImageViewDelegate& delegate) { delegate.imageViewFailedToLoadImage(*this, error); });
}
