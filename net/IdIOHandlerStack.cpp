// net/IdIOHandlerStack.cpp: resolve, connect with a time-out, read into the input buffer, send.
#include "net/IdIOHandlerStack.h"

#include "net/IdAntiFreezeBase.h"
#include "net/IdStackLinux.h"

namespace {

// The wait steps of a connect with a time-out.
constexpr int32_t kConnectStep = 125;
// A connect without a time-out made by a thread the anti-freeze serves.
constexpr int32_t kAntiFreezeConnectTimeout = 120000;

std::unique_ptr<TIdIOHandler> MakeStackHandler(rtl::Component* owner) {
    return std::make_unique<TIdIOHandlerStack>(owner);
}

const bool kRegistered = [] {
    TIdIOHandler::RegisterDefaultIOHandlerClass(&TIdIOHandlerStack::ClassInfo);
    return true;
}();

TIdStackLinux& LinuxStack() {
    auto* stack = dynamic_cast<TIdStackLinux*>(GStack());
    if (stack == nullptr) EIdException::RaiseIdException<EIdStackError>("The socket stack is not available.");
    return *stack;
}

}  // namespace

const TIdIOHandlerClassInfo TIdIOHandlerStack::ClassInfo{"TIdIOHandlerStack", &MakeStackHandler};

void TIdIOHandlerStack::ConnectClient() {
    (void)kRegistered;
    std::string host = Host();
    int32_t port = Port();
    if (ProxyEnabled()) {
        host = CurrentProxy()->Host;
        port = CurrentProxy()->Port;
        CheckPortNumber(Port(), 1);  // the destination the proxy is asked for
    }
    CheckPortNumber(port, 1);
    TIdIOHandlerSocket::ConnectClient();
    std::string address = host;
    if (!TIdStack::IsIPv4Text(host)) {
        if (OnStatus) DoStatus(hsResolving, host);
        address = GStack()->ResolveHostText(host, IPVersion);
    }
    Binding->SetPeer(address, port);
    if (OnStatus) DoStatus(hsConnecting, address);

    if (ConnectTimeout != 0)
        DoConnectTimeout(ConnectTimeout);
    else if (TIdAntiFreezeBase::AppliesToCallingThread())
        DoConnectTimeout(kAntiFreezeConnectTimeout);
    else
        Binding->Connect();

    if (ProxyEnabled()) CurrentProxy()->ConnectThrough(*this, Host(), Port());
}

void TIdIOHandlerStack::DoConnectTimeout(int32_t timeout) {
    const bool unlimited = timeout < 0;  // -1 (the default) and -2 wait without limit
    int32_t step = kConnectStep;
    if (TIdAntiFreezeBase::AppliesToCallingThread())
        step = std::min(step, std::max(TIdAntiFreezeBase::Current()->IdleTimeOut, 1));

    TIdStackLinux& stack = LinuxStack();
    const TIdStackSocketHandle fd = Binding->Handle();
    stack.SetSocketBlocking(fd, false);
    bool connected = stack.StartConnect(fd, Binding->PeerIP, uint16_t(Binding->PeerPort), Binding->IPVersion());
    int32_t remaining = timeout;
    while (!connected) {
        const int32_t wait = unlimited ? step : std::min(step, remaining);
        if (wait <= 0) break;
        if (stack.WaitWritable(fd, wait)) {
            stack.FinishConnect(fd);  // raises the connect's own failure (10061, ...)
            connected = true;
            break;
        }
        if (!unlimited) remaining -= wait;
        TIdAntiFreezeBase::ProcessIfActive(true);
    }
    if (!connected) {
        // Nothing waits on the socket any more: it can be closed safely.
        Close();
        EIdException::RaiseIdException<EIdConnectTimeout>(RSId::ConnectTimeout);
    }
    stack.SetSocketBlocking(fd, true);
    Binding->UpdateBindingLocal();
    Binding->UpdateBindingPeer();
}

bool TIdIOHandlerStack::Readable(int32_t milliseconds) {
    return Binding ? Binding->Readable(milliseconds) : false;
}

bool TIdIOHandlerStack::IsConnected() {
    ReadFromSource(false, 0, false);
    return TIdIOHandlerSocket::IsConnected();
}

void TIdIOHandlerStack::CheckForDataOnSource(int32_t timeout) {
    if (IsConnected()) ReadFromSource(false, timeout, false);
}

int32_t TIdIOHandlerStack::ReadFromSource(bool raiseIfDisconnected, int32_t timeout, bool raiseOnTimeout) {
    return Receive(raiseIfDisconnected, timeout, raiseOnTimeout, false);
}

int32_t TIdIOHandlerStack::ReceiveSomeTo(rtl::Stream& stream, int32_t limit) {
    // An intercept sees (and may rewrite) every receive: its bytes take the input buffer.
    if (Intercept() != nullptr) return TIdIOHandler::ReceiveSomeTo(stream, limit);
    const int32_t count = Receive(true, -1, true, true);
    if (count <= 0) return 0;
    const int32_t n = std::min(count, limit);
    // What came past the limit (the next response, a chunk's end) waits in the input buffer.
    if (count > n)
        InputQueue->AppendBytes(std::span<const uint8_t>(ownReceive_.data() + n, size_t(count - n)));
    stream.WriteBuffer(ownReceive_.data(), size_t(n));
    ReportInputConsumed(n);
    return n;
}

void TIdIOHandlerStack::Close() {
    TBytes().swap(ownReceive_);
    TIdIOHandlerSocket::Close();
}

int32_t TIdIOHandlerStack::Receive(bool raiseIfDisconnected, int32_t timeout, bool raiseOnTimeout,
                                   bool keep) {
    if (timeout == -1) timeout = ReadTimeout == 0 ? -2 : ReadTimeout;
    CheckForDisconnect(raiseIfDisconnected, false);
    if (!Binding || !Binding->HandleAllocated()) {
        if (!raiseIfDisconnected) return 0;
        EIdException::RaiseIdException(RSId::NotConnectedHandler);
    }
    // A receive that gives the caller nothing yet (a transport's record without data) waits
    // again, as does a close while the handle stays allocated.
    for (;;) {
        int32_t count = 0;
        if (!HasBufferedInput() && !Readable(timeout)) {
            if (raiseOnTimeout) EIdException::RaiseIdException<EIdReadTimeout>(RSId::ReadTimeout);
            return -1;
        }
        if (ReceiveScratch) {
            if (!Binding->HandleAllocated()) EIdException::RaiseIdException<EIdClosedSocket>(RSId::ClosedSocket);
            const size_t size = static_cast<size_t>(std::max(RecvBufferSize, 1));
            TBytes fresh;
            TBytes& bytes = keep ? ownReceive_ : fresh;
            // The handler's own array is zeroed only where it grows.
            bytes.resize(size);
            try {
                count = ReceiveFromTransport(bytes, timeout);
            } catch (const EIdException&) {
                // A reset (or a transport's failure) is the end of the connection: a caller
                // that asked not to hear of a disconnection sees a close.
                if (raiseIfDisconnected) throw;
                count = 0;
            }
            if (count == kReceiveTimedOut) {
                if (raiseOnTimeout) EIdException::RaiseIdException<EIdReadTimeout>(RSId::ReadTimeout);
                return -1;
            }
            if (count < 0) continue;  // nothing for the caller yet: wait again
            // Kept bytes stay in ownReceive_ for the caller.
            if (count > 0 && !keep) {
                bytes.resize(size_t(count));
                if (Intercept() != nullptr) {
                    Intercept()->InterceptReceive(bytes);
                    count = int32_t(bytes.size());
                }
                InputQueue->AppendBytes(std::move(bytes));
            }
        } else if (raiseIfDisconnected) {
            EIdException::RaiseIdException(RSId::NotConnectedHandler);
        }
        PeerClosed = count == 0;
        CheckForDisconnect(raiseIfDisconnected, false);
        if (count != 0 || !Binding->HandleAllocated()) return count;
    }
}

int32_t TIdIOHandlerStack::ReceiveFromTransport(TBytes& bytes, int32_t) {
    // The socket is readable: its receive does not wait.
    return Binding->ReceiveBytes(bytes);
}

void TIdIOHandlerStack::CheckForDisconnect(bool raise, bool ignoreBuffer) {
    bool disconnected;
    if (PeerClosed) {
        if (Binding && Binding->HandleAllocated()) {
            Close();
            DoStatusPlain(hsDisconnected);
        }
        disconnected = true;
    } else {
        disconnected = !Binding || !Binding->HandleAllocated();
    }
    if (disconnected && InputQueue && (InputQueue->Size() == 0 || ignoreBuffer) && raise)
        RaiseConnClosedGracefully();
}

void TIdIOHandlerStack::PassToIntercept(TBytes& bytes) {
    TIdIOHandlerSocket::PassToIntercept(bytes);
    if (!Binding || !Binding->HandleAllocated())
        EIdException::RaiseIdException<EIdNotConnected>(RSId::NotConnectedHandler);
    size_t at = 0;
    while (at < bytes.size()) {
        const int32_t sent = Binding->SendBytes(bytes, int32_t(at), -1);
        TIdAntiFreezeBase::ProcessIfActive(false);
        PeerClosed = sent == 0;
        CheckForDisconnect(true, false);
        WorkProgress(wmWrite, sent);
        at += size_t(sent);
    }
}
