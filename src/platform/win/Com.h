#pragma once
// COM on Windows: one balanced initialisation per thread that uses it, and an owning holder
// for interface pointers. Windows only.

#include <objbase.h>
#include <unknwn.h>

#include <utility>

namespace vl::platform {

// Begins COM use on the calling thread for the scope's life. Uninitialises only when its own
// CoInitializeEx succeeded (S_OK or S_FALSE); a thread already in another apartment mode
// (RPC_E_CHANGED_MODE) keeps working without a balance owed.
class ComThreadScope {
public:
    explicit ComThreadScope(DWORD model = COINIT_APARTMENTTHREADED) : hr(CoInitializeEx(nullptr, model)) {}
    ~ComThreadScope() {
        if (SUCCEEDED(hr)) CoUninitialize();
    }
    ComThreadScope(const ComThreadScope&) = delete;
    ComThreadScope& operator=(const ComThreadScope&) = delete;

    // COM can be used on this thread (initialised here, or already in another mode).
    bool usable() const { return SUCCEEDED(hr) || hr == RPC_E_CHANGED_MODE; }

private:
    HRESULT hr;
};

// Owns one reference to a COM interface and releases it on reset or destruction.
template <class T>
class ComPtr {
public:
    ComPtr() = default;
    explicit ComPtr(T* adopted) : p(adopted) {}
    ~ComPtr() { reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : p(std::exchange(other.p, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            reset();
            p = std::exchange(other.p, nullptr);
        }
        return *this;
    }

    void reset() {
        if (p) std::exchange(p, nullptr)->Release();
    }
    // For out-parameters: releases what is held and hands out the slot.
    T** put() {
        reset();
        return &p;
    }
    void** putVoid() { return reinterpret_cast<void**>(put()); }
    T* get() const { return p; }
    T* operator->() const { return p; }
    explicit operator bool() const { return p != nullptr; }

private:
    T* p = nullptr;
};

}  // namespace vl::platform
