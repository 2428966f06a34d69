// Interface orientations and masks of them, as the app and the share screens' configuration
// state them; the windows and screens act on them (platform/ui).
#pragma once

namespace platform {

// Interface orientations with the platform's numbers; landscape is 3 or 4.
enum InterfaceOrientation : int {
    kOrientationPortrait = 1,
    kOrientationPortraitUpsideDown = 2,
    kOrientationLandscapeRight = 3,
    kOrientationLandscapeLeft = 4,
};

// Masks of supported orientations: bit number = orientation.
enum InterfaceOrientationMask : unsigned {
    kOrientationMaskPortrait = 1u << kOrientationPortrait,
    kOrientationMaskPortraitUpsideDown = 1u << kOrientationPortraitUpsideDown,
    kOrientationMaskLandscapeRight = 1u << kOrientationLandscapeRight,
    kOrientationMaskLandscapeLeft = 1u << kOrientationLandscapeLeft,
    kOrientationMaskLandscape = kOrientationMaskLandscapeLeft | kOrientationMaskLandscapeRight,
    kOrientationMaskAll =
        kOrientationMaskPortrait | kOrientationMaskPortraitUpsideDown | kOrientationMaskLandscape,
};

}  // namespace platform
