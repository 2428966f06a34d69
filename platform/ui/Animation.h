// Bookkeeping behind View::animate: which animation owns which property of which view, so
// that a later animation of the same property supersedes the earlier one.
#pragma once

#include <cstddef>

namespace platform {

class View;

namespace animation {

enum class Property { kCenter, kBounds, kTransform, kAlpha, kBackgroundColor, kCount };

// Called by the setters of animatable properties; does nothing outside an animation block.
void noteChange(const View* view, Property property);
// Drops a view that is going away.
void forget(const View* view);
// True while the changes of an animation block run.
bool inAnimationBlock();
// Animations whose completion has not run yet.
std::size_t pendingCount();

}  // namespace animation
}  // namespace platform
