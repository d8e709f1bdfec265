// jq_unload_heap_test: loads and unloads JQInst2k.dll 200 times with no call
// in between, as an installer that loads the library for each step does,
// and fails when the host's heaps hold more than 64 bytes more per cycle.
// A DLL that allocates at load and frees nothing at unload (the C++
// runtime's exception pool is 73 KiB) shows here as the bytes it keeps.
//
//   jq_unload_heap_test [DLL]    (default: JQInst2k.dll beside the program)
//
// Prints the bytes per cycle; exit code 0 pass, 1 growth, 2 no DLL.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

const int Cycles = 200;
const long long AllowedPerCycle = 64;

// The bytes handed out by every heap of the process, walked block by block.
long long heapBytesInUse()
{
    std::vector<HANDLE> heaps(64);
    DWORD count = GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data());
    if (count > heaps.size()) {
        heaps.resize(count);
        count = GetProcessHeaps(count, heaps.data());
    }
    long long total = 0;
    for (DWORD i = 0; i < count && i < heaps.size(); ++i) {
        if (!HeapLock(heaps[i]))
            continue;
        PROCESS_HEAP_ENTRY entry = {};
        while (HeapWalk(heaps[i], &entry)) {
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)
                total += entry.cbData;
        }
        HeapUnlock(heaps[i]);
    }
    return total;
}

bool loadAndUnload(const char* path)
{
    HMODULE module = LoadLibraryA(path);
    if (!module)
        return false;
    FreeLibrary(module);
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    char path[MAX_PATH] = "JQInst2k.dll";
    if (argc > 1) {
        std::snprintf(path, sizeof path, "%s", argv[1]);
    } else {
        DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
        char* slash = length && length < MAX_PATH ? std::strrchr(path, '\\') : nullptr;
        if (slash && static_cast<size_t>(slash + 1 - path) + sizeof "JQInst2k.dll" <= sizeof path)
            std::strcpy(slash + 1, "JQInst2k.dll");
        else
            std::strcpy(path, "JQInst2k.dll");
    }

    // The first load fills the loader's and the host's own caches: not ours.
    if (!loadAndUnload(path)) {
        std::printf("FAIL: cannot load %s (error %lu)\n", path, GetLastError());
        return 2;
    }
    const long long before = heapBytesInUse();
    for (int i = 0; i < Cycles; ++i) {
        if (!loadAndUnload(path)) {
            std::printf("FAIL: load %d of %s failed (error %lu)\n", i + 2, path, GetLastError());
            return 2;
        }
    }
    const long long grown = heapBytesInUse() - before;
    const long long perCycle = grown / Cycles;
    const bool ok = perCycle <= AllowedPerCycle;
    std::printf("%s: %d load and unload cycles of %s: heaps %+lld bytes, %lld per cycle (at most %lld)\n",
                ok ? "PASS" : "FAIL", Cycles, path, grown, perCycle, AllowedPerCycle);
    return ok ? 0 : 1;
}
