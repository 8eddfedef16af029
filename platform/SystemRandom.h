// platform/SystemRandom.h: the operating system's random source.
//
// Every secret the system makes (keys, nonces, prime candidates) starts from these bytes.
#pragma once

#include <cstddef>

#include "rtl/Exception.h"

namespace plat {

RTL_EXCEPTION(ESystemRandomError, rtl::Exception);

// Fills buf with n bytes from the kernel's random source; raises ESystemRandomError when
// the source cannot be read (never returns fewer bytes).
void SystemRandomBytes(void* buf, size_t n);

}  // namespace plat
