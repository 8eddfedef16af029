// tests/launcher/LauncherRunTestSupport.h: what the launcher-run tests share: the headless
// user interface with its output collected, a private folder of instance markers, copies of
// the test programs under the names the launcher starts and their recorded argument vectors.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Process.h"
#include "platform/ui/UserInterface.h"
#include "support/TestSupport.h"

namespace kwtest {

// Forces the headless back end for this process (before anything chose one) and collects
// what it writes while the object lives.
class HeadlessOutput {
public:
    HeadlessOutput() {
        setenv("KW_HEADLESS", "1", 1);
        plat::ui::InitializeApplication();
        plat::ui::ClearTerminateForTests();
        plat::ui::SetHeadlessOutputForTests([this](std::string_view s) {
            std::lock_guard lock(mutex_);
            text_ += s;
        });
    }
    ~HeadlessOutput() {
        plat::ui::SetHeadlessOutputForTests({});
        plat::ui::ClearTerminateForTests();
    }
    HeadlessOutput(const HeadlessOutput&) = delete;
    HeadlessOutput& operator=(const HeadlessOutput&) = delete;

    std::string Text() const {
        std::lock_guard lock(mutex_);
        return text_;
    }

private:
    mutable std::mutex mutex_;
    std::string text_;
};

// Instance markers in a folder of their own (inherited by the programs the test starts).
class PrivateMarkers {
private:
    TempDir dir_;
    ScopedEnv env_{"KW_MARKER_DIR", dir_.path().string()};
};

// Copies a test program (tests/launcher/progs) to `to`, executable. The copy is renamed into
// place, so a copy of the same name that is still running does not stop it.
inline void InstallProg(const std::string& prog, const std::filesystem::path& to) {
    std::filesystem::create_directories(to.parent_path());
    const std::filesystem::path tmp = to.string() + ".new";
    std::filesystem::copy_file(ProgPath(prog), tmp, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::permissions(tmp, std::filesystem::perms::owner_all);
    std::filesystem::rename(tmp, to);
}

// The kwLoader program as built.
inline std::filesystem::path KwLoaderProgram() {
    return std::filesystem::path(KW_BINARY_DIR) / "kwLoader";
}

// The arguments a kwrun_app copy at `program` recorded; waits for the record to appear.
inline std::vector<std::string> RecordedArgs(const std::filesystem::path& program) {
    const auto file = std::filesystem::path(program.string() + ".argv");
    if (!Eventually([&] { return std::filesystem::exists(file); })) {
        ADD_FAILURE() << "no argument record from " << program;
        return {};
    }
    const std::string data = ReadFile(file);
    std::vector<std::string> args;
    std::string current;
    for (char c : data) {
        if (c == '\0') {
            args.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    return args;
}

// The demo's workstation, update site and database in a folder (scripts/demo --prepare-only
// with the programs as built); the script's exit status and output.
inline plat::ProcessResult PrepareDemo(const std::filesystem::path& folder) {
    plat::ProcessOptions o;
    o.wait = true;
    o.output = plat::ProcessOutput::Capture;
    o.workingFolder = KW_SOURCE_DIR;
    const ScopedEnv build("BUILD", KW_BINARY_DIR);
    return plat::StartProcess("/bin/bash", {"scripts/demo", "--prepare-only", folder.string()}, o);
}

// Lines of a text split at CR LF or LF.
inline std::vector<std::string> SplitLinesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::string current;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        if (text[i] == '\n') {
            lines.push_back(current);
            current.clear();
        } else {
            current += text[i];
        }
    }
    if (!current.empty()) lines.push_back(current);
    return lines;
}

// The texts of a log file's time-stamped lines (without "DD/MM/YYYY HH:MM:SS : ").
inline std::vector<std::string> LogTexts(const std::string& fileContent) {
    std::vector<std::string> r;
    for (const auto& l : SplitLinesOf(fileContent)) {
        const size_t p = l.find(" : ");
        r.push_back(p == 19 ? l.substr(p + 3) : l);
    }
    return r;
}

inline bool Contains(const std::vector<std::string>& lines, const std::string& line) {
    for (const auto& l : lines)
        if (l == line) return true;
    return false;
}

inline int IndexOf(const std::vector<std::string>& lines, const std::string& line) {
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i] == line) return int(i);
    return -1;
}

}  // namespace kwtest
