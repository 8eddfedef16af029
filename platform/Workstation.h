// platform/Workstation.h: who and where this workstation is.
//
// The launcher logs the workstation's address, name and user when it starts, names the
// workstation in its update history, and sends its address and interface list to the
// application server. Only IPv4 is reported, as the server expects.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace plat {

struct NetworkInterface {
    std::string name;       // "eth0"
    std::string address;    // dotted IPv4
    std::string mask;       // dotted IPv4
    std::string broadcast;  // dotted IPv4, "0.0.0.0" when the interface has none
    bool up = false;
    bool broadcasts = false;  // supports broadcasting
    bool loopback = false;
};

// The host name as the kernel knows it (gethostname); "" when it cannot be read.
std::string HostName();
// The host name's official (canonical) name as the resolver gives it; the plain host name when
// it cannot be resolved.
std::string OfficialHostName();
// The IPv4 address of the first interface that is up and not loopback, else "127.0.0.1".
std::string WorkstationIPv4();
// The user this program runs for: the name of the real user id, else $USER, else "".
std::string LoggedOnUser();
// Every IPv4 address of every interface, in the order the system lists them. Empty when the
// list cannot be read.
std::vector<NetworkInterface> NetworkInterfaces();
// The IPv4 addresses of a host name (or of a dotted address, which resolves to itself) in
// dotted form, in the order the resolver gives them, each once. Empty when the name cannot be
// resolved or is empty.
std::vector<std::string> ResolveIPv4Addresses(const std::string& host);
// The address a host name is written as, read the way the resolver reads it (a numeric host
// of getaddrinfo): IPv4 in every form inet_aton takes ("127.1", "0x7f.0.0.1", "2130706433",
// "0127.0.0.1", which is 87.0.0.1), IPv6 as inet_pton takes it, either also in brackets. Its 4
// or 16 bytes in network order; empty for a name that is no address. Whoever checks a name
// against a certificate must decide with this what is an address: the connection goes where
// the resolver says.
std::vector<uint8_t> AddressLiteralBytes(std::string_view host);
// The same address in its canonical text ("127.0.0.1", "::1"); "" for a name.
std::string AddressLiteralText(std::string_view host);

}  // namespace plat
