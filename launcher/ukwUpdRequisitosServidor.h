// launcher/ukwUpdRequisitosServidor.h: the remote road: the requisites text and the
// versioned-update flag from the application server ([KWUPDATE] TipoServidor=REMOTO).
//
// One call (PegueDadosRequisitosServidor) makes at most two passes:
//   1. the transport is chosen by probing (DeveUsarHTTP): the socket road when a balancer's or
//      the server's socket address answers a TCP connect, else HTTP;
//   2. with a [kwBalanceador] GUID and [Servidor] PodeBalancear "S", the balancers of that
//      transport are asked one after the other which server to use, each with the list of
//      servers already tried; the server named is asked for the requisites;
//   3. when no balancer named a server that gave requisites (none asked, none reached, time-
//      outs, errors), the next pass connects to the server of section [Servidor], which ends
//      the call: with its requisites (possibly empty) or with an exception naming why.
// The last balancer asked answering without naming a server fails the run ("O balanceador
// retornou que nenhum servidor de aplicação está disponível."). The network work runs in the
// connection objects (transfer/ukwUpdConexaoKw4.h); this unit only decides.
#pragma once

#include <cstdint>
#include <string>

#include "launcher/ukwUpdEstradaRequisitos.h"

class TkwUpdConexaoKw4;
class IkwTelaStatus;

class TkwUpdEstradaServidor final : public TkwUpdEstradaRequisitos {
public:
    TkwUpdRequisitosObtidos ObtenhaRequisitos(TkwUpdLoader& loader) override {
        return PegueDadosRequisitosServidor(loader);
    }

    TkwUpdRequisitosObtidos PegueDadosRequisitosServidor(TkwUpdLoader& loader);

    // Where the connections report and whose messages they process while they wait: the
    // launcher's status window unless another is set here (tests).
    IkwTelaStatus* TelaStatus = nullptr;
    // The passes above over the connection given; true when the server was found (its
    // Requisitos and AtualizacaoVersionada are the result). Logs to the launcher's log.
    bool ConfigurarConexaoServidorKw4(TkwUpdLoader& loader, TkwUpdConexaoKw4* conexao);

    // True for HTTP. Probes (TCP connect, timeoutTesteRede ms) the server's socket address or
    // the first two balancer socket addresses (each field of listaIP, less an "IP:" prefix);
    // raises rtl::Exception when the settings give no way to reach a server at all.
    static bool DeveUsarHTTP(const std::string& enderecoIP, const std::string& enderecoURL,
                             const std::string& guidBalanceador, const std::string& listaIP,
                             const std::string& listaURL, bool podeBalancear, int32_t timeoutTesteRede);
    // Whether the server certificate file (ObtenhaArquivoCertificado) is present.
    static bool ExisteArquivoCertificado();
};
