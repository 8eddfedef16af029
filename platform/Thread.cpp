// platform/Thread.cpp: thread ids and names over pthreads and gettid.
#include "platform/Thread.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <string>

namespace plat {

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

}  // namespace plat
