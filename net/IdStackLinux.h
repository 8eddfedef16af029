// net/IdStackLinux.h: the socket stack over POSIX sockets, and its socket list.
//
// This unit is the library's platform binding: the one place that calls the socket
// interface, getaddrinfo and poll. errno and resolver results become Windows Sockets codes
// through platform's table (plat::WinErrorFromErrno, GaiErrorToSocketError); sends never
// raise SIGPIPE (MSG_NOSIGNAL); descriptors are made close-on-exec; a call interrupted by a
// signal is repeated. Names under the top-level domain "invalid" are refused without a lookup
// (RFC 6761, section 6.4), so they fail the same way whatever the machine's resolver does.
#pragma once

#include <string>
#include <vector>

#include "net/IdStack.h"

struct sockaddr_storage;

class TIdStackLinux : public TIdStackBSDBase {
public:
    static std::unique_ptr<TIdStack> MakeStack();

    std::string LookUpHostAddress(const std::string& host, TIdIPVersion ipVersion) override;
    std::string LookUpHostName(const std::string& address, TIdIPVersion ipVersion) override;
    std::string QueryHostName() override;

    TIdStackSocketHandle CreateSocket(int socketType, int protocol, TIdIPVersion ipVersion,
                                      bool overlapped = false) override;
    TIdStackSocketHandle AcceptConnection(TIdStackSocketHandle socket, std::string& address,
                                          uint16_t& port) override;
    void BindSocket(TIdStackSocketHandle socket, const std::string& address, uint16_t port,
                    TIdIPVersion ipVersion) override;
    void ConnectSocket(TIdStackSocketHandle socket, const std::string& address, uint16_t port,
                       TIdIPVersion ipVersion) override;
    void DisconnectSocket(TIdStackSocketHandle socket) override;
    void ListenSocket(TIdStackSocketHandle socket, int backlog) override;
    void ReadPeerAddress(TIdStackSocketHandle socket, std::string& address, uint16_t& port) override;
    void ReadLocalAddress(TIdStackSocketHandle socket, std::string& address, uint16_t& port) override;
    int32_t ReadSocketOption(TIdStackSocketHandle socket, int level, int option) override;
    void WriteSocketOption(TIdStackSocketHandle socket, int level, int option, int32_t value) override;
    int32_t SocketReceive(TIdStackSocketHandle socket, TBytes& bytes) override;
    int32_t SocketSend(TIdStackSocketHandle socket, const TBytes& bytes, int32_t offset = 0,
                       int32_t count = -1) override;
    int32_t SocketReceiveFrom(TIdStackSocketHandle socket, TBytes& bytes, std::string& address, uint16_t& port,
                              TIdIPVersion ipVersion) override;
    int32_t SocketSendTo(TIdStackSocketHandle socket, const std::string& address, uint16_t port,
                         const TBytes& bytes, TIdIPVersion ipVersion) override;
    bool HasIPv6Protocol() override;
    void SetSocketBlocking(TIdStackSocketHandle socket, bool blocking) override;
    uint16_t ServiceNameToPort(const std::string& name) override;
    std::unique_ptr<rtl::StringList> PortToServiceNames(uint16_t port) override;

    int32_t RawReceive(TIdStackSocketHandle socket, void* buffer, int32_t length, int flags) override;
    int32_t RawSend(TIdStackSocketHandle socket, const void* buffer, int32_t length, int flags) override;
    int32_t RawReceiveFrom(TIdStackSocketHandle socket, void* buffer, int32_t length, int flags,
                           std::string& address, uint16_t& port, TIdIPVersion ipVersion) override;
    void RawSendTo(TIdStackSocketHandle socket, const void* buffer, int32_t length, int flags,
                   const std::string& address, uint16_t port, TIdIPVersion ipVersion) override;
    TIdStackSocketHandle RawCreateSocket(int family, int type, int protocol, bool overlapped) override;
    void RawSetSocketOption(TIdStackSocketHandle socket, int level, int option, const void* value,
                            int length) override;
    void RawGetSocketOption(TIdStackSocketHandle socket, int level, int option, void* value,
                            int& length) override;
    int ShutdownSocket(TIdStackSocketHandle socket, int how) override;
    void CloseSocketHandle(TIdStackSocketHandle socket) override;
    int32_t LastSocketError() override;
    bool IsWouldBlock(int32_t result) override;

    // Starts a connect on a non-blocking socket: true when it completed at once, false when
    // it is in progress (wait for writability, then FinishConnect); other failures raise.
    bool StartConnect(TIdStackSocketHandle socket, const std::string& address, uint16_t port,
                      TIdIPVersion ipVersion);
    // The outcome of a connect in progress once the socket is writable: raises its failure.
    void FinishConnect(TIdStackSocketHandle socket);
    // Waits up to timeout ms (-2: without limit) for the socket to be writable or failed.
    bool WaitWritable(TIdStackSocketHandle socket, int32_t timeout);

protected:
    void FillLocalAddresses(rtl::StringList& list) override;
};

// The address family of an IP version (AF_INET, AF_INET6).
int IdAddressFamily(TIdIPVersion ipVersion);

// An address record of the family's size from an address text and a port; an empty text is
// the "any" address. EIdSocketError 10022 for a text that is no address of that version.
void TextToAddress(const std::string& address, uint16_t port, TIdIPVersion ipVersion, sockaddr_storage& record,
                   unsigned& length);
// The text of an address record (IPv4 dotted; IPv6 the eight groups in upper-case
// hexadecimal without leading zeros, never shortened) and its host-order port.
std::string AddressToText(const sockaddr_storage& record, uint16_t& port);

class TIdSocketListLinux final : public TIdSocketList {
public:
    TIdStackSocketHandle ItemAt(int index) override;
    void AddSocket(TIdStackSocketHandle socket) override;
    std::unique_ptr<TIdSocketList> CloneList() override;
    int SocketCount() override;
    void RemoveSocket(TIdStackSocketHandle socket) override;
    void ClearSockets() override;
    bool HasSocket(TIdStackSocketHandle socket) override;
    bool WaitReadable(int32_t timeout) override;
    bool WaitReadableList(std::unique_ptr<TIdSocketList>& result, int32_t timeout) override;

protected:
    bool DoSelectLists(TIdSocketList* readList, TIdSocketList* writeList, TIdSocketList* errorList,
                       int32_t timeout) override;

private:
    std::vector<TIdStackSocketHandle> Snapshot();
    void Replace(std::vector<TIdStackSocketHandle> sockets);

    std::vector<TIdStackSocketHandle> sockets_;
};
