#include "XView.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>

namespace {
// A window that went away between two questions is an answer, not a fault.
int IgnoreErrors(Display*, XErrorEvent*) {
    return 0;
}

Display* As(void* display) {
    return static_cast<Display*>(display);
}
}  // namespace

XView::XView() : display(XOpenDisplay(nullptr)) {
    XSetErrorHandler(IgnoreErrors);
}
XView::~XView() {
    if (display != nullptr) {
        XCloseDisplay(As(display));
    }
}

bool XView::Exists(std::uintptr_t window) {
    XWindowAttributes attributes;
    return XGetWindowAttributes(As(display), static_cast<Window>(window), &attributes) != 0;
}

bool XView::Inside(std::uintptr_t window, std::uintptr_t ancestor) {
    auto current = static_cast<Window>(window);
    while (current != None) {
        if (current == static_cast<Window>(ancestor)) {
            return true;
        }
        Window root = None, parent = None;
        Window* children = nullptr;
        unsigned count = 0;
        if (XQueryTree(As(display), current, &root, &parent, &children, &count) == 0) {
            return false;
        }
        if (children != nullptr) {
            XFree(children);
        }
        current = parent == root ? None : parent;
    }
    return false;
}

bool XView::HasState(std::uintptr_t window, const char* state) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    bool found = false;
    const Atom wanted = XInternAtom(As(display), state, False);
    if (XGetWindowProperty(As(display), static_cast<Window>(window),
                           XInternAtom(As(display), "_NET_WM_STATE", False), 0, 64, False, XA_ATOM,
                           &type, &format, &count, &after, &data) == Success &&
        data != nullptr) {
        const auto* atoms = reinterpret_cast<unsigned long*>(data);
        found = std::find(atoms, atoms + count, wanted) != atoms + count;
    }
    if (data != nullptr) {
        XFree(data);
    }
    return found;
}

bool XView::WindowManagerRuns() {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    const bool found =
        XGetWindowProperty(As(display), DefaultRootWindow(As(display)),
                           XInternAtom(As(display), "_NET_SUPPORTING_WM_CHECK", False), 0, 1, False,
                           XA_WINDOW, &type, &format, &count, &after, &data) == Success &&
        count == 1;
    if (data != nullptr) {
        XFree(data);
    }
    return found;
}

std::uint64_t XView::Picture(std::uintptr_t window, const QRect& area) {
    XImage* image = XGetImage(As(display), static_cast<Window>(window), area.x(), area.y(),
                              static_cast<unsigned>(area.width()),
                              static_cast<unsigned>(area.height()), AllPlanes, ZPixmap);
    if (image == nullptr) {
        return 0;
    }
    std::uint64_t hash = 1469598103934665603ull;
    for (int y = 0; y < area.height(); ++y) {
        for (int x = 0; x < area.width(); ++x) {
            hash = (hash ^ XGetPixel(image, x, y)) * 1099511628211ull;
        }
    }
    XDestroyImage(image);
    return hash;
}

void XView::SendPing(std::uintptr_t window, unsigned long stamp) {
    Display* x = As(display);
    if (!watchingRoot) {
        // The answer is sent to the root window for whoever watches it (toolkits differ
        // in the mask they send it with).
        XSelectInput(x, DefaultRootWindow(x), StructureNotifyMask | SubstructureNotifyMask);
        watchingRoot = true;
    }
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = static_cast<Window>(window);
    event.xclient.message_type = XInternAtom(x, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(x, "_NET_WM_PING", False));
    event.xclient.data.l[1] = static_cast<long>(stamp);
    event.xclient.data.l[2] = static_cast<long>(window);
    XSendEvent(x, static_cast<Window>(window), False, NoEventMask, &event);
    XFlush(x);
}

bool XView::PingAnswered(unsigned long stamp) {
    Display* x = As(display);
    const Atom ping = XInternAtom(x, "_NET_WM_PING", False);
    while (XPending(x) > 0) {
        XEvent event;
        XNextEvent(x, &event);
        if (event.type == ClientMessage && static_cast<Atom>(event.xclient.data.l[0]) == ping) {
            lastAnswer = std::max(lastAnswer, static_cast<unsigned long>(event.xclient.data.l[1]));
        }
    }
    return lastAnswer >= stamp;
}
