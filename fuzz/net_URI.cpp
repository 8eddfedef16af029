// Fuzz target: URL parsing and building, and the form encoder. No part of a URL's authority
// holds '/', '?' or '#'; a built URL parses back to the same protocol, host and port; an encoded parameter
// decodes back to the input and holds none of the bytes a form reader would read as syntax.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "net/IdURI.h"

namespace {

bool Plain(const std::string& s, const char* forbidden) { return s.find_first_of(forbidden) == std::string::npos; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    TIdURI uri(text);
    // The authority ends at the first '/', '?' or '#': none of its parts holds one.
    if (!uri.Protocol.empty())
        for (const std::string* part : {&uri.Username, &uri.Password, &uri.Host, &uri.Port})
            if (!Plain(*part, "/?#")) std::abort();
    const char* special = ":/\\?#=@[]";
    if (!uri.Protocol.empty() && !uri.Host.empty() && Plain(uri.Protocol, special) && Plain(uri.Host, special) &&
        Plain(uri.Port, special) && uri.IPVersion == Id_IPv4) {
        const TIdURI again(uri.BuildURI(false, false));
        if (again.Protocol != uri.Protocol || again.Host != uri.Host) std::abort();
        const bool portDropped = uri.Port == "80" && again.Port.empty();
        if (again.Port != uri.Port && !portDropped) std::abort();
    }
    const std::string encoded = TIdURI::EncodeParamText(text);
    if (!Plain(encoded, " &=+#<>[]*")) std::abort();
    std::string decoded;
    for (size_t i = 0; i < encoded.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(encoded[i]);
        if (c < 33 || c > 126) std::abort();
        if (c == '%') {
            if (i + 2 >= encoded.size()) std::abort();
            decoded += char(std::stoi(encoded.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            decoded += char(c);
        }
    }
    if (decoded != text) std::abort();
    return 0;
}
