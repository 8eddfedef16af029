// transfer/ukwSCONNECTWeb.cpp: the web connection and its transport over libcurl.
//
// One multi handle and one easy handle per open transport: the easy handle keeps its options
// and the multi handle keeps the one connection alive between blocks. A request runs in
// curl_multi_poll rounds, so Cancelar (curl_multi_wakeup) ends it at once from another thread.
// The trusted certificate joins the roots of this connection's own certificate store (the
// TLS context callback), never the system's.
#include <curl/curl.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <mutex>

#include "rtl/Format.h"
#include "rtl/Text.h"
#include "transfer/ukwSCONNECT.h"

namespace {

// The largest response body taken: a block with the largest payload.
constexpr size_t kCorpoMaximo = size_t(kTamanhoMaximoCarga) + TDataBlock::kBytesReservados;

void IniciarCurl() {
    static std::once_flag uma;
    std::call_once(uma, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// ProxyByPass in the system's notation (";" or blanks between entries, "<local>" for names
// without dots) as libcurl's list (commas); "<local>" has no counterpart and is left out.
std::string ListaSemProxy(const std::string& lista) {
    std::string out;
    std::string item;
    auto fechar = [&] {
        if (!item.empty() && item != "<local>") out += (out.empty() ? "" : ",") + item;
        item.clear();
    };
    for (const char c : lista) {
        if (c == ';' || c == ',' || c == ' ' || c == '\t')
            fechar();
        else
            item += c;
    }
    fechar();
    return out;
}

// What the transport needs of the connection, copied when it opens.
struct TConfiguracaoWeb {
    std::string url;
    bool https = false;
    std::string agent;
    std::string userName;
    std::string password;
    std::string proxy;
    std::string proxyByPass;
    std::string certificado;
};

class TWebTransporte final : public ITransport {
public:
    explicit TWebTransporte(TConfiguracaoWeb config) : config_(std::move(config)) { erro_[0] = '\0'; }
    ~TWebTransporte() override { Fechar(); }

    bool GetConnected() override {
        std::lock_guard lock(mutex_);
        return easy_ != nullptr;
    }

    void SetConnected(bool conectado) override {
        if (!conectado) {
            Fechar();
            return;
        }
        if (GetConnected()) return;
        if (cancelada_.load()) throw rtl::Exception(std::string(kCancelada));
        IniciarCurl();
        CURL* easy = curl_easy_init();
        CURLM* multi = curl_multi_init();
        if (easy == nullptr || multi == nullptr) {
            if (easy) curl_easy_cleanup(easy);
            if (multi) curl_multi_cleanup(multi);
            throw rtl::Exception("Não foi possível iniciar a sessão HTTP.");
        }
        {
            std::lock_guard lock(mutex_);
            easy_ = easy;
            multi_ = multi;
        }
        Configurar();
    }

    intptr_t Enviar(TDataBlock& bloco) override {
        if (cancelada_.load()) throw rtl::Exception(std::string(kCancelada));
        if (easy_ == nullptr) throw rtl::Exception("A conexão com o servidor não está aberta.");
        const std::span<const uint8_t> m = bloco.Memory();
        pedido_.assign(reinterpret_cast<const char*>(m.data()), m.size());
        corpo_.clear();
        motivo_.clear();
        status_ = 0;
        corpoGrandeDemais_ = false;
        erro_[0] = '\0';
        curl_easy_setopt(easy_, CURLOPT_POSTFIELDS, pedido_.data());
        curl_easy_setopt(easy_, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(pedido_.size()));

        curl_multi_add_handle(multi_, easy_);
        CURLcode resultado = CURLE_OK;
        bool cancelada = false;
        for (;;) {
            int ativos = 0;
            const CURLMcode mc = curl_multi_perform(multi_, &ativos);
            if (mc != CURLM_OK) {
                resultado = CURLE_RECV_ERROR;
                break;
            }
            if (ativos == 0) {
                int restantes = 0;
                while (CURLMsg* msg = curl_multi_info_read(multi_, &restantes))
                    if (msg->msg == CURLMSG_DONE) resultado = msg->data.result;
                break;
            }
            if (cancelada_.load()) {
                cancelada = true;
                break;
            }
            curl_multi_poll(multi_, nullptr, 0, 1000, nullptr);
            if (cancelada_.load()) {
                cancelada = true;
                break;
            }
        }
        curl_multi_remove_handle(multi_, easy_);
        if (cancelada) throw rtl::Exception(std::string(kCancelada));
        if (corpoGrandeDemais_) ErroBlocoInvalido();
        if (resultado != CURLE_OK)
            throw rtl::Exception(erro_[0] != '\0' ? std::string(erro_) : std::string(curl_easy_strerror(resultado)));
        long status = 0;
        curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status);
        status_ = int32_t(status);
        return 0;
    }

    std::unique_ptr<TDataBlock> Receber(bool, intptr_t) override {
        if (status_ >= 300) {
            const std::string motivo = motivo_.empty() ? curl_easy_strerror(CURLE_HTTP_RETURNED_ERROR) : motivo_;
            throw rtl::Exception(rtl::Format("%s (%d)", motivo, status_));
        }
        if (corpo_.empty()) return nullptr;
        if (corpo_.size() < size_t(TDataBlock::kBytesReservados)) ErroBlocoInvalido();
        auto bloco = std::make_unique<TDataBlock>();
        const int32_t declarado = bloco->TomarBytes(
            std::span(reinterpret_cast<const uint8_t*>(corpo_.data()), corpo_.size()), false);
        if (declarado != bloco->Size()) ErroBlocoInvalido();
        return bloco;
    }

    void Cancelar() override {
        cancelada_.store(true);
        std::lock_guard lock(mutex_);
        if (multi_ != nullptr) curl_multi_wakeup(multi_);
    }

private:
    static constexpr std::string_view kCancelada = "A conexão com o servidor foi cancelada.";

    void Configurar() {
        CURL* e = easy_;
        curl_easy_setopt(e, CURLOPT_URL, config_.url.c_str());
        curl_easy_setopt(e, CURLOPT_POST, 1L);
        curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(e, CURLOPT_TCP_KEEPALIVE, 1L);
        curl_easy_setopt(e, CURLOPT_USERAGENT, config_.agent.c_str());
        curl_easy_setopt(e, CURLOPT_ERRORBUFFER, erro_);
        curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
        // The accepted type, and none of libcurl's defaults for a POST: no content type, no
        // "Expect: 100-continue".
        cabecalhos_ = curl_slist_append(cabecalhos_, "Accept: application/octet-stream");
        cabecalhos_ = curl_slist_append(cabecalhos_, "Content-Type:");
        cabecalhos_ = curl_slist_append(cabecalhos_, "Expect:");
        curl_easy_setopt(e, CURLOPT_HTTPHEADER, cabecalhos_);
        curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &TWebTransporte::AoReceberCorpo);
        curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &TWebTransporte::AoReceberCabecalho);
        curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
        if (!config_.proxy.empty()) {
            curl_easy_setopt(e, CURLOPT_PROXY, config_.proxy.c_str());
            const std::string semProxy = ListaSemProxy(config_.proxyByPass);
            curl_easy_setopt(e, CURLOPT_NOPROXY, semProxy.c_str());  // copied by libcurl
        }
        if (!config_.userName.empty() || !config_.password.empty()) {
            curl_easy_setopt(e, CURLOPT_USERNAME, config_.userName.c_str());
            curl_easy_setopt(e, CURLOPT_PASSWORD, config_.password.c_str());
            curl_easy_setopt(e, CURLOPT_HTTPAUTH, CURLAUTH_ANY);
        }
        curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
        if (!config_.certificado.empty()) {
#if LIBCURL_VERSION_NUM >= 0x075700
            // A cached store would be shared beyond this connection's trust.
            curl_easy_setopt(e, CURLOPT_CA_CACHE_TIMEOUT, 0L);
#endif
            curl_easy_setopt(e, CURLOPT_SSL_CTX_FUNCTION, &TWebTransporte::AoCriarContextoTLS);
            curl_easy_setopt(e, CURLOPT_SSL_CTX_DATA, this);
        }
    }

    void Fechar() {
        std::lock_guard lock(mutex_);
        if (multi_ != nullptr) curl_multi_cleanup(multi_);
        if (easy_ != nullptr) curl_easy_cleanup(easy_);
        if (cabecalhos_ != nullptr) curl_slist_free_all(cabecalhos_);
        multi_ = nullptr;
        easy_ = nullptr;
        cabecalhos_ = nullptr;
    }

    // libcurl's callbacks: they never let an exception out.
    static size_t AoReceberCorpo(char* dados, size_t tamanho, size_t n, void* usuario) {
        auto* t = static_cast<TWebTransporte*>(usuario);
        const size_t total = tamanho * n;
        if (t->corpo_.size() + total > kCorpoMaximo) {
            t->corpoGrandeDemais_ = true;
            return 0;  // ends the transfer
        }
        t->corpo_.append(dados, total);
        return total;
    }

    static size_t AoReceberCabecalho(char* dados, size_t tamanho, size_t n, void* usuario) {
        auto* t = static_cast<TWebTransporte*>(usuario);
        const size_t total = tamanho * n;
        std::string_view linha(dados, total);
        // The status line of each response (a challenge or a proxy's answer comes first): the
        // reason phrase after the code, without the line's end.
        if (linha.substr(0, 5) == "HTTP/") {
            t->motivo_.clear();
            const size_t a = linha.find(' ');
            const size_t b = a == std::string_view::npos ? a : linha.find(' ', a + 1);
            if (b != std::string_view::npos) {
                std::string_view motivo = linha.substr(b + 1);
                while (!motivo.empty() && (motivo.back() == '\r' || motivo.back() == '\n'))
                    motivo.remove_suffix(1);
                t->motivo_ = rtl::Trim(motivo);
            }
        }
        return total;
    }

    static CURLcode AoCriarContextoTLS(CURL*, void* contexto, void* usuario) {
        const auto* t = static_cast<const TWebTransporte*>(usuario);
        const auto* p = reinterpret_cast<const unsigned char*>(t->config_.certificado.data());
        X509* certificado = d2i_X509(nullptr, &p, long(t->config_.certificado.size()));
        if (certificado == nullptr) return CURLE_SSL_CERTPROBLEM;
        X509_STORE* raizes = SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(contexto));
        const int ok = X509_STORE_add_cert(raizes, certificado);
        X509_free(certificado);
        return ok == 1 ? CURLE_OK : CURLE_SSL_CERTPROBLEM;
    }

    TConfiguracaoWeb config_;
    std::mutex mutex_;  // the handles, against Cancelar from another thread
    CURL* easy_ = nullptr;
    CURLM* multi_ = nullptr;
    curl_slist* cabecalhos_ = nullptr;
    std::atomic<bool> cancelada_{false};
    char erro_[CURL_ERROR_SIZE];
    std::string pedido_;
    std::string corpo_;
    std::string motivo_;
    int32_t status_ = 0;
    bool corpoGrandeDemais_ = false;
};

// The URL's parts: scheme, host, port (explicit or the scheme's), path with any query.
struct TPartesURL {
    std::string esquema;
    std::string host;
    int32_t porta = 0;
    std::string caminho;
};

bool AnalisarURL(const std::string& url, TPartesURL& partes) {
    const size_t p = url.find("://");
    if (p == std::string::npos) return false;
    partes.esquema = rtl::LowerCase(url.substr(0, p));
    if (partes.esquema != "http" && partes.esquema != "https") return false;
    std::string resto = url.substr(p + 3);
    const size_t barra = resto.find_first_of("/?");
    std::string autoridade = resto.substr(0, barra);
    partes.caminho = barra == std::string::npos ? "/" : resto.substr(barra);
    if (partes.caminho.front() == '?') partes.caminho.insert(0, "/");
    if (const size_t arroba = autoridade.rfind('@'); arroba != std::string::npos) autoridade.erase(0, arroba + 1);
    partes.porta = partes.esquema == "https" ? 443 : 80;
    size_t fimHost;
    size_t separador = std::string::npos;
    if (!autoridade.empty() && autoridade.front() == '[') {  // an IPv6 literal
        fimHost = autoridade.find(']');
        if (fimHost == std::string::npos) return false;
        ++fimHost;
        if (fimHost < autoridade.size()) {
            if (autoridade[fimHost] != ':') return false;
            separador = fimHost;
        }
    } else {
        separador = autoridade.find(':');
        fimHost = separador == std::string::npos ? autoridade.size() : separador;
    }
    if (separador != std::string::npos) {
        int32_t porta = 0;
        if (!rtl::TryStrToInt(autoridade.substr(separador + 1), porta) || porta <= 0 || porta > 65535) return false;
        partes.porta = porta;
    }
    partes.host = autoridade.substr(0, fimHost);
    return !partes.host.empty();
}

}  // namespace

TWebConnection::TWebConnection(rtl::Component* owner) : TStreamedConnection(owner) {
    TStreamedConnection::SetSupportCallbacks(false);
    SetURL(kURLExemplo);
}

TWebConnection::~TWebConnection() {
    try {
        SetConnected(false);
    } catch (...) {
    }
}

void TWebConnection::SetURL(const std::string& url) {
    SetConnected(false);
    if (url == url_) return;
    if (url.empty()) {
        esquema_.clear();
        host_.clear();
        porta_ = 0;
        caminho_.clear();
        url_.clear();
        return;
    }
    TPartesURL partes;
    if (!AnalisarURL(url, partes))
        throw rtl::Exception(rtl::Format("URL must be in the form \"%s\"", kURLExemplo));
    esquema_ = partes.esquema;
    host_ = partes.host;
    porta_ = partes.porta;
    caminho_ = partes.caminho;
    url_ = url;
}

std::shared_ptr<ITransport> TWebConnection::CriarTransporte() {
    if (host_.empty()) throw rtl::Exception("URL required");
    TConfiguracaoWeb c;
    c.url = rtl::Format("%s://%s:%d%s", esquema_, host_, porta_, caminho_);
    c.https = esquema_ == "https";
    c.agent = agent_;
    c.userName = userName_;
    c.password = password_;
    c.proxy = proxy_;
    c.proxyByPass = proxyByPass_;
    c.certificado = certificado_;
    return std::make_shared<TWebTransporte>(std::move(c));
}
