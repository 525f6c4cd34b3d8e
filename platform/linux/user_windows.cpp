// User-interface services, window side: the part of USER32 that the window
// example calls. Classes, windows, the thread's message queue and the
// default window behaviour live here; showing, painting and input belong to
// the display behind user_display.h. Everything runs on the one thread that
// calls in, as on Windows, so no locks.
#include "win32.h"
#include "linux/user_display.h"

#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <time.h>

namespace {

// ---- Classes ------------------------------------------------------------
struct WindowClass {
    bool used;
    char name[256];  // the longest class name Windows accepts, and its NUL
    UINT style;
    WNDPROC procedure;
    HBRUSH background;
};
constexpr int MaxClasses = 32;
WindowClass Classes[MaxClasses];

// Class names are compared without regard to case, as on Windows.
WindowClass* FindClass(LPCSTR name) {
    if (name == nullptr) return nullptr;
    for (WindowClass& c : Classes)
        if (c.used && strcasecmp(c.name, name) == 0) return &c;
    return nullptr;
}

// A background of 1 to 21 is a system colour number plus one, standing in
// for a brush; these are the Windows defaults, as 0xRRGGBB.
constexpr DWORD SystemColours[] = {
    0xC8C8C8, 0x000000, 0x99B4D1, 0xBFCDDB, 0xF0F0F0, 0xFFFFFF, 0x646464, 0x000000, 0x000000, 0x000000, 0xB4B4B4,
    0xF4F7FC, 0xABABAB, 0x0078D7, 0xFFFFFF, 0xF0F0F0, 0xA0A0A0, 0x6D6D6D, 0x000000, 0x000000, 0xFFFFFF,
};
constexpr ULONG_PTR SystemColourCount = sizeof(SystemColours) / sizeof(SystemColours[0]);

bool BackgroundColour(HBRUSH brush, DWORD* rgb) {
    ULONG_PTR number = reinterpret_cast<ULONG_PTR>(brush);
    if (number == 0 || number > SystemColourCount) return false;
    *rgb = SystemColours[number - 1];
    return true;
}

// ---- Windows ------------------------------------------------------------
struct Window {
    bool used;
    bool destroying;
    bool visible;
    bool needsPaint;  // the whole client area waits for WM_PAINT...
    bool needsErase;  // ...and for its background first
    WindowClass* windowClass;
    DisplaySurface surface;
    int width;
    int height;
};
constexpr int MaxWindows = 64;
Window Windows[MaxWindows];

// Handles are slot numbers above a base, so that a null or stray pointer
// never passes for a window.
constexpr UINT_PTR HandleBase = 0x10000;
HWND HandleOf(const Window& window) {
    return reinterpret_cast<HWND>(HandleBase + static_cast<UINT_PTR>(&window - Windows));
}
Window* LookUpWindow(HWND handle) {
    UINT_PTR slot = reinterpret_cast<UINT_PTR>(handle) - HandleBase;
    if (slot >= MaxWindows || !Windows[slot].used) return nullptr;
    return &Windows[slot];
}

LRESULT SendToWindow(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* window = LookUpWindow(handle);
    if (window == nullptr) return 0;
    return window->windowClass->procedure(handle, message, wParam, lParam);
}

void Invalidate(Window* window) {
    window->needsPaint = true;
    window->needsErase = true;
}

// ---- The thread's message queue -----------------------------------------
struct QueuedMessage {
    MSG msg;
    char character;  // what a key-down types, for TranslateMessage
};

struct MessageQueue {
    QueuedMessage* entries;
    int capacity;
    int first;
    int count;
};
MessageQueue Queue;
// The last message GetMessageA handed out: TranslateMessage looks up the
// character of a key-down here, since MSG has no room for it.
QueuedMessage LastRetrieved;

DWORD MillisecondsNow() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<DWORD>(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

bool GrowQueue() {
    int capacity = Queue.capacity == 0 ? 32 : Queue.capacity * 2;
    QueuedMessage* entries = static_cast<QueuedMessage*>(malloc(sizeof(QueuedMessage) * capacity));
    if (entries == nullptr) return false;
    for (int i = 0; i < Queue.count; ++i) entries[i] = Queue.entries[(Queue.first + i) % Queue.capacity];
    free(Queue.entries);
    Queue = {entries, capacity, 0, Queue.count};
    return true;
}

void Enqueue(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD time, char character) {
    if (Queue.count == Queue.capacity && !GrowQueue()) return;  // out of memory: the message is lost
    QueuedMessage& entry = Queue.entries[(Queue.first + Queue.count) % Queue.capacity];
    entry = {{window, message, wParam, lParam, time, {0, 0}}, character};
    ++Queue.count;
}

// What TranslateMessage makes of a key goes before everything else that
// waits, as on Windows, where input is only read once posted messages are
// served.
void EnqueueFirst(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD time) {
    if (Queue.count == Queue.capacity && !GrowQueue()) return;
    Queue.first = (Queue.first + Queue.capacity - 1) % Queue.capacity;
    Queue.entries[Queue.first] = {{window, message, wParam, lParam, time, {0, 0}}, 0};
    ++Queue.count;
}

bool Dequeue(QueuedMessage* entry) {
    if (Queue.count == 0) return false;
    *entry = Queue.entries[Queue.first];
    Queue.first = (Queue.first + 1) % Queue.capacity;
    --Queue.count;
    return true;
}

// A destroyed window's handle may be reused, so its queued messages go
// with it, as on Windows.
void DiscardMessagesFor(HWND window) {
    int kept = 0;
    for (int i = 0; i < Queue.count; ++i) {
        QueuedMessage entry = Queue.entries[(Queue.first + i) % Queue.capacity];
        if (entry.msg.hwnd != window) Queue.entries[(Queue.first + kept++) % Queue.capacity] = entry;
    }
    Queue.count = kept;
}

// Paints are not queued: a window that waits for one gets WM_PAINT once the
// queue is empty, so a burst of exposures or a resize costs one repaint.
Window* WindowNeedingPaint() {
    for (Window& w : Windows)
        if (w.used && w.needsPaint) return &w;
    return nullptr;
}

// ---- Creation and destruction -------------------------------------------
void PlaceWindow(int* x, int* y, int* width, int* height) {
    int screenWidth = 0;
    int screenHeight = 0;
    DisplayScreenSize(&screenWidth, &screenHeight);
    if (*x == CW_USEDEFAULT) {
        *x = screenWidth / 8;
        *y = screenHeight / 8;
    }
    if (*width == CW_USEDEFAULT) {
        *width = screenWidth * 3 / 4;
        *height = screenHeight * 3 / 4;
    }
    // A window the display can show is at least one pixel in each direction.
    if (*width < 1) *width = 1;
    if (*height < 1) *height = 1;
}

Window* FreeWindowSlot() {
    for (Window& w : Windows)
        if (!w.used) return &w;
    return nullptr;
}

void ReleaseWindow(Window* window) {
    DisplayDestroySurface(window->surface);
    DiscardMessagesFor(HandleOf(*window));
    *window = {};
}

void DestroyWindowNow(Window* window) {
    if (window->destroying) return;  // WM_DESTROY already on its way
    window->destroying = true;
    HWND handle = HandleOf(*window);
    if (window->visible) DisplayShowSurface(window->surface, false);
    SendToWindow(handle, WM_DESTROY, 0, 0);
    SendToWindow(handle, WM_NCDESTROY, 0, 0);
    ReleaseWindow(window);
}

// WM_NCCREATE and WM_CREATE may refuse the window; then it is gone again.
bool SendCreationMessages(Window* window, CREATESTRUCTA* creation) {
    HWND handle = HandleOf(*window);
    LPARAM lParam = reinterpret_cast<LPARAM>(creation);
    if (SendToWindow(handle, WM_NCCREATE, 0, lParam) == 0) {
        ReleaseWindow(window);
        return false;
    }
    if (SendToWindow(handle, WM_CREATE, 0, lParam) == -1) {
        DestroyWindowNow(window);
        return false;
    }
    SendToWindow(handle, WM_SIZE, SIZE_RESTORED, MAKELPARAM(window->width, window->height));
    SendToWindow(handle, WM_MOVE, 0, MAKELPARAM(creation->x, creation->y));
    return true;
}

// ---- Default handling ---------------------------------------------------
LRESULT EraseBackground(Window* window) {
    DWORD rgb = 0;
    if (!BackgroundColour(window->windowClass->background, &rgb)) return 0;
    DisplayFillSurface(window->surface, rgb, window->width, window->height);
    return 1;
}

// What BeginPaint and EndPaint do for a window that draws nothing itself:
// erase if asked, then count the window as painted.
void PaintDefault(HWND handle, Window* window) {
    if (window->needsErase) {
        window->needsErase = false;
        SendToWindow(handle, WM_ERASEBKGND, 0, 0);
        window = LookUpWindow(handle);  // the procedure may have destroyed it
        if (window == nullptr) return;
    }
    window->needsPaint = false;
}

}  // namespace

// ---- For the display ----------------------------------------------------
HWND WindowFromSurface(DisplaySurface surface) {
    for (Window& w : Windows)
        if (w.used && surface != 0 && w.surface == surface) return HandleOf(w);
    return nullptr;
}

void QueueDisplayMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD time, char character) {
    Enqueue(window, message, wParam, lParam, time, character);
}

void NoteWindowExposed(HWND handle) {
    Window* window = LookUpWindow(handle);
    if (window != nullptr) Invalidate(window);
}

void NoteWindowResized(HWND handle, int width, int height) {
    Window* window = LookUpWindow(handle);
    if (window == nullptr || (window->width == width && window->height == height)) return;
    window->width = width;
    window->height = height;
    Enqueue(handle, WM_SIZE, SIZE_RESTORED, MAKELPARAM(width, height), MillisecondsNow(), 0);
    if (window->windowClass->style & (CS_HREDRAW | CS_VREDRAW)) Invalidate(window);
}

// ---- USER32 -------------------------------------------------------------
extern "C" {

// Programs here carry no icon or cursor resources, so only the stock ones
// exist (a null module); their handle only has to be non-null and stable.
HICON WINAPI LoadIconA(HINSTANCE hInstance, LPCSTR lpIconName) {
    if (hInstance != nullptr) return nullptr;
    return reinterpret_cast<HICON>(const_cast<LPSTR>(lpIconName));
}

HCURSOR WINAPI LoadCursorA(HINSTANCE hInstance, LPCSTR lpCursorName) {
    if (hInstance != nullptr) return nullptr;
    return reinterpret_cast<HCURSOR>(const_cast<LPSTR>(lpCursorName));
}

ATOM WINAPI RegisterClassExA(const WNDCLASSEXA* lpwcx) {
    if (lpwcx == nullptr || lpwcx->cbSize != sizeof(WNDCLASSEXA) || lpwcx->lpfnWndProc == nullptr) return 0;
    LPCSTR name = lpwcx->lpszClassName;
    if (name == nullptr || name[0] == '\0' || strlen(name) >= sizeof(WindowClass::name)) return 0;
    if (FindClass(name) != nullptr) return 0;  // already registered
    for (int i = 0; i < MaxClasses; ++i) {
        WindowClass& c = Classes[i];
        if (c.used) continue;
        c = {true, {}, lpwcx->style, lpwcx->lpfnWndProc, lpwcx->hbrBackground};
        strcpy(c.name, name);
        return static_cast<ATOM>(0xC000 + i);  // where Windows numbers its class atoms
    }
    return 0;
}

// Only top-level windows: there are no child windows here.
HWND WINAPI CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle, int X, int Y,
                            int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance,
                            LPVOID lpParam) {
    WindowClass* windowClass = FindClass(lpClassName);
    Window* window = FreeWindowSlot();
    if (windowClass == nullptr || window == nullptr || hWndParent != nullptr || !DisplayConnect()) return nullptr;
    PlaceWindow(&X, &Y, &nWidth, &nHeight);
    LPCSTR title = lpWindowName != nullptr ? lpWindowName : "";
    bool wholeRepaint = (windowClass->style & (CS_HREDRAW | CS_VREDRAW)) != 0;
    DisplaySurface surface = DisplayCreateSurface(title, windowClass->name, X, Y, nWidth, nHeight, wholeRepaint);
    if (surface == 0) return nullptr;
    *window = {true, false, false, false, false, windowClass, surface, nWidth, nHeight};
    CREATESTRUCTA creation = {
        lpParam, hInstance,   hMenu,    hWndParent, nHeight, nWidth, Y, X, static_cast<LONG>(dwStyle),
        title,   lpClassName, dwExStyle};
    if (!SendCreationMessages(window, &creation)) return nullptr;
    HWND handle = HandleOf(*window);
    if (dwStyle & WS_VISIBLE) ShowWindow(handle, SW_SHOW);
    return handle;
}

// The result is whether the window was visible before.
BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow) {
    Window* window = LookUpWindow(hWnd);
    if (window == nullptr) return 0;
    bool wasVisible = window->visible;
    bool show = nCmdShow != SW_HIDE;
    if (show == wasVisible) return wasVisible;
    SendToWindow(hWnd, WM_SHOWWINDOW, show, 0);
    window = LookUpWindow(hWnd);
    if (window == nullptr) return wasVisible;
    window->visible = show;
    DisplayShowSurface(window->surface, show);
    if (show) Invalidate(window);  // a window that appears is painted whole
    return wasVisible;
}

BOOL WINAPI UpdateWindow(HWND hWnd) {
    Window* window = LookUpWindow(hWnd);
    if (window == nullptr) return 0;
    if (window->needsPaint) SendToWindow(hWnd, WM_PAINT, 0, 0);
    return 1;
}

// Only the unfiltered form is provided: the programs here never filter, so
// hWnd and the message range are not looked at.
BOOL WINAPI GetMessageA(LPMSG lpMsg, HWND, UINT, UINT) {
    QueuedMessage entry;
    for (;;) {
        DisplayReadArrivedEvents();
        if (Dequeue(&entry)) break;
        if (Window* window = WindowNeedingPaint()) {
            entry = {{HandleOf(*window), WM_PAINT, 0, 0, MillisecondsNow(), {0, 0}}, 0};
            break;
        }
        // Nothing queued and nothing can arrive: waiting would never end.
        if (!DisplayWaitForEvents()) return -1;
    }
    *lpMsg = entry.msg;
    LastRetrieved = entry;
    return entry.msg.message != WM_QUIT;
}

// A key-down just retrieved that types a character is followed by WM_CHAR.
BOOL WINAPI TranslateMessage(const MSG* lpMsg) {
    const MSG& last = LastRetrieved.msg;
    if (lpMsg == nullptr || lpMsg->message != WM_KEYDOWN || LastRetrieved.character == 0) return 0;
    if (lpMsg->hwnd != last.hwnd || lpMsg->message != last.message || lpMsg->wParam != last.wParam ||
        lpMsg->lParam != last.lParam || lpMsg->time != last.time)
        return 0;
    EnqueueFirst(lpMsg->hwnd, WM_CHAR, static_cast<BYTE>(LastRetrieved.character), lpMsg->lParam, lpMsg->time);
    return 1;
}

LRESULT WINAPI DispatchMessageA(const MSG* lpMsg) {
    if (lpMsg == nullptr) return 0;
    return SendToWindow(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
}

void WINAPI PostQuitMessage(int nExitCode) {
    Enqueue(nullptr, WM_QUIT, static_cast<WPARAM>(static_cast<LONG_PTR>(nExitCode)), 0, MillisecondsNow(), 0);
}

LRESULT WINAPI DefWindowProcA(HWND hWnd, UINT Msg, WPARAM, LPARAM) {
    Window* window = LookUpWindow(hWnd);
    if (window == nullptr) return 0;
    switch (Msg) {
    case WM_NCCREATE:
        return 1;  // go on with the creation
    case WM_CLOSE:
        DestroyWindowNow(window);
        return 0;
    case WM_ERASEBKGND:
        return EraseBackground(window);
    case WM_PAINT:
        PaintDefault(hWnd, window);
        return 0;
    default:
        return 0;
    }
}

}  // extern "C"
