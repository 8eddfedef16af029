// transfer/ukwSCONNECT.cpp: the streamed connection (connect, disconnect, the block route,
// cancellation, callback mode with its transport thread) and the socket connection.
#include "transfer/ukwSCONNECT.h"

#include <chrono>
#include <condition_variable>
#include <deque>

#include "rtl/Format.h"
#include "rtl/Text.h"

namespace {

constexpr const char* kSemRetorno = "Não foi recebido nenhum valor de retorno que era aguardado";

// How long closing waits for the transport thread before it gives up on it.
constexpr std::chrono::milliseconds kEsperaFimThread{180000};

// A braced GUID in upper case, from a text in the registry form (any case of the hex digits).
bool TextoParaGUID(std::string_view texto, std::string& guid) {
    static constexpr size_t kHifens[] = {9, 14, 19, 24};
    if (texto.size() != 38 || texto.front() != '{' || texto.back() != '}') return false;
    for (size_t i = 1; i < 37; ++i) {
        const char c = texto[i];
        const bool hifen = i == kHifens[0] || i == kHifens[1] || i == kHifens[2] || i == kHifens[3];
        if (hifen ? c != '-' : !std::isxdigit(static_cast<unsigned char>(c))) return false;
    }
    guid = rtl::UpperCase(texto);
    return true;
}

}  // namespace

// ---- Callback mode: the state the connection shares with its transport thread --------------

class TEstadoTransporte {
public:
    // The messages of the original window protocol, kept as the queue's vocabulary.
    enum Mensagem : int {
        kEnviarBloco = 1025,         // connection -> thread: send (esperar: a reply is wanted)
        kBlocoRecebido = 1026,       // thread -> connection: a block arrived
        kExcecao = 1027,             // thread -> connection: the transport failed (texto)
        kEnviadoSemResposta = 1028,  // thread -> connection: a block went without reply
        kNovoTransporte = 1029,      // connection -> thread: use this transport from now on
    };
    struct Item {
        int mensagem = 0;
        std::unique_ptr<TDataBlock> bloco;
        bool esperar = false;
        std::string texto;
        std::shared_ptr<ITransport> transporte;
    };

    std::mutex mutex;
    std::condition_variable cv;
    std::deque<Item> paraThread;
    std::deque<Item> paraConexao;
    std::shared_ptr<ITransport> transporte;
    bool terminar = false;
    bool terminou = false;

    void Postar(Item item) {
        {
            std::lock_guard lock(mutex);
            paraConexao.push_back(std::move(item));
        }
        cv.notify_all();
    }
};

namespace {

// The transport thread's body: connect, then send what is posted and post what arrives until
// asked to end or the transport fails.
void CorpoTransporte(std::shared_ptr<TEstadoTransporte> e) {
    std::shared_ptr<ITransport> t;
    {
        std::lock_guard lock(e->mutex);
        t = e->transporte;
    }
    try {
        t->SetConnected(true);
        for (;;) {
            std::deque<TEstadoTransporte::Item> pedidos;
            {
                std::lock_guard lock(e->mutex);
                if (e->terminar) break;
                pedidos.swap(e->paraThread);
            }
            for (TEstadoTransporte::Item& p : pedidos) {
                if (p.mensagem == TEstadoTransporte::kNovoTransporte) {
                    t->SetConnected(false);
                    t = p.transporte;
                    {
                        std::lock_guard lock(e->mutex);
                        e->transporte = t;
                    }
                    t->SetConnected(true);
                    continue;
                }
                t->Enviar(*p.bloco);
                if (!p.esperar) e->Postar({TEstadoTransporte::kEnviadoSemResposta, nullptr, false, {}, nullptr});
            }
            if (std::unique_ptr<TDataBlock> b = t->Receber(true, 0))
                e->Postar({TEstadoTransporte::kBlocoRecebido, std::move(b), false, {}, nullptr});
        }
        t->SetConnected(false);
    } catch (const std::exception& x) {
        try {
            t->SetConnected(false);
        } catch (...) {
        }
        e->Postar({TEstadoTransporte::kExcecao, nullptr, false, x.what(), nullptr});
    } catch (...) {
        e->Postar({TEstadoTransporte::kExcecao, nullptr, false, "Erro desconhecido no transporte", nullptr});
    }
    {
        std::lock_guard lock(e->mutex);
        e->terminou = true;
    }
    e->cv.notify_all();
}

}  // namespace

// ---- TStreamedConnection ----------------------------------------------------------------------

TStreamedConnection::TStreamedConnection(rtl::Component* owner) : rtl::Component(owner) {}

TStreamedConnection::~TStreamedConnection() {
    try {
        SetConnected(false);
    } catch (...) {
        // The server frees its objects with the connection.
    }
    try {
        FecharTransporte();
    } catch (...) {
    }
}

TDataBlockInterpreter& TStreamedConnection::ObterInterpretador() {
    if (!interpretador_) interpretador_ = std::make_unique<TDataBlockInterpreter>(*this, TextoVerificacao());
    return *interpretador_;
}

void TStreamedConnection::SetServerGUID(const std::string& guid) {
    SetConnected(false);
    if (guid.empty()) {
        serverGUID_.clear();
        return;
    }
    std::string braced;
    if (!TextoParaGUID(guid, braced)) throw rtl::EConvertError(rtl::Format("'%s' is not a valid GUID value", guid));
    serverGUID_ = braced;
    TClasseLocal classe;
    if (ProcureClasseLocal(serverGUID_, classe)) serverName_ = classe.nome;
}

void TStreamedConnection::SetServerName(const std::string& nome) {
    if (nome == serverName_) return;
    SetConnected(false);
    serverName_ = nome;
}

void TStreamedConnection::SetSupportCallbacks(bool v) {
    supportCallbacks_ = v;
}

void TStreamedConnection::SetConnected(bool conectar) {
    if (conectar == Connected()) return;
    if (conectar) {
        if (BeforeConnect) BeforeConnect(*this);
        const std::string nome = serverGUID_.empty() ? serverName_ : serverGUID_;
        if (nome.empty())
            throw rtl::Exception(
                rtl::Format("Não é possível conectar, %s necessita do ServerName ou ServerGUID validos", Name()));
        try {
            AbrirTransporte();
            objetoServidor_ = ObterInterpretador().PedirCriacaoObjeto(nome);
        } catch (...) {
            objetoServidor_ = rtl::Variant::Null();
            FecharTransporte();
            throw;
        }
        if (AfterConnect) AfterConnect(*this);
        return;
    }
    if (BeforeDisconnect) BeforeDisconnect(*this);
    // Dropping the server object sends its free-object call while the transport is open.
    objetoServidor_ = rtl::Variant::Null();
    FecharTransporte();
    if (AfterDisconnect) AfterDisconnect(*this);
}

void TStreamedConnection::AbrirTransporte() {
    FecharTransporte();
    std::shared_ptr<ITransport> t = CriarTransporte();
    {
        std::lock_guard lock(mutexTransporte_);
        transporte_ = t;
    }
    // Cancelar sets the mark before it looks for a transport: either it found this one or
    // the mark is seen here.
    if (cancelada_.load()) t->Cancelar();
    if (!supportCallbacks_) {
        t->SetConnected(true);
        return;
    }
    estado_ = std::make_shared<TEstadoTransporte>();
    estado_->transporte = t;
    thread_ = std::thread(CorpoTransporte, estado_);
}

void TStreamedConnection::FecharTransporte() {
    std::shared_ptr<ITransport> t;
    {
        std::lock_guard lock(mutexTransporte_);
        t = transporte_;
    }
    if (estado_) {
        std::shared_ptr<TEstadoTransporte> e = std::move(estado_);
        {
            std::lock_guard lock(e->mutex);
            e->terminar = true;
            t = e->transporte;
        }
        if (t) t->Despertar();
        std::unique_lock lock(e->mutex);
        const bool terminou = e->cv.wait_for(lock, kEsperaFimThread, [&] { return e->terminou; });
        lock.unlock();
        if (terminou) {
            thread_.join();
        } else {
            // A thread stuck in the transport is cut loose; it owns its share of the state.
            if (t) t->Cancelar();
            thread_.detach();
        }
    } else if (t) {
        t->SetConnected(false);
    }
    std::lock_guard lock(mutexTransporte_);
    transporte_.reset();
}

void TStreamedConnection::Cancelar() {
    cancelada_.store(true);
    std::shared_ptr<ITransport> t;
    {
        std::lock_guard lock(mutexTransporte_);
        t = transporte_;
    }
    if (t) t->Cancelar();
}

std::unique_ptr<TDataBlock> TStreamedConnection::EnviarBloco(TDataBlock& bloco, bool esperarResposta) {
    if (estado_) return EnviarComCallbacks(bloco, esperarResposta);
    std::shared_ptr<ITransport> t;
    {
        std::lock_guard lock(mutexTransporte_);
        t = transporte_;
    }
    if (!t) throw rtl::Exception("A conexão com o servidor não está aberta.");
    const intptr_t contexto = t->Enviar(bloco);
    std::unique_ptr<TDataBlock> resposta = t->Receber(esperarResposta, contexto);
    if (resposta && AcaoDoBloco(resposta->Signature()) == kAcaoErro) ObterInterpretador().InterpretarBloco(*resposta);
    return resposta;
}

std::unique_ptr<TDataBlock> TStreamedConnection::EnviarComCallbacks(TDataBlock& bloco, bool esperarResposta) {
    std::shared_ptr<TEstadoTransporte> e = estado_;
    std::shared_ptr<ITransport> t;
    {
        std::lock_guard lock(e->mutex);
        e->paraThread.push_back(
            {TEstadoTransporte::kEnviarBloco, std::make_unique<TDataBlock>(bloco), esperarResposta, {}, nullptr});
        t = e->transporte;
    }
    t->Despertar();
    if (!esperarResposta) return nullptr;
    for (;;) {
        TEstadoTransporte::Item m;
        {
            std::unique_lock lock(e->mutex);
            e->cv.wait(lock, [&] { return !e->paraConexao.empty() || e->terminou; });
            if (e->paraConexao.empty()) throw rtl::Exception(kSemRetorno);
            m = std::move(e->paraConexao.front());
            e->paraConexao.pop_front();
        }
        switch (m.mensagem) {
            case TEstadoTransporte::kBlocoRecebido:
                if ((m.bloco->Signature() & 0xFF00) == kAssinaturaResposta) {
                    if (AcaoDoBloco(m.bloco->Signature()) == kAcaoErro) ObterInterpretador().InterpretarBloco(*m.bloco);
                    return std::move(m.bloco);
                }
                // A call of the server while it works on ours: answered here, then wait on.
                ObterInterpretador().InterpretarBloco(*m.bloco);
                break;
            case TEstadoTransporte::kExcecao:
                throw rtl::Exception(m.texto);
            default:
                break;
        }
    }
}

// ---- TSocketConnection ------------------------------------------------------------------------

namespace {

// host and port of an address text (211 when absent or not a number).
void AnalisarEndereco(const std::string& endereco, std::string& host, int32_t& porta) {
    const size_t p = endereco.find(':');
    if (p == std::string::npos) {
        host = endereco;
        porta = kPortaPadrao;
        return;
    }
    host = endereco.substr(0, p);
    porta = rtl::StrToIntDef(std::string_view(endereco).substr(p + 1), kPortaPadrao);
}

}  // namespace

TSocketConnection::TSocketConnection(rtl::Component* owner) : TStreamedConnection(owner) {}

TSocketConnection::~TSocketConnection() {
    try {
        SetConnected(false);
    } catch (...) {
    }
}

void TSocketConnection::SetAddress(const std::string& endereco) {
    endereco_ = endereco;
    AnalisarEndereco(endereco, host_, porta_);
}

void TSocketConnection::SetSupportCallbacks(bool v) {
    if (Connected()) SetConnected(false);
    TStreamedConnection::SetSupportCallbacks(v);
}

std::shared_ptr<ITransport> TSocketConnection::CriarTransporte() {
    if (endereco_.empty()) throw ESocketConnectionError("No address specified");
    auto t = std::make_shared<TSocketTransport>(cifra_);
    t->SetAddress(endereco_);
    t->SetInterceptGUID(interceptGUID_);
    return t;
}

void TSocketTransport::SetAddress(const std::string& endereco) {
    endereco_ = endereco;
    AnalisarEndereco(endereco, host_, porta_);
}
