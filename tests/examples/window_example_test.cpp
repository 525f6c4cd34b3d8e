// window_example's own routines over a stand-in display. Each run goes in a
// child process: a class stays registered for the life of a process, as on
// Windows, so every run needs a fresh one.
#include "fake_display.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

extern "C" void WINAPI start();

namespace {

// The close request, as the window manager would send it to the window.
void RequestClose() { QueueDisplayMessage(WindowFromSurface(Fake.lastSurface), WM_CLOSE, 0, 0, 0, 0); }

bool WasCalled(const std::string& call) {
    return std::find(Fake.calls.begin(), Fake.calls.end(), call) != Fake.calls.end();
}

// Runs the program; once it waits for messages, checks the display's log
// inside the child (a wrong log shows as exit status 99) and closes.
void RunAndCheck(const std::vector<std::string>& calls) {
    Fake = FakeDisplay();
    Fake.arrivals.push_back([calls] {
        for (const auto& call : calls)
            if (!WasCalled(call)) std::_Exit(99);
        RequestClose();
    });
    start();
}

TEST(WindowExample, ShowsAWhiteWindowAndEndsWithZeroWhenClosed) {
    EXPECT_EXIT(RunAndCheck({"create Window WndClass 128,96 768x576", "show 1", "fill ffffff 768x576"}),
                testing::ExitedWithCode(0), "");
}

TEST(WindowExample, AQuitFromOutsideEndsTheLoopWithTheLow32BitsOfItsCode) {
    auto run = [] {
        Fake = FakeDisplay();
        Fake.arrivals.push_back([] { QueueDisplayMessage(nullptr, WM_QUIT, 0x100000005ull, 0, 0, 0); });
        std::atexit([] {
            if (WasCalled("destroy")) std::_Exit(99);  // the window must be left as it is
        });
        start();
    };
    EXPECT_EXIT(run(), testing::ExitedWithCode(5), "");
}

TEST(WindowExample, WithoutADisplayItEndsAtOnceWithOne) {
    auto run = [] {
        Fake = FakeDisplay();
        Fake.reachable = false;
        start();
    };
    EXPECT_EXIT(run(), testing::ExitedWithCode(1), "");
}

}  // namespace
