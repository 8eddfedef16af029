// The guarded attempt: which thread wins and what the main thread then sees, on the gated
// clock (a time-out fires only when the test opens the gate), with transports that fail at
// once (a refusing port) or never answer (a listener that never reads), and a work of the
// test's own that writes through the attempt's gate.
#include "transfer/ukwUpdConexaoKw4Threads.h"

#include <gtest/gtest.h>

#include <atomic>

#include "common/LauncherBaseTestSupport.h"
#include "common/ukwUpdLog.h"
#include "support/LoopbackListeners.h"
#include "transfer/ConexaoTestSupport.h"
#include "transfer/ukwSCONNECT.h"

namespace {

using kwtest::AttemptClock;
using kwtest::TelaDeTeste;

constexpr const char* kGuid = "{6F9A3B1C-0D2E-4F50-8A7B-1C2D3E4F5A6B}";

// A work that logs a line, tries a remote call (which fails without a connection), and after
// that writes a line and a "file" through the gate.
class TrabalhoDeTeste final : public TkwTrabalhoConexao {
public:
    void Execute(TkwContextoTentativa& contexto) override {
        executou = true;
        contexto.AdicioneDetalhe("trabalho: início");
        try {
            contexto.Conexao().AppServer();
            if (!contexto.Conexao().Connected()) throw rtl::Exception("sem conexão");
        } catch (const rtl::Exception&) {
            contexto.AdicioneDetalhe("trabalho: sem conexão");
        }
        gravou = contexto.SobControle([&] { escritas++; });
        contexto.AdicioneTexto("linha do servidor 1\r\nlinha do servidor 2");
        if (falha) throw rtl::Exception(falha);
    }
    std::atomic<bool> executou{false};
    std::atomic<bool> gravou{false};
    std::atomic<int> escritas{0};
    const char* falha = nullptr;
};

std::shared_ptr<TSocketConnection> SoqueteEm(const std::string& endereco) {
    auto c = std::make_shared<TSocketConnection>();
    c->SetServerGUID(kGuid);
    c->SetAddress(endereco);
    c->SetSupportCallbacks(false);
    return c;
}

TEST(TkwControleThread, ErrorsAndRegistrations) {
    TkwControleThread c(nullptr);
    c.AdicionarErro("");
    EXPECT_EQ(c.TextoErro(), "");
    c.AdicionarErro("a");
    c.AdicionarErro("");
    c.AdicionarErro("b");
    EXPECT_EQ(c.TextoErro(), "a\r\nb");
    EXPECT_FALSE(c.Terminou(7));
    for (uint32_t h : {3u, 7u, 9u, 11u})
        c.RegistrarTermino(h);
    EXPECT_TRUE(c.Terminou(7));
    EXPECT_TRUE(c.Terminou(11));
    EXPECT_FALSE(c.Terminou(8));
}

TEST(TentativaProtegida, InTimeTheConnectionThreadsOutcomeCounts) {
    kwtest::RefusedPort recusada;
    TkwUpdLog log;
    auto trabalho = std::make_shared<TrabalhoDeTeste>();
    trabalho->falha = "falha do trabalho";
    AttemptClock relogio;  // closed: the time-out thread waits at the gate
    TelaDeTeste tela;
    const TkwDesfechoTentativa d =
        TentativaProtegida(SoqueteEm(recusada.Address()), trabalho, 60, &log, &tela);
    EXPECT_FALSE(d.TimeOut);
    EXPECT_TRUE(trabalho->executou);
    EXPECT_TRUE(trabalho->gravou);
    EXPECT_EQ(trabalho->escritas, 1);
    // The connection's failure, then the work's bare message.
    const std::string prefixo =
        "Não foi possível conectar-se no servidor de aplicação.\r\n - Servidor: ''\r\n - GUID: '" +
        std::string(kGuid) + "'\r\n - Endereco: '" + recusada.Address() +
        "'\r\n - Mensagem: 'Windows socket error: ";
    EXPECT_EQ(d.TextoErro.rfind(prefixo, 0), 0u) << d.TextoErro;
    EXPECT_NE(d.TextoErro.find("(10061), on API 'connect''\r\nfalha do trabalho"), std::string::npos)
        << d.TextoErro;
    EXPECT_EQ(kwtest::Texts(log), (std::vector<std::string>{" - trabalho: início", " - trabalho: sem conexão",
                                                            "linha do servidor 1", "linha do servidor 2"}));
    EXPECT_GE(tela.processadas, 1);
}

TEST(TentativaProtegida, AWebTransportThatCannotConnectNamesItsURL) {
    kwtest::RefusedPort recusada;
    auto web = std::make_shared<TWebConnection>();
    web->SetServerGUID(kGuid);
    const std::string url = "http://" + recusada.Address() + "/kw/httpsrvr.dll";
    web->SetURL(url);
    AttemptClock relogio;
    const TkwDesfechoTentativa d =
        TentativaProtegida(web, std::make_shared<TrabalhoDeTeste>(), 60, nullptr, nullptr);
    EXPECT_FALSE(d.TimeOut);
    EXPECT_EQ(d.TextoErro.rfind(
                  "Não foi possível conectar-se no servidor de aplicação.\r\n - Servidor: ''\r\n - GUID: '" +
                      std::string(kGuid) + "'\r\n - URL: '" + url + "'\r\n - Mensagem: '",
                  0),
              0u)
        << d.TextoErro;
    EXPECT_EQ(d.TextoErro.back(), '\'');
}

TEST(TentativaProtegida, AServerThatNeverAnswersTimesOutAndItsLateOutcomeIsUnseen) {
    for (int32_t segundos : {0, 30}) {
        SCOPED_TRACE(segundos);
        kwtest::LoopbackListener mudo;  // takes the connection, never reads, never answers
        TkwUpdLog log;
        auto trabalho = std::make_shared<TrabalhoDeTeste>();
        trabalho->falha = "falha tardia";
        auto transporte = SoqueteEm(mudo.Address());
        {
            // Time-out 0 fires with the gate closed; 30 s once the gate opens.
            AttemptClock relogio(segundos != 0);
            const TkwDesfechoTentativa d = TentativaProtegida(transporte, trabalho, segundos, &log, nullptr);
            EXPECT_TRUE(d.TimeOut);
            EXPECT_EQ(d.TextoErro, "");
        }  // waits until the late thread has ended: the cancelled transport let it go on
        EXPECT_TRUE(trabalho->executou);
        EXPECT_FALSE(trabalho->gravou);
        EXPECT_EQ(trabalho->escritas, 0);
        EXPECT_TRUE(log.Linhas().empty());
        EXPECT_LE(mudo.Connections(), 1);  // the cancel may come before the connect
        EXPECT_FALSE(transporte->Connected());
    }
}

TEST(TentativaProtegida, BothThreadsDoneBeforeTheLookIsNotATimeOut) {
    kwtest::RefusedPort recusada;
    auto trabalho = std::make_shared<TrabalhoDeTeste>();
    AttemptClock relogio(true);  // open: the time-out thread finishes at once
    TelaDeTeste tela;
    // The main thread's first wait lasts until both threads have ended.
    tela.OnProcesse = [&] {
        if (tela.processadas == 1) {
            ASSERT_TRUE(kwtest::ConnectionThreadsEnded());
        }
    };
    const TkwDesfechoTentativa d =
        TentativaProtegida(SoqueteEm(recusada.Address()), trabalho, 1, nullptr, &tela);
    EXPECT_FALSE(d.TimeOut);
    EXPECT_TRUE(trabalho->gravou);
    EXPECT_NE(d.TextoErro.find(" - Endereco: '"), std::string::npos);
    EXPECT_EQ(tela.processadas, 1);
}

TEST(TentativaProtegida, TheTimeOutWaitsOnTheClockForItsSeconds) {
    kwtest::LoopbackListener mudo;
    AttemptClock relogio(true);
    const TkwDesfechoTentativa d = TentativaProtegida(
        SoqueteEm(mudo.Address()), std::make_shared<TrabalhoDeTeste>(), 7, nullptr, nullptr);
    EXPECT_TRUE(d.TimeOut);
    // The time-out thread slept 7 s of the clock (the main thread's polls add their own).
    EXPECT_GE(relogio.Clock().Elapsed(), 7000u);
}

}  // namespace
