// The launcher log: line formats, the file it writes (byte for byte, newest run first, read-only
// flag cleared, replaced by rename), the base object's create/destroy lines and the exception
// that logs itself.
#include "common/ukwUpdLog.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "LauncherBaseTestSupport.h"
#include "platform/Files.h"
#include "platform/Process.h"
#include "rtl/Format.h"
#include "rtl/StringList.h"
#include "support/TestSupport.h"

namespace {

const std::string kStamp = "15/01/2027 08:00:00";
const std::string kSeparador = "\r\n" + std::string(54, '=') + "\r\n\r\n";

TEST(TkwUpdLog, LineFormats) {
    kwtest::FixedUtcClock clock;
    TkwUpdLog log;
    log.Adicione("INICIO - Execute...");
    log.AdicioneDetalhe("Conexão aberta com sucesso.");
    log.AdicioneItem("item");
    log.AdicioneErro("falhou");
    log.AdicioneTexto("linha 1\r\nlinha 2\nlinha 3\rlinha 4\r\n");
    log.AdicioneTexto("");
    log.AdicioneTexto("a\r\n\r\nb");
    log.AdicioneLinhas({{""}, {" # Verificando \"", "a\x01.dll", "\"..."}, {" - fim"}});
    const std::vector<std::string> want = {
        kStamp + " : INICIO - Execute...",
        kStamp + " :  - Conexão aberta com sucesso.",
        kStamp + " :  # item",
        kStamp + " :  - Erro: falhou",
        "linha 1",
        "linha 2",
        "linha 3",
        "linha 4",
        "a",
        "",
        "b",
        kStamp + " : ",
        kStamp + " :  # Verificando \"a\\x01.dll\"...",
        kStamp + " :  - fim",
    };
    EXPECT_EQ(log.Linhas(), want);
    std::string texto;
    for (const auto& l : want)
        texto += l + "\r\n";
    EXPECT_EQ(log.GetTexto(), texto);
}

// Texts from files and servers reach the log as they are: a control character is shown as
// "\xNN" (a NUL cut the line for many readers, an escape sequence drove the terminal), a line
// break of any kind inside a line is written as CR LF (a lone CR joined a message's lead
// sentence and its cause), tabs and non-ASCII letters stay.
TEST(TkwUpdLog, ControlCharactersAreShownAndLineBreaksKept) {
    kwtest::FixedUtcClock clock;
    using namespace std::string_literals;
    struct Case {
        const char* nome;
        std::function<void(TkwUpdLog&)> escreva;
        std::string texto;  // GetTexto
    };
    const Case cases[] = {
        {"NUL", [](TkwUpdLog& l) { l.Adicione("a\0b"s); }, kStamp + " : a\\x00b\r\n"},
        {"escape sequence and DEL past the first eight bytes",
         [](TkwUpdLog& l) { l.AdicioneDetalhe("Valor informado: \"3\x1b[31mX\x7f\""); },
         kStamp + " :  - Valor informado: \"3\\x1B[31mX\\x7F\"\r\n"},
        {"lone CR between two sentences", [](TkwUpdLog& l) { l.AdicioneErro("= N\rCausa: c"); },
         kStamp + " :  - Erro: = N\r\nCausa: c\r\n"},
        {"lone LF and CR LF", [](TkwUpdLog& l) { l.Adicione("a\nb\r\nc"); }, kStamp + " : a\r\nb\r\nc\r\n"},
        {"a CR LF across two parts is one break",
         [](TkwUpdLog& l) {
             l.AdicionePartes({"a\r", "\nb"});
         },
         kStamp + " : a\r\nb\r\n"},
        {"tabs and accents stay", [](TkwUpdLog& l) { l.Adicione("configuração\tação ÇÃÕ 0123456789"); },
         kStamp + " : configuração\tação ÇÃÕ 0123456789\r\n"},
        {"plain lines too", [](TkwUpdLog& l) { l.AdicioneTexto("um\x01\r\ndois\0"s); },
         "um\\x01\r\ndois\\x00\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.nome);
        TkwUpdLog log;
        c.escreva(log);
        EXPECT_EQ(log.GetTexto(), c.texto);
    }
}

TEST(TkwUpdLog, StampUsesTheLocaleSeparatorsAndTheClock) {
    kwtest::FixedUtcClock clock;
    const auto saved = rtl::FormatSettings;
    rtl::FormatSettings.DateSeparator = '-';
    rtl::FormatSettings.TimeSeparator = '.';
    TkwUpdLog log;
    clock.Clock().Advance((15 * 3600 + 4 * 60 + 5) * 1000);  // 23:04:05, the hour in 00..23
    log.Adicione("x");
    rtl::FormatSettings = saved;
    EXPECT_EQ(log.Linhas().at(0), "15-01-2027 23.04.05 : x");
}

// A verification writes megabytes of lines: they come back whole and in order across the
// log's storage, a line larger than any block included, each line with the stamp of the second
// it was written in, and a plain line between two stamped ones without any.
TEST(TkwUpdLog, MegabytesOfLinesComeBackWholeAndInOrder) {
    kwtest::FixedUtcClock clock;
    TkwUpdLog log;
    std::vector<std::string> want;
    std::string texto;
    auto espere = [&](const std::string& linha) {
        want.push_back(linha);
        texto += linha + "\r\n";
    };
    const std::string longa(3 << 20, 'x');
    for (int i = 0; i < 120000; ++i) {
        if (i == 60000) clock.Clock().Advance(1000);
        const std::string n = std::to_string(i);
        const std::string stamp = i < 60000 ? kStamp : "15/01/2027 08:00:01";
        if (i % 40000 == 7) {
            log.AdicioneDetalhe(longa + n);
            espere(stamp + " :  - " + longa + n);
        } else if (i % 1000 == 3) {
            log.AdicioneTexto("plano " + n + "\x01");
            espere("plano " + n + "\\x01");
        } else if (i % 1000 == 5) {
            log.Adicione("");
            espere(stamp + " : ");
        } else if (i % 7 == 6) {
            // Shown and broken only once written: its first copy is taken back.
            log.AdicionePartes({" - Valor \"", n + "\x1b", "\"\r", "\nfim"});
            espere(stamp + " :  - Valor \"" + n + "\\x1B\"");
            espere("fim");
        } else {
            log.AdicionePartes({" # Verificando a situação de \"", "f" + n + ".dll", "\"..."});
            espere(stamp + " :  # Verificando a situação de \"f" + n + ".dll\"...");
        }
    }
    ASSERT_GT(texto.size(), size_t(12) << 20);
    // Compared line by line: a report of megabytes would name nothing. A line holding a line
    // break comes back as one line.
    std::vector<std::string> linhas;
    for (const std::string& l : log.Linhas()) {
        const size_t quebra = l.find("\r\n");
        linhas.push_back(l.substr(0, quebra));
        if (quebra != std::string::npos) linhas.push_back(l.substr(quebra + 2));
    }
    ASSERT_EQ(linhas.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i)
        ASSERT_TRUE(linhas[i] == want[i]) << "line " << i;
    EXPECT_TRUE(log.GetTexto() == texto);
}

class TkwUpdLogFile : public ::testing::Test {
protected:
    kwtest::FixedUtcClock clock;
    kwtest::TempDir dir;
    std::string Path() const { return (dir / "kwVerify.log").string(); }
};

TEST_F(TkwUpdLogFile, NewFileHoldsThisRunOnly) {
    TkwUpdLog log;
    log.Adicione("um");
    log.AdicioneTexto("dois");
    log.SalveEmArquivo(Path(), true);
    EXPECT_EQ(kwtest::ReadFile(Path()), kStamp + " : um\r\ndois\r\n");
    EXPECT_TRUE(log.Linhas().empty());
}

TEST_F(TkwUpdLogFile, ExistingReadOnlyFileGetsThisRunThenSeparatorThenOldContent) {
    // The old file ends its lines in LF only and lacks a final line break: its lines come back
    // unchanged, each ended in CR LF.
    kwtest::WriteFile(Path(), "velha 1\nvelha 2");
    plat::SetReadOnly(Path(), true);
    TkwUpdLog log;
    log.Adicione("nova");
    log.SalveEmArquivo(Path(), true);
    EXPECT_EQ(kwtest::ReadFile(Path()), kStamp + " : nova\r\n" + kSeparador + "velha 1\r\nvelha 2\r\n");
    EXPECT_FALSE(plat::IsReadOnly(Path()));
}

TEST_F(TkwUpdLogFile, RunsPileUpNewestFirstAndWithoutSeparatorWhenNotAsked) {
    TkwUpdLog log;
    log.Adicione("run 1");
    log.SalveEmArquivo(Path(), true);
    log.Adicione("run 2");
    log.SalveEmArquivo(Path(), true);
    log.Adicione("run 3");
    log.SalveEmArquivo(Path(), false);
    EXPECT_EQ(kwtest::ReadFile(Path()),
              kStamp + " : run 3\r\n" + kStamp + " : run 2\r\n" + kSeparador + kStamp + " : run 1\r\n");
}

TEST_F(TkwUpdLogFile, AnEmptyExistingFileStillGetsTheSeparator) {
    kwtest::WriteFile(Path(), "");
    TkwUpdLog log;
    log.Adicione("x");
    log.SalveEmArquivo(Path(), true);
    EXPECT_EQ(kwtest::ReadFile(Path()), kStamp + " : x\r\n" + kSeparador);
}

TEST_F(TkwUpdLogFile, TheFileIsReplacedByRenameLeavingNoTemporaryFile) {
    kwtest::WriteFile(Path(), "velha\r\n");
    struct stat before {};
    ASSERT_EQ(::stat(Path().c_str(), &before), 0);
    TkwUpdLog log;
    log.Adicione("nova");
    log.SalveEmArquivo(Path(), true);
    struct stat after {};
    ASSERT_EQ(::stat(Path().c_str(), &after), 0);
    // A new file took the old one's name: the old content was never truncated in place.
    EXPECT_NE(before.st_ino, after.st_ino);
    int files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
        (void)e;
        ++files;
    }
    EXPECT_EQ(files, 1);
}

TEST_F(TkwUpdLogFile, WindowsNotationPathIsMapped) {
    std::filesystem::create_directory(dir / "log");
    TkwUpdLog log;
    log.Adicione("x");
    log.SalveEmArquivo(dir.path().string() + "/log\\kwVerify.log", true);
    EXPECT_EQ(kwtest::ReadFile(dir / "log" / "kwVerify.log"), kStamp + " : x\r\n");
}

TEST_F(TkwUpdLogFile, AFolderThatDoesNotExistRaisesAndKeepsTheLines) {
    TkwUpdLog log;
    log.Adicione("x");
    EXPECT_THROW(log.SalveEmArquivo((dir / "nao-existe" / "kwVerify.log").string(), true), rtl::Exception);
    EXPECT_EQ(log.Linhas().size(), 1u);
}

// The file's ceiling: the newest whole blocks that fit stay, byte for byte; older blocks go
// whole, never cut, and this run's block ends with a line saying so. The ceiling is lowered
// here so that a few short blocks reach it.
TEST_F(TkwUpdLogFile, TheFileKeepsItsNewestWholeBlocksWithinTheCeiling) {
    // Blocks larger than the notice, so that it costs at most one of them.
    const auto bloco = [](int n) {
        std::string b;
        for (int i = 1; i <= 5; ++i)
            b += i == 3
                     ? "\r\n"
                     : "10/12/2026 13:00:0" + std::to_string(i) + " : b" + std::to_string(n) + " linha\r\n";
        return b;
    };
    const std::string velho = bloco(1) + kSeparador + bloco(2) + kSeparador + bloco(3);
    const std::string nova = kStamp + " : nova\r\n";
    const auto aviso = [](size_t limite) {
        return kStamp + " : As execuções mais antigas do log foram removidas para manter o arquivo em até " +
               std::to_string(limite) + " bytes.\r\n";
    };
    const std::string inteiro = nova + kSeparador + velho;
    // What the file holds with the notice and the first n old blocks.
    const auto com = [&](size_t limite, int n) {
        std::string r = nova + aviso(limite);
        for (int i = 1; i <= n; ++i)
            r += kSeparador + bloco(i);
        return r;
    };
    // The sizes with a ceiling of three digits, as these are.
    const size_t doisBlocos = com(100, 2).size();
    const size_t umBloco = com(100, 1).size();
    ASSERT_LT(doisBlocos, inteiro.size());
    ASSERT_LT(doisBlocos, 1000u);
    const std::string semQuebras(300, 'x');
    struct Case {
        const char* nome;
        std::string velho;
        size_t limite;
        std::string esperado;
    };
    const Case cases[] = {
        {"everything fits", velho, 10000, inteiro},
        {"exactly at the ceiling", velho, inteiro.size(), inteiro},
        {"two blocks fit", velho, doisBlocos, com(doisBlocos, 2)},
        {"one byte short of two blocks keeps one", velho, doisBlocos - 1, com(doisBlocos - 1, 1)},
        {"only the newest fits", velho, umBloco, com(umBloco, 1)},
        {"this run alone passes the ceiling", velho, 10, nova + aviso(10)},
        {"an old text without blocks that does not fit", semQuebras, 200, nova + aviso(200)},
        {"a damaged oldest block (no line break, NUL bytes) goes alone",
         bloco(1) + kSeparador + std::string(400, '\0'), umBloco + 50, com(umBloco + 50, 1)},
        {"line ends other than CR LF are kept as lines", "v 1\nv 2\r\n\n" + std::string(54, '=') + "\n\nv 3",
         10000, nova + kSeparador + "v 1\r\nv 2\r\n" + kSeparador + "v 3\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.nome);
        kwtest::WriteFile(Path(), c.velho);
        TkwUpdLog log;
        log.Adicione("nova");
        log.SalveEmArquivo(Path(), true, c.limite);
        const std::string escrito = kwtest::ReadFile(Path());
        EXPECT_EQ(escrito, c.esperado);
        if (c.esperado.size() > nova.size() + aviso(c.limite).size()) {
            EXPECT_LE(escrito.size(), c.limite);
        }
    }
}

// Runs pile up at the ceiling: each save drops what no longer fits, the newest runs stay.
TEST_F(TkwUpdLogFile, RunsAfterRunsStayWithinTheCeiling) {
    constexpr size_t kLimite = 4096;
    for (int run = 1; run <= 40; ++run) {
        TkwUpdLog log;
        for (int i = 0; i < 5; ++i)
            log.Adicione("run " + std::to_string(run) + " linha " + std::to_string(i));
        log.SalveEmArquivo(Path(), true, kLimite);
        const std::string texto = kwtest::ReadFile(Path());
        ASSERT_LE(texto.size(), kLimite) << run;
        EXPECT_EQ(texto.rfind(kStamp + " : run " + std::to_string(run) + " linha 0\r\n", 0), 0u);
        // Every block in the file is whole: its five lines, in order.
        rtl::StringList lista;
        lista.SetText(texto);
        const std::vector<std::string>& linhas = lista.Lines();
        int anterior = run + 1;
        for (size_t i = 0; i < linhas.size(); ++i) {
            const size_t p = linhas[i].find(" : run ");
            if (p == std::string::npos || linhas[i].find(" linha 0") == std::string::npos) continue;
            const int r = std::stoi(linhas[i].substr(p + 7));
            EXPECT_EQ(r, anterior - 1) << "a run is missing between the kept ones";
            anterior = r;
            ASSERT_LT(i + 4, linhas.size());
            EXPECT_NE(linhas[i + 4].find("run " + std::to_string(r) + " linha 4"), std::string::npos);
        }
        if (run == 40) {
            EXPECT_GT(anterior, 1);  // older runs did go
        }
    }
}

// A long-lived launcher object as the launcher driver writes it: its own INICIO/FIM lines
// around the base's create and destroy marks.
class TkwUpdTeste : public TkwUpdClasseBasica {
public:
    TkwUpdTeste(TkwUpdLog* log, TkwUpdLog* secundario)
        : TkwUpdClasseBasica("TkwUpdTeste", log, secundario, 42) {
        Log->Adicione("FIM - Create");
    }
    ~TkwUpdTeste() override {
        Log->Adicione("INICIO - Destroy...");
        Log->Adicione("FIM - Destroy...");
    }
};

TEST(TkwUpdClasseBasica, MarksCreationAndDestructionAndKeepsItsFields) {
    TkwUpdLog log, secundario;
    {
        TkwUpdTeste objeto(&log, &secundario);
        EXPECT_EQ(objeto.Log, &log);
        EXPECT_EQ(objeto.LogSecundario, &secundario);
        EXPECT_EQ(objeto.CdSistema, 42);
        EXPECT_EQ(objeto.ClassName(), "TkwUpdTeste");
    }
    const std::vector<std::string> want = {"#CREATE# TkwUpdTeste", "INICIO - Create...",
                                           "FIM - Create",         "INICIO - Destroy...",
                                           "FIM - Destroy...",     "#DESTROY# TkwUpdTeste"};
    EXPECT_EQ(kwtest::Texts(log), want);
    EXPECT_TRUE(secundario.Linhas().empty());
}

// An object whose end line follows the base's mark, as the verification engine writes it.
class TkwUpdTesteMarcaAntes : public TkwUpdClasseBasica {
public:
    explicit TkwUpdTesteMarcaAntes(TkwUpdLog* log)
        : TkwUpdClasseBasica("TkwUpdTesteMarcaAntes", log, nullptr, 1) {}
    ~TkwUpdTesteMarcaAntes() override {
        Log->Adicione("INICIO - Destroy...");
        RegistreDestruicao();
        Log->Adicione("FIM - Destroy...");
    }
};

TEST(TkwUpdClasseBasica, TheDestructionMarkCanComeBeforeTheSubclassEndLineAndOnlyOnce) {
    TkwUpdLog log;
    { TkwUpdTesteMarcaAntes objeto(&log); }
    const std::vector<std::string> want = {"#CREATE# TkwUpdTesteMarcaAntes", "INICIO - Create...",
                                           "INICIO - Destroy...", "#DESTROY# TkwUpdTesteMarcaAntes",
                                           "FIM - Destroy..."};
    EXPECT_EQ(kwtest::Texts(log), want);
}

TEST(TkwUpdException, LogsItselfWhenCreatedBeforeAnythingCatchesIt) {
    TkwUpdLog log;
    TkwUpdException e("O arquivo \"x\" não existe.", log);
    EXPECT_EQ(kwtest::Texts(log), std::vector<std::string>{"EXCEPTION: O arquivo \"x\" não existe."});
    EXPECT_EQ(e.Message(), "O arquivo \"x\" não existe.");
    EXPECT_STREQ(e.ClassName(), "TkwUpdException");
}

TEST(TkwUpdException, TheUnavailableSiteVariantIsCaughtAsTheLauncherException) {
    TkwUpdLog log;
    try {
        throw EkwLocalUpdateIndisponivel("Nenhum local de update disponível", log);
    } catch (const TkwUpdException& e) {
        EXPECT_STREQ(e.ClassName(), "EkwLocalUpdateIndisponivel");
        EXPECT_NE(dynamic_cast<const EkwLocalUpdateIndisponivel*>(&e), nullptr);
    }
    EXPECT_EQ(kwtest::Texts(log), std::vector<std::string>{"EXCEPTION: Nenhum local de update disponível"});
}

TEST(TkwUpdLog, TwoWritersLoseNoLine) {
    TkwUpdLog log;
    auto escreva = [&log](const std::string& quem) {
        for (int i = 0; i < 2000; ++i)
            log.AdicioneDetalhe(quem + std::to_string(i));
    };
    std::thread a(escreva, "a"), b(escreva, "b");
    a.join();
    b.join();
    EXPECT_EQ(log.Linhas().size(), 4000u);
}

}  // namespace

// Launchers that end together, as real processes: every run's block reaches the log. Without
// a lock across processes from the read to the rename, a later rename dropped the blocks
// saved meanwhile (3 to 9 of 120 runs were lost). The old log is large, so each save takes a
// while and the runs overlap.
TEST(TkwUpdLogProcessos, RunsEndingTogetherLoseNoBlock) {
    kwtest::TempDir dir;
    const auto log = (dir / "kwVerify.log").string();
    std::string velho;
    for (int i = 0; i < 40000; ++i)
        velho += "10/12/2026 13:00:00 : linha antiga " + std::to_string(i) + "\r\n";
    kwtest::WriteFile(log, velho);
    const std::string prog = kwtest::ProgPath("kwbase_log_block").string();
    constexpr int kRodadas = 4, kJuntos = 30;
    for (int r = 0; r < kRodadas; ++r) {
        std::vector<int> pids;
        for (int j = 0; j < kJuntos; ++j) {
            plat::ProcessOptions o;
            o.output = plat::ProcessOutput::Null;
            pids.push_back(plat::StartProcess(prog, {log, std::to_string(r * kJuntos + j), "20"}, o).pid);
        }
        // The reaper threads collect them; wait until no one is left.
        ASSERT_TRUE(kwtest::Eventually(
            [&] {
                for (int pid : pids)
                    if (::kill(pid, 0) == 0) return false;
                return true;
            },
            std::chrono::seconds(120)));
    }
    const std::string texto = kwtest::ReadFile(log);
    int perdidos = 0;
    for (int id = 0; id < kRodadas * kJuntos; ++id)
        if (texto.find("bloco " + std::to_string(id) + " linha 19\r\n") == std::string::npos) ++perdidos;
    EXPECT_EQ(perdidos, 0);
    EXPECT_NE(texto.find("linha antiga 39999\r\n"), std::string::npos);
}

// An old log far past the ceiling (1 GiB, sparse: no disk is used) is not read into memory: the
// save reads only what it keeps. Before, every save read the whole old file, and the launcher's
// memory grew with its log (five runs with a large requisites list took it from 446 MB to 1.5 GB).
TEST(TkwUpdLogProcessos, AnOldLogPastTheCeilingIsNotReadWhole) {
    kwtest::TempDir dir;
    const auto log = (dir / "kwVerify.log").string();
    {
        std::FILE* f = std::fopen(log.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(::ftruncate(::fileno(f), off_t(1) << 30), 0);
        std::fclose(f);
    }
    plat::ProcessOptions o;
    o.wait = true;
    o.output = plat::ProcessOutput::Capture;
    const auto r = plat::StartProcess(kwtest::ProgPath("kwbase_log_block").string(), {log, "1", "3"}, o);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    const size_t p = r.output.find("maxrss_kb=");
    ASSERT_NE(p, std::string::npos) << r.output;
    const long kb = std::stol(r.output.substr(p + 10));
    EXPECT_LT(kb, 256L * 1024) << "peak memory of the save, in KB";
    // The old text had no block that fits (one line of a gigabyte): this run's block alone.
    const std::string texto = kwtest::ReadFile(log);
    EXPECT_LT(texto.size(), 1024u);
    EXPECT_NE(texto.find("bloco 1 linha 2\r\n"), std::string::npos);
    EXPECT_NE(
        texto.find("As execuções mais antigas do log foram removidas para manter o arquivo em até 16 MB."),
        std::string::npos);
}
