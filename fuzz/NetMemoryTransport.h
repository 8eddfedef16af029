// fuzz/NetMemoryTransport.h: an IO handler for the net fuzz targets that hands its input out in
// pieces of a fixed size, then reports the peer's close; what is sent is swallowed. Open starts
// the input again.
#pragma once

#include <algorithm>
#include <string>

#include "net/IdIOHandler.h"

class NetMemoryTransport : public TIdIOHandler {
public:
    NetMemoryTransport(std::string input, size_t piece) : input_(std::move(input)), piece_(piece) {}

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
