// The window layer's Win32 behaviour, over a stand-in display: creation
// messages, showing and painting, the close request, the quit message and
// the order in which messages are served.
#include "fake_display.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Delivery {
    UINT message;
    int depth;  // 1 from the caller, 2 from inside the procedure itself
    bool operator==(const Delivery&) const = default;
};

std::vector<Delivery> Deliveries;
std::vector<std::string> CreatedNames;  // title and class seen in WM_CREATE
int Depth;
LRESULT CreateResult;

// Behaves like window_example's procedure, and records what reaches it.
LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    ++Depth;
    Deliveries.push_back({message, Depth});
    LRESULT result = 0;
    if (message == WM_CREATE) {
        auto* creation = reinterpret_cast<CREATESTRUCTA*>(lParam);
        CreatedNames = {creation->lpszName, creation->lpszClass};
        result = CreateResult;
    } else if (message == WM_DESTROY) {
        PostQuitMessage(0);
    } else {
        result = DefWindowProcA(window, message, wParam, lParam);
    }
    --Depth;
    return result;
}

ATOM Register(LPCSTR name, HBRUSH background) {
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = RecordingProc;
    windowClass.hbrBackground = background;
    windowClass.lpszClassName = name;
    return RegisterClassExA(&windowClass);
}

const HBRUSH WindowColour = reinterpret_cast<HBRUSH>(static_cast<ULONG_PTR>(COLOR_WINDOW + 1));

class WindowLayer : public testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_NE(Register("TestClass", WindowColour), 0);
        ASSERT_NE(Register("BareClass", nullptr), 0);
    }

    void SetUp() override {
        Fake = FakeDisplay();
        Deliveries.clear();
        CreateResult = 0;
    }

    // Closes what a test left open and empties the queue for the next one.
    void TearDown() override {
        for (HWND window : windows) DefWindowProcA(window, WM_CLOSE, 0, 0);
        Fake.arrivals.clear();
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) != -1) {
        }
    }

    HWND Create(LPCSTR className = "TestClass") {
        HWND window = CreateWindowExA(0, className, "Title", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                      CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, nullptr, nullptr);
        if (window != nullptr) windows.push_back(window);
        return window;
    }

    HWND CreateShown() {
        HWND window = Create();
        ShowWindow(window, SW_SHOWNORMAL);
        UpdateWindow(window);
        Deliveries.clear();
        Fake.calls.clear();
        return window;
    }

    // Fetches and dispatches one message, as the example's loop does.
    MSG Next() {
        MSG msg = {};
        EXPECT_NE(GetMessageA(&msg, nullptr, 0, 0), -1) << "no message was there to fetch";
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
        return msg;
    }

    bool QueueIsEmpty() {
        MSG msg;
        return GetMessageA(&msg, nullptr, 0, 0) == -1;
    }

    std::vector<HWND> windows;
};

TEST_F(WindowLayer, CreationMessagesComeFromInsideCreateWindowAndTheWindowStaysHidden) {
    HWND window = Create();
    ASSERT_NE(window, nullptr);
    std::vector<Delivery> expected = {{WM_NCCREATE, 1}, {WM_CREATE, 1}, {WM_SIZE, 1}, {WM_MOVE, 1}};
    EXPECT_EQ(Deliveries, expected);
    EXPECT_EQ(CreatedNames, (std::vector<std::string>{"Title", "TestClass"}));
    // CW_USEDEFAULT: three quarters of the screen, an eighth in from the corner.
    EXPECT_EQ(Fake.calls, (std::vector<std::string>{"create Title TestClass 128,96 768x576"}));
}

TEST_F(WindowLayer, CreationFailsWithoutDisplayOrClassOrWhenCreateRefuses) {
    Fake.reachable = false;
    EXPECT_EQ(Create(), nullptr);
    EXPECT_TRUE(Deliveries.empty());

    Fake.reachable = true;
    EXPECT_EQ(Create("NoSuchClass"), nullptr);
    EXPECT_EQ(Register("testclass", WindowColour), 0) << "class names ignore case; registered twice";

    CreateResult = -1;
    EXPECT_EQ(Create(), nullptr);
    EXPECT_EQ(Fake.calls.back(), "destroy");
    EXPECT_EQ(Deliveries.back().message, WM_NCDESTROY);
}

TEST_F(WindowLayer, ShowingPaintsTheWholeClientAreaInTheWindowColourOnce) {
    HWND window = Create();
    Deliveries.clear();
    Fake.calls.clear();
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    std::vector<Delivery> expected = {{WM_SHOWWINDOW, 1}, {WM_PAINT, 1}, {WM_ERASEBKGND, 2}};
    EXPECT_EQ(Deliveries, expected);
    EXPECT_EQ(Fake.calls, (std::vector<std::string>{"show 1", "fill ffffff 768x576"}));

    Deliveries.clear();
    UpdateWindow(window);
    EXPECT_TRUE(Deliveries.empty()) << "a painted window was painted again";
    EXPECT_TRUE(QueueIsEmpty());
}

TEST_F(WindowLayer, CloseRequestDestroysTheWindowWithDestroyNestedAndEndsTheLoop) {
    HWND window = CreateShown();
    QueueDisplayMessage(window, WM_KEYDOWN, 'A', 1, 0, 0);
    QueueDisplayMessage(window, WM_CLOSE, 0, 0, 0, 0);
    QueueDisplayMessage(window, WM_KEYUP, 'A', 1, 0, 0);  // queued for a window that will be gone
    Next();
    Next();
    std::vector<Delivery> expected = {{WM_KEYDOWN, 1}, {WM_CLOSE, 1}, {WM_DESTROY, 2}, {WM_NCDESTROY, 2}};
    EXPECT_EQ(Deliveries, expected);
    EXPECT_EQ(Fake.calls, (std::vector<std::string>{"show 0", "destroy"}));

    MSG msg;
    EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), 0) << "the destroyed window's key-up was served";
    EXPECT_EQ(msg.message, WM_QUIT);
    EXPECT_EQ(DispatchMessageA(&msg), 0);
    Deliveries.clear();
    EXPECT_EQ(DefWindowProcA(window, WM_CLOSE, 0, 0), 0);
    EXPECT_TRUE(Deliveries.empty()) << "a destroyed handle still reached the procedure";
    windows.clear();
}

TEST_F(WindowLayer, QuitCarriesItsCodeAndIsServedInTurnWithDisplayMessages) {
    HWND window = CreateShown();
    QueueDisplayMessage(window, WM_KEYDOWN, 'B', 1, 0, 0);
    PostQuitMessage(-2);
    QueueDisplayMessage(window, WM_KEYUP, 'B', 1, 0, 0);
    MSG msg;
    ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), 1);
    EXPECT_EQ(msg.message, WM_KEYDOWN);
    ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), 0);
    EXPECT_EQ(msg.message, WM_QUIT);
    EXPECT_EQ(msg.hwnd, nullptr);
    EXPECT_EQ(static_cast<int>(msg.wParam), -2);
    ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), 1);
    EXPECT_EQ(msg.message, WM_KEYUP);
}

TEST_F(WindowLayer, ExposuresAreServedAsOnePaintAfterQueuedMessages) {
    HWND window = CreateShown();
    NoteWindowExposed(window);
    QueueDisplayMessage(window, WM_KEYDOWN, 'C', 1, 0, 0);
    NoteWindowExposed(window);
    EXPECT_EQ(Next().message, WM_KEYDOWN);
    EXPECT_EQ(Next().message, WM_PAINT);
    EXPECT_EQ(Fake.calls, (std::vector<std::string>{"fill ffffff 768x576"}));
    EXPECT_TRUE(QueueIsEmpty()) << "one painting should have served both exposures";
}

TEST_F(WindowLayer, ResizingReportsTheSizeAndRepaintsWhole) {
    HWND window = CreateShown();
    NoteWindowResized(window, 300, 200);
    NoteWindowResized(window, 300, 200);  // the same size again changes nothing
    MSG size = Next();
    EXPECT_EQ(size.message, WM_SIZE);
    EXPECT_EQ(size.lParam, MAKELPARAM(300, 200));
    EXPECT_EQ(Next().message, WM_PAINT);
    EXPECT_EQ(Fake.calls, (std::vector<std::string>{"fill ffffff 300x200"}));
    EXPECT_TRUE(QueueIsEmpty());
}

TEST_F(WindowLayer, WithoutBackgroundTheWindowIsNotErased) {
    HWND window = Create("BareClass");
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    EXPECT_EQ(DefWindowProcA(window, WM_ERASEBKGND, 0, 0), 0);
    EXPECT_EQ(Fake.calls, (std::vector<std::string>{"create Title BareClass 128,96 768x576", "show 1"}));
}

TEST_F(WindowLayer, TranslateAddsACharacterAfterATypingKeyDownOnly) {
    HWND window = CreateShown();
    QueueDisplayMessage(window, WM_KEYDOWN, 'A', 0x1E0001, 42, 'a');
    QueueDisplayMessage(window, WM_KEYDOWN, 0x10, 0x2A0001, 43, 0);  // Shift types nothing
    QueueDisplayMessage(window, WM_KEYUP, 'A', 0xC01E0001, 44, 0);
    MSG msg;
    GetMessageA(&msg, nullptr, 0, 0);
    MSG altered = msg;
    altered.time = 41;
    EXPECT_FALSE(TranslateMessage(&altered)) << "a message not fetched just now was translated";
    EXPECT_TRUE(TranslateMessage(&msg));
    GetMessageA(&msg, nullptr, 0, 0);
    EXPECT_EQ(msg.message, WM_CHAR) << "the character must come right after its key";
    EXPECT_EQ(msg.wParam, static_cast<WPARAM>('a'));
    EXPECT_EQ(msg.lParam, 0x1E0001);
    for (int i = 0; i < 2; ++i) {
        GetMessageA(&msg, nullptr, 0, 0);
        EXPECT_FALSE(TranslateMessage(&msg)) << "message " << msg.message;
    }
    EXPECT_TRUE(QueueIsEmpty());
}

TEST_F(WindowLayer, GetMessageWaitsForTheDisplayWhenTheQueueIsEmpty) {
    HWND window = CreateShown();
    Fake.arrivals.push_back([] {});  // woken with nothing for us: wait again
    Fake.arrivals.push_back([window] { QueueDisplayMessage(window, WM_CLOSE, 0, 0, 0, 0); });
    EXPECT_EQ(Next().message, WM_CLOSE);
    EXPECT_TRUE(Fake.arrivals.empty());
    windows.clear();
}

}  // namespace
