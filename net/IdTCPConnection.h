// net/IdTCPConnection.h: the base of every connection-oriented protocol component.
//
// It holds the IO handler, two replies for command/response protocols (the greeting and the
// last response, of the class GetReplyClass gives) and the disconnect sequence. The connection
// is the work relay of its handler, so its OnWork events see every byte the handler moves. A
// handler the connection made itself ("managed") is owned and freed by it; one set from
// outside is only watched (free notice).
#pragma once

#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "net/IdIOHandler.h"
#include "net/IdReplyRFC.h"

class TIdIOHandlerSocket;
class TIdTCPConnection;

using TIdNotifyEvent = std::function<void(TIdComponent* ASender)>;

class TIdTCPConnection : public TIdComponent {
public:
    explicit TIdTCPConnection(rtl::Component* owner = nullptr);
    ~TIdTCPConnection() override;

    TIdNotifyEvent OnDisconnected;

    TIdIOHandler* IOHandler() const { return ioHandler_; }
    TIdIOHandlerSocket* Socket() const { return socket_; }
    // Sets the handler (freeing a managed one it replaces); nullptr lets go of it.
    virtual void SetIOHandler(TIdIOHandler* value);
    // Takes ownership of a handler made for this connection.
    void SetManagedIOHandler(std::unique_ptr<TIdIOHandler> value);

    TIdReply& GreetingReply() { return *greetingReply_; }
    TIdReply& LastReply() { return *lastReply_; }

    virtual bool IsConnected();
    void Disconnect() { DisconnectNotify(true); }
    virtual void DisconnectNotify(bool notifyPeer);
    // "Not connected." without a handler.
    void CheckConnected();
    virtual void CheckForGracefulDisconnect(bool raise = true);

    // Sends a command line and reads the reply; a code outside allowed raises the reply's error.
    virtual int16_t SendCmd(const std::string& line, std::initializer_list<int16_t> allowed = {});
    virtual int16_t GetResponse(std::initializer_list<int16_t> allowed = {});
    virtual std::string GetResponseText(const std::string& allowed);
    virtual int16_t CheckResponse(int16_t code, std::initializer_list<int16_t> allowed);
    virtual std::string CheckResponseText(const std::string& text, const std::string& allowed);
    [[noreturn]] virtual void RaiseReplyError();
    // Raises E with the last reply's text.
    template <class E>
    [[noreturn]] void RaiseReplyErrorAs() {
        EIdException::RaiseIdException<E>(LastReply().Text().Text());
    }

protected:
    virtual std::unique_ptr<TIdReply> GetReplyClass() const { return std::make_unique<TIdReplyRFC>(); }
    virtual void GetInternalResponse();
    virtual void DisconnectNotifyPeer() {}
    virtual void DoOnDisconnected();
    void Notification(rtl::Component* component, TOperation operation) override;
    bool HoldsLinkTo(const rtl::Component* other) const override;
    bool Managed() const { return managed_ != nullptr; }

private:
    void PrepareReplies();

    std::unique_ptr<TIdReply> greetingReply_;
    std::unique_ptr<TIdReply> lastReply_;
    TIdIOHandler* ioHandler_ = nullptr;
    TIdIOHandlerSocket* socket_ = nullptr;
    std::unique_ptr<TIdIOHandler> managed_;
};
