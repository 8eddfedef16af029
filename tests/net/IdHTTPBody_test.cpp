// Tests of the HTTP client's body reads with scripted receives: a body with a length, a chunked
// one and one that ends at the close, each cut at every size that matters to the reads (one
// byte, around the receive array, around the end of the head and of the body), arrives whole
// and alone: bytes past its end wait for the next read, and the read work reported is the
// body's length.
#include "net/IdHTTP.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "rtl/Stream.h"
#include "tests/net/ScriptedReceives.h"

namespace {

using kwtest::ScriptedReceives;

// A body of three receives of a body read (64 KiB each) and a part of a fourth.
std::string Body() {
    std::string s(200000, '\0');
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = char(i * 13 + i / 253);
    return s;
}

// The body in chunks whose sizes straddle the receive arrays, then the last chunk.
std::string Chunked(const std::string& body) {
    const size_t sizes[] = {1, 32767, 32768, 32769, 3, 65536};
    std::string out;
    size_t at = 0;
    for (size_t size : sizes) {
        char line[16];
        std::snprintf(line, sizeof line, "%zx\r\n", size);
        out += line + body.substr(at, size) + "\r\n";
        at += size;
    }
    char line[16];
    std::snprintf(line, sizeof line, "%zx\r\n", body.size() - at);
    return out + line + body.substr(at) + "\r\n0\r\n\r\n";
}

struct Response {
    const char* name;
    std::string head;
    std::string encoded;  // the body as sent
    std::string after;    // what follows the response (the next one's start)
};

struct Cut {
    std::string name;
    std::vector<size_t> cuts;  // empty: pieces of `every`
    size_t every = 0;
};

TEST(IdHTTPBody, EveryCutOfTheBodyArrivesWholeAndAlone) {
    const std::string body = Body();
    const std::string next = "HTTP/1.1 204 No Content\r\n\r\n";
    const Response responses[] = {
        {"length", "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n", body,
         next},
        {"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", Chunked(body), next},
        {"until the close", "HTTP/1.0 200 OK\r\n\r\n", body, ""},
    };
    for (const Response& r : responses) {
        const std::string input = r.head + r.encoded + r.after;
        const size_t bodyStart = r.head.size(), bodyEnd = r.head.size() + r.encoded.size();
        std::vector<Cut> cuts;
        for (size_t every : {size_t(1), size_t(7), size_t(16384), size_t(32767), size_t(32768), size_t(32769),
                             size_t(65535), size_t(65536), size_t(65537), input.size()})
            cuts.push_back({"pieces of " + std::to_string(every), {}, every});
        for (size_t at : {bodyStart - 1, bodyStart, bodyStart + 1, bodyEnd - 1, bodyEnd, bodyEnd + 1})
            if (at < input.size()) cuts.push_back({"one cut at " + std::to_string(at), {at}});
        cuts.push_back({"the head alone, then 64 KiB pieces", {bodyStart, 65536, 65536, 65536}});
        for (const Cut& cut : cuts) {
            SCOPED_TRACE(std::string(r.name) + ", " + cut.name);
            ScriptedReceives io;
            if (cut.cuts.empty())
                io.ScriptEvery(input, cut.every);
            else
                io.Script(input, cut.cuts);
            TIdHTTP http;
            http.SetIOHandler(&io);
            int64_t reported = -1;
            http.OnWork = [&](TIdComponent*, TWorkMode mode, int64_t done) {
                if (mode == wmRead) reported = done;
            };
            rtl::MemoryStream out;
            http.Get("http://127.0.0.1:" + std::to_string(io.ListenerPort()) + "/file", out);
            EXPECT_TRUE(out.Data() == body) << out.Data().size();
            if (std::string(r.name) != "chunked") {
                EXPECT_EQ(reported, int64_t(body.size()));
            }
            // Nothing past the response was taken: it is still buffered or not yet received.
            EXPECT_TRUE(io.ExtractAllInput() + io.Unreceived() == r.after);
        }
    }
}

}  // namespace
