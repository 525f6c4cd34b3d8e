// An X client that looks at window_example from outside, as a user and a
// window manager would: finds its window by title and class, checks that it
// is shown and painted white, resizes it, and asks it politely to close.
//   window_probe inspect   find, check, resize and check the repaint
//   window_probe close     send WM_DELETE_WINDOW through WM_PROTOCOLS
//   window_probe shown     wait until the window is shown and painted
// With --title-only (before the command) the class is not checked and the
// wait is longer: Wine gives the X window the program's file name as its
// class, and its first window takes a while to appear.
// Exit status 0 when every check holds; otherwise 1 and the reason on stderr.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

namespace {

constexpr char Title[] = "Window";
constexpr char ClassName[] = "WndClass";
bool TitleOnly = false;
std::chrono::seconds Patience(5);

bool Eventually(const std::function<bool()>& condition) {
    auto deadline = std::chrono::steady_clock::now() + Patience;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

bool HasTitleAndClass(Display* display, Window window) {
    char* name = nullptr;
    bool titled = XFetchName(display, window, &name) && name != nullptr && std::strcmp(name, Title) == 0;
    if (name != nullptr) XFree(name);
    XClassHint hint = {};
    bool classed = XGetClassHint(display, window, &hint) && hint.res_class != nullptr &&
                   std::strcmp(hint.res_class, ClassName) == 0;
    if (hint.res_name != nullptr) XFree(hint.res_name);
    if (hint.res_class != nullptr) XFree(hint.res_class);
    return titled && (classed || TitleOnly);
}

bool IsShown(Display* display, Window window);

// Searches the whole tree for the shown window: a window manager, if any,
// reparents it, and other windows may carry the same title. The topmost one
// is taken: a window's pixels are read off the screen, so one under another
// reads as the window over it.
Window FindWindow(Display* display, Window under) {
    if (HasTitleAndClass(display, under) && IsShown(display, under)) return under;
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, under, &root, &parent, &children, &count)) return 0;
    Window found = 0;  // XQueryTree lists the children bottom to top
    for (unsigned i = count; i-- > 0 && found == 0;) found = FindWindow(display, children[i]);
    if (children != nullptr) XFree(children);
    return found;
}

bool IsShown(Display* display, Window window) {
    XWindowAttributes attributes;
    return XGetWindowAttributes(display, window, &attributes) && attributes.map_state == IsViewable &&
           attributes.width > 0 && attributes.height > 0;
}

bool Size(Display* display, Window window, int* width, int* height) {
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, window, &attributes)) return false;
    *width = attributes.width;
    *height = attributes.height;
    return true;
}

bool IsWhiteAt(Display* display, Window window, int x, int y) {
    XImage* image = XGetImage(display, window, x, y, 1, 1, AllPlanes, ZPixmap);
    if (image == nullptr) return false;
    unsigned long pixel = XGetPixel(image, 0, 0);
    XDestroyImage(image);
    return pixel == WhitePixel(display, DefaultScreen(display));
}

// A grid of points over the client area, corners and edges included.
bool IsWhiteAll(Display* display, Window window, int fromX, int fromY) {
    int width = 0, height = 0;
    if (!Size(display, window, &width, &height)) return false;
    for (int i = 0; i <= 4; ++i)
        for (int j = 0; j <= 4; ++j) {
            int x = fromX + (width - 1 - fromX) * i / 4;
            int y = fromY + (height - 1 - fromY) * j / 4;
            if (!IsWhiteAt(display, window, x, y)) return false;
        }
    return true;
}

int Fail(const std::string& why) {
    std::fprintf(stderr, "window_probe: %s\n", why.c_str());
    return 1;
}

Window AwaitShownWindow(Display* display) {
    Window window = 0;
    Eventually([&] { return (window = FindWindow(display, DefaultRootWindow(display))) != 0; });
    return window;
}

// Shrinks, then grows past the old size: the new area shows only what the
// program paints there, since the window has no X background of its own.
int CheckRepaintAfterResize(Display* display, Window window) {
    XResizeWindow(display, window, 200, 150);
    XSync(display, False);
    if (!Eventually([&] {
            int width = 0, height = 0;
            return Size(display, window, &width, &height) && width == 200 && height == 150;
        }))
        return Fail("the window did not take the smaller size");
    XResizeWindow(display, window, 500, 400);
    XSync(display, False);
    if (!Eventually([&] { return IsWhiteAll(display, window, 200, 150); }))
        return Fail("the area gained by growing the window was not painted white");
    if (!IsWhiteAll(display, window, 0, 0)) return Fail("the grown window is not white all over");
    return 0;
}

int Inspect(Display* display) {
    Window window = AwaitShownWindow(display);
    if (window == 0) return Fail("no shown window titled \"Window\" of class \"WndClass\"");
    if (!Eventually([&] { return IsWhiteAll(display, window, 0, 0); }))
        return Fail("the client area is not painted white");
    return CheckRepaintAfterResize(display, window);
}

int Close(Display* display) {
    Window window = AwaitShownWindow(display);
    if (window == 0) return Fail("no window to close");
    XEvent event = {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XSync(display, False);
    return 0;
}

int Shown(Display* display) {
    Window window = AwaitShownWindow(display);
    if (window == 0) return Fail("no shown window");
    return Eventually([&] { return IsWhiteAll(display, window, 0, 0); }) ? 0 : Fail("window not painted");
}

}  // namespace

int main(int argc, char** argv) {
    int first = 1;
    if (argc > 1 && std::string(argv[1]) == "--title-only") {
        TitleOnly = true;
        Patience = std::chrono::seconds(20);
        first = 2;
    }
    std::string command = argc == first + 1 ? argv[first] : "";
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return Fail("cannot open the display");
    // A window manager may reparent the window between two looks (unmapped a
    // moment): a request that fails then gives no answer, and the look is
    // tried again, where Xlib's own handler would end the probe.
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    int status = command == "inspect" ? Inspect(display)
                 : command == "close" ? Close(display)
                 : command == "shown" ? Shown(display)
                                      : Fail("usage: window_probe [--title-only] inspect|close|shown");
    XCloseDisplay(display);
    return status;
}
