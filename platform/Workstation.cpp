// platform/Workstation.cpp: gethostname, getaddrinfo, getpwuid_r and getifaddrs.
#include "platform/Workstation.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace plat {

namespace {

std::string Dotted(const sockaddr* sa) {
    if (sa == nullptr || sa->sa_family != AF_INET) return "0.0.0.0";
    char buf[INET_ADDRSTRLEN] = {};
    const auto* in = reinterpret_cast<const sockaddr_in*>(sa);
    if (::inet_ntop(AF_INET, &in->sin_addr, buf, sizeof buf) == nullptr) return "0.0.0.0";
    return buf;
}

}  // namespace

std::string HostName() {
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0) return "";
    return buf;
}

std::string OfficialHostName() {
    const std::string host = HostName();
    if (host.empty()) return host;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* res = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0 || res == nullptr) return host;
    std::unique_ptr<addrinfo, void (*)(addrinfo*)> guard(res, ::freeaddrinfo);
    return (res->ai_canonname && *res->ai_canonname) ? std::string(res->ai_canonname) : host;
}

std::string WorkstationIPv4() {
    for (const auto& i : NetworkInterfaces())
        if (i.up && !i.loopback) return i.address;
    return "127.0.0.1";
}

std::string LoggedOnUser() {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    if (size <= 0) size = 16384;
    std::unique_ptr<char[]> buf(new char[size_t(size)]);
    passwd pw{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &pw, buf.get(), size_t(size), &found) == 0 && found && found->pw_name &&
        *found->pw_name)
        return found->pw_name;
    const char* user = std::getenv("USER");
    return user ? std::string(user) : std::string();
}

std::vector<NetworkInterface> NetworkInterfaces() {
    std::vector<NetworkInterface> out;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return out;
    std::unique_ptr<ifaddrs, void (*)(ifaddrs*)> guard(list, ::freeifaddrs);
    for (const ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
        if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET) continue;
        NetworkInterface i;
        i.name = a->ifa_name ? a->ifa_name : "";
        i.address = Dotted(a->ifa_addr);
        i.mask = Dotted(a->ifa_netmask);
        i.up = (a->ifa_flags & IFF_UP) != 0;
        i.broadcasts = (a->ifa_flags & IFF_BROADCAST) != 0;
        i.loopback = (a->ifa_flags & IFF_LOOPBACK) != 0;
        i.broadcast = i.broadcasts ? Dotted(a->ifa_broadaddr) : "0.0.0.0";
        out.push_back(std::move(i));
    }
    return out;
}

std::vector<std::string> ResolveIPv4Addresses(const std::string& host) {
    std::vector<std::string> out;
    if (host.empty()) return out;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0 || res == nullptr) return out;
    std::unique_ptr<addrinfo, void (*)(addrinfo*)> guard(res, ::freeaddrinfo);
    for (const addrinfo* a = res; a != nullptr; a = a->ai_next) {
        if (a->ai_family != AF_INET || a->ai_addr == nullptr) continue;
        std::string dotted = Dotted(a->ai_addr);
        if (std::find(out.begin(), out.end(), dotted) == out.end()) out.push_back(std::move(dotted));
    }
    return out;
}

std::vector<uint8_t> AddressLiteralBytes(std::string_view host) {
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    // A zero byte would end the text early for the resolver too; no address has one.
    if (host.empty() || host.find('\0') != std::string_view::npos) return {};
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* res = nullptr;
    if (::getaddrinfo(std::string(host).c_str(), nullptr, &hints, &res) != 0 || res == nullptr) return {};
    std::unique_ptr<addrinfo, void (*)(addrinfo*)> guard(res, ::freeaddrinfo);
    const auto bytes = [](const void* p, size_t n) {
        const auto* b = static_cast<const uint8_t*>(p);
        return std::vector<uint8_t>(b, b + n);
    };
    if (res->ai_family == AF_INET && res->ai_addr != nullptr)
        return bytes(&reinterpret_cast<const sockaddr_in*>(res->ai_addr)->sin_addr, 4);
    if (res->ai_family == AF_INET6 && res->ai_addr != nullptr)
        return bytes(&reinterpret_cast<const sockaddr_in6*>(res->ai_addr)->sin6_addr, 16);
    return {};
}

std::string AddressLiteralText(std::string_view host) {
    const std::vector<uint8_t> bytes = AddressLiteralBytes(host);
    if (bytes.empty()) return {};
    char text[INET6_ADDRSTRLEN] = {};
    const int family = bytes.size() == 4 ? AF_INET : AF_INET6;
    return ::inet_ntop(family, bytes.data(), text, sizeof text) != nullptr ? std::string(text)
                                                                           : std::string();
}

}  // namespace plat
