// User-interface services, display side, on X11: every window is a
// top-level X window; exposure, resizing, keys and the window manager's
// close request come back as messages for the window layer.
#include "win32.h"
#include "linux/user_display.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <errno.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>

namespace {

Display* Connection;
bool ConnectionFailed;
Atom ProtocolsAtom;
Atom DeleteWindowAtom;

// The last colour asked for, so that repaints need no round trip.
DWORD CachedRgb = 0xFFFFFFFF;
unsigned long CachedPixel;

void CloseConnection() {
    if (Connection != nullptr) XCloseDisplay(Connection);
    Connection = nullptr;
}

unsigned long PixelFor(DWORD rgb) {
    if (rgb == CachedRgb) return CachedPixel;
    XColor colour = {};
    colour.red = static_cast<unsigned short>(((rgb >> 16) & 0xFF) * 0x101);
    colour.green = static_cast<unsigned short>(((rgb >> 8) & 0xFF) * 0x101);
    colour.blue = static_cast<unsigned short>((rgb & 0xFF) * 0x101);
    int screen = DefaultScreen(Connection);
    if (!XAllocColor(Connection, DefaultColormap(Connection, screen), &colour)) return WhitePixel(Connection, screen);
    CachedRgb = rgb;
    CachedPixel = colour.pixel;
    return CachedPixel;
}

// Windows virtual-key codes for the keys that have one here.
WPARAM VirtualKeyFor(KeySym key) {
    if (key >= XK_a && key <= XK_z) return 'A' + (key - XK_a);
    if (key >= XK_A && key <= XK_Z) return 'A' + (key - XK_A);
    if (key >= XK_0 && key <= XK_9) return '0' + (key - XK_0);
    if (key >= XK_F1 && key <= XK_F24) return 0x70 + (key - XK_F1);
    // clang-format off
    switch (key) {
    case XK_BackSpace: return 0x08;
    case XK_Tab: return 0x09;
    case XK_Return: case XK_KP_Enter: return 0x0D;
    case XK_Shift_L: case XK_Shift_R: return 0x10;
    case XK_Control_L: case XK_Control_R: return 0x11;
    case XK_Alt_L: case XK_Alt_R: return 0x12;
    case XK_Escape: return 0x1B;
    case XK_space: return 0x20;
    case XK_Prior: return 0x21;
    case XK_Next: return 0x22;
    case XK_End: return 0x23;
    case XK_Home: return 0x24;
    case XK_Left: return 0x25;
    case XK_Up: return 0x26;
    case XK_Right: return 0x27;
    case XK_Down: return 0x28;
    case XK_Insert: return 0x2D;
    case XK_Delete: return 0x2E;
    default: return 0;
    }
    // clang-format on
}

// Key messages carry the scan code in bits 16 to 23 of lParam (X keycodes
// are the evdev codes plus 8) and a repeat count of 1; a release also sets
// the previous-state and transition bits, 30 and 31.
void QueueKey(HWND window, XKeyEvent& event) {
    bool down = event.type == KeyPress;
    KeySym key = XLookupKeysym(&event, 0);
    char typed[8];
    KeySym typedKey;
    int length = XLookupString(&event, typed, sizeof(typed), &typedKey, nullptr);
    // Delete types DEL on X but no character on Windows.
    char character = (down && length == 1 && typed[0] != 0x7F) ? typed[0] : 0;
    ULONG_PTR lParam = 1 | ((static_cast<ULONG_PTR>(event.keycode - 8) & 0xFF) << 16);
    if (!down) lParam |= 0xC0000000u;
    QueueDisplayMessage(window, down ? WM_KEYDOWN : WM_KEYUP, VirtualKeyFor(key), static_cast<LPARAM>(lParam),
                        static_cast<DWORD>(event.time), character);
}

bool IsCloseRequest(const XClientMessageEvent& event) {
    return event.message_type == ProtocolsAtom && event.format == 32 &&
           static_cast<Atom>(event.data.l[0]) == DeleteWindowAtom;
}

void HandleEvent(XEvent& event) {
    HWND window = WindowFromSurface(event.xany.window);
    if (window == nullptr) return;  // e.g. late events of a destroyed window
    switch (event.type) {
    case Expose:
        NoteWindowExposed(window);
        break;
    case ConfigureNotify:
        NoteWindowResized(window, event.xconfigure.width, event.xconfigure.height);
        break;
    case KeyPress:
    case KeyRelease:
        QueueKey(window, event.xkey);
        break;
    case ClientMessage:
        if (IsCloseRequest(event.xclient)) QueueDisplayMessage(window, WM_CLOSE, 0, 0, CurrentTime, 0);
        break;
    default:
        break;
    }
}

void SetNames(::Window surface, LPCSTR title, LPCSTR className) {
    XStoreName(Connection, surface, title);
    XClassHint hint;
    hint.res_name = const_cast<char*>(className);
    hint.res_class = const_cast<char*>(className);
    XSetClassHint(Connection, surface, &hint);
    XSetWMProtocols(Connection, surface, &DeleteWindowAtom, 1);
}

// The place and size come from the program: tell the window manager so.
void SetPlacementHints(::Window surface, int x, int y, int width, int height) {
    XSizeHints hints = {};
    hints.flags = PPosition | PSize;
    hints.x = x;
    hints.y = y;
    hints.width = width;
    hints.height = height;
    XSetWMNormalHints(Connection, surface, &hints);
}

}  // namespace

bool DisplayConnect() {
    if (Connection != nullptr) return true;
    if (ConnectionFailed) return false;
    Connection = XOpenDisplay(nullptr);
    if (Connection == nullptr) {
        ConnectionFailed = true;
        fputs("cannot open display\n", stderr);
        return false;
    }
    ProtocolsAtom = XInternAtom(Connection, "WM_PROTOCOLS", False);
    DeleteWindowAtom = XInternAtom(Connection, "WM_DELETE_WINDOW", False);
    // ExitProcess ends the program with exit(): close the connection then,
    // so the server sees a clean goodbye and Xlib's memory is given back.
    atexit(CloseConnection);
    return true;
}

void DisplayScreenSize(int* width, int* height) {
    if (Connection == nullptr) return;
    int screen = DefaultScreen(Connection);
    *width = DisplayWidth(Connection, screen);
    *height = DisplayHeight(Connection, screen);
}

// No background of X's own: the window layer erases with the class colour,
// so what the program sees is what is shown. Forgetting the contents on
// resize makes the server expose the whole window, as CS_HREDRAW and
// CS_VREDRAW ask; otherwise the old picture stays and only new parts are
// exposed.
DisplaySurface DisplayCreateSurface(LPCSTR title, LPCSTR className, int x, int y, int width, int height,
                                    bool repaintWholeOnResize) {
    if (Connection == nullptr) return 0;
    XSetWindowAttributes attributes = {};
    attributes.background_pixmap = None;
    attributes.bit_gravity = repaintWholeOnResize ? ForgetGravity : NorthWestGravity;
    attributes.event_mask = ExposureMask | StructureNotifyMask | KeyPressMask | KeyReleaseMask;
    ::Window surface = XCreateWindow(Connection, DefaultRootWindow(Connection), x, y, static_cast<unsigned>(width),
                                     static_cast<unsigned>(height), 0, CopyFromParent, InputOutput, CopyFromParent,
                                     CWBackPixmap | CWBitGravity | CWEventMask, &attributes);
    if (surface == 0) return 0;
    SetNames(surface, title, className);
    SetPlacementHints(surface, x, y, width, height);
    return surface;
}

void DisplayShowSurface(DisplaySurface surface, bool visible) {
    if (Connection == nullptr) return;
    if (visible)
        XMapWindow(Connection, surface);
    else
        XUnmapWindow(Connection, surface);
    XFlush(Connection);
}

void DisplayDestroySurface(DisplaySurface surface) {
    if (Connection == nullptr) return;
    XDestroyWindow(Connection, surface);
    XFlush(Connection);
}

void DisplayFillSurface(DisplaySurface surface, DWORD rgb, int width, int height) {
    if (Connection == nullptr) return;
    GC context = DefaultGC(Connection, DefaultScreen(Connection));
    XSetForeground(Connection, context, PixelFor(rgb));
    XFillRectangle(Connection, surface, context, 0, 0, static_cast<unsigned>(width), static_cast<unsigned>(height));
    XFlush(Connection);
}

void DisplayReadArrivedEvents() {
    if (Connection == nullptr) return;
    // XPending flushes our requests and reads what the socket holds, but
    // never waits.
    while (XPending(Connection) > 0) {
        XEvent event;
        XNextEvent(Connection, &event);
        HandleEvent(event);
    }
}

// Sleeps in poll() on the connection, so an idle program uses no CPU.
bool DisplayWaitForEvents() {
    if (Connection == nullptr) return false;
    XFlush(Connection);
    if (XEventsQueued(Connection, QueuedAlready) > 0) return true;
    pollfd socket = {ConnectionNumber(Connection), POLLIN, 0};
    while (poll(&socket, 1, -1) < 0 && errno == EINTR) {
    }
    return true;
}
