// platform/WinError.h: the Windows error numbers that callers of the system can observe.
//
// Socket failures carry Windows Sockets codes (10061 for a refused connection, 10060 for a
// time-out, 11001 for an unknown host) and file failures the Windows system error numbers
// (2 file not found, 5 access denied), because messages, logs and callers' decisions are built
// on those numbers. This unit holds the one table that turns an errno value (or a getaddrinfo
// result) into such a code; no other unit keeps a copy. A value the table does not know is
// passed through unchanged, so the caller still sees the system's own number.
#pragma once

#include <string>

namespace plat {

enum class ErrorDomain {
    Socket,  // Windows Sockets codes (10000 and up)
    File,    // Windows system error numbers (ERROR_FILE_NOT_FOUND 2, ...)
};

// The Windows code for an errno value in the given domain. Each domain looks in its own table
// first and then in the other one (a socket call can fail with ENOENT, a file call with
// ECONNREFUSED); an errno found in neither is returned unchanged. 0 gives 0.
int WinErrorFromErrno(int err, ErrorDomain domain);

// The Windows Sockets code for a getaddrinfo result (EAI_NONAME gives 11001, "host not
// found"). EAI_SYSTEM is resolved through errno (the caller passes the errno it saw); 0 gives 0;
// an unknown result is returned unchanged.
int WinErrorFromAddrInfo(int eaiResult, int errnoForSystem = 0);

// The error of a file copy whose source is not a regular file (a pipe, a device, a socket):
// not an errno value of the system, and no Windows code either; SystemErrorText names it.
constexpr int kErrNotARegularFile = 100001;

// The operating system's text for an errno value ("No such file or directory").
std::string SystemErrorText(int err);

}  // namespace plat
