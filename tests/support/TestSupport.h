// tests/support/TestSupport.h: what many tests need: temporary folders, whole-file reads and
// writes, paths to fixtures and shared vectors, environment variables and the time zone set
// for one test, a bounded wait, and the rule for missing peers.
#pragma once

#include <chrono>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

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

// The scrambled form of a password, written from its rule (the system only descrambles): the
// clear text padded with blanks to 20 bytes, each group of four reversed, then the key's byte
// added at each position (modulo 256).
std::string ScramblePassword(std::string clear);

// Sets (or, with nullopt, clears) an environment variable for the lifetime of the object and
// puts the earlier value, or its absence, back afterwards.
class ScopedEnv {
public:
    ScopedEnv(std::string name, std::optional<std::string> value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

// Sets the process's time zone (TZ) for the lifetime of the object and puts the earlier zone
// back afterwards; the C library is told both times.
class ScopedTZ {
public:
    explicit ScopedTZ(const std::string& zone);
    ~ScopedTZ();
    ScopedTZ(const ScopedTZ&) = delete;
    ScopedTZ& operator=(const ScopedTZ&) = delete;

private:
    std::optional<ScopedEnv> env_;
};

// Polls a condition every `poll` for up to `limit` (a bound against hanging, not a speed
// goal); true when it held.
template <typename F>
bool Eventually(F cond, std::chrono::milliseconds limit = std::chrono::seconds(10),
                std::chrono::milliseconds poll = std::chrono::milliseconds(10)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (cond()) return true;
        std::this_thread::sleep_for(poll);
    }
    return cond();
}

// The message (what()) of the exception f throws, or "(no exception)": for tables of cases
// that each expect a failure's exact text.
template <typename F>
std::string ThrownMessage(F f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "(no exception)";
}

}  // namespace kwtest

// Skips the test (or fails it under CI=true) with a message naming what is missing.
#define KW_REQUIRE_PEER(available, what)                                \
    do {                                                                \
        if (!(available)) {                                             \
            if (::kwtest::InCI()) FAIL() << "missing peer: " << (what); \
            GTEST_SKIP() << "missing peer: " << (what);                 \
        }                                                               \
    } while (0)
