// Whether this build runs under the address sanitizer: GCC says so with a
// macro, clang through __has_feature. CARVEX_ADDRESS_SANITIZER is 1 or 0.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
#define CARVEX_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CARVEX_ADDRESS_SANITIZER 1
#endif
#endif
#ifndef CARVEX_ADDRESS_SANITIZER
#define CARVEX_ADDRESS_SANITIZER 0
#endif
