// The reachability probes against listeners of the test's own (one that counts connections,
// a refusing port, a full backlog), the HTTPS probe's rounds and its 200/403/500 rule over an
// injected GET, the name lookup and the interface lines.
#include "transfer/ukwUpdConexaoKw4Ping.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <mutex>

#include "platform/Workstation.h"
#include "support/LoopbackListeners.h"
#include "transfer/ConexaoTestSupport.h"
#include "transfer/ukwFuncoesSocket.h"
#include "transfer/ukwFuncoesTCP.h"

namespace {

using kwtest::AttemptClock;
using kwtest::TelaDeTeste;

TEST(PingDestino, HostAndPortOfAnAddress) {
    struct Case {
        const char* endereco;
        int32_t porta;
        const char* host;
        int32_t portaEsperada;
    };
    const Case cases[] = {
        {"srv", 0, "srv", 211},           {"srv:abc", 0, "srv", 211},       {"srv:3051", 0, "srv", 3051},
        {"10.0.0.7", 80, "10.0.0.7", 80}, {"srv:3051", 80, "srv:3051", 80},  // a port given: the whole
                                                                             // address is the host
        {"srv:", 0, "srv", 211},          {"a:1:2", 0, "a", 211},
    };
    for (const Case& c : cases) {
        const TPing::TDestino d = TPing::Destino(c.endereco, c.porta);
        EXPECT_EQ(d.Host, c.host) << c.endereco;
        EXPECT_EQ(d.Porta, c.portaEsperada) << c.endereco;
    }
}

TEST(Ping, ConnectsWhereTheAddressSaysAndNowhereElse) {
    kwtest::LoopbackListener ouvinte;
    kwtest::RefusedPort recusada;
    kwtest::FullBacklogListener cheio;
    const std::string porta = std::to_string(ouvinte.Port());
    struct Case {
        std::string endereco;
        int32_t porta;
        bool alcancavel;
        int conexoes;  // new connections the listener saw
    };
    const Case cases[] = {
        {"", 0, false, 0},
        {"   ", int32_t(ouvinte.Port()), false, 0},
        {"127.0.0.1:" + porta, 0, true, 1},
        {"127.0.0.1", int32_t(ouvinte.Port()), true, 1},
        {"localhost:" + porta, 0, true, 1},
        {recusada.Address(), 0, false, 0},
        {"127.0.0.1", int32_t(recusada.Port()), false, 0},
        {cheio.Address(), 0, false, 0},
        {"nao-existe.invalid:" + porta, 0, false, 0},
    };
    int antes = ouvinte.Connections();
    for (const Case& c : cases) {
        TPing ping;
        EXPECT_EQ(ping.Ping(c.endereco, 300, c.porta), c.alcancavel) << c.endereco;
        const int agora = ouvinte.Connections();
        EXPECT_EQ(agora - antes, c.conexoes) << c.endereco;
        antes = agora;
    }
}

TEST(Ping, OneProbeObjectProbesAgainAfterAFailure) {
    kwtest::LoopbackListener ouvinte;
    kwtest::RefusedPort recusada;
    TPing ping;
    EXPECT_FALSE(ping.Ping(recusada.Address(), 300, 0));
    EXPECT_TRUE(ping.Ping(ouvinte.Address(), 300, 0));
    EXPECT_TRUE(ping.Ping(ouvinte.Address(), 300, 0));
    EXPECT_EQ(ouvinte.Connections(), 2);
}

// ---- PingHTTPS ------------------------------------------------------------------------------

// A GET the test holds until it lets it answer.
class GetRetido {
public:
    std::optional<int> operator()(const std::string& url) {
        std::unique_lock lock(mutex_);
        urls_.push_back(url);
        cv_.wait(lock, [&] { return liberado_; });
        return resposta_;
    }
    void Libere(std::optional<int> resposta) {
        std::lock_guard lock(mutex_);
        resposta_ = resposta;
        liberado_ = true;
        cv_.notify_all();
    }
    std::vector<std::string> Urls() {
        std::lock_guard lock(mutex_);
        return urls_;
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool liberado_ = false;
    std::optional<int> resposta_;
    std::vector<std::string> urls_;
};

TEST(PingHTTPS, StatusCodesThatMeanSomeoneIsThere) {
    struct Case {
        const char* nome;
        std::function<std::optional<int>(const std::string&)> get;
        bool alcancavel;
    };
    const Case cases[] = {
        {"200", [](const std::string&) { return std::optional<int>(200); }, true},
        {"403", [](const std::string&) { return std::optional<int>(403); }, true},
        {"500", [](const std::string&) { return std::optional<int>(500); }, true},
        {"404", [](const std::string&) { return std::optional<int>(404); }, false},
        {"302", [](const std::string&) { return std::optional<int>(302); }, false},
        {"no answer", [](const std::string&) { return std::optional<int>(); }, false},
        {"a GET that raises",
         [](const std::string&) -> std::optional<int> { throw std::runtime_error("tls"); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nome);
        std::vector<std::string> urls;
        std::mutex m;
        kwtest::ScopedGetHTTPS get([&](const std::string& url) {
            {
                std::lock_guard lock(m);
                urls.push_back(url);
            }
            return c.get(url);
        });
        AttemptClock relogio;
        // Each wait lets the probe finish first, so the next look sees its answer.
        TelaDeTeste tela;
        tela.OnProcesse = [] { ASSERT_TRUE(kwtest::ConnectionThreadsEnded()); };
        EXPECT_EQ(TPing::PingHTTPS("https://srv.example:8443", 4000, &tela), c.alcancavel);
        ASSERT_TRUE(kwtest::ConnectionThreadsEnded());
        std::lock_guard lock(m);
        EXPECT_EQ(urls, std::vector<std::string>{"https://srv.example:8443"});
    }
}

TEST(PingHTTPS, TheBuildsGetGivesNoAnswer) {
    AttemptClock relogio;
    TelaDeTeste tela;
    tela.OnProcesse = [] { ASSERT_TRUE(kwtest::ConnectionThreadsEnded()); };
    EXPECT_FALSE(TPing::PingHTTPS("https://127.0.0.1", 4000, &tela));
    EXPECT_LE(tela.processadas, 1);
}

TEST(PingHTTPS, RoundsOf500msAndTheLastLook) {
    struct Case {
        int32_t timeout;
        int esperas;  // sleeps of 500 ms (and message rounds) before the waiter gives up
    };
    const Case cases[] = {{-1, 0}, {0, 0}, {499, 0}, {500, 1}, {1999, 3}, {4000, 8}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.timeout);
        GetRetido retido;
        kwtest::ScopedGetHTTPS get([&](const std::string& url) { return retido(url); });
        AttemptClock relogio;
        TelaDeTeste tela;
        EXPECT_FALSE(TPing::PingHTTPS("https://srv", c.timeout, &tela));
        EXPECT_EQ(tela.processadas, c.esperas);
        EXPECT_EQ(relogio.Clock().Elapsed(), uint64_t(c.esperas) * 500);
        retido.Libere(200);  // the GET answers after its waiter gave up
    }
}

TEST(PingHTTPS, AGetThatOutlivesItsWaiterChangesNothingLater) {
    GetRetido retido;
    {
        kwtest::ScopedGetHTTPS get([&](const std::string& url) { return retido(url); });
        AttemptClock relogio;
        EXPECT_FALSE(TPing::PingHTTPS("https://lento", 1000, nullptr));
        ASSERT_TRUE(kwtest::Eventually([&] { return retido.Urls().size() == 1; }));
        EXPECT_EQ(TSecureHTTPSClient::EmExecucao(), 1);
        // A later probe with a GET that answers 404 is not reachable, whatever the late one
        // answers meanwhile.
        kwtest::ScopedGetHTTPS outro([](const std::string&) { return std::optional<int>(404); });
        TelaDeTeste tela;
        tela.OnProcesse = [&] {
            retido.Libere(200);
            ASSERT_TRUE(kwtest::ConnectionThreadsEnded());
        };
        EXPECT_FALSE(TPing::PingHTTPS("https://outro", 4000, &tela));
        retido.Libere(200);
    }
    EXPECT_EQ(TSecureHTTPSClient::EmExecucao(), 0);
}

// ---- Names and interfaces ---------------------------------------------------------------------

TEST(ResolverEndereco, TheLastAddressOrNothing) {
    EXPECT_EQ(ResolverEndereco(""), "");
    EXPECT_EQ(ResolverEndereco("127.0.0.1"), "127.0.0.1");
    EXPECT_EQ(ResolverEndereco("nao-existe.invalid"), "");
    const std::vector<std::string> todos = plat::ResolveIPv4Addresses("localhost");
    ASSERT_FALSE(todos.empty());
    EXPECT_EQ(ResolverEndereco("localhost"), todos.back());
}

TEST(ListeInterfacesRede, LinesOfTheNetworkInterfaces) {
    const std::string info =
        " IP=192.168.0.10, Mask=255.255.255.0, Broadcast=192.168.0.255, Status=UP, Broadcasts=YES, "
        "Interface=NETWORK\r\n";
    EXPECT_EQ(LinhasInterfacesRede(info), "IP=192.168.0.10|MASK=255.255.255.0\r\n");
    EXPECT_EQ(LinhasInterfacesRede(""), "");
    EXPECT_EQ(
        LinhasInterfacesRede(info + " IP=10.1.2.3, Mask=255.0.0.0, Broadcast=10.255.255.255, Status=DOWN, "
                                    "Broadcasts=YES, Interface=NETWORK\r\n"),
        "IP=192.168.0.10|MASK=255.255.255.0\r\nIP=10.1.2.3|MASK=255.0.0.0\r\n");

    // This workstation: one line per interface that is not loopback, in the system's order;
    // the loopback ones only in the full list.
    std::string esperado, comLoopback;
    int loopbacks = 0;
    for (const plat::NetworkInterface& i : plat::NetworkInterfaces()) {
        if (i.loopback) {
            ++loopbacks;
            continue;
        }
        esperado += "IP=" + i.address + "|MASK=" + i.mask + "\r\n";
    }
    EXPECT_EQ(ListeInterfacesRede(), esperado);
    const std::string todas = ListeInfoInterfaces(true);
    size_t n = 0;
    for (size_t p = todas.find("Interface=LOOPBACK"); p != std::string::npos;
         p = todas.find("Interface=LOOPBACK", p + 1))
        ++n;
    EXPECT_EQ(int(n), loopbacks);
    EXPECT_EQ(ListeInfoInterfaces(false).find("LOOPBACK"), std::string::npos);
    if (loopbacks > 0) {
        EXPECT_NE(todas.find(" IP=127.0.0.1, Mask=255.0.0.0, Broadcast="), std::string::npos);
    }
}

}  // namespace
