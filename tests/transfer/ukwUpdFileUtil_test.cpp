// Tests of the copy from update sites and of the file helpers: folder sites end to end, the
// backup / restore / drop of the destination, the last-error texts, the attempt loop of the
// protocol sites (on the injectable clock), and the size, time and checksum of files.
#include "transfer/ukwUpdFileUtil.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "common/LauncherTestHooks.h"
#include "common/ukwUpdConstante.h"
#include "common/ukwUpdLog.h"
#include "common/ukwUpdUtil.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "rtl/DateTime.h"
#include "rtl/Format.h"
#include "rtl/Stream.h"
#include "support/LoopbackListeners.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;

// A launcher folder with its settings; the base's process-wide state points at it.
class PastaLauncher : public ::testing::Test {
protected:
    void SetUp() override {
        Configure(1, 1);
        site = dir / "site";
        app = dir / "app";
        fs::create_directories(site);
        fs::create_directories(app);
    }
    void TearDown() override { ResetLauncherBaseForTests(""); }

    void Configure(int tentativas, int espera) {
        kwtest::WriteFile(dir / "kwCFG.ini",
                          "[KWUPDATE]\r\nMaximoTentativasDownload=" + std::to_string(tentativas) +
                              "\r\nTempoEsperaSegundosNovaTentativaDownload=" + std::to_string(espera) +
                              "\r\n");
        ResetLauncherBaseForTests((dir / "QOR.EXE").string());
    }

    bool Copie(const std::string& origem, const std::string& destino, bool backup = true,
               TkwUpdLog* log = nullptr) {
        bool d2 = true;
        bool d3 = true;
        return CopieArquivo(origem, destino, "usuario", "senha", backup, log, d2, d3, "", "", -999);
    }

    std::vector<std::string> Detalhes(const TkwUpdLog& log) {
        std::vector<std::string> r;
        for (const std::string& l : log.Linhas())
            r.push_back(l.substr(l.find(" : ") + 3));
        return r;
    }

    kwtest::TempDir dir;
    fs::path site;
    fs::path app;
};

std::string S(const fs::path& p) {
    return p.string();
}

TEST_F(PastaLauncher, FolderSiteReplacesTheFileAndDropsTheBackup) {
    kwtest::WriteFile(site / "kwExec.exe", "novo");
    kwtest::WriteFile(app / "kwExec.exe", "velho");
    const auto hora = plat::FileLastWriteTime(S(site / "kwExec.exe")) - std::chrono::hours(100);
    plat::SetFileLastWriteTime(S(site / "kwExec.exe"), hora);

    ASSERT_TRUE(Copie(S(site / "kwExec.exe"), S(app / "kwExec.exe"))) << UltimoErro;
    EXPECT_EQ(UltimoErro, "");
    EXPECT_EQ(kwtest::ReadFile(app / "kwExec.exe"), "novo");
    EXPECT_FALSE(fs::exists(app / "_kwExec.exe"));
    EXPECT_EQ(plat::FileLastWriteTime(S(app / "kwExec.exe")), hora);  // a copy keeps the time
    EXPECT_EQ(kwtest::ReadFile(site / "kwExec.exe"), "novo");
}

TEST_F(PastaLauncher, WindowsNotationAndMissingFoldersAndAStaleBackup) {
    kwtest::WriteFile(site / "sub" / "A.DLL", "dll");
    kwtest::WriteFile(app / "novo" / "_a.dll", "backup antigo");
    // The source is found without regard to case; the destination's folder is made.
    ASSERT_TRUE(Copie(S(site) + "\\SUB\\a.dll", S(app) + "/novo\\deeper\\a.dll")) << UltimoErro;
    EXPECT_EQ(kwtest::ReadFile(app / "novo" / "deeper" / "a.dll"), "dll");
    ASSERT_TRUE(Copie(S(site) + "\\SUB\\a.dll", S(app) + "/novo\\a.dll")) << UltimoErro;
    EXPECT_FALSE(fs::exists(app / "novo" / "_a.dll"));  // the stale backup went too
}

TEST_F(PastaLauncher, ReadOnlySourceAndReadOnlyDestination) {
    kwtest::WriteFile(site / "a.exe", "novo");
    kwtest::WriteFile(app / "a.exe", "velho");
    plat::SetReadOnly(S(site / "a.exe"), true);
    plat::SetReadOnly(S(app / "a.exe"), true);
    ASSERT_TRUE(Copie(S(site / "a.exe"), S(app / "a.exe"))) << UltimoErro;
    EXPECT_EQ(kwtest::ReadFile(app / "a.exe"), "novo");
    // The site's file is never changed (it may be shared, or not ours to change); the copy
    // does not take its read-only flag over.
    EXPECT_TRUE(plat::IsReadOnly(S(site / "a.exe")));
    EXPECT_FALSE(plat::IsReadOnly(S(app / "a.exe")));
    EXPECT_FALSE(fs::exists(app / "_a.exe"));

    // Without a backup a read-only destination is not overwritten.
    plat::SetReadOnly(S(app / "a.exe"), true);
    EXPECT_FALSE(Copie(S(site / "a.exe"), S(app / "a.exe"), false));
    EXPECT_EQ(UltimoErro, "Erro ao copiar o arquivo \"" + S(site / "a.exe") + "\" para \"" +
                              S(app / "a.exe") + "\". Mensagem de erro: " + DescrevaErroSistema(EACCES));
}

TEST_F(PastaLauncher, ABlankSourceTouchesNothing) {
    kwtest::WriteFile(app / "a.exe", "velho");
    UltimoErro = "antes";
    EXPECT_FALSE(Copie("   ", S(app / "a.exe")));
    EXPECT_EQ(UltimoErro, "");
    EXPECT_EQ(kwtest::ReadFile(app / "a.exe"), "velho");
    EXPECT_FALSE(fs::exists(app / "_a.exe"));
}

TEST_F(PastaLauncher, AFailedCopyPutsTheOldFileBack) {
    kwtest::WriteFile(app / "a.exe", "velho");
    EXPECT_FALSE(Copie(S(site / "falta.exe"), S(app / "a.exe")));
    EXPECT_EQ(UltimoErro, "Erro ao copiar o arquivo \"" + S(site / "falta.exe") + "\" para \"" +
                              S(app / "a.exe") + "\". Mensagem de erro: " + DescrevaErroSistema(ENOENT));
    EXPECT_EQ(kwtest::ReadFile(app / "a.exe"), "velho");
    EXPECT_FALSE(fs::exists(app / "_a.exe"));

    // A destination that did not exist before: nothing to set aside, nothing to put back.
    EXPECT_FALSE(Copie(S(site / "falta.exe"), S(app / "b.exe")));
    EXPECT_FALSE(fs::exists(app / "b.exe"));
    EXPECT_FALSE(fs::exists(app / "_b.exe"));
}

TEST_F(PastaLauncher, LastErrorTextsOfTheCopy) {
    kwtest::WriteFile(site / "a.exe", "novo");
    kwtest::WriteFile(dir / "arquivo", "um arquivo, não uma pasta");
    kwtest::WriteFile(app / "c.exe", "velho");
    fs::create_directories(app / "_c.exe");  // the backup's name is taken by a folder
    const kwtest::ScopedEnv semDrive("KW_DRIVE_Q", std::nullopt);

    struct Caso {
        const char* nome;
        std::string destino;
        bool backup;
        std::string ultimoErro;
    };
    const Caso casos[] = {
        {"folder cannot be made", S(dir / "arquivo" / "sub" / "a.exe"), false,
         "Erro ao criar o diretório \"" + S(dir / "arquivo" / "sub") +
             "\". Mensagem de erro: " + DescrevaErroSistema(ENOTDIR)},
        {"destination cannot be set aside", S(app / "c.exe"), true,
         "Erro ao renomear o arquivo \"" + S(app / "c.exe") + "\" para \"" + S(app / "_c.exe") +
             "\". Mensagem de erro: " + DescrevaErroSistema(EISDIR)},
        {"drive without a local folder", "Q:\\App\\a.exe", true, "(checked below)"},
    };
    for (const Caso& c : casos) {
        EXPECT_FALSE(Copie(S(site / "a.exe"), c.destino, c.backup)) << c.nome;
        if (std::string(c.nome) == "drive without a local folder") {
            // The mapping's own text names the variable to set.
            EXPECT_EQ(UltimoErro.rfind("Erro inesperado: ", 0), 0u) << UltimoErro;
            EXPECT_NE(UltimoErro.find("KW_DRIVE_Q"), std::string::npos) << UltimoErro;
        } else {
            EXPECT_EQ(UltimoErro, c.ultimoErro) << c.nome;
        }
    }
    EXPECT_EQ(kwtest::ReadFile(app / "c.exe"), "velho");
}

TEST_F(PastaLauncher, ProtocolSitesThatDoNotAnswerAreRetriedOnTheClock) {
    Configure(3, 2);
    plat::ManualClock relogio;
    plat::ScopedClock usa(relogio);
    kwtest::WriteFile(app / "kwExec.exe", "velho");
    kwtest::WriteFile(site / "a.exe", "local");
    // A port of the loopback address where nothing listens: every connection is refused.
    const kwtest::RefusedPort recusa;
    const std::string hp = recusa.Address();

    struct Caso {
        std::string origem;
        std::string destino;
        const char* palavra;  // of the attempt lines
        bool ftp;             // the FTP transfer's text stays; the HTTP download leaves none
    };
    const Caso casos[] = {
        {"FTP:" + hp + "\\dist\\kwExec.exe", S(app / "kwExec.exe"), "FTP", true},
        {"ftpPassivo:" + hp + "\\dist\\kwExec.exe", S(app / "kwExec.exe"), "FTP", true},
        {"http://" + hp + "/dist/kwExec.exe", S(app / "kwExec.exe"), "HTTP", false},
        {"HTTPS://" + hp + "/dist/kwExec.exe", S(app / "kwExec.exe"), "HTTP", false},
        // An upload to an HTTP site goes by FTP to the same host.
        {S(site / "a.exe"), "http://" + hp + "/dist/a.exe", "FTP", true},
    };
    for (const Caso& c : casos) {
        TkwUpdLog log;
        const uint64_t antes = relogio.Elapsed();
        bool d2 = true;
        bool d3 = true;
        EXPECT_FALSE(CopieArquivo(c.origem, c.destino, "u", "s", true, &log, d2, d3, "DDS:x", "DDS:y", -999))
            << c.origem;
        if (c.ftp) {
            EXPECT_TRUE(
                UltimoErro.starts_with("Não foi possível conectar-se com o servidor de FTP: 127.0.0.1\r\n"))
                << UltimoErro;
            EXPECT_TRUE(UltimoErro.ends_with("\r\nExceptionClass=EFTPSError")) << UltimoErro;
        } else {
            EXPECT_EQ(UltimoErro, "") << c.origem;
        }
        EXPECT_EQ(relogio.Elapsed() - antes, 6000u) << c.origem;
        EXPECT_EQ(kwtest::ReadFile(app / "kwExec.exe"), "velho") << c.origem;
        EXPECT_FALSE(fs::exists(app / "_kwExec.exe")) << c.origem;
        EXPECT_EQ(std::distance(fs::directory_iterator(app), fs::directory_iterator()), 1) << c.origem;
        const auto linhas = Detalhes(log);
        ASSERT_EQ(linhas.size(), 3u) << c.origem;
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(linhas[size_t(i)], " -  - Tentativa (" + std::to_string(i + 1) +
                                             "/3) de download por " + c.palavra + " de " + c.origem +
                                             " falhou. Aguardando 2 segundos antes de tentar novamente ");
        EXPECT_TRUE(d2);
        EXPECT_TRUE(d3);
    }
}

TEST_F(PastaLauncher, AttemptLoopCountsWaitsAndExceptions) {
    struct Caso {
        int n;
        int w;
        int falhas;  // attempts that fail before one succeeds (-1: none succeeds)
        bool lanca;  // the failing attempts raise instead of answering false
        bool resultado;
        int tentativas;
        uint64_t espera;
        bool escapa;  // the exception leaves the loop
    };
    const Caso casos[] = {
        {3, 2, 1, false, true, 2, 2000, false},   {3, 2, -1, false, false, 3, 6000, false},
        {3, 2, -1, true, false, 3, 6000, false},  {1, 1, -1, false, false, 1, 1000, false},
        {0, 1, -1, false, false, 1, 1000, false}, {0, 1, -1, true, false, 1, 0, true},
        {2, -5, -1, false, false, 2, 0, false},  // a negative wait waits nothing
    };
    for (const Caso& c : casos) {
        Configure(c.n, c.w);
        plat::ManualClock relogio;
        plat::ScopedClock usa(relogio);
        TkwUpdLog log;
        int tentativas = 0;
        auto transfira = [&] {
            ++tentativas;
            if (c.falhas >= 0 && tentativas > c.falhas) return true;
            if (c.lanca) throw rtl::Exception("falhou");
            return false;
        };
        bool resultado = false;
        bool escapou = false;
        try {
            resultado = ExecuteTentativas("HTTP", "http://x/a", &log, transfira);
        } catch (const rtl::Exception&) {
            escapou = true;
        }
        const std::string caso = "n=" + std::to_string(c.n) + " w=" + std::to_string(c.w);
        EXPECT_EQ(resultado, c.resultado) << caso;
        EXPECT_EQ(escapou, c.escapa) << caso;
        EXPECT_EQ(tentativas, c.tentativas) << caso;
        EXPECT_EQ(relogio.Elapsed(), c.espera) << caso;
        EXPECT_EQ(log.Linhas().size(), size_t(c.escapa ? 0 : c.tentativas - (c.resultado ? 1 : 0))) << caso;
    }
}

TEST_F(PastaLauncher, BackupRestoreAndDropDirectly) {
    const std::string a = S(app / "a.exe");
    EXPECT_TRUE(FacaBackup(a));  // nothing to set aside
    EXPECT_TRUE(FacaBackup("FTP:srv\\a.exe"));
    EXPECT_TRUE(FacaBackup("https://srv/a.exe"));

    kwtest::WriteFile(a, "velho");
    ASSERT_TRUE(FacaBackup(a));
    EXPECT_FALSE(fs::exists(a));
    EXPECT_EQ(kwtest::ReadFile(app / "_a.exe"), "velho");
    kwtest::WriteFile(a, "parcial");  // what a broken transfer left
    plat::SetReadOnly(a, true);
    ASSERT_TRUE(RestaureBackup(a)) << UltimoErro;
    EXPECT_EQ(kwtest::ReadFile(a), "velho");
    EXPECT_FALSE(fs::exists(app / "_a.exe"));

    // No backup: the file stays as the transfer left it.
    EXPECT_TRUE(RestaureBackup(a));
    EXPECT_EQ(kwtest::ReadFile(a), "velho");

    kwtest::WriteFile(app / "_a.exe", "x");
    plat::SetReadOnly(S(app / "_a.exe"), true);
    EXPECT_TRUE(ApagueBackup(a));
    EXPECT_FALSE(fs::exists(app / "_a.exe"));
    EXPECT_TRUE(ApagueBackup(a));
}

TEST(ukwUpdFileUtil, AddressesAndDerivedNames) {
    struct Endereco {
        const char* texto;
        bool http, ftp, dds;
    };
    const Endereco enderecos[] = {
        {"http://h/a", true, false, false},      {"HTTPS://h/a", true, false, false},
        {"Https:x", true, false, false},         {"httpx://h", false, false, false},
        {"FTP:srv\\a", false, true, false},      {"ftpPassivo:srv\\a", false, true, false},
        {"ftps:srv", false, false, false},       {"dds:https://h/a_1", false, false, true},
        {"C:\\App\\a.exe", false, false, false}, {"\\\\srv\\share\\a", false, false, false},
    };
    for (const auto& e : enderecos) {
        EXPECT_EQ(EhEnderecoHTTP(e.texto), e.http) << e.texto;
        EXPECT_EQ(EhEnderecoFTP(e.texto), e.ftp) << e.texto;
        EXPECT_EQ(EhEnderecoDDS(e.texto), e.dds) << e.texto;
    }
    struct Par {
        const char* de;
        const char* para;
    };
    for (const Par& p : {Par{"http://h/d/f", "ftp:h\\d\\f"},
                         Par{"HTTPS://h:99/d/e/f.exe", "ftp:h:99\\d\\e\\f.exe"}, Par{"http:/", "ftp:"}})
        EXPECT_EQ(ConvertaHTTPParaFTP(p.de), p.para) << p.de;
    for (const Par& p :
         {Par{"C:\\App\\kwExec.exe", "C:\\App\\_kwExec.exe"}, Par{"/app/kwExec.exe", "/app/_kwExec.exe"},
          Par{"/app/bin\\a.dll", "/app/bin\\_a.dll"}, Par{"a.dll", "_a.dll"}, Par{"/a", "/_a"}})
        EXPECT_EQ(NomeArquivoBackup(p.de), p.para) << p.de;
    EXPECT_EQ(NomeArquivoPatch("C:\\App\\kwExec.exe"), "C:\\App\\PATCH_kwExec.exe");
}

TEST(ukwUpdFileUtil, TemCRCInformado) {
    struct Caso {
        const char* texto;
        bool informado;
    };
    for (const Caso& c : {Caso{"", false}, Caso{"0", false}, Caso{"00", true}, Caso{" 0", true},
                          Caso{"-1", true}, Caso{"123", true}})
        EXPECT_EQ(TemCRCInformado(c.texto), c.informado) << "\"" << c.texto << "\"";
}

TEST_F(PastaLauncher, FileFactsSizeAndUtcTime) {
    using namespace std::chrono;
    const fs::path a = app / "a.dll";
    kwtest::WriteFile(a, std::string(1234, 'x'));
    // 2024-02-01 03:04:05.999 UTC: seconds are cut, never rounded up; no local-time shift.
    const auto hora = sys_days(year(2024) / 2 / 1) + hours(3) + minutes(4) + seconds(5) + milliseconds(999);
    plat::SetFileLastWriteTime(S(a), time_point_cast<system_clock::duration>(hora));

    std::string tamanho = "x";
    std::string dataHora = "x";
    PegueDadosArquivo(S(a), tamanho, dataHora);
    EXPECT_EQ(tamanho, "1234");
    EXPECT_EQ(dataHora, "01/02/2024 03:04:05");

    const rtl::FormatSettingsRec antes = rtl::FormatSettings;
    rtl::FormatSettings.DateSeparator = '-';
    rtl::FormatSettings.TimeSeparator = '.';
    PegueDadosArquivo(S(app) + "\\A.DLL", tamanho, dataHora);  // either notation, any case
    rtl::FormatSettings = antes;
    EXPECT_EQ(dataHora, "01-02-2024 03.04.05");

    // Past 4 GiB only the low 32 bits are kept, as a signed number.
    struct Grande {
        uint64_t bytes;
        const char* texto;
    };
    for (const Grande& g : {Grande{(1ull << 32) + 5, "5"}, Grande{3ull << 30, "-1073741824"}}) {
        const fs::path big = app / "big.bin";
        {
            rtl::FileStream f(S(big), rtl::FileMode::Create);
            f.SetSize(int64_t(g.bytes));
        }
        PegueDadosArquivo(S(big), tamanho, dataHora);
        EXPECT_EQ(tamanho, g.texto);
        fs::remove(big);
    }

    kwtest::WriteFile(app / ".oculto", "x");
    for (const std::string& p : {S(app / ".oculto"), S(app), S(app / "falta"), std::string("  ")}) {
        PegueDadosArquivo(p, tamanho, dataHora);
        EXPECT_EQ(tamanho, "") << p;
        EXPECT_EQ(dataHora, "") << p;
    }
}

TEST_F(PastaLauncher, FileTimesReadAsTheDateTimeRoutinesWriteThem) {
    // The time text is written directly; the date-time routines are the reference, over
    // month, year and century ends, leap days and times before 1970 (as far back as the file
    // system keeps them).
    using namespace std::chrono;
    const fs::path a = app / "a.dll";
    kwtest::WriteFile(a, "x");
    const sys_seconds quandos[] = {
        sys_days(year(2024) / 2 / 29) + hours(23) + minutes(59) + seconds(59),
        sys_days(year(2023) / 12 / 31) + hours(23) + minutes(59) + seconds(59),
        sys_days(year(2000) / 1 / 1),
        sys_days(year(1970) / 1 / 1),
        sys_days(year(1969) / 12 / 31) + hours(12) + seconds(1),
        sys_days(year(1902) / 3 / 1) + hours(7),
        sys_days(year(1904) / 2 / 29) + hours(10) + minutes(9) + seconds(8),
        sys_days(year(2038) / 1 / 19) + hours(3) + minutes(14) + seconds(8),
        sys_days(year(2100) / 2 / 28) + hours(1) + minutes(2) + seconds(3),
        sys_days(year(2100) / 3 / 1),
    };
    const rtl::FormatSettingsRec antes = rtl::FormatSettings;
    for (const char separadores : {'/', '.'}) {
        rtl::FormatSettings.DateSeparator = separadores;
        rtl::FormatSettings.TimeSeparator = separadores == '/' ? ':' : '-';
        for (const sys_seconds quando : quandos) {
            // A fraction of a second that must be cut, not rounded.
            const auto exato = time_point_cast<system_clock::duration>(quando + milliseconds(999));
            plat::SetFileLastWriteTime(S(a), exato);
            // The time the file system kept (one that cannot hold a date keeps its nearest).
            const auto guardado = plat::FileLastWriteTime(S(a));
            std::string tamanho;
            std::string dataHora;
            PegueDadosArquivo(S(a), tamanho, dataHora);
            EXPECT_EQ(dataHora, rtl::DateTimeToStr(rtl::DateTimeFromTimePoint(guardado, true)))
                << quando.time_since_epoch().count();
            EXPECT_EQ(ExamineArquivo(S(a)).dataHora, dataHora);
        }
    }
    rtl::FormatSettings = antes;
}

TEST_F(PastaLauncher, OneLookAtAPath) {
    kwtest::WriteFile(app / "Sub" / "A.dll", "12345");
    fs::create_directories(app / "pasta");
    kwtest::WriteFile(app / ".oculto", "x");
    struct Caso {
        std::string caminho;
        std::string local;
        bool arquivo, pasta;
        std::string tamanho;
    };
    const Caso casos[] = {
        {S(app) + "\\Sub\\A.dll", S(app / "Sub" / "A.dll"), true, false, "5"},
        {S(app) + "\\SUB\\a.DLL", S(app / "Sub" / "A.dll"), true, false, "5"},  // any case
        {S(app) + "\\pasta", S(app / "pasta"), false, true, ""},
        {S(app) + "\\.oculto", S(app / ".oculto"), true, false, ""},  // hidden: no facts
        {S(app) + "\\falta\\x", S(app / "falta" / "x"), false, false, ""},
    };
    // One look at a time, and the looks of one pass (which keep their folders open and their
    // texts' storage, in the order of the table and again): the same facts.
    TExaminadorArquivos examinador;
    TDadosArquivo passada;
    for (int volta = 0; volta < 2; ++volta) {
        for (const Caso& c : casos) {
            SCOPED_TRACE(c.caminho);
            const TDadosArquivo d = ExamineArquivo(c.caminho);
            examinador.Examine(c.caminho, passada);
            for (const TDadosArquivo* x : {&d, static_cast<const TDadosArquivo*>(&passada)}) {
                EXPECT_EQ(x->local, c.local);
                EXPECT_EQ(x->arquivo, c.arquivo);
                EXPECT_EQ(x->pasta, c.pasta);
                EXPECT_EQ(x->tamanho, c.tamanho);
                EXPECT_EQ(x->dataHora.empty(), c.tamanho.empty());
            }
            EXPECT_EQ(passada.dataHora, d.dataHora);
        }
    }
    const kwtest::ScopedEnv semDrive("KW_DRIVE_Q", std::nullopt);
    EXPECT_THROW(ExamineArquivo("Q:\\a"), rtl::Exception);
    EXPECT_THROW(examinador.Examine("Q:\\a", passada), rtl::Exception);
    // The checksum finds a file named in another case too.
    EXPECT_EQ(CalculeCRCArquivo(S(app) + "\\sub\\a.dll"), CalculeCRCArquivo(S(app / "Sub" / "A.dll")));
}

TEST_F(PastaLauncher, ChecksumOfWholeFilesAgainstZlib) {
    for (size_t n : {size_t(0), size_t(3), size_t(65519), size_t(65520), size_t(65521), size_t(1000003)}) {
        std::string bytes(n, '\0');
        for (size_t i = 0; i < n; ++i)
            bytes[i] = char((i * 2654435761u) >> 13);
        kwtest::WriteFile(app / "f.bin", bytes);
        const uLong esperado =
            crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(bytes.data()), uInt(n));
        EXPECT_EQ(CalculeCRCArquivo(S(app / "f.bin")), uint32_t(esperado)) << n;
    }
    EXPECT_THROW(CalculeCRCArquivo(S(app / "falta.bin")), rtl::EFOpenError);
}

TEST_F(PastaLauncher, TheLaunchersOwnExecutable) {
    EXPECT_FALSE(NaoEhOProprioExecutavel(S(dir / "QOR.EXE")));
    EXPECT_FALSE(NaoEhOProprioExecutavel(S(dir / "qor.exe")));
    EXPECT_TRUE(NaoEhOProprioExecutavel(S(dir / "QORAPP.exe")));
    EXPECT_TRUE(NaoEhOProprioExecutavel(S(app / "QOR.EXE")));
}

TEST_F(PastaLauncher, ClearingReadOnly) {
    kwtest::WriteFile(app / "a", "x");
    plat::SetReadOnly(S(app / "a"), true);
    UltimoErro = "antes";
    EXPECT_TRUE(RemovaSomenteLeitura(S(app / "a")));
    EXPECT_EQ(UltimoErro, "");
    EXPECT_FALSE(plat::IsReadOnly(S(app / "a")));
    EXPECT_TRUE(RemovaSomenteLeitura(S(app / "falta")));
    const kwtest::ScopedEnv semDrive("KW_DRIVE_Q", std::nullopt);
    EXPECT_FALSE(RemovaSomenteLeitura("Q:\\a"));
    EXPECT_NE(UltimoErro.find("KW_DRIVE_Q"), std::string::npos);
}

}  // namespace
