// transfer/ukwSCONNECT.h: the connections that carry data blocks to the application server or
// a load balancer: TSocketConnection over TCP, TWebConnection over HTTP(S) POST.
//
// Both derive from TStreamedConnection, which owns the interpreter (ukwSCONNECTInterpreter.h),
// creates the server's object when it connects and routes every block through its transport.
// Connecting: the server object's name is the ServerGUID (braced, upper case) when one is set,
// else ServerName; with neither, "Não é possível conectar, %s necessita do ServerName ou
// ServerGUID validos". The transport opens, the server object is created (PedirCriacaoObjeto),
// and any failure closes the transport again and passes the failure on. Disconnecting drops
// the server object (its proxy sends the free-object call) and closes the transport. The
// connection counts as connected while it holds the server object.
//
// Without callbacks (what the launcher uses) every send and receive happens on the thread
// that calls; with them (socket only, never started by the launcher) a transport thread owns
// the transport: it sends what the connection posts (message 1025), posts what arrives (1026
// a block, 1027 a failure, 1028 a block sent without reply) and takes a new transport (1029);
// the connection, waiting for a reply, serves the calls the server makes meanwhile. Closing
// asks the thread to end and waits at most 180000 ms for it.
//
// Cancelar, from any thread, makes the transport's blocked and later operations fail at once
// (a blocked connect, send or receive returns), and so does every transport the connection
// opens later: the caller that gave up on a silent server does not wait for the system's
// time-outs. A connection is otherwise used by one thread at a time.
//
// TSocketConnection: Address is a host, or host:port (211 when absent or not a number); a
// dotted IPv4 host (EhEnderecoIPv4) is used without a name lookup. Each block's payload after
// its first four bytes passes through the cipher library when it is present (uSSOCKETCLIENT.h).
// Reading a block: the signature ("Base de dados inválida" when wrong), the size, the payload
// (a short read or a closed connection: ESocketConnectionError "Erro de leitura no socket";
// a negative size or one past the payload ceiling: "Base de dados inválida").
//
// TWebConnection: each block is POSTed whole to the URL's path, with "Accept:
// application/octet-stream" and no content type, the Agent as the user agent, over one
// kept-alive connection; the reply block is the response body. Proxy (with ProxyByPass) when
// set, else the environment's proxy variables; UserName and Password answer an
// authentication challenge and are never logged. A status of 300 or more fails with
// "<reason> (<code>)" (libcurl's text for a failing status when the server gives no reason);
// redirects are not followed; a failed request fails once with libcurl's text. An empty body is
// no reply; 1 to 7 bytes, or a body whose length is not the declared size, "Base de dados
// inválida". HTTPS checks the certificate and host name against the system's roots and, when
// given, one DER certificate trusted for this connection only (CertificadoConfiavel).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/ClientSocket.h"
#include "rtl/Component.h"
#include "rtl/Exception.h"
#include "rtl/Variant.h"
#include "transfer/ukwSCONNECTBlock.h"
#include "transfer/ukwSCONNECTInterpreter.h"

class TSSOCKETCLIENT;
class TEstadoTransporte;

RTL_EXCEPTION(ESocketConnectionError, rtl::Exception);

// The port of the application server's socket road.
inline constexpr int32_t kPortaPadrao = 211;

// True when the text before the first ":" is four dot-separated groups of decimal digits,
// each below 256 ("10.0.0.7"; not "10.0.0", "10.0.0.256", "10..0.7", "srv1").
bool EhEnderecoIPv4(std::string_view host);

class ITransport {
public:
    virtual ~ITransport() = default;
    virtual bool GetConnected() = 0;
    virtual void SetConnected(bool conectado) = 0;
    // Sends the block; answers the context Receber needs.
    virtual intptr_t Enviar(TDataBlock& bloco) = 0;
    // The block that arrived, or none (nothing arrived, or no reply was wanted and none came).
    // A socket transport waits without limit when esperar holds, else only looks; a wake
    // (Despertar) also ends the wait with none.
    virtual std::unique_ptr<TDataBlock> Receber(bool esperar, intptr_t contexto) = 0;
    // From any thread: blocked and later operations fail at once.
    virtual void Cancelar() = 0;
    // From any thread: ends one wait of Receber.
    virtual void Despertar() {}
};

class TStreamedConnection : public rtl::Component, public ISendDataBlock {
public:
    using TEvento = std::function<void(TStreamedConnection&)>;

    explicit TStreamedConnection(rtl::Component* owner = nullptr);
    // Disconnects (failures are dropped: the server frees its objects with the connection).
    ~TStreamedConnection() override;

    bool Connected() const { return objetoServidor_.Type() == rtl::VarType::Dispatch; }
    void SetConnected(bool conectar);
    bool LoginPrompt() const { return loginPrompt_; }
    void SetLoginPrompt(bool v) { loginPrompt_ = v; }
    // The braced, upper-case class identifier, or "".
    const std::string& ServerGUID() const { return serverGUID_; }
    // Disconnects first; "" clears it; a text that is no GUID raises rtl::EConvertError.
    void SetServerGUID(const std::string& guid);
    const std::string& ServerName() const { return serverName_; }
    void SetServerName(const std::string& nome);
    bool SupportCallbacks() const { return supportCallbacks_; }
    virtual void SetSupportCallbacks(bool v);

    TEvento BeforeConnect, AfterConnect, BeforeDisconnect, AfterDisconnect;

    // The application server's object (a remote object), Null while disconnected.
    const rtl::Variant& ObjetoServidor() const { return objetoServidor_; }
    rtl::Variant AppServer() const { return objetoServidor_; }
    TDataBlockInterpreter& ObterInterpretador();

    // Sends a block through the transport and, when a reply is awaited, answers it; an error
    // reply raises the server's text.
    std::unique_ptr<TDataBlock> EnviarBloco(TDataBlock& bloco, bool esperarResposta) override;

    // From any thread (see the header comment).
    void Cancelar();

protected:
    virtual std::shared_ptr<ITransport> CriarTransporte() = 0;
    virtual std::string TextoVerificacao() const = 0;
    void AbrirTransporte();
    void FecharTransporte();

private:
    std::unique_ptr<TDataBlock> EnviarComCallbacks(TDataBlock& bloco, bool esperarResposta);

    bool loginPrompt_ = false;
    bool supportCallbacks_ = true;
    std::string serverGUID_;
    std::string serverName_;
    rtl::Variant objetoServidor_ = rtl::Variant::Null();
    std::unique_ptr<TDataBlockInterpreter> interpretador_;

    // The transport while connected without callbacks; guarded for Cancelar.
    std::mutex mutexTransporte_;
    std::shared_ptr<ITransport> transporte_;
    std::atomic<bool> cancelada_{false};
    // Callback mode: the state the connection and its transport thread share, and the thread.
    std::shared_ptr<TEstadoTransporte> estado_;
    std::thread thread_;
};

class TSocketTransport : public ITransport {
public:
    explicit TSocketTransport(const TSSOCKETCLIENT* cifra = nullptr);

    // Parsed as TSocketConnection::SetAddress does.
    void SetAddress(const std::string& endereco);
    const std::string& Address() const { return endereco_; }
    const std::string& Host() const { return host_; }
    int32_t Port() const { return porta_; }
    void SetInterceptGUID(const std::string& guid) { interceptGUID_ = guid; }

    bool GetConnected() override;
    void SetConnected(bool conectado) override;
    intptr_t Enviar(TDataBlock& bloco) override;
    std::unique_ptr<TDataBlock> Receber(bool esperar, intptr_t contexto) override;
    void Cancelar() override;
    void Despertar() override;

private:
    // CifrarBloco / DecifrarBloco: the cipher library, when present, over the payload.
    void TransformarCarga(TDataBlock& bloco, bool cifrar) const;
    void LerExato(void* dados, size_t quantidade);

    const TSSOCKETCLIENT* cifra_;
    std::string endereco_;
    std::string host_;
    int32_t porta_ = kPortaPadrao;
    std::string interceptGUID_;
    // Made with the transport, so Cancelar from another thread always finds it.
    plat::ClientSocket soquete_;
};

class TSocketConnection : public TStreamedConnection {
public:
    explicit TSocketConnection(rtl::Component* owner = nullptr);
    ~TSocketConnection() override;

    const std::string& Address() const { return endereco_; }
    // "" gives host "" and port 211; "host" port 211; "host:n" port n (211 when n is no number).
    void SetAddress(const std::string& endereco);
    const std::string& Host() const { return host_; }
    int32_t Port() const { return porta_; }
    const std::string& InterceptGUID() const { return interceptGUID_; }
    void SetInterceptGUID(const std::string& v) { interceptGUID_ = v; }
    const std::string& InterceptName() const { return interceptName_; }
    void SetInterceptName(const std::string& v) { interceptName_ = v; }
    // Disconnects when connected, then stores the value.
    void SetSupportCallbacks(bool v) override;
    // The cipher the transports use (the process-wide one when none is given).
    void SetCifra(const TSSOCKETCLIENT* cifra) { cifra_ = cifra; }

protected:
    std::shared_ptr<ITransport> CriarTransporte() override;
    std::string TextoVerificacao() const override { return "Sockets"; }

private:
    std::string endereco_;
    std::string host_;
    int32_t porta_ = kPortaPadrao;
    std::string interceptGUID_;
    std::string interceptName_;
    const TSSOCKETCLIENT* cifra_ = nullptr;
};

class TWebConnection : public TStreamedConnection {
public:
    static constexpr const char* kURLExemplo = "http://server.company.com/scripts/httpsrvr.dll";

    explicit TWebConnection(rtl::Component* owner = nullptr);
    ~TWebConnection() override;

    const std::string& Agent() const { return agent_; }
    void SetAgent(const std::string& v) { agent_ = v; }
    const std::string& UserName() const { return userName_; }
    void SetUserName(const std::string& v) { userName_ = v; }
    void SetPassword(const std::string& v) { password_ = v; }
    const std::string& Proxy() const { return proxy_; }
    void SetProxy(const std::string& v) { proxy_ = v; }
    const std::string& ProxyByPass() const { return proxyByPass_; }
    void SetProxyByPass(const std::string& v) { proxyByPass_ = v; }

    const std::string& URL() const { return url_; }
    // Disconnects; the same text changes nothing more; "" clears the parts; a scheme other
    // than http or https raises the message that asks for the form of the sample address.
    void SetURL(const std::string& url);
    const std::string& Scheme() const { return esquema_; }
    const std::string& Host() const { return host_; }
    int32_t Port() const { return porta_; }
    const std::string& Path() const { return caminho_; }

    // One DER certificate trusted, besides the system's roots, for this connection only.
    void SetCertificadoConfiavel(std::string der) { certificado_ = std::move(der); }

    // Always without callbacks.
    void SetSupportCallbacks(bool) override {}

protected:
    std::shared_ptr<ITransport> CriarTransporte() override;
    std::string TextoVerificacao() const override { return "Web"; }

private:
    std::string agent_ = "WebConnection";
    std::string userName_;
    std::string password_;
    std::string url_;
    std::string proxy_;
    std::string proxyByPass_;
    std::string esquema_;
    std::string host_;
    int32_t porta_ = 0;
    std::string caminho_;
    std::string certificado_;
};
