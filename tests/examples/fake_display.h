// A stand-in for the X11 display behind the window layer: it records what
// the layer asks of it, and plays scripted arrivals while the layer waits.
#pragma once

#include "linux/user_display.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

struct FakeDisplay {
    bool reachable = true;
    int screenWidth = 1024;
    int screenHeight = 768;
    DisplaySurface lastSurface = 0;
    // "create <title> <class> <x>,<y> <w>x<h>", "show 1", "fill ffffff 300x200", "destroy"...
    std::vector<std::string> calls;
    // Each wait of the window layer runs the next arrival; with none left,
    // nothing can ever arrive.
    std::deque<std::function<void()>> arrivals;
};

extern FakeDisplay Fake;
