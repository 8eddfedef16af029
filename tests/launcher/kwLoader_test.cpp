// Tests of the launcher as a program: real launcher processes in temporary launcher folders,
// started without a display, with real programs standing in for the application, the update
// executor and the offline application (kwrun_app records the arguments it receives).
//
// The kwLoader program as built runs every case that needs no requisites road; the cases that
// need one run kwrun_loader, the same program with a road that reads a file.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <thread>

#include "common/ukwUpdLog.h"
#include "launcher/LauncherRunTestSupport.h"
#include "platform/InstanceMarker.h"
#include "platform/Process.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using kwtest::Contains;
using kwtest::IndexOf;

const std::string kSeparador(54, '=');
const std::string kTarefaErro =
    "Erro ao carregar o sistema.\nFavor entrar em contato com o administrador do sistema....";
const std::string kPrefixoErro = "Houve um erro durante o carregamento do sistema. ";

// The control characters of a text other than line breaks, as their codes.
std::string ControlesCrus(const std::string& texto) {
    std::string r;
    for (char c : texto)
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\r' && c != '\n') || c == 0x7F)
            r += std::to_string(int(static_cast<unsigned char>(c))) + " ";
    return r;
}

struct Execucao {
    int codigo = -1;
    std::string saida;                 // standard output and error (headless window and boxes)
    std::vector<std::string> tarefas;  // the lines written to standard error
    std::string logBruto;              // log/kwVerify.log as written
    std::vector<std::string> log;      // this run's log texts (the newest run of the file)
};

class LauncherProcess : public ::testing::Test {
protected:
    // Installs a launcher (the real program or the test launcher) under `nome`.
    fs::path Instale(const std::string& nome, bool programaReal = true) {
        const fs::path exe = dir_ / nome;
        if (programaReal) {
            fs::copy_file(kwtest::KwLoaderProgram(), exe);
        } else {
            kwtest::InstallProg("kwrun_loader", exe);
        }
        return exe;
    }

    void Escreva(const std::string& nome, const std::string& conteudo) {
        kwtest::WriteFile(dir_ / nome, conteudo);
    }

    fs::path Programa(const std::string& nome) {
        const fs::path p = dir_ / nome;
        kwtest::InstallProg("kwrun_app", p);
        return p;
    }

    Execucao Rode(const fs::path& exe, const std::vector<std::string>& args,
                  const std::string& saida = "saida.txt") {
        Execucao r;
        plat::ProcessOptions o;
        o.wait = true;
        o.output = plat::ProcessOutput::File;
        o.outputFile = (dir_ / saida).string();
        fs::remove(o.outputFile);
        r.codigo = plat::StartProcess(exe.string(), args, o).exitCode;
        r.saida = kwtest::ReadFile(o.outputFile);
        r.tarefas = kwtest::SplitLinesOf(r.saida);
        const fs::path log = dir_ / "log" / "kwVerify.log";
        if (fs::exists(log)) {
            r.logBruto = kwtest::ReadFile(log);
            r.log = kwtest::LogTexts(r.logBruto);
            const int sep = IndexOf(r.log, kSeparador);
            if (sep > 0) r.log.resize(size_t(sep - 1));  // the empty line before the separator
        }
        return r;
    }

    std::string Pasta() const { return dir_.path().string() + "/"; }
    bool Gravou(const fs::path& programa) const { return fs::exists(programa.string() + ".argv"); }

    kwtest::TempDir dir_;
    kwtest::PrivateMarkers markers_;
    kwtest::ScopedEnv headless_{"KW_HEADLESS", "1"};
};

TEST_F(LauncherProcess, UpdatingSwitchedOffStartsTheApplication) {
    struct Case {
        std::string podeAtualizar;
        std::vector<std::string> args;
        std::vector<std::string> recebidos;
    };
    const Case cases[] = {
        {"N", {}, {"kwUpdate"}},
        {"n", {"/check", "x y", "\"q\" z", "/check"}, {"kwUpdate", "x y", "\"q\" z", "/check"}},
        {"N", {"/CHECK"}, {"kwUpdate"}},
        {"n", {"a", "/Check", ""}, {"kwUpdate", "a", "/Check", ""}},
    };
    const fs::path exe = Instale("QOR.exe");
    const fs::path app = Programa("QORAPP.exe");
    for (const auto& c : cases) {
        SCOPED_TRACE("PodeAtualizar=" + c.podeAtualizar + " args=" + std::to_string(c.args.size()));
        fs::remove(app.string() + ".argv");
        Escreva("kwCFG.ini", "[KWUPDATE]\nPodeAtualizar=" + c.podeAtualizar + "\nCdSistema=3\n");
        const Execucao r = Rode(exe, c.args);
        EXPECT_EQ(r.codigo, 0) << r.saida;
        EXPECT_EQ(kwtest::RecordedArgs(app), c.recebidos);
        EXPECT_EQ(r.tarefas, (std::vector<std::string>{
                                 "Carregando o sistema...", "Lendo a configuração da estação...",
                                 "Carregando as configurações do kwCFG.ini...",
                                 "Verificando as configurações do sistema...", "Executando o sistema..."}));
        EXPECT_TRUE(Contains(r.log, " - Não pode atualizar a estação"));
        EXPECT_TRUE(Contains(r.log, " - Executando o sistema de: \"" + Pasta() + "QORAPP.exe\""));
        EXPECT_TRUE(Contains(r.log, " - Execução OK"));
        EXPECT_TRUE(Contains(r.log, "FIM - Execute"));
        // No requisites, no wait, no verification.
        EXPECT_EQ(IndexOf(r.log, " - Pode atualizar a estação"), -1);
        EXPECT_EQ(r.logBruto.find("Aguardando"), std::string::npos);
        EXPECT_EQ(r.logBruto.find("TkwUpdVerificacao"), std::string::npos);
        EXPECT_EQ(r.log.front(), "#CREATE# TkwUpdLoader");
        EXPECT_EQ(r.log.back(), "#DESTROY# TkwUpdLoader");
    }
}

TEST_F(LauncherProcess, SettingsErrors) {
    struct Case {
        const char* nome;
        std::string cfg;  // "-" for no configuration file
        std::string mensagem;
        bool excecaoDoLauncher;  // TkwUpdException (logs itself) or a plain exception
    };
    const std::string cfgPath = Pasta() + "kwCFG.ini";
    const Case cases[] = {
        {"missing file", "-", "O arquivo \"" + cfgPath + "\" não existe.", true},
        {"LocalUpdate abc", "[KWUPDATE]\nLocalUpdate=abc\nCdSistema=3\n",
         "Local de update é inválido. Esperado um número inteiro. Valor informado: \"abc\".", true},
        {"LocalUpdate 7x", "[KWUPDATE]\nLocalUpdate=7x\nCdSistema=3\n",
         "Local de update é inválido. Esperado um número inteiro. Valor informado: \"7x\".", true},
        {"CdSistema x1", "[KWUPDATE]\nCdSistema=x1\n",
         "CdSistema é inválido. Esperado um número inteiro. Valor informado: \"x1\".", true},
        {"CdSistema empty", "[KWUPDATE]\nCdSistema=\n",
         "CdSistema é inválido. Esperado um número inteiro. Valor informado: \"\".", true},
        {"CdSistema absent", "[KWUPDATE]\nTipoServidor=LOCAL\n",
         "CdSistema é inválido. Esperado um número inteiro. Valor informado: \"\".", true},
        {"CdSistema negative", "[KWUPDATE]\nLocalUpdate=12\nCdSistema=-5\n",
         "O código do sistema está vazio. Verifique se ele foi configurado no arquivo kwCfg.ini", true},
        {"TipoServidor WEB", "[KWUPDATE]\nCdSistema=4\nTipoServidor=WEB\n",
         "Tipo de servidor (kwCFG.ini: Sessão KWUPDATE, Ident: TipoServidor) é inválido. Valor informado: "
         "\"WEB\".",
         false},
        // Control characters read from the file are shown, in the log as on standard error.
        {"CdSistema with control characters", "[KWUPDATE]\nCdSistema=3\0abc\x01\x1b[31mX\x7f\n"s,
         "CdSistema é inválido. Esperado um número inteiro. Valor informado: "
         "\"3\\x00abc\\x01\\x1B[31mX\\x7F\".",
         true},
        // What stands at the path is said, rather than "não existe" or an empty CdSistema.
        {"a folder", "folder", "O arquivo \"" + cfgPath + "\" é uma pasta, não um arquivo.", true},
        {"a pipe", "fifo", "O arquivo \"" + cfgPath + "\" não é um arquivo comum.", true},
    };
    const fs::path exe = Instale("QOR.exe");
    const fs::path app = Programa("QORAPP.exe");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.nome);
        fs::remove_all(dir_ / "kwCFG.ini");
        fs::remove(dir_ / "log" / "kwVerify.log");
        if (c.cfg == "folder")
            fs::create_directory(dir_ / "kwCFG.ini");
        else if (c.cfg == "fifo")
            ASSERT_EQ(::mkfifo((dir_ / "kwCFG.ini").c_str(), 0644), 0);
        else if (c.cfg != "-")
            Escreva("kwCFG.ini", c.cfg);
        const Execucao r = Rode(exe, {"x"});
        EXPECT_EQ(r.codigo, 1);
        // The task line, then the message box, as the headless back end writes them.
        ASSERT_GE(r.tarefas.size(), 3u) << r.saida;
        const std::string caixa = "Erro: " + kPrefixoErro + c.mensagem;
        EXPECT_EQ(r.saida.substr(r.saida.size() - caixa.size() - 1), caixa + "\n");
        EXPECT_NE(r.saida.find(kTarefaErro + "\n" + caixa + "\n"), std::string::npos) << r.saida;
        // The log file was written at exit; the failure is in it once.
        EXPECT_EQ(Contains(r.log, "EXCEPTION: " + c.mensagem), c.excecaoDoLauncher);
        EXPECT_EQ(Contains(r.log, " - Erro: " + kPrefixoErro + c.mensagem), !c.excecaoDoLauncher);
        EXPECT_TRUE(Contains(r.log, "FIM - Execute"));
        EXPECT_EQ(r.log.back(), "#DESTROY# TkwUpdLoader");
        EXPECT_FALSE(Gravou(app));
        EXPECT_EQ(ControlesCrus(r.saida), "") << "standard error";
        EXPECT_EQ(ControlesCrus(r.logBruto), "") << "log";
    }
}

TEST_F(LauncherProcess, SettingsLinesOfAGoodFile) {
    const fs::path exe = Instale("QOR.exe");
    const fs::path app = Programa("QORAPP.exe");
    Escreva("kwCFG.ini",
            "[KWUPDATE]\nLocalUpdate=12\nCdSistema=7\nPodeAtualizar=N\nMaximoTentativasDownload=3\n"
            "TempoEsperaSegundosNovaTentativaDownload=5\nEnderecoProxy=proxy.local\nPortaProxy=3128\n");
    const Execucao r = Rode(exe, {});
    EXPECT_EQ(r.codigo, 0);
    const int inicio = IndexOf(r.log, "INICIO - CarregueConfiguracoesDoINI...");
    ASSERT_GE(inicio, 0);
    const std::vector<std::string> esperado{
        "INICIO - CarregueConfiguracoesDoINI...",
        " - Carregando local update do kwCFG.ini...",
        " - kwCFG.ini -> LocalUpdate (KWUPDATE,LocalUpdate): \"12\"",
        " - Novo local update: 12",
        " - Carregando CdSistema do kwCFG.ini...",
        " - kwCFG.ini -> CdSistema (KWUPDATE,CdSistema): \"7\"",
        " - kwCFG.ini -> PodeAtualizar (KWUPDATE,PodeAtualizar): \"N\"",
        " - Carregando MaximoTentativasDownload do kwCFG.ini...",
        " - MaximoTentativasDownload: 3",
        " - Carregando TempoEsperaSegundosNovaTentativaDownload do kwCFG.ini...",
        " - TempoEsperaSegundosNovaTentativaDownload: 5 segundos",
        " - Carregando EnderecoProxy do kwCFG.ini...",
        " - EnderecoProxy: proxy.local",
        " - Carregando PortaProxy do kwCFG.ini...",
        " - PortaProxy: 3128",
        "FIM - CarregueConfiguracoesDoINI",
    };
    ASSERT_GE(r.log.size(), size_t(inicio) + esperado.size());
    EXPECT_EQ(
        std::vector<std::string>(r.log.begin() + inicio, r.log.begin() + inicio + long(esperado.size())),
        esperado);
    // The workstation's identity comes first, in its fixed order.
    const int estacao = IndexOf(r.log, "INICIO - AdicioneConfiguracaoEstacaoNoLog...");
    ASSERT_GE(estacao, 0);
    EXPECT_EQ(r.log[size_t(estacao) + 1], " - Verificando identificação da máquina local... ");
    EXPECT_EQ(r.log[size_t(estacao) + 2].rfind(" -  - IP : ", 0), 0u);
    EXPECT_EQ(r.log[size_t(estacao) + 3].rfind(" -  - Nome do computador : ", 0), 0u);
    EXPECT_EQ(r.log[size_t(estacao) + 4], " - Verificando nome do usuário");
    EXPECT_EQ(r.log[size_t(estacao) + 5].rfind(" -  - Usuário logado : ", 0), 0u);
    EXPECT_EQ(r.log[size_t(estacao) + 6], " - Verificando configurações regionais");
    EXPECT_EQ(r.log[size_t(estacao) + 7], " -  - Configuracao de data : dd/mm/yyyy");
    EXPECT_EQ(r.log[size_t(estacao) + 8], " -  - Configuracao de hora : hh:nn:ss");
    EXPECT_EQ(r.log[size_t(estacao) + 9], "FIM - AdicioneConfiguracaoEstacaoNoLog");
}

TEST_F(LauncherProcess, EachRunIsAddedOnTopOfTheLogFile) {
    const fs::path exe = Instale("QOR.exe");
    Programa("QORAPP.exe");
    Escreva("kwCFG.ini", "[KWUPDATE]\nPodeAtualizar=N\nCdSistema=3\n");
    const Execucao primeira = Rode(exe, {"primeira"});
    const Execucao segunda = Rode(exe, {});
    const auto linhas = kwtest::SplitLinesOf(segunda.logBruto);
    const int sep = IndexOf(linhas, kSeparador);
    ASSERT_GT(sep, 0);
    EXPECT_EQ(linhas[size_t(sep) - 1], "");
    EXPECT_EQ(linhas[size_t(sep) + 1], "");
    // Newest run first, then the earlier file unchanged.
    EXPECT_EQ(segunda.logBruto.substr(segunda.logBruto.size() - primeira.logBruto.size()), primeira.logBruto);
    EXPECT_EQ(kwtest::LogTexts(segunda.logBruto).front(), "#CREATE# TkwUpdLoader");
}

// An old log at the ceiling (16 MB of earlier runs' blocks) over several real runs: each run
// adds its block on top and the oldest blocks go, whole, so the file stays within the ceiling;
// the blocks kept are the newest ones, byte for byte, and each run says that it dropped some.
TEST_F(LauncherProcess, TheLogStaysWithinItsCeilingOverManyRuns) {
    const fs::path exe = Instale("QOR.exe");
    Programa("QORAPP.exe");
    Escreva("kwCFG.ini", "[KWUPDATE]\nPodeAtualizar=N\nCdSistema=3\n");
    const size_t limite = TkwUpdLog::kLimiteArquivoLog;
    const std::string separador = "\r\n" + kSeparador + "\r\n\r\n";
    // Blocks of about 1 KB (smaller than a run's), numbered from the newest, up to 256 bytes
    // short of the ceiling: every run must drop some.
    std::vector<std::string> antigos;
    std::string velho;
    for (int b = 1;; ++b) {
        std::string bloco;
        for (int i = 0; i < 10; ++i)
            bloco += "10/12/2026 13:00:00 :  - bloco antigo " + std::to_string(b) + " linha " +
                     std::to_string(i) + " " + std::string(40, 'x') + "\r\n";
        if (velho.size() + separador.size() + bloco.size() > limite - 256) break;
        if (b > 1) velho += separador;
        velho += bloco;
        antigos.push_back(bloco);
    }
    fs::create_directories(dir_ / "log");
    Escreva("log/kwVerify.log", velho);

    const std::string aviso =
        " : As execuções mais antigas do log foram removidas para manter o arquivo em até 16 MB.\r\n";
    for (int run = 1; run <= 3; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        const Execucao r = Rode(exe, {});
        EXPECT_EQ(r.codigo, 0) << r.saida;
        ASSERT_LE(r.logBruto.size(), limite);
        std::vector<std::string> blocos;
        for (size_t pos = 0;;) {
            const size_t s = r.logBruto.find(separador, pos);
            blocos.push_back(r.logBruto.substr(pos, s == std::string::npos ? s : s - pos));
            if (s == std::string::npos) break;
            pos = s + separador.size();
        }
        // This test's runs on top, newest first, each whole and ending with the line about the
        // blocks it dropped.
        ASSERT_GT(blocos.size(), size_t(run));
        for (int k = 0; k < run; ++k) {
            EXPECT_EQ(kwtest::LogTexts(blocos[size_t(k)]).front(), "#CREATE# TkwUpdLoader");
            EXPECT_NE(blocos[size_t(k)].find("#DESTROY# TkwUpdLoader\r\n"), std::string::npos);
            EXPECT_EQ(blocos[size_t(k)].substr(blocos[size_t(k)].size() - aviso.size()), aviso);
        }
        // Then the newest old blocks, byte for byte; the older ones are gone whole.
        const size_t mantidos = blocos.size() - size_t(run);
        ASSERT_LT(mantidos, antigos.size());
        for (size_t i = 0; i < mantidos; ++i)
            ASSERT_EQ(blocos[size_t(run) + i], antigos[i]) << "old block " << i + 1;
        // The next older block would not have fitted.
        EXPECT_GT(r.logBruto.size() + separador.size() + antigos[mantidos].size(), limite);
    }
}

// The log cannot be written (log/ is a file): the cause goes to standard error in the
// launcher's words, and the exit status says so even when the run itself went well.
TEST_F(LauncherProcess, ALogThatCannotBeWrittenIsReportedAndFailsTheExitStatus) {
    struct Case {
        const char* nome;
        std::string cfg;
        int codigo;
    };
    const Case cases[] = {
        {"a good run", "[KWUPDATE]\nPodeAtualizar=N\nCdSistema=3\n", 3},
        {"a failed run keeps its own status", "[KWUPDATE]\nCdSistema=abc\n", 1},
    };
    const fs::path exe = Instale("QOR.exe");
    const fs::path app = Programa("QORAPP.exe");
    Escreva("log", "não é uma pasta");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.nome);
        Escreva("kwCFG.ini", c.cfg);
        const Execucao r = Rode(exe, {});
        EXPECT_EQ(r.codigo, c.codigo) << r.saida;
        const std::string linha = "Erro: Erro ao gravar o arquivo \"" + Pasta() +
                                  "log/kwVerify.log\". Mensagem de erro: Not a directory (20)\n";
        ASSERT_GE(r.saida.size(), linha.size()) << r.saida;
        EXPECT_EQ(r.saida.substr(r.saida.size() - linha.size()), linha) << r.saida;
    }
    EXPECT_EQ(kwtest::RecordedArgs(app), std::vector<std::string>{"kwUpdate"});
    EXPECT_EQ(kwtest::ReadFile(dir_ / "log"), "não é uma pasta");
}

TEST_F(LauncherProcess, OfflineApplicationAfterAFailure) {
    struct Case {
        std::string valor;
        bool inicia;
    };
    const Case cases[] = {{"S", true}, {"s", false}, {"N", false}};
    const fs::path exe = Instale("QOR.exe");
    const fs::path nonet = Programa("QORNX5NONETapp.exe");
    for (const auto& c : cases) {
        SCOPED_TRACE("USAGRAVACAOOFFLINE=" + c.valor);
        fs::remove(nonet.string() + ".argv");
        Escreva("kwCFG.ini", "[KWUPDATE]\nCdSistema=abc\n");
        Escreva("qor.ini", "[NONET]\nUSAGRAVACAOOFFLINE=" + c.valor + "\n");
        const Execucao r = Rode(exe, {"a", "b c"});
        EXPECT_EQ(r.codigo, 1);
        const std::string mensagem =
            "CdSistema é inválido. Esperado um número inteiro. Valor informado: \"abc\".";
        EXPECT_NE(r.saida.find("Erro: " + kPrefixoErro + mensagem), std::string::npos);
        if (c.inicia) {
            // The offline application gets "kwUpdate" alone, never the launcher's arguments.
            EXPECT_EQ(kwtest::RecordedArgs(nonet), (std::vector<std::string>{"kwUpdate"}));
            EXPECT_TRUE(Contains(r.log, " - Executou noNet"));
            EXPECT_EQ(r.saida.find(kTarefaErro), std::string::npos);
        } else {
            EXPECT_FALSE(Gravou(nonet));
            EXPECT_FALSE(Contains(r.log, " - Executou noNet"));
            EXPECT_NE(r.saida.find(kTarefaErro), std::string::npos);
        }
        EXPECT_TRUE(Contains(r.log, "FIM - Execute"));
    }
}

TEST_F(LauncherProcess, OfflineApplicationThatCannotStartEndsTheProgram) {
    const fs::path exe = Instale("QOR.exe");
    Escreva("kwCFG.ini", "[KWUPDATE]\nCdSistema=abc\n");
    Escreva("qor.ini", "[NONET]\nUSAGRAVACAOOFFLINE=S\n");
    const Execucao r = Rode(exe, {});
    EXPECT_EQ(r.codigo, 2);
    const std::string causa = "Erro ao executar o arquivo \"" + Pasta() +
                              "QORNX5NONETapp.exe\". Causa: No such file or directory (2)";
    const std::string mensagem = "Não foi possível executar o noNet. Causa: \"" + causa + "\".";
    // The report of an exception nobody handled, instead of the error box and window.
    EXPECT_NE(r.saida.find("Erro: Exceção TkwUpdException: " + mensagem), std::string::npos) << r.saida;
    EXPECT_EQ(r.saida.find("Erro: " + kPrefixoErro), std::string::npos) << r.saida;
    // The log was still written, without the run's end line.
    EXPECT_TRUE(Contains(r.log, "EXCEPTION: " + mensagem));
    EXPECT_FALSE(Contains(r.log, "FIM - Execute"));
    EXPECT_EQ(r.log.back(), "#DESTROY# TkwUpdLoader");
    // The window was freed: its marker is free again.
    EXPECT_FALSE(plat::IsInstanceMarkerHeld("TfkwUpdLoaderStatus"));
}

// A launcher configured for the test road: requisites from a file.
class LauncherWithRoad : public LauncherProcess {
protected:
    LauncherWithRoad() : requisitos_("KW_TEST_REQUISITOS", (dir_ / "requisitos.txt").string()) {
        Escreva("kwCFG.ini", "[KWUPDATE]\nTipoServidor=REMOTO\nCdSistema=3\n");
    }
    // One requisite in the 16-field layout whose operation needs nothing (0) or runs a
    // program that the history has never seen (2), with the launcher's folder as site.
    void Requisito(int operacao) {
        Escreva("requisitos.txt",
                "3;1;programa.exe;;;1;" + std::to_string(operacao) + ";" + Pasta() + ";;;;;;S;N;N\r\n");
    }

    kwtest::ScopedEnv requisitos_;
};

TEST_F(LauncherWithRoad, UpdateNeededStartsTheExecutor) {
    struct Case {
        bool versionada;
        std::vector<std::string> args;
        std::vector<std::string> extras;  // what the executor gets after the application's path
        std::string parametros;           // the task line's text of the arguments
    };
    const Case cases[] = {
        {true, {"/check", "x y"}, {"-v", "x y"}, "/check x y "},
        {false, {"a\"b", " ", "/check"}, {"a\"b", " ", "/check"}, "a\"b   /check "},
        {false, {}, {}, ""},
    };
    const fs::path exe = Instale("Qor2.exe", false);
    const fs::path executor = Programa("kwExec.exe");
    Programa("QOR2APP.exe");
    Requisito(2);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.parametros);
        fs::remove(executor.string() + ".argv");
        fs::remove_all(dir_ / "log");
        kwtest::ScopedEnv versionada("KW_TEST_VERSIONADA", c.versionada ? "1" : "0");
        const Execucao r = Rode(exe, c.args);
        EXPECT_EQ(r.codigo, 0) << r.saida;
        std::vector<std::string> esperado{Pasta() + "QOR2APP.exe"};
        esperado.insert(esperado.end(), c.extras.begin(), c.extras.end());
        EXPECT_EQ(kwtest::RecordedArgs(executor), esperado);
        EXPECT_FALSE(Gravou(dir_ / "QOR2APP.exe"));
        EXPECT_TRUE(fs::exists(dir_ / "log" / "kwVerify.lcm"));
        EXPECT_TRUE(fs::exists(dir_ / "log" / "kwExec.req"));
        ASSERT_GE(r.tarefas.size(), 2u);
        EXPECT_EQ(r.tarefas[r.tarefas.size() - 2], "Executando a atualização do sistema...");
        EXPECT_EQ(r.tarefas.back(), "Parâmetros recebidos pelo kwLoader: " + c.parametros + "...");
        const bool crc = !c.args.empty() && c.args.front() == "/check";
        EXPECT_EQ(Contains(r.log, " - (Verificação com checagem de integridade via CRC)"), crc);
        EXPECT_TRUE(Contains(r.log, "FIM - ExecuteAtualizacao"));
        // The verification object is freed after the executor was started.
        EXPECT_LT(IndexOf(r.log, "FIM - ExecuteAtualizacao"), IndexOf(r.log, "#DESTROY# TkwUpdVerificacao"));
    }
}

// The executor's refresh fails at the first site and the second is off: the message keeps the
// line break between its lead sentence and its cause, in the log file as on standard error.
// Before, the file held a lone CR there, and its readers showed "...fldisponivel2 = NCausa: ...".
TEST_F(LauncherWithRoad, AFailedExecutorRefreshKeepsTheLineBreakOfItsMessage) {
    const fs::path exe = Instale("Qor2.exe", false);
    Programa("QOR2APP.exe");
    Escreva("requisitos.txt", "3;1;kwExec.exe;;;5;1;" + Pasta() + "sem-site/;;;;;;S;N;N\r\n");
    const Execucao r = Rode(exe, {});
    EXPECT_EQ(r.codigo, 1) << r.saida;
    const std::string quebra =
        "pois está configurado para fldisponivel2 = N\r\nCausa: Não foi possível atualizar \"kwExec.exe\".";
    EXPECT_NE(r.logBruto.find(quebra), std::string::npos) << r.logBruto;
    EXPECT_EQ(r.logBruto.find("= N\rC"), std::string::npos);
    EXPECT_NE(r.saida.find("fldisponivel2 = N\nCausa: Não foi possível atualizar"), std::string::npos)
        << r.saida;
    // The cause is a plain line of the file: it reads back as a line of its own.
    EXPECT_TRUE(std::any_of(r.log.begin(), r.log.end(), [](const std::string& l) {
        return l.rfind("Causa: Não foi possível atualizar \"kwExec.exe\". Motivo: Erro ao copiar o arquivo",
                       0) == 0;
    }));
}

TEST_F(LauncherWithRoad, UpdateAlreadyRunning) {
    const fs::path exe = Instale("Qor2.exe", false);
    const fs::path executor = Programa("kwExec.exe");
    Programa("QOR2APP.exe");
    Requisito(2);
    plat::InstanceMarker executorRodando("TfkwUpdExecStatus");
    ASSERT_TRUE(executorRodando.TryAcquire());
    const Execucao r = Rode(exe, {});
    EXPECT_EQ(r.codigo, 1);
    const std::string mensagem =
        "Não foi possível executar a atualização pois o sistema detectou que já existe uma atualização em "
        "andamento.";
    EXPECT_TRUE(Contains(r.log, "EXCEPTION: " + mensagem));
    EXPECT_NE(r.saida.find("Erro: " + kPrefixoErro + mensagem), std::string::npos);
    EXPECT_FALSE(Gravou(executor));
    EXPECT_FALSE(Gravou(dir_ / "QOR2APP.exe"));
}

TEST_F(LauncherWithRoad, SecondLauncherWhileTheFirstWaitsForTheApplication) {
    const fs::path exe = Instale("Qor2.exe", false);
    const fs::path app = Programa("QOR2APP.exe");
    Requisito(0);

    // A copy of the application is running.
    kwtest::WriteFile(app.string() + ".hold", "");
    plat::ProcessOptions bg;
    bg.detached = true;
    plat::StartProcess(app.string(), {}, bg);
    ASSERT_TRUE(kwtest::Eventually([&] { return plat::IsProcessRunning(app.string()); }));
    kwtest::RecordedArgs(app);  // its own start, recorded before the launchers run
    fs::remove(app.string() + ".argv");

    // The first launcher gets as far as the wait and stays there.
    Execucao primeira;
    std::thread t([&] { primeira = Rode(exe, {"um"}, "primeira.txt"); });
    const bool aguardando = kwtest::Eventually([&] {
        return fs::exists(dir_ / "primeira.txt") &&
               kwtest::ReadFile(dir_ / "primeira.txt").find("Aguardando o encerramento da aplicação...") !=
                   std::string::npos;
    });
    EXPECT_TRUE(aguardando);

    // The second one finds it running, logs that and starts nothing.
    const Execucao segunda = Rode(exe, {"dois"}, "segunda.txt");
    EXPECT_EQ(segunda.codigo, 0);
    EXPECT_EQ(segunda.saida, "");  // no window, no box
    EXPECT_EQ(
        segunda.log,
        (std::vector<std::string>{
            "#CREATE# TkwUpdLoader", "INICIO - Create...", " - Diretório de trabalho: " + Pasta() + "log/",
            " - Versao do KwLoader: 4.1.0.0", "FIM - Create", "INICIO - Execute...",
            "Verificando se o kwLoader já esta executando (TfkwUpdLoaderStatus)...",
            " - O kwLoader já está executando. O sistema não será carregado.", "FIM - Execute",
            "INICIO - Destroy...", "FIM - Destroy...", "#DESTROY# TkwUpdLoader"}));
    EXPECT_FALSE(Gravou(app));

    // The application closes; the first launcher goes on and starts it.
    fs::remove(app.string() + ".hold");
    kwtest::WriteFile(app.string() + ".stop", "");
    t.join();
    EXPECT_EQ(primeira.codigo, 0) << primeira.saida;
    EXPECT_EQ(kwtest::RecordedArgs(app), (std::vector<std::string>{"kwUpdate", "um"}));
    const int espera =
        IndexOf(primeira.log, "Aguardando o encerramento da aplicação \"" + Pasta() + "QOR2APP.exe\"...");
    ASSERT_GE(espera, 0);
    EXPECT_EQ(IndexOf(primeira.log, "Aplicação encerrada"), espera + 1);
    EXPECT_TRUE(Contains(primeira.log, " - O sistema já está atualizado."));
    // Both runs are in the file, the first launcher's on top.
    EXPECT_NE(primeira.logBruto.find("O kwLoader já está executando"), std::string::npos);
}

}  // namespace
