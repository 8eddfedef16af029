// NTLM authentication of TElHTTPSClient through GSSAPI and gss-ntlmssp: the binding finds the
// mechanism (and, in a process whose mechanism configuration lacks it, does not); a scripted
// server (tests/peers/ntlm_peer.py) reads our negotiate and authenticate messages and checks
// the NTLMv2 response with python3-ntlm-auth for a known user, password and domain; squid
// (with ntlm_peer.py as its authenticator, and Debian's basic_ncsa_auth where Basic is offered
// too) demands NTLM of a proxy's clients, for plain HTTP (407 on the request) and for an HTTPS
// tunnel (407 on the CONNECT), whose last refusal the error names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crypto/base/SBUtils.h"
#include "platform/Process.h"
#include "rtl/Stream.h"
#include "support/JsonLite.h"
#include "support/PythonScriptPeer.h"
#include "support/TestSupport.h"
#include "tests/net/HttpServers.h"
#include "tests/net/ScriptBuilder.h"
#include "tests/tls/ClientTestSupport.h"
#include "tests/tls/ProxyTestSupport.h"
#include "tls/SBHTTPAuth.h"
#include "tls/SBHTTPSClient.h"

using kwtest::Fetch;
using kwtest::HttpSite;
using kwtest::Json;
using kwtest::Lighttpd;
using kwtest::ThrownMessage;

namespace {

#define KW_REQUIRE_GSSAPI() \
    KW_REQUIRE_PEER(SecurityInterfaceAvailable(), "GSSAPI with gss-ntlmssp: " + SecurityInterface().Reason())

std::string Decoded(const std::string& base64) {
    std::string out(base64.size(), '\0');
    size_t size = out.size();
    EXPECT_EQ(DecodeBase64(base64.data(), base64.size(), out.data(), size), BASE64_DECODE_OK);
    out.resize(size);
    return out;
}

// The NTLM message type of a token: "NTLMSSP\0" and a little-endian type.
int MessageType(const std::string& message) {
    if (message.size() < 12 || message.compare(0, 8, std::string("NTLMSSP\0", 8)) != 0) return -1;
    return uint8_t(message[8]) | uint8_t(message[9]) << 8;
}

// What a CONNECT that squid keeps refusing ends with.
constexpr const char* kRefused407 =
    "Connection error (-1): the proxy refused the tunnel (HTTP/1.1 407 Proxy Authentication Required)";

std::string ThisComputer() {
    std::string user, domain;
    SplitDomainUser("x", user, domain);
    return domain;
}

// ---------------------------------------------------------------------------------------------
// The binding

TEST(HTTPAuthGssapi, TheBindingFindsTheMechanismAndMakesANegotiateToken) {
    KW_REQUIRE_GSSAPI();
    EXPECT_EQ(SecurityInterface().Reason(), "");
    EXPECT_EQ(SecurityInterface().Packages(), std::vector<std::string>{"NTLM"});
    TSBAuthState state;
    bool more = false;
    std::string token;
    ASSERT_TRUE(MakeAuthToken(state, "", "KWDOM\\kw", "kw-secret", "NTLM", more, token));
    EXPECT_EQ(MessageType(Decoded(token)), 1);
    EXPECT_TRUE(more);
    EXPECT_FALSE(state.FirstStep);
    EXPECT_TRUE(state.CredentialsAcquired && state.ContextMade);
    EXPECT_EQ(state.User, "kw");
    EXPECT_EQ(state.Domain, "KWDOM");
    FreeAuthState(state);
    EXPECT_FALSE(state.CredentialsAcquired || state.ContextMade);
    EXPECT_EQ(state.Credentials, nullptr);
    EXPECT_EQ(state.Context, nullptr);

    // Steps that make nothing.
    struct Case {
        const char* name;
        std::string package, challenge;
        bool started;  // a negotiate token was made before
    };
    const Case cases[] = {
        {"a package the interface does not have", "Negotiate", "", false},
        {"a later step without the challenge", "NTLM", "", true},
        {"a later step with a challenge that is no NTLM message", "NTLM", "AAAAAAAAAAAAAAAA", true},
        {"a challenge past the token ceiling", "NTLM", std::string(kAuthTokenLimit / 3 * 4 + 8, 'A'), true},
    };
    for (const Case& c : cases) {
        TSBAuthState s;
        if (c.started) {
            ASSERT_TRUE(MakeAuthToken(s, "", "KWDOM\\kw", "kw-secret", "NTLM", more, token)) << c.name;
        }
        EXPECT_FALSE(MakeAuthToken(s, c.challenge, "KWDOM\\kw", "kw-secret", c.package, more, token))
            << c.name;
        EXPECT_EQ(token, "") << c.name;
        EXPECT_FALSE(more) << c.name;
    }
}

TEST(HTTPAuthGssapi, WithoutTheMechanismTheInterfaceIsUnavailable) {
    // The library reads its mechanism configuration once per process: a process of its own.
    KW_REQUIRE_GSSAPI();
    const std::string probe = kwtest::ProgPath("tls_security_interface_probe").string();
    plat::ProcessOptions o;
    o.wait = true;
    o.output = plat::ProcessOutput::Capture;
    EXPECT_EQ(plat::StartProcess(probe, {}, o).output, "available\n");
    kwtest::TempDir dir;
    kwtest::WriteFile(dir / "mech", "# no mechanism\n");
    kwtest::ScopedEnv config("GSS_MECH_CONFIG", (dir / "mech").string());
    EXPECT_EQ(
        plat::StartProcess(probe, {}, o).output,
        "unavailable: the NTLMSSP mechanism (gss-ntlmssp) is not registered with libgssapi_krb5.so.2\n");
}

// ---------------------------------------------------------------------------------------------
// A server that demands NTLM (401)

struct NtlmServer : kwtest::PythonScriptPeer {
    NtlmServer(const std::string& domain,
               const std::vector<std::string>& offer = {"NTLM", "Basic realm=\"kw\""})
        : PythonScriptPeer("ntlm_peer.py", Script(domain, offer)) {}
    static std::string Script(const std::string& domain, const std::vector<std::string>& offer) {
        std::string offers;
        for (const std::string& o : offer)
            offers += (offers.empty() ? "" : ",") + kwtest::Script::Quote(o);
        return "{\"user\": \"kw\", \"password\": \"kw-secret\", \"domain\": " +
               kwtest::Script::Quote(domain) + ", \"offer\": [" + offers +
               "], \"document\": \"the document\"}";
    }
    std::string Url() const { return "http://" + Address() + "/doc"; }
};

TEST(HTTPAuthNtlm, TheServerChecksOurNTLMv2Response) {
    KW_REQUIRE_GSSAPI();
    const std::string here = ThisComputer();
    struct Case {
        const char* name;
        std::string serverDomain;
        std::string user, password;
        std::string domainSent;
    };
    const Case cases[] = {
        {"domain and user with a backslash", "KWDOM", "KWDOM\\kw", "kw-secret", "KWDOM"},
        {"domain and user with a slash", "KWDOM", "KWDOM/kw", "kw-secret", "KWDOM"},
        {"a user without domain is of this computer", here, "kw", "kw-secret", here},
    };
    for (const Case& c : cases) {
        NtlmServer server(c.serverDomain);
        KW_REQUIRE_PEER(server.Available(), server.Reason());
        TElHTTPSClient http;
        http.UseNTLMAuth = true;
        http.RequestParameters().Username = c.user;
        http.RequestParameters().Password = c.password;
        int status = 0;
        EXPECT_EQ(Fetch(http, server.Url(), &status), "the document")
            << c.name << ": the 401 bodies are kept back";
        EXPECT_EQ(status, 200) << c.name;
        const std::vector<Json> log = server.WaitRequests(3);
        ASSERT_EQ(log.size(), 3u) << c.name;
        // The first request carries no authorization at all; the exchange stays on one
        // connection.
        EXPECT_FALSE(log[0].has("scheme")) << c.name;
        EXPECT_EQ(log[1]["scheme"].str(), "NTLM") << c.name;
        EXPECT_EQ(log[1]["type"].integer(), 1) << c.name;
        EXPECT_NE(log[1]["flags"].integer() & 0x200, 0) << c.name << ": NTLM asked for";
        EXPECT_EQ(log[2]["type"].integer(), 3) << c.name;
        EXPECT_EQ(log[2]["user"].str(), "kw") << c.name;
        EXPECT_EQ(log[2]["domain"].str(), c.domainSent) << c.name;
        EXPECT_TRUE(log[2]["ntlmv2"].boolean()) << c.name;
        EXPECT_TRUE(log[2]["echoed"].boolean()) << c.name;
        EXPECT_TRUE(log[2]["verified"].boolean()) << c.name;
        for (const Json& entry : log)
            EXPECT_EQ(entry["connection"].integer(), log[0]["connection"].integer()) << c.name;
    }
}

TEST(HTTPAuthNtlm, AWrongPasswordIsRefused) {
    KW_REQUIRE_GSSAPI();
    NtlmServer server("KWDOM");
    KW_REQUIRE_PEER(server.Available(), server.Reason());
    TElHTTPSClient http;
    http.UseNTLMAuth = true;
    http.RequestParameters().Username = "KWDOM\\kw";
    http.RequestParameters().Password = "wrong";
    EXPECT_EQ(ThrownMessage([&] { Fetch(http, server.Url()); }),
              "Cannot get valid NTLM response from server.");
    // None, negotiate, authenticate (refused), negotiate again: the fourth 401 in a row ends it.
    const std::vector<Json> log = server.WaitRequests(4);
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[2]["type"].integer(), 3);
    EXPECT_TRUE(log[2]["ntlmv2"].boolean());
    EXPECT_FALSE(log[2]["verified"].boolean());
    EXPECT_EQ(log[3]["type"].integer(), 1);
}

TEST(HTTPAuthNtlm, TheSchemeFollowsWhatTheServerOffers) {
    KW_REQUIRE_GSSAPI();
    struct Case {
        const char* name;
        std::vector<std::string> offer;
        std::vector<std::string> schemes;  // the scheme of each request
    };
    const Case cases[] = {
        {"Basic before NTLM in the server's list: NTLM first in ours",
         {"Basic realm=\"kw\"", "NTLM"},
         {"", "NTLM", "NTLM"}},
        {"only Basic", {"Basic realm=\"kw\""}, {"", "Basic"}},
    };
    for (const Case& c : cases) {
        NtlmServer server("KWDOM", c.offer);
        KW_REQUIRE_PEER(server.Available(), server.Reason());
        TElHTTPSClient http;
        http.UseNTLMAuth = true;
        http.RequestParameters().Username = "kw";
        http.RequestParameters().Password = "kw-secret";
        // Basic's user has no domain; NTLM's gets it from the name.
        if (c.schemes.back() == "NTLM") http.RequestParameters().Username = "KWDOM\\kw";
        int status = 0;
        EXPECT_EQ(Fetch(http, server.Url(), &status), "the document") << c.name;
        EXPECT_EQ(status, 200) << c.name;
        const std::vector<Json> log = server.WaitRequests(c.schemes.size());
        ASSERT_EQ(log.size(), c.schemes.size()) << c.name;
        for (size_t i = 0; i < log.size(); ++i)
            EXPECT_EQ(log[i].has("scheme") ? log[i]["scheme"].str() : "", c.schemes[i]) << c.name << " " << i;
        EXPECT_TRUE(log.back()["verified"].boolean()) << c.name;
    }
}

// ---------------------------------------------------------------------------------------------
// A proxy that demands NTLM (407)

// The client over TLS 1.2 through squid as its HTTP proxy, logging in as user.
void ThroughSquid(TElHTTPSClient& http, const kwtest::Squid& squid, bool ntlm, const std::string& user,
                  const std::string& password) {
    http.SetVersions(VersionBit(sbTLS12));
    http.UseHTTPProxy = true;
    http.HTTPProxyHost = "127.0.0.1";
    http.SetHTTPProxyPort(squid.Port());
    http.HTTPProxyUsername = user;
    http.HTTPProxyPassword = password;
    http.UseNTLMAuth = ntlm;
    http.SetSocketTimeout(60000);
}

TEST(HTTPAuthNtlm, ThroughSquidPlainAndTunnelled) {
    KW_REQUIRE_GSSAPI();
    ASSERT_TRUE(kwtest::TrustTestCA());
    HttpSite site;
    Lighttpd plain(site);
    KW_REQUIRE_PEER(plain.Available(), plain.Reason());
    Lighttpd tls(site, kwtest::LighttpdTls());
    KW_REQUIRE_PEER(tls.Available(), tls.Reason());
    kwtest::Squid squid("kwproxy", "proxy-secret", "KWDOM");
    KW_REQUIRE_PEER(squid.Available(), squid.Reason() + squid.CacheLog());
    const auto viaSquid = [&](TElHTTPSClient& http, bool ntlm, const std::string& password) {
        ThroughSquid(http, squid, ntlm, "KWDOM\\kwproxy", password);
    };
    const std::string plainUrl = plain.Url("/files/big.bin");
    const std::string tlsUrl = "https://localhost:" + std::to_string(tls.Port()) + "/files/big.bin";

    for (const std::string& url : {plainUrl, tlsUrl}) {
        TElHTTPSClient http;
        viaSquid(http, true, "proxy-secret");
        int status = 0;
        EXPECT_TRUE(Fetch(http, url, &status) == site.bigFile) << url << "\n" << squid.HelperLog();
        EXPECT_EQ(status, 200) << url;
        // The next request on the same client goes as well.
        EXPECT_EQ(Fetch(http, url.substr(0, url.rfind('/')) + "/a.txt", &status), "hello\n") << url;
        EXPECT_EQ(status, 200) << url;
    }
    // squid's authenticator checked our NTLMv2 responses and told squid the user.
    const std::string helper = squid.HelperLog();
    EXPECT_NE(helper.find("\"verified\": true"), std::string::npos) << helper;
    EXPECT_EQ(helper.find("\"verified\": false"), std::string::npos) << helper;
    const auto logged = [&](const std::string& what) {
        const std::string log = squid.AccessLog();
        for (size_t at = log.find(what); at != std::string::npos; at = log.find(what, at + 1)) {
            const size_t end = log.find('\n', at);
            if (log.substr(at, end - at).find("kwproxy") != std::string::npos) return true;
        }
        return false;
    };
    for (const char* what : {"TCP_MISS/200 1048", "TCP_TUNNEL/200"})
        EXPECT_TRUE(kwtest::Eventually([&] { return logged(what); })) << what << "\n" << squid.AccessLog();

    // A wrong password: four 407s in a row end the request, and the tunnel is refused.
    TElHTTPSClient wrong;
    viaSquid(wrong, true, "wrong");
    EXPECT_EQ(ThrownMessage([&] { Fetch(wrong, plainUrl); }), "Cannot get valid NTLM response from server.");
    EXPECT_EQ(ThrownMessage([&] { Fetch(wrong, tlsUrl); }), kRefused407);
    EXPECT_EQ(wrong.ProxyResult(), 407);
    EXPECT_NE(squid.HelperLog().find("\"verified\": false"), std::string::npos);

    // Without NTLM squid lets nothing through: the 407 is the answer, and the tunnel is refused.
    TElHTTPSClient basic;
    viaSquid(basic, false, "proxy-secret");
    int status = 0;
    Fetch(basic, plainUrl, &status);
    EXPECT_EQ(status, 407);
    EXPECT_EQ(ThrownMessage([&] { Fetch(basic, tlsUrl); }), kRefused407);
    EXPECT_EQ(basic.ProxyResult(), 407);
}

// squid offering NTLM and Basic for CONNECT: a wrong password in either scheme ends with the
// proxy's refusal and its status line in the message, ProxyResult 407; the right Basic
// password opens the tunnel.
TEST(HTTPAuthNtlm, ATunnelSquidKeepsRefusingSaysSo) {
    KW_REQUIRE_GSSAPI();
    ASSERT_TRUE(kwtest::TrustTestCA());
    HttpSite site;
    Lighttpd tls(site, kwtest::LighttpdTls());
    KW_REQUIRE_PEER(tls.Available(), tls.Reason());
    plat::ProcessOptions hashing;
    hashing.wait = true;
    hashing.output = plat::ProcessOutput::Capture;
    const plat::ProcessResult hash =
        plat::StartProcess("openssl", {"passwd", "-apr1", "basic-secret"}, hashing);
    ASSERT_EQ(hash.exitCode, 0) << hash.output;
    kwtest::Squid squid("kwproxy", "proxy-secret", "KWDOM", "kwbasic:" + hash.output);
    KW_REQUIRE_PEER(squid.Available(), squid.Reason() + squid.CacheLog());
    const std::string url = "https://localhost:" + std::to_string(tls.Port()) + "/files/a.txt";
    struct Case {
        const char* name;
        bool ntlm;
        const char* user;
        const char* password;
        bool opens;
    };
    const Case cases[] = {
        {"NTLM, wrong password", true, "KWDOM\\kwproxy", "wrong", false},
        {"Basic, wrong password", false, "kwbasic", "wrong", false},
        {"Basic, no password", false, "kwbasic", "", false},
        {"Basic, right password", false, "kwbasic", "basic-secret", true},
    };
    for (const Case& c : cases) {
        TElHTTPSClient http;
        ThroughSquid(http, squid, c.ntlm, c.user, c.password);
        if (c.opens) {
            int status = 0;
            EXPECT_EQ(Fetch(http, url, &status), "hello\n") << c.name << "\n" << squid.CacheLog();
            EXPECT_EQ(status, 200) << c.name;
            EXPECT_EQ(http.ProxyResult(), 200) << c.name;
        } else {
            EXPECT_EQ(ThrownMessage([&] { Fetch(http, url); }), kRefused407) << c.name;
            EXPECT_EQ(http.ProxyResult(), 407) << c.name;
        }
    }
}

}  // namespace
