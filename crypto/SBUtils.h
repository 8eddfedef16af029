// crypto/SBUtils.h: the floor of the cryptographic library: its exception family and the
// byte-string types every other unit of the library passes around.
//
// A byte string (ByteString) is the library's universal buffer: any byte values, explicit
// length; an empty one means "no value". ByteArray is used where callers work with arrays.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "rtl/Exception.h"

using ByteString = std::string;
using ByteArray = std::vector<uint8_t>;

// Base of most of the library's errors; may carry a numeric error code.
class ECryptoLibraryError : public rtl::Exception {
public:
    explicit ECryptoLibraryError(std::string message) : rtl::Exception(std::move(message)) {}
    // The message gains " (error code is <code>)"; the flag has no effect.
    static ECryptoLibraryError CreateWithCode(const std::string& message, int32_t code, bool flag = false) {
        (void)flag;
        ECryptoLibraryError e(message + " (error code is " + std::to_string(code) + ")");
        e.ErrorCode = code;
        return e;
    }
    const char* ClassName() const noexcept override { return "ECryptoLibraryError"; }

    int32_t ErrorCode = 0;
};

RTL_EXCEPTION(EUnicodeError, ECryptoLibraryError);
RTL_EXCEPTION(EOperationCancelledError, ECryptoLibraryError);
// Derives from the plain exception class, not from ECryptoLibraryError.
RTL_EXCEPTION(EEncryptionError, rtl::Exception);
