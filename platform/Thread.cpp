// platform/Thread.cpp: thread ids, names and niceness over pthreads and the thread syscalls.
#include "platform/Thread.h"

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

namespace plat {

namespace {

// Whether the id names a thread of this process. setpriority takes any id (0 stands for the
// caller, and another process's id would change that process), so it is checked first: signal 0
// through tgkill reaches only our own thread group and sends nothing.
bool IsOwnThread(uint64_t threadId) {
    if (threadId == 0 || threadId > uint64_t(INT32_MAX)) return false;
    return ::syscall(SYS_tgkill, ::getpid(), pid_t(threadId), 0) == 0;
}

}  // namespace

uint64_t CurrentThreadId() { return uint64_t(::syscall(SYS_gettid)); }

void SetCurrentThreadName(std::string_view name) {
    constexpr size_t kMax = 15;  // TASK_COMM_LEN less the terminator
    size_t n = name.size() < kMax ? name.size() : kMax;
    // Do not leave half a character behind: back off over continuation bytes.
    if (n < name.size())
        while (n > 0 && (static_cast<unsigned char>(name[n]) & 0xC0) == 0x80) --n;
    const std::string cut(name.substr(0, n));
    ::pthread_setname_np(::pthread_self(), cut.c_str());
}

std::optional<int> ThreadNice(uint64_t threadId) {
    if (!IsOwnThread(threadId)) return std::nullopt;
    // -1 is a niceness too: only errno tells a failure.
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, id_t(threadId));
    if (nice == -1 && errno != 0) return std::nullopt;
    return nice;
}

bool SetThreadNice(uint64_t threadId, int nice) {
    if (!IsOwnThread(threadId)) return false;
    return ::setpriority(PRIO_PROCESS, id_t(threadId), std::clamp(nice, kNiceHighest, kNiceLowest)) == 0;
}

}  // namespace plat
