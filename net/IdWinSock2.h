// net/IdWinSock2.h: what remains of the run-time socket binding on this platform.
//
// The socket stack (IdStackLinux) calls the POSIX socket interface directly, and IPv6 name
// resolution (getaddrinfo) is always present, so there is no library to load and no table of
// entry points. Two things stay: the mapping of a resolver result to the Windows Sockets code
// the stack raises (through platform's one table, plat::WinErrorFromAddrInfo), and the error
// class a failed binding reports, which callers may still catch.
#pragma once

#include <cstdint>
#include <string>

#include "net/IdException.h"

// A failure of the socket binding itself: the title, ": " and the system's text for the code
// (the title alone for code 0).
class EIdWinsockStubError : public EIdException {
public:
    EIdWinsockStubError(const std::string& title, int32_t code);
    explicit EIdWinsockStubError(const std::string& message) : EIdException(message) {}
    const char* ClassName() const noexcept override { return "EIdWinsockStubError"; }

    int32_t OsErrorCode = 0;
    std::string OsErrorText;
    std::string MessageTitle;
};

// Always true here: the C library's resolver handles IPv6.
inline constexpr bool IPv6Available = true;

// The Windows Sockets code for a getaddrinfo result (EAI_NONAME gives 11001, host not found).
// EAI_SYSTEM is read through errnoForSystem. No failure gives 0: a result that maps to
// nothing known gives 11003 (non-recoverable error); 0 itself (success) gives 0.
int32_t GaiErrorToSocketError(int code, int errnoForSystem = 0);
