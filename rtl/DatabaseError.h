// rtl/DatabaseError.h: the class library's database error, base of the SQL library's errors.
//
// EDatabaseError is what the SQL access library raises for its own checks ("Cannot perform
// this operation on a closed database", "Table is read only", ...); the drivers' server errors
// (ESDEngineError and its subclasses) derive from it, so a caller that catches EDatabaseError
// sees every database failure.
#pragma once

#include <string>

#include "rtl/Exception.h"
#include "rtl/Format.h"

namespace rtl {

RTL_EXCEPTION(EDatabaseError, Exception);

[[noreturn]] inline void DatabaseError(const std::string& message) {
    throw EDatabaseError(message);
}

template <typename... Args>
[[noreturn]] void DatabaseErrorFmt(std::string_view pattern, const Args&... args) {
    throw EDatabaseError(Format(pattern, args...));
}

}  // namespace rtl
