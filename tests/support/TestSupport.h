// tests/support/TestSupport.h: what many tests need: temporary folders, whole-file reads and
// writes, paths to fixtures and shared vectors, and the rule for missing peers.
#pragma once

#include <filesystem>
#include <string>

namespace kwtest {

// A fresh folder under the system's temporary folder, removed with everything in it when
// the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

std::string ReadFile(const std::filesystem::path& p);
void WriteFile(const std::filesystem::path& p, const std::string& content);

// tests/data/<rel>
std::filesystem::path DataPath(const std::string& rel);
// The shared test vectors and tables (outside the repository); empty when absent.
std::filesystem::path SharedPath(const std::string& rel);
// A small program built for the tests (tests/<folder>/progs/<name>.cpp).
std::filesystem::path ProgPath(const std::string& name);

// True under CI=true: a missing peer or shared folder then fails the test instead of skipping.
bool InCI();

}  // namespace kwtest

// Skips the test (or fails it under CI=true) with a message naming what is missing.
#define KW_REQUIRE_PEER(available, what)                                          \
    do {                                                                          \
        if (!(available)) {                                                       \
            if (::kwtest::InCI()) FAIL() << "missing peer: " << (what);           \
            GTEST_SKIP() << "missing peer: " << (what);                           \
        }                                                                         \
    } while (0)
