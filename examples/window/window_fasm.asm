; window_example in fasm: one empty white window titled "Window", of class
; "WndClass", and a message loop that runs until the window is closed; the
; program then ends with status 0. An i386 program over the FASM include
; files that carvex writes with -fd from mingw-w64's KERNEL32 and USER32
; import libraries: each name is a pointer in the import table, called as
; call [name]:
;   carvex /usr/i686-w64-mingw32/lib/libkernel32.a -fd
;   carvex /usr/i686-w64-mingw32/lib/libuser32.a -fd
;   fasm window_fasm.asm window_fasm.obj
;   lld-link /machine:x86 /safeseh:no /nodefaultlib /entry:start /subsystem:windows
;            /out:window_fasm.exe window_fasm.obj /usr/i686-w64-mingw32/lib/libkernel32.a
;            /usr/i686-w64-mingw32/lib/libuser32.a
; Without __UNICODE__ the includes give the ANSI functions their generic
; names: RegisterClassEx is RegisterClassExA, and so on.

format MS COFF

; What each EXTRNDEF line of the include files means: the import pointer,
; a dword, under the name the program calls it by, declared only where the
; program uses it. Declared whole, the includes would ask the linker for
; every name of the libraries, some of which (such as
; __imp__InterlockedExchange@8) it does not define.
macro EXTRNDEF symbol, name {
  if used name
    extrn symbol as name:dword
  end if
}

include 'libkernel32.inc'
include 'libuser32.inc'

; carvex writes declarations of functions only: the constants are the
; program's own, as the Win32 documentation gives them.
CS_VREDRAW          = 1
CS_HREDRAW          = 2
WS_OVERLAPPEDWINDOW = 0CF0000h
CW_USEDEFAULT       = 80000000h
SW_SHOWNORMAL       = 1
COLOR_WINDOW        = 5
IDI_APPLICATION     = 32512
IDC_ARROW           = 32512
WM_DESTROY          = 2
NO_WINDOW_STATUS    = 1         ; nothing would ever end the loop without a window

public start as '_start'

section '.text' code readable executable

; The program's first code: fills in and registers the class, shows the
; window and dispatches messages until GetMessage takes WM_QUIT (0). -1,
; its error, cannot happen here: no window filter, and a record of our own.
; The functions are stdcall: arguments pushed last to first, removed by the
; function.
start:
        push    0
        call    [GetModuleHandle]
        mov     [window_class.hInstance], eax
        push    IDI_APPLICATION
        push    0
        call    [LoadIcon]
        mov     [window_class.hIcon], eax
        mov     [window_class.hIconSm], eax
        push    IDC_ARROW
        push    0
        call    [LoadCursor]
        mov     [window_class.hCursor], eax
        push    window_class
        call    [RegisterClassEx]
        test    eax, eax
        jz      no_window

        push    0                       ; no creation data
        push    [window_class.hInstance]
        push    0                       ; no menu
        push    0                       ; no parent
        push    CW_USEDEFAULT           ; height
        push    CW_USEDEFAULT           ; width
        push    CW_USEDEFAULT           ; y
        push    CW_USEDEFAULT           ; x
        push    WS_OVERLAPPEDWINDOW
        push    window_title
        push    class_name
        push    0                       ; no extended style
        call    [CreateWindowEx]
        test    eax, eax
        jz      no_window
        mov     ebx, eax
        push    SW_SHOWNORMAL
        push    ebx
        call    [ShowWindow]
        push    ebx
        call    [UpdateWindow]

message_loop:
        push    0
        push    0
        push    0
        push    message
        call    [GetMessage]
        test    eax, eax
        jz      quit
        push    message
        call    [TranslateMessage]
        push    message
        call    [DispatchMessage]
        jmp     message_loop
quit:
        push    [message.wParam]        ; the status PostQuitMessage gave
        call    [ExitProcess]
no_window:
        push    NO_WINDOW_STATUS
        call    [ExitProcess]

; LRESULT CALLBACK window_procedure(HWND, UINT message, WPARAM, LPARAM):
; posts the quit message when the window is destroyed, which ends the
; message loop; everything else is the default window behaviour.
window_procedure:
        cmp     dword [esp + 8], WM_DESTROY
        je      .destroyed
        ; DefWindowProc takes the same four arguments, still on the stack,
        ; removes them and returns to our caller.
        jmp     [DefWindowProc]
.destroyed:
        push    0
        call    [PostQuitMessage]
        xor     eax, eax
        ret     16

section '.data' data readable writeable

class_name      db 'WndClass', 0
window_title    db 'Window', 0

window_class:                           ; WNDCLASSEXA
  .cbSize        dd window_class_size
  .style         dd CS_VREDRAW or CS_HREDRAW
  .lpfnWndProc   dd window_procedure
  .cbClsExtra    dd 0
  .cbWndExtra    dd 0
  .hInstance     dd ?
  .hIcon         dd ?
  .hCursor       dd ?
  .hbrBackground dd COLOR_WINDOW + 1
  .lpszMenuName  dd 0
  .lpszClassName dd class_name
  .hIconSm       dd ?
window_class_size = $ - window_class

message:                                ; MSG
  .hwnd          dd ?
  .message       dd ?
  .wParam        dd ?
  .lParam        dd ?
  .time          dd ?
  .pt            dd ?, ?
