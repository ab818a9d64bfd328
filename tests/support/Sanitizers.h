#pragma once

namespace tessaly::test {

// Whether this build runs under AddressSanitizer. Its own checks need file descriptors too, so
// tests that use up every descriptor would see the sanitizer misreport rather than the program.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kUnderSanitizers = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kUnderSanitizers = true;
#else
inline constexpr bool kUnderSanitizers = false;
#endif
#else
inline constexpr bool kUnderSanitizers = false;
#endif

}  // namespace tessaly::test
