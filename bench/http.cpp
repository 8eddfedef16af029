// bench/http.cpp: the HTTP client against curl on the same local lighttpd, in the same run.
//   download  one 200 MB file into /dev/null (MB/s)
//   gets      2,000 GETs of a 1 KiB file, each on a new connection (requests/s); curl fetches
//             the same URLs in one process with "Connection: close"
//   https     the 200 MB file over TLS (lighttpd's mod_openssl), both on TLS 1.3 with
//             TLS_AES_256_GCM_SHA384 and HTTP/1.1, the certificate checked against the same
//             trust: the server's own certificate
// A download is timed three times per side, ours and curl alternating, and each side's best
// counts: one pass would measure the page cache, the start of a program and whatever else the
// machine did at that moment. Both sides write the body to /dev/null.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "bench/BenchHttp.h"
#include "bench/BenchLine.h"
#include "bench/BenchProcess.h"
#include "net/IdHTTP.h"
#include "net/IdSSLOpenSSL.h"
#include "rtl/Stream.h"

using bench::DiscardStream;
using bench::LighttpdProcess;
using bench::NullDeviceStream;
using bench::Seconds;
using bench::Spawn;
using bench::Wait;

namespace {

constexpr int kRounds = 3;

// The best rates (MB/s) of ours (a GET into the sink) and of curl (its arguments) for the same
// file of size bytes, alternating; 0 for a side whose download did not come whole.
void PrintDownload(const std::string& name, const std::function<void(rtl::Stream&)>& ours,
                   const std::vector<std::string>& curl, int64_t size) {
    double oursBest = 0, curlBest = 0;
    bool oursWhole = true, curlWhole = true;
    for (int i = 0; i < kRounds; ++i) {
        NullDeviceStream sink;
        auto t = std::chrono::steady_clock::now();
        ours(sink);
        const double oursRate = double(sink.Size()) / 1e6 / Seconds(t);
        oursWhole = oursWhole && sink.Size() == size;
        oursBest = std::max(oursBest, oursRate);
        t = std::chrono::steady_clock::now();
        curlWhole = curlWhole && Wait(Spawn(curl)) == 0;
        curlBest = std::max(curlBest, double(size) / 1e6 / Seconds(t));
    }
    bench::PrintRates(name, oursWhole ? oursBest : 0, curlWhole ? curlBest : 0, "MB/s");
}

}  // namespace

int main() {
    char dirTemplate[] = "/tmp/kw-bench-http-XXXXXX";
    if (::mkdtemp(dirTemplate) == nullptr) return 1;
    const std::filesystem::path dir(dirTemplate);
    std::filesystem::create_directories(dir / "www");
    constexpr int64_t kBig = 200LL * 1000 * 1000;
    bench::WriteBigFile(dir / "www/big.bin", kBig, false);
    {
        std::ofstream small(dir / "www/small.txt", std::ios::binary);
        small << std::string(1024, 's');
    }
    const std::string cert = (dir / "cert.pem").string(), key = (dir / "key.pem").string();
    Wait(Spawn({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                "-nodes", "-keyout", key, "-out", cert, "-days", "2", "-subj", "/CN=localhost", "-addext",
                "subjectAltName=DNS:localhost"}));
    // Ours checks the server against the system's store and RootCertFile, curl against what
    // --cacert names: the system's store is the server's certificate here, so both trust the
    // same one certificate and neither parses a bundle the other does not.
    ::setenv("SSL_CERT_FILE", cert.c_str(), 1);
    LighttpdProcess plain(dir, dir / "www");
    LighttpdProcess tls(dir, dir / "www",
                        "server.modules += (\"mod_openssl\")\nssl.engine = \"enable\"\nssl.pemfile = \"" +
                            cert + "\"\nssl.privkey = \"" + key + "\"\n");
    const int port = plain.Port(), tlsPort = tls.Port();
    const std::string base = "http://127.0.0.1:" + std::to_string(port);

    if (plain.Running() && tls.Running()) {
        PrintDownload(
            "http-download-200MB",
            [&](rtl::Stream& sink) {
                TIdHTTP http;
                http.Get(base + "/big.bin", sink);
            },
            {"curl", "-s", "-o", "/dev/null", base + "/big.bin"}, kBig);

        TIdHTTP http;
        constexpr int kGets = 2000;
        auto t = std::chrono::steady_clock::now();
        for (int i = 0; i < kGets; ++i) {
            DiscardStream small;
            http.Get(base + "/small.txt", small);
        }
        const double oursRate = kGets / Seconds(t);
        {
            std::ofstream k(dir / "curl.conf");
            for (int i = 0; i < kGets; ++i)
                k << "url = \"" << base << "/small.txt\"\noutput = \"/dev/null\"\n";
        }
        t = std::chrono::steady_clock::now();
        Wait(Spawn({"curl", "-s", "-H", "Connection: close", "-K", (dir / "curl.conf").string()}));
        const double curlRate = kGets / Seconds(t);
        bench::PrintRates("http-gets-1KiB-new-connection", oursRate, curlRate, "req/s");

        // curl would take HTTP/2 where lighttpd offers it; ours speaks HTTP/1.1.
        const std::string tlsUrl = "https://localhost:" + std::to_string(tlsPort) + "/big.bin";
        PrintDownload(
            "https-download-200MB",
            [&](rtl::Stream& sink) {
                TIdSSLIOHandlerSocketOpenSSL io;
                io.SSLOptions().RootCertFile = cert;
                TIdHTTP https;
                https.SetIOHandler(&io);
                https.Get(tlsUrl, sink);
            },
            {"curl", "-s", "--http1.1", "-o", "/dev/null", "--cacert", cert, "--tlsv1.3", "--tls13-ciphers",
             "TLS_AES_256_GCM_SHA384", tlsUrl},
            kBig);
    } else {
        std::printf("http: lighttpd did not start\n");
    }
    std::filesystem::remove_all(dir);
    return 0;
}
