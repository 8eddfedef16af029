// Fuzz target: Telnet negotiation over arbitrary bytes, in pieces of any size (a server may
// send anything). The state machine never fails or reads out of bounds, ends every piece in a
// state of its own, and delivers at most the bytes it was given.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "net/IdTelnet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static TIdTelnet* telnet = new TIdTelnet;  // not connected: answers go nowhere
    size_t delivered = 0;
    telnet->OnDataAvailable = [&](TIdTelnet*, const std::string& d) { delivered += d.size(); };
    telnet->OnTelnetCommand = [](TIdTelnet*, TIdTelnetCommand c) {
        if (c != tncNoLocalEcho && c != tncLocalEcho && c != tncEcho) std::abort();
    };
    const size_t piece = size_t(data[0] % 8) + 1;
    const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
    for (size_t at = 0; at < input.size(); at += piece) {
        telnet->Negotiate(std::string_view(input).substr(at, piece));
        if (telnet->State() > 9) std::abort();
    }
    if (delivered > input.size()) std::abort();
    telnet->Negotiate(std::string("\xFF\xF0", 2));  // leave the machine in a known state
    telnet->Negotiate(std::string("\xFF\xF0", 2));
    return 0;
}
