// bench/http.cpp: the HTTP client against curl on the same local lighttpd, in the same run.
//   download  one 200 MB file into a discarding stream (MB/s)
//   gets      2,000 GETs of a 1 KiB file, each on a new connection (requests/s); curl fetches
//             the same URLs in one process with "Connection: close"
//   https     the 200 MB file over TLS (lighttpd's mod_openssl), both on TLS 1.3 with
//             TLS_AES_256_GCM_SHA384 and the certificate checked
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/BenchHttp.h"
#include "bench/BenchLine.h"
#include "bench/BenchProcess.h"
#include "net/IdHTTP.h"
#include "net/IdSSLOpenSSL.h"
#include "rtl/Stream.h"

using bench::DiscardStream;
using bench::LighttpdProcess;
using bench::Seconds;
using bench::Spawn;
using bench::Wait;

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
    LighttpdProcess plain(dir, dir / "www");
    LighttpdProcess tls(dir, dir / "www",
                        "server.modules += (\"mod_openssl\")\nssl.engine = \"enable\"\nssl.pemfile = \"" +
                            cert + "\"\nssl.privkey = \"" + key + "\"\n");
    const int port = plain.Port(), tlsPort = tls.Port();
    const std::string base = "http://127.0.0.1:" + std::to_string(port);

    if (plain.Running() && tls.Running()) {
        TIdHTTP http;
        DiscardStream sink;
        auto t = std::chrono::steady_clock::now();
        http.Get(base + "/big.bin", sink);
        const double ours = double(sink.Size()) / 1e6 / Seconds(t);
        t = std::chrono::steady_clock::now();
        Wait(Spawn({"curl", "-s", "-o", "/dev/null", base + "/big.bin"}));
        const double curl = double(kBig) / 1e6 / Seconds(t);
        bench::PrintRates("http-download-200MB", ours, curl, "MB/s");

        constexpr int kGets = 2000;
        t = std::chrono::steady_clock::now();
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

        const std::string tlsUrl = "https://localhost:" + std::to_string(tlsPort) + "/big.bin";
        TIdSSLIOHandlerSocketOpenSSL io;
        io.SSLOptions().RootCertFile = cert;
        TIdHTTP https;
        https.SetIOHandler(&io);
        DiscardStream tlsSink;
        t = std::chrono::steady_clock::now();
        https.Get(tlsUrl, tlsSink);
        const double oursTls = double(tlsSink.Size()) / 1e6 / Seconds(t);
        t = std::chrono::steady_clock::now();
        Wait(Spawn({"curl", "-s", "-o", "/dev/null", "--cacert", cert, "--tlsv1.3", "--tls13-ciphers",
                    "TLS_AES_256_GCM_SHA384", tlsUrl}));
        const double curlTls = double(kBig) / 1e6 / Seconds(t);
        bench::PrintRates("https-download-200MB", oursTls, curlTls, "MB/s");
    } else {
        std::printf("http: lighttpd did not start\n");
    }
    std::filesystem::remove_all(dir);
    return 0;
}
