// net/IdException.h: the root of the internet library's exceptions and the raise helpers.
//
// Every failure the library reports is an exception of one family rooted in EIdException
// (callers outside the library catch EIdSocketError or EIdException itself). The six raise
// helpers test a condition and throw in one call; each takes the class to throw as its
// template argument, so the object thrown has exactly that class and is caught as any of its
// parents. A message is always built by the caller before the helper is called, also when
// nothing is thrown. Classes of the connection layer are in IdExceptionCore.h; classes of a
// single component (the stack, the buffer, replies, threads, Telnet) live in its unit.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>

#include "rtl/Exception.h"

RTL_EXCEPTION(EIdExceptionBase, rtl::Exception);

class EIdException : public EIdExceptionBase {
public:
    using EIdExceptionBase::EIdExceptionBase;
    const char* ClassName() const noexcept override { return "EIdException"; }

    template <class E = EIdException>
    [[noreturn]] static void RaiseIdException(const std::string& message) {
        static_assert(std::is_base_of_v<EIdException, E>, "only the library's exceptions are raised here");
        throw E(message);
    }
    template <class E = EIdException>
    static void RaiseIdExceptionIf(bool condition, const std::string& message) {
        if (condition) RaiseIdException<E>(message);
    }
    template <class E = EIdException>
    static void RaiseIdExceptionUnless(bool condition, const std::string& message) {
        if (!condition) RaiseIdException<E>(message);
    }
    template <class E = EIdException, class P>
    static void RaiseIdExceptionIfAssigned(const P& reference, const std::string& message) {
        if (reference != nullptr) RaiseIdException<E>(message);
    }
    template <class E = EIdException, class P>
    static void RaiseIdExceptionIfNil(const P& reference, const std::string& message) {
        if (reference == nullptr) RaiseIdException<E>(message);
    }
    // Both bounds are inclusive; an upper bound below the lower one makes every value raise.
    template <class E = EIdException>
    static void RaiseIdExceptionIfOutOfRange(int64_t value, int64_t lower, int64_t upper,
                                             const std::string& message) {
        if (value < lower || value > upper) RaiseIdException<E>(message);
    }
};

// Parent of the one failure that is an orderly end, not an error: the peer's close.
RTL_EXCEPTION(EIdSilentException, EIdException);
