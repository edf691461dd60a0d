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

// Asks for top-level `window` to be kept above other windows, or no longer, without
// recreating it: the player draws into a child of it by id. A window not shown yet carries
// the request into its first show; a shown one asks the window manager. False where there
// is no such window system.
bool SetNativeWindowAbove(std::uintptr_t window, bool above);

// What the window manager is asked to do with a top-level window while a button is held:
// pull one edge or corner, or move the whole window.
enum class MoveResize {
    TopLeft = 0,
    Top = 1,
    TopRight = 2,
    Right = 3,
    BottomRight = 4,
    Bottom = 5,
    BottomLeft = 6,
    Left = 7,
    Move = 8,
};

// Hands a move or resize of top-level `window`, started by the left button pressed with the
// pointer at (`rootX`, `rootY`) on the screen, to the window manager, which then follows
// the pointer until the button is released. `connection` is the display connection that
// received the press (an X11 `Display*`): its grab of the pointer is given up for the
// window manager to take. False, with nothing changed, where no window manager offers it.
bool StartWindowManagerMoveResize(void* connection, std::uintptr_t window, MoveResize what,
                                  int rootX, int rootY);

}  // namespace platform
