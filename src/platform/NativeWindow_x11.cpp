#include "platform/NativeWindow.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <vector>

namespace platform {

namespace {

// A bad window id must not end the program: Xlib's default handler exits.
int IgnoreXError(Display*, XErrorEvent*) {
    return 0;
}

// The window manager's client messages, as the window manager specification words them.
constexpr long kStateRemove = 0;
constexpr long kStateAdd = 1;
constexpr long kSourceApplication = 1;

// True when a window manager runs now and lists `feature` among what it supports. The
// list alone is not enough: a window manager that has gone leaves it behind on the root.
bool WindowManagerSupports(Display* display, Atom feature) {
    const Window root = DefaultRootWindow(display);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    Window check = None;
    if (XGetWindowProperty(display, root, XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False),
                           0, 1, False, XA_WINDOW, &type, &format, &count, &after,
                           &data) == Success &&
        data != nullptr && format == 32 && count == 1) {
        check = static_cast<Window>(*reinterpret_cast<unsigned long*>(data));
    }
    if (data != nullptr) {
        XFree(data);
        data = nullptr;
    }
    XWindowAttributes attributes;
    if (check == None || XGetWindowAttributes(display, check, &attributes) == 0) {
        return false;
    }
    bool found = false;
    if (XGetWindowProperty(display, root, XInternAtom(display, "_NET_SUPPORTED", False), 0, 4096,
                           False, XA_ATOM, &type, &format, &count, &after, &data) == Success &&
        data != nullptr && format == 32) {
        const auto* atoms = reinterpret_cast<unsigned long*>(data);
        for (unsigned long i = 0; i < count && !found; ++i) {
            found = atoms[i] == feature;
        }
    }
    if (data != nullptr) {
        XFree(data);
    }
    return found;
}

void SendToWindowManager(Display* display, Window window, Atom message,
                         const std::vector<long>& values) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = message;
    event.xclient.format = 32;
    for (std::size_t i = 0; i < values.size() && i < 5; ++i) {
        event.xclient.data.l[i] = values[i];
    }
    XSendEvent(display, DefaultRootWindow(display), False,
               SubstructureRedirectMask | SubstructureNotifyMask, &event);
}

// The window's own _NET_WM_STATE list with `state` put in or taken out; read by the window
// manager when the window is shown.
void EditStateProperty(Display* display, Window window, Atom state, bool present) {
    const Atom property = XInternAtom(display, "_NET_WM_STATE", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::vector<Atom> states;
    if (XGetWindowProperty(display, window, property, 0, 1024, False, XA_ATOM, &type, &format,
                           &count, &after, &data) == Success &&
        data != nullptr && format == 32) {
        const auto* atoms = reinterpret_cast<unsigned long*>(data);
        for (unsigned long i = 0; i < count; ++i) {
            if (atoms[i] != state) {
                states.push_back(static_cast<Atom>(atoms[i]));
            }
        }
    }
    if (data != nullptr) {
        XFree(data);
    }
    if (present) {
        states.push_back(state);
    }
    XChangeProperty(display, window, property, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(states.data()),
                    static_cast<int>(states.size()));
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

bool SetNativeWindowAbove(std::uintptr_t window, bool above) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return false;
    }
    const auto previous = XSetErrorHandler(IgnoreXError);
    const auto id = static_cast<Window>(window);
    const Atom aboveState = XInternAtom(display, "_NET_WM_STATE_ABOVE", False);
    XWindowAttributes attributes{};
    const bool shown =
        XGetWindowAttributes(display, id, &attributes) != 0 && attributes.map_state != IsUnmapped;
    if (shown && WindowManagerSupports(display, aboveState)) {
        SendToWindowManager(display, id, XInternAtom(display, "_NET_WM_STATE", False),
                            {above ? kStateAdd : kStateRemove, static_cast<long>(aboveState), 0,
                             kSourceApplication});
    } else {
        // Not shown, or nobody manages the windows: the list is ours to write.
        EditStateProperty(display, id, aboveState, above);
    }
    if (above && shown) {
        XRaiseWindow(display, id);
    }
    XSync(display, False);
    XSetErrorHandler(previous);
    XCloseDisplay(display);
    return true;
}

bool StartWindowManagerMoveResize(void* connection, std::uintptr_t window, MoveResize what,
                                  int rootX, int rootY) {
    auto* display = static_cast<Display*>(connection);
    if (display == nullptr) {
        return false;
    }
    const Atom moveResize = XInternAtom(display, "_NET_WM_MOVERESIZE", False);
    const auto previous = XSetErrorHandler(IgnoreXError);
    const bool supported = WindowManagerSupports(display, moveResize);
    XSetErrorHandler(previous);
    if (!supported) {
        return false;
    }
    // The press grabbed the pointer for us; the window manager can only take it once we
    // let it go.
    XUngrabPointer(display, CurrentTime);
    SendToWindowManager(display, static_cast<Window>(window), moveResize,
                        {rootX, rootY, static_cast<long>(what), Button1, kSourceApplication});
    XFlush(display);
    return true;
}

}  // namespace platform
