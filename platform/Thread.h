// platform/Thread.h: the calling thread's identity, its name as debuggers and process
// listings show it, and the scheduling niceness of one thread.
//
// Linux keeps a niceness per thread (-20 runs first, 19 last, 0 is normal); a new thread starts
// with the niceness of the thread that made it. Anyone may lower a thread of their own process
// (raise its niceness); the other way needs the privilege to (CAP_SYS_NICE, or a nice limit
// that allows it), and without it the system refuses and the thread keeps what it had.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace plat {

// The kernel's id of the calling thread.
uint64_t CurrentThreadId();

// Names the calling thread. The kernel keeps at most 15 bytes; a longer name is cut there
// (never in the middle of a UTF-8 character). Failures are ignored: a name is only a help.
void SetCurrentThreadName(std::string_view name);

inline constexpr int kNiceHighest = -20;
inline constexpr int kNiceLowest = 19;

// The niceness of a thread of this process, by its id (CurrentThreadId); nothing when no
// thread of this process has that id.
std::optional<int> ThreadNice(uint64_t threadId);
// Sets the niceness of that thread alone, cut to kNiceHighest .. kNiceLowest. False when the
// system refuses (a raise without the privilege) or no thread of this process has that id;
// the thread then keeps its niceness. Never touches another process.
bool SetThreadNice(uint64_t threadId, int nice);

}  // namespace plat
