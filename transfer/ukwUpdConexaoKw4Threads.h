// transfer/ukwUpdConexaoKw4Threads.h: one guarded connection attempt to the application server
// or a load balancer: the whole exchange runs on a connection thread, a time-out thread only
// waits, and the main thread takes the outcome of whichever finishes first
// (TentativaProtegida).
//
// An attempt moves through these states:
//   created   both threads made, not started; the control object (TkwControleThread) made;
//   running   both threads started; the main thread looks every 100 ms (on the system clock,
//             processing the status window's messages) whether a thread has registered its
//             end;
//   decided   a registration was seen; under SecaoCriticaConexao the main thread reads the
//             outcome (timed out exactly when the time-out thread has registered and the
//             connection thread has not) and clears the Controle link of each thread that has
//             not finished, so the attempt hears nothing more from it;
//   over      the main thread has the outcome; on a time-out it has cancelled the transport,
//             so the connection thread's blocked call returns and the thread ends soon.
//
// What must stay true:
//   - the attempt's state (control object, threads, transport, the owner's work) is owned by
//     shared pointers that the threads hold as long as they run: the caller can free its
//     connection object at once after a time-out, and nothing a late thread uses is gone;
//   - a thread reaches the launcher's log, the configuration file or the attempt's error text
//     only through its Controle link, under SecaoCriticaConexao: once the link is cleared its
//     later lines, errors and writes are dropped, while the lines it wrote before reach the log
//     in their order. The owner's work reaches the transport and its own fields only, and the
//     caller reads those fields only when the attempt did not time out (the work has ended);
//   - a thread records its error text before it registers its end, so the main thread, woken
//     by the registration, finds the text complete;
//   - nobody waits for a thread: a late thread ends on its own, and the program's exit does
//     not wait for it (EmExecucao says whether any is left);
//   - the main thread never holds SecaoCriticaConexao while it waits for anything else.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

class TkwUpdLog;
class IkwTelaStatus;
class TStreamedConnection;

// The lock of everything the attempt's threads share (never destroyed, so a thread that
// outlives the program's main function can still take it).
std::mutex& SecaoCriticaConexao();

// What the threads of one attempt record; guarded by SecaoCriticaConexao.
class TkwControleThread {
public:
    // log: where the lines of the threads this attempt still hears go (may be none).
    explicit TkwControleThread(TkwUpdLog* log);

    // Appends a non-empty text to TextoErro, after CR LF when TextoErro is not empty.
    void AdicionarErro(const std::string& texto);
    void RegistrarTermino(uint32_t handle);
    bool Terminou(uint32_t handle) const;
    const std::string& TextoErro() const { return textoErro_; }
    TkwUpdLog* Log() const { return log_; }

private:
    std::vector<uint32_t> HandlesTerminados;
    int32_t UltimoIndice = -1;
    std::string textoErro_;
    TkwUpdLog* log_;
};

// What the owner's work may reach from the connection thread.
class TkwContextoTentativa {
public:
    virtual ~TkwContextoTentativa() = default;
    // The transport the thread has connected (or failed to connect).
    virtual TStreamedConnection& Conexao() = 0;
    // A detail line, or lines without time stamp, into the launcher's log while the attempt
    // still hears this thread.
    virtual void AdicioneDetalhe(std::string_view texto) = 0;
    virtual void AdicioneTexto(std::string_view texto) = 0;
    // Runs escrita (a write of the configuration file, with its log lines) while the attempt
    // still hears this thread, holding SecaoCriticaConexao; false when it was dropped.
    // Exceptions of escrita pass through.
    virtual bool SobControle(const std::function<void()>& escrita) = 0;
};

// The owner's work: the remote exchange of an application-server or balancer connection.
// Made by the owner for one attempt; what it obtains stays in the work object, for the owner
// to take after an attempt that did not time out.
class TkwTrabalhoConexao {
public:
    virtual ~TkwTrabalhoConexao() = default;
    virtual void Execute(TkwContextoTentativa& contexto) = 0;
};

// A thread of an attempt. It runs its body once and ends by itself; its object lives while its
// thread runs and while anyone holds it.
class TkwThreadControlada : public std::enable_shared_from_this<TkwThreadControlada> {
public:
    virtual ~TkwThreadControlada() = default;
    TkwThreadControlada(const TkwThreadControlada&) = delete;
    TkwThreadControlada& operator=(const TkwThreadControlada&) = delete;

    // This thread's number, unique in the process.
    uint32_t Handle() const { return handle_; }
    // Starts the system thread (detached). Call once, after setting the links.
    void Start();

    // Both guarded by SecaoCriticaConexao once the thread runs.
    std::shared_ptr<TkwControleThread> Controle;
    std::shared_ptr<TkwThreadControlada> Parceiro;  // the connection thread's time-out thread

    // Attempt threads (connection and time-out) whose system thread has not ended yet.
    static int EmExecucao();

protected:
    TkwThreadControlada();
    virtual void Execute() = 0;
    // Runs f with the control object under SecaoCriticaConexao while the attempt hears this
    // thread; false when it does not any more.
    bool ComControle(const std::function<void(TkwControleThread&)>& f);

private:
    uint32_t handle_;
};

// The end hook of both threads, under SecaoCriticaConexao: registers the thread's end with its
// control object (when the attempt still hears it) and tells the partner's link to go, then
// lets go of its own links.
void FinalizarThread(TkwThreadControlada& thread);

class TkwThreadConexao final : public TkwThreadControlada, public TkwContextoTentativa {
public:
    TkwThreadConexao() = default;

    std::shared_ptr<TkwTrabalhoConexao> Dono;
    std::shared_ptr<TStreamedConnection> Transporte;

    TStreamedConnection& Conexao() override { return *Transporte; }
    void AdicioneDetalhe(std::string_view texto) override;
    void AdicioneTexto(std::string_view texto) override;
    bool SobControle(const std::function<void()>& escrita) override;

    // The text recorded when the transport cannot connect.
    static std::string TextoFalhaConexao(const TStreamedConnection& transporte, const std::string& mensagem);

protected:
    void Execute() override;

private:
    void RegistreErro(const std::string& texto);
};

class TkwThreadTimeOut final : public TkwThreadControlada {
public:
    TkwThreadTimeOut() = default;

    int32_t Segundos = 0;
    uint32_t HandleConexao = 0;  // kept for the record; not used

protected:
    void Execute() override;
};

struct TkwDesfechoTentativa {
    bool TimeOut = false;
    std::string TextoErro;  // the texts the threads recorded, CR LF joined
};

// One guarded attempt (see the top of this header). transporte: the connection the thread
// connects, runs the work over and disconnects; it is cancelled when the attempt times out.
// log: the launcher's log for the threads' lines; tela: whose messages are processed while the
// main thread waits (both may be none).
TkwDesfechoTentativa TentativaProtegida(std::shared_ptr<TStreamedConnection> transporte,
                                        std::shared_ptr<TkwTrabalhoConexao> dono, int32_t timeoutSegundos,
                                        TkwUpdLog* log, IkwTelaStatus* tela);
