// Fuzz target: the HTTP client reading a response (status line, headers, a body by length,
// chunked or until the close) fed in pieces by a transport without a network. A Get that
// returns without an exception has stored a whole body: as many bytes as a Content-Length
// announced, when the body was not chunked.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "net/IdHTTP.h"
#include "rtl/Stream.h"

namespace {

// Hands the input out in pieces, then reports the peer's close; swallows what is sent.
class MemoryTransport : public TIdIOHandler {
public:
    MemoryTransport(std::string input, size_t piece) : input_(std::move(input)), piece_(piece) {}

    void Open() override {
        TIdIOHandler::Open();
        at_ = 0;
    }
    int32_t ReadFromSource(bool raise, int32_t, bool) override {
        if (!InputQueue) return 0;
        const size_t n = std::min(piece_, input_.size() - at_);
        if (n == 0) {
            PeerClosed = true;
            CheckForDisconnect(raise, false);
            return 0;
        }
        InputQueue->AppendBytes(TextToBytes(std::string_view(input_).substr(at_, n)));
        at_ += n;
        return int32_t(n);
    }
    void CheckForDisconnect(bool raise, bool ignoreBuffer) override {
        if (PeerClosed && raise && (ignoreBuffer || InputBufferIsEmpty())) RaiseConnClosedGracefully();
    }
    void CheckForDataOnSource(int32_t) override {}
    void PassToIntercept(TBytes&) override {}

private:
    std::string input_;
    size_t piece_;
    size_t at_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const size_t piece = size_t(data[0] % 32) + 1;
    MemoryTransport io(std::string(reinterpret_cast<const char*>(data) + 1, size - 1), piece);
    TIdHTTP http;
    http.SetIOHandler(&io);
    http.HeaderLineLimit = 64;
    io.MaxLineLength = 4096;
    rtl::MemoryStream body;
    try {
        http.Get("http://fuzz.example/x", body);
    } catch (const EIdException&) {
        return 0;
    } catch (const rtl::Exception&) {
        return 0;
    }
    const TIdHTTPResponse& r = http.Response();
    const bool chunked = r.RawHeaders.GetValueByName("Transfer-Encoding").find("hunked") != std::string::npos;
    if (!chunked && r.ContentLength > 0 && body.Size() != r.ContentLength && http.ResponseCode() / 100 == 2 &&
        http.ResponseCode() != 204)
        std::abort();
    return 0;
}
