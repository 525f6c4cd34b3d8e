// The few routines a C runtime would otherwise supply: the compiler emits
// calls to memset and memcpy for large aggregate zeroing and copying even in
// freestanding code, and 32-bit x86 code divides 64-bit integers by calling
// __aulldiv and __aullrem. The programs link no runtime, so they live here.
#include "win32.h"

extern "C" {

// Plain byte loops: -fno-builtin keeps the compiler from turning them back
// into calls to the routines they define.
void* memset(void* destination, int value, SIZE_T count) {
    BYTE* to = static_cast<BYTE*>(destination);
    for (SIZE_T i = 0; i < count; ++i) to[i] = static_cast<BYTE>(value);
    return destination;
}

void* memcpy(void* destination, const void* source, SIZE_T count) {
    BYTE* to = static_cast<BYTE*>(destination);
    const BYTE* from = static_cast<const BYTE*>(source);
    for (SIZE_T i = 0; i < count; ++i) to[i] = from[i];
    return destination;
}

}  // extern "C"

#if defined(__i386__)
#include "long_division.h"

// The helpers take both operands on the stack, pop them (stdcall) and return
// in EDX:EAX; the asm labels give them their undecorated names.
extern "C" ULONGLONG __stdcall UnsignedDivide64(ULONGLONG dividend, ULONGLONG divisor) asm("__aulldiv");
extern "C" ULONGLONG __stdcall UnsignedRemainder64(ULONGLONG dividend, ULONGLONG divisor) asm("__aullrem");

ULONGLONG __stdcall UnsignedDivide64(ULONGLONG dividend, ULONGLONG divisor) {
    ULONGLONG remainder;
    return DivideUnsigned(dividend, divisor, &remainder);
}

ULONGLONG __stdcall UnsignedRemainder64(ULONGLONG dividend, ULONGLONG divisor) {
    ULONGLONG remainder;
    DivideUnsigned(dividend, divisor, &remainder);
    return remainder;
}
#endif
