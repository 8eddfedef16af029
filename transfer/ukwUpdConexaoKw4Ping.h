// transfer/ukwUpdConexaoKw4Ping.h: the reachability probes that run before the launcher spends
// a whole connection attempt on an application server or a load balancer, and the name
// lookup the web road's probe uses.
//
// TPing::Ping is a TCP connect test: a Telnet client of the internet library connects to the
// host and port within the time-out and disconnects at once; reachable exactly when the
// connection was made. Nothing else is sent or read, and no failure leaves the probe.
//
// TPing::PingHTTPS asks the address with an HTTPS GET on a probe thread of its own
// (TSecureHTTPSClient) while the caller waits in rounds of 500 ms on the system clock,
// processing the status window's messages between rounds; reachable when the server answered
// 200, 403 or 500. The probe thread and its waiter share only that probe's two marks
// (reachable, finished), which the thread owns with the waiter: a GET that outlives its
// waiter writes its marks and ends, touching nothing else.
//
// The GET is TElHTTPSClient.Get without proxy (the scheme of the URL chooses TLS, and the
// server's certificate is checked against the system's bundle and, when it is there, the
// server certificate file beside the executable, as the web transport checks it);
// DefinaGetHTTPS puts another GET in place, for the whole process.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class TIdTelnet;
class IkwTelaStatus;

// The address the name resolves to last, in dotted form; empty for an empty name or one that
// does not resolve.
std::string ResolverEndereco(const std::string& host);

// One HTTPS (or HTTP, by the URL's scheme) GET of the URL without proxy: the status code of the
// answer, or none when no answer came. A GET may also raise: that is no answer either.
using TkwGetHTTPS = std::function<std::optional<int>(const std::string& url)>;
// Puts the GET the probes use in place (an empty function restores the one of this build). A
// probe already running keeps the GET it started with.
void DefinaGetHTTPS(TkwGetHTTPS get);

// The port a probe uses when none is given and the address names none.
inline constexpr int32_t kPortaPadraoPing = 211;

class TPing {
public:
    TPing();
    ~TPing();
    TPing(const TPing&) = delete;
    TPing& operator=(const TPing&) = delete;

    // Whether a TCP connection to the address can be made within the time-out (milliseconds;
    // 0 waits as long as the system lets a connect wait). A blank address is never reachable.
    // With a port (not 0) the whole address is the host; otherwise "host:port" gives the port
    // (211 when it is not a number) and an address without ":" port 211.
    bool Ping(const std::string& endereco, int32_t timeoutMs, int32_t porta);
    // The host and port Ping connects to for a (non-blank) address and port.
    struct TDestino {
        std::string Host;
        int32_t Porta = kPortaPadraoPing;
    };
    static TDestino Destino(const std::string& endereco, int32_t porta);

    // Whether the address answers an HTTPS GET with 200, 403 or 500 within the time-out
    // (milliseconds): the waiter looks time-out / 500 + 1 times, 500 ms apart, and gives up at
    // the last look unless the probe has finished by then. A negative time-out is never
    // reachable. tela, when given, processes its messages while the waiter sleeps.
    static bool PingHTTPS(const std::string& endereco, int32_t timeoutMs, IkwTelaStatus* tela = nullptr);

private:
    std::unique_ptr<TIdTelnet> Telnet;
};

// The probe thread of PingHTTPS: one GET of Url with the GET in force when it was made. It
// ends by itself; its object lives until its thread has ended and its waiter let it go.
class TSecureHTTPSClient : public std::enable_shared_from_this<TSecureHTTPSClient> {
public:
    struct TMarcas {
        std::atomic<bool> Alcancavel{false};
        std::atomic<bool> Terminou{false};
    };

    // Makes the probe for the URL and starts its thread.
    static std::shared_ptr<const TMarcas> Inicie(const std::string& url);
    // Probe threads that have not ended yet (tests wait for them before they let go of what a
    // GET of theirs uses).
    static int EmExecucao();

    const std::string Url;

private:
    TSecureHTTPSClient(std::string url, TkwGetHTTPS get);
    void Execute();

    TkwGetHTTPS get_;
    std::shared_ptr<TMarcas> marcas_;
};
