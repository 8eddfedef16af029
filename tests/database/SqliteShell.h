// tests/database/SqliteShell.h: the sqlite3 shell as the independent reader of what a driver
// wrote into a SQLite file (the stand-in client libraries keep their databases in such files).
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Process.h"
#include "rtl/Text.h"

namespace kwtest {

using SqliteRows = std::vector<std::vector<std::string>>;

inline bool HaveSqlite3() {
    return std::filesystem::exists("/usr/bin/sqlite3");
}

// Rows of a statement run by the sqlite3 shell on the file, fields as the shell shows them.
inline SqliteRows Sqlite3(const std::filesystem::path& file, const std::string& sql) {
    plat::ProcessOptions o;
    o.wait = true;
    o.output = plat::ProcessOutput::Capture;
    const plat::ProcessResult r = plat::StartProcess(
        "/usr/bin/sqlite3", {"-bail", "-batch", "-separator", "\x1f", file.string(), sql}, o);
    if (r.exitCode != 0) throw std::runtime_error("sqlite3: " + r.output);
    SqliteRows rows;
    for (const std::string& line : rtl::SplitFields(r.output, '\n'))
        if (!line.empty()) rows.push_back(rtl::SplitFields(line, '\x1f'));
    return rows;
}

}  // namespace kwtest
