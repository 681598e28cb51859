#include "tests/reliability/failing_new.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace failing_new {

namespace {

std::atomic<long> g_countdown{-1};
std::atomic<long> g_failures{0};

bool ShouldFail() {
    long left = g_countdown.load();
    while (left >= 0) {
        if (g_countdown.compare_exchange_weak(left, left - 1)) {
            if (left == 0) {
                g_failures.fetch_add(1);
                return true;
            }
            return false;
        }
    }
    return false;
}

void* Allocate(std::size_t size) {
    return std::malloc(size != 0 ? size : 1);
}

}  // namespace

void FailAllocation(long ordinal) {
    g_failures.store(0);
    g_countdown.store(ordinal);
}

void Disarm() {
    g_countdown.store(-1);
}

long Failures() {
    return g_failures.load();
}

}  // namespace failing_new

void* operator new(std::size_t size) {
    void* memory = failing_new::ShouldFail() ? nullptr : failing_new::Allocate(size);
    if (memory == nullptr) {
        throw std::bad_alloc();
    }
    return memory;
}

void* operator new[](std::size_t size) {
    return operator new(size);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return failing_new::ShouldFail() ? nullptr : failing_new::Allocate(size);
}

void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return operator new(size, tag);
}

void operator delete(void* memory) noexcept {
    std::free(memory);
}

void operator delete[](void* memory) noexcept {
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}

void operator delete[](void* memory, std::size_t) noexcept {
    std::free(memory);
}
