// Tests of the verification engine: the decision per operation code against small fixture
// trees, the history rules, the file comparisons with and without "/check", the site flags,
// the files it writes (compared with hand-written golden files for each layout) and the older
// form below version 3300.
#include "launcher/ukwUpdVerificacao.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "VerificacaoTestSupport.h"
#include "common/aCRC32.h"
#include "rtl/Exception.h"
#include "rtl/Text.h"
#include "transfer/ukwUpdFileUtil.h"

namespace {

namespace fs = std::filesystem;
using kwtest::Historico;
using kwtest::Requisito;

class Verificacao : public kwtest::PastaVerificacao {
protected:
    // Runs one verification and answers whether an update is needed.
    bool Verifique(const std::string& requisitos, bool checaCRC = false, TkwUpdLog* log = nullptr) {
        TkwUpdLog proprio;
        TkwUpdLog& l = log ? *log : proprio;
        TkwUpdVerificacao v(&l, nullptr, 12, &kwUpdIni());
        const bool r = v.VerifiqueNecessidadeAtualizacao(requisitos, checaCRC, false);
        alteracoes = v.Alteracoes().GetTexto();
        historico = v.Historico().GetTexto();
        return r;
    }
    std::string Estacao() const { return rtl::UpperCase(estacao); }

    std::string alteracoes;
    std::string historico;
};

// ---- The decision table ------------------------------------------------------------------------

TEST_F(Verificacao, DecisionPerOperation) {
    struct Caso {
        const char* nome;
        std::string op;
        std::string controle;   // required
        std::string historico;  // "" : no record; else "<control>;<op>"
        bool arquivo;           // bin\a.dll exists
        bool pasta;             // bin\a.dll exists as a folder
        bool acao;
        std::string linha;      // the action's log line, or another line the case must log
        std::string opListada;  // the operation the change list records
    };
    const Caso casos[] = {
        {"1 current", "1", "5", "5;1", true, false, false, "Objeto já atualizado", ""},
        {"1 higher installed", "1", "5", "7;1", true, false, true, "Ação : Atualizar", "1"},
        {"1 lower installed", "1", "5", "3;1", true, false, true, "Ação : Atualizar", "1"},
        {"1 missing file", "1", "5", "5;1", false, false, true, "Ação : Atualizar", "1"},
        {"1 not in the history", "1", "5", "", true, false, true, "Objeto não existente no histórico (HST)",
         "1"},
        {"5 higher installed", "5", "5", "7;1", true, false, false, "Objeto já atualizado", ""},
        {"5 lower installed", "5", "5", "3;1", true, false, true, "Ação : Atualizar", "1"},
        {"5 record of operation 5", "5", "5", "7;5", true, false, true, "Ação : Atualizar", "1"},
        {"2 current", "2", "5", "5;2", false, false, false, "", ""},
        {"2 other number", "2", "5", "6;2", false, false, true, "Ação : Executar", "2"},
        {"3 higher, no file", "3", "5", "7;3", false, false, false, "Objeto já atualizado", ""},
        {"3 lower, file", "3", "5", "3;3", true, false, true, "Ação : Remover", "3"},
        {"3 lower, no file", "3", "5", "3;3", false, false, false, "", ""},
        {"4 lower, folder", "4", "5", "3;4", false, true, true, "Ação : Remover Dir", "4"},
        {"4 missing, no folder", "4", "5", "", false, false, false, "", ""},
        {"6 other number", "6", "5", "4;6", false, false, true, "Ação : Shutdown", "6"},
        {"7 other number", "7", "5", "", false, false, true, "Ação : Executar remoto", "7"},
        {"8 other number", "8", "5", "", false, false, true, "Ação : Registar DLL", "8"},
        {"8 current", "8", "5", "5;8", false, false, false, "Objeto já atualizado", ""},
        {"10 higher", "10", "5", "9;10", false, false, false, "Objeto já atualizado", ""},
        {"10 lower", "10", "5", "4;10", false, false, true, "Ação : Aplicar patch de correção", "10"},
        {"0", "0", "5", "", false, false, false, "", ""},
        {"11", "11", "5", "", false, false, false, "", ""},
        {"257 is no operation 1", "257", "5", "", false, false, false, "", ""},
        {"-1", "-1", "5", "", false, false, false, "", ""},
    };
    for (const Caso& c : casos) {
        fs::remove_all(dir / "bin");
        fs::create_directories(dir / "bin");
        if (c.arquivo) kwtest::WriteFile(dir / "bin" / "a.dll", "x");
        if (c.pasta) fs::create_directories(dir / "bin" / "a.dll");
        std::string h;
        if (!c.historico.empty()) {
            const auto campos = rtl::SplitFields(c.historico, ';');
            h = Historico("12", Estacao(), "A.DLL", campos[0], campos[1]);
        }
        GraveHistorico(h);
        Requisito r;
        r.op = c.op;
        r.controle = c.controle;
        TkwUpdLog log;
        EXPECT_EQ(Verifique(r.Linha(16), false, &log), c.acao) << c.nome;
        if (c.acao) {
            const auto campos = rtl::SplitFields(alteracoes, ';');
            ASSERT_EQ(campos.size(), 14u) << c.nome << ": " << alteracoes;
            EXPECT_EQ(campos[11], c.opListada) << c.nome;
            EXPECT_EQ(campos[3], (dir / "bin").string() + "\\a.dll") << c.nome;
        } else {
            EXPECT_EQ(alteracoes, "") << c.nome;
        }
        if (!c.linha.empty()) {
            EXPECT_TRUE(TemLinha(log, " - " + c.linha)) << c.nome;
        }
    }
}

TEST_F(Verificacao, RemovalOfWhatIsNotThereIsOnlyNoted) {
    GraveHistorico("");
    TkwUpdLog log;
    Requisito r;
    r.op = "3";
    const std::string destino = (dir / "bin").string() + "\\a.dll";
    EXPECT_FALSE(Verifique(r.Linha(16), false, &log));
    EXPECT_TRUE(TemLinha(log, " - Ação : Remover (Arquivo " + destino + " não existe)"));
    r.op = "4";
    EXPECT_FALSE(Verifique(r.Linha(16), false, &log));
    EXPECT_TRUE(TemLinha(log, " - Ação : Remover Dir (Diretório " + destino + " não existe)"));
}

TEST_F(Verificacao, UnpackedFileOfAnArchive) {
    struct Caso {
        std::string objeto;
        bool desempacotado;  // the unpacked file is in the launcher's folder
        bool acao;
    };
    const Caso casos[] = {{"a.dll.zip", false, true},
                          {"a.dll.zip", true, false},
                          {"a.zip", false, false},
                          {"abc", false, false}};
    for (const Caso& c : casos) {
        fs::remove(dir / "a.dll");
        if (c.desempacotado) kwtest::WriteFile(dir / "A.DLL", "x");  // found without regard to case
        GraveHistorico(Historico("12", Estacao(), rtl::UpperCase(c.objeto), "5", "9"));
        Requisito r;
        r.objeto = c.objeto;
        r.op = "9";
        EXPECT_EQ(Verifique(r.Linha(16)), c.acao) << c.objeto << " " << c.desempacotado;
        fs::remove(dir / "A.DLL");
    }
}

TEST_F(Verificacao, TheFirstMatchingRecordDecidesAndDamagedRecordsAreSkipped) {
    kwtest::WriteFile(dir / "bin" / "a.dll", "x");
    Requisito r;
    // A damaged line before the match is skipped (named in the log), the first match decides.
    GraveHistorico("12;" + Estacao() + ";A.DLL;x5;1;;;\r\n" + Historico("13", Estacao(), "A.DLL", "9", "1") +
                   Historico("12", Estacao(), "a.dll", "5", "1") +
                   Historico("12", Estacao(), "A.DLL", "9", "1"));
    TkwUpdLog log;
    EXPECT_FALSE(Verifique(r.Linha(16), false, &log));
    EXPECT_TRUE(
        TemLinha(log,
                 " - Erro: Registro 1 do histórico (HST) ignorado: nuControle \"x5\" e cdTipoOperacao "
                 "\"1\" devem ser números inteiros."));
    GraveHistorico(Historico("12", Estacao(), "A.DLL", "9", "1") +
                   Historico("12", Estacao(), "A.DLL", "5", "1"));
    EXPECT_TRUE(Verifique(r.Linha(16)));

    // The requisite's own numbers must be numbers.
    r.controle = "5a";
    EXPECT_THROW(Verifique(r.Linha(16)), rtl::EConvertError);
}

// A history record cut before its last field (a history written while the disk filled): it is
// named once as damaged and left out, so the object counts as absent from the history. Before,
// the cut record was matched, completed with the file's current size and time and saved, under
// its cut file name, and the object passed as current.
TEST_F(Verificacao, ARecordCutBeforeItsLastFieldIsNamedAndLeftOut) {
    kwtest::WriteFile(dir / "bin" / "a.dll", "x");
    const std::string caminho = (dir / "bin").string() + "\\a.dll";
    struct Caso {
        const char* nome;
        std::string registro;
        int campos;
    };
    const Caso casos[] = {
        {"cut in the file name", "12;" + Estacao() + ";A.DLL;5;1;" + caminho.substr(0, caminho.size() - 3),
         6},
        {"after the size", "12;" + Estacao() + ";A.DLL;5;1;" + caminho + ";1", 7},
        {"after the operation", "12;" + Estacao() + ";A.DLL;5;1", 5},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.nome);
        // The cut record is the file's last line, without its line end, as a cut file has it.
        GraveHistorico(Historico("12", Estacao(), "B.DLL", "1", "1") + c.registro);
        Requisito r;
        r.crc = "123";  // a checksum is given: a record without size and time would be completed
        TkwUpdLog log;
        EXPECT_TRUE(Verifique(r.Linha(16), false, &log));
        EXPECT_TRUE(TemLinha(log, " - Objeto não existente no histórico (HST)"));
        int nomeados = 0;
        for (const std::string& t : Textos(log))
            nomeados += t.find("do histórico (HST) ignorado") != std::string::npos;
        EXPECT_EQ(nomeados, 1);
        EXPECT_TRUE(TemLinha(log, " - Erro: Registro 2 do histórico (HST) ignorado: está incompleto (" +
                                      std::to_string(c.campos) + " de 8 campos)."));
        // Nothing was completed or saved.
        EXPECT_EQ(kwtest::ReadFile(Log("kwExec.hst")),
                  Historico("12", Estacao(), "B.DLL", "1", "1") + c.registro);
    }
}

TEST_F(Verificacao, ObjectNamesMatchTheHistoryWithoutRegardToCase) {
    struct Caso {
        std::string objeto;   // the requisite's
        std::string gravado;  // the history's
        bool acao;
    };
    const Caso casos[] = {
        {"ação.dll", "AÇÃO.DLL", false}, {"Ação.Dll", "ação.dll", false},
        {"acao.dll", "AÇÃO.DLL", true},                               // an accent is no case
        {"a.dll", "A.DLL", false},       {"a.dll", "A.DLL ", false},  // fields are trimmed
        {"a.dll", "A.DL", true},
    };
    for (const Caso& c : casos) {
        fs::remove_all(dir / "bin");
        kwtest::WriteFile(dir / "bin" / c.objeto, "x");
        GraveHistorico(Historico("12", Estacao(), c.gravado, "5", "1"));
        Requisito r;
        r.objeto = c.objeto;
        EXPECT_EQ(Verifique(r.Linha(16)), c.acao) << c.objeto << " / " << c.gravado;
    }
    // The computer name is compared in upper case too.
    kwtest::WriteFile(dir / "bin" / "a.dll", "x");
    GraveHistorico(Historico("12", rtl::LowerCase(estacao), "A.DLL", "5", "1"));
    EXPECT_FALSE(Verifique(Requisito().Linha(16)));
}

// The system and the object are compared each on its own: a record whose fields, joined, read
// like the requisite's (a control character where the fields meet) is another object.
TEST_F(Verificacao, TheHistoryKeyIsComparedFieldByField) {
    struct Caso {
        std::string sistema, objeto;  // the record's
        bool acao;
    };
    const Caso casos[] = {
        {"12",
         "A\x1f"
         "B.DLL",
         false},
        {"12\x1f"
         "A",
         "B.DLL", true},
        {"12", "A", true},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.sistema + "/" + c.objeto);
        GraveHistorico(Historico(c.sistema, Estacao(), c.objeto, "5", "2"));
        Requisito r;
        r.objeto =
            "a\x1f"
            "b.dll";
        r.op = "2";
        EXPECT_EQ(Verifique(r.Linha(16)), c.acao);
    }
}

TEST_F(Verificacao, ComputerNameSwitch) {
    kwtest::WriteFile(dir / "bin" / "a.dll", "x");
    GraveHistorico(Historico("12", "OUTRA-ESTACAO", "A.DLL", "5", "1"));
    Requisito r;
    TkwUpdLog log;
    EXPECT_TRUE(Verifique(r.Linha(16), false, &log));
    EXPECT_TRUE(
        TemLinha(log, " - Nome do computador requerido / local: \"" + Estacao() + "\" / \"OUTRA-ESTACAO"));
    EXPECT_TRUE(TemLinha(log, " - Nomes dos computadores diferentes"));
    for (const char* valor : {"N", "n"}) {
        Configure(std::string("UsaNomeComputador=") + valor + "\r\n");
        EXPECT_FALSE(Verifique(r.Linha(16))) << valor;
    }
    // Without a configuration the names are always compared.
    TkwUpdLog sem;
    TkwUpdVerificacao v(&sem, nullptr, 12, nullptr);
    EXPECT_TRUE(v.VerifiqueNecessidadeAtualizacao(r.Linha(16), false, false));
}

// ---- File comparisons ----------------------------------------------------------------------------

TEST_F(Verificacao, ChecksumAgainstSizeAndTime) {
    const fs::path arquivo = dir / "bin" / "a.dll";
    kwtest::WriteFile(arquivo, "conteudo do arquivo");
    const int32_t crc = int32_t(CRC32Of("conteudo do arquivo", 19));
    std::string tamanho;
    std::string dataHora;
    PegueDadosArquivo(arquivo.string(), tamanho, dataHora);
    ASSERT_EQ(tamanho, "19");

    struct Caso {
        const char* nome;
        std::string crc;
        std::string tamanho, dataHora;  // recorded
        bool checa;
        bool acao;
    };
    const Caso casos[] = {
        {"right CRC, wrong facts, /check", std::to_string(crc), "20", dataHora, true, false},
        {"right CRC, wrong facts", std::to_string(crc), "20", dataHora, false, true},
        {"wrong CRC, right facts, /check", std::to_string(crc + 1), tamanho, dataHora, true, true},
        {"wrong CRC, right facts", std::to_string(crc + 1), tamanho, dataHora, false, false},
        {"other time", std::to_string(crc), tamanho, "01/01/2000 00:00:00", false, true},
        {"CRC 0, /check", "0", "1", "x", true, false},
        {"no CRC, /check", "", "1", "x", true, false},
        {"no CRC: facts not compared", "", "1", "x", false, false},
    };
    for (const Caso& c : casos) {
        GraveHistorico(
            Historico("12", Estacao(), "A.DLL", "5", "1", arquivo.string(), c.tamanho, c.dataHora));
        Requisito r;
        r.crc = c.crc;
        EXPECT_EQ(Verifique(r.Linha(16), c.checa), c.acao) << c.nome;
    }
    // A checksum that is not a number fails the run once it is compared.
    GraveHistorico(Historico("12", Estacao(), "A.DLL", "5", "1"));
    Requisito r;
    r.crc = "abc";
    EXPECT_THROW(Verifique(r.Linha(16), true), rtl::EConvertError);
}

TEST_F(Verificacao, ARecordWithoutSizeAndTimeIsCompleted) {
    const fs::path arquivo = dir / "bin" / "a.dll";
    kwtest::WriteFile(arquivo, "12345");
    std::string tamanho;
    std::string dataHora;
    PegueDadosArquivo(arquivo.string(), tamanho, dataHora);
    GraveHistorico(Historico("1", "X", "B.DLL", "1", "2") +
                   Historico("12", Estacao(), "A.DLL", "5", "1", "c:\\a"));
    Requisito r;
    r.crc = "77";
    TkwUpdLog log;
    EXPECT_FALSE(Verifique(r.Linha(16), false, &log));
    const std::string esperado = Historico("1", "X", "B.DLL", "1", "2") +
                                 Historico("12", Estacao(), "A.DLL", "5", "1", "c:\\a", "5", dataHora);
    EXPECT_EQ(kwtest::ReadFile(Log("kwExec.hst")), esperado);
    EXPECT_TRUE(TemLinha(log, " - Tamanho : \"5\" / Data e hora : \"" + dataHora));
    EXPECT_TRUE(TemLinha(log, " - Dados gravados com sucesso."));
    // The next run compares the completed facts.
    kwtest::WriteFile(arquivo, "123456");
    EXPECT_TRUE(Verifique(r.Linha(16)));

    // The same object twice in one text: the first completes the record, the second compares
    // the facts just written.
    GraveHistorico(Historico("12", Estacao(), "A.DLL", "5", "1", "c:\\a"));
    PegueDadosArquivo(arquivo.string(), tamanho, dataHora);
    TkwUpdLog duas;
    EXPECT_FALSE(Verifique(r.Linha(16) + r.Linha(16), false, &duas));
    EXPECT_EQ(kwtest::ReadFile(Log("kwExec.hst")),
              Historico("12", Estacao(), "A.DLL", "5", "1", "c:\\a", "6", dataHora));
    int completados = 0;
    int comparados = 0;
    for (const std::string& t : Textos(duas)) {
        completados += t == " - Gravando dados do arquivo no HST...";
        comparados += t == " - Tamanho requerido / local: \"6\" / \"6\"";
    }
    EXPECT_EQ(completados, 1);
    EXPECT_EQ(comparados, 1);
}

// ---- Sites and their flags -----------------------------------------------------------------------

TEST_F(Verificacao, NoSiteAvailable) {
    GraveHistorico("");
    struct Caso {
        const char* nome;
        std::string site1, fl1, fl2, fl3, site2, site3;
        bool falha;
    };
    const Caso casos[] = {
        {"all N", "\\\\s\\", "N", "N", "N", "\\\\s2\\", "\\\\s3\\", true},
        {"1 N, others empty", "\\\\s\\", "N", "", "", "\\\\s2\\", "\\\\s3\\", true},
        {"1 n (any case)", "\\\\s\\", "n", "", "", "", "", true},
        {"1 empty means S", "\\\\s\\", "", "", "", "", "", false},
        {"2 S", "\\\\s\\", "N", "S", "", "\\\\s2\\", "", false},
        {"3 S", "\\\\s\\", "N", "N", "S", "", "\\\\s3\\", false},
        // A site without an address is off, whatever its flag says.
        {"1 without address", "  ", "S", "", "", "", "", true},
        {"2 S without address", "\\\\s\\", "N", "S", "", "", "", true},
        {"3 S without address", "\\\\s\\", "N", "N", "S", "", "", true},
    };
    for (const Caso& c : casos) {
        fs::remove(Log("kwVerify.lcm"));
        Requisito r;
        r.op = "2";
        r.site1 = c.site1;
        r.fl1 = c.fl1;
        r.fl2 = c.fl2;
        r.fl3 = c.fl3;
        r.site2 = c.site2;
        r.site3 = c.site3;
        TkwUpdLog log;
        try {
            Verifique(r.Linha(16), false, &log);
            EXPECT_FALSE(c.falha) << c.nome;
        } catch (const EkwLocalUpdateIndisponivel& e) {
            EXPECT_TRUE(c.falha) << c.nome;
            EXPECT_EQ(
                e.Message(),
                "O servidor de atualização não está disponível. \r\nPor favor espere alguns minutos e tente "
                "novamente mais tarde.");
            EXPECT_TRUE(TemLinha(log, "EXCEPTION: " + e.Message())) << c.nome;
        }
        if (c.falha) {
            EXPECT_FALSE(fs::exists(Log("kwVerify.lcm"))) << c.nome;
        }
    }
    // No action needed: flags do not matter.
    GraveHistorico(Historico("12", Estacao(), "A.DLL", "5", "2"));
    Requisito r;
    r.op = "2";
    r.fl1 = r.fl2 = r.fl3 = "N";
    EXPECT_FALSE(Verifique(r.Linha(16)));
}

TEST_F(Verificacao, SitePathsAndFlagsInTheChangeList) {
    GraveHistorico("");
    struct Caso {
        int versao;
        int campos;
        const char* fl2;
        const char* fl3;
        std::string
            esperado;  // nmLocalOrigem..nuControle of the change list (a folder site is joined as written)
    };
    const Caso casos[] = {
        {4087, 16, "S", "S", "\\\\a\\bin/x.exe;FTP:b\\d\\bin\\x.exe;http://c/bin/x.exe;S;S;S;5"},
        {4087, 16, "s", "N", "\\\\a\\bin/x.exe;;;S;N;N;5"},  // only exactly "S" gives a site its path
        {4087, 14, "S", "", "\\\\a\\bin/x.exe;FTP:b\\d\\bin\\x.exe;;S;S;N;5"},
        {4029, 16, "S", "S", "\\\\a\\bin/x.exe;FTP:b\\d\\bin\\x.exe;S;S;5"},  // no third site below 4030
        {3300, 14, "S", "", "\\\\a\\bin/x.exe;FTP:b\\d\\bin\\x.exe;S;S;5"},
        {3299, 16, "S", "S", "\\\\a\\bin/x.exe;5"},
    };
    for (const Caso& c : casos) {
        Versao(c.versao);
        Requisito r;
        r.objeto = "x.exe";
        r.origem = "bin/";
        r.op = "2";
        r.site1 = "\\\\a\\";
        r.site2 = "FTP:b/d";
        r.site3 = "http://c";
        r.fl2 = c.fl2;
        r.fl3 = c.fl3;
        ASSERT_TRUE(Verifique(r.Linha(c.campos))) << c.versao;
        const auto campos = rtl::SplitFields(rtl::Trim(alteracoes), ';');
        std::string meio;
        const size_t inicio = 4;
        const size_t fim = campos.size() - 4;  // nmLocalOrigem .. nuControle
        for (size_t i = inicio; i <= fim; ++i)
            meio += (i > inicio ? ";" : "") + campos[i];
        EXPECT_EQ(meio, c.esperado) << c.versao << " " << c.campos;
    }
}

TEST_F(Verificacao, MiddleVersionsNeedTheSecondSitesFlag) {
    Versao(3300);
    Requisito r;
    try {
        Verifique(r.Linha(11));
        ADD_FAILURE() << "no exception";
    } catch (const rtl::Exception& e) {
        EXPECT_EQ(e.Message(), "O campo \"flDisponivel2\" não existe.");
    }
    EXPECT_FALSE(fs::exists(Log("kwVerify.lcm")));
}

TEST_F(Verificacao, OlderFormRemovesWhateverExists) {
    Versao(3299);
    kwtest::WriteFile(dir / "bin" / "a.dll", "x");
    GraveHistorico(Historico("12", Estacao(), "A.DLL", "9", "3") +
                   Historico("12", Estacao(), "A.DLL", "9", "4"));
    Requisito r;
    r.op = "3";
    EXPECT_TRUE(Verifique(r.Linha(11)));
    r.op = "4";
    EXPECT_FALSE(Verifique(r.Linha(11)));  // a file is not a folder
    fs::remove(dir / "bin" / "a.dll");
    fs::create_directories(dir / "bin" / "a.dll");
    EXPECT_TRUE(Verifique(r.Linha(11)));
    EXPECT_EQ(alteracoes, "12;1;a.dll;" + (dir / "bin").string() + "\\a.dll;\\\\srv\\upd\\a.dll;5;4;u;\r\n");
    // And sites are never unavailable there.
    r.op = "2";
    r.fl1 = "N";
    EXPECT_TRUE(Verifique(r.Linha(16)));
}

// ---- The files it writes -------------------------------------------------------------------------

TEST_F(Verificacao, ChangeListAndRequisitesFileMatchTheGoldenFiles) {
    kwtest::ScopedEnv drive("KW_DRIVE_C", (dir / "c").string());
    kwtest::ScopedEnv windows("KW_WINDIR", "/kw/windows");
    kwtest::WriteFile(dir / "c" / "Sistema" / "velho.dll", "x");
    kwtest::WriteFile(dir / "c" / "Sistema" / "ok.dll", "x");
    for (int versao : {4030, 3300, 0}) {
        Versao(versao);
        GraveHistorico(Historico("-1", Estacao(), "VELHO.DLL", "5", "3") +
                       Historico("12", Estacao(), "OK.DLL", "9", "1", "C:\\Sistema\\ok.dll"));
        fs::remove(Log("kwVerify.lcm"));
        const std::string nome = "launcher/verificacao-" + std::to_string(versao);
        const std::string req = kwtest::ReadFile(kwtest::DataPath(nome + ".req"));
        // The text arrives with bare line feeds; the file written has the system's CR LF.
        const std::string recebido = rtl::StringReplace(req, "\r\n", "\n");
        ASSERT_TRUE(Verifique(recebido)) << versao;
        EXPECT_EQ(kwtest::ReadFile(Log("kwVerify.lcm")), kwtest::ReadFile(kwtest::DataPath(nome + ".lcm")))
            << versao;
        EXPECT_EQ(kwtest::ReadFile(Log("kwExec.req")), req) << versao;
        for (const char* f : {"kwVerify.lcm", "kwExec.req"}) {
            struct stat st {};
            ASSERT_EQ(::stat(Log(f).c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 0777, 0600u) << f;  // they carry the sites' passwords
        }
    }
}

TEST_F(Verificacao, NothingToDoLeavesEarlierFilesAlone) {
    kwtest::WriteFile(Log("kwVerify.lcm"), "de uma execução anterior\r\n");
    GraveHistorico(Historico("12", Estacao(), "A.DLL", "5", "2"));
    Requisito r;
    r.op = "2";
    TkwUpdLog log;
    EXPECT_FALSE(Verifique(r.Linha(16), false, &log));
    EXPECT_EQ(kwtest::ReadFile(Log("kwVerify.lcm")), "de uma execução anterior\r\n");
    EXPECT_FALSE(fs::exists(Log("kwExec.req")));
    EXPECT_TRUE(TemLinha(log, " - Não é necessário executar a atualização"));
}

TEST_F(Verificacao, LogOfOneRequisite) {
    kwtest::WriteFile(dir / "bin" / "a.dll", "x");
    GraveHistorico(Historico("12", Estacao(), "A.DLL", "5", "1"));
    Requisito r;
    const std::vector<std::string> esperado = {
        "#CREATE# TkwUpdVerificacao",
        "INICIO - Create...",
        " - Criando definição do arquivo de requisitos...",
        " - Arquivos de requisitos definido com sucesso",
        " - Criando definição do arquivo de alterações...",
        " - Arquivos de alterações definido com sucesso",
        " - Criando definição do arquivo de histórico...",
        " - Arquivos de histórico definido com sucesso",
        " - Lendo histórico de atualizações (HST)...",
        " - 1 registro(s) lido(s)",
        " - Histórico de atualizações lido com sucesso",
        "FIM - Create",
        "INICIO - VerifiqueNecessidadeAtualizacao",
        " - Atribuindo os dados dos requisitos...",
        " - Dados atribuídos com sucesso.",
        " - INICIO - CompareArquivos...",
        "INICIO - CompareArquivos....",
        " - Iniciando a verificação de versão...",
        "",
        " # Verificando a situação de \"a.dll\"...",
        " - Verificando \"NroControle\" requerido e local...",
        " - Nro controle requerido / local: \"5\" / \"5\"",
        " - Pode fazer downgrade: \"true\"",
        " - NrosControle iguais",
        " - Verificando \"Nome do computador\" requerido e local...",
        " - Nome do computador requerido / local: \"" + Estacao() + "\" / \"" + Estacao(),
        " - kwCFG.ini -> UsaNomeComputador (KWUPDATE,UsaNomeComputador): \"S\"",
        " - Nomes dos computadores iguais",
        " - Objeto já atualizado",
        " - FIM - Verificando requisito",
        " - Fim da verificação",
        "FIM - CompareArquivos",
        " - FIM - CompareArquivos",
        " - Verificando a necessidade de atualização...",
        " - Não é necessário executar a atualização",
        "FIM - VerifiqueNecessidadeAtualizacao",
        "INICIO - Destroy...",
        " - Destruindo componentes de dados...",
        " - Componentes destruídos com sucesso",
        "#DESTROY# TkwUpdVerificacao",
        "FIM - Destroy...",
    };
    TkwUpdLog log;
    kwUpdIni().SetLog(&log);  // the settings reader logs its reads in the same log
    EXPECT_FALSE(Verifique(r.Linha(16), false, &log));
    kwUpdIni().SetLog(nullptr);
    EXPECT_EQ(Textos(log), esperado);
}

TEST(TkwUpdVerificacaoFTP, InterpretsFtpFailureTexts) {
    const std::string ftp =
        "Não foi possível atualizar \"kwExec.exe\". Motivo: Não foi possível conectar-se com o servidor de "
        "FTP: "
        "srv\r\nProvável causa : Usuário ou senha inválida.\r\nMensagem original do servidor: \"530 Login "
        "incorrect: try again\"\r\nExceptionClass=EFTPSError";
    std::string mensagem = "antes";
    EXPECT_TRUE(TkwUpdVerificacao::InterpreteErroFTP(ftp, "primeiro", mensagem));
    EXPECT_EQ(mensagem,
              "Não foi possível tentar a atualização no primeiro local update. Retorno do FTP: \"530 Login "
              "incorrect= try again\"");
    for (const std::string& outro :
         {std::string("Erro ao copiar o arquivo \"a\" para \"b\". Mensagem de erro: x"),
          std::string("ExceptionClass=\r\nMensagem original do servidor: \"x\""), std::string("")}) {
        mensagem = "antes";
        EXPECT_FALSE(TkwUpdVerificacao::InterpreteErroFTP(outro, "segundo", mensagem)) << outro;
        EXPECT_EQ(mensagem, "antes");
    }
    // Names are matched without regard to case.
    EXPECT_TRUE(TkwUpdVerificacao::InterpreteErroFTP(
        "exceptionclass: E\r\nMENSAGEM ORIGINAL DO SERVIDOR:  x ", "terceiro", mensagem));
    EXPECT_EQ(mensagem, "Não foi possível tentar a atualização no terceiro local update. Retorno do FTP: x");
}

}  // namespace
