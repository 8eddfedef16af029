// tests/common/LauncherBaseTestSupport.h: what the launcher-base tests share: a
// temporary launcher folder that the base's process-wide objects point at, a fixed clock in
// a fixed time zone, and the texts of a log without their time stamps.
#pragma once

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "common/LauncherTestHooks.h"
#include "common/ukwUpdLog.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "support/TestSupport.h"

namespace kwtest {

// A launcher installed in a fresh temporary folder as <folder>/<name>. The base's singletons
// are recreated for it, and reset again when the object goes away.
class LauncherFolder {
public:
    explicit LauncherFolder(const std::string& exeName = "QOR.exe") {
        exe_ = (dir_.path() / exeName).string();
        ResetLauncherBaseForTests(exe_);
    }
    ~LauncherFolder() { ResetLauncherBaseForTests(""); }
    LauncherFolder(const LauncherFolder&) = delete;
    LauncherFolder& operator=(const LauncherFolder&) = delete;

    // The folder, ending in '/'.
    std::string Folder() const { return dir_.path().string() + "/"; }
    std::string Exe() const { return exe_; }
    std::filesystem::path operator/(const std::string& name) const { return dir_ / name; }

    // Writes a file of the folder and dates it an hour back, so the INI reader trusts its
    // parsed copy instead of re-reading a file that was changed just now.
    void WriteOld(const std::string& name, const std::string& content) const {
        WriteFile(dir_ / name, content);
        plat::SetFileLastWriteTime((dir_ / name).string(),
                                   std::chrono::system_clock::now() - std::chrono::hours(1));
    }

private:
    TempDir dir_;
    std::string exe_;
};

// The clock stands still at 2027-01-15 08:00:00 UTC, with the process in UTC, so time stamps
// are known texts.
class FixedUtcClock {
public:
    FixedUtcClock() : scoped_(clock_) {}
    plat::ManualClock& Clock() { return clock_; }

private:
    plat::ManualClock clock_{std::chrono::system_clock::time_point(std::chrono::seconds(1'800'000'000))};
    plat::ScopedClock scoped_;
    ScopedTZ utc_{"UTC0"};
};

// The texts of a log's time-stamped lines, without "DD/MM/YYYY HH:MM:SS : ".
inline std::vector<std::string> Texts(const TkwUpdLog& log) {
    std::vector<std::string> r;
    for (const auto& l : log.Linhas()) {
        const size_t p = l.find(" : ");
        r.push_back(p == std::string::npos ? l : l.substr(p + 3));
    }
    return r;
}

}  // namespace kwtest
