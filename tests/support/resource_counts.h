// The process's holdings of system resources (GDI objects, USER objects,
// kernel handles) and its threads, for tests and benchmarks that check
// that repeated work leaves them level.
#pragma once

#include <windows.h>

#include <string>

namespace qmtest {

// What the process holds of the three kinds of system resources. Where
// the platform answers GetGuiResources and GetProcessHandleCount (Windows)
// their figures are used. Wine answers 0 to both; there the counts come
// from a census: every valid GDI handle index, every window of the
// process, every valid kernel handle value.
struct ResourceCounts {
    long gdiObjects = 0;
    long userObjects = 0;
    long kernelHandles = 0;
    // "census" or "system counters".
    const char* source = "";
};
ResourceCounts MeasureResources();
// Threads of this process, by a system snapshot.
long CountProcessThreads();
// The process's private memory in bytes: the commit charge that
// GetProcessMemoryInfo reports (PagefileUsage, which is the figure that
// moves under Wine, where PrivateUsage is not kept).
long long PrivateMemoryBytes();
std::string Describe(const ResourceCounts& counts);

}  // namespace qmtest
