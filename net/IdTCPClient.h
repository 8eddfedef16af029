// net/IdTCPClient.h: the client side of a TCP connection.
//
// Host, Port, IPVersion, the connect and read time-outs and the bind events are kept here and
// handed to the IO handler at Connect, which makes the library's default handler
// (TIdIOHandlerStack) when none is set. Connect either returns with an open connection or
// raises, leaving the handler closed (never half-open) so the client can connect again;
// Disconnect does nothing when already closed.
#pragma once

#include "net/IdIOHandlerSocket.h"
#include "net/IdTCPConnection.h"

class TIdTCPClientCustom : public TIdTCPConnection {
public:
    explicit TIdTCPClientCustom(rtl::Component* owner = nullptr) : TIdTCPConnection(owner) {}

    TIdNotifyEvent OnConnected;

    const std::string& Host() const { return host_; }
    virtual void SetHost(const std::string& value);
    int32_t Port() const { return port_; }
    virtual void SetPort(int32_t value);
    TIdIPVersion IPVersion() const { return ipVersion_; }
    virtual void SetIPVersion(TIdIPVersion value);
    // A time-out in ms that the next Connect uses (0: none); passed to the current handler.
    void SetConnectTimeout(int32_t value);
    int32_t GetConnectTimeout() const;
    void SetReadTimeout(int32_t value);
    int32_t GetReadTimeout() const;
    // host:port, set on the handler at Connect when not empty.
    std::string Destination;
    void SetOnBeforeBind(TIdSocketNotifyEvent value);
    void SetOnAfterBind(TIdSocketNotifyEvent value);

    void SetIOHandler(TIdIOHandler* value) override;

    virtual void Connect();
    // Connects, reads everything until the peer closes, disconnects.
    virtual std::string ConnectAndGetAll();

protected:
    virtual void DoOnConnected();
    virtual std::unique_ptr<TIdIOHandler> MakeImplicitClientHandler();

private:
    std::string host_;
    int32_t port_ = 0;
    TIdIPVersion ipVersion_ = Id_IPv4;
    int32_t connectTimeout_ = 0;
    int32_t readTimeout_ = 0;
    TIdSocketNotifyEvent onBeforeBind_;
    TIdSocketNotifyEvent onAfterBind_;
};

class TIdTCPClient : public TIdTCPClientCustom {
public:
    explicit TIdTCPClient(rtl::Component* owner = nullptr) : TIdTCPClientCustom(owner) {}
};
