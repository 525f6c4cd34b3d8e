#include "run.h"

#include "text.h"

void FailRun(const char* message) {
    WriteConsoleText(message);
    ExitProcess(static_cast<UINT>(ExitStatus::Failed));
}

void* AllocateOrFail(SIZE_T bytes) {
    HANDLE heap = GetProcessHeap();
    void* block = heap != nullptr ? HeapAlloc(heap, HEAP_ZERO_MEMORY, bytes) : nullptr;
    if (block == nullptr) FailRun("memory allocation failure");
    return block;
}

void FreeBlock(void* block) {
    if (block != nullptr) HeapFree(GetProcessHeap(), 0, block);
}
