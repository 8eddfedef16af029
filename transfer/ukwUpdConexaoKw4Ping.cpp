// transfer/ukwUpdConexaoKw4Ping.cpp: the TCP and HTTPS reachability probes and the name
// lookup of the web road.
#include "transfer/ukwUpdConexaoKw4Ping.h"

#include <mutex>
#include <thread>

#include "net/IdTelnet.h"
#include "pki/SBCustomCertStorage.h"
#include "pki/SBX509.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/Workstation.h"
#include "rtl/Stream.h"
#include "rtl/Text.h"
#include "tls/SBHTTPSClient.h"
#include "transfer/ukwTelaStatus.h"
#include "transfer/ukwUpdConexaoKw4.h"

namespace {

// How long the HTTPS probe's waiter sleeps between two looks.
constexpr uint32_t kRodadaHTTPS = 500;

std::mutex& MutexGet() {
    static std::mutex m;
    return m;
}

TkwGetHTTPS& GetEmVigor() {
    static TkwGetHTTPS get;
    return get;
}

std::atomic<int> sondasEmExecucao{0};

// Answers 200 (found), 403 (forbidden: a server that refuses the probe's plain GET still
// answers) and 500 (a server-library address asked without a request) mean someone is there.
bool StatusDeServidorPresente(int status) {
    return status == 200 || status == 403 || status == 500;
}

// The server certificate file beside the executable, which the web transport trusts besides
// the system's bundle: the probe trusts it too, or a server with a certificate of its own
// would answer the transport but never the probe. An unreadable file adds nothing.
void ConfieNoCertificadoDoServidor(TElMemoryCertStorage& confiaveis) {
    const std::string arquivo = ObtenhaArquivoCertificado();
    if (!plat::FileExists(arquivo)) return;
    try {
        const std::string der = rtl::ReadFileBytes(arquivo);
        TElX509Certificate certificado;
        certificado.LoadFromBuffer(der.data(), der.size());
        confiaveis.Add(&certificado, false);
    } catch (const std::exception&) {
    }
}

// The GET of this build: the HTTPS client of the TLS library, connecting directly (no proxy)
// with every other setting at its default, so the probe answers as the server would answer
// the web transport. A status of 0 means the connection ended before any status line.
std::optional<int> GetPadrao(const std::string& url) {
    // Declared before the client, which refers to it until it is gone.
    TElMemoryCertStorage confiaveis;
    ConfieNoCertificadoDoServidor(confiaveis);
    TElHTTPSClient cliente;
    cliente.UseHTTPProxy = false;
    if (confiaveis.GetCount() > 0) cliente.SetCertStorage(&confiaveis);
    const int status = cliente.Get(url);
    if (status == 0) return std::nullopt;
    return status;
}

}  // namespace

std::string ResolverEndereco(const std::string& host) {
    const std::vector<std::string> enderecos = plat::ResolveIPv4Addresses(host);
    return enderecos.empty() ? std::string() : enderecos.back();
}

void DefinaGetHTTPS(TkwGetHTTPS get) {
    std::lock_guard lock(MutexGet());
    GetEmVigor() = std::move(get);
}

// ---- TPing ------------------------------------------------------------------------------------

TPing::TPing() : Telnet(TIdBaseComponent::Create<TIdTelnet>()) {}

TPing::~TPing() = default;

TPing::TDestino TPing::Destino(const std::string& endereco, int32_t porta) {
    if (porta != 0) return {endereco, porta};
    const size_t doisPontos = endereco.find(':');
    if (doisPontos == std::string::npos) return {endereco, kPortaPadraoPing};
    return {endereco.substr(0, doisPontos),
            rtl::StrToIntDef(std::string_view(endereco).substr(doisPontos + 1), kPortaPadraoPing)};
}

bool TPing::Ping(const std::string& endereco, int32_t timeoutMs, int32_t porta) {
    if (rtl::Trim(endereco).empty()) return false;
    const TDestino destino = Destino(endereco, porta);
    try {
        Telnet->SetHost(destino.Host);
        Telnet->SetPort(destino.Porta);
        Telnet->SetConnectTimeout(timeoutMs);
        Telnet->Connect();
        Telnet->Disconnect();
        return true;
    } catch (...) {
        // Whatever failed (lookup, refusal, time-out, a port out of range), the address did
        // not answer; a connection made before the failure is closed again.
        try {
            Telnet->Disconnect();
        } catch (...) {
        }
        return false;
    }
}

bool TPing::PingHTTPS(const std::string& endereco, int32_t timeoutMs, IkwTelaStatus* tela) {
    const std::shared_ptr<const TSecureHTTPSClient::TMarcas> marcas = TSecureHTTPSClient::Inicie(endereco);
    const int32_t rodadas = timeoutMs / int32_t(kRodadaHTTPS);
    if (rodadas < 0) return false;
    for (int32_t i = 0; i <= rodadas; ++i) {
        // The probe marks reachable before finished: once finished is seen, reachable is final.
        const bool terminou = marcas->Terminou.load();
        if (i == rodadas && !terminou) return false;
        if (marcas->Alcancavel.load()) return true;
        if (terminou) return false;
        if (tela) tela->ProcesseMensagens();
        plat::GetClock().Sleep(kRodadaHTTPS);
    }
    return false;
}

// ---- TSecureHTTPSClient -----------------------------------------------------------------------

TSecureHTTPSClient::TSecureHTTPSClient(std::string url, TkwGetHTTPS get)
    : Url(std::move(url)), get_(std::move(get)), marcas_(std::make_shared<TMarcas>()) {}

std::shared_ptr<const TSecureHTTPSClient::TMarcas> TSecureHTTPSClient::Inicie(const std::string& url) {
    TkwGetHTTPS get;
    {
        std::lock_guard lock(MutexGet());
        get = GetEmVigor();
    }
    if (!get) get = GetPadrao;
    std::shared_ptr<TSecureHTTPSClient> sonda(new TSecureHTTPSClient(url, std::move(get)));
    std::shared_ptr<const TMarcas> marcas = sonda->marcas_;
    ++sondasEmExecucao;
    try {
        std::thread([sonda]() mutable {
            sonda->Execute();
            sonda.reset();
            --sondasEmExecucao;
        }).detach();
    } catch (...) {
        // No thread: the probe counts as finished without an answer.
        --sondasEmExecucao;
        sonda->marcas_->Terminou = true;
    }
    return marcas;
}

int TSecureHTTPSClient::EmExecucao() {
    return sondasEmExecucao.load();
}

void TSecureHTTPSClient::Execute() {
    try {
        const std::optional<int> status = get_ ? get_(Url) : std::nullopt;
        if (status && StatusDeServidorPresente(*status)) marcas_->Alcancavel = true;
    } catch (...) {
        // A GET that failed is no answer.
    }
    marcas_->Terminou = true;
}
