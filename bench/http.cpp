// bench/http.cpp: the HTTP client against curl on the same local lighttpd, in the same run.
//   download  one 200 MB file into a discarding stream (MB/s)
//   gets      2,000 GETs of a 1 KiB file, each on a new connection (requests/s); curl fetches
//             the same URLs in one process with "Connection: close"
//   https     the 200 MB file over TLS (lighttpd's mod_openssl), both on TLS 1.3 with
//             TLS_AES_256_GCM_SHA384 and the certificate checked
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchLine.h"
#include "bench/BenchProcess.h"
#include "net/IdHTTP.h"
#include "net/IdSSLOpenSSL.h"
#include "rtl/Stream.h"

extern char** environ;

using bench::Accepts;
using bench::FreePort;
using bench::Seconds;
using bench::Spawn;
using bench::Wait;

namespace {

// Counts what it is given and keeps nothing.
class DiscardStream final : public rtl::Stream {
public:
    size_t Read(void*, size_t) override { return 0; }
    size_t Write(const void*, size_t count) override {
        size_ += int64_t(count);
        return count;
    }
    int64_t Seek(int64_t, rtl::SeekOrigin) override { return size_; }
    int64_t Size() override { return size_; }
    void SetSize(int64_t s) override { size_ = s; }

private:
    int64_t size_ = 0;
};

}  // namespace

int main() {
    char dirTemplate[] = "/tmp/kw-bench-http-XXXXXX";
    if (::mkdtemp(dirTemplate) == nullptr) return 1;
    const std::filesystem::path dir(dirTemplate);
    std::filesystem::create_directories(dir / "www");
    constexpr int64_t kBig = 200LL * 1000 * 1000;
    {
        std::ofstream big(dir / "www/big.bin", std::ios::binary);
        std::string block(1 << 20, 'b');
        for (int64_t left = kBig; left > 0; left -= int64_t(block.size()))
            big.write(block.data(), std::streamsize(std::min<int64_t>(left, int64_t(block.size()))));
        std::ofstream small(dir / "www/small.txt", std::ios::binary);
        small << std::string(1024, 's');
    }
    const int port = FreePort();
    const int tlsPort = FreePort();
    const std::string cert = (dir / "cert.pem").string(), key = (dir / "key.pem").string();
    Wait(Spawn({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                "-keyout", key, "-out", cert, "-days", "2", "-subj", "/CN=localhost", "-addext",
                "subjectAltName=DNS:localhost"}));
    for (int p : {port, tlsPort}) {
        std::ofstream conf(dir / ("lighttpd-" + std::to_string(p) + ".conf"));
        conf << "server.document-root = \"" << (dir / "www").string() << "\"\nserver.bind = \"127.0.0.1\"\n"
             << "server.port = " << p << "\nserver.errorlog = \"" << (dir / "error.log").string() << "\"\n";
        if (p == tlsPort)
            conf << "server.modules += (\"mod_openssl\")\nssl.engine = \"enable\"\nssl.pemfile = \"" << cert
                 << "\"\nssl.privkey = \"" << key << "\"\n";
    }
    const pid_t server = Spawn({"lighttpd", "-D", "-f", (dir / ("lighttpd-" + std::to_string(port) + ".conf")).string()});
    const pid_t tlsServer = Spawn({"lighttpd", "-D", "-f", (dir / ("lighttpd-" + std::to_string(tlsPort) + ".conf")).string()});
    for (int i = 0; i < 300 && !(Accepts(port) && Accepts(tlsPort)); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const std::string base = "http://127.0.0.1:" + std::to_string(port);

    if (server > 0 && Accepts(port)) {
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
            for (int i = 0; i < kGets; ++i) k << "url = \"" << base << "/small.txt\"\noutput = \"/dev/null\"\n";
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
    for (pid_t p : {server, tlsServer})
        if (p > 0) {
            ::kill(p, SIGTERM);
            Wait(p);
        }
    std::filesystem::remove_all(dir);
    return 0;
}
