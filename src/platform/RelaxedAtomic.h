#pragma once
// A value that one thread may change while another reads it, where only the value itself
// matters (no data is published through it): an option byte or integer. Reads and writes are
// single relaxed atomic operations, so there is no data race; copying copies the value.

#include <atomic>

namespace vl {

template <class T>
class RelaxedAtomic {
public:
    RelaxedAtomic(T value = T{}) noexcept : value_(value) {}
    RelaxedAtomic(const RelaxedAtomic& other) noexcept : value_(other.get()) {}
    RelaxedAtomic& operator=(const RelaxedAtomic& other) noexcept {
        set(other.get());
        return *this;
    }
    RelaxedAtomic& operator=(T value) noexcept {
        set(value);
        return *this;
    }
    operator T() const noexcept { return get(); }
    T get() const noexcept { return value_.load(std::memory_order_relaxed); }
    void set(T value) noexcept { value_.store(value, std::memory_order_relaxed); }

private:
    std::atomic<T> value_;
};

}  // namespace vl
