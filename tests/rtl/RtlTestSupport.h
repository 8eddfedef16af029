// tests/rtl/RtlTestSupport.h: helpers the rtl tests share.
#pragma once

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace kwtest {

// Sets the process's time zone (TZ) for one test and puts the old value back.
class ScopedTZ {
public:
    explicit ScopedTZ(const std::string& tz) {
        if (const char* old = std::getenv("TZ")) old_ = old;
        setenv("TZ", tz.c_str(), 1);
        tzset();
    }
    ~ScopedTZ() {
        if (old_)
            setenv("TZ", old_->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    ScopedTZ(const ScopedTZ&) = delete;
    ScopedTZ& operator=(const ScopedTZ&) = delete;

private:
    std::optional<std::string> old_;
};

}  // namespace kwtest
