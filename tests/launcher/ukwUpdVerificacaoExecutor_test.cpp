// Tests of the update executor's self-update from folder sites: when a copy is needed, which
// site it comes from, the messages when none works, the versioned name, the check of the copy
// before it replaces the old executor, and what the history records.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include <filesystem>

#include "VerificacaoTestSupport.h"
#include "common/aCRC32.h"
#include "launcher/ukwUpdVerificacao.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "rtl/Exception.h"
#include "rtl/Text.h"
#include "support/LoopbackListeners.h"
#include "transfer/ukwUpdFileUtil.h"

namespace {

namespace fs = std::filesystem;
using kwtest::Historico;
using kwtest::Requisito;

const std::string kNovo = "executor novo";
const std::string kVelho = "executor velho";

class Executor : public kwtest::PastaVerificacao {
protected:
    void SetUp() override {
        PastaVerificacao::SetUp();
        for (const char* s : {"site1", "site2", "site3"})
            fs::create_directories(dir / s);
        GraveHistorico("");
    }

    // The executor's requisite: destination is the launcher's folder.
    Requisito Req() const {
        Requisito r;
        r.sistema = "99";  // another system than the engine's 12: the record is the requisite's
        r.objeto = "kwExec.exe";
        r.destino = "";
        r.controle = "5";
        r.op = "1";
        r.site1 = Site(1);
        r.site2 = Site(2);
        r.site3 = Site(3);
        r.fl1 = "S";
        r.fl2 = "S";
        r.fl3 = "S";
        return r;
    }
    std::string Site(int n) const { return (dir / ("site" + std::to_string(n))).string() + "/"; }
    fs::path Destino() const { return dir / "kwExec.exe"; }
    std::string Crc(const std::string& conteudo) const {
        return std::to_string(int32_t(CRC32Of(conteudo.data(), conteudo.size())));
    }

    // Runs the verification; the exception's text, or "" when it ends normally.
    std::string Verifique(const std::string& requisitos, bool versionada = false, TkwUpdLog* log = nullptr) {
        TkwUpdLog proprio;
        TkwUpdLog& l = log ? *log : proprio;
        try {
            TkwUpdVerificacao v(&l, nullptr, 12, &kwUpdIni());
            atualizar = v.VerifiqueNecessidadeAtualizacao(requisitos, false, versionada);
            alteracoes = v.Alteracoes().GetTexto();
            return "";
        } catch (const std::exception& e) {
            return e.what();
        }
    }

    // Only the executor and the expected files are in the launcher's folder: no temporary
    // copy, no backup.
    void SemSobras() const {
        for (const auto& e : fs::directory_iterator(dir.path())) {
            const std::string nome = e.path().filename().string();
            EXPECT_TRUE(nome == "kwExec.exe" || nome == "kwCFG.ini" || nome == "log" ||
                        nome.rfind("site", 0) == 0)
                << nome;
        }
    }

    std::string RegistroNovo(const std::string& controle = "5", const std::string& op = "1") const {
        std::string tamanho;
        std::string dataHora;
        PegueDadosArquivo(Destino().string(), tamanho, dataHora);
        return Historico("99", rtl::UpperCase(estacao), "KWEXEC.EXE", controle, op, Destino().string(),
                         tamanho, dataHora);
    }

    bool atualizar = false;
    std::string alteracoes;
};

TEST_F(Executor, ACurrentExecutorIsNotCopied) {
    kwtest::WriteFile(Destino(), kVelho);
    kwtest::WriteFile(dir / "site1" / "kwExec.exe", kNovo);
    std::string tamanho;
    std::string dataHora;
    PegueDadosArquivo(Destino().string(), tamanho, dataHora);
    struct Caso {
        const char* nome;
        std::string crc;
        bool copia;
    };
    const Caso casos[] = {
        {"matching checksum", Crc(kVelho), false},
        {"no checksum", "", false},
        {"checksum 0", "0", false},
        {"other checksum", Crc(kNovo), true},
    };
    for (const Caso& c : casos) {
        kwtest::WriteFile(Destino(), kVelho);
        PegueDadosArquivo(Destino().string(), tamanho, dataHora);
        GraveHistorico(
            Historico("99", rtl::UpperCase(estacao), "KWEXEC.EXE", "5", "1", "", tamanho, dataHora));
        Requisito r = Req();
        r.crc = c.crc;
        EXPECT_EQ(Verifique(r.Linha(16)), "") << c.nome;
        EXPECT_EQ(kwtest::ReadFile(Destino()), c.copia ? kNovo : kVelho) << c.nome;
        EXPECT_FALSE(atualizar) << c.nome;  // the executor's requisite never becomes a change
        EXPECT_EQ(alteracoes, "") << c.nome;
    }
}

TEST_F(Executor, MissingOrOtherVersionIsCopiedAndRecorded) {
    struct Caso {
        const char* nome;
        bool existe;
        std::string historico;  // control;op of the executor's record
        std::string op;
    };
    const Caso casos[] = {
        {"missing", false, "5;1", "1"},        {"higher installed: downgrade", true, "7;1", "1"},
        {"lower installed", true, "3;1", "1"}, {"operation 5, lower", true, "3;5", "5"},
        {"no record", true, "", "1"},
    };
    for (const Caso& c : casos) {
        fs::remove(Destino());
        if (c.existe) kwtest::WriteFile(Destino(), kVelho);
        kwtest::WriteFile(dir / "site1" / "kwExec.exe", kNovo);
        const std::string outro = Historico("1", "X", "B.DLL", "1", "2");
        std::string h = outro;
        if (!c.historico.empty()) {
            const auto campos = rtl::SplitFields(c.historico, ';');
            h += Historico("99", rtl::UpperCase(estacao), "KWEXEC.EXE", campos[0], campos[1]);
        }
        GraveHistorico(h);
        Requisito r = Req();
        r.op = c.op;
        r.crc = Crc(kNovo);
        TkwUpdLog log;
        EXPECT_EQ(Verifique(r.Linha(16), false, &log), "") << c.nome;
        EXPECT_EQ(kwtest::ReadFile(Destino()), kNovo) << c.nome;
        EXPECT_EQ(kwtest::ReadFile(Log("kwExec.hst")), outro + RegistroNovo("5", c.op)) << c.nome;
        EXPECT_TRUE(TemLinha(
            log, " - " + kwUpdConfig().GetCaminhoExecutor() + " desatualizado. Copiando a versão nova..."))
            << c.nome;
        EXPECT_TRUE(TemLinha(log, " - Integridade OK.")) << c.nome;
        EXPECT_TRUE(TemLinha(log, " - Atualização do kwExec OK")) << c.nome;
        EXPECT_EQ(alteracoes, "") << c.nome;
        SemSobras();
    }
}

// The launcher's folder is on a file system where nothing may run (mounted noexec): the new
// executor could never start, so it is neither installed nor recorded, and the run fails
// saying so. The site's file has no execute bits either (before, its mode was copied and the
// installed executor failed with "Permission denied" at every later run).
TEST_F(Executor, ACopyThatCannotBeMadeStartableIsNeitherInstalledNorRecorded) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount";
    const std::string pasta = dir.path().string();
    if (::system(("mount --bind " + pasta + " " + pasta + " 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "no bind mount here";
    struct Desmonta {
        std::string p;
        ~Desmonta() { [[maybe_unused]] const int r = ::system(("umount " + p).c_str()); }
    } desmonta{pasta};
    ASSERT_EQ(::system(("mount -o remount,bind,noexec " + pasta + " " + pasta).c_str()), 0);
    kwtest::WriteFile(Destino(), kVelho);
    kwtest::WriteFile(dir / "site1" / "kwExec.exe", kNovo);
    fs::permissions(dir / "site1" / "kwExec.exe", fs::perms::owner_read | fs::perms::owner_write |
                                                      fs::perms::group_read | fs::perms::others_read);
    const std::string antes = Historico("1", "X", "B.DLL", "1", "2");
    GraveHistorico(antes);
    Requisito r = Req();
    r.crc = Crc(kNovo);
    r.fl2 = "N";
    r.fl3 = "N";
    const std::string erro = Verifique(r.Linha(16));
    EXPECT_NE(erro.find("não pode ser tornado executável"), std::string::npos) << erro;
    EXPECT_EQ(kwtest::ReadFile(Destino()), kVelho);
    EXPECT_EQ(kwtest::ReadFile(Log("kwExec.hst")), antes);
    SemSobras();
}

// The copy is recorded under the requisite's system, where the next run looks for it: an
// executor delivered for the generic system (-1) is copied once, not at every run.
TEST_F(Executor, ACopiedExecutorIsCurrentAtTheNextRun) {
    for (const char* sistema : {"-1", "12", "99"}) {
        kwtest::WriteFile(Destino(), kVelho);
        kwtest::WriteFile(dir / "site1" / "kwExec.exe", kNovo);
        GraveHistorico("");
        Requisito r = Req();
        r.sistema = sistema;
        r.crc = Crc(kNovo);
        const std::string desatualizado =
            " - " + kwUpdConfig().GetCaminhoExecutor() + " desatualizado. Copiando a versão nova...";
        TkwUpdLog primeira;
        EXPECT_EQ(Verifique(r.Linha(16), false, &primeira), "") << sistema;
        EXPECT_TRUE(TemLinha(primeira, desatualizado)) << sistema;
        EXPECT_EQ(rtl::SplitFields(kwtest::ReadFile(Log("kwExec.hst")), ';').front(), sistema);
        TkwUpdLog segunda;
        EXPECT_EQ(Verifique(r.Linha(16), false, &segunda), "") << sistema;
        EXPECT_FALSE(TemLinha(segunda, desatualizado)) << sistema;
        EXPECT_TRUE(TemLinha(segunda, " - Objeto já atualizado")) << sistema;
    }
}

// A damaged history and an executor that is copied: the copy records itself, the history index
// is built again for the next requisite, and each damaged record is still named once. Before,
// every build named them all again (1,040 lines for one garbage history of 520).
TEST_F(Executor, DamagedRecordsAreNamedOncePerRun) {
    kwtest::WriteFile(Destino(), kVelho);
    kwtest::WriteFile(dir / "site1" / "kwExec.exe", kNovo);
    GraveHistorico("lixo sem campos\r\n12;X;A.DLL;x5;1;;;\r\n\x01\x02;;;;\r\n12;X;A.DLL;5");
    Requisito a = Req();
    a.sistema = "12";
    a.objeto = "a.dll";
    a.op = "2";
    TkwUpdLog log;
    EXPECT_EQ(Verifique(Req().Linha(16) + a.Linha(16), false, &log), "");
    EXPECT_EQ(kwtest::ReadFile(Destino()), kNovo);
    EXPECT_TRUE(atualizar);
    std::vector<std::string> nomeados;
    for (const std::string& t : Textos(log))
        if (t.find("do histórico (HST) ignorado") != std::string::npos) nomeados.push_back(t);
    EXPECT_EQ(nomeados,
              (std::vector<std::string>{
                  " - Erro: Registro 1 do histórico (HST) ignorado: está incompleto (1 de 8 campos).",
                  " - Erro: Registro 2 do histórico (HST) ignorado: nuControle \"x5\" e cdTipoOperacao "
                  "\"1\" devem ser números inteiros.",
                  " - Erro: Registro 3 do histórico (HST) ignorado: está incompleto (5 de 8 campos).",
                  " - Erro: Registro 4 do histórico (HST) ignorado: está incompleto (4 de 8 campos).",
              }));
}

TEST_F(Executor, SitesInTurn) {
    struct Caso {
        const char* nome;
        int campos;
        std::string fl1, fl2, fl3;
        bool site1, site2, site3;  // the site holds the file
        std::string vem;           // where the copy comes from ("" : it fails)
        std::string erro;          // the failure's text (start of it)
        std::string linha;         // a line the log must hold
    };
    const std::string motivo2 =
        "Não foi possível atualizar \"kwExec.exe\". Motivo: Erro ao copiar o arquivo \"" + Site(2) +
        "kwExec.exe\"";
    const Caso casos[] = {
        {"site 1", 16, "S", "S", "S", true, true, true, "1", "", ""},
        {"site 1 down, site 2 up", 16, "S", "S", "S", false, true, true, "2", "",
         "Não foi possível atualizar \"kwExec.exe\". Motivo: Erro ao copiar o arquivo \"" + Site(1) +
             "kwExec.exe\""},
        {"flag 1 N", 16, "N", "S", "S", true, true, true, "2", "",
         "Não foi possível tentar a atualização no local update principal, pois está configurado para "
         "fldisponivel1 = N"},
        {"flag 2 N", 16, "S", "N", "S", false, true, true, "",
         "Não foi possível tentar a atualização no segundo local update, pois está configurado para "
         "fldisponivel2 = N",
         ""},
        {"14 fields, site 2 down", 14, "S", "S", "", false, false, true, "", motivo2,
         "Não foi possível tentar a atualização no terceiro local update, pois está configurado para "
         "fldisponivel3 = "
         "N"},
        {"flag 3 N, site 2 down", 16, "S", "S", "N", false, false, true, "", motivo2,
         "Não foi possível tentar a atualização no terceiro local update, pois está configurado para "
         "fldisponivel3 = "
         "N"},
        {"site 3", 16, "S", "S", "S", false, false, true, "3", "", ""},
        {"all down", 16, "S", "S", "S", false, false, false, "",
         "Não foi possível atualizar \"kwExec.exe\". Motivo: Erro ao copiar o arquivo \"" + Site(3) +
             "kwExec.exe\"",
         ""},
    };
    for (const Caso& c : casos) {
        kwtest::WriteFile(Destino(), kVelho);
        GraveHistorico("");
        for (int s = 1; s <= 3; ++s) {
            fs::remove(dir / ("site" + std::to_string(s)) / "kwExec.exe");
            if ((s == 1 && c.site1) || (s == 2 && c.site2) || (s == 3 && c.site3))
                kwtest::WriteFile(dir / ("site" + std::to_string(s)) / "kwExec.exe",
                                  "do site " + std::to_string(s));
        }
        Requisito r = Req();
        r.fl1 = c.fl1;
        r.fl2 = c.fl2;
        r.fl3 = c.fl3;
        UsaProxy = false;
        TkwUpdLog log;
        const std::string erro = Verifique(r.Linha(c.campos), false, &log);
        EXPECT_TRUE(UsaProxy) << c.nome;  // on again however it ended
        if (c.vem.empty()) {
            EXPECT_EQ(erro.substr(0, c.erro.size()), c.erro) << c.nome;
            EXPECT_FALSE(c.erro.empty()) << c.nome;
            EXPECT_EQ(kwtest::ReadFile(Destino()), kVelho) << c.nome;
            EXPECT_EQ(kwtest::ReadFile(Log("kwExec.hst")), "") << c.nome;
        } else {
            EXPECT_EQ(erro, "") << c.nome;
            EXPECT_EQ(kwtest::ReadFile(Destino()), "do site " + c.vem) << c.nome;
        }
        if (!c.linha.empty()) {
            bool achou = false;
            for (const std::string& t : Textos(log))
                achou = achou || t.rfind(c.linha, 0) == 0;
            EXPECT_TRUE(achou) << c.nome << ": " << c.linha;
        }
        SemSobras();
    }
}

TEST_F(Executor, ASiteWithoutAddressIsOff) {
    kwtest::WriteFile(Destino(), kVelho);
    kwtest::WriteFile(dir / "site2" / "kwExec.exe", kNovo);
    // Without an address the first site would be "kwExec.exe" relative to wherever the
    // launcher runs; it is off instead, and the second site serves.
    Requisito r = Req();
    r.site1 = "";
    TkwUpdLog log;
    EXPECT_EQ(Verifique(r.Linha(16), false, &log), "");
    EXPECT_EQ(kwtest::ReadFile(Destino()), kNovo);
    EXPECT_TRUE(TemLinha(
        log,
        "Não foi possível tentar a atualização no local update principal, pois ele não está configurado"));
}

TEST_F(Executor, VersionedNames) {
    kwtest::WriteFile(Destino(), kVelho);
    kwtest::WriteFile(dir / "site1" / "kwExec.exe", "sem versão");
    kwtest::WriteFile(dir / "site1" / "kwExec.exe_12", kNovo);
    Requisito r = Req();
    r.controle = "12";
    TkwUpdLog log;
    EXPECT_EQ(Verifique(r.Linha(16), true, &log), "");
    EXPECT_EQ(kwtest::ReadFile(Destino()), kNovo);
    EXPECT_TRUE(TemLinha(log, " -  - De : " + Site(1) + "kwExec.exe_12"));
    EXPECT_EQ(kwtest::ReadFile(Log("kwExec.hst")), RegistroNovo("12"));
}

TEST_F(Executor, AChecksumMismatchKeepsTheOldExecutorAndRecordsNothing) {
    kwtest::WriteFile(Destino(), kVelho);
    kwtest::WriteFile(dir / "site1" / "kwExec.exe", "corrompido");
    kwtest::WriteFile(dir / "site2" / "kwExec.exe", kNovo);  // another site is not tried
    const std::string antes = Historico("99", rtl::UpperCase(estacao), "KWEXEC.EXE", "3", "1");
    GraveHistorico(antes);
    Requisito r = Req();
    r.crc = Crc(kNovo);
    TkwUpdLog log;
    const std::string erro = Verifique(r.Linha(16), false, &log);
    EXPECT_EQ(erro, "Arquivo \"" + Destino().string() +
                        "\" não está íntegro. Não é possível completar a atualização do sistema.");
    EXPECT_TRUE(TemLinha(log, " - ERRO: Arquivo NÃO está íntegro."));
    EXPECT_EQ(kwtest::ReadFile(Destino()), kVelho);
    EXPECT_EQ(kwtest::ReadFile(Log("kwExec.hst")), antes);
    SemSobras();
}

TEST_F(Executor, AReadOnlyExecutorIsReplaced) {
    kwtest::WriteFile(Destino(), kVelho);
    plat::SetReadOnly(Destino().string(), true);
    kwtest::WriteFile(dir / "site1" / "kwExec.exe", kNovo);
    plat::SetReadOnly((dir / "site1" / "kwExec.exe").string(), true);
    Requisito r = Req();
    r.crc = Crc(kNovo);
    EXPECT_EQ(Verifique(r.Linha(16)), "");
    EXPECT_EQ(kwtest::ReadFile(Destino()), kNovo);
    SemSobras();
}

TEST_F(Executor, AHistoryThatCannotBeSavedPutsTheOldExecutorBack) {
    kwtest::WriteFile(Destino(), kVelho);
    kwtest::WriteFile(dir / "site1" / "kwExec.exe", kNovo);
    fs::remove(Log("kwExec.hst"));
    fs::create_directories(Log("kwExec.hst") / "x");  // the history's name is taken by a folder
    Requisito r = Req();
    r.fl2 = r.fl3 = "N";
    EXPECT_NE(Verifique(r.Linha(16)), "");
    EXPECT_EQ(kwtest::ReadFile(Destino()), kVelho);
    SemSobras();
}

TEST_F(Executor, ProtocolSiteRetriedOnTheClockThenAFolderSite) {
    Configure("MaximoTentativasDownload=3\r\nTempoEsperaSegundosNovaTentativaDownload=2\r\n");
    plat::ManualClock relogio;
    plat::ScopedClock usa(relogio);
    kwtest::WriteFile(Destino(), kVelho);
    kwtest::WriteFile(dir / "site2" / "kwExec.exe", kNovo);
    Requisito r = Req();
    // An FTP server where nothing listens: every connection is refused.
    const kwtest::RefusedPort recusa;
    const std::string host = recusa.Address();
    r.site1 = "FTP:" + host + "\\dist\\";
    TkwUpdLog log;
    EXPECT_EQ(Verifique(r.Linha(16), false, &log), "");
    EXPECT_EQ(kwtest::ReadFile(Destino()), kNovo);
    EXPECT_EQ(relogio.Elapsed(), 6000u);
    int tentativas = 0;
    for (const std::string& t : Textos(log))
        tentativas += t.find("de download por FTP de FTP:" + host +
                             "\\dist\\kwExec.exe falhou. Aguardando 2 segundos") != std::string::npos;
    EXPECT_EQ(tentativas, 3);
    bool achou = false;
    for (const std::string& t : Textos(log))
        achou = achou || t.starts_with("Não foi possível atualizar \"kwExec.exe\". Motivo: Não foi possível "
                                       "conectar-se com o servidor de FTP: 127.0.0.1\r\n");
    EXPECT_TRUE(achou);
}

TEST_F(Executor, OlderFormCopiesFromTheFirstSiteOnly) {
    Versao(3299);
    kwtest::WriteFile(Destino(), kVelho);
    kwtest::WriteFile(dir / "site2" / "kwExec.exe", kNovo);
    Requisito r = Req();
    EXPECT_EQ(
        Verifique(r.Linha(16)).rfind("Não foi possível atualizar \"kwExec.exe\". Motivo: Erro ao copiar", 0),
        0u);
    EXPECT_EQ(kwtest::ReadFile(Destino()), kVelho);
    kwtest::WriteFile(dir / "site1" / "kwExec.exe", kNovo);
    EXPECT_EQ(Verifique(r.Linha(11)), "");
    EXPECT_EQ(kwtest::ReadFile(Destino()), kNovo);
}

}  // namespace
