// net/IdIOHandlerStack.h: the library's default IO handler, a TCP client transport.
//
// It resolves the host, connects (with a time-out when one is set), reads from the socket into
// the input buffer (or, for ReadSomeTo without an intercept, through an array of its own
// straight into the caller's stream) and writes byte arrays. A connect with a time-out runs in
// the caller's thread on a non-blocking socket, waiting with poll in steps (125 ms, or the
// anti-freeze's idle time-out when that is smaller and it applies to the caller): a finished
// connect is noticed at once, the anti-freeze is served every step, and on expiry the socket is
// closed only then, with nothing waiting on it, and EIdConnectTimeout is raised. A refused
// connect raises EIdSocketError with its code; a port outside 1-65535 (the proxy's or the
// destination's) raises EIdSocketError 10049 before a socket is made. The unit registers the
// class as the default IO handler.
#pragma once

#include "net/IdIOHandlerSocket.h"

class TIdIOHandlerStack : public TIdIOHandlerSocket {
public:
    explicit TIdIOHandlerStack(rtl::Component* owner = nullptr) : TIdIOHandlerSocket(owner) {}
    ~TIdIOHandlerStack() override { TIdIOHandlerStack::Close(); }

    static const TIdIOHandlerClassInfo ClassInfo;

    int32_t ReadFromSource(bool raiseIfDisconnected, int32_t timeout, bool raiseOnTimeout) override;
    void Close() override;
    bool IsConnected() override;
    void CheckForDisconnect(bool raise, bool ignoreBuffer) override;
    void CheckForDataOnSource(int32_t timeout) override;
    void PassToIntercept(TBytes& bytes) override;
    bool Readable(int32_t milliseconds) override;
    void ConnectClient() override;

protected:
    // What ReceiveFromTransport answers when its own wait ran out.
    static constexpr int32_t kReceiveTimedOut = -2;

    // One receive into bytes (not empty), called once the socket is readable (or
    // HasBufferedInput): the count, 0 for the peer's close, -1 when nothing for the caller
    // arrived (the read waits again), kReceiveTimedOut when the transport waited for more of
    // what it needs (the rest of a TLS record) longer than timeout ms (-2: no limit, 0: no
    // wait). The socket's receive here; a transport layered on the socket (TLS) reads through
    // itself.
    virtual int32_t ReceiveFromTransport(TBytes& bytes, int32_t timeout);
    // Input the transport holds already (the socket is not waited on then).
    virtual bool HasBufferedInput() const { return false; }
    // Without an intercept the bytes go from the handler's own receive array to the stream,
    // never through the input buffer.
    int32_t ReceiveSomeTo(rtl::Stream& stream, int32_t limit) override;

private:
    void DoConnectTimeout(int32_t timeout);
    // ReadFromSource; with keep, the bytes received stay in ownReceive_ instead of going to
    // the input buffer (and no intercept may be set).
    int32_t Receive(bool raiseIfDisconnected, int32_t timeout, bool raiseOnTimeout, bool keep);

    // The receive array of ReceiveSomeTo, kept from one receive to the next (a fresh array
    // for each would be allocated and zeroed each time); released at Close.
    TBytes ownReceive_;
};
