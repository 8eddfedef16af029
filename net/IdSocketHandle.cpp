// net/IdSocketHandle.cpp: binding in a port range, readability with the anti-freeze.
#include "net/IdSocketHandle.h"

#include "net/IdAntiFreezeBase.h"
#include "rtl/Format.h"

namespace {
TIdStackBSDBase& Stack() {
    TIdStackBSDBase* stack = GBSDStack();
    if (stack == nullptr) EIdException::RaiseIdException<EIdStackError>("The socket stack is not available.");
    return *stack;
}
}  // namespace

TIdSocketHandle::TIdSocketHandle() { Reset(true); }

TIdSocketHandle::~TIdSocketHandle() { TIdSocketHandle::CloseSocket(); }

void TIdSocketHandle::SetIPVersion(TIdIPVersion version) {
    if (version == ipVersion_) return;
    if (HandleAllocated())
        EIdException::RaiseIdException<EIdCannotSetIPVersionWhenConnected>(RSId::CannotSetIPVersionWhenConnected);
    ipVersion_ = version;
}

void TIdSocketHandle::AllocateSocket(int socketType, int protocol) {
    CloseSocket();
    SetHandle(Stack().CreateSocket(socketType, protocol, ipVersion_));
}

void TIdSocketHandle::SetHandle(TIdStackSocketHandle handle) {
    readList_.reset();
    handle_ = handle;
    if (handle != Id_INVALID_SOCKET) {
        readList_ = TIdSocketList::CreateSocketList();
        readList_->AddSocket(handle);
    }
}

void TIdSocketHandle::CloseSocket() {
    const TIdStackSocketHandle old = handle_.exchange(Id_INVALID_SOCKET);
    if (old == Id_INVALID_SOCKET) return;
    if (TIdStackBSDBase* stack = GBSDStack()) stack->CloseSocketHandle(old);
    SetHandle(Id_INVALID_SOCKET);
}

void TIdSocketHandle::Reset(bool resetLocal) {
    SetHandle(Id_INVALID_SOCKET);
    if (resetLocal) {
        IP.clear();
        Port = 0;
    }
    PeerIP.clear();
    PeerPort = 0;
    ipVersion_ = Id_IPv4;
}

void TIdSocketHandle::SetPeer(const std::string& address, int32_t port) {
    PeerIP = address;
    PeerPort = port;
}

void TIdSocketHandle::SetBinding(const std::string& address, int32_t port) {
    IP = address;
    Port = port;
}

bool TIdSocketHandle::TryBind() {
    try {
        Stack().BindSocket(Handle(), IP, uint16_t(Port), ipVersion_);
        UpdateBindingLocal();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void TIdSocketHandle::Bind() {
    if (Port != 0 || ClientPortMin == 0 || ClientPortMax == 0) {
        CheckPortNumber(Port, 0);
        if (!TryBind()) EIdException::RaiseIdException<EIdCouldNotBindSocket>(RSId::CouldNotBindSocket);
        return;
    }
    if (ClientPortMax < ClientPortMin || ClientPortMin < 1 || ClientPortMax > 65535)
        EIdException::RaiseIdException<EIdInvalidPortRange>(
            rtl::Format(RSId::InvalidPortRange, ClientPortMin, ClientPortMax));
    // From the top of the range down: the first free port wins.
    for (int32_t port = ClientPortMax; port >= ClientPortMin; --port) {
        Port = port;
        if (TryBind()) return;
    }
    EIdException::RaiseIdException<EIdCanNotBindPortInRange>(
        rtl::Format(RSId::CanNotBindPortInRange, ClientPortMin, ClientPortMax));
}

void TIdSocketHandle::Connect() {
    CheckPortNumber(PeerPort, 1);
    Stack().ConnectSocket(Handle(), PeerIP, uint16_t(PeerPort), ipVersion_);
    UpdateBindingLocal();
    UpdateBindingPeer();
}

void TIdSocketHandle::Listen(int backlog) { Stack().ListenSocket(Handle(), backlog); }

bool TIdSocketHandle::AcceptFrom(TIdSocketHandle& listening) {
    Reset(true);
    std::string address;
    uint16_t port = 0;
    const TIdStackSocketHandle accepted = Stack().AcceptConnection(listening.Handle(), address, port);
    if (accepted == Id_INVALID_SOCKET) return false;
    ipVersion_ = listening.ipVersion_;
    SetHandle(accepted);
    UpdateBindingLocal();
    UpdateBindingPeer();
    return true;
}

void TIdSocketHandle::UpdateBindingLocal() {
    std::string address;
    uint16_t port = 0;
    Stack().ReadLocalAddress(Handle(), address, port);
    IP = address;
    Port = port;
}

void TIdSocketHandle::UpdateBindingPeer() {
    std::string address;
    uint16_t port = 0;
    Stack().ReadPeerAddress(Handle(), address, port);
    PeerIP = address;
    PeerPort = port;
}

int32_t TIdSocketHandle::SendBytes(const TBytes& bytes, int32_t offset, int32_t size) {
    return Stack().SocketSend(Handle(), bytes, offset, size);
}

int32_t TIdSocketHandle::ReceiveBytes(TBytes& bytes) { return Stack().SocketReceive(Handle(), bytes); }

int32_t TIdSocketHandle::ReceiveFrom(TBytes& bytes, std::string& address, int32_t& port) {
    uint16_t p = 0;
    const int32_t n = Stack().SocketReceiveFrom(Handle(), bytes, address, p, ipVersion_);
    port = p;
    return n;
}

bool TIdSocketHandle::Select(int32_t milliseconds) {
    // A list of its own for this wait: another thread may close the handle (and drop the
    // handle's list) meanwhile; the wait then reports the closed descriptor.
    const TIdStackSocketHandle handle = Handle();
    bool readable = false;
    if (handle != Id_INVALID_SOCKET) {
        std::unique_ptr<TIdSocketList> list = TIdSocketList::CreateSocketList();
        list->AddSocket(handle);
        readable = list->WaitReadable(milliseconds);
    }
    TIdAntiFreezeBase::ProcessIfActive(!readable);
    return readable;
}

bool TIdSocketHandle::CheckIsReadable(int32_t milliseconds) {
    if (!HandleAllocated())
        EIdException::RaiseIdException<EIdConnClosedGracefully>(RSId::ConnectionClosedGracefully);
    return Select(milliseconds);
}

bool TIdSocketHandle::Readable(int32_t milliseconds) {
    if (TIdAntiFreezeBase::AppliesToCallingThread()) {
        const int32_t idle = TIdAntiFreezeBase::Current()->IdleTimeOut;
        if (milliseconds == -2) {
            while (!CheckIsReadable(idle)) {
            }
            return true;
        }
        if (milliseconds > idle) {
            if (CheckIsReadable(milliseconds - idle)) return true;
            milliseconds = idle;
        }
    }
    return CheckIsReadable(milliseconds);
}

void TIdSocketHandle::Assign(const TIdSocketHandle& source) {
    if (&source == this) return;
    IP = source.IP;
    Port = source.Port;
    PeerIP = source.PeerIP;
    PeerPort = source.PeerPort;
    SetIPVersion(source.ipVersion_);
}
