// bench/https.cpp: the secure transport clients' HTTP client (TElHTTPSClient over the TLS
// engine) against curl on the same local lighttpd, in the same run (MB/s):
//   sbhttps-download-200MB                  one 200 MB file over plain HTTP into a discarding
//                                           stream
//   sbhttps-tls12-AES128-SHA-download-200MB the same file over TLS 1.2 with AES128-SHA (RSA key
//                                           transport, RSA-2048 certificate, checked), curl with
//                                           --tls-max 1.2 --ciphers AES128-SHA
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/BenchHttp.h"
#include "bench/BenchLine.h"
#include "bench/BenchProcess.h"
#include "rtl/Stream.h"
#include "tls/SBHTTPSClient.h"

using bench::DiscardStream;
using bench::LighttpdProcess;
using bench::Seconds;
using bench::Spawn;
using bench::Wait;

namespace {

// Best of rounds: one cold pass per side would measure the page cache and the start of curl.
constexpr int kRounds = 3;

// 0 when the file did not come whole.
double OursRate(const std::string& url, TSBVersions versions, int64_t size) {
    double best = 0;
    for (int i = 0; i < kRounds; ++i) {
        TElHTTPSClient http;
        http.SetVersions(versions);
        DiscardStream sink;
        http.OutputStream = &sink;
        const auto t = std::chrono::steady_clock::now();
        if (http.Get(url) != 200 || sink.Size() != size) return 0;
        best = std::max(best, double(sink.Size()) / 1e6 / Seconds(t));
    }
    return best;
}

double CurlRate(std::vector<std::string> args, int64_t size) {
    double best = 0;
    for (int i = 0; i < kRounds; ++i) {
        const auto t = std::chrono::steady_clock::now();
        if (Wait(Spawn(args)) != 0) return 0;
        best = std::max(best, double(size) / 1e6 / Seconds(t));
    }
    return best;
}

}  // namespace

int main() {
    char dirTemplate[] = "/tmp/kw-bench-https-XXXXXX";
    if (::mkdtemp(dirTemplate) == nullptr) return 1;
    const std::filesystem::path dir(dirTemplate);
    std::filesystem::create_directories(dir / "www");
    constexpr int64_t kBig = 200LL * 1000 * 1000;
    bench::WriteBigFile(dir / "www/big.bin", kBig, true);
    const std::string cert = (dir / "cert.pem").string(), key = (dir / "key.pem").string();
    Wait(Spawn({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                "-days", "2", "-subj", "/CN=localhost", "-addext", "subjectAltName=DNS:localhost", "-addext",
                "basicConstraints=critical,CA:TRUE"}));
    // The engine trusts what its system bundle holds: here the server's own certificate.
    ::setenv("SSL_CERT_FILE", cert.c_str(), 1);
    {
        LighttpdProcess plain(dir, dir / "www");
        LighttpdProcess tls(
            dir, dir / "www",
            "server.modules += (\"mod_openssl\")\nssl.engine = \"enable\"\nssl.pemfile = \"" + cert +
                "\"\nssl.privkey = \"" + key +
                "\"\nssl.openssl.ssl-conf-cmd = (\"MinProtocol\" => \"TLSv1.2\", \"MaxProtocol\" => "
                "\"TLSv1.2\", \"CipherString\" => \"AES128-SHA@SECLEVEL=0\")\n");
        const int port = plain.Port(), tlsPort = tls.Port();
        if (plain.Running() && tls.Running()) {
            const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/big.bin";
            bench::PrintRates("sbhttps-download-200MB", OursRate(url, kDefaultVersions, kBig),
                              CurlRate({"curl", "-s", "-o", "/dev/null", url}, kBig), "MB/s");
            const std::string tlsUrl = "https://localhost:" + std::to_string(tlsPort) + "/big.bin";
            bench::PrintRates("sbhttps-tls12-AES128-SHA-download-200MB",
                              OursRate(tlsUrl, VersionBit(sbTLS12), kBig),
                              CurlRate({"curl", "-s", "-o", "/dev/null", "--cacert", cert, "--tls-max", "1.2",
                                        "--ciphers", "AES128-SHA", tlsUrl},
                                       kBig),
                              "MB/s");
        } else {
            std::printf("https: lighttpd did not start\n");
        }
    }
    std::filesystem::remove_all(dir);
    return 0;
}
