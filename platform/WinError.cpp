// platform/WinError.cpp: errno and getaddrinfo results to Windows codes.
//
// The socket table follows the Windows Sockets numbering (WSABASEERR 10000 plus the Berkeley
// number); the file table the Windows system error numbers. Both are small, sorted by
// nothing in particular, and searched linearly: they are consulted only on failure paths.
#include "platform/WinError.h"

#include <netdb.h>

#include <cerrno>
#include <cstring>

namespace plat {

namespace {

struct Pair {
    int err;
    int win;
};

constexpr Pair kSocketTable[] = {
    {EINTR, 10004},
    {EBADF, 10009},
    {EACCES, 10013},
    {EFAULT, 10014},
    {EINVAL, 10022},
    {EMFILE, 10024},
    {EWOULDBLOCK, 10035},
    {EINPROGRESS, 10036},
    {EALREADY, 10037},
    {ENOTSOCK, 10038},
    {EDESTADDRREQ, 10039},
    {EMSGSIZE, 10040},
    {EPROTOTYPE, 10041},
    {ENOPROTOOPT, 10042},
    {EPROTONOSUPPORT, 10043},
    {ESOCKTNOSUPPORT, 10044},
    {EOPNOTSUPP, 10045},
    {EPFNOSUPPORT, 10046},
    {EAFNOSUPPORT, 10047},
    {EADDRINUSE, 10048},
    {EADDRNOTAVAIL, 10049},
    {ENETDOWN, 10050},
    {ENETUNREACH, 10051},
    {ENETRESET, 10052},
    {ECONNABORTED, 10053},
    {ECONNRESET, 10054},
    {ENOBUFS, 10055},
    {EISCONN, 10056},
    {ENOTCONN, 10057},
    {ESHUTDOWN, 10058},
    {ETOOMANYREFS, 10059},
    {ETIMEDOUT, 10060},
    {ECONNREFUSED, 10061},
    {ELOOP, 10062},
    {ENAMETOOLONG, 10063},
    {EHOSTDOWN, 10064},
    {EHOSTUNREACH, 10065},
    {ENOTEMPTY, 10066},
    {EUSERS, 10068},
    {EDQUOT, 10069},
    {ESTALE, 10070},
    {EREMOTE, 10071},
    // Writing to a socket that can no longer send: Windows reports the shut-down socket.
    {EPIPE, 10058},
    // No memory for a socket call.
    {ENOMEM, 10055},
};

constexpr Pair kFileTable[] = {
    {ENOENT, 2},          // ERROR_FILE_NOT_FOUND
    {ENOTDIR, 3},         // ERROR_PATH_NOT_FOUND: a folder of the path is a file
    {EMFILE, 4},          // ERROR_TOO_MANY_OPEN_FILES
    {ENFILE, 4},          //
    {EACCES, 5},          // ERROR_ACCESS_DENIED
    {EPERM, 5},           //
    {EISDIR, 5},          // Windows refuses file operations on a folder with access denied
    {EBADF, 6},           // ERROR_INVALID_HANDLE
    {ENOMEM, 8},          // ERROR_NOT_ENOUGH_MEMORY
    {EXDEV, 17},          // ERROR_NOT_SAME_DEVICE
    {EROFS, 19},          // ERROR_WRITE_PROTECT
    {ETXTBSY, 32},        // ERROR_SHARING_VIOLATION: the file is a running program
    {EBUSY, 32},          //
    {EEXIST, 80},         // ERROR_FILE_EXISTS
    {EINVAL, 87},         // ERROR_INVALID_PARAMETER
    {E2BIG, 87},          //
    {ENOSPC, 112},        // ERROR_DISK_FULL
    {EDQUOT, 112},        //
    {ENOTEMPTY, 145},     // ERROR_DIR_NOT_EMPTY
    {ENOEXEC, 193},       // ERROR_BAD_EXE_FORMAT
    {ENAMETOOLONG, 206},  // ERROR_FILENAME_EXCED_RANGE
    {EIO, 1117},          // ERROR_IO_DEVICE
    {ELOOP, 1921},        // ERROR_CANT_RESOLVE_FILENAME
};

template <size_t N>
bool Find(const Pair (&table)[N], int err, int& win) {
    for (const auto& p : table)
        if (p.err == err) {
            win = p.win;
            return true;
        }
    return false;
}

}  // namespace

int WinErrorFromErrno(int err, ErrorDomain domain) {
    if (err == 0) return 0;
    int win = err;
    if (domain == ErrorDomain::Socket) {
        if (Find(kSocketTable, err, win) || Find(kFileTable, err, win)) return win;
    } else {
        if (Find(kFileTable, err, win) || Find(kSocketTable, err, win)) return win;
    }
    return err;
}

int WinErrorFromAddrInfo(int eaiResult, int errnoForSystem) {
    switch (eaiResult) {
        case 0:
            return 0;
        case EAI_NONAME:
            return 11001;  // WSAHOST_NOT_FOUND
        case EAI_AGAIN:
            return 11002;  // WSATRY_AGAIN
        case EAI_FAIL:
            return 11003;  // WSANO_RECOVERY
        case EAI_NODATA:
            return 11004;  // WSANO_DATA
        case EAI_ADDRFAMILY:
            return 11004;
        case EAI_BADFLAGS:
            return 10022;  // WSAEINVAL
        case EAI_FAMILY:
            return 10047;  // WSAEAFNOSUPPORT
        case EAI_MEMORY:
            return 8;  // WSA_NOT_ENOUGH_MEMORY
        case EAI_SERVICE:
            return 10109;  // WSATYPE_NOT_FOUND
        case EAI_SOCKTYPE:
            return 10044;  // WSAESOCKTNOSUPPORT
        case EAI_SYSTEM:
            return WinErrorFromErrno(errnoForSystem, ErrorDomain::Socket);
        default:
            return eaiResult;
    }
}

std::string SystemErrorText(int err) {
    if (err == kErrNotARegularFile) return "Not a regular file (a pipe, a device or a socket)";
    char buf[256];
    // GNU strerror_r returns the text, which may or may not live in buf.
    const char* text = strerror_r(err, buf, sizeof buf);
    return text ? std::string(text) : ("error " + std::to_string(err));
}

}  // namespace plat
