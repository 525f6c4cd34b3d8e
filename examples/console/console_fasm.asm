; console_example in fasm: writes the 29 bytes "Poasm 64-bit console
; example." to standard output and ends with status 0. An i386 program
; over the FASM include file that carvex writes with -fi from mingw-w64's
; KERNEL32 import library: each function is called by its name, which is
; the import library's stub (a jump through the import table):
;   carvex /usr/i686-w64-mingw32/lib/libkernel32.a -fi
;   fasm console_fasm.asm console_fasm.obj
;   lld-link /machine:x86 /safeseh:no /nodefaultlib /entry:start /subsystem:console
;            /out:console_fasm.exe console_fasm.obj /usr/i686-w64-mingw32/lib/libkernel32.a

format MS COFF

; What each EXTERNDEF line of the include file means: the external symbol
; under the name the program calls it by, declared only where the program
; calls it. Declared whole, the include would ask the linker for every name
; of the library, some of which (such as _InterlockedExchange@8) it does not
; define.
macro EXTERNDEF symbol, name {
  if used name
    extrn symbol as name
  end if
}

include 'libkernel32.inc'

STD_OUTPUT_HANDLE = -11

public start as '_start'

section '.text' code readable executable

; The program's first code. A refused or missing output is not worth a
; message: WriteFile's answer is not looked at. The functions are stdcall:
; arguments pushed last to first, removed by the function.
start:
        push    STD_OUTPUT_HANDLE
        call    GetStdHandle
        mov     ebx, eax
        push    message
        call    lstrlen                 ; lstrlenA: the include's generic name, without __UNICODE__
        push    0                       ; no OVERLAPPED
        push    written
        push    eax
        push    message
        push    ebx
        call    WriteFile
        push    0
        call    ExitProcess

section '.data' data readable writeable

message db 'Poasm 64-bit console example.', 0
written dd ?
