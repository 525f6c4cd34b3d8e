// A minimal GUI program: one empty top-level window of class "WndClass",
// titled "Window", and a message loop that runs until the window is closed.
// Everything the window does, apart from ending the program when it is
// destroyed, is the platform's default window behaviour.
#include "win32.h"

namespace {

const char ClassName[] = "WndClass";
const char WindowTitle[] = "Window";

// The exit code when there is no window to wait for: nothing would ever
// post the quit message, so waiting would never end.
constexpr int NoWindowExitCode = 1;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

// The previous instance, the command line and the show command are taken as
// every WinMain takes them, and not used.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    WNDCLASSEXA windowClass;
    windowClass.cbSize = sizeof(WNDCLASSEXA);
    windowClass.style = CS_VREDRAW | CS_HREDRAW;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<ULONG_PTR>(COLOR_WINDOW + 1));
    windowClass.lpszMenuName = nullptr;
    windowClass.lpszClassName = ClassName;
    windowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    windowClass.hIconSm = windowClass.hIcon;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    if (RegisterClassExA(&windowClass) == 0) return NoWindowExitCode;

    HWND window = CreateWindowExA(0, ClassName, WindowTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                  CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) return NoWindowExitCode;
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);

    // -1 is not an error here: no window filter and our own record leave
    // GetMessageA nothing to fail on.
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) != 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}

extern "C" void WINAPI start() {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    LPSTR commandLine = GetCommandLineA();
    int result = WinMain(instance, nullptr, commandLine, SW_SHOWDEFAULT);
    ExitProcess(static_cast<UINT>(result));
}
