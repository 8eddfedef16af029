// Tests of the launcher run inside the test process: the roads as the run calls them, the
// failures they raise, the wait for an application that never closes (on a manual clock),
// the window's progress, and what the launcher's construction and destruction leave behind.
// The programs the run starts are real processes (copies of kwrun_app).
#include "launcher/ukwUpdLoader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <thread>

#include "common/LauncherBaseTestSupport.h"
#include "common/ukwUpdConfig.h"
#include "common/ukwUpdConstante.h"
#include "common/ukwUpdIni.h"
#include "common/ukwUpdVersao.h"
#include "launcher/LauncherRunTestSupport.h"
#include "launcher/ukwUpdLoaderStatus.h"
#include "platform/Process.h"
#include "rtl/Text.h"

namespace {

namespace fs = std::filesystem;
using kwtest::Contains;
using kwtest::IndexOf;

const std::string kPrefixoErro = "Houve um erro durante o carregamento do sistema. ";
const std::string kTarefaErro =
    "Erro ao carregar o sistema.\nFavor entrar em contato com o administrador do sistema....";

// What a road saw of the run when it was called.
struct Visto {
    int chamadas = 0;
    int32_t cdSistema = 0, cdSistemaGenerico = 0, cdLocalUpdate = 0;
    std::string dbUser, dbPassword, tarefa, versao;
    int progresso = -1;
};

// A road that answers with a given text (or raises what it is given to raise).
class EstradaDeTeste final : public TkwUpdEstradaRequisitos {
public:
    EstradaDeTeste(Visto& visto, std::function<TkwUpdRequisitosObtidos(TkwUpdLoader&)> resposta)
        : visto_(visto), resposta_(std::move(resposta)) {}
    TkwUpdRequisitosObtidos ObtenhaRequisitos(TkwUpdLoader& l) override {
        ++visto_.chamadas;
        visto_.cdSistema = l.CdSistema;
        visto_.cdSistemaGenerico = l.CdSistemaGenerico;
        visto_.cdLocalUpdate = l.CdLocalUpdate;
        visto_.dbUser = l.DBUser;
        visto_.dbPassword = l.DBPassword;
        visto_.tarefa = l.Status->Formulario().Find("lbTarefa").caption;
        visto_.versao = l.Status->Formulario().Find("lbVersao").caption;
        visto_.progresso = l.Status->Formulario().Find("pbProgresso").position;
        return resposta_(l);
    }

private:
    Visto& visto_;
    std::function<TkwUpdRequisitosObtidos(TkwUpdLoader&)> resposta_;
};

class LoaderRun : public ::testing::Test {
protected:
    explicit LoaderRun(const std::string& exe = "QOR.exe") : pasta_(exe) {
        app_ = pasta_ / "QORAPP.exe";
        kwtest::InstallProg("kwrun_app", app_);
    }

    void Configure(const std::string& cfg) { pasta_.WriteOld("kwCFG.ini", cfg); }

    // A requisites text that needs no update (one requisite of operation 0).
    std::string NadaAAtualizar() const { return "3;1;nada.txt;;;1;0;" + pasta_.Folder() + ";;;;;;S;N;N\r\n"; }

    // Runs a launcher with the given roads; returns its log texts (the launcher is freed, so
    // the log file is written).
    std::vector<std::string> Rode(std::unique_ptr<TkwUpdEstradaRequisitos> servidor,
                                  std::unique_ptr<TkwUpdEstradaRequisitos> banco, bool& falhou,
                                  std::vector<std::string> args = {}) {
        auto loader = std::make_unique<TkwUpdLoader>();
        loader->DBUser = "qorbanco";
        loader->DBPassword = "trelvoma";
        loader->Argumentos = std::move(args);
        if (servidor) loader->DefinaEstradaServidor(std::move(servidor));
        if (banco) loader->DefinaEstradaBanco(std::move(banco));
        loader->Execute(false);
        EXPECT_EQ(loader->Status, nullptr);
        falhou = loader->Falhou();
        const auto linhas = kwtest::Texts(*loader->Log);
        loader.reset();
        return linhas;
    }

    kwtest::HeadlessOutput out_;
    kwtest::PrivateMarkers markers_;
    kwtest::LauncherFolder pasta_;
    fs::path app_;
};

TEST_F(LoaderRun, EachServerTypeCallsItsRoadOnce) {
    struct Case {
        const char* tipo;
        bool remoto;
    };
    const Case cases[] = {{"REMOTO", true}, {"remoto", true}, {"LOCAL", false}, {"Local", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tipo);
        fs::remove(app_.string() + ".argv");
        Configure(std::string("[KWUPDATE]\nTipoServidor=") + c.tipo + "\nCdSistema=3\nLocalUpdate=12\n");
        ResetConfigurationSingletons();
        Visto servidor, banco;
        const std::string texto = NadaAAtualizar();
        auto resposta = [&](TkwUpdLoader&) { return TkwUpdRequisitosObtidos{texto, false}; };
        bool falhou = true;
        const auto log = Rode(std::make_unique<EstradaDeTeste>(servidor, resposta),
                              std::make_unique<EstradaDeTeste>(banco, resposta), falhou, {"arg"});
        EXPECT_FALSE(falhou);
        const Visto& usado = c.remoto ? servidor : banco;
        EXPECT_EQ(servidor.chamadas, c.remoto ? 1 : 0);
        EXPECT_EQ(banco.chamadas, c.remoto ? 0 : 1);
        EXPECT_EQ(usado.cdSistema, 3);
        EXPECT_EQ(usado.cdSistemaGenerico, -1);
        EXPECT_EQ(usado.cdLocalUpdate, 12);
        EXPECT_EQ(usado.dbUser, "qorbanco");
        EXPECT_EQ(usado.dbPassword, "trelvoma");
        EXPECT_EQ(usado.tarefa, c.remoto ? "Buscando os requisitos do servidor de aplicação..."
                                         : "Buscando os requisitos do banco de dados...");
        EXPECT_EQ(usado.progresso, 5);  // steps 5 to 8 and this one
        const std::string antes =
            c.remoto ? " - Conexão remota. Pegado os dados de requisitos do S.A. KW4..."
                     : " - Conexão local. Pegando os dados de requisitos do banco de dados...";
        const std::string depois = c.remoto ? " - Dados obtidos com sucesso." : " - Dados pegos com sucesso.";
        const int i = IndexOf(log, antes);
        ASSERT_GE(i, 0);
        EXPECT_EQ(log[size_t(i) + 1], depois);
        EXPECT_EQ(log[size_t(i) + 2], " - Verificando a consistência dos requisitos...");
        EXPECT_EQ(log[size_t(i) + 3], " - Requisitos OK");
        for (const char* linha :
             {" - Sistema=3", " - Sistema genérico=-1", " - Local update=12", " - Configurações do Loader OK",
              " - O sistema já está atualizado.", "FIM - Execute"})
            EXPECT_TRUE(Contains(log, linha)) << linha;
        EXPECT_EQ(kwtest::RecordedArgs(app_), (std::vector<std::string>{"kwUpdate", "arg"}));
    }
}

TEST_F(LoaderRun, ANormalRunShowsEightSteps) {
    Configure("[KWUPDATE]\nTipoServidor=LOCAL\nCdSistema=3\n");
    Visto visto;
    const std::string texto = NadaAAtualizar();
    bool falhou = true;
    Rode(nullptr,
         std::make_unique<EstradaDeTeste>(visto,
                                          [&](TkwUpdLoader&) { return TkwUpdRequisitosObtidos{texto}; }),
         falhou);
    EXPECT_FALSE(falhou);
    EXPECT_EQ(
        kwtest::SplitLinesOf(out_.Text()),
        (std::vector<std::string>{
            "Carregando o sistema...", "Lendo a configuração da estação...",
            "Carregando as configurações do kwCFG.ini...", "Verificando as configurações do sistema...",
            "Buscando os requisitos do banco de dados...", "Verificando se o sistema está atualizado...",
            "Executando o sistema...", "Parâmetros recebidos pelo kwLoader: ..."}));
}

TEST_F(LoaderRun, RoadFailures) {
    struct Case {
        const char* nome;
        std::function<TkwUpdRequisitosObtidos(TkwUpdLoader&)> resposta;
        std::string mensagem;
        bool seRegistra;     // a TkwUpdException logs itself
        std::string tarefa;  // the task line written after the failure
    };
    const std::string indisponivel = "O servidor de atualização não está disponível. ";
    const Case cases[] = {
        {"no update site",
         [&](TkwUpdLoader& l) -> TkwUpdRequisitosObtidos {
             throw EkwLocalUpdateIndisponivel(indisponivel, *l.Log);
         },
         indisponivel, true, indisponivel + "..."},
        {"empty requisites",
         [](TkwUpdLoader&) {
             return TkwUpdRequisitosObtidos{"", true};
         },
         "Os dados necessários para verificar se o sistema está atualizado estão vazios. Causa: "
         "Desconhecida. "
         "Sistema: \"3\".",
         true, kTarefaErro},
        {"launcher failure",
         [](TkwUpdLoader& l) -> TkwUpdRequisitosObtidos {
             throw TkwUpdException(
                 "Erro ao acessar o servidor de aplicação. Causa: TimeOut. Tempo: 60 segundos.", *l.Log);
         },
         "Erro ao acessar o servidor de aplicação. Causa: TimeOut. Tempo: 60 segundos.", true, kTarefaErro},
        {"plain failure",
         [](TkwUpdLoader&) -> TkwUpdRequisitosObtidos {
             throw rtl::Exception(
                 "Não foi possível conectar no servidor de aplicação.\r\nA chave EnderecoIP do arquivo "
                 "kwCfg.ini "
                 "está vazia.");
         },
         "Não foi possível conectar no servidor de aplicação.\r\nA chave EnderecoIP do arquivo kwCfg.ini "
         "está vazia.",
         false, kTarefaErro},
        {"standard library failure",
         [](TkwUpdLoader&) -> TkwUpdRequisitosObtidos { throw std::runtime_error("disco cheio"); },
         "disco cheio", false, kTarefaErro},
    };
    Configure("[KWUPDATE]\nTipoServidor=REMOTO\nCdSistema=3\n");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.nome);
        kwtest::HeadlessOutput out;
        Visto visto;
        bool falhou = false;
        const auto log = Rode(std::make_unique<EstradaDeTeste>(visto, c.resposta), nullptr, falhou);
        EXPECT_TRUE(falhou);
        EXPECT_EQ(Contains(log, "EXCEPTION: " + c.mensagem), c.seRegistra);
        EXPECT_EQ(Contains(log, " - Erro: " + kPrefixoErro + c.mensagem), !c.seRegistra);
        EXPECT_TRUE(Contains(log, "FIM - Execute"));
        EXPECT_FALSE(fs::exists(app_.string() + ".argv"));
        std::string caixa = "Erro: " + kPrefixoErro + c.mensagem;
        caixa = rtl::StringReplace(caixa, "\r\n", "\n");
        EXPECT_NE(out.Text().find(c.tarefa + "\n" + caixa + "\n"), std::string::npos) << out.Text();
    }
}

TEST_F(LoaderRun, TheBuildsRoadsFailThroughTheErrorPath) {
    struct Case {
        const char* tipo;
        const char* mensagem;
        bool excecaoDoLauncher;  // a TkwUpdException (logged when made), else a plain failure
    };
    const Case cases[] = {
        // The server road, with no server named in the file.
        {"REMOTO",
         "Não foi possível conectar no servidor de aplicação.\r\nO arquivo kwCfg.ini não contêm nenhuma "
         "informação necessária para a conexão.",
         false},
        // The database road, with no database named in the file.
        {"LOCAL",
         "O Alias para conexão com o banco de dados não foi informado na seção [Database]. Verifique se o "
         "arquivo \"kwCFG.ini\" foi configurado corretamente.",
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tipo);
        Configure(std::string("[KWUPDATE]\nTipoServidor=") + c.tipo + "\nCdSistema=3\n");
        ResetConfigurationSingletons();
        bool falhou = false;
        const auto log = Rode(CrieEstradaServidor(), CrieEstradaBanco(), falhou);
        EXPECT_TRUE(falhou);
        if (c.excecaoDoLauncher)
            EXPECT_TRUE(Contains(log, std::string("EXCEPTION: ") + c.mensagem));
        else
            EXPECT_TRUE(Contains(log, " - Erro: " + kPrefixoErro + c.mensagem));
        EXPECT_FALSE(fs::exists(app_.string() + ".argv"));
    }
}

TEST_F(LoaderRun, AnApplicationThatNeverClosesFailsTheRun) {
    Configure("[KWUPDATE]\nTipoServidor=LOCAL\nCdSistema=3\n");
    kwtest::WriteFile(app_.string() + ".hold", "");
    plat::ProcessOptions bg;
    bg.detached = true;
    plat::StartProcess(app_.string(), {}, bg);
    ASSERT_TRUE(kwtest::Eventually([&] { return plat::IsProcessRunning(app_.string()); }));
    kwtest::RecordedArgs(app_);  // its own start, recorded before the run begins
    fs::remove(app_.string() + ".argv");

    plat::ManualClock relogio;
    plat::ScopedClock comRelogio(relogio);
    Visto visto;
    const std::string texto = NadaAAtualizar();
    bool falhou = false;
    const auto log = Rode(nullptr,
                          std::make_unique<EstradaDeTeste>(
                              visto, [&](TkwUpdLoader&) { return TkwUpdRequisitosObtidos{texto}; }),
                          falhou);
    kwtest::WriteFile(app_.string() + ".stop", "");
    EXPECT_TRUE(kwtest::Eventually([&] { return !plat::IsProcessRunning(app_.string()); }));

    EXPECT_TRUE(falhou);
    EXPECT_EQ(relogio.Elapsed(), 400u * 300u);  // two minutes on the manual clock
    const std::string mensagem =
        "A aplicação 'QORAPP.exe' está em uso ou bloqueada por outra aplicação e não é possível realizar a "
        "atualização.";
    EXPECT_TRUE(Contains(log, " - Erro: " + kPrefixoErro + mensagem));
    EXPECT_TRUE(
        Contains(log, "Aguardando o encerramento da aplicação \"" + pasta_.Folder() + "QORAPP.exe\"..."));
    EXPECT_FALSE(Contains(log, "Aplicação encerrada"));
    EXPECT_FALSE(Contains(log, "#CREATE# TkwUpdVerificacao"));
    EXPECT_NE(out_.Text().find("Aguardando o encerramento da aplicação...\n" + kTarefaErro),
              std::string::npos)
        << out_.Text();
    EXPECT_FALSE(fs::exists(app_.string() + ".argv"));  // nothing started
}

TEST_F(LoaderRun, ARoadsWorkerThreadReachesTheWindowThroughItsMailbox) {
    Configure("[KWUPDATE]\nTipoServidor=REMOTO\nCdSistema=3\n");
    Visto visto;
    const std::string texto = NadaAAtualizar();
    bool falhou = true;
    Rode(std::make_unique<EstradaDeTeste>(
             visto,
             [&](TkwUpdLoader& l) {
                 auto caixa = l.Status->CaixaTarefa();
                 std::thread conexao([caixa] {
                     caixa->PosteTextoTarefa(
                         "Conectando ao servidor de aplicação no seguinte endereço: "
                         "\r\nservidor:211");
                 });
                 conexao.join();
                 l.Status->ProcesseMensagens();
                 return TkwUpdRequisitosObtidos{texto};
             }),
         nullptr, falhou);
    EXPECT_FALSE(falhou);
    EXPECT_NE(out_.Text().find("Buscando os requisitos do servidor de aplicação...\n"
                               "Conectando ao servidor de aplicação no seguinte endereço: \nservidor:211\n"
                               "Verificando se o sistema está atualizado...\n"),
              std::string::npos)
        << out_.Text();
}

TEST_F(LoaderRun, ConstructionAndDestruction) {
    SetLauncherVersionOverride(TkwVersaoArquivo{4, 0, 8, 7});
    Configure("[KWUPDATE]\nTipoServidor=LOCAL\nCdSistema=3\n");
    Visto visto;
    const std::string texto = NadaAAtualizar();
    {
        TkwUpdLoader loader;
        EXPECT_EQ(ObtenhaNumeroVersao(), 4087);  // the launcher handed its own path over
        EXPECT_EQ(loader.VersaoLoader, "4.0.8.7");
        EXPECT_TRUE(loader.PodeAtualizar);
        EXPECT_EQ(loader.CdSistema, -1);
        EXPECT_EQ(loader.CdSistemaGenerico, -1);
        EXPECT_EQ(loader.CdLocalUpdate, 0);
        EXPECT_TRUE(loader.DBUser.empty());
        EXPECT_NE(loader.Log, loader.LogSecundario);
        EXPECT_EQ(kwUpdIni().Log(), loader.Log);
        EXPECT_EQ(kwtest::Texts(*loader.Log),
                  (std::vector<std::string>{"#CREATE# TkwUpdLoader", "INICIO - Create...",
                                            " - Diretório de trabalho: " + pasta_.Folder() + "log/",
                                            " - Versao do KwLoader: 4.0.8.7", "FIM - Create"}));
        loader.DefinaEstradaBanco(std::make_unique<EstradaDeTeste>(
            visto, [&](TkwUpdLoader&) { return TkwUpdRequisitosObtidos{texto}; }));
        loader.Execute(false);
    }
    EXPECT_EQ(visto.versao, "Versão do loader: 4.0.8.7");
    // The settings reader outlives the launcher and no longer writes to its freed log.
    EXPECT_EQ(kwUpdIni().Log(), nullptr);
    kwUpdIni().CdSistema();
    const auto log = kwtest::LogTexts(kwtest::ReadFile(pasta_ / "log" / "kwVerify.log"));
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(log.end() - 4, log.end()),
              (std::vector<std::string>{"FIM - Execute", "INICIO - Destroy...", "FIM - Destroy...",
                                        "#DESTROY# TkwUpdLoader"}));
}

// The update executor's command line as the log shows it and as the program receives it, and
// the start failures of the executor and of the application with the reason the start left.
TEST_F(LoaderRun, StartingTheExecutorAndTheApplication) {
    const fs::path executor = pasta_ / "kwExec.exe";
    kwtest::InstallProg("kwrun_app", executor);
    const std::string aplicacao = pasta_.Folder() + "QORAPP.exe";
    struct Case {
        bool versionada;
        std::vector<std::string> args;
        std::string parametros;  // as the log line quotes them
        std::vector<std::string> recebidos;
    };
    const Case cases[] = {
        {true, {"/CHECK", "x y"}, "\"" + aplicacao + "\" \"-v\" \"x y\"", {aplicacao, "-v", "x y"}},
        {false, {"a", "/check"}, "\"" + aplicacao + "\" \"a\" \"/check\"", {aplicacao, "a", "/check"}},
        {false, {}, "\"" + aplicacao + "\"", {aplicacao}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.parametros);
        fs::remove(executor.string() + ".argv");
        TkwUpdLoader loader;
        loader.Argumentos = c.args;
        loader.ExecuteAtualizacao(c.versionada);
        const auto log = kwtest::Texts(*loader.Log);
        const int inicio = IndexOf(log, "INICIO - ExecuteAtualizacao...");
        ASSERT_GE(inicio, 0);
        EXPECT_EQ(std::vector<std::string>(log.begin() + inicio, log.end()),
                  (std::vector<std::string>{
                      "INICIO - ExecuteAtualizacao...",
                      " - Verificando se já não existe uma atualização em andamento...",
                      " - Nenhuma atualização em andamento",
                      " - Executando : \"" + executor.string() + "\" - Params : \"" + c.parametros + "\"",
                      " - Execução OK", "FIM - ExecuteAtualizacao"}));
        EXPECT_EQ(kwtest::RecordedArgs(executor), c.recebidos);
    }

    // Neither program there: each start fails with the reason the start left behind.
    fs::remove(executor);
    fs::remove(app_);
    struct Falha {
        const char* nome;
        std::function<void(TkwUpdLoader&)> inicie;
        std::string programa, inicioMensagem;
    };
    const Falha falhas[] = {
        {"executor", [](TkwUpdLoader& l) { l.ExecuteAtualizacao(false); }, executor.string(),
         "Não foi possível executar a atualização pois ocorreu um erro ao executar o kwExec. Causa: "},
        {"application", [](TkwUpdLoader& l) { l.ExecuteAplicacao(); }, aplicacao,
         "Não foi possível executar o sistema. Causa: "},
    };
    for (const Falha& f : falhas) {
        SCOPED_TRACE(f.nome);
        TkwUpdLoader loader;
        UltimoErro.clear();
        std::string mensagem;
        try {
            f.inicie(loader);
        } catch (const TkwUpdException& e) {
            mensagem = e.Message();
        }
        EXPECT_NE(UltimoErro.find(f.programa), std::string::npos) << UltimoErro;
        EXPECT_EQ(mensagem, f.inicioMensagem + "\"" + UltimoErro + "\".");
        const auto log = kwtest::Texts(*loader.Log);
        EXPECT_TRUE(Contains(log, "EXCEPTION: " + mensagem));
        EXPECT_FALSE(Contains(log, " - Execução OK"));
    }
    // The application's start writes no begin and end lines of its own.
    kwtest::InstallProg("kwrun_app", app_);
    TkwUpdLoader loader;
    loader.ExecuteAplicacao();
    const auto log = kwtest::Texts(*loader.Log);
    const int inicio = IndexOf(log, " - Executando o sistema de: \"" + aplicacao + "\"");
    ASSERT_GE(inicio, 0);
    EXPECT_EQ(
        std::vector<std::string>(log.begin() + inicio, log.end()),
        (std::vector<std::string>{" - Executando o sistema de: \"" + aplicacao + "\"", " - Execução OK"}));
}

// A blank or absent LocalUpdate keeps the code a new launcher has and says so; a number
// replaces it.
TEST_F(LoaderRun, TheUpdateSiteCodeOfTheFile) {
    struct Case {
        const char* linha;
        int32_t codigo;
        const char* detalhe;
    };
    const Case cases[] = {
        {"", 0, " - Nenhum local update setado no kwCFG.ini. Usando local update default."},
        {"LocalUpdate=\n", 0, " - Nenhum local update setado no kwCFG.ini. Usando local update default."},
        {"LocalUpdate=   \n", 0, " - Nenhum local update setado no kwCFG.ini. Usando local update default."},
        {"LocalUpdate=-1\n", -1, " - Novo local update: -1"},
        {"LocalUpdate=0\n", 0, " - Novo local update: 0"},
        {"LocalUpdate=2147483647\n", 2147483647, " - Novo local update: 2147483647"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.linha);
        Configure(std::string("[KWUPDATE]\nCdSistema=3\n") + c.linha);
        ResetConfigurationSingletons();
        TkwUpdLoader loader;
        loader.CarregueConfiguracoesDoINI();
        EXPECT_EQ(loader.CdLocalUpdate, c.codigo);
        EXPECT_EQ(loader.CdSistema, 3);
        EXPECT_TRUE(Contains(kwtest::Texts(*loader.Log), c.detalhe));
    }
    // Past the 32-bit range is no number.
    Configure("[KWUPDATE]\nCdSistema=3\nLocalUpdate=2147483648\n");
    ResetConfigurationSingletons();
    TkwUpdLoader loader;
    try {
        loader.CarregueConfiguracoesDoINI();
        ADD_FAILURE() << "no failure";
    } catch (const TkwUpdException& e) {
        EXPECT_EQ(e.Message(),
                  "Local de update é inválido. Esperado um número inteiro. Valor informado: \"2147483648\".");
    }
}

TEST_F(LoaderRun, PathsAndArgumentsPassedOn) {
    struct CaminhoCase {
        const char* exe;
        const char* app;
    };
    const CaminhoCase caminhos[] = {{"Qor.exe", "QORAPP.exe"},
                                    {"qor", "QORAPP.exe"},
                                    {"a.b.exe", "AAPP.exe"},
                                    {"zulAdm.EXE", "ZULADMAPP.exe"}};
    for (const auto& c : caminhos) {
        kwtest::LauncherFolder outra(c.exe);
        TkwUpdLoader loader;
        EXPECT_EQ(loader.ObtenhaCaminhoAplicacao(), outra.Folder() + c.app) << c.exe;
    }

    struct ArgCase {
        std::vector<std::string> args;
        std::vector<std::string> repassados;
    };
    const ArgCase argumentos[] = {
        {{}, {}},
        {{"/check"}, {}},
        {{"/ChEcK", "/check"}, {"/check"}},
        {{"x", "/check"}, {"x", "/check"}},
        {{"/checkx", "a b"}, {"/checkx", "a b"}},
    };
    TkwUpdLoader loader;
    for (const auto& c : argumentos) {
        loader.Argumentos = c.args;
        EXPECT_EQ(loader.ArgumentosRepassados(), c.repassados);
    }
}

}  // namespace
