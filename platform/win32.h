// The Win32 subset that carvex and the two example programs call: the
// types, constants, records and functions they use, and nothing more.
// On Windows these are the real KERNEL32 and USER32 imports; on Linux the
// files under platform/linux provide them (kernel services on POSIX,
// user-interface services on Xlib).
#pragma once

#if defined(_WIN32)
#define WINAPI __stdcall
#define CALLBACK __stdcall
#define WIN32_IMPORT extern "C" __declspec(dllimport)
#else
#define WINAPI
#define CALLBACK
#define WIN32_IMPORT extern "C"
#endif

// ---- Types --------------------------------------------------------------
// Fixed widths: DWORD is 32 bits on Windows, while 'unsigned long' is 64
// bits on Linux, so no type here is spelled with 'long'.
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef unsigned int DWORD;
typedef int BOOL;
typedef int INT;
typedef unsigned int UINT;
typedef int LONG;
typedef unsigned long long ULONGLONG;
typedef long long LONGLONG;
typedef __SIZE_TYPE__ SIZE_T;
typedef __INTPTR_TYPE__ LONG_PTR;
typedef __UINTPTR_TYPE__ ULONG_PTR;
typedef __UINTPTR_TYPE__ UINT_PTR;
typedef char CHAR;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef DWORD* LPDWORD;
typedef void* HANDLE;
typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;
typedef WORD ATOM;

struct HINSTANCE__;
struct HWND__;
struct HICON__;
struct HCURSOR__;
struct HBRUSH__;
struct HMENU__;
typedef HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef HWND__* HWND;
typedef HICON__* HICON;
typedef HCURSOR__* HCURSOR;
typedef HBRUSH__* HBRUSH;
typedef HMENU__* HMENU;

// A 64-bit file offset, as SetFilePointerEx takes and gives it.
union LARGE_INTEGER {
    LONGLONG QuadPart;
};
typedef LARGE_INTEGER* PLARGE_INTEGER;

static_assert(sizeof(DWORD) == 4, "DWORD is 32 bits");
static_assert(sizeof(LARGE_INTEGER) == 8, "LARGE_INTEGER is 64 bits");
static_assert(sizeof(WORD) == 2, "WORD is 16 bits");
static_assert(sizeof(WPARAM) == sizeof(void*), "WPARAM is pointer-sized");
static_assert(sizeof(LPARAM) == sizeof(void*), "LPARAM is pointer-sized");

// ---- Constants ----------------------------------------------------------
constexpr DWORD STD_OUTPUT_HANDLE = static_cast<DWORD>(-11);
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)))
constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFFu;

constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD FILE_SHARE_WRITE = 0x2;
constexpr DWORD FILE_SHARE_DELETE = 0x4;
constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD TRUNCATE_EXISTING = 5;
constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x1;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD FILE_ATTRIBUTE_REPARSE_POINT = 0x400;
// With an access of 0, CreateFileA opens a folder too.
constexpr DWORD FILE_FLAG_BACKUP_SEMANTICS = 0x02000000;
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;
constexpr DWORD HEAP_ZERO_MEMORY = 0x8;
constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x1;
constexpr DWORD MAX_PATH = 260;
constexpr DWORD FILE_BEGIN = 0;
constexpr DWORD FILE_CURRENT = 1;
constexpr DWORD FILE_END = 2;
// The exit code of a process that Ctrl+C ended.
constexpr UINT STATUS_CONTROL_C_EXIT = 0xC000013Au;

constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_NO_MORE_FILES = 18;
constexpr DWORD ERROR_SHARING_VIOLATION = 32;
constexpr DWORD ERROR_FILE_EXISTS = 80;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;
constexpr DWORD ERROR_UNABLE_TO_MOVE_REPLACEMENT = 1176;

constexpr UINT CS_VREDRAW = 0x0001;
constexpr UINT CS_HREDRAW = 0x0002;
constexpr DWORD WS_OVERLAPPEDWINDOW = 0x00CF0000u;
constexpr DWORD WS_VISIBLE = 0x10000000u;
constexpr int CW_USEDEFAULT = static_cast<int>(0x80000000u);
constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_SHOW = 5;
constexpr int SW_SHOWDEFAULT = 10;
constexpr int COLOR_WINDOW = 5;
#define MAKEINTRESOURCEA(i) (reinterpret_cast<LPSTR>(static_cast<ULONG_PTR>(static_cast<WORD>(i))))
#define IDI_APPLICATION MAKEINTRESOURCEA(32512)
#define IDC_ARROW MAKEINTRESOURCEA(32512)

constexpr UINT WM_CREATE = 0x0001;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_MOVE = 0x0003;
constexpr UINT WM_SIZE = 0x0005;
constexpr UINT WM_PAINT = 0x000F;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_ERASEBKGND = 0x0014;
constexpr UINT WM_SHOWWINDOW = 0x0018;
constexpr UINT WM_NCCREATE = 0x0081;
constexpr UINT WM_NCDESTROY = 0x0082;
constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_KEYUP = 0x0101;
constexpr UINT WM_CHAR = 0x0102;
constexpr WPARAM SIZE_RESTORED = 0;
#define MAKELPARAM(low, high) \
    (static_cast<LPARAM>(     \
        static_cast<DWORD>((static_cast<WORD>(low)) | (static_cast<DWORD>(static_cast<WORD>(high)) << 16))))

// ---- Records ------------------------------------------------------------
struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

struct WIN32_FIND_DATAA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    CHAR cFileName[MAX_PATH];
    CHAR cAlternateFileName[14];
};
static_assert(sizeof(WIN32_FIND_DATAA) == 320, "WIN32_FIND_DATAA layout");

struct SECURITY_ATTRIBUTES;
typedef SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;
struct OVERLAPPED;
typedef OVERLAPPED* LPOVERLAPPED;

typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);
typedef BOOL(WINAPI* PHANDLER_ROUTINE)(DWORD dwCtrlType);

struct WNDCLASSEXA {
    UINT cbSize;
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    LPCSTR lpszMenuName;
    LPCSTR lpszClassName;
    HICON hIconSm;
};
static_assert(sizeof(void*) != 8 || sizeof(WNDCLASSEXA) == 80, "WNDCLASSEXA is 80 bytes on x64");
static_assert(sizeof(void*) != 4 || sizeof(WNDCLASSEXA) == 48, "WNDCLASSEXA is 48 bytes on x86");

// What WM_NCCREATE and WM_CREATE carry in lParam: the arguments of
// CreateWindowExA, in reverse order.
struct CREATESTRUCTA {
    LPVOID lpCreateParams;
    HINSTANCE hInstance;
    HMENU hMenu;
    HWND hwndParent;
    int cy;
    int cx;
    int y;
    int x;
    LONG style;
    LPCSTR lpszName;
    LPCSTR lpszClass;
    DWORD dwExStyle;
};
static_assert(sizeof(void*) != 8 || sizeof(CREATESTRUCTA) == 80, "CREATESTRUCTA is 80 bytes on x64");

struct POINT {
    LONG x;
    LONG y;
};

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};
static_assert(sizeof(void*) != 8 || sizeof(MSG) == 48, "MSG is 48 bytes on x64");
typedef MSG* LPMSG;

// ---- Kernel services (KERNEL32) -----------------------------------------
WIN32_IMPORT LPSTR WINAPI GetCommandLineA();
WIN32_IMPORT HANDLE WINAPI GetStdHandle(DWORD nStdHandle);
WIN32_IMPORT BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                                   LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped);
WIN32_IMPORT HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, WIN32_FIND_DATAA* lpFindFileData);
WIN32_IMPORT BOOL WINAPI FindNextFileA(HANDLE hFindFile, WIN32_FIND_DATAA* lpFindFileData);
WIN32_IMPORT BOOL WINAPI FindClose(HANDLE hFindFile);
WIN32_IMPORT HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                                       LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                                       DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
WIN32_IMPORT DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh);
WIN32_IMPORT BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                                  LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped);
WIN32_IMPORT BOOL WINAPI SetFilePointerEx(HANDLE hFile, LARGE_INTEGER liDistanceToMove, PLARGE_INTEGER lpNewFilePointer,
                                        DWORD dwMoveMethod);
WIN32_IMPORT BOOL WINAPI SetEndOfFile(HANDLE hFile);
WIN32_IMPORT BOOL WINAPI CloseHandle(HANDLE hObject);
WIN32_IMPORT BOOL WINAPI MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags);
WIN32_IMPORT BOOL WINAPI DeleteFileA(LPCSTR lpFileName);
WIN32_IMPORT BOOL WINAPI ReplaceFileA(LPCSTR lpReplacedFileName, LPCSTR lpReplacementFileName, LPCSTR lpBackupFileName,
                                      DWORD dwReplaceFlags, LPVOID lpExclude, LPVOID lpReserved);
WIN32_IMPORT DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName);
WIN32_IMPORT DWORD WINAPI GetFinalPathNameByHandleA(HANDLE hFile, LPSTR lpszFilePath, DWORD cchFilePath, DWORD dwFlags);
WIN32_IMPORT DWORD WINAPI GetLastError();
WIN32_IMPORT BOOL WINAPI SetConsoleCtrlHandler(PHANDLER_ROUTINE HandlerRoutine, BOOL Add);
WIN32_IMPORT void WINAPI Sleep(DWORD dwMilliseconds);
WIN32_IMPORT HANDLE WINAPI GetProcessHeap();
WIN32_IMPORT LPVOID WINAPI HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes);
WIN32_IMPORT BOOL WINAPI HeapFree(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem);
WIN32_IMPORT void WINAPI ExitProcess(UINT uExitCode) __attribute__((noreturn));
WIN32_IMPORT int WINAPI lstrlenA(LPCSTR lpString);
WIN32_IMPORT HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName);

// ---- User-interface services (USER32) -----------------------------------
WIN32_IMPORT HICON WINAPI LoadIconA(HINSTANCE hInstance, LPCSTR lpIconName);
WIN32_IMPORT HCURSOR WINAPI LoadCursorA(HINSTANCE hInstance, LPCSTR lpCursorName);
WIN32_IMPORT ATOM WINAPI RegisterClassExA(const WNDCLASSEXA* lpwcx);
WIN32_IMPORT HWND WINAPI CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle, int X,
                                         int Y, int nWidth, int nHeight, HWND hWndParent, HMENU hMenu,
                                         HINSTANCE hInstance, LPVOID lpParam);
WIN32_IMPORT BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow);
WIN32_IMPORT BOOL WINAPI UpdateWindow(HWND hWnd);
WIN32_IMPORT BOOL WINAPI GetMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax);
WIN32_IMPORT BOOL WINAPI TranslateMessage(const MSG* lpMsg);
WIN32_IMPORT LRESULT WINAPI DispatchMessageA(const MSG* lpMsg);
WIN32_IMPORT void WINAPI PostQuitMessage(int nExitCode);
WIN32_IMPORT LRESULT WINAPI DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
