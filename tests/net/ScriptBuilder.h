// tests/net/ScriptBuilder.h: builds the JSON script of a scripted peer step by step.
#pragma once

#include <cstdio>
#include <initializer_list>
#include <string>
#include <string_view>

namespace kwtest {

// A byte string from byte values: B({IAC, DO, 24}).
inline std::string B(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes) s += char(b);
    return s;
}

class Script {
public:
    Script& Send(std::string_view bytes) { return Step("\"send\"," + Quote(bytes)); }
    Script& Sync() { return Step("\"sync\""); }
    Script& Recv(size_t n) { return Step("\"recv\"," + std::to_string(n)); }
    Script& RecvUntil(std::string_view text) { return Step("\"recv_until\"," + Quote(text)); }
    Script& RecvAll() { return Step("\"recv_all\""); }
    Script& Sleep(int ms) { return Step("\"sleep\"," + std::to_string(ms)); }
    Script& ShutWr() { return Step("\"shut_wr\""); }
    Script& Close() { return Step("\"close\""); }
    Script& Accept() { return Step("\"accept\""); }
    std::string Json() const { return "[" + steps_ + "]"; }

    // A JSON string whose characters U+0000..U+00FF are the bytes.
    static std::string Quote(std::string_view bytes) {
        std::string out = "\"";
        for (unsigned char c : bytes) {
            if (c == '"' || c == '\\') {
                out += '\\';
                out += char(c);
            } else if (c >= 0x20 && c < 0x7F) {
                out += char(c);
            } else {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            }
        }
        return out + "\"";
    }

private:
    Script& Step(const std::string& body) {
        if (!steps_.empty()) steps_ += ",";
        steps_ += "[" + body + "]";
        return *this;
    }
    std::string steps_;
};

}  // namespace kwtest
