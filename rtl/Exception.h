// rtl/Exception.h: the root of every exception class of the system.
//
// The system's failures are exceptions of named classes (TkwUpdException, ESDEngineError,
// EIdSocketError, ECryptoLibraryError, ...), and some callers tell them apart by their class
// name as well as by their type. Every such class derives from rtl::Exception, which carries
// the message text, and answers its own name through ClassName(). Declare a class with
// RTL_EXCEPTION(Name, Base) unless it needs fields of its own.
#pragma once

#include <exception>
#include <string>
#include <utility>

namespace rtl {

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}

    const std::string& Message() const noexcept { return message_; }
    void SetMessage(std::string message) { message_ = std::move(message); }
    const char* what() const noexcept override { return message_.c_str(); }

    // The class's own name, as the system shows it in logs and messages.
    virtual const char* ClassName() const noexcept { return "Exception"; }

private:
    std::string message_;
};

}  // namespace rtl

// Declares an exception class that adds nothing but its name.
#define RTL_EXCEPTION(Name, Base)                                         \
    class Name : public Base {                                            \
        using InheritedException = Base;                                  \
                                                                          \
    public:                                                               \
        using InheritedException::InheritedException;                     \
        const char* ClassName() const noexcept override { return #Name; } \
    }

namespace rtl {

// A text that is not a value of the type asked for (integers, dates, format arguments).
RTL_EXCEPTION(EConvertError, Exception);
// Reading past the end of a buffer or stream.
RTL_EXCEPTION(EReadError, Exception);
// A stream or file that cannot be written.
RTL_EXCEPTION(EWriteError, Exception);
// A file that cannot be opened or created.
RTL_EXCEPTION(EFOpenError, Exception);
// An index outside a list.
RTL_EXCEPTION(EListError, Exception);
// A value outside the range an operation accepts (the class library's range error).
RTL_EXCEPTION(ERangeError, Exception);

}  // namespace rtl
