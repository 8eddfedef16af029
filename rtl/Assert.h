// rtl/Assert.h: internal consistency checks that stay on in release builds.
//
// The original reports a broken internal rule (an operation a driver did not implement, an
// index outside a list it owns) with an assertion failure that the caller can catch; Assert
// raises EAssertionFailed with the given text, whatever the build type. Checks run on hot
// paths (once per column per fetched row), so a message is only built when a check fails:
// pass a plain text, or a format pattern and its arguments.
#pragma once

#include <string>

#include "rtl/Exception.h"
#include "rtl/Format.h"

namespace rtl {

RTL_EXCEPTION(EAssertionFailed, Exception);

inline void Assert(bool condition, const char* message) {
    if (!condition) [[unlikely]]
        throw EAssertionFailed(message);
}

inline void Assert(bool condition, const std::string& message) {
    if (!condition) [[unlikely]]
        throw EAssertionFailed(message);
}

template <typename Arg, typename... Args>
inline void Assert(bool condition, const char* pattern, const Arg& arg, const Args&... args) {
    if (!condition) [[unlikely]]
        throw EAssertionFailed(Format(pattern, arg, args...));
}

}  // namespace rtl
