// rtl/Assert.h: internal consistency checks that stay on in release builds.
//
// The original reports a broken internal rule (an operation a driver did not implement, an
// index outside a list it owns) with an assertion failure that the caller can catch; Assert
// raises EAssertionFailed with the given text, whatever the build type.
#pragma once

#include <string>

#include "rtl/Exception.h"

namespace rtl {

RTL_EXCEPTION(EAssertionFailed, Exception);

inline void Assert(bool condition, const std::string& message) {
    if (!condition) throw EAssertionFailed(message);
}

}  // namespace rtl
