#include "platform/NativeWindow.h"

#include <X11/Xlib.h>

namespace platform {

namespace {

// A bad window id must not end the program: Xlib's default handler exits.
int IgnoreXError(Display*, XErrorEvent*) {
    return 0;
}

}  // namespace

bool SetNativeWindowBackground(std::uintptr_t window, std::uint32_t rgb) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return false;
    }
    const auto previous = XSetErrorHandler(IgnoreXError);
    XSetWindowAttributes attributes{};
    // On the true-colour visuals of today's displays a pixel value is the RGB value.
    attributes.background_pixel = rgb;
    // Without this a resize keeps the old pixels: going full screen would leave the last
    // frame where it was while the player draws the next one in the new middle.
    attributes.bit_gravity = ForgetGravity;
    XChangeWindowAttributes(display, static_cast<Window>(window), CWBackPixel | CWBitGravity,
                            &attributes);
    XClearWindow(display, static_cast<Window>(window));
    XSync(display, False);
    XSetErrorHandler(previous);
    XCloseDisplay(display);
    return true;
}

bool RepaintNativeWindow(std::uintptr_t window) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return false;
    }
    const auto previous = XSetErrorHandler(IgnoreXError);
    XClearArea(display, static_cast<Window>(window), 0, 0, 0, 0, True);
    XSync(display, False);
    XSetErrorHandler(previous);
    XCloseDisplay(display);
    return true;
}

}  // namespace platform
