// The remote road's transport choice as a decision table over real listeners: which
// addresses are probed (what each listener saw), which answer, and the settings that give no
// way to a server at all.
#include "launcher/ukwUpdRequisitosServidor.h"

#include <gtest/gtest.h>

#include <memory>

#include "common/LauncherBaseTestSupport.h"
#include "support/LoopbackListeners.h"

namespace {

const std::string kSemInformacao =
    "Não foi possível conectar no servidor de aplicação.\r\nO arquivo kwCfg.ini não contêm nenhuma "
    "informação "
    "necessária para a conexão.";

TEST(DeveUsarHTTP, DecisionTable) {
    kwtest::LoopbackListener vivo1, vivo2;
    kwtest::RefusedPort recusada;
    kwtest::FullBacklogListener cheio;
    const std::string v1 = vivo1.Address(), v2 = vivo2.Address(), r = recusada.Address(), c = cheio.Address();
    const std::string url = "http://srv/kw/servidor.dll";
    const std::string guid = "{0B1A2C3D-4E5F-4061-8293-A4B5C6D7E8F9}";
    struct Case {
        const char* nome;
        std::string ip, url, guid, listaIP, listaURL;
        bool pode;
        std::string resultado;  // "HTTP", "SOCKET" or the failure's text
        int sondas1, sondas2;   // connections vivo1 and vivo2 saw
    };
    const std::vector<Case> cases = {
        {"nothing at all", "", "", "", "", "", true, kSemInformacao, 0, 0},
        {"LOCALHOST alone", "LocalHost", "", "", "", "", true, kSemInformacao, 0, 0},
        {"balancer lists without a GUID", "", "", "", v1, url, true, kSemInformacao, 0, 0},
        {"balancer lists with balancing off", "", "", guid, v1, url, false, kSemInformacao, 0, 0},
        {"LOCALHOST with a URL: HTTP without a probe", "localhost", url, "", "", "", true, "HTTP", 0, 0},
        {"only a URL", "", url, "", "", "", true, "HTTP", 0, 0},
        {"server answers", v1, url, "", "", "", true, "SOCKET", 1, 0},
        {"server refuses", r, url, "", "", "", true, "HTTP", 0, 0},
        {"server's queue full", c, url, "", "", "", true, "HTTP", 0, 0},
        {"balancer answers, server not asked", r, "", guid, v1, "", true, "SOCKET", 1, 0},
        {"first balancer refuses, second answers", "", "", guid, r + ";" + v2, "", true, "SOCKET", 0, 1},
        {"first balancer answers, second not probed", "", "", guid, v1 + ";" + v2, "", true, "SOCKET", 1, 0},
        {"only the first two are probed", "", url, guid, r + ";" + c + ";" + v1, "", true, "HTTP", 0, 0},
        {"empty fields are skipped", "", url, guid, ";;" + r + ";;" + v2, "", true, "SOCKET", 0, 1},
        {"an IP: prefix is not part of the address", "", "", guid, "IP:" + v1, "", true, "SOCKET", 1, 0},
        {"no balancer answers", v1, url, guid, r + ";" + c, "", true, "HTTP", 0, 0},
        {"balancing off still probes the balancers", r, url, guid, v1, "", false, "SOCKET", 1, 0},
        {"balancing off, balancers silent, server not asked", v2, url, guid, r, "", false, "HTTP", 0, 0},
        {"only balancer URLs and no server address", "", "", guid, "", url, true, "HTTP", 0, 0},
        {"only balancer URLs: the server decides", v2, url, guid, "", url, true, "SOCKET", 0, 1},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.nome);
        const int antes1 = vivo1.Connections(), antes2 = vivo2.Connections();
        std::string resultado;
        try {
            resultado =
                TkwUpdEstradaServidor::DeveUsarHTTP(k.ip, k.url, k.guid, k.listaIP, k.listaURL, k.pode, 300)
                    ? "HTTP"
                    : "SOCKET";
        } catch (const rtl::Exception& e) {
            resultado = e.Message();
        }
        EXPECT_EQ(resultado, k.resultado);
        EXPECT_EQ(vivo1.Connections() - antes1, k.sondas1);
        EXPECT_EQ(vivo2.Connections() - antes2, k.sondas2);
    }
}

TEST(ExisteArquivoCertificado, BesideTheExecutable) {
    kwtest::LauncherFolder pasta("QOR.EXE");
    EXPECT_FALSE(TkwUpdEstradaServidor::ExisteArquivoCertificado());
    kwtest::WriteFile(pasta / "QORApp.cer", "der");
    EXPECT_TRUE(TkwUpdEstradaServidor::ExisteArquivoCertificado());
}

}  // namespace
