// transfer/ukwUpdConexaoKw4Threads.cpp: the connection and time-out threads of an attempt and
// the main thread's wait for them.
#include "transfer/ukwUpdConexaoKw4Threads.h"

#include <algorithm>
#include <atomic>
#include <thread>
#include <utility>

#include "common/ukwUpdLog.h"
#include "platform/Clock.h"
#include "transfer/ukwSCONNECT.h"
#include "transfer/ukwTelaStatus.h"

namespace {

// How often the main thread looks whether a thread of the attempt has finished.
constexpr uint32_t kIntervaloVerificacao = 100;
// The time-out thread sleeps in steps of this size, so that after its attempt was decided it
// notices within a step that nobody waits for it any more and ends.
constexpr uint64_t kPassoTimeOut = 1000;

std::atomic<uint32_t> proximoHandle{1};
std::atomic<int> threadsEmExecucao{0};

const char* const kExcecaoDesconhecida = "Exceção desconhecida na conexão com o servidor de aplicação.";

}  // namespace

std::mutex& SecaoCriticaConexao() {
    // Never destroyed: a thread that outlives the program's main function may still take it.
    static std::mutex* secao = new std::mutex;
    return *secao;
}

// ---- TkwControleThread ------------------------------------------------------------------------

TkwControleThread::TkwControleThread(TkwUpdLog* log) : log_(log) {
    HandlesTerminados.reserve(3);
}

void TkwControleThread::AdicionarErro(const std::string& texto) {
    if (texto.empty()) return;
    if (!textoErro_.empty()) textoErro_ += "\r\n";
    textoErro_ += texto;
}

void TkwControleThread::RegistrarTermino(uint32_t handle) {
    HandlesTerminados.push_back(handle);
    UltimoIndice = int32_t(HandlesTerminados.size()) - 1;
}

bool TkwControleThread::Terminou(uint32_t handle) const {
    return std::find(HandlesTerminados.begin(), HandlesTerminados.end(), handle) != HandlesTerminados.end();
}

// ---- TkwThreadControlada ----------------------------------------------------------------------

TkwThreadControlada::TkwThreadControlada() : handle_(proximoHandle.fetch_add(1)) {}

int TkwThreadControlada::EmExecucao() {
    return threadsEmExecucao.load();
}

void TkwThreadControlada::Start() {
    ++threadsEmExecucao;
    try {
        std::thread([self = shared_from_this()]() mutable {
            try {
                self->Execute();
            } catch (...) {
                // The bodies record their failures; nothing may leave a thread.
            }
            self.reset();  // the thread's share of its object (and of what the object holds)
            --threadsEmExecucao;
        }).detach();
    } catch (...) {
        --threadsEmExecucao;
        throw;
    }
}

bool TkwThreadControlada::ComControle(const std::function<void(TkwControleThread&)>& f) {
    std::lock_guard lock(SecaoCriticaConexao());
    if (!Controle) return false;
    f(*Controle);
    return true;
}

void FinalizarThread(TkwThreadControlada& thread) {
    std::shared_ptr<TkwControleThread> controle;
    std::shared_ptr<TkwThreadControlada> parceiro;
    {
        std::lock_guard lock(SecaoCriticaConexao());
        if (thread.Controle) thread.Controle->RegistrarTermino(thread.Handle());
        if (thread.Parceiro) thread.Parceiro->Controle.reset();
        controle = std::move(thread.Controle);
        parceiro = std::move(thread.Parceiro);
    }
    // The links go outside the lock: the last share of the partner may go with them.
}

// ---- TkwThreadConexao -------------------------------------------------------------------------

std::string TkwThreadConexao::TextoFalhaConexao(const TStreamedConnection& transporte,
                                                const std::string& mensagem) {
    std::string texto = "Não foi possível conectar-se no servidor de aplicação.\r\n - Servidor: '" +
                        transporte.ServerName() + "'" + "\r\n" + " - GUID: '" + transporte.ServerGUID() +
                        "'" + "\r\n";
    if (const auto* web = dynamic_cast<const TWebConnection*>(&transporte))
        texto += " - URL: '" + web->URL() + "'" + "\r\n";
    else if (const auto* soquete = dynamic_cast<const TSocketConnection*>(&transporte))
        texto += " - Endereco: '" + soquete->Address() + "'" + "\r\n";
    return texto + " - Mensagem: '" + mensagem + "'";
}

void TkwThreadConexao::AdicioneDetalhe(std::string_view texto) {
    ComControle([&](TkwControleThread& c) {
        if (c.Log()) c.Log()->AdicioneDetalhe(texto);
    });
}

void TkwThreadConexao::AdicioneTexto(std::string_view texto) {
    ComControle([&](TkwControleThread& c) {
        if (c.Log()) c.Log()->AdicioneTexto(texto);
    });
}

bool TkwThreadConexao::SobControle(const std::function<void()>& escrita) {
    return ComControle([&](TkwControleThread&) { escrita(); });
}

void TkwThreadConexao::RegistreErro(const std::string& texto) {
    ComControle([&](TkwControleThread& c) { c.AdicionarErro(texto); });
}

void TkwThreadConexao::Execute() {
    // Connecting may fail; the work runs anyway (its first remote call then fails as well, and
    // both texts are recorded).
    try {
        Transporte->SetConnected(true);
    } catch (const std::exception& e) {
        RegistreErro(TextoFalhaConexao(*Transporte, e.what()));
    } catch (...) {
        RegistreErro(TextoFalhaConexao(*Transporte, kExcecaoDesconhecida));
    }
    std::vector<std::string> falhas;
    try {
        if (Dono) Dono->Execute(*this);
    } catch (const std::exception& e) {
        falhas.emplace_back(e.what());
    } catch (...) {
        falhas.emplace_back(kExcecaoDesconhecida);
    }
    try {
        Transporte->SetConnected(false);
    } catch (const std::exception& e) {
        falhas.emplace_back(e.what());
    } catch (...) {
        falhas.emplace_back(kExcecaoDesconhecida);
    }
    for (const std::string& f : falhas)
        RegistreErro(f);
    FinalizarThread(*this);
}

// ---- TkwThreadTimeOut -------------------------------------------------------------------------

void TkwThreadTimeOut::Execute() {
    const uint64_t fim = plat::GetClock().Ticks() + uint64_t(std::max(Segundos, 0)) * 1000;
    for (;;) {
        plat::Clock& relogio = plat::GetClock();
        const uint64_t agora = relogio.Ticks();
        if (agora >= fim) break;
        bool ouvida;
        {
            std::lock_guard lock(SecaoCriticaConexao());
            ouvida = Controle != nullptr;
        }
        if (!ouvida) break;  // the attempt was decided without this thread
        relogio.Sleep(uint32_t(std::min(fim - agora, kPassoTimeOut)));
    }
    FinalizarThread(*this);
}

// ---- TentativaProtegida -----------------------------------------------------------------------

TkwDesfechoTentativa TentativaProtegida(std::shared_ptr<TStreamedConnection> transporte,
                                        std::shared_ptr<TkwTrabalhoConexao> dono, int32_t timeoutSegundos,
                                        TkwUpdLog* log, IkwTelaStatus* tela) {
    auto controle = std::make_shared<TkwControleThread>(log);
    auto conexao = std::make_shared<TkwThreadConexao>();
    auto timeOut = std::make_shared<TkwThreadTimeOut>();
    conexao->Transporte = transporte;
    conexao->Controle = controle;
    conexao->Dono = std::move(dono);
    conexao->Parceiro = timeOut;
    timeOut->Controle = controle;
    timeOut->Segundos = timeoutSegundos;
    timeOut->HandleConexao = conexao->Handle();
    const uint32_t handleConexao = conexao->Handle();
    const uint32_t handleTimeOut = timeOut->Handle();

    conexao->Start();
    try {
        timeOut->Start();
    } catch (...) {
        // Without its time-out thread the attempt is given up: the connection thread is not
        // heard any more and its transport is stopped.
        {
            std::lock_guard lock(SecaoCriticaConexao());
            conexao->Controle.reset();
        }
        transporte->Cancelar();
        throw;
    }

    for (;;) {
        if (tela) tela->ProcesseMensagens();
        {
            std::lock_guard lock(SecaoCriticaConexao());
            if (controle->Terminou(handleTimeOut) || controle->Terminou(handleConexao)) break;
        }
        plat::GetClock().Sleep(kIntervaloVerificacao);
    }

    TkwDesfechoTentativa desfecho;
    {
        std::lock_guard lock(SecaoCriticaConexao());
        desfecho.TimeOut = controle->Terminou(handleTimeOut) && !controle->Terminou(handleConexao);
        if (desfecho.TimeOut) conexao->Controle.reset();
        if (!controle->Terminou(handleTimeOut)) timeOut->Controle.reset();
        desfecho.TextoErro = controle->TextoErro();
    }
    // A connection thread that lost is stopped in whatever call it waits, so it ends soon; it is
    // not waited for.
    if (desfecho.TimeOut) transporte->Cancelar();
    return desfecho;
}
