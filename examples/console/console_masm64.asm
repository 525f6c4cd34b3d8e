; console_example in 64-bit MASM syntax, for JWasm: writes the 29 bytes
; "Poasm 64-bit console example." to standard output and ends with status 0.
; Every function it calls is declared by libkernel32.inc, which carvex writes
; from mingw-w64's 64-bit import library:
;   carvex /usr/x86_64-w64-mingw32/lib/libkernel32.a -l64
;   jwasm -q -win64 -Foconsole_masm64.obj console_masm64.asm
;   lld-link /machine:x64 /nodefaultlib /entry:start /subsystem:console
;            /out:console_masm64.exe console_masm64.obj /usr/x86_64-w64-mingw32/lib/libkernel32.a

option casemap:none
option win64:3          ; each prologue reserves, once and 16-byte aligned, the stack its invokes need
option frame:auto       ; and comes with the unwinding data Win64 asks of every procedure

include libkernel32.inc

STD_OUTPUT_HANDLE equ -11

.data
message db "Poasm 64-bit console example.", 0
written dd ?

.code
; The program's first code. A refused or missing output is not worth a
; message: WriteFile's answer is not looked at.
start proc
        invoke  GetStdHandle, STD_OUTPUT_HANDLE
        mov     rbx, rax                ; start never returns: no caller's rbx to keep
        invoke  lstrlenA, addr message
        ; The prototypes of a 64-bit library are VARARG (it carries no
        ; parameter sizes), so invoke passes each argument at its own size.
        ; A constant 0 would fill only the low half of the fifth argument's
        ; stack slot: the NULL OVERLAPPED pointer goes in a 64-bit register.
        xor     esi, esi
        invoke  WriteFile, rbx, addr message, eax, addr written, rsi
        invoke  ExitProcess, 0
start endp

end
