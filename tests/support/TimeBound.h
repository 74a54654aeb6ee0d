// Time bounds on hostile input catch work that grows faster than the input,
// not a slow machine. A build with the sanitizers runs several times slower
// and gets that much more room.
#pragma once

#include <chrono>

namespace testsupport {

#if defined(__SANITIZE_ADDRESS__)
inline constexpr int kBuildSlowdown = 5;
#else
inline constexpr int kBuildSlowdown = 1;
#endif

template <class Rep, class Period>
constexpr auto TimeBound(std::chrono::duration<Rep, Period> bound) {
    return bound * kBuildSlowdown;
}

}  // namespace testsupport
