// net/IdStack.cpp: the stack's shared operations, the global stack, error texts and the
// result checks.
#include "net/IdStack.h"

#include <atomic>
#include <bit>

#include "net/IdStackLinux.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

namespace {

std::unique_ptr<TIdStack> gStackOwner;  // guarded by the component lock (IdComponent)
std::atomic<TIdStack*> gStack{nullptr};
std::atomic<TIdStackBSDBase*> gBSDStack{nullptr};
std::atomic<TIdStack::TIdStackClass> gStackClass{&TIdStackLinux::MakeStack};

struct ErrorText {
    int32_t code;
    const char* text;
};

constexpr ErrorText kErrorTexts[] = {
    {10004, "Interrupted system call."},
    {10009, "Bad file number."},
    {10013, "Access denied."},
    {10014, "Buffer fault."},
    {10022, "Invalid argument."},
    {10024, "Too many open files."},
    {10035, "Operation would block."},
    {10036, "Operation now in progress."},
    {10037, "Operation already in progress."},
    {10038, "Socket operation on non-socket."},
    {10039, "Destination address required."},
    {10040, "Message too long."},
    {10041, "Protocol wrong type for socket."},
    {10042, "Bad protocol option."},
    {10043, "Protocol not supported."},
    {10044, "Socket type not supported."},
    {10045, "Operation not supported on socket."},
    {10046, "Protocol family not supported."},
    {10047, "Address family not supported by protocol family."},
    {10048, "Address already in use."},
    {10049, "Cannot assign requested address."},
    {10050, "Network is down."},
    {10051, "Network is unreachable."},
    {10052, "Net dropped connection or reset."},
    {10053, "Software caused connection abort."},
    {10054, "Connection reset by peer."},
    {10055, "No buffer space available."},
    {10056, "Socket is already connected."},
    {10057, "Socket is not connected."},
    {10058, "Cannot send or receive after socket is closed."},
    {10059, "Too many references, cannot splice."},
    {10060, "Connection timed out."},
    {10061, "Connection refused."},
    {10062, "Too many levels of symbolic links."},
    {10063, "File name too long."},
    {10064, "Host is down."},
    {10065, "No route to host."},
    {10066, "Directory not empty"},
};

std::string TableText(int32_t code) {
    for (const ErrorText& e : kErrorTexts)
        if (e.code == code) return e.text;
    return {};
}

}  // namespace

std::string SocketErrorText(int32_t code) {
    // The host-not-found text is the stack's own; every other code comes from the table.
    const std::string text = code == Id_WSAHOST_NOT_FOUND ? std::string("Host not found.") : TableText(code);
    return rtl::Format("Socket Error # %d\r\n%s", code, text);
}

void CheckPortNumber(int32_t port, int32_t lowest) {
    if (port < lowest || port > 65535)
        throw EIdSocketError(Id_WSAEADDRNOTAVAIL,
                             SocketErrorText(Id_WSAEADDRNOTAVAIL) +
                                 rtl::Format(" The port %d is outside %d-65535.", port, lowest));
}

std::string TIdStack::SocketErrorText(int32_t code) { return ::SocketErrorText(code); }

rtl::StringList& TIdStack::LocalAddressList() {
    if (!localAddresses_) localAddresses_ = std::make_unique<rtl::StringList>();
    localAddresses_->Clear();
    FillLocalAddresses(*localAddresses_);
    return *localAddresses_;
}

std::string TIdStack::FirstLocalAddress() {
    rtl::StringList& list = LocalAddressList();
    return list.Count() > 0 ? list[0] : std::string();
}

uint16_t TIdStack::HostToNet16(uint16_t v) {
    if constexpr (std::endian::native == std::endian::little) return uint16_t((v >> 8) | (v << 8));
    return v;
}

uint32_t TIdStack::HostToNet32(uint32_t v) {
    if constexpr (std::endian::native == std::endian::little) return __builtin_bswap32(v);
    return v;
}

uint64_t TIdStack::HostToNet64(uint64_t v) {
    if constexpr (std::endian::native == std::endian::little) return __builtin_bswap64(v);
    return v;
}

std::string TIdStack::ResolveHostText(const std::string& host, TIdIPVersion ipVersion) {
    switch (ipVersion) {
        case Id_IPv4:
            if (rtl::SameText(host, "LOCALHOST")) return "127.0.0.1";
            if (IsIPv4Text(host)) return host;
            return LookUpHostAddress(host, Id_IPv4);
        case Id_IPv6: {
            std::string text = NormalizeIPv6Text(host);
            return text.empty() ? LookUpHostAddress(host, Id_IPv6) : text;
        }
    }
    return {};
}

bool TIdStack::IsIPv4Text(std::string_view text) {
    std::string rest(text);
    for (int i = 0; i < 4; ++i) {
        const std::string part = CutAtDelimiter(rest, ".", true, true);
        // Plain decimal digits only: no sign, no blanks, no hexadecimal.
        if (part.empty() || part.size() > 3) return false;
        int v = 0;
        for (char c : part) {
            if (c < '0' || c > '9') return false;
            v = v * 10 + (c - '0');
        }
        if (v > 255) return false;
    }
    return rest.empty();
}

void TIdStack::CreateStackInstance() {
    const TIdStackClass stackClass = gStackClass.load();
    if (stackClass == nullptr) EIdException::RaiseIdException("Stack Class is undefined.");
    if (gStack.load() != nullptr) EIdException::RaiseIdException("Stack already created.");
    std::unique_ptr<TIdStack> stack = stackClass();
    stack->hostName_ = stack->QueryHostName();
    gStackOwner = std::move(stack);
    gStack = gStackOwner.get();
}

void TIdStack::FreeStackInstance() {
    gStack = nullptr;
    gStackOwner.reset();
}

void TIdStack::SetStackClass(TIdStackClass stackClass) { gStackClass = stackClass; }

TIdStack* GStack() { return gStack.load(); }

TIdStackBSDBase* GBSDStack() { return gBSDStack.load(); }

TIdStackBSDBase::TIdStackBSDBase() { gBSDStack = this; }

TIdStackBSDBase::~TIdStackBSDBase() {
    TIdStackBSDBase* self = this;
    gBSDStack.compare_exchange_strong(self, nullptr);
}

int32_t TIdStackBSDBase::CheckSocketCall(int32_t result) {
    if (result == Id_SOCKET_ERROR) RaiseLastSocketFailure();
    return result;
}

int32_t TIdStackBSDBase::CheckSocketResult(int32_t result, std::initializer_list<int32_t> tolerated) {
    if (result != Id_SOCKET_ERROR) return 0;
    const int32_t code = LastSocketError();
    for (int32_t t : tolerated)
        if (t == code) return code;
    RaiseSocketError(code);
}

void TIdStackBSDBase::RaiseSocketError(int32_t code) {
    if (code == Id_WSAENOTSOCK) throw EIdNotASocket(code, SocketErrorText(code));
    throw EIdSocketError(code, SocketErrorText(code));
}

std::unique_ptr<TIdSocketList> TIdSocketList::CreateSocketList() { return std::make_unique<TIdSocketListLinux>(); }

bool TIdSocketList::SelectLists(TIdSocketList* readList, TIdSocketList* writeList, TIdSocketList* errorList,
                                int32_t timeout) {
    TIdSocketList* any = readList ? readList : writeList ? writeList : errorList;
    return any != nullptr && any->DoSelectLists(readList, writeList, errorList, timeout);
}
