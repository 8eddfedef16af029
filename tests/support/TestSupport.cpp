// tests/support/TestSupport.cpp
#include "support/TestSupport.h"

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace kwtest {

TempDir::TempDir() {
    std::random_device rd;
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto p = std::filesystem::temp_directory_path() / ("kwtest-" + std::to_string(rd()));
        if (std::filesystem::create_directory(p)) {
            path_ = p;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
    std::error_code ec;
    // Make everything writable again so read-only fixtures do not stop the removal.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

std::string ReadFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + p.string());
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteFile(const std::filesystem::path& p, const std::string& content) {
    if (p.has_parent_path()) std::filesystem::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write " + p.string());
    out << content;
}

std::filesystem::path DataPath(const std::string& rel) {
    return std::filesystem::path(KW_TEST_DATA_DIR) / rel;
}

std::filesystem::path SharedPath(const std::string& rel) {
    auto p = std::filesystem::path(KW_SHARED_DIR) / rel;
    return std::filesystem::exists(p) ? p : std::filesystem::path();
}

std::filesystem::path ProgPath(const std::string& name) {
    return std::filesystem::path(KW_TEST_PROGS_DIR) / name;
}

bool InCI() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && std::string(ci) == "true";
}

std::string ScramblePassword(std::string clear) {
    const std::string key = "k3mq8zrwd0vhx5ntpa2c";
    clear.resize(20, ' ');
    std::string r;
    for (size_t g = 0; g < 20; g += 4)
        for (size_t k = 4; k > 0; --k)
            r += clear[g + k - 1];
    for (size_t i = 0; i < 20; ++i)
        r[i] = char(uint8_t(uint8_t(r[i]) + uint8_t(key[i])));
    return r;
}

ScopedEnv::ScopedEnv(std::string name, std::optional<std::string> value) : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) old_ = old;
    if (value)
        setenv(name_.c_str(), value->c_str(), 1);
    else
        unsetenv(name_.c_str());
}

ScopedEnv::~ScopedEnv() {
    if (old_)
        setenv(name_.c_str(), old_->c_str(), 1);
    else
        unsetenv(name_.c_str());
}

ScopedTZ::ScopedTZ(const std::string& zone) : env_(std::in_place, "TZ", zone) {
    tzset();
}

ScopedTZ::~ScopedTZ() {
    env_.reset();
    tzset();
}

}  // namespace kwtest
