#include "tests/support/resource_counts.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <cstdint>
#include <cstdio>

#include "framework/com_util.h"

namespace qmtest {

namespace {

// GDI handles carry their table index in the low 16 bits.
constexpr uintptr_t kGdiHandleIndexLimit = 0x10000;
// Kernel handle values are multiples of 4; a test process stays far below
// this many.
constexpr uintptr_t kKernelHandleValueLimit = 0x20000;

long CensusGdiObjects() {
    // The census runs where the counters do not (Wine), and there a handle
    // value that carries only the table index names any live object.
    long count = 0;
    for (uintptr_t index = 1; index < kGdiHandleIndexLimit; ++index) {
        if (::GetObjectType(reinterpret_cast<HGDIOBJ>(index)) != 0) {
            ++count;
        }
    }
    return count;
}

BOOL CALLBACK CountChildWindow(HWND, LPARAM counter) {
    ++*reinterpret_cast<long*>(counter);
    return TRUE;
}

BOOL CALLBACK CountProcessWindow(HWND window, LPARAM counter) {
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    if (process == ::GetCurrentProcessId()) {
        ++*reinterpret_cast<long*>(counter);
        ::EnumChildWindows(window, CountChildWindow, counter);
    }
    return TRUE;
}

long CensusUserObjects() {
    long count = 0;
    ::EnumWindows(CountProcessWindow, reinterpret_cast<LPARAM>(&count));
    return count;
}

long CensusKernelHandles() {
    long count = 0;
    for (uintptr_t value = 4; value < kKernelHandleValueLimit; value += 4) {
        DWORD flags = 0;
        if (::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) {
            ++count;
        }
    }
    return count;
}

}  // namespace

ResourceCounts MeasureResources() {
    ResourceCounts counts;
    HANDLE process = ::GetCurrentProcess();
    const DWORD gdi = ::GetGuiResources(process, GR_GDIOBJECTS);
    const DWORD user = ::GetGuiResources(process, GR_USEROBJECTS);
    DWORD handles = 0;
    // A process that runs these tests always holds GDI objects (stock
    // objects, the test windows' DCs) and handles: zero means the platform
    // does not count.
    if (gdi != 0 && ::GetProcessHandleCount(process, &handles) && handles != 0) {
        counts.gdiObjects = static_cast<long>(gdi);
        counts.userObjects = static_cast<long>(user);
        counts.kernelHandles = static_cast<long>(handles);
        counts.source = "system counters";
        return counts;
    }
    counts.gdiObjects = CensusGdiObjects();
    counts.userObjects = CensusUserObjects();
    counts.kernelHandles = CensusKernelHandles();
    counts.source = "census";
    return counts;
}

long CountProcessThreads() {
    UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot || snapshot.get() == INVALID_HANDLE_VALUE) {
        return -1;
    }
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    long count = 0;
    const DWORD self = ::GetCurrentProcessId();
    for (BOOL more = ::Thread32First(snapshot.get(), &entry); more; more = ::Thread32Next(snapshot.get(), &entry)) {
        if (entry.th32OwnerProcessID == self) {
            ++count;
        }
    }
    return count;
}

long long PrivateMemoryBytes() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters))) {
        return -1;
    }
    return static_cast<long long>(counters.PagefileUsage);
}

std::string Describe(const ResourceCounts& counts) {
    char text[160];
    std::snprintf(text, sizeof(text), "GDI %ld, USER %ld, handles %ld (%s)", counts.gdiObjects,
                  counts.userObjects, counts.kernelHandles, counts.source);
    return text;
}

}  // namespace qmtest
