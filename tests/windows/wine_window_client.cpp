// An X client that finds window_example's window as Wine shows it and asks
// it politely to close, as a window manager's close button would.
//   wine_window_client shown   wait until a window titled "Window" is shown
//   wine_window_client close   send it WM_DELETE_WINDOW through WM_PROTOCOLS
// Wine names the X window after the title but gives it the program's file
// name as its WM_CLASS, so the title alone identifies it here.
// Exit status 0 when the step succeeds; otherwise 1 and the reason on stderr.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

namespace {

constexpr char Title[] = "Window";
constexpr auto Patience = std::chrono::seconds(20);  // Wine's first window takes a while

bool HasTitle(Display* display, Window window) {
    char* name = nullptr;
    bool titled = XFetchName(display, window, &name) && name != nullptr && std::strcmp(name, Title) == 0;
    if (name != nullptr) XFree(name);
    return titled;
}

bool IsShown(Display* display, Window window) {
    XWindowAttributes attributes;
    return XGetWindowAttributes(display, window, &attributes) && attributes.map_state == IsViewable &&
           attributes.width > 0 && attributes.height > 0;
}

// Searches the whole tree for a shown window with the title: a window
// manager, if one runs, reparents it.
Window FindShownWindow(Display* display, Window under) {
    if (HasTitle(display, under) && IsShown(display, under)) return under;
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, under, &root, &parent, &children, &count)) return 0;
    Window found = 0;
    for (unsigned i = 0; i < count && found == 0; ++i) found = FindShownWindow(display, children[i]);
    if (children != nullptr) XFree(children);
    return found;
}

Window AwaitShownWindow(Display* display) {
    auto deadline = std::chrono::steady_clock::now() + Patience;
    for (;;) {
        Window window = FindShownWindow(display, DefaultRootWindow(display));
        if (window != 0 || std::chrono::steady_clock::now() > deadline) return window;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

int Fail(const std::string& why) {
    std::fprintf(stderr, "wine_window_client: %s\n", why.c_str());
    return 1;
}

int RequestClose(Display* display, Window window) {
    XEvent event = {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    if (!XSendEvent(display, window, False, NoEventMask, &event)) return Fail("the close request was not sent");
    XSync(display, False);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string command = argc == 2 ? argv[1] : "";
    if (command != "shown" && command != "close") return Fail("usage: wine_window_client shown|close");
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return Fail("cannot open the display");
    Window window = AwaitShownWindow(display);
    int status = window == 0 ? Fail("no shown window titled \"Window\"")
                 : command == "close" ? RequestClose(display, window)
                                      : 0;
    XCloseDisplay(display);
    return status;
}
