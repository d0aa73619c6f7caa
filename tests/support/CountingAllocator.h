#pragma once
// Counts every operator new and (natively, without sanitizers, which bring their own lock
// interception) every pthread mutex lock made on a thread that has set countingHere. The
// replacement operators are defined here: include this header in exactly one file of a test
// program.

#include <atomic>
#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VL_SANITIZED 1
#endif
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VL_SANITIZED 1
#endif
#endif
#if !defined(_WIN32) && !defined(VL_SANITIZED)
#define VL_COUNT_LOCKS 1
#include <dlfcn.h>
#include <pthread.h>
#endif

namespace {
thread_local bool countingHere = false;
std::atomic<long> allocations{0};
std::atomic<long> locks{0};
}  // namespace

void* operator new(std::size_t size) {
    if (countingHere) allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (countingHere) allocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

#ifdef VL_COUNT_LOCKS
extern "C" int pthread_mutex_lock(pthread_mutex_t* mutex) {
    using LockFn = int (*)(pthread_mutex_t*);
    static LockFn real = reinterpret_cast<LockFn>(dlsym(RTLD_NEXT, "pthread_mutex_lock"));
    if (countingHere) locks.fetch_add(1, std::memory_order_relaxed);
    return real(mutex);
}
#endif
