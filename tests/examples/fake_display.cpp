#include "fake_display.h"

#include <cstdio>

FakeDisplay Fake;

bool DisplayConnect() { return Fake.reachable; }

void DisplayScreenSize(int* width, int* height) {
    *width = Fake.screenWidth;
    *height = Fake.screenHeight;
}

DisplaySurface DisplayCreateSurface(LPCSTR title, LPCSTR className, int x, int y, int width, int height, bool) {
    Fake.calls.push_back("create " + std::string(title) + " " + className + " " + std::to_string(x) + "," +
                         std::to_string(y) + " " + std::to_string(width) + "x" + std::to_string(height));
    return ++Fake.lastSurface;
}

void DisplayShowSurface(DisplaySurface, bool visible) { Fake.calls.push_back(visible ? "show 1" : "show 0"); }

void DisplayDestroySurface(DisplaySurface) { Fake.calls.push_back("destroy"); }

void DisplayFillSurface(DisplaySurface, DWORD rgb, int width, int height) {
    char text[64];
    std::snprintf(text, sizeof(text), "fill %06x %dx%d", rgb, width, height);
    Fake.calls.push_back(text);
}

void DisplayReadArrivedEvents() {}

bool DisplayWaitForEvents() {
    if (Fake.arrivals.empty()) return false;
    auto arrival = Fake.arrivals.front();
    Fake.arrivals.pop_front();
    arrival();
    return true;
}
