// Small owners for COM resources, one each, never copied.
#pragma once

#include "platform/platform.h"

// COM for this thread as a single-threaded apartment, for the holder's life.
class ScopedComInitializer {
public:
    ScopedComInitializer() { CoInitialize(nullptr); }
    ~ScopedComInitializer() { CoUninitialize(); }
    ScopedComInitializer(const ScopedComInitializer&) = delete;
    ScopedComInitializer& operator=(const ScopedComInitializer&) = delete;
};

// One reference to a COM interface, released once when the holder goes.
template <typename Interface>
class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() {
        if (pointer_ != nullptr) pointer_->Release();
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;

    // For a creation function's void** out-parameter; the holder must be empty.
    void** ReceiveVoid() { return reinterpret_cast<void**>(&pointer_); }
    Interface* Get() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }

private:
    Interface* pointer_ = nullptr;
};
