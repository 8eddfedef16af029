// errno and getaddrinfo results as the Windows codes callers observe.
#include "platform/WinError.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include <gtest/gtest.h>

namespace {

TEST(WinError, SocketDomain) {
    const std::pair<int, int> cases[] = {
        {0, 0},
        {ECONNREFUSED, 10061},
        {ETIMEDOUT, 10060},
        {ECONNRESET, 10054},
        {ENETUNREACH, 10051},
        {EHOSTUNREACH, 10065},
        {EADDRINUSE, 10048},
        {ECONNABORTED, 10053},
        {ENOTCONN, 10057},
        {EWOULDBLOCK, 10035},
        {EAGAIN, 10035},
        {EINPROGRESS, 10036},
        {EALREADY, 10037},
        {EINTR, 10004},
        {EBADF, 10009},
        {EACCES, 10013},
        {EINVAL, 10022},
        {EMFILE, 10024},
        {ENOTSOCK, 10038},
        {EMSGSIZE, 10040},
        {EAFNOSUPPORT, 10047},
        {EADDRNOTAVAIL, 10049},
        {ENETDOWN, 10050},
        {ENOBUFS, 10055},
        {EISCONN, 10056},
        {ESHUTDOWN, 10058},
        {EHOSTDOWN, 10064},
        {EPROTONOSUPPORT, 10043},
        {EPIPE, 10058},
        // Not a socket error at all: the file table answers.
        {ENOENT, 2},
        // Unknown anywhere: unchanged.
        {EPROTO, EPROTO},
    };
    for (const auto& [err, win] : cases)
        EXPECT_EQ(plat::WinErrorFromErrno(err, plat::ErrorDomain::Socket), win) << err;
}

TEST(WinError, FileDomain) {
    const std::pair<int, int> cases[] = {
        {0, 0},
        {ENOENT, 2},
        {ENOTDIR, 3},
        {EACCES, 5},
        {EPERM, 5},
        {EISDIR, 5},
        {EEXIST, 80},
        {ENOSPC, 112},
        {EROFS, 19},
        {EXDEV, 17},
        {ETXTBSY, 32},
        {ENOTEMPTY, 145},
        {ENAMETOOLONG, 206},
        {EINVAL, 87},
        {EMFILE, 4},
        // A socket error met by a file call keeps its socket code.
        {ECONNREFUSED, 10061},
        {EPROTO, EPROTO},
    };
    for (const auto& [err, win] : cases)
        EXPECT_EQ(plat::WinErrorFromErrno(err, plat::ErrorDomain::File), win) << err;
}

TEST(WinError, NameResolutionResults) {
    const std::pair<int, int> cases[] = {
        {0, 0},
        {EAI_NONAME, 11001},
        {EAI_AGAIN, 11002},
        {EAI_FAIL, 11003},
        {EAI_NODATA, 11004},
        {EAI_FAMILY, 10047},
        {EAI_MEMORY, 8},
        {EAI_SERVICE, 10109},
        {EAI_SOCKTYPE, 10044},
        {EAI_BADFLAGS, 10022},
    };
    for (const auto& [eai, win] : cases)
        EXPECT_EQ(plat::WinErrorFromAddrInfo(eai), win) << eai;
    EXPECT_EQ(plat::WinErrorFromAddrInfo(EAI_SYSTEM, ECONNREFUSED), 10061);
    EXPECT_EQ(plat::WinErrorFromAddrInfo(-12345), -12345);
}

TEST(WinError, RealFailuresMapAsExpected) {
    // A name that cannot exist, resolved for real.
    addrinfo* res = nullptr;
    const int r = ::getaddrinfo("kw-no-such-host.invalid", nullptr, nullptr, &res);
    if (res) ::freeaddrinfo(res);
    ASSERT_NE(r, 0);
    const int win = plat::WinErrorFromAddrInfo(r, errno);
    // Without a resolver (no network here) the answer may be "try again" rather than "not found".
    EXPECT_TRUE(win == 11001 || win == 11002 || win == 11004) << win;
}

TEST(WinError, RefusedConnectionIs10061) {
    // A loopback port that was just closed refuses the connection.
    const int l = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(l, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(l, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    socklen_t len = sizeof a;
    ASSERT_EQ(::getsockname(l, reinterpret_cast<sockaddr*>(&a), &len), 0);
    ::close(l);
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_NE(::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    const int err = errno;
    ::close(s);
    EXPECT_EQ(plat::WinErrorFromErrno(err, plat::ErrorDomain::Socket), 10061);
}

TEST(WinError, SystemErrorText) {
    EXPECT_EQ(plat::SystemErrorText(ENOENT), std::generic_category().message(ENOENT));
    EXPECT_EQ(plat::SystemErrorText(ECONNREFUSED), std::generic_category().message(ECONNREFUSED));
    EXPECT_FALSE(plat::SystemErrorText(99999).empty());
}

}  // namespace
