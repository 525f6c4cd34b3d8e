; window_example in 32-bit MASM syntax, for JWasm: one empty white window
; titled "Window", of class "WndClass", and a message loop that runs until
; the window is closed; the program then ends with status 0. Every function
; it calls is declared by the PROTO include files carvex writes (no switch)
; from mingw-w64's i686 import libraries:
;   carvex /usr/i686-w64-mingw32/lib/libkernel32.a
;   carvex /usr/i686-w64-mingw32/lib/libuser32.a
;   jwasm -q -coff -Fowindow_masm.obj window_masm.asm
;   lld-link /machine:x86 /safeseh:no /nodefaultlib /entry:start /subsystem:windows
;            /out:window_masm.exe window_masm.obj /usr/i686-w64-mingw32/lib/libkernel32.a
;            /usr/i686-w64-mingw32/lib/libuser32.a

.386
.model flat, stdcall    ; the calling convention of the Win32 functions and our own
option casemap:none     ; Win32 names are case-sensitive

include libkernel32.inc
include libuser32.inc

; carvex writes prototypes only: the structures and constants are the
; program's own, as the Win32 documentation gives them.
WNDCLASSEXA struct
    cbSize          dd ?
    style           dd ?
    lpfnWndProc     dd ?
    cbClsExtra      dd ?
    cbWndExtra      dd ?
    hInstance       dd ?
    hIcon           dd ?
    hCursor         dd ?
    hbrBackground   dd ?
    lpszMenuName    dd ?
    lpszClassName   dd ?
    hIconSm         dd ?
WNDCLASSEXA ends

POINT struct
    x               dd ?
    y               dd ?
POINT ends

MSG struct
    hwnd            dd ?
    message         dd ?
    wParam          dd ?
    lParam          dd ?
    time            dd ?
    pt              POINT <>
MSG ends

NULL                equ 0
TRUE                equ 1
CS_VREDRAW          equ 1
CS_HREDRAW          equ 2
WS_OVERLAPPEDWINDOW equ 0CF0000h
CW_USEDEFAULT       equ 80000000h
SW_SHOWNORMAL       equ 1
COLOR_WINDOW        equ 5
IDI_APPLICATION     equ 32512
IDC_ARROW           equ 32512
WM_DESTROY          equ 2
NO_WINDOW_STATUS    equ 1   ; nothing would ever end the loop without a window

.data
className   db "WndClass", 0
windowTitle db "Window", 0

.code
; Posts the quit message when the window is destroyed, which ends the
; message loop; everything else is the default window behaviour.
WindowProc proc window:DWORD, msg:DWORD, wParam:DWORD, lParam:DWORD
        .if msg == WM_DESTROY
            invoke  PostQuitMessage, 0
            xor     eax, eax
            ret
        .endif
        invoke  DefWindowProcA, window, msg, wParam, lParam
        ret
WindowProc endp

; The program's first code: registers the class, shows the window and
; dispatches messages until GetMessageA takes WM_QUIT (0). -1, its error,
; cannot happen here: no window filter, and a record of our own.
start proc
        local   windowClass:WNDCLASSEXA
        local   message:MSG
        local   window:DWORD

        mov     windowClass.cbSize, sizeof WNDCLASSEXA
        mov     windowClass.style, CS_VREDRAW or CS_HREDRAW
        mov     windowClass.lpfnWndProc, offset WindowProc
        mov     windowClass.cbClsExtra, 0
        mov     windowClass.cbWndExtra, 0
        invoke  GetModuleHandleA, NULL
        mov     windowClass.hInstance, eax
        mov     windowClass.hbrBackground, COLOR_WINDOW + 1
        mov     windowClass.lpszMenuName, NULL
        mov     windowClass.lpszClassName, offset className
        invoke  LoadIconA, NULL, IDI_APPLICATION
        mov     windowClass.hIcon, eax
        mov     windowClass.hIconSm, eax
        invoke  LoadCursorA, NULL, IDC_ARROW
        mov     windowClass.hCursor, eax
        invoke  RegisterClassExA, addr windowClass
        .if eax == 0
            invoke  ExitProcess, NO_WINDOW_STATUS
        .endif

        invoke  CreateWindowExA, 0, addr className, addr windowTitle, WS_OVERLAPPEDWINDOW,
                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                NULL, NULL, windowClass.hInstance, NULL
        .if eax == 0
            invoke  ExitProcess, NO_WINDOW_STATUS
        .endif
        mov     window, eax
        invoke  ShowWindow, window, SW_SHOWNORMAL
        invoke  UpdateWindow, window

        .while TRUE
            invoke  GetMessageA, addr message, NULL, 0, 0
            .break .if eax == 0
            invoke  TranslateMessage, addr message
            invoke  DispatchMessageA, addr message
        .endw
        invoke  ExitProcess, message.wParam     ; the status PostQuitMessage gave
start endp

end
