// Tests of the library's exception tree, its messages and the raise helpers.
#include <gtest/gtest.h>
#include <netdb.h>

#include <cerrno>
#include <functional>
#include <string>
#include <vector>

#include "net/IdBuffer.h"
#include "net/IdExceptionCore.h"
#include "net/IdReply.h"
#include "net/IdStack.h"
#include "net/IdStream.h"
#include "net/IdWinSock2.h"

namespace {

struct TreeCase {
    const char* name;
    std::string message;
    // Raises the class through the helper and catches it as its parent; answers the caught
    // object's class name and message, or "not caught".
    std::function<std::string()> raiseAndCatchAsParent;
};

template <class E, class Parent>
TreeCase Case(const char* name, std::string message) {
    return TreeCase{name, message, [message]() -> std::string {
                        try {
                            EIdException::RaiseIdException<E>(message);
                        } catch (const Parent& e) {
                            // Exactly the class asked for, caught as every ancestor.
                            if (dynamic_cast<const E*>(&e) == nullptr) return "wrong class";
                            return std::string(e.ClassName()) + "|" + e.Message();
                        } catch (...) {
                        }
                        return "not caught";
                    }};
}

TEST(IdException, EveryClassIsCaughtAsItsParentWithItsMessage) {
    const std::vector<TreeCase> cases = {
        Case<EIdException, EIdExceptionBase>("EIdException", "any"),
        Case<EIdSilentException, EIdException>("EIdSilentException", ""),
        Case<EIdConnClosedGracefully, EIdSilentException>("EIdConnClosedGracefully",
                                                          RSId::ConnectionClosedGracefully),
        Case<EIdSocketHandleError, EIdException>("EIdSocketHandleError", ""),
        Case<EIdPackageSizeTooBig, EIdSocketHandleError>("EIdPackageSizeTooBig", RSId::PackageSizeTooBig),
        Case<EIdNotAllBytesSent, EIdSocketHandleError>("EIdNotAllBytesSent", RSId::NotAllBytesSent),
        Case<EIdCouldNotBindSocket, EIdSocketHandleError>("EIdCouldNotBindSocket", RSId::CouldNotBindSocket),
        Case<EIdCanNotBindPortInRange, EIdSocketHandleError>("EIdCanNotBindPortInRange",
                                                             "Can not bind in port range (10 - 12)"),
        Case<EIdInvalidPortRange, EIdSocketHandleError>("EIdInvalidPortRange", "Invalid Port Range (12 - 10)"),
        Case<EIdCannotSetIPVersionWhenConnected, EIdSocketHandleError>("EIdCannotSetIPVersionWhenConnected",
                                                                       RSId::CannotSetIPVersionWhenConnected),
        Case<EIdAlreadyConnected, EIdException>("EIdAlreadyConnected", RSId::AlreadyConnected),
        Case<EIdClosedSocket, EIdException>("EIdClosedSocket", RSId::ClosedSocket),
        Case<EIdReadTimeout, EIdException>("EIdReadTimeout", RSId::ReadTimeout),
        Case<EIdReadLnMaxLineLengthExceeded, EIdException>("EIdReadLnMaxLineLengthExceeded",
                                                           RSId::ReadLnMaxLineLengthExceeded),
        Case<EIdTCPConnectionError, EIdException>("EIdTCPConnectionError", ""),
        Case<EIdObjectTypeNotSupported, EIdTCPConnectionError>("EIdObjectTypeNotSupported",
                                                               RSId::ObjectTypeNotSupported),
        Case<EIdIOHandlerPropInvalid, EIdTCPConnectionError>("EIdIOHandlerPropInvalid", RSId::IOHandlerPropInvalid),
        Case<EIdNoDataToRead, EIdTCPConnectionError>("EIdNoDataToRead", RSId::NoDataToRead),
        Case<EIdFileNotFound, EIdTCPConnectionError>("EIdFileNotFound", "File \"x\" not found"),
        Case<EIdNotConnected, EIdException>("EIdNotConnected", RSId::NotConnectedCommand),
        Case<EIdSSLProtocolReplyError, EIdException>("EIdSSLProtocolReplyError", ""),
        Case<EIdConnectTimeout, EIdException>("EIdConnectTimeout", RSId::ConnectTimeout),
        Case<EIdConnectException, EIdException>("EIdConnectException", "whatever failed"),
        Case<EIdTransparentProxyCantBind, EIdException>("EIdTransparentProxyCantBind",
                                                        RSId::TransparentProxyCantBind),
        Case<EIdSocksError, EIdException>("EIdSocksError", ""),
        Case<EIdSocksRequestFailed, EIdSocksError>("EIdSocksRequestFailed", RSId::SocksRequestFailed),
        Case<EIdSocksRequestServerFailed, EIdSocksError>("EIdSocksRequestServerFailed",
                                                         RSId::SocksRequestServerFailed),
        Case<EIdSocksRequestIdentFailed, EIdSocksError>("EIdSocksRequestIdentFailed", RSId::SocksRequestIdentFailed),
        Case<EIdSocksUnknownError, EIdSocksError>("EIdSocksUnknownError", RSId::SocksUnknownError),
        Case<EIdSocksServerRespondError, EIdSocksError>("EIdSocksServerRespondError", RSId::SocksServerRespondError),
        Case<EIdSocksAuthMethodError, EIdSocksError>("EIdSocksAuthMethodError", RSId::SocksAuthMethodError),
        Case<EIdSocksAuthError, EIdSocksError>("EIdSocksAuthError", RSId::SocksAuthError),
        Case<EIdSocksServerGeneralError, EIdSocksError>("EIdSocksServerGeneralError", RSId::SocksServerGeneralError),
        Case<EIdSocksServerPermissionError, EIdSocksError>("EIdSocksServerPermissionError",
                                                           RSId::SocksServerPermissionError),
        Case<EIdSocksServerNetUnreachableError, EIdSocksError>("EIdSocksServerNetUnreachableError",
                                                               RSId::SocksServerNetUnreachableError),
        Case<EIdSocksServerHostUnreachableError, EIdSocksError>("EIdSocksServerHostUnreachableError",
                                                                RSId::SocksServerHostUnreachableError),
        Case<EIdSocksServerConnectionRefusedError, EIdSocksError>("EIdSocksServerConnectionRefusedError",
                                                                  RSId::SocksServerConnectionRefusedError),
        Case<EIdSocksServerTTLExpiredError, EIdSocksError>("EIdSocksServerTTLExpiredError",
                                                           RSId::SocksServerTTLExpiredError),
        Case<EIdSocksServerCommandError, EIdSocksError>("EIdSocksServerCommandError", RSId::SocksServerCommandError),
        Case<EIdSocksServerAddressError, EIdSocksError>("EIdSocksServerAddressError", RSId::SocksServerAddressError),
        Case<EIdMaxCaptureLineExceeded, EIdException>("EIdMaxCaptureLineExceeded", RSId::MaxCaptureLineExceeded),
        // Classes of single components.
        Case<EIdSocketError, EIdException>("EIdSocketError", "Socket Error # 10061\r\nConnection refused."),
        Case<EIdNotASocket, EIdSocketError>("EIdNotASocket", "x"),
        Case<EIdStackError, EIdException>("EIdStackError", ""),
        Case<EIdStackInitializationFailed, EIdStackError>("EIdStackInitializationFailed", "x"),
        Case<EIdStackSetSizeExceeded, EIdStackError>("EIdStackSetSizeExceeded", "Set Size Exceeded."),
        Case<EIdIPVersionUnsupported, EIdStackError>("EIdIPVersionUnsupported", "x"),
        Case<EIdInvalidServiceName, EIdException>("EIdInvalidServiceName", "x"),
        Case<EIdIPv6Unavailable, EIdException>("EIdIPv6Unavailable", "IPv6 unavailable"),
        Case<EIdWinsockStubError, EIdException>("EIdWinsockStubError", "x"),
        Case<EIdFailedToRetreiveTimeZoneInfo, EIdException>("EIdFailedToRetreiveTimeZoneInfo", "x"),
        Case<EIdEndOfStream, EIdException>("EIdEndOfStream", "x"),
        Case<EIdNotEnoughDataInBuffer, EIdException>("EIdNotEnoughDataInBuffer", "x"),
        Case<EIdTooMuchDataInBuffer, EIdException>("EIdTooMuchDataInBuffer", "x"),
        Case<EIdReplyError, EIdException>("EIdReplyError", "x"),
        Case<EIdReplyRFCError, EIdReplyError>("EIdReplyRFCError", "x"),
    };
    for (const TreeCase& c : cases) EXPECT_EQ(c.raiseAndCatchAsParent(), std::string(c.name) + "|" + c.message);
}

TEST(IdException, ConstructorsWithCodesKeepTheirCodes) {
    const EIdSocketError s(10061, "refused");
    EXPECT_EQ(s.SocketErrorCode, 10061);
    EXPECT_EQ(s.Message(), "refused");
    const EIdReplyRFCError r(550, "no");
    EXPECT_EQ(r.ReplyErrorCode, 550);

    const EIdWinsockStubError titleOnly("Error on call Winsock2 library function connect", 0);
    EXPECT_EQ(titleOnly.Message(), "Error on call Winsock2 library function connect");
    const EIdWinsockStubError withText("Error on loading Winsock2 library (WS2_32.DLL)", ENOENT);
    EXPECT_EQ(withText.OsErrorCode, ENOENT);
    EXPECT_EQ(withText.MessageTitle, "Error on loading Winsock2 library (WS2_32.DLL)");
    EXPECT_EQ(withText.Message(), withText.MessageTitle + ": " + withText.OsErrorText);
    EXPECT_FALSE(withText.OsErrorText.empty());
}

template <class F>
bool Raises(F f) {
    try {
        f();
    } catch (const EIdConnClosedGracefully&) {
        return true;
    }
    return false;
}

TEST(IdException, HelpersRaiseOnTheirConditionAndOnlyThen) {
    using E = EIdException;
    EXPECT_TRUE(Raises([] { E::RaiseIdException<EIdConnClosedGracefully>("m"); }));
    EXPECT_TRUE(Raises([] { E::RaiseIdExceptionIf<EIdConnClosedGracefully>(true, "m"); }));
    EXPECT_FALSE(Raises([] { E::RaiseIdExceptionIf<EIdConnClosedGracefully>(false, "m"); }));
    EXPECT_TRUE(Raises([] { E::RaiseIdExceptionUnless<EIdConnClosedGracefully>(false, "m"); }));
    EXPECT_FALSE(Raises([] { E::RaiseIdExceptionUnless<EIdConnClosedGracefully>(true, "m"); }));
    int x = 0;
    int* set = &x;
    int* nil = nullptr;
    EXPECT_TRUE(Raises([&] { E::RaiseIdExceptionIfAssigned<EIdConnClosedGracefully>(set, "m"); }));
    EXPECT_FALSE(Raises([&] { E::RaiseIdExceptionIfAssigned<EIdConnClosedGracefully>(nil, "m"); }));
    EXPECT_TRUE(Raises([&] { E::RaiseIdExceptionIfNil<EIdConnClosedGracefully>(nil, "m"); }));
    EXPECT_FALSE(Raises([&] { E::RaiseIdExceptionIfNil<EIdConnClosedGracefully>(set, "m"); }));
}

TEST(IdException, OutOfRangeHelperAtAndJustOutsideBothBounds) {
    struct Row {
        int64_t value, lower, upper;
        bool raises;
    };
    const Row rows[] = {
        {4, 5, 10, true},  {5, 5, 10, false}, {6, 5, 10, false},  {10, 5, 10, false},
        {11, 5, 10, true}, {-1, 0, 0, true},  {0, 0, 0, false},   {1, 0, 0, true},
        // An upper bound below the lower one makes every value raise.
        {5, 10, 5, true},  {7, 10, 5, true},  {10, 10, 5, true},
    };
    for (const Row& r : rows)
        EXPECT_EQ(Raises([&] {
                      EIdException::RaiseIdExceptionIfOutOfRange<EIdConnClosedGracefully>(r.value, r.lower, r.upper,
                                                                                          "range");
                  }),
                  r.raises)
            << r.value << " in " << r.lower << ".." << r.upper;
}

TEST(IdWinSock2, ResolverResultsBecomeWindowsSocketCodesAndNeverZero) {
    struct Row {
        int code, err, expected;
    };
    const Row rows[] = {
        {0, 0, 0},
        {EAI_NONAME, 0, 11001},
        {EAI_AGAIN, 0, 11002},
        {EAI_FAIL, 0, 11003},
        {EAI_NODATA, 0, 11004},
        {EAI_ADDRFAMILY, 0, 11004},
        {EAI_BADFLAGS, 0, 10022},
        {EAI_FAMILY, 0, 10047},
        {EAI_MEMORY, 0, 8},
        {EAI_SERVICE, 0, 10109},
        {EAI_SOCKTYPE, 0, 10044},
        {EAI_SYSTEM, ECONNREFUSED, 10061},
        // A system failure without an errno must not read as success.
        {EAI_SYSTEM, 0, 11003},
        {12, 0, 12},
    };
    for (const Row& r : rows) EXPECT_EQ(GaiErrorToSocketError(r.code, r.err), r.expected) << r.code;
}

}  // namespace
