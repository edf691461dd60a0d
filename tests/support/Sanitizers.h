#pragma once

// Time bounds in tests catch code that is slower by orders of magnitude (a quadratic
// loop, a missed wake-up), not a few percent. Under a sanitizer every memory access is
// checked, so the same code runs several times slower; bounds are stretched by this.
namespace testsupport {

#if defined(REELVAULT_TSAN)
inline constexpr int kSanitizerSlowdown = 10;
#elif defined(REELVAULT_SANITIZER)
inline constexpr int kSanitizerSlowdown = 5;
#else
inline constexpr int kSanitizerSlowdown = 1;
#endif

}  // namespace testsupport
