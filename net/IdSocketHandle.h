// net/IdSocketHandle.h: the library's wrapper of one operating-system socket.
//
// A handle owns the socket descriptor, the local ("binding") and peer addresses, the client
// port range used when binding, and a one-socket list to wait for readability. Every TCP
// connection of the library goes through exactly one handle, owned by its socket IO handler;
// all socket work is delegated to the global stack.
//
// States: no socket (handle -1, no read list) -> AllocateSocket / SetHandle / AcceptFrom ->
// allocated (handle >= 0, read list holding it) -> CloseSocket -> no socket. IPVersion cannot
// change while a socket is allocated. Closing is atomic: when two threads close at once (the
// Telnet reader seeing the peer's close while the owner disconnects) the descriptor is closed
// exactly once.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "net/IdExceptionCore.h"
#include "net/IdGlobal.h"
#include "net/IdStack.h"

class TIdSocketHandle {
public:
    TIdSocketHandle();
    virtual ~TIdSocketHandle();
    TIdSocketHandle(const TIdSocketHandle&) = delete;
    TIdSocketHandle& operator=(const TIdSocketHandle&) = delete;

    int32_t ClientPortMin = 0;
    int32_t ClientPortMax = 0;
    std::string IP;
    int32_t Port = 0;
    std::string PeerIP;
    int32_t PeerPort = 0;

    TIdStackSocketHandle Handle() const { return handle_.load(); }
    bool HandleAllocated() const { return Handle() != Id_INVALID_SOCKET; }
    TIdIPVersion IPVersion() const { return ipVersion_; }
    // "Cannot change IPVersion when connected" while a socket is allocated (unless unchanged).
    void SetIPVersion(TIdIPVersion version);

    // Closes any socket, then asks the stack for a new one of this handle's IP version.
    void AllocateSocket(int socketType = Id_SOCK_STREAM, int protocol = 0);
    void SetHandle(TIdStackSocketHandle handle);
    virtual void CloseSocket();
    // Forgets the socket without closing it; with resetLocal also the local address and port.
    void Reset(bool resetLocal = true);
    void SetPeer(const std::string& address, int32_t port);
    void SetBinding(const std::string& address, int32_t port);
    // Binds to IP:Port, or to the highest free port of the client range (Port 0 and a range).
    void Bind();
    virtual void Connect();
    void Listen(int backlog = 5);
    // Accepts a connection of a listening handle into this one; false when none came.
    bool AcceptFrom(TIdSocketHandle& listening);
    void UpdateBindingLocal();
    void UpdateBindingPeer();
    int32_t SendBytes(const TBytes& bytes, int32_t offset = 0, int32_t size = -1);
    // Receives into the whole array; 0 means the peer closed.
    int32_t ReceiveBytes(TBytes& bytes);
    int32_t ReceiveFrom(TBytes& bytes, std::string& address, int32_t& port);
    // True when data (or a close) waits within the time-out (ms; -2 without limit), serving
    // the anti-freeze when it applies to the calling thread.
    bool Readable(int32_t milliseconds);
    // One wait of the read list, then the anti-freeze.
    bool Select(int32_t milliseconds);
    // Copies IP, Port, PeerIP, PeerPort and IPVersion.
    void Assign(const TIdSocketHandle& source);

private:
    bool TryBind();
    bool CheckIsReadable(int32_t milliseconds);

    std::atomic<TIdStackSocketHandle> handle_{Id_INVALID_SOCKET};
    std::unique_ptr<TIdSocketList> readList_;
    TIdIPVersion ipVersion_ = Id_IPv4;
};
