// platform/Thread.h: the calling thread's identity and its name as debuggers and process
// listings show it.
#pragma once

#include <cstdint>
#include <string_view>

namespace plat {

// The kernel's id of the calling thread.
uint64_t CurrentThreadId();

// Names the calling thread. The kernel keeps at most 15 bytes; a longer name is cut there
// (never in the middle of a UTF-8 character). Failures are ignored: a name is only a help.
void SetCurrentThreadName(std::string_view name);

}  // namespace plat
