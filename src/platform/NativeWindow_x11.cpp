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
    // On the true-colour visuals of today's displays a pixel value is the RGB value.
    XSetWindowBackground(display, static_cast<Window>(window), rgb);
    XClearWindow(display, static_cast<Window>(window));
    XSync(display, False);
    XSetErrorHandler(previous);
    XCloseDisplay(display);
    return true;
}

}  // namespace platform
