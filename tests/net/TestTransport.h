// tests/net/TestTransport.h: a small IO handler over a real loopback connection, for the tests
// of the transport-independent IO handler until the stack's own handler is used.
//
// It reads with one receive per ReadFromSource and records the size of each; in acknowledging
// mode it answers every receive with the count received (4 bytes, big-endian), which lets a
// scripted peer send its next piece only after the previous one was received on its own. It
// counts raw sends and the size of each.
#pragma once

#include <memory>
#include <vector>

#include "net/IdIOHandler.h"
#include "net/IdStack.h"
#include "rtl/Bytes.h"

namespace kwtest {

class TestTransport : public TIdIOHandler {
public:
    using TIdIOHandler::TIdIOHandler;
    ~TestTransport() override { Close(); }

    bool acknowledge = false;
    std::vector<int32_t> receives;
    std::vector<size_t> sends;

    void ConnectTo(int port, TIdIPVersion v = Id_IPv4) {
        fd_ = GStack()->CreateSocket(Id_SOCK_STREAM, 0, v);
        GStack()->ConnectSocket(fd_, v == Id_IPv4 ? "127.0.0.1" : "::1", uint16_t(port), v);
        Open();
    }

    void Close() override {
        if (fd_ >= 0) GBSDStack()->CloseSocketHandle(fd_);
        fd_ = -1;
        TIdIOHandler::Close();
    }

    int32_t ReadFromSource(bool raiseIfDisconnected, int32_t timeout, bool raiseOnTimeout) override {
        if (timeout == -1) timeout = ReadTimeout == 0 ? -2 : ReadTimeout;
        CheckForDisconnect(raiseIfDisconnected, false);
        if (fd_ < 0) {
            if (raiseIfDisconnected) EIdException::RaiseIdException<EIdNotConnected>(RSId::NotConnectedHandler);
            return 0;
        }
        std::unique_ptr<TIdSocketList> list = TIdSocketList::CreateSocketList();
        list->AddSocket(fd_);
        if (!list->WaitReadable(timeout)) {
            if (raiseOnTimeout) EIdException::RaiseIdException<EIdReadTimeout>(RSId::ReadTimeout);
            return -1;
        }
        TBytes bytes(static_cast<size_t>(RecvBufferSize));
        const int32_t n = GStack()->SocketReceive(fd_, bytes);
        bytes.resize(size_t(n));
        if (n > 0) {
            receives.push_back(n);
            if (acknowledge) {
                uint8_t ack[4];
                rtl::store_be32(ack, uint32_t(n));
                GBSDStack()->RawSend(fd_, ack, 4, 0);
            }
            if (Intercept() != nullptr) Intercept()->InterceptReceive(bytes);
            InputQueue->AppendBytes(std::move(bytes));
        }
        PeerClosed = n == 0;
        CheckForDisconnect(raiseIfDisconnected, false);
        return n;
    }

    void CheckForDisconnect(bool raise, bool ignoreBuffer) override {
        bool disconnected = fd_ < 0;
        if (PeerClosed) {
            if (fd_ >= 0) Close();
            disconnected = true;
        }
        if (disconnected && InputQueue && (InputQueue->Size() == 0 || ignoreBuffer) && raise)
            RaiseConnClosedGracefully();
    }

    void CheckForDataOnSource(int32_t timeout) override {
        if (IsConnected()) ReadFromSource(false, timeout, false);
    }

    void PassToIntercept(TBytes& bytes) override {
        TIdIOHandler::PassToIntercept(bytes);
        if (fd_ < 0) EIdException::RaiseIdException<EIdNotConnected>(RSId::NotConnectedHandler);
        sends.push_back(bytes.size());
        size_t at = 0;
        while (at < bytes.size()) at += size_t(GBSDStack()->RawSend(fd_, bytes.data() + at, int32_t(bytes.size() - at), 0));
    }

    // Closes the sending side, so a peer reading to the end sees it.
    void ShutdownSend() { GBSDStack()->ShutdownSocket(fd_, 1); }

private:
    TIdStackSocketHandle fd_ = -1;
};

}  // namespace kwtest
