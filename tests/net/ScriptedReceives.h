// tests/net/ScriptedReceives.h: a stack IO handler whose receives are scripted, so a test
// decides where every receive ends.
//
// The handler connects to a loopback listener that takes what it sends and never answers; its
// transport does not read the socket but hands out the scripted input in the given pieces: a
// receive gets the next piece, or as much of it as the receive asks for (the rest comes with
// the next receive), and after the last piece the peer's close. The pieces count as input the
// transport holds, so the socket is never waited on. Every receive's size (what it asked for)
// is recorded.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "net/IdIOHandlerStack.h"
#include "tests/net/NetTestSupport.h"

namespace kwtest {

class ScriptedReceives : public TIdIOHandlerStack {
public:
    ScriptedReceives() : listener_(holder_.stack(), Id_IPv4) {
        SetHost("127.0.0.1");
        SetPort(listener_.port);
    }
    ~ScriptedReceives() override { Close(); }

    // The input, cut after each of the given sizes (a size past the end is cut to the end);
    // what the cuts leave is one last piece.
    void Script(const std::string& input, const std::vector<size_t>& cuts = {}) {
        pieces_.clear();
        size_t at = 0;
        for (size_t cut : cuts) {
            const size_t n = std::min(cut, input.size() - at);
            if (n > 0) pieces_.push_back(input.substr(at, n));
            at += n;
        }
        if (at < input.size()) pieces_.push_back(input.substr(at));
        next_ = 0;
        offset_ = 0;
    }
    // The input cut into pieces of one size.
    void ScriptEvery(const std::string& input, size_t size) {
        std::vector<size_t> cuts(input.size() / size + 1, size);
        Script(input, cuts);
    }
    // What no receive has taken yet.
    std::string Unreceived() const {
        std::string rest;
        for (size_t i = next_; i < pieces_.size(); ++i)
            rest += i == next_ ? pieces_[i].substr(offset_) : pieces_[i];
        return rest;
    }

    // The listener's port (where an HTTP client's URL points).
    int ListenerPort() const { return listener_.port; }

    std::vector<size_t> asked;

protected:
    int32_t ReceiveFromTransport(TBytes& bytes, int32_t) override {
        asked.push_back(bytes.size());
        if (next_ >= pieces_.size()) return 0;
        const std::string& piece = pieces_[next_];
        const size_t n = std::min(piece.size() - offset_, bytes.size());
        std::memcpy(bytes.data(), piece.data() + offset_, n);
        offset_ += n;
        if (offset_ == piece.size()) {
            ++next_;
            offset_ = 0;
        }
        return int32_t(n);
    }
    bool HasBufferedInput() const override { return true; }

private:
    StackHolder holder_;
    Listener listener_;
    std::vector<std::string> pieces_;
    size_t next_ = 0;
    size_t offset_ = 0;
};

}  // namespace kwtest
