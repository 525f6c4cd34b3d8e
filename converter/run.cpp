#include "run.h"

#include "text.h"

void FailRun(const char* message) {
    WriteConsoleText(message);
    ExitProcess(static_cast<UINT>(ExitStatus::Failed));
}

namespace {

void* Allocate(SIZE_T bytes, DWORD flags) {
    HANDLE heap = GetProcessHeap();
    void* block = heap != nullptr ? HeapAlloc(heap, flags, bytes) : nullptr;
    if (block == nullptr) FailRun("memory allocation failure");
    return block;
}

}  // namespace

void* AllocateOrFail(SIZE_T bytes) { return Allocate(bytes, HEAP_ZERO_MEMORY); }
void* AllocateUnclearedOrFail(SIZE_T bytes) { return Allocate(bytes, 0); }

void FreeBlock(void* block) {
    if (block != nullptr) HeapFree(GetProcessHeap(), 0, block);
}
