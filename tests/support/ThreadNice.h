// tests/support/ThreadNice.h: the niceness of this process's threads as the kernel's process
// listing shows it (/proc), so that a test checks a thread's priority without going through
// the code under test; and whether this process may raise a thread.
#pragma once

#include <sys/resource.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>

namespace kwtest {

// The niceness field of a /proc/.../stat file; nothing when the file cannot be read.
inline std::optional<int> StatNice(const std::filesystem::path& stat) {
    std::ifstream in(stat);
    std::string line;
    if (!std::getline(in, line)) return std::nullopt;
    // The name in parentheses may hold blanks: the fields are counted after its end.
    const size_t close = line.rfind(')');
    if (close == std::string::npos || close + 2 > line.size()) return std::nullopt;
    std::istringstream fields(line.substr(close + 2));
    std::string field;
    for (int number = 3; number <= 19; ++number)  // 3 is the state, 19 the niceness
        if (!(fields >> field)) return std::nullopt;
    return std::stoi(field);
}

// Every thread of this process by its id, with its niceness.
inline std::map<uint64_t, int> ThreadNiceness() {
    std::map<uint64_t, int> out;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task", ec))
        if (const std::optional<int> nice = StatNice(entry.path() / "stat"))
            out[std::stoull(entry.path().filename().string())] = *nice;
    return out;
}

// Whether this process may set a thread's niceness below what it has, down to `nice`: with
// CAP_SYS_NICE, or when the nice limit reaches it (20 - limit).
inline bool MayRaiseTo(int nice) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("CapEff:", 0) == 0) {
            constexpr int kCapSysNice = 23;
            if ((std::stoull(line.substr(7), nullptr, 16) >> kCapSysNice) & 1) return true;
        }
    rlimit limit{};
    if (::getrlimit(RLIMIT_NICE, &limit) != 0) return false;
    return limit.rlim_cur == RLIM_INFINITY || 20 - int64_t(limit.rlim_cur) <= nice;
}

}  // namespace kwtest
