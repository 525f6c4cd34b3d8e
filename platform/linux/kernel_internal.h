// What the Linux kernel-services layer shares with its tests.
#pragma once

// The wildcard rule of the search: '*' matches any run of characters (a
// leading dot included), '?' any one character; case matters.
bool WildcardMatches(const char* pattern, const char* name);
