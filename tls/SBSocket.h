// tls/SBSocket.h: TElSocket, the cryptographic library's own blocking IPv4 socket, and the
// library's one binding to the operating system's sockets.
//
// Every transport client of the TLS library (the simple SSL client, the HTTP/HTTPS client and
// the FTP client's control and data connections) talks to the network only through it. It
// waits with poll, sends with MSG_NOSIGNAL (a peer that went away is an error code, never a
// signal), keeps a small read-ahead buffer, and reaches its target directly, through a SOCKS 4,
// 4a or 5 proxy (RFC 1928, RFC 1929) or through an HTTP proxy's CONNECT tunnel (RFC 9110
// section 9.3.6). It also binds, listens and accepts (active FTP data connections) and
// connects while watching a second socket (passive FTP data connections).
//
// States (State()):
//   0 no handle     construction, Close, a failed or aborted handle creation
//   1 creating      only while CreateSocketHandle makes the descriptor
//   2 created       CreateSocketHandle; a failed connect or tunnel step
//   3 bound         Bind; a failed or timed-out Accept
//   4 connected     a connect (direct, SOCKS, tunnel) or Accept
//   5 listening     Listen
//   6 connecting    a non-blocking connect in progress
// An operation called in a state it does not take raises EElSocketError "Wrong socket state"
// with the state (code 0x17802). Network failures are never raised: operations answer the
// Windows Sockets code (0 success, 10060 for the socket's own time-outs, -1 for a proxy that
// broke its protocol or a cancelled asynchronous connect), taken from the platform's errno table.
//
// What must stay true: the descriptor exists exactly in states 2 to 6 and is closed once; the
// read-ahead bytes (bytes a proxy sent after its reply, pushed back) are handed out before
// anything is read from the descriptor; every proxy reply is read whole, by its own length
// rules and within a fixed ceiling, before the connection counts as made, and every field
// sent to a proxy fits its length byte. Time-outs are milliseconds: -1 waits without limit,
// 0 polls once.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/base/SBUtils.h"
#include "rtl/Component.h"

enum TElSocksVersion : uint8_t { elSocks4 = 0, elSocks5 = 1 };
enum TElSocksAuthentication : uint8_t { saNoAuthentication = 0, saUsercode = 1 };
enum TElWebTunnelAuthentication : uint8_t { wtaNoAuthentication = 0, wtaRequiresAuthentication = 1 };

RTL_EXCEPTION(EElSocketError, ECryptoLibraryError);

inline constexpr int32_t SB_SOCKET_ERROR_WINSOCK_INIT_FAILED = 0x17801;
inline constexpr int32_t SB_SOCKET_ERROR_WRONG_SOCKET_STATE = 0x17802;
inline constexpr int32_t SB_SOCKET_ERROR_NOT_A_SOCKET = 0x17803;
inline constexpr int32_t SB_SOCKET_ERROR_INVALID_ADDRESS = 0x17804;

inline constexpr const char* SWinsockInitFailed = "Winsock initialization failed";
inline constexpr const char* SWrongSocketState = "Wrong socket state";
inline constexpr const char* SNotASocket = "Not a socket";
inline constexpr const char* SInvalidAddress = "Invalid address";

// Windows Sockets codes the socket produces itself.
inline constexpr int32_t SB_WSAEWOULDBLOCK = 10035;
// A port outside 1 to 65535 to connect to (or outside 0 to 65535 to bind to).
inline constexpr int32_t SB_WSAEADDRNOTAVAIL = 10049;
inline constexpr int32_t SB_WSAETIMEDOUT = 10060;
// A proxy that broke its protocol, or a cancelled asynchronous connect.
inline constexpr int32_t SB_SOCKET_PROXY_FAILURE = -1;

class TElSocket;

// The proxy a connection goes through: a SOCKS server (4, 4a or 5, a user for 5) or an HTTP
// tunnel (CONNECT, Basic credentials), never both: turning one on turns the other off.
// TElSocket connects through these settings; the simple SSL client keeps its own copy and
// hands it to its socket at each connect.
class TElProxySettings {
public:
    TElSocksAuthentication SocksAuthentication = saNoAuthentication;
    std::string SocksPassword;
    int32_t SocksPort = 1080;
    bool SocksResolveAddress = false;
    std::string SocksServer;
    std::string SocksUserCode;
    TElSocksVersion SocksVersion = elSocks5;
    bool UseSocks() const { return useSocks_; }
    void SetUseSocks(bool value) {
        useSocks_ = value;
        if (value) useWebTunneling_ = false;
    }
    bool UseWebTunneling() const { return useWebTunneling_; }
    void SetUseWebTunneling(bool value) {
        useWebTunneling_ = value;
        if (value) useSocks_ = false;
    }
    std::string WebTunnelAddress;
    TElWebTunnelAuthentication WebTunnelAuthentication = wtaNoAuthentication;
    std::string WebTunnelPassword;
    int32_t WebTunnelPort = 3128;
    std::string WebTunnelUserId;

private:
    bool useSocks_ = false;
    bool useWebTunneling_ = false;
};

// Told while AsyncConnect waits, when the watched socket became readable (Kind 0) or writable
// (Kind 2); setting Cancel abandons the connect.
using TElSocketWatchEvent = std::function<void(TElSocket& sender, TElSocket& watched, int kind, bool& cancel)>;

class TElSocket : public rtl::Component, public TElProxySettings {
public:
    static constexpr uint8_t stNone = 0;
    static constexpr uint8_t stCreating = 1;
    static constexpr uint8_t stCreated = 2;
    static constexpr uint8_t stBound = 3;
    static constexpr uint8_t stConnected = 4;
    static constexpr uint8_t stListening = 5;
    static constexpr uint8_t stConnecting = 6;

    // The read-ahead buffer a socket starts with.
    static constexpr size_t kReadAheadSize = 16384;
    // A proxy's reply is read into at most this many bytes; a reply that does not end within
    // them is refused.
    static constexpr size_t kProxyReplyLimit = 1024;
    // While WebTunnelAuthenticator answers a proxy's challenges: a 407's header block carries
    // a challenge token besides the proxy's own fields, and its body (the proxy's refusal
    // page) is read and dropped before the next CONNECT on the same connection.
    static constexpr size_t kProxyAuthReplyLimit = 16384;
    static constexpr int64_t kProxyAuthBodyLimit = 262144;
    // A CONNECT refused with 407 more often than this in a row is given up.
    static constexpr int kTunnelAuthRounds = 3;
    // Names and credentials a SOCKS request carries behind one length byte.
    static constexpr size_t kSocksFieldLimit = 255;

    explicit TElSocket(rtl::Component* owner = nullptr);
    ~TElSocket() override;

    // States 0 and 2 only. Makes an AF_INET stream (or datagram) descriptor in state 0;
    // empties the read-ahead buffer. 0 or the system's code.
    int CreateSocketHandle(bool datagram = false);
    // ProxyResult := 0; then through SOCKS, through the tunnel, or directly. A Port (or a
    // proxy's port) outside 1 to 65535 is refused with 10049 before anything is sent: a port
    // number never wraps into another one.
    int Connect(int timeout);
    int ConnectDirect(int timeout);
    int Bind();
    int Listen();
    int Accept(int timeout);
    int AsyncConnect(int timeout, TElSocket* watched, const TElSocketWatchEvent& handler, bool watchRead,
                     bool watchWrite);
    // State 4 only. Read-ahead bytes first; then one recv. A closed peer answers 0 with
    // received 0.
    int Receive(void* buffer, int size, int& received);
    // State 4 only. One send; sent := the bytes taken (0 on error).
    int Send(const void* buffer, int size, int& sent);
    bool CanReceive(int timeout);
    bool CanSend(int timeout);
    bool CanAccept(int timeout);
    void Close(bool noShutdown);
    // The peer's dotted address, or Address when the system cannot tell it.
    std::string GetRemoteAddress();
    // Puts bytes in front of the unread read-ahead bytes.
    void PushBack(const void* data, int count);

    uint8_t State() const { return state_.load(); }
    bool IsDatagram() const { return datagram_; }
    // The descriptor, -1 in states 0 and 1 (for poll sets of the owner).
    int Handle() const { return handle_; }

    const std::string& Address() const { return address_; }
    void SetAddress(const std::string& value);
    int32_t Port() const { return port_; }
    void SetPort(int32_t value);
    const std::string& BoundAddress() const { return boundAddress_; }
    int32_t BoundPort() const { return boundPort_; }
    std::string ListenAddress;
    int32_t ListenPort = 0;

    // The HTTP status of the last tunnel reply; 0 after every other connect.
    int32_t ProxyResult() const { return proxyResult_; }
    // The status line of the last tunnel reply (TunnelReplyStatusLine); empty after every
    // other connect, and when the proxy gave no whole reply.
    const std::string& ProxyStatusLine() const { return proxyStatusLine_; }

    // Proxy authentication for the tunnel beyond preemptive Basic (a challenge-response
    // exchange, which lives on one connection). Given the Proxy-Authenticate values of the
    // proxy's last 407 (none before the first CONNECT), the Proxy-Authorization line for the
    // next CONNECT ("" for none). While set it replaces the Basic line, and a 407 it answers is
    // followed by another CONNECT on the same connection, up to kTunnelAuthRounds times; a 407
    // it cannot answer, or one after which the proxy closes, refuses the tunnel.
    std::function<std::string(const std::vector<std::string>& challenges)> WebTunnelAuthenticator;

private:
    void CheckState(std::initializer_list<uint8_t> allowed) const;
    [[noreturn]] void RaiseState() const;
    void EnsureHandle();
    void SetNonBlocking();
    // 0, or the code of the failing call.
    int RecordBoundAddress();
    int ConnectThroughSocks(int timeout);
    int ConnectThroughTunnel(int timeout);
    // What every direct connect does first: bound to ListenAddress when one is named, a handle
    // in a state to connect from, the port checked. 0, or the error.
    int PrepareConnect(int32_t port);
    // Starts a non-blocking connect to host:port: 0 with the state connected or connecting, or
    // the error with the state created.
    int StartConnect(const std::string& host, int32_t port);
    // A direct connect to host:port: Address and Port, or a proxy's.
    int ConnectDirectTo(const std::string& host, int32_t port, int timeout);
    int Socks5(int timeout, uint32_t start);
    int Socks4(int timeout, uint32_t start);
    // Sends the request once the socket is writable; false on a failure or the time-out.
    bool ProxySend(const std::string& request, int timeout, uint32_t start);
    // Adds one read's bytes to reply (at most up to limit); false on a failure, a closed proxy
    // or the time-out.
    bool ProxyReceive(std::string& reply, int timeout, uint32_t start, size_t limit = kProxyReplyLimit);
    // Reads and drops the rest of a 407's body: length bytes, of which body already arrived.
    // False on a failure, the time-out, or bytes past the body.
    bool SkipProxyBody(int64_t length, const std::string& body, int timeout, uint32_t start);
    int ConsumeReadAhead(void* buffer, int size);

    int handle_ = -1;
    bool datagram_ = false;
    std::atomic<uint8_t> state_{stNone};
    std::atomic<bool> abortCreation_{false};
    std::string address_;
    int32_t port_ = 0;
    std::string boundAddress_;
    int32_t boundPort_ = 0;
    std::vector<uint8_t> readAhead_;
    int32_t readPos_ = 0;
    int32_t readLen_ = 0;
    int32_t proxyResult_ = 0;
    std::string proxyStatusLine_;
};

// Proxy replies, read as they arrive (also the fuzz targets' entry points).
//
// SOCKS 5 (RFC 1928 section 6): the length of the whole reply in bytes (by its address type),
// 0 while more bytes are needed, -1 when it cannot be a reply (a version other than 5, an
// unknown address type). rep is the reply field once the first two bytes are there.
int Socks5ReplyLength(std::string_view reply, int& rep);
// SOCKS 4: the reply is 8 bytes; the request was granted when its second byte is 90.
inline constexpr size_t kSocks4ReplySize = 8;
bool Socks4ReplyGranted(std::string_view reply);
// An HTTP proxy's reply to CONNECT: the length of its header block through the blank line,
// 0 while more bytes are needed, -1 when limit bytes hold no blank line.
int TunnelReplyLength(std::string_view reply, size_t limit = TElSocket::kProxyReplyLimit);
// The values (trimmed) of the fields named name (any case) in a CONNECT reply's header block,
// in their order; the status line is no field.
std::vector<std::string> TunnelReplyFieldValues(std::string_view header, std::string_view name);
// The status of a CONNECT reply (0 when the status is not a number); accepted when it reads as
// HTTP/1.0 or HTTP/1.1 with status 200 (RFC 9110 section 9.3.6: any 2xx opens the tunnel, but
// only 200 is what proxies send).
int TunnelReplyStatus(std::string_view reply, bool& accepted);
// A CONNECT reply's status line as an error message may quote it: its first line, without the
// line end, cut at kTunnelStatusLineLimit characters, each byte outside printable ASCII shown
// as '?' (the text is the proxy's, and it goes into messages and logs).
inline constexpr size_t kTunnelStatusLineLimit = 160;
std::string TunnelReplyStatusLine(std::string_view reply);

// The dotted IPv4 address of a host: a dotted text itself, else the first address the
// resolver gives. Raises EElSocketError "Invalid address" (0x17804) when there is none.
std::string ResolveSocketAddress(const std::string& host);
