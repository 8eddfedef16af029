// transfer/ukwUpdFileUtilHTTP.cpp: BaixeArquivoHTTP over the HTTP/HTTPS client.
#include "transfer/ukwUpdFileUtilHTTP.h"

#include <memory>

#include "common/ukwUpdIni.h"
#include "common/ukwUpdUtil.h"
#include "platform/Files.h"
#include "rtl/Exception.h"
#include "rtl/Stream.h"
#include "rtl/Text.h"
#include "tls/SBHTTPSClient.h"
#include "transfer/ukwUpdFileUtil.h"

namespace {

// A server that cannot answer a HEAD this quickly is taken for unreachable.
constexpr int32_t kTempoLimiteHEAD = 3500;
constexpr int32_t kPortaTunel = 3128;
// The client's error number for an unexpected-message alert answering the hello.
constexpr const char* kErroMensagemInesperada = "75777";

void Configure(TElHTTPSClient& cliente, const std::string& enderecoProxy, int32_t portaProxy,
               const std::string& usuario, const std::string& senha) {
    cliente.HTTPVersion = hvHTTP10;
    // Whatever PermiteSSL2 says, SSL 2.0 and 3.0 are not offered: servers refuse them, and a
    // download must not be talked down to them.
    cliente.SetVersions(kVersoesDownloadHTTPS);
    cliente.SetVerifyPeerDisabled(false);
    TElHTTPRequestParams& pedido = cliente.RequestParameters();
    pedido.ContentRangeStart = -1;
    pedido.ContentRangeEnd = -1;
    pedido.UserAgent = "SecureClient";
    if (!EhUsuarioAnonimo(usuario)) {
        pedido.Username = usuario;
        pedido.Password = senha;
    }
    cliente.UseHTTPProxy = UsaProxyHTTP(portaProxy, enderecoProxy);
    if (cliente.UseHTTPProxy) {
        cliente.HTTPProxyHost = enderecoProxy;
        cliente.SetHTTPProxyPort(portaProxy);
    }
    cliente.SetLocalPort(0);
    cliente.SocksAuthentication = saNoAuthentication;
    cliente.WebTunnelPort = kPortaTunel;
    cliente.SSLEnabled = false;
    cliente.PreferKeepAlive = false;
    cliente.UseNTLMAuth = false;
}

// One try: HEAD, then GET into a temporary file beside the destination, renamed into place
// after status 200 with the whole body. The status of the GET.
int Tente(const std::string& url, const std::string& destino, const std::string& usuario, const std::string& senha) {
    const std::string enderecoProxy = kwUpdIni().EnderecoProxy();
    const int32_t portaProxy = kwUpdIni().PortaProxy();
    const std::string local = CaminhoLocal(destino);
    const std::string temporario = plat::TemporaryNameBeside(local);
    int status = 0;
    try {
        {
            rtl::FileStream arquivo(temporario, rtl::FileMode::CreateNew);
            auto cliente = std::make_unique<TElHTTPSClient>();
            THTTPHandler tratador;
            tratador.Conecte(*cliente);
            Configure(*cliente, enderecoProxy, portaProxy, usuario, senha);
            cliente->SetSocketTimeout(kTempoLimiteHEAD);
            cliente->Head(url);
            cliente->SetSocketTimeout(TempoLimiteTransferencia);
            cliente->OutputStream = &arquivo;
            status = cliente->Get(url);
        }
        if (status == 200) plat::RenameFile(temporario, local, true);
    } catch (...) {
        plat::TryDeleteFile(temporario);
        throw;
    }
    if (status != 200) plat::TryDeleteFile(temporario);
    return status;
}

}  // namespace

bool EhUsuarioAnonimo(const std::string& usuario) {
    const std::string u = rtl::LowerCase(rtl::Trim(usuario));
    return u.empty() || u == "convidado" || u == "anonymous" || u == "guest";
}

bool UsaProxyHTTP(int32_t portaProxy, const std::string& enderecoProxy) {
    return portaProxy != 0 && !enderecoProxy.empty() && UsaProxy;
}

void THTTPHandler::Conecte(TElHTTPSClient& cliente) {
    cliente.OnProgress = [this](rtl::Component*, int64_t total, int64_t atual, bool&) {
        TamanhoEsperado = total;
        Recebidos = atual;
    };
}

bool BaixeArquivoHTTP(const std::string& URL, const std::string& Destino, const std::string& Usuario,
                      const std::string& Senha) {
    int status = 0;
    bool repetiu = false;
    for (;;) {
        try {
            status = Tente(URL, Destino, Usuario, Senha);
            break;
        } catch (const EElSimpleSSLClientException& e) {
            // A server that answers the hello with an unexpected-message alert gets one more
            // try at once; the setting stays off for the rest of the run.
            if (repetiu || e.Message().find(kErroMensagemInesperada) == std::string::npos) throw;
            PermiteSSL2 = false;
            repetiu = true;
        }
    }
    if (status == 200) return true;
    if (status == 401) throw rtl::Exception("Acesso negado ao " + URL);
    throw rtl::Exception("Erro de HTTP: " + rtl::IntToStr(status) + " no download do " + URL);
}
