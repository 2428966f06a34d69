// Compiled with the include folders of the share service's core and nothing else: the core's
// own headers and those of the layers below are found, the screens' and the platform UI's are
// not, so an upward include stops the build instead of waiting for the layer check.

#if defined(CASE_fits)
#include "SocialSDK/core/config/RAZududeLocalizable.h"
#include "platform/Value.h"
#include "platform/net/UrlRequest.h"
#elif defined(CASE_screens)
#include "SocialSDK/ui/controller/RAZududeControllerService.h"
#elif defined(CASE_platform_ui)
#include "platform/ui/View.h"
#elif defined(CASE_render)
#include "platform/render/Renderer.h"
#endif

int main() {
    return 0;
}
