// Fuzz target: the HTTP client reading a response (status line, headers, a body by length,
// chunked or until the close) fed in pieces by a transport without a network, for a GET or a
// HEAD. A GET that returns without an exception has stored a whole body: as many bytes as a
// Content-Length announced, when the body was not chunked; a HEAD stores none.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/NetMemoryTransport.h"
#include "net/IdHTTP.h"
#include "rtl/Stream.h"


extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const size_t piece = size_t(data[0] % 32) + 1;
    NetMemoryTransport io(std::string(reinterpret_cast<const char*>(data) + 1, size - 1), piece);
    TIdHTTP http;
    http.SetIOHandler(&io);
    http.HeaderLineLimit = 64;
    io.MaxLineLength = 4096;
    rtl::MemoryStream body;
    const bool head = (data[0] & 0x80) != 0;
    try {
        http.PerformRequest(head ? hmHead : hmGet, "http://fuzz.example/x", nullptr, &body, {});
    } catch (const EIdException&) {
        return 0;
    } catch (const rtl::Exception&) {
        return 0;
    }
    if (head && body.Size() != 0) std::abort();  // a response to HEAD has no body
    const TIdHTTPResponse& r = http.Response();
    const bool chunked = r.RawHeaders.GetValueByName("Transfer-Encoding").find("hunked") != std::string::npos;
    if (!head && !chunked && r.ContentLength > 0 && body.Size() != r.ContentLength &&
        http.ResponseCode() / 100 == 2 && http.ResponseCode() != 204)
        std::abort();
    return 0;
}
