// bench/tls.cpp: full TLS 1.2 handshakes per second, the engine against openssl s_time -new,
// both on the same openssl s_server in the same run (RSA-2048 certificate, no resumption):
//   tls12-handshakes-AES128-SHA          RSA key transport
//   tls12-handshakes-DHE-RSA-AES128-SHA  ephemeral DH on ffdhe2048
// Each of our handshakes runs on a new loopback connection with a new engine, checks the
// server's certificate against a storage holding it and its name, and ends with close_notify;
// s_time checks nothing. Rates: speed = ours / s_time, 1.00 = parity, higher is better.
#include <signal.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

#include "bench/BenchLine.h"
#include "bench/BenchProcess.h"
#include "pki/SBCustomCertStorage.h"
#include "pki/SBX509.h"
#include "platform/ClientSocket.h"
#include "tls/SBClient.h"

namespace {

constexpr double kSeconds = 3.0;

std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// One full handshake on a new connection; false when it did not complete.
bool Handshake(int port, uint8_t suite, TElCustomCertStorage& trust) {
    plat::ClientSocket socket;
    socket.Connect("127.0.0.1", uint16_t(port), true);
    TElSecureClient client;
    for (uint8_t i = 0; i <= SSLMaxSuiteIndex; ++i) client.SetSuiteEnabled(i, i == suite);
    client.Versions = {sbTLS12};
    client.PeerHostName = "localhost";
    client.SetCertStorage(&trust);
    bool opened = false, closed = false, eof = false;
    client.OnSend = [&](rtl::Component*, const void* buffer, int32_t size) { socket.SendAll(buffer, size_t(size)); };
    client.OnReceive = [&](rtl::Component*, void* buffer, int32_t maxSize, int32_t& written) {
        written = 0;
        if (eof || socket.WaitReadable(0) != plat::ClientSocket::WaitResult::Readable) return;
        written = int32_t(socket.Receive(buffer, size_t(maxSize)));
        eof = written == 0;
    };
    client.OnOpenConnection = [&](rtl::Component*) { opened = true; };
    client.OnCloseConnection = [&](rtl::Component*, TSBCloseReason) { closed = true; };
    client.OpenSession();
    while (!opened && !closed && !eof)
        if (socket.WaitReadable(5000) == plat::ClientSocket::WaitResult::Readable) client.ProcessIncomingData();
        else break;
    if (opened) client.CloseSession(false);
    return opened;
}

double OurRate(int port, uint8_t suite, TElCustomCertStorage& trust) {
    int count = 0;
    const auto start = std::chrono::steady_clock::now();
    while (bench::Seconds(start) < kSeconds) {
        if (!Handshake(port, suite, trust)) return 0;
        ++count;
    }
    return count / bench::Seconds(start);
}

// s_time's own count over its own wall time.
double PeerRate(int port, const std::string& cipher, const std::filesystem::path& out) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = bench::Spawn({"openssl", "s_time", "-connect", "127.0.0.1:" + std::to_string(port), "-new",
                                    "-time", std::to_string(int(kSeconds)), "-cipher", cipher, "-tls1_2"},
                                   out.string());
    if (pid == 0 || bench::Wait(pid) != 0) return 0;
    const double seconds = bench::Seconds(start);
    std::smatch m;
    const std::string text = ReadText(out);
    if (!std::regex_search(text, m, std::regex(R"((\d+) connections in [0-9.]+s)"))) return 0;
    return std::stod(m[1]) / seconds;
}

}  // namespace

int main() {
    char dirTemplate[] = "/tmp/kw-bench-tls-XXXXXX";
    if (::mkdtemp(dirTemplate) == nullptr) return 1;
    const std::filesystem::path dir(dirTemplate);
    const std::string cert = (dir / "cert.pem").string(), key = (dir / "key.pem").string(),
                      dh = (dir / "ffdhe2048.pem").string();
    bench::Wait(bench::Spawn({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                              "-days", "2", "-subj", "/CN=localhost", "-addext", "subjectAltName=DNS:localhost"}));
    bench::Wait(bench::Spawn({"openssl", "genpkey", "-genparam", "-algorithm", "DH", "-pkeyopt", "group:ffdhe2048",
                              "-out", dh}));
    // The certificate as the storage's one trusted certificate (its Base64 between the armour).
    TElMemoryCertStorage trust;
    {
        const std::string pem = ReadText(cert);
        const size_t begin = pem.find('\n') + 1;
        const std::string body = pem.substr(begin, pem.find("-----END") - begin);
        TElX509Certificate c;
        c.LoadFromBuffer(body.data(), body.size());
        trust.Add(&c, false);
    }
    const int port = bench::FreeLoopbackPort();
    const pid_t server = bench::Spawn({"openssl", "s_server", "-accept", "127.0.0.1:" + std::to_string(port), "-cert",
                                       cert, "-key", key, "-dhparam", dh, "-www", "-quiet", "-no_ticket"},
                                      (dir / "server.log").string());
    for (int i = 0; i < 500 && !bench::Accepts(port); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    struct Case {
        const char* name;
        const char* cipher;
        uint8_t suite;
    } cases[] = {{"tls12-handshakes-AES128-SHA", "AES128-SHA", 12},
                 {"tls12-handshakes-DHE-RSA-AES128-SHA", "DHE-RSA-AES128-SHA", 28}};
    int rc = 0;
    for (const Case& c : cases) {
        const double ours = OurRate(port, c.suite, trust);
        const double peer = PeerRate(port, c.cipher, dir / "s_time.out");
        if (ours <= 0 || peer <= 0) {
            std::fprintf(stderr, "%s: a handshake failed (ours %.1f, s_time %.1f)\n", c.name, ours, peer);
            rc = 1;
            continue;
        }
        bench::PrintRates(c.name, ours, peer, "ops/s");
    }
    ::kill(server, SIGTERM);
    bench::Wait(server);
    std::filesystem::remove_all(dir);
    return rc;
}
