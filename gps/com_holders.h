// Small owners of platform resources, one each, never copied. Every holder's
// out-parameter accessor (Receive, ReceiveVoid) releases what the holder
// holds before it hands out the address, so a filled holder can never leak.
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
    ~ComPtr() { Reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;

    // For a creation function's void** out-parameter.
    void** ReceiveVoid() {
        Reset();
        return reinterpret_cast<void**>(&pointer_);
    }
    Interface* Get() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }

private:
    void Reset() {
        if (pointer_ != nullptr) pointer_->Release();
        pointer_ = nullptr;
    }

    Interface* pointer_ = nullptr;
};

// A wide string that the platform allocated with CoTaskMemAlloc.
class CoTaskString {
public:
    CoTaskString() = default;
    ~CoTaskString() { Free(); }
    CoTaskString(const CoTaskString&) = delete;
    CoTaskString& operator=(const CoTaskString&) = delete;

    // For the platform to fill.
    LPWSTR* Receive() {
        Free();
        return &text_;
    }
    LPCWSTR Get() const { return text_; }

private:
    void Free() {
        CoTaskMemFree(text_);
        text_ = nullptr;
    }

    LPWSTR text_ = nullptr;
};
