// PingHTTPS with the GET of this build (the TLS library's HTTPS client) against real answers:
// the scripted HTTP peer for each status, lighttpd for a file, a folder it refuses to list and
// a missing file.
#include <gtest/gtest.h>

#include <string>

#include "support/LoopbackListeners.h"
#include "support/TestSupport.h"
#include "tests/net/HttpPeer.h"
#include "tests/net/HttpServers.h"
#include "transfer/ukwUpdConexaoKw4Ping.h"

namespace {

TEST(PingHTTPSPeer, TheStatusOfARealAnswer) {
    struct Caso {
        int status;
        bool alcancavel;
    };
    const Caso casos[] = {{200, true}, {403, true}, {500, true}, {404, false}, {302, false}};
    kwtest::HttpScript script;
    for (const Caso& c : casos)
        script.Answer("HTTP/1.1 " + std::to_string(c.status) + " X\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    kwtest::HttpPeer peer(script);
    KW_REQUIRE_HTTP_PEER(peer);
    for (const Caso& c : casos) EXPECT_EQ(TPing::PingHTTPS(peer.Url("/"), 30000), c.alcancavel) << c.status;
    EXPECT_TRUE(peer.Finished()) << peer.Errors();
    EXPECT_TRUE(peer.Request(0).starts_with("GET / HTTP/1.0\r\n")) << peer.Request(0);
}

TEST(PingHTTPSPeer, Lighttpd) {
    kwtest::HttpSite site;
    kwtest::Lighttpd servidor(site);
    KW_REQUIRE_PEER(servidor.Available(), servidor.Reason());
    EXPECT_TRUE(TPing::PingHTTPS(servidor.Url("/files/a.txt"), 30000));
    EXPECT_TRUE(TPing::PingHTTPS(servidor.Url("/"), 30000));  // 403: no index, no listing
    EXPECT_FALSE(TPing::PingHTTPS(servidor.Url("/nada"), 30000));
    // Nobody listens: no answer.
    const kwtest::RefusedPort recusa;
    EXPECT_FALSE(TPing::PingHTTPS("http://" + recusa.Address() + "/", 30000));
}

}  // namespace
