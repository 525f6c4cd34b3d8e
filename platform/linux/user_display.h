// The seam between the window layer (user_windows.cpp: classes, windows,
// the thread's message queue, the default window behaviour) and the display
// that shows the windows and delivers input. The programs run on X11
// (user_x11.cpp); the message-layer tests put a stand-in behind it, so the
// Win32 behaviour can be checked without an X server.
#pragma once

#include "win32.h"

// A window as the display knows it; 0 means none.
typedef unsigned long DisplaySurface;

// ---- Provided by the display ---------------------------------------------
// True once a connection stands. The first failure is reported on standard
// error, since a Win32 program has no way to say why it got no window.
bool DisplayConnect();
void DisplayScreenSize(int* width, int* height);
DisplaySurface DisplayCreateSurface(LPCSTR title, LPCSTR className, int x, int y, int width, int height,
                                    bool repaintWholeOnResize);
void DisplayShowSurface(DisplaySurface surface, bool visible);
void DisplayDestroySurface(DisplaySurface surface);
void DisplayFillSurface(DisplaySurface surface, DWORD rgb, int width, int height);
// Hands every event that has already arrived to the window layer, in the
// order of arrival, without waiting.
void DisplayReadArrivedEvents();
// Sleeps until something arrives. False when nothing ever can.
bool DisplayWaitForEvents();

// ---- Provided by the window layer, for the display's events -------------
HWND WindowFromSurface(DisplaySurface surface);
// Appends a message from the display (input, close request) to the queue. 'character' is what the key types
// (0 for none), kept for TranslateMessage.
void QueueDisplayMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD time, char character);
// The display lost (part of) the window's picture: it must be painted again.
void NoteWindowExposed(HWND window);
void NoteWindowResized(HWND window, int width, int height);
