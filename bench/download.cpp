// bench/download.cpp: one 256 MiB file through BaixeArquivoDDS (token, question, download into
// the destination file) from the scripted download server, against curl fetching the same URL
// with the same bearer line from the same server, in the same run. Each side runs three times,
// alternating, and its best time counts; both write the file to the same disk.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/BenchLine.h"
#include "platform/Process.h"
#include "support/DdsServerPeer.h"
#include "support/TestSupport.h"
#include "transfer/ukwUpdFileUtilDDS.h"

namespace {

namespace fs = std::filesystem;

double Ms(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main() {
    constexpr int64_t kTamanho = 256LL << 20;
    // The tests' scripted download server, serving big.bin from its own folder.
    kwtest::DdsServerPeer dds(R"({"oauth": {"access_token": "bench-token"},
        "files": {"BIG.BIN_1": [{"isFile": true, "url": "{SELF}/files/big", "status": null}]},
        "content": {"/files/big": {"file": "big.bin"}}})");
    if (!dds.Available()) {
        std::printf("download: the download server did not start: %s\n", dds.Reason().c_str());
        return 0;
    }
    {
        std::ofstream big(dds.Files() / "big.bin", std::ios::binary);
        std::string block(1 << 20, '\0');
        for (size_t i = 0; i < block.size(); ++i)
            block[i] = char(i * 131 + 7);
        for (int64_t left = kTamanho; left > 0; left -= int64_t(block.size()))
            big.write(block.data(), std::streamsize(block.size()));
    }
    const kwtest::TempDir dir;
    const std::string base = dds.BaseURL();
    const std::string ours = (dir / "ours.bin").string();
    const std::string theirs = (dir / "curl.bin").string();
    double best = 1e300, bestCurl = 1e300;
    bool ok = true;
    for (int round = 0; round < 3 && ok; ++round) {
        fs::remove(ours);
        bool patch = false;
        auto t = std::chrono::steady_clock::now();
        ok = BaixeArquivoDDS("DDS:" + base + "/dist/big.bin_1", "", "", ours, "u", "p", -999, false, nullptr,
                             patch);
        best = std::min(best, Ms(t));
        ok = ok && int64_t(fs::file_size(ours)) == kTamanho;

        fs::remove(theirs);
        plat::ProcessOptions c;
        c.wait = true;
        c.output = plat::ProcessOutput::Null;
        t = std::chrono::steady_clock::now();
        const int rc = plat::StartProcess("curl",
                                          {"-s", "-f", "-H", "Authorization: Bearer bench-token", "-o", theirs,
                                           base + "/files/big"},
                                          c)
                           .exitCode;
        bestCurl = std::min(bestCurl, Ms(t));
        ok = ok && rc == 0 && int64_t(fs::file_size(theirs)) == kTamanho;
    }
    if (ok)
        bench::PrintTimes("dds-download-256MiB", best, bestCurl);
    else
        std::printf("download: a download failed\n");
    return 0;
}
