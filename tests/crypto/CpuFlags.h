// tests/crypto/CpuFlags.h: the processor features the kernel has enabled, as /proc/cpuinfo
// lists them. The library's own CPU checks decide whether a fast path may run; they must
// agree with this list, or a fast path would be skipped where it exists or, worse, taken
// where the processor or the operating system lacks it.
#pragma once

#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>

namespace kwtest {

// The "flags" words of the first processor; nothing when the file is missing or lists no x86
// flags (another architecture).
inline std::optional<std::set<std::string>> CpuFlags() {
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    while (std::getline(cpuinfo, line)) {
        if (line.rfind("flags", 0) != 0) continue;
        std::istringstream words(line.substr(line.find(':') + 1));
        std::set<std::string> flags;
        for (std::string w; words >> w;)
            flags.insert(w);
        return flags;
    }
    return std::nullopt;
}

}  // namespace kwtest
