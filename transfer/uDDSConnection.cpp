// transfer/uDDSConnection.cpp: the download-server client over the internet library's HTTP
// client (with its OpenSSL handler for https hosts) and the JSON reader.
#include "transfer/uDDSConnection.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "common/ukwUpdUtil.h"
#include "net/IdGlobal.h"
#include "net/IdHTTP.h"
#include "net/IdSSLOpenSSL.h"
#include "net/IdStack.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "rtl/Bytes.h"
#include "rtl/Stream.h"
#include "rtl/Text.h"
#include "transfer/uJSON.h"
#include "transfer/ukwTelaStatus.h"
#include "transfer/ukwUpdFileUtil.h"

namespace {

const char* const kPatchSourceDoesNotExist = "PATCH_SOURCE_DOES_NOT_EXISTS";
const char* const kParentServerUnavailable = "PARENT_SERVER_UNAVAILABLE";
const char* const kPatchTargetDoesNotExist = "PATCH_TARGET_DOES_NOT_EXISTS";
const char* const kPatchSourceAndTargetDoNotExist = "PATCH_SOURCE_AND_TARGET_DOES_NOT_EXISTS";

// A memory stream that refuses to grow past its ceiling: an answer larger than any the
// server gives is not read into memory.
class RespostaLimitada final : public rtl::MemoryStream {
public:
    size_t Write(const void* buffer, size_t count) override {
        if (Size() + int64_t(count) > kMaxRespostaDDS)
            throw rtl::EWriteError("A resposta do servidor de download excede " +
                                   rtl::IntToStr(kMaxRespostaDDS) + " bytes.");
        return rtl::MemoryStream::Write(buffer, count);
    }
};

// The text of a member, empty for a JSON null (the server writes null for "no url", "no
// status" or "no token"); a missing member raises the reader's exception.
std::string TextoOuVazio(const TJSONObject& objeto, const char* chave) {
    const TZAbstractObject& valor = objeto.GetValue(chave);
    return valor.equals(&JSONNull()) ? std::string() : valor.toString();
}

// A token as the log may show it: never any of it.
std::string Mascarado(const std::string& token) {
    return "******** (" + rtl::IntToStr(int64_t(token.size())) + " caracteres)";
}

// A settings number: a whole number of seconds held in 16 bits (a negative or larger number
// is brought to the nearest end of the range instead of wrapping into another value); 0 when
// the text is not a whole number.
uint16_t Segundos(const std::string& texto) {
    int64_t v = 0;
    if (!rtl::TryStrToInt64(texto, v)) return 0;
    if (v < 0) return 0;
    return v > 0xFFFF ? uint16_t(0xFFFF) : uint16_t(v);
}

}  // namespace

// ---- Hosts ---------------------------------------------------------------------------------

TDDSConnectionParams::~TDDSConnectionParams() {
    rtl::secure_wipe(PasswordLine.data(), PasswordLine.size());
}

void TDDSConnectionParams::ToStrings(rtl::StringList& list) const {
    list.Clear();
    list.Add(ClientIdLine);
    list.Add(UserNameLine);
    list.Add(PasswordLine);
    list.Add(GrantTypeLine);
}

std::string HostPart(const std::string& address, const std::string& scheme) {
    if (address.empty()) return {};
    const size_t marca = address.find("://");
    const size_t inicioHost = marca == std::string::npos ? 0 : marca + 3;
    const std::string proprio = address.substr(0, inicioHost);
    const size_t barra = address.find('/', inicioHost);
    // Without a "/" after the host there is no host part.
    const std::string host =
        barra == std::string::npos ? std::string() : address.substr(inicioHost, barra - inicioHost);
    return (scheme.empty() ? proprio : scheme) + host;
}

std::string WholeFileName(const std::string& name) {
    if (name.empty() || name.rfind("PATCH_", 0) != 0) return name;
    const std::string resto = name.substr(6);
    const size_t ultimo = resto.rfind('_');
    if (ultimo == std::string::npos || ultimo == 0) return resto;
    const size_t penultimo = resto.rfind('_', ultimo - 1);
    if (penultimo == std::string::npos) return resto;
    return resto.substr(0, penultimo) + "_" + resto.substr(ultimo + 1);
}

// ---- The connection ------------------------------------------------------------------------

std::shared_ptr<IDDSConnection> TDDSConnection::Create() {
    return std::make_shared<TDDSConnection>();
}

TDDSConnection::TDDSConnection()
    : tls_(TIdBaseComponent::Create<TIdSSLIOHandlerSocketOpenSSL>()),
      http_(TIdBaseComponent::Create<TIdHTTP>()) {
    // One handler for every request: plain for http hosts, TLS (the server's chain and name
    // checked against the system's trust store) for https ones.
    http_->SetIOHandler(tls_.get());
    // A silent server must not hold the launcher: connect and every read are timed.
    http_->SetConnectTimeout(TempoLimiteTransferencia);
    http_->SetReadTimeout(TempoLimiteTransferencia);
    // A file may be served from elsewhere; the client carries no credentials to another origin.
    http_->HandleRedirects = true;
}

TDDSConnection::~TDDSConnection() {
    http_.reset();
    tls_.reset();
    for (const auto& h : hosts_)
        rtl::secure_wipe(h->PasswordLine.data(), h->PasswordLine.size());
    rtl::secure_wipe(AccessToken.data(), AccessToken.size());
}

void TDDSConnection::AddHost(std::unique_ptr<TDDSConnectionParams> params) {
    hosts_.push_back(std::move(params));
}

void TDDSConnection::AddServer(const std::string& clientId, const std::string& userName,
                               const std::string& password, const std::string& grantType,
                               const std::string& baseURL) {
    auto p = std::make_unique<TDDSConnectionParams>();
    p->ClientIdLine = "client_id=" + clientId;
    p->UserNameLine = "username=" + userName;
    p->PasswordLine = "password=" + password;
    p->GrantTypeLine = "grant_type=" + grantType;
    p->BaseURL = baseURL;
    AddHost(std::move(p));
}

bool TDDSConnection::NextHost() {
    AccessToken.clear();
    ++hostIndex_;
    return hostIndex_ < int32_t(hosts_.size());
}

TDDSConnectionParams& TDDSConnection::GetHost(uint8_t index) {
    if (index >= hosts_.size())
        throw rtl::EListError("List index out of bounds (" + rtl::IntToStr(index) + ")");
    return *hosts_[index];
}

TDDSConnectionParams& TDDSConnection::GetCurrentHost() {
    if (hostIndex_ < 0 || hostIndex_ >= int32_t(hosts_.size()))
        throw rtl::EListError("List index out of bounds (" + rtl::IntToStr(hostIndex_) + ")");
    return *hosts_[size_t(hostIndex_)];
}

bool TDDSConnection::IsStatusAcceptable(const std::string& status) {
    return status.empty() || status == kPatchSourceDoesNotExist;
}

void TDDSConnection::AddLog(const std::string& text) {
    const std::string linha = rtl::StringReplace(text, "\r\n", " ");
    logLines_.push_back(linha);
    if (OnLog) OnLog(this, linha);
}

void TDDSConnection::ReportError(const std::string& text) {
    AddLog("ERROR: " + text);
    if (OnError) OnError(this, text);
}

void TDDSConnection::Authenticate() {
    AccessToken.clear();
    TDDSConnectionParams& host = GetCurrentHost();
    rtl::StringList form;
    host.ToStrings(form);
    AddLog("Conectando: " + host.BaseURL);
    AddLog("FoIdHTTP.Post: " + host.BaseURL + "/oauth/token");
    // The token request carries no bearer line: a line another host's question left would
    // hand that host's token to this one.
    http_->GetRequest().CustomHeaders.Clear();
    // The form holds the password: a redirect of it is refused (a 307 or 308 would post it
    // again to wherever the answer points, another origin or plain http included), and the
    // refusal is a failure like any other status.
    http_->HandleRedirects = false;
    TIdFinally segueDeNovo{[this] { http_->HandleRedirects = true; }};
    RespostaLimitada resposta;
    try {
        Requisicao([&] { http_->PostStrings(host.BaseURL + "/oauth/token", form, resposta); });
    } catch (const EIdSocketError& e) {
        ReportError(e.Message());
        return;
    } catch (const std::exception& e) {
        ReportError(std::string("Erro não tratado: ") + e.what());
        return;
    }
    std::unique_ptr<TJSONObject> json;
    try {
        json = TJSONObject::CreateFromText(resposta.Data());
    } catch (const ParseException& e) {
        // The reader's text holds the answer, and the answer holds the token: the error that
        // leaves here names the reason and the position only.
        const std::string& texto = e.Message();
        const std::string motivo = texto.substr(0, texto.find(" at character "));
        const std::string posicao = rtl::IntToStr(e.Position());
        throw ParseException(motivo + " at character " + posicao +
                                 " of (resposta de /oauth/token omitida)\n\r" +
                                 " erro no caracter : " + posicao,
                             e.Position());
    }
    // A null token is none: taken as the text "null" it would count as authenticated and go
    // out as "Bearer null".
    AccessToken = TextoOuVazio(*json, "access_token");
    AddLog("Token: " + Mascarado(AccessToken));
}

void TDDSConnection::Requisicao(const std::function<void()>& pedido) {
    try {
        pedido();
    } catch (...) {
        // A request that failed part-way leaves what it had not read in the handler's input,
        // and the client takes a handler with input for a live connection: the next request
        // would be written to the closed one. Both go, so the next request connects afresh.
        if (TIdIOHandler* io = http_->IOHandler(); io != nullptr && io->InputQueue)
            io->InputQueue->EmptyBuffer();
        http_->Disconnect();
        throw;
    }
}

bool TDDSConnection::GetAnswer(const std::string& url, std::string& answer) {
    RespostaLimitada resposta;
    try {
        Requisicao([&] { http_->Get(url, resposta); });
    } catch (const EIdSocketError& e) {
        ReportError(e.Message());
        return false;
    } catch (const std::exception& e) {
        ReportError(std::string("Erro não tratado: ") + e.what());
        return false;
    }
    answer = resposta.Data();
    return true;
}

void TDDSConnection::QueryFileLocation(const std::string& fileName, std::string& url, bool& isFile,
                                       std::string& status) {
    url.clear();
    status.clear();
    isFile = false;
    const TDDSConnectionParams& host = GetCurrentHost();
    http_->GetRequest().CustomHeaders.Clear();
    http_->GetRequest().CustomHeaders.Add("Authorization: Bearer " + AccessToken);
    const std::string endereco = host.BaseURL + "/file/downloadFile?fileName=" + fileName;
    AddLog("FoIdHTTP.Get: " + endereco);
    std::string resposta;
    if (!GetAnswer(endereco, resposta)) return;
    AddLog("oResponse.DataString: " + resposta);
    const std::unique_ptr<TJSONObject> a = TJSONObject::CreateFromText(resposta);
    AddLog("fileLocation: " + a->GetText("fileLocation"));
    const TJSONObject& l = a->GetObjectValue("fileLocation");
    const std::string arquivo = l.GetText("isFile");
    isFile = arquivo == "true";
    url = TextoOuVazio(l, "url");
    AddLog("url: " + url);
    AddLog("isFile: " + arquivo);
    if (!isFile) {
        const std::string s = TextoOuVazio(l, "status");
        if (s == kParentServerUnavailable) {
            status = s;
        } else {
            status = TextoOuVazio(a->GetObjectValue("patchResponse"), "status");
            AddLog("status: " + status);
            if (status == "null") status.clear();
        }
    }
}

void TDDSConnection::LoadHostSettings() {
    for (size_t i = size_t(std::max(hostIndex_, 0)); i < hosts_.size(); ++i) {
        TDDSConnectionParams& host = *hosts_[i];
        http_->GetRequest().CustomHeaders.Clear();
        RespostaLimitada dados;
        try {
            Requisicao([&] { http_->Get(host.BaseURL + "/misc/params", dados); });
        } catch (const EIdSocketError& e) {
            ReportError(e.Message());
            return;
        }
        AddLog("LoadHostSettings");
        AddLog("oResponse.DataString: " + dados.Data());
        const std::unique_ptr<TJSONObject> json = TJSONObject::CreateFromText(dados.Data());
        host.Timeout = Segundos(json->GetText("timeout"));
        host.PollingTime = Segundos(json->GetText("pollingTime"));
        if (host.PollingTime > 0) pollingCountdown_ += host.Timeout / host.PollingTime;
    }
}

void TDDSConnection::PollingTick() {
    if (OnPolling) OnPolling(this, pollingCountdown_);
    --pollingCountdown_;
}

void TDDSConnection::Wait(uint16_t seconds) {
    for (uint16_t i = 0; i < seconds; ++i) {
        plat::GetClock().Sleep(1000);
        ProcesseMensagensPrograma();
    }
}

int32_t TDDSConnection::FindHost(const std::string& host) const {
    for (size_t i = 0; i < hosts_.size(); ++i)
        if (hosts_[i]->BaseURL == host) return int32_t(i);
    return -1;
}

void TDDSConnection::RequestFile(const std::string& fileName, std::string& url, std::string& status,
                                 bool& askPatch) {
    std::string nome = fileName;
    bool isFile = false;
    QueryFileLocation(nome, url, isFile, status);
    std::string h = HostPart(url);
    bool mesmoHost = h == GetCurrentHost().BaseURL;
    if (isFile && mesmoHost) return;
    if (status == kPatchTargetDoesNotExist || status == kPatchSourceAndTargetDoNotExist) return;
    if (askPatch && (status == kPatchSourceDoesNotExist || status == kParentServerUnavailable)) {
        nome = WholeFileName(nome);
        askPatch = false;
    }
    isFile = false;
    bool terminou = false;
    LoadHostSettings();
    // Two hosts that name each other would be followed for ever: after as many moves as there
    // are hosts, every host has had its turn.
    size_t mudancas = 0;
    while (!isFile && !terminou) {
        const TDDSConnectionParams& atual = GetCurrentHost();
        const uint16_t t = atual.Timeout;
        const uint16_t p = atual.PollingTime;
        if (t > 0 && p > 0) {
            const int32_t perguntas = t / p;
            for (int32_t i = 0; i < perguntas; ++i) {
                PollingTick();
                QueryFileLocation(nome, url, isFile, status);
                h = HostPart(url);
                mesmoHost = h == GetCurrentHost().BaseURL;
                if (isFile && mesmoHost) break;
                Wait(p);
            }
            if (isFile && mesmoHost) return;
        }
        int32_t proximo;
        if (h.empty()) {
            proximo = std::min(hostIndex_ + 1, int32_t(hosts_.size()) - 1);
        } else {
            proximo = FindHost(h);
            if (proximo < 0) throw EDDSUnregisteredHost(h);
        }
        if (proximo == hostIndex_ || mudancas >= hosts_.size()) {
            url.clear();
            terminou = true;
            continue;
        }
        ++mudancas;
        hostIndex_ = proximo;
        Authenticate();
        while (!IsAuthenticated()) {
            if (!NextHost()) {
                terminou = true;
                break;
            }
            Authenticate();
        }
    }
}

bool TDDSConnection::DownloadFile(const std::string& url, const std::string& fileName) {
    // The token goes only with a file on the current host's own origin.
    http_->GetRequest().CustomHeaders.Clear();
    if (hostIndex_ >= 0 && hostIndex_ < int32_t(hosts_.size()) && IsAuthenticated() &&
        HostPart(url) == hosts_[size_t(hostIndex_)]->BaseURL)
        http_->GetRequest().CustomHeaders.Add("Authorization: Bearer " + AccessToken);

    http_->OnWorkBegin = [this](TIdComponent*, TWorkMode modo, int64_t tamanho) {
        if (modo != wmRead) return;
        AddLog("Tamanho: " + rtl::IntToStr(tamanho));
        if (OnDownloadBegin) OnDownloadBegin(this, tamanho);
    };
    http_->OnWorkEnd = [this](TIdComponent*, TWorkMode modo) {
        if (modo == wmRead && OnDownloadEnd) OnDownloadEnd(this);
    };
    http_->OnWork = [](TIdComponent*, TWorkMode, int64_t) {};

    // The body goes to a temporary file beside the destination, which takes the file's name
    // only once the whole body is there. It is not forced to the disk first (curl does not
    // either, and it doubles the time of a large file): after a power cut the verification
    // finds a short file by its size, time and checksum and fetches it again.
    std::string destino;
    std::string temporario;
    try {
        destino = CaminhoLocal(fileName);
        temporario = plat::TemporaryNameBeside(destino);
    } catch (const std::exception& e) {
        ReportError(std::string("Erro não tratado: ") + e.what());
        return false;
    }
    bool completo = false;
    try {
        rtl::FileStream arquivo(temporario, rtl::FileMode::CreateNew);
        try {
            Requisicao([&] { http_->Get(url, arquivo); });
            completo = true;
        } catch (const EIdSocketError& e) {
            ReportError(e.Message());
        } catch (const std::exception& e) {
            ReportError(std::string("Erro não tratado: ") + e.what());
        }
    } catch (const std::exception& e) {
        ReportError(std::string("Erro não tratado: ") + e.what());
        completo = false;
    }
    int erro = 0;
    if (completo && !plat::TryRenameFile(temporario, destino, true, &erro)) {
        ReportError("Erro ao renomear o arquivo \"" + temporario + "\" para \"" + destino +
                    "\": " + DescrevaErroSistema(erro));
        completo = false;
    }
    if (!completo) plat::TryDeleteFile(temporario);
    return completo;
}
