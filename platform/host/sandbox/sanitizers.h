// Which sanitizers this build runs with, for the code that must make room
// for them (GCC and clang say so in different ways).
#pragma once

namespace host {

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kAddressSanitizer = true;
#else
inline constexpr bool kAddressSanitizer = false;
#endif
#else
inline constexpr bool kAddressSanitizer = false;
#endif

#if defined(__SANITIZE_UNDEFINED__)
inline constexpr bool kUndefinedSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(undefined_behavior_sanitizer)
inline constexpr bool kUndefinedSanitizer = true;
#else
inline constexpr bool kUndefinedSanitizer = false;
#endif
#else
inline constexpr bool kUndefinedSanitizer = false;
#endif

// A sanitizer that writes its reports to stderr.
inline constexpr bool kSanitizerReports = kAddressSanitizer || kUndefinedSanitizer;

}  // namespace host
