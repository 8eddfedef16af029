// bench/download.cpp: one 256 MiB file through BaixeArquivoDDS (token, question, download into
// the destination file) from the scripted download server, against curl fetching the same URL
// with the same bearer line from the same server, in the same run. Each side runs three times,
// alternating, and its best time counts; both write the file to the same disk.
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "bench/BenchLine.h"
#include "platform/Process.h"
#include "transfer/ukwUpdFileUtilDDS.h"

namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

double Ms(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main() {
    char dirTemplate[] = "/tmp/kw-bench-download-XXXXXX";
    if (::mkdtemp(dirTemplate) == nullptr) return 1;
    const fs::path dir(dirTemplate);
    fs::create_directories(dir / "files");
    constexpr int64_t kTamanho = 256LL << 20;
    {
        std::ofstream big(dir / "files" / "big.bin", std::ios::binary);
        std::string block(1 << 20, '\0');
        for (size_t i = 0; i < block.size(); ++i)
            block[i] = char(i * 131 + 7);
        for (int64_t left = kTamanho; left > 0; left -= int64_t(block.size()))
            big.write(block.data(), std::streamsize(block.size()));
    }
    {
        std::ofstream script(dir / "script.json");
        script << R"({"oauth": {"access_token": "bench-token"},
            "files": {"BIG.BIN_1": [{"isFile": true, "url": "{SELF}/files/big", "status": null}]},
            "content": {"/files/big": {"file": "big.bin"}}})";
    }
    plat::ProcessOptions o;
    o.output = plat::ProcessOutput::File;
    o.outputFile = (dir / "server.out").string();
    int pid = 0;
    try {
        pid = plat::StartProcess("python3",
                                 {std::string(KW_SOURCE_DIR) + "/tests/peers/ddsserver.py", "--script",
                                  (dir / "script.json").string(), "--log", (dir / "log.jsonl").string(),
                                  "--folder", (dir / "files").string()},
                                 o)
                  .pid;
    } catch (const std::exception& e) {
        std::printf("download: the download server did not start: %s\n", e.what());
        fs::remove_all(dir);
        return 0;
    }
    int port = 0;
    for (int i = 0; i < 3000 && port == 0; ++i) {
        const std::string out = Read(dir / "server.out");
        if (out.find('\n') != std::string::npos)
            port = std::atoi(out.c_str());
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (port == 0) {
        std::printf("download: the download server did not report its port\n");
    } else {
        const std::string base = "http://127.0.0.1:" + std::to_string(port);
        const std::string ours = (dir / "ours.bin").string();
        const std::string theirs = (dir / "curl.bin").string();
        double best = 1e300, bestCurl = 1e300;
        bool ok = true;
        for (int round = 0; round < 3 && ok; ++round) {
            fs::remove(ours);
            bool patch = false;
            auto t = std::chrono::steady_clock::now();
            ok = BaixeArquivoDDS("DDS:" + base + "/dist/big.bin_1", "", "", ours, "u", "p", -999, false,
                                 nullptr, patch);
            best = std::min(best, Ms(t));
            ok = ok && int64_t(fs::file_size(ours)) == kTamanho;

            fs::remove(theirs);
            plat::ProcessOptions c;
            c.wait = true;
            c.output = plat::ProcessOutput::Null;
            t = std::chrono::steady_clock::now();
            const int rc = plat::StartProcess("curl",
                                              {"-s", "-f", "-H", "Authorization: Bearer bench-token", "-o",
                                               theirs, base + "/files/big"},
                                              c)
                               .exitCode;
            bestCurl = std::min(bestCurl, Ms(t));
            ok = ok && rc == 0 && int64_t(fs::file_size(theirs)) == kTamanho;
        }
        if (ok)
            bench::PrintTimes("dds-download-256MiB", best, bestCurl);
        else
            std::printf("download: a download failed\n");
    }
    ::kill(pid, SIGTERM);
    fs::remove_all(dir);
    return 0;
}
