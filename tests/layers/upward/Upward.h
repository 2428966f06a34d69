// A core header that reaches up to the screens: the layer check must reject it.
#pragma once

// clang-format off
#if 0
  #  include <platform/ui/View.h>
#endif
// clang-format on
