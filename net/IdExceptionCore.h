// net/IdExceptionCore.h: the exceptions of the connection layer, with the messages they carry.
//
// The messages are the library's own resource texts and are kept here as constants, so a
// raiser and a test quote the same text. A class listed without a message is only a parent.
#pragma once

#include "net/IdException.h"

RTL_EXCEPTION(EIdConnClosedGracefully, EIdSilentException);
RTL_EXCEPTION(EIdSocketHandleError, EIdException);
RTL_EXCEPTION(EIdPackageSizeTooBig, EIdSocketHandleError);
RTL_EXCEPTION(EIdNotAllBytesSent, EIdSocketHandleError);
RTL_EXCEPTION(EIdCouldNotBindSocket, EIdSocketHandleError);
RTL_EXCEPTION(EIdCanNotBindPortInRange, EIdSocketHandleError);
RTL_EXCEPTION(EIdInvalidPortRange, EIdSocketHandleError);
RTL_EXCEPTION(EIdCannotSetIPVersionWhenConnected, EIdSocketHandleError);
RTL_EXCEPTION(EIdAlreadyConnected, EIdException);
RTL_EXCEPTION(EIdClosedSocket, EIdException);
RTL_EXCEPTION(EIdReadTimeout, EIdException);
RTL_EXCEPTION(EIdReadLnMaxLineLengthExceeded, EIdException);
RTL_EXCEPTION(EIdTCPConnectionError, EIdException);
RTL_EXCEPTION(EIdObjectTypeNotSupported, EIdTCPConnectionError);
RTL_EXCEPTION(EIdIOHandlerPropInvalid, EIdTCPConnectionError);
RTL_EXCEPTION(EIdNoDataToRead, EIdTCPConnectionError);
RTL_EXCEPTION(EIdFileNotFound, EIdTCPConnectionError);
RTL_EXCEPTION(EIdNotConnected, EIdException);
RTL_EXCEPTION(EIdSSLProtocolReplyError, EIdException);
RTL_EXCEPTION(EIdConnectTimeout, EIdException);
RTL_EXCEPTION(EIdConnectException, EIdException);
RTL_EXCEPTION(EIdTransparentProxyCantBind, EIdException);
RTL_EXCEPTION(EIdSocksError, EIdException);
RTL_EXCEPTION(EIdSocksRequestFailed, EIdSocksError);
RTL_EXCEPTION(EIdSocksRequestServerFailed, EIdSocksError);
RTL_EXCEPTION(EIdSocksRequestIdentFailed, EIdSocksError);
RTL_EXCEPTION(EIdSocksUnknownError, EIdSocksError);
RTL_EXCEPTION(EIdSocksServerRespondError, EIdSocksError);
RTL_EXCEPTION(EIdSocksAuthMethodError, EIdSocksError);
RTL_EXCEPTION(EIdSocksAuthError, EIdSocksError);
RTL_EXCEPTION(EIdSocksServerGeneralError, EIdSocksError);
RTL_EXCEPTION(EIdSocksServerPermissionError, EIdSocksError);
RTL_EXCEPTION(EIdSocksServerNetUnreachableError, EIdSocksError);
RTL_EXCEPTION(EIdSocksServerHostUnreachableError, EIdSocksError);
RTL_EXCEPTION(EIdSocksServerConnectionRefusedError, EIdSocksError);
RTL_EXCEPTION(EIdSocksServerTTLExpiredError, EIdSocksError);
RTL_EXCEPTION(EIdSocksServerCommandError, EIdSocksError);
RTL_EXCEPTION(EIdSocksServerAddressError, EIdSocksError);
RTL_EXCEPTION(EIdMaxCaptureLineExceeded, EIdException);

// The library's resource texts of this layer.
namespace RSId {
inline constexpr const char* ConnectionClosedGracefully = "Connection Closed Gracefully.";
inline constexpr const char* PackageSizeTooBig = "Package Size Too Big.";
inline constexpr const char* NotAllBytesSent = "Not all bytes sent.";
inline constexpr const char* CouldNotBindSocket = "Could not bind socket. Address and port are already in use.";
inline constexpr const char* CanNotBindPortInRange = "Can not bind in port range (%d - %d)";
inline constexpr const char* InvalidPortRange = "Invalid Port Range (%d - %d)";
inline constexpr const char* CannotSetIPVersionWhenConnected = "Cannot change IPVersion when connected";
inline constexpr const char* AlreadyConnected = "Already connected.";
inline constexpr const char* ClosedSocket = "Disconnected.";
inline constexpr const char* ReadTimeout = "Read Timeout";
inline constexpr const char* ReadLnMaxLineLengthExceeded = "Max line length exceeded.";
inline constexpr const char* ObjectTypeNotSupported = "Object type not supported.";
inline constexpr const char* IOHandlerPropInvalid = "IOHandler value is not valid";
inline constexpr const char* NoDataToRead = "No data to read.";
inline constexpr const char* FileNotFound = "File \"%s\" not found";
inline constexpr const char* NotConnectedHandler = "Not Connected";
inline constexpr const char* NotConnectedCommand = "Not connected.";
inline constexpr const char* ConnectTimeout = "Connect timed out.";
inline constexpr const char* TransparentProxyCantBind = "Transparent proxy cannot bind.";
inline constexpr const char* SocksRequestFailed = "Request rejected or failed.";
inline constexpr const char* SocksRequestServerFailed = "Request rejected because SOCKS server cannot connect.";
inline constexpr const char* SocksRequestIdentFailed =
    "Request rejected because the client program and identd report different user-ids.";
inline constexpr const char* SocksUnknownError = "Unknown socks error.";
inline constexpr const char* SocksServerRespondError = "Socks server did not respond.";
inline constexpr const char* SocksAuthMethodError = "Invalid socks authentication method.";
inline constexpr const char* SocksAuthError = "Authentication error to socks server.";
inline constexpr const char* SocksServerGeneralError = "General SOCKS server failure.";
inline constexpr const char* SocksServerPermissionError = "Connection not allowed by ruleset.";
inline constexpr const char* SocksServerNetUnreachableError = "Network unreachable.";
inline constexpr const char* SocksServerHostUnreachableError = "Host unreachable.";
inline constexpr const char* SocksServerConnectionRefusedError = "Connection refused.";
inline constexpr const char* SocksServerTTLExpiredError = "TTL expired.";
inline constexpr const char* SocksServerCommandError = "Command not supported.";
inline constexpr const char* SocksServerAddressError = "Address type not supported.";
inline constexpr const char* MaxCaptureLineExceeded = "Maximum number of line allowed exceeded";
}  // namespace RSId
