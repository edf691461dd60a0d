#pragma once

#include <cstdint>

namespace platform {

// Makes the window system itself fill `window` with `rgb` wherever it is exposed, the
// whole window after every resize, and clears it now. The player's window is one that our toolkit
// must never paint (it would paint over the video), so this is how it gets its background colour
// before the first frame and around a video smaller than the window. False where there is no such
// window system (no display, or a display that is not X11).
bool SetNativeWindowBackground(std::uintptr_t window, std::uint32_t rgb);

// Repaints all of `window` in its background and tells its owner to draw it again (an
// expose). False where there is no such window system.
bool RepaintNativeWindow(std::uintptr_t window);

}  // namespace platform
