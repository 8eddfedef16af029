// transfer/ukwUpdConexaoKw4.h: the launcher's connections on the remote road: to the
// application server (TkwUpdConexaoKw4), which gives the requisites, and to a load balancer
// (TkwUpdConexaoKWBalanceador), which names the application server to use.
//
// Both are used the same way: the caller fills the fields, calls Conectar and then
// Desconectar, and reads the outcome. Conectar
//   1. checks the connection type ("SOCKET" or "HTTP", stored upper-cased by SetTipoConexao);
//   2. probes the address (TPing: for HTTP the HTTPS probe of scheme://host part, then, when
//      it fails, a TCP connect to the host's address), telling the status window where;
//   3. when it answers, makes the transport (TSocketConnection without callbacks, or
//      TWebConnection with the certificate file "App.cer" beside the executable as the trust
//      anchor of an "https" address) and runs one guarded attempt (ukwUpdConexaoKw4Threads.h)
//      whose work is the remote exchange;
//   4. leaves the outcome in ServidorEncontrado (the probe), TimeOut (the attempt's time-out
//      won) and MensagemErro (the error texts, CR LF joined), and, for an attempt that did not
//      time out, what the exchange obtained (requisites, versioned flag, balancer's answer).
// It raises only for an unknown connection type, a non-numeric port after ":" in the path of
// EnderecoURL, and a target GUID that is not a GUID text.
//
// The exchange runs on the connection thread over a copy of the values it needs: it never
// touches the connection object, which the caller may free as soon as Conectar returns. What
// it writes into the launcher's log and into "kwCFG.ini" ([RPC] with its copies, and
// [kwBalanceador]) goes through the attempt's gate, so nothing of it happens once an attempt
// has timed out. After a time-out the connection lets go of its transport (the late thread
// keeps it until it ends), so Desconectar and ObterAppServer find none.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "rtl/Exception.h"
#include "rtl/Variant.h"
#include "transfer/ukwUpdConexaoKw4Threads.h"

class TStreamedConnection;
class TkwUpdLog;
class IkwTelaStatus;

// The server's trust anchor for the web road: the launcher's executable path with the first
// ".exe" (any case) of its file name replaced by "App.cer", or "App.cer" appended to a file
// name without one ("QOR.EXE" gives "QORApp.cer", "kwLoader" "kwLoaderApp.cer").
std::string ObtenhaArquivoCertificado();

// The error text of a login code (argument 6 of "login") and the server's message (argument
// 7); empty when the login succeeded (codes 3 to 6 always, other unknown codes when the
// message is empty).
std::string MensagemErroLogin(int32_t codigo, const std::string& mensagem);

// A web address as the web road takes it apart: the scheme (before the first ":"), the host
// part (after "://", up to the first "/"; it may end in ":" and a port) and the path (after
// that "/"). A ":" in the path ends it and the number after it is the port (a text that is no
// number raises rtl::EConvertError). The TCP probe's port is the host part's port when it has
// one, else the path's, else 80 for the scheme "HTTP" (any case) and 443 for any other.
struct TkwEnderecoWeb {
    std::string Esquema;
    std::string ParteHost;
    std::string Caminho;
    int32_t PortaSonda = 0;
    // The host name: the host part up to its first ":".
    std::string Host() const { return ParteHost.substr(0, ParteHost.find(':')); }
    // Esquema "://" ParteHost "/" Caminho.
    std::string URL() const { return Esquema + "://" + ParteHost + "/" + Caminho; }
};
TkwEnderecoWeb AnaliseEnderecoWeb(const std::string& endereco);

// The configuration file's content with section [kwBalanceador] replaced by the server's list
// of lines (every copy of the section removed, an empty line before the list unless the
// content already ends with one, each line ended as the content's lines are: CR LF unless it
// uses LF only). A list that is not that section (its header first, then only keys, blank
// lines and comments, no control characters) raises rtl::Exception naming the first line that
// is not.
std::string ReescrevaSecaoBalanceador(std::string_view conteudo, const std::vector<std::string>& linhas);

// What both connections share: fields, Conectar, Desconectar and the certificate.
class TkwConexaoRemota {
public:
    virtual ~TkwConexaoRemota();
    TkwConexaoRemota(const TkwConexaoRemota&) = delete;
    TkwConexaoRemota& operator=(const TkwConexaoRemota&) = delete;

    // The transport of the last attempt that did not time out; none before Conectar made one.
    std::shared_ptr<TStreamedConnection> Conexao;
    bool TimeOut = false;
    std::string MensagemErro;
    int32_t TimeoutSegundos;
    int32_t TempoTesteRede = 4000;  // milliseconds
    std::string EnderecoURL;        // scheme "://" host part ["/" path]
    std::string EnderecoIP;         // host or dotted address, optionally ":" port
    std::string TipoConexao;        // "SOCKET" or "HTTP"
    bool ServidorEncontrado = true;
    IkwTelaStatus* TelaStatus = nullptr;  // not owned

    void SetTipoConexao(const std::string& tipo);
    // Main thread; see the top of this header.
    void Conectar();
    // Disconnects the transport when there is one and it reports itself connected.
    void Desconectar();
    bool GetServidorEncontrado() const { return ServidorEncontrado; }
    bool GetTimeOut() const { return TimeOut; }
    // Appends a non-empty text to MensagemErro, after CR LF when MensagemErro is not empty.
    void AdicionarErro(const std::string& texto);
    // The transport's server object; Null without a transport.
    rtl::Variant ObterAppServer() const;
    // For a web transport whose URL (in lower case) holds "https": InstalarCertificado of
    // ObtenhaArquivoCertificado.
    void InstalarCertificadoHTTPS();
    // The file's bytes become the one certificate the web transport trusts besides the
    // system's roots, for this connection only. A missing file raises rtl::Exception
    // "O arquivo de certificado '<file>' não foi encontrado junto com o executável do cliente
    // da aplicação.".
    void InstalarCertificado(const std::string& arquivo);

protected:
    explicit TkwConexaoRemota(int32_t timeoutSegundos) : TimeoutSegundos(timeoutSegundos) {}

    // The GUID of the server object the transport creates.
    virtual const std::string& GUIDAlvo() const = 0;
    // How the status window names the target: "servidor de aplicação", "balanceador".
    virtual const char* NomeAlvo() const = 0;
    // The log the attempt's lines go to (none for a balancer).
    virtual TkwUpdLog* LogDaTentativa() const { return nullptr; }
    // The exchange of one attempt, over a copy of this object's values.
    virtual std::shared_ptr<TkwTrabalhoConexao> CrieTrabalho() = 0;
    // Takes what the exchange obtained, after an attempt that did not time out.
    virtual void TomeResultado(TkwTrabalhoConexao& trabalho) = 0;

private:
    void Tarefa(const std::string& texto);
    void PrepareWeb();
    void PrepareSoquete();
};

class TkwUpdConexaoKw4 final : public TkwConexaoRemota {
public:
    TkwUpdConexaoKw4();
    ~TkwUpdConexaoKw4() override;

    std::string GUIDServidor;
    std::string NomeServidor;  // for information only
    TkwUpdLog* Log = nullptr;  // the launcher's log; not owned
    int32_t CdSistema = 0;
    int32_t CdSistemaGenerico = 0;
    int32_t CdLocalUpdate = 0;
    std::string Requisitos;
    bool AtualizacaoVersionada = false;
    bool PodeBalancear = true;

    // Replaces section [kwBalanceador] of the configuration file with the server's list when
    // it has more than 2 lines (fewer leave the file alone): the list must be that section,
    // its header first and no other section in it, else rtl::Exception and the file is left as
    // it was. The file is written once, through a temporary file and a rename; an empty line
    // separates the section from what precedes it.
    static void GravarBalanceadores(const std::string& texto);

    // The remote exchange (the work of the attempt): login, the data module, [RPC], the
    // requisites with their fall-backs, the versioned flag, the balancer list. It runs on the
    // connection thread over the values copied from the connection when the attempt started.
    class TBusca final : public TkwTrabalhoConexao {
    public:
        void Execute(TkwContextoTentativa& contexto) override { BuscarRequisitos(contexto); }
        void BuscarRequisitos(TkwContextoTentativa& contexto);
        // "login" on the server object; the error text of its code (empty: logged in).
        std::string FazerLogin(TkwContextoTentativa& contexto, int32_t cdSistema);
        // Copies the server's two RPC switches into [RPC], with copies of the file before and
        // after (kept only when they differ); a failure writes both switches off.
        void AtualizarINIRPC(TkwContextoTentativa& contexto);

        // Copied from the connection.
        int32_t CdSistema = 0, CdSistemaGenerico = 0, CdLocalUpdate = 0;
        std::string TipoConexao;
        std::string EnderecoURL;
        bool PodeBalancear = true;
        // Obtained.
        std::optional<std::string> Requisitos;
        std::optional<bool> AtualizacaoVersionada;
        std::vector<std::string> Erros;

    private:
        void BusqueBalanceadores(TkwContextoTentativa& contexto, const rtl::Variant& kwDB,
                                 const rtl::Variant& alias);
    };

protected:
    const std::string& GUIDAlvo() const override { return GUIDServidor; }
    const char* NomeAlvo() const override { return "servidor de aplicação"; }
    TkwUpdLog* LogDaTentativa() const override { return Log; }
    std::shared_ptr<TkwTrabalhoConexao> CrieTrabalho() override;
    void TomeResultado(TkwTrabalhoConexao& trabalho) override;
};

class TkwUpdConexaoKWBalanceador final : public TkwConexaoRemota {
public:
    TkwUpdConexaoKWBalanceador();
    ~TkwUpdConexaoKWBalanceador() override;

    std::string GUIDBalanceador;
    std::string ServidoresJaTentados;  // "<field 2>|<field 4>" of each server tried, ";" joined
    std::string ParametrosServidor;    // the answer: name;id;GUID;socket address;web address
    std::string CdSistemaTexto;        // the system code as the configuration writes it

    // The work of the attempt: "GetServidorParametros" with the request text.
    class TParametros final : public TkwTrabalhoConexao {
    public:
        void Execute(TkwContextoTentativa& contexto) override { GetServidorParametros(contexto); }
        void GetServidorParametros(TkwContextoTentativa& contexto);

        std::string ServidoresJaTentados, TipoConexao, CdSistemaTexto;
        std::optional<std::string> ParametrosServidor;
    };

protected:
    const std::string& GUIDAlvo() const override { return GUIDBalanceador; }
    const char* NomeAlvo() const override { return "balanceador"; }
    std::shared_ptr<TkwTrabalhoConexao> CrieTrabalho() override;
    void TomeResultado(TkwTrabalhoConexao& trabalho) override;
};
