// tests/tls/ClientTestSupport.h: what the transport clients' peer tests share: reproducible
// random file contents, the TLS engine trusting the test CA, lighttpd's TLS settings, the HTTP
// client set up as the launcher's download sets it, and one GET into a string.
#pragma once

#include <stdlib.h>

#include <memory>
#include <random>
#include <string>

#include "rtl/Stream.h"
#include "tests/tls/TlsTestSupport.h"
#include "tls/SBHTTPSClient.h"

namespace kwtest {

inline std::string RandomBytes(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = char(gen());
    return s;
}

// The engine's system bundle is read from SSL_CERT_FILE: the test CA (tests/tls/make-certs.sh)
// becomes the one trusted root. False when the certificates could not be made.
inline bool TrustTestCA() {
    if (TlsCertificates().empty()) return false;
    ::setenv("SSL_CERT_FILE", Cert("ca.pem").c_str(), 1);
    return true;
}

// SSL_CERT_FILE for the life of the object: the test CA, or a file without certificates, so
// that only what a client's CertStorage holds is trusted.
class TestBundle {
public:
    explicit TestBundle(bool trustsTestCA) {
        WriteFile(dir_ / "none.pem", "");
        env_ = std::make_unique<ScopedEnv>("SSL_CERT_FILE",
                                           trustsTestCA ? Cert("ca.pem") : (dir_ / "none.pem").string());
    }

private:
    TempDir dir_;
    std::unique_ptr<ScopedEnv> env_;
};

// Where a test's client certificate comes from.
enum class Offer { None, Storage, NeededEx };

// What a test's OnCertificateValidate does with the verdict it is given.
enum class Verdict { Unassigned, Keep, Refuse, Accept, Raise };

inline void Apply(Verdict verdict, bool& validate) {
    if (verdict == Verdict::Raise) throw rtl::Exception("the owner's check failed");
    if (verdict == Verdict::Refuse) validate = false;
    if (verdict == Verdict::Accept) validate = true;
}

// The flight of a TLS 1.2 server that refuses the client at once: ServerHello (AES128-SHA),
// server-rsa's chain and ServerHelloDone, then a fatal handshake_failure alert, all in clear.
// Sent by a scripted peer that closes right after it without reading, so the connection is
// reset while the client is still sending its own flight.
inline std::string RefusingServerFlight() {
    const auto u24 = [](size_t n) { return std::string{char(n >> 16), char(n >> 8), char(n)}; };
    const auto message = [&](char type, const std::string& body) { return type + u24(body.size()) + body; };
    std::string certificates;
    for (const char* name : {"server-rsa.pem", "int.pem"}) {
        const auto c = LoadPem(name);
        certificates +=
            u24(c->GetCertificateSize()) +
            std::string(reinterpret_cast<const char*>(c->GetCertificateBinary()), c->GetCertificateSize());
    }
    const std::string hello =
        std::string("\x03\x03", 2) + std::string(32, '\x11') + std::string("\x00\x00\x2f\x00", 4);
    const std::string handshake =
        message(2, hello) + message(11, u24(certificates.size()) + certificates) + message(14, "");
    const std::string record =
        std::string("\x16\x03\x03", 3) + char(handshake.size() >> 8) + char(handshake.size());
    return record + handshake + std::string("\x15\x03\x03\x00\x02\x02\x28", 7);
}

// The lines that make lighttpd (tests/net/HttpServers.h) speak TLS with a test certificate
// (tests/tls/make-certs.sh: its chain file and key) in the protocol range given, with the
// suites given (the engine's CBC-SHA ones by default).
inline std::string LighttpdTls(const std::string& certificate = "server-rsa",
                               const std::string& ciphers = "AES128-SHA:AES256-SHA:DHE-RSA-AES128-SHA",
                               const std::string& minProtocol = "TLSv1.2",
                               const std::string& maxProtocol = "TLSv1.2") {
    return "server.modules += (\"mod_openssl\")\n"
           "ssl.engine = \"enable\"\n"
           "ssl.pemfile = \"" +
           Cert(certificate + "-chain.pem") + "\"\nssl.privkey = \"" + Cert(certificate + ".key") +
           "\"\n"
           "ssl.openssl.ssl-conf-cmd = (\"MinProtocol\" => \"" +
           minProtocol + "\", \"MaxProtocol\" => \"" + maxProtocol + "\", \"CipherString\" => \"" + ciphers +
           "@SECLEVEL=0\")\n";
}

// The client as the launcher's download sets it up (its HTTPS versions: TLS 1.0 to 1.2).
inline void AsTheLauncherDoes(TElHTTPSClient& http) {
    http.HTTPVersion = hvHTTP10;
    http.SetVersions(VersionBit(sbTLS1) | VersionBit(sbTLS11) | VersionBit(sbTLS12));
    http.SetVerifyPeerDisabled(false);
    http.RequestParameters().ContentRangeStart = -1;
    http.RequestParameters().ContentRangeEnd = -1;
    http.SetHTTPProxyPort(3128);
    http.UseHTTPProxy = false;
    http.SetLocalPort(0);
    http.SocksAuthentication = saNoAuthentication;
    http.WebTunnelPort = 3128;
    http.SSLEnabled = false;
    http.RequestParameters().UserAgent = "SecureClient";
    http.PreferKeepAlive = false;
    http.UseNTLMAuth = false;
}

// The body of a GET; the status into status when asked.
inline std::string Fetch(TElHTTPSClient& http, const std::string& url, int* status = nullptr) {
    rtl::MemoryStream body;
    http.OutputStream = &body;
    const int code = http.Get(url);
    if (status) *status = code;
    http.OutputStream = nullptr;
    return body.Data();
}

}  // namespace kwtest
