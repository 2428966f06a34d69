// A view that shows an image, placed by its content mode (stretched to fill by default).
// An image view takes no touches unless told to.
#pragma once

#include "platform/graphics/Image.h"
#include "platform/ui/View.h"

namespace platform {

class ImageView : public View {
  public:
    explicit ImageView(const Rect& frame = {});
    // Sized to the image.
    explicit ImageView(ImagePtr image);

    const ImagePtr& image() const { return image_; }
    void setImage(ImagePtr image);

    Size sizeThatFits(Size size) const override;
    void drawContent(GraphicsContext& context) const override;

  private:
    ImagePtr image_;
};

}  // namespace platform
