// tls/SBHTTPAuth.cpp: HTTP authentication without a security support interface (see the
// header).
#include "tls/SBHTTPAuth.h"

#include "crypto/SBUtils.h"
#include "platform/Workstation.h"
#include "rtl/Text.h"

namespace {

// The computer name as the security interface would use it for a domain: the host's first
// label, upper case, at most 16 characters.
const std::string& ComputerName() {
    static const std::string name = [] {
        std::string host = plat::HostName();
        const size_t dot = host.find('.');
        if (dot != std::string::npos) host.resize(dot);
        if (host.size() > 16) host.resize(16);
        return rtl::UpperCase(host);
    }();
    return name;
}

}  // namespace

std::string BasicCredentials(const std::string& user, const std::string& password) {
    const std::string credentials = user + ":" + password;
    std::string encoded(credentials.size() * 4 / 3 + 4, '\0');
    size_t size = encoded.size();
    EncodeBase64(credentials.data(), credentials.size(), encoded.data(), false, size);
    encoded.resize(size);
    return "Basic " + encoded;
}

bool SecurityInterfaceAvailable() {
    return false;
}

void FilterAuthSchemes(rtl::StringList&) {
    // The installed packages cannot be listed without the interface: the list stays.
}

void InitAuthState(TSBAuthState& state) {
    state.User.clear();
    state.Domain.clear();
    state.Password.clear();
    state.FirstStep = true;
    state.CredentialsAcquired = false;
    state.ContextMade = false;
    state.Base64 = true;
}

void FreeAuthState(TSBAuthState& state) {
    state.CredentialsAcquired = false;
    state.ContextMade = false;
}

void SplitDomainUser(const std::string& name, std::string& user, std::string& domain) {
    size_t at = name.find('/');
    if (at == std::string::npos) at = name.find('\\');
    if (at != std::string::npos) {
        domain = name.substr(0, at);
        user = name.substr(at + 1);
    } else {
        user = name;
        domain = ComputerName();
    }
}
