// net/IdStack.h: the socket stack, the one object through which the library reaches the
// operating system's sockets, and socket lists to wait on.
//
// TIdStack declares the operations (name resolution, socket creation, bind, connect, listen,
// accept, send, receive, options, byte order, error texts); TIdStackBSDBase adds the raw
// Berkeley-socket calls and the result checks; TIdStackLinux (IdStackLinux.h) implements
// them over POSIX sockets. There is one stack per process, made by the first component and
// freed with the last (IdComponent), always under the component lock. Socket handles are
// the system's descriptors; addresses are texts (dotted IPv4 or the colon form of IPv6);
// ports are host-order numbers. A failed call raises EIdSocketError carrying the Windows
// Sockets code of the failure (10061 for a refused connect, 11001 for an unknown host), whose
// message is SocketErrorText of that code.
//
// The stack holds no lock: its calls are plain system calls that several threads make at once.
// Socket lists lock themselves per operation; a list holds at most 64 sockets and waits with
// poll, so any descriptor number can be waited on.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "net/IdExceptionCore.h"
#include "net/IdGlobal.h"
#include "rtl/StringList.h"

using TIdStackSocketHandle = int;
inline constexpr TIdStackSocketHandle Id_INVALID_SOCKET = -1;
inline constexpr int Id_SOCKET_ERROR = -1;

// Socket types and option levels of the platform, under the library's names.
extern const int Id_SOCK_STREAM;
extern const int Id_SOCK_DGRAM;
extern const int Id_SOL_SOCKET;
extern const int Id_IPPROTO_TCP;
extern const int Id_TCP_NODELAY;
extern const int Id_SO_REUSEADDR;

// The Windows Sockets codes the library tests for by number.
inline constexpr int32_t Id_WSAEINTR = 10004;
inline constexpr int32_t Id_WSAEBADF = 10009;
inline constexpr int32_t Id_WSAEINVAL = 10022;
inline constexpr int32_t Id_WSAEWOULDBLOCK = 10035;
inline constexpr int32_t Id_WSAEINPROGRESS = 10036;
inline constexpr int32_t Id_WSAENOTSOCK = 10038;
inline constexpr int32_t Id_WSAEMSGSIZE = 10040;
inline constexpr int32_t Id_WSAEADDRNOTAVAIL = 10049;
inline constexpr int32_t Id_WSAECONNREFUSED = 10061;
inline constexpr int32_t Id_WSAETIMEDOUT = 10060;
inline constexpr int32_t Id_WSAHOST_NOT_FOUND = 11001;

class EIdSocketError : public EIdException {
public:
    explicit EIdSocketError(const std::string& message) : EIdException(message) {}
    EIdSocketError(int32_t code, const std::string& message) : EIdException(message), SocketErrorCode(code) {}
    const char* ClassName() const noexcept override { return "EIdSocketError"; }

    int32_t SocketErrorCode = 0;
};

class EIdNotASocket : public EIdSocketError {
public:
    using EIdSocketError::EIdSocketError;
    const char* ClassName() const noexcept override { return "EIdNotASocket"; }
};

RTL_EXCEPTION(EIdStackError, EIdException);
RTL_EXCEPTION(EIdStackInitializationFailed, EIdStackError);
RTL_EXCEPTION(EIdStackSetSizeExceeded, EIdStackError);
RTL_EXCEPTION(EIdIPVersionUnsupported, EIdStackError);
RTL_EXCEPTION(EIdInvalidServiceName, EIdException);
RTL_EXCEPTION(EIdIPv6Unavailable, EIdException);

// "Socket Error # <code>", CR LF, and the code's text (nothing after the CR LF for a code
// the table does not know).
std::string SocketErrorText(int32_t code);

// Raises EIdSocketError 10049 for a port outside lowest..65535 (lowest 1 for a port to connect
// to, 0 for one to bind to or to name in a proxy request): a port number is never cut to 16
// bits, which would reach another service.
void CheckPortNumber(int32_t port, int32_t lowest);

class TIdStack {
public:
    virtual ~TIdStack() = default;
    TIdStack(const TIdStack&) = delete;
    TIdStack& operator=(const TIdStack&) = delete;

    // Name resolution.
    virtual std::string LookUpHostAddress(const std::string& host, TIdIPVersion ipVersion) = 0;
    virtual std::string LookUpHostName(const std::string& address, TIdIPVersion ipVersion) = 0;
    virtual std::string QueryHostName() = 0;
    // The addresses of this host, refilled on every call; owned by the stack.
    rtl::StringList& LocalAddressList();
    std::string FirstLocalAddress();

    // Sockets.
    virtual TIdStackSocketHandle CreateSocket(int socketType, int protocol, TIdIPVersion ipVersion,
                                              bool overlapped = false) = 0;
    virtual TIdStackSocketHandle AcceptConnection(TIdStackSocketHandle socket, std::string& address,
                                                  uint16_t& port) = 0;
    virtual void BindSocket(TIdStackSocketHandle socket, const std::string& address, uint16_t port,
                            TIdIPVersion ipVersion) = 0;
    virtual void ConnectSocket(TIdStackSocketHandle socket, const std::string& address, uint16_t port,
                               TIdIPVersion ipVersion) = 0;
    // Shuts the sending side down, then closes.
    virtual void DisconnectSocket(TIdStackSocketHandle socket) = 0;
    virtual void ListenSocket(TIdStackSocketHandle socket, int backlog) = 0;
    virtual void ReadPeerAddress(TIdStackSocketHandle socket, std::string& address, uint16_t& port) = 0;
    virtual void ReadLocalAddress(TIdStackSocketHandle socket, std::string& address, uint16_t& port) = 0;
    virtual int32_t ReadSocketOption(TIdStackSocketHandle socket, int level, int option) = 0;
    virtual void WriteSocketOption(TIdStackSocketHandle socket, int level, int option, int32_t value) = 0;
    // Receives into the whole array (which must not be empty); 0 means the peer closed.
    virtual int32_t SocketReceive(TIdStackSocketHandle socket, TBytes& bytes) = 0;
    // count -1 sends from offset to the end.
    virtual int32_t SocketSend(TIdStackSocketHandle socket, const TBytes& bytes, int32_t offset = 0,
                               int32_t count = -1) = 0;
    virtual int32_t SocketReceiveFrom(TIdStackSocketHandle socket, TBytes& bytes, std::string& address,
                                      uint16_t& port, TIdIPVersion ipVersion) = 0;
    virtual int32_t SocketSendTo(TIdStackSocketHandle socket, const std::string& address, uint16_t port,
                                 const TBytes& bytes, TIdIPVersion ipVersion) = 0;
    virtual bool HasIPv6Protocol() = 0;
    virtual void SetSocketBlocking(TIdStackSocketHandle socket, bool blocking) = 0;

    // Services.
    // A service name's port (from the services database), else the name read as a port
    // number; EIdInvalidServiceName "%s is not a valid service." otherwise.
    virtual uint16_t ServiceNameToPort(const std::string& name) = 0;
    // The service's name followed by its aliases; empty when the port has none.
    virtual std::unique_ptr<rtl::StringList> PortToServiceNames(uint16_t port) = 0;

    // Byte order.
    static uint16_t HostToNet16(uint16_t v);
    static uint32_t HostToNet32(uint32_t v);
    static uint64_t HostToNet64(uint64_t v);
    static uint16_t NetToHost16(uint16_t v) { return HostToNet16(v); }
    static uint32_t NetToHost32(uint32_t v) { return HostToNet32(v); }
    static uint64_t NetToHost64(uint64_t v) { return HostToNet64(v); }

    virtual std::string SocketErrorText(int32_t code);

    // "LOCALHOST" (any case) is 127.0.0.1 and a dotted IPv4 text is itself, without a lookup;
    // an IPv6 literal is its canonical text; anything else is looked up.
    std::string ResolveHostText(const std::string& host, TIdIPVersion ipVersion);
    static bool IsIPv4Text(std::string_view text);
    static std::string NormalizeIPv6Text(std::string_view text) { return ::NormalizeIPv6Text(text); }

    // Makes the global stack (under the component lock: IdComponent). "Stack Class is
    // undefined." without a stack class, "Stack already created." when one exists.
    static void CreateStackInstance();
    // Frees the global stack (under the component lock).
    static void FreeStackInstance();
    // The factory of the global stack; TIdStackLinux unless another is installed.
    using TIdStackClass = std::unique_ptr<TIdStack> (*)();
    static void SetStackClass(TIdStackClass stackClass);

    const std::string& HostName() const { return hostName_; }

protected:
    TIdStack() = default;
    virtual void FillLocalAddresses(rtl::StringList& list) = 0;

private:
    std::string hostName_;
    std::unique_ptr<rtl::StringList> localAddresses_;
};

// The global stack, or nullptr when no component lives.
TIdStack* GStack();

class TIdStackBSDBase : public TIdStack {
public:
    // Raw calls: results unchecked unless said otherwise.
    virtual int32_t RawReceive(TIdStackSocketHandle socket, void* buffer, int32_t length, int flags) = 0;
    // Raises on failure.
    virtual int32_t RawSend(TIdStackSocketHandle socket, const void* buffer, int32_t length, int flags) = 0;
    virtual int32_t RawReceiveFrom(TIdStackSocketHandle socket, void* buffer, int32_t length, int flags,
                                   std::string& address, uint16_t& port, TIdIPVersion ipVersion) = 0;
    // EIdPackageSizeTooBig for a datagram too long, EIdNotAllBytesSent for a short send.
    virtual void RawSendTo(TIdStackSocketHandle socket, const void* buffer, int32_t length, int flags,
                           const std::string& address, uint16_t port, TIdIPVersion ipVersion) = 0;
    virtual TIdStackSocketHandle RawCreateSocket(int family, int type, int protocol, bool overlapped) = 0;
    virtual void RawSetSocketOption(TIdStackSocketHandle socket, int level, int option, const void* value,
                                    int length) = 0;
    virtual void RawGetSocketOption(TIdStackSocketHandle socket, int level, int option, void* value,
                                    int& length) = 0;
    virtual int ShutdownSocket(TIdStackSocketHandle socket, int how) = 0;
    virtual void CloseSocketHandle(TIdStackSocketHandle socket) = 0;
    // The Windows Sockets code of the calling thread's last socket failure.
    virtual int32_t LastSocketError() = 0;
    // True for -1 with "would block"; any other failure raises.
    virtual bool IsWouldBlock(int32_t result) = 0;

    // -1 raises the last socket error; any other result is returned.
    int32_t CheckSocketCall(int32_t result);
    // 0 for a result other than -1; for -1 a tolerated code is returned, any other raised.
    int32_t CheckSocketResult(int32_t result, std::initializer_list<int32_t> tolerated);
    // 10038 raises EIdNotASocket, every other code EIdSocketError.
    [[noreturn]] void RaiseSocketError(int32_t code);
    [[noreturn]] void RaiseLastSocketFailure() { RaiseSocketError(LastSocketError()); }

protected:
    TIdStackBSDBase();
    ~TIdStackBSDBase() override;
};

// The global stack as a BSD stack (every stack of this system is one), or nullptr.
TIdStackBSDBase* GBSDStack();

// A set of at most 64 sockets to wait on. Every operation holds the list's lock.
class TIdSocketList {
public:
    static constexpr int kMaxSockets = 64;

    virtual ~TIdSocketList() = default;
    TIdSocketList(const TIdSocketList&) = delete;
    TIdSocketList& operator=(const TIdSocketList&) = delete;

    // A new list of the registered class (TIdSocketListLinux).
    static std::unique_ptr<TIdSocketList> CreateSocketList();

    // EIdStackSetSizeExceeded "Set Size Exceeded." outside 0 .. count-1.
    virtual TIdStackSocketHandle ItemAt(int index) = 0;
    // EIdStackSetSizeExceeded when the list already holds 64; no duplicate test.
    virtual void AddSocket(TIdStackSocketHandle socket) = 0;
    virtual std::unique_ptr<TIdSocketList> CloneList() = 0;
    virtual int SocketCount() = 0;
    // The first equal entry is replaced by the last one; an absent socket changes nothing.
    virtual void RemoveSocket(TIdStackSocketHandle socket) = 0;
    virtual void ClearSockets() = 0;
    virtual bool HasSocket(TIdStackSocketHandle socket) = 0;
    // Waits until a socket of the list is readable (time-out in ms, -2 without limit, 0 polls);
    // the list is not changed.
    virtual bool WaitReadable(int32_t timeout) = 0;
    // As WaitReadable; when any is ready, the result list (made when absent) receives the
    // ready sockets.
    virtual bool WaitReadableList(std::unique_ptr<TIdSocketList>& result, int32_t timeout) = 0;

    // Waits on the present lists (nullptr for absent ones) and leaves in each only its ready
    // sockets; true when any socket is ready.
    static bool SelectLists(TIdSocketList* readList, TIdSocketList* writeList, TIdSocketList* errorList,
                            int32_t timeout);

protected:
    TIdSocketList() = default;
    // The class's own wait, used by SelectLists.
    virtual bool DoSelectLists(TIdSocketList* readList, TIdSocketList* writeList, TIdSocketList* errorList,
                               int32_t timeout) = 0;

    TIdCriticalSection lock_;
};
