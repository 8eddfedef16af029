// bench/verify.cpp: the verification of 20,000 requisites against a 20,000-record history and
// 20,000 present files, with and without "/check", against its peers in the same run:
//
//   verify-nocheck <ours ms> <stat-only ms> ms <speed>      goal: speed >= 0.45 (a size-and-time
//        read of each file is the floor; the history lookup must not scan per requisite)
//   verify-check <our MB/s> <zlib MB/s> MB/s <speed>        goal: speed >= 0.8 (reading each file
//        and zlib's crc32 over it is the peer)
//
// (bench/BenchLine.h: speed is how many times faster ours is, higher is better.)
//
// The history lists the objects in the reverse order of the requisites, so a scan from the
// top per requisite would be quadratic. Every file is read once before timing (cached).
//
// Where verify-nocheck's time goes: the stat of each file is the floor (the bare loop takes
// some 31 to 37 ms on the machine these figures were taken on; ours 58 to 66 ms). Beyond it,
// the 300,000 lines (21 MB) the log format asks for 20,000 requisites, the history lookups and
// reading the requisites text into records. The log's blocks come in 2 MB pieces the system
// may back with huge pages, the index keeps no copy of the records and each folder is opened
// once per pass, so what is left is mostly the lines themselves.
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench/BenchLine.h"
#include "common/LauncherTestHooks.h"
#include "common/aCRC32.h"
#include "common/ukwUpdConfig.h"
#include "common/ukwUpdIni.h"
#include "common/ukwUpdLog.h"
#include "common/ukwUpdVersao.h"
#include "launcher/ukwUpdVerificacao.h"
#include "rtl/Stream.h"
#include "rtl/Text.h"
#include "transfer/ukwFuncoesAPI.h"
#include "transfer/ukwUpdFileUtil.h"

namespace fs = std::filesystem;

namespace {

constexpr int kArquivos = 20000;
constexpr size_t kTamanho = 32 * 1024;

template <typename F>
double Melhor(int rodadas, F&& f) {
    double ms = 1e300;
    for (int i = 0; i < rodadas; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        f();
        const auto t1 = std::chrono::steady_clock::now();
        ms = std::min(ms, std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
    return ms;
}

std::string Nome(int i) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "f%05d.dll", i);
    return buf;
}

}  // namespace

int main() {
    const fs::path dir =
        fs::temp_directory_path() / ("bench-verify-" + std::to_string(std::random_device{}()));
    fs::create_directories(dir / "bin");
    fs::create_directories(dir / "log");
    {
        rtl::FileStream ini((dir / "kwCFG.ini").string(), rtl::FileMode::Create);
        ini.WriteBuffer(std::string("[KWUPDATE]\r\nCdSistema=12\r\n"));
    }
    ResetLauncherBaseForTests((dir / "QOR.EXE").string());
    SetLauncherExeName((dir / "QOR.EXE").string());
    SetLauncherVersionOverride(TkwVersaoArquivo{4, 0, 8, 7});

    // The files, their checksums, the requisites and the history.
    std::mt19937 rng(4087);
    std::vector<std::string> caminhos;
    std::string requisitos;
    std::vector<std::string> registros;
    const std::string estacao = rtl::UpperCase(PegueNomeComputador());
    std::string bytes(kTamanho, '\0');
    for (int i = 0; i < kArquivos; ++i) {
        for (char& c : bytes)
            c = char(rng());
        const std::string nome = Nome(i);
        const std::string caminho = (dir / "bin" / nome).string();
        {
            rtl::FileStream f(caminho, rtl::FileMode::Create);
            f.WriteBuffer(bytes);
        }
        caminhos.push_back(caminho);
        const int32_t crc = int32_t(CRC32Of(bytes.data(), bytes.size()));
        requisitos += "12;" + std::to_string(i) + ";" + nome + ";bin\\;;7;1;\\\\srv\\upd\\;u;;" +
                      std::to_string(crc) + ";;;S;N;N\r\n";
        std::string tamanho;
        std::string dataHora;
        PegueDadosArquivo(caminho, tamanho, dataHora);
        registros.push_back("12;" + estacao + ";" + rtl::UpperCase(nome) + ";7;1;" + caminho + ";" + tamanho +
                            ";" + dataHora + "\r\n");
    }
    std::string historico;
    for (auto it = registros.rbegin(); it != registros.rend(); ++it)
        historico += *it;
    {
        rtl::FileStream f(kwUpdConfig().GetArquivoHistorico(), rtl::FileMode::Create);
        f.WriteBuffer(historico);
    }

    // Warm the cache.
    std::vector<char> buffer(65536);
    uint64_t total = 0;
    for (const std::string& c : caminhos)
        total += rtl::ReadFileBytes(c).size();

    bool errado = false;
    auto verifique = [&](bool checaCRC) {
        TkwUpdLog log;
        TkwUpdVerificacao v(&log, nullptr, 12, &kwUpdIni());
        if (v.VerifiqueNecessidadeAtualizacao(requisitos, checaCRC, false)) errado = true;
    };

    const double nossoSemCRC = Melhor(5, [&] { verifique(false); });
    volatile int64_t soma = 0;
    const double somenteStat = Melhor(5, [&] {
        for (const std::string& c : caminhos) {
            struct stat st {};
            if (::stat(c.c_str(), &st) == 0) soma = soma + st.st_size + st.st_mtim.tv_sec;
        }
    });

    const double nossoComCRC = Melhor(3, [&] { verifique(true); });
    volatile uint32_t sink = 0;
    const double zlibCRC = Melhor(3, [&] {
        for (const std::string& c : caminhos) {
            FILE* f = std::fopen(c.c_str(), "rb");
            if (f == nullptr) continue;
            uLong crc = crc32(0L, Z_NULL, 0);
            size_t n;
            while ((n = std::fread(buffer.data(), 1, buffer.size(), f)) > 0)
                crc = crc32(crc, reinterpret_cast<const Bytef*>(buffer.data()), uInt(n));
            std::fclose(f);
            sink = sink + uint32_t(crc);
        }
    });

    ResetLauncherBaseForTests("");
    std::error_code ec;
    fs::remove_all(dir, ec);
    if (errado) {
        std::fprintf(stderr, "verify: the fixture was found out of date\n");
        return 1;
    }

    const double mb = double(total) / (1024.0 * 1024.0);
    const double nossoMBs = mb / (nossoComCRC / 1000.0);
    const double zlibMBs = mb / (zlibCRC / 1000.0);
    bench::PrintTimes("verify-nocheck", nossoSemCRC, somenteStat);
    bench::PrintRates("verify-check", nossoMBs, zlibMBs, "MB/s");
    return 0;
}
