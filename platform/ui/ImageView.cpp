#include "platform/ui/ImageView.h"

namespace platform {

ImageView::ImageView(const Rect& frame) : View(frame) {
    setUserInteractionEnabled(false);
}

ImageView::ImageView(ImagePtr image)
    : View(Rect{{0, 0}, image ? image->size() : Size{}}), image_(std::move(image)) {
    setUserInteractionEnabled(false);
}

void ImageView::setImage(ImagePtr image) {
    image_ = std::move(image);
    setNeedsDisplay();
}

Size ImageView::sizeThatFits(Size) const {
    return image_ ? image_->size() : Size{};
}

void ImageView::drawContent(GraphicsContext& context) const {
    if (!image_) {
        return;
    }
    context.drawImage(*image_, placeContent(contentMode(), image_->size(), bounds()));
}

}  // namespace platform
