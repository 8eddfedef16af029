// Fuzz target: the socket's proxy reply readers: a SOCKS 5 reply's length by its address
// type, a SOCKS 4 grant, and an HTTP tunnel reply's length, status, status line and fields.
// Lengths never exceed what they were given (a SOCKS 5 reply may ask for more, at most 4 + 1 +
// 255 + 2 bytes), a tunnel reply never runs past its ceiling, a field's value never holds a CR
// LF, and the status line quoted in messages is short and printable.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tls/SBSocket.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    int rep = -1;
    const int socks5 = Socks5ReplyLength(text, rep);
    if (socks5 < -1 || socks5 > 4 + 1 + 255 + 2) std::abort();
    if (socks5 > 0 && (rep < 0 || rep > 255)) std::abort();
    (void)Socks4ReplyGranted(text);
    const int tunnel = TunnelReplyLength(text);
    if (tunnel < -1 || tunnel > int(TElSocket::kProxyReplyLimit) || size_t(tunnel > 0 ? tunnel : 0) > size)
        std::abort();
    const int authTunnel = TunnelReplyLength(text, TElSocket::kProxyAuthReplyLimit);
    if (authTunnel < -1 || authTunnel > int(TElSocket::kProxyAuthReplyLimit)) std::abort();
    if (authTunnel > 0) {
        for (const char* name : {"Proxy-Authenticate", "Content-Length", "Connection"})
            for (const std::string& v : TunnelReplyFieldValues(text.substr(0, size_t(authTunnel)), name))
                if (v.find("\r\n") != std::string::npos) std::abort();
    }
    if (tunnel > 0) {
        bool accepted = false;
        const int status = TunnelReplyStatus(text.substr(0, size_t(tunnel)), accepted);
        if (status < 0 || status > 999 || (accepted && status / 100 != 2)) std::abort();
        const std::string line = TunnelReplyStatusLine(text.substr(0, size_t(tunnel)));
        if (line.size() > kTunnelStatusLineLimit) std::abort();
        for (char c : line)
            if (c < ' ' || c > '~') std::abort();
    }
    return 0;
}
