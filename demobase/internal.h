// Shared state between the parts of the demo framework (not installed, not part of the interface).
#pragma once

#include <X11/Xlib.h>

namespace KorrinSDK {
namespace internal {

// The X connection and window that Platform::openWindow made; null and 0 before it.
Display* nativeDisplay();
Window nativeWindow();

}  // namespace internal
}  // namespace KorrinSDK
