// Owns a wide string that the platform allocated with CoTaskMemAlloc.
#pragma once

#include "platform/platform.h"

class CoTaskString {
public:
    CoTaskString() = default;
    ~CoTaskString() { Free(); }
    CoTaskString(const CoTaskString&) = delete;
    CoTaskString& operator=(const CoTaskString&) = delete;

    // For the platform to fill; whatever was held is freed first.
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
