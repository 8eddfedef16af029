// The connections' parts that need no application server: the login texts, the balancer's
// request, the web address's parts and probe port, the certificate file's name, the
// [kwBalanceador] rewrite, and Conectar up to the attempt (type check, probes, the status
// window's texts, a missing certificate) against listeners of the test's own.
#include "transfer/ukwUpdConexaoKw4.h"

#include <gtest/gtest.h>

#include "common/LauncherBaseTestSupport.h"
#include "common/ukwUpdUtil.h"
#include "rtl/Exception.h"
#include "support/LoopbackListeners.h"
#include "transfer/ConexaoTestSupport.h"
#include "transfer/ukwParametrosBalanceador.h"

namespace {

using kwtest::AttemptClock;
using kwtest::TelaDeTeste;

TEST(MonteParametrosBalanceador, LinesOfTheNonEmptyParameters) {
    struct Case {
        const char *tentados, *tipo, *versao, *sistema, *texto;
    };
    const Case cases[] = {
        {"", "SOCKET", "", "5", "psTipoConexao=SOCKET\r\npsCdSistema=5\r\n"},
        {"A|B", "HTTP", "", "5", "psLstServidoresJaTentados=A|B\r\npsTipoConexao=HTTP\r\npsCdSistema=5\r\n"},
        {"A|B;C|D", "SOCKET", "", "", "psLstServidoresJaTentados=A|B;C|D\r\npsTipoConexao=SOCKET\r\n"},
        {"", "SOCKET", "", "", "psTipoConexao=SOCKET\r\n"},
        {"", "SOCKET", "4.1", "7", "psTipoConexao=SOCKET\r\npsVersaoSistema=4.1\r\npsCdSistema=7\r\n"},
        {"", "", "", "", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MonteParametrosBalanceador(c.tentados, c.tipo, c.versao, c.sistema), c.texto) << c.texto;
}

TEST(MensagemErroLogin, EveryCode) {
    const std::string db =
        "Não foi possível efetuar a conexão com o banco de dados. Possíveis causas: banco de dados fora do "
        "ar, "
        "configuração incorreta do cliente de banco de dados, da BDE ou do arquivo de configuração "
        "kwCfg.ini.";
    struct Case {
        int32_t codigo;
        std::string mensagem, texto;
    };
    const Case cases[] = {
        {1, "ORA-12541", db + "\n\r\n\rMensagem original : ORA-12541"},
        {2, "até 18h", "Banco de dados em manutenção. Mensagem: até 18h"},
        {3, "bem-vindo", ""},
        {4, "aviso", ""},
        {5, "x", ""},
        {6, "y", ""},
        {11, "QOR", db + " Alias: QOR"},
        {12, "ignorada",
         "O arquivo de configuração kwCfg.ini do servidor de aplicação não foi encontrado ou está "
         "incorretamente "
         "configurado."},
        {13, "QOR",
         "O sistema tentou conectar ao banco de dados de alias \"QOR\" mas ele não está registrado na BDE. "
         "Entre em "
         "contato com o suporte para registrar o alias na BDE e verificar no kwCfg.ini se a configuração "
         "para o Alias "
         "na sessão [Database] também está correta."},
        {14, "QOR",
         "O sistema tentou conectar ao banco de dados com o alias \"QOR\" mas ele não está catalogado no "
         "client do "
         "DB2. Entre em contato com o suporte para catalogar o alias no client do DB2."},
        {15, "QOR/srv",
         "O computador que possui o servidor de banco de dados está desligado ou não pode ser alcançado por "
         "problemas "
         "de rede (alias do banco e nome do computador: \"QOR/srv\"). Entre em contato com o suporte para "
         "verificar o "
         "problema."},
        {0, "falhou", "Erro ao acessar o servivor de aplicação. Mensagem: falhou"},
        {0, "", ""},
        {7, "sete", "Erro ao acessar o servivor de aplicação. Mensagem: sete"},
        {10, "", ""},
        {16, "dezesseis", "Erro ao acessar o servivor de aplicação. Mensagem: dezesseis"},
        {-1, "negativo", "Erro ao acessar o servivor de aplicação. Mensagem: negativo"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MensagemErroLogin(c.codigo, c.mensagem), c.texto) << c.codigo;
}

TEST(AnaliseEnderecoWeb, PartsAndTheProbesPort) {
    struct Case {
        const char* endereco;
        const char *esquema, *host, *caminho, *url;
        int32_t porta;
    };
    const Case cases[] = {
        {"http://srv/kw/httpsrvr.dll", "http", "srv", "kw/httpsrvr.dll", "http://srv/kw/httpsrvr.dll", 80},
        {"HTTP://srv/x", "HTTP", "srv", "x", "HTTP://srv/x", 80},
        {"https://srv/x", "https", "srv", "x", "https://srv/x", 443},
        {"http://srv:8080/kw/httpsrvr.dll", "http", "srv:8080", "kw/httpsrvr.dll",
         "http://srv:8080/kw/httpsrvr.dll", 8080},
        // The older form: the port after a ":" in the path, which the address to the server loses.
        {"http://srv/kw/httpsrvr.dll:8081", "http", "srv", "kw/httpsrvr.dll", "http://srv/kw/httpsrvr.dll",
         8081},
        {"http://srv:8080/kw/x.dll:8081", "http", "srv:8080", "kw/x.dll", "http://srv:8080/kw/x.dll", 8080},
        {"http://srv:abc/x", "http", "srv:abc", "x", "http://srv:abc/x", 80},
        {"http://srv", "http", "srv", "", "http://srv/", 80},
        {"https://srv/a?b=c", "https", "srv", "a?b=c", "https://srv/a?b=c", 443},
    };
    for (const Case& c : cases) {
        const TkwEnderecoWeb e = AnaliseEnderecoWeb(c.endereco);
        EXPECT_EQ(e.Esquema, c.esquema) << c.endereco;
        EXPECT_EQ(e.ParteHost, c.host) << c.endereco;
        EXPECT_EQ(e.Caminho, c.caminho) << c.endereco;
        EXPECT_EQ(e.URL(), c.url) << c.endereco;
        EXPECT_EQ(e.PortaSonda, c.porta) << c.endereco;
        EXPECT_EQ(e.Host(), std::string(c.host).substr(0, std::string(c.host).find(':'))) << c.endereco;
    }
    EXPECT_EQ(kwtest::ThrownMessage([] { AnaliseEnderecoWeb("http://srv/kw/httpsrvr.dll:abc"); }),
              "'abc' is not a valid integer value");
}

TEST(ObtenhaArquivoCertificado, TheExecutablesNameWithAppCer) {
    const std::pair<const char*, const char*> cases[] = {
        {"/opt/sis/QOR.EXE", "/opt/sis/QORApp.cer"},
        {"/opt/sis/Qor.Exe", "/opt/sis/QorApp.cer"},
        {"/opt/sis/kwLoader", "/opt/sis/kwLoaderApp.cer"},
        {"/opt/x.exe.d/kwLoader", "/opt/x.exe.d/kwLoaderApp.cer"},
        {"/opt/sis/a.exe.exe", "/opt/sis/aApp.cer.exe"},
    };
    for (const auto& [exe, cer] : cases) {
        SetExecutablePathOverride(exe);
        EXPECT_EQ(ObtenhaArquivoCertificado(), cer) << exe;
    }
    SetExecutablePathOverride("");
}

// ---- [kwBalanceador] ----------------------------------------------------------------------------

class GravarBalanceadores : public ::testing::Test {
protected:
    std::string Grave(const std::string& arquivo, const std::string& lista, std::string* erro = nullptr) {
        pasta_.WriteOld("kwCFG.ini", arquivo);
        const std::string falha =
            kwtest::ThrownMessage([&] { TkwUpdConexaoKw4::GravarBalanceadores(lista); });
        if (erro)
            *erro = falha;
        else
            EXPECT_EQ(falha, "(no exception)");
        return kwtest::ReadFile(pasta_ / "kwCFG.ini");
    }
    kwtest::LauncherFolder pasta_{"kwLoader"};
};

TEST_F(GravarBalanceadores, TwoLinesOrFewerLeaveTheFileAlone) {
    const std::string cfg =
        "[Servidor]\r\nenderecoIP=a\r\n\r\n[kwBalanceador]\r\nGUID={X}\r\nEnderecoIP1=b:1\r\n";
    for (const char* lista : {"", "[kwBalanceador]", "[kwBalanceador]\r\nGUID={Y}\r\n", "qualquer\r\ncoisa"})
        EXPECT_EQ(Grave(cfg, lista), cfg) << lista;
}

TEST_F(GravarBalanceadores, ThreeLinesReplaceTheSection) {
    struct Case {
        const char* nome;
        std::string antes, lista, depois;
    };
    const Case cases[] = {
        {"section in the middle",
         "[Servidor]\r\nenderecoIP=a\r\n[kwBalanceador]\r\nGUID={X}\r\nEnderecoIP1=old\r\n[KWUPDATE]"
         "\r\nCdSistema=1\r\n",
         "[kwBalanceador]\r\nGUID={Y}\r\nEnderecoIP1=novo:211\r\n",
         "[Servidor]\r\nenderecoIP=a\r\n[KWUPDATE]\r\nCdSistema=1\r\n\r\n[kwBalanceador]\r\nGUID={Y}"
         "\r\nEnderecoIP1="
         "novo:211\r\n"},
        {"a last line already empty gets no second one", "[Servidor]\r\nenderecoIP=a\r\n\r\n",
         "[KWBALANCEADOR]\r\nGUID={Y}\r\nEnderecoURL1=http://b/x\r\n",
         "[Servidor]\r\nenderecoIP=a\r\n\r\n[KWBALANCEADOR]\r\nGUID={Y}\r\nEnderecoURL1=http://b/x\r\n"},
        {"every copy of the section goes, any case",
         "[kwBalanceador]\r\nGUID={X}\r\n[A]\r\nk=1\r\n[ kwbalanceador ]\r\nEnderecoIP1=z\r\n",
         "[kwBalanceador]\r\nGUID={Y}\r\n; comentário\r\n\r\nEnderecoIP1=n\r\n",
         "[A]\r\nk=1\r\n\r\n[kwBalanceador]\r\nGUID={Y}\r\n; comentário\r\n\r\nEnderecoIP1=n\r\n"},
        {"a file of LF lines stays one", "[A]\nk=1\n", "[kwBalanceador]\nGUID={Y}\nEnderecoIP1=n",
         "[A]\nk=1\n\n[kwBalanceador]\nGUID={Y}\nEnderecoIP1=n\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Grave(c.antes, c.lista), c.depois) << c.nome;
}

TEST_F(GravarBalanceadores, AListThatIsNotTheSectionIsRefusedAndTheFileKept) {
    const std::string cfg = "[Servidor]\r\nenderecoIP=a\r\n[kwBalanceador]\r\nGUID={X}\r\n";
    struct Case {
        const char* lista;
        int linha;
    };
    const Case cases[] = {
        {"GUID={Y}\r\n[kwBalanceador]\r\nEnderecoIP1=a", 1},
        {"[Servidor]\r\nenderecoIP=outro\r\nenderecoURL=x", 1},
        {"[kwBalanceador]\r\nGUID={Y}\r\n[KWUPDATE]\r\nTipoServidor=LOCAL", 3},
        {"[kwBalanceador]\r\nGUID={Y}\r\nlinha solta", 3},
        {"[kwBalanceador]\r\nGUID={Y}\r\n=sem chave", 3},
        {"[kwBalanceador]\r\nGUID={Y}\r\nEnderecoIP1=a\x01", 3},
    };
    for (const Case& c : cases) {
        std::string erro;
        EXPECT_EQ(Grave(cfg, c.lista, &erro), cfg) << c.lista;
        EXPECT_EQ(erro, "A lista de balanceadores recebida do servidor de aplicação foi recusada: a linha " +
                            std::to_string(c.linha) + " não pertence à seção [kwBalanceador].")
            << c.lista;
    }
}

// A kwCFG.ini that cannot be rewritten (a folder stands there): the failure names the file and
// the system's reason in the launcher's words, and nothing is written.
TEST_F(GravarBalanceadores, AFailedRewriteNamesTheFileAndTheCause) {
    std::filesystem::create_directory(pasta_ / "kwCFG.ini");
    const std::string erro = kwtest::ThrownMessage(
        [&] { TkwUpdConexaoKw4::GravarBalanceadores("[kwBalanceador]\r\nGUID={Y}\r\nEnderecoIP1=n\r\n"); });
    EXPECT_EQ(erro, "Erro ao gravar o arquivo \"" + pasta_.Folder() +
                        "kwCFG.ini\". Mensagem de erro: Is a directory (21)");
    EXPECT_TRUE(std::filesystem::is_directory(pasta_ / "kwCFG.ini"));
}

// ---- Conectar before the attempt --------------------------------------------------------------

class ConectarSemServidor : public ::testing::Test {
protected:
    kwtest::LauncherFolder pasta_{"kwLoader"};
    TelaDeTeste tela_;
    AttemptClock relogio_{true};
};

TEST_F(ConectarSemServidor, TheConnectionTypeMustBeKnown) {
    TkwUpdConexaoKw4 c;
    c.SetTipoConexao("TCP");
    c.TelaStatus = &tela_;
    EXPECT_EQ(c.TipoConexao, "TCP");
    EXPECT_EQ(kwtest::ThrownMessage([&] { c.Conectar(); }),
              "Não foi possível escolher nenhum tipo de conexão");
    EXPECT_TRUE(tela_.tarefas.empty());  // nothing probed
    TkwUpdConexaoKWBalanceador b;
    EXPECT_EQ(kwtest::ThrownMessage([&] { b.Conectar(); }),
              "Não foi possível escolher nenhum tipo de conexão");
}

TEST_F(ConectarSemServidor, AnUnreachableServerIsNotTriedAndNotAFailure) {
    kwtest::RefusedPort recusada;
    TkwUpdConexaoKw4 c;
    c.SetTipoConexao("socket");
    EXPECT_EQ(c.TipoConexao, "SOCKET");
    c.EnderecoIP = recusada.Address();
    c.GUIDServidor = "{6F9A3B1C-0D2E-4F50-8A7B-1C2D3E4F5A6B}";
    c.TelaStatus = &tela_;
    c.MensagemErro = "de antes";
    c.Conectar();
    EXPECT_FALSE(c.GetServidorEncontrado());
    EXPECT_FALSE(c.GetTimeOut());
    EXPECT_EQ(c.MensagemErro, "");
    EXPECT_EQ(c.Conexao, nullptr);
    EXPECT_TRUE(c.ObterAppServer().IsNull());
    EXPECT_EQ(
        tela_.tarefas,
        (std::vector<std::string>{"Testando conexão com servidor de aplicação no seguinte endereço: \r\n" +
                                  recusada.Address()}));
    c.Desconectar();
}

TEST_F(ConectarSemServidor, TheWebRoadProbesTheHostPartsPortAndNamesTheTransportsURL) {
    kwtest::LoopbackListener mudo;
    TkwUpdConexaoKWBalanceador b;
    b.SetTipoConexao("HTTP");
    b.EnderecoURL = "http://localhost:" + std::to_string(mudo.Port()) + "/kw/servidor.dll";
    b.GUIDBalanceador = "{6F9A3B1C-0D2E-4F50-8A7B-1C2D3E4F5A6B}";
    b.TelaStatus = &tela_;
    b.TimeoutSegundos = 5;
    b.Conectar();  // the HTTPS probe gets no answer, the TCP probe reaches the listener
    EXPECT_TRUE(b.GetServidorEncontrado());
    EXPECT_TRUE(b.GetTimeOut()) << b.MensagemErro;  // the listener never answers the request
    EXPECT_EQ(b.Conexao, nullptr);
    EXPECT_GE(mudo.Connections(), 1);
    const std::string raiz = "http://localhost:" + std::to_string(mudo.Port());
    EXPECT_EQ(tela_.tarefas, (std::vector<std::string>{
                                 "Testando conexão com balanceador no seguinte endereço: \r\n" + raiz,
                                 "Testando conexão com balanceador no seguinte endereço: \r\nlocalhost",
                                 "Conectando ao balanceador no seguinte endereço: \r\n" + b.EnderecoURL}));
}

TEST_F(ConectarSemServidor, ThePathsPortIsTheProbesWhenTheHostPartHasNone) {
    kwtest::LoopbackListener mudo;
    TkwUpdConexaoKw4 c;
    c.SetTipoConexao("HTTP");
    c.EnderecoURL = "http://127.0.0.1/kw/servidor.dll:" + std::to_string(mudo.Port());
    c.GUIDServidor = "{6F9A3B1C-0D2E-4F50-8A7B-1C2D3E4F5A6B}";
    c.TelaStatus = &tela_;
    c.TimeoutSegundos = 0;  // what becomes of the attempt on port 80 does not matter here
    c.Conectar();
    EXPECT_TRUE(c.GetServidorEncontrado());
    EXPECT_EQ(mudo.Connections(), 1);  // the probe; the transport goes to port 80
    EXPECT_EQ(
        tela_.tarefas.back(),
        "Conectando ao servidor de aplicação no seguinte endereço: \r\nhttp://127.0.0.1/kw/servidor.dll");
}

// "https" anywhere in the address asks for the certificate file, so does the server library's
// name "httpsrvr.dll" on a plain http address (the launcher's own check says the same).
TEST_F(ConectarSemServidor, WithoutTheCertificateFileAnHttpsAddressIsNotTried) {
    kwtest::LoopbackListener mudo;
    const std::string porta = std::to_string(mudo.Port());
    for (const std::string& url : {"https://127.0.0.1:" + porta + "/kw/servidor.dll",
                                   "http://127.0.0.1:" + porta + "/kw/httpsrvr.dll"}) {
        const int antes = mudo.Connections();
        TkwUpdConexaoKw4 c;
        c.SetTipoConexao("HTTP");
        c.EnderecoURL = url;
        c.GUIDServidor = "{6F9A3B1C-0D2E-4F50-8A7B-1C2D3E4F5A6B}";
        c.Conectar();
        EXPECT_TRUE(c.GetServidorEncontrado()) << url;
        EXPECT_FALSE(c.GetTimeOut()) << url;
        EXPECT_EQ(c.MensagemErro,
                  "O arquivo de certificado '" + pasta_.Folder() +
                      "kwLoaderApp.cer' não foi encontrado junto com o executável do cliente da "
                      "aplicação.");
        // The probes only: the HTTPS probe's GET (on its own thread, which may connect after
        // its waiter gave up) and the TCP probe; no transport.
        EXPECT_TRUE(kwtest::Eventually([&] { return mudo.Connections() - antes == 2; })) << url;
        EXPECT_EQ(mudo.Connections() - antes, 2) << url;
    }
    TkwUpdConexaoKw4 c;
    EXPECT_EQ(kwtest::ThrownMessage([&] { c.InstalarCertificado(pasta_.Folder() + "outro.cer"); }),
              "O arquivo de certificado '" + pasta_.Folder() +
                  "outro.cer' não foi encontrado junto com o executável do cliente da aplicação.");
}

TEST_F(ConectarSemServidor, AnInvalidGuidOrPathPortRaises) {
    kwtest::LoopbackListener mudo;
    TkwUpdConexaoKw4 c;
    c.SetTipoConexao("SOCKET");
    c.EnderecoIP = mudo.Address();
    c.GUIDServidor = "{não é um GUID}";
    EXPECT_EQ(kwtest::ThrownMessage([&] { c.Conectar(); }), "'{não é um GUID}' is not a valid GUID value");
    c.SetTipoConexao("HTTP");
    c.EnderecoURL = "http://127.0.0.1/kw/httpsrvr.dll:porta";
    EXPECT_EQ(kwtest::ThrownMessage([&] { c.Conectar(); }), "'porta' is not a valid integer value");
}

TEST(TkwConexaoRemota, AdicionarErroJoinsWithCrLf) {
    TkwUpdConexaoKw4 c;
    EXPECT_EQ(c.TimeoutSegundos, 60);
    EXPECT_EQ(c.TempoTesteRede, 4000);
    EXPECT_TRUE(c.GetServidorEncontrado());
    EXPECT_TRUE(c.PodeBalancear);
    c.AdicionarErro("");
    c.AdicionarErro("um");
    c.AdicionarErro("");
    c.AdicionarErro("dois");
    EXPECT_EQ(c.MensagemErro, "um\r\ndois");
    TkwUpdConexaoKWBalanceador b;
    EXPECT_EQ(b.TimeoutSegundos, 10);
    EXPECT_EQ(b.TempoTesteRede, 4000);
}

}  // namespace
