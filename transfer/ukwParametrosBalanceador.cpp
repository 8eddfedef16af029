// transfer/ukwParametrosBalanceador.cpp: the load balancer's request text.
#include "transfer/ukwParametrosBalanceador.h"

#include <string_view>

std::string MonteParametrosBalanceador(const std::string& servidoresJaTentados,
                                       const std::string& tipoConexao, const std::string& versaoSistema,
                                       const std::string& cdSistema) {
    std::string texto;
    const auto linha = [&](std::string_view nome, const std::string& valor) {
        if (valor.empty()) return;
        texto.append(nome).append("=").append(valor).append("\r\n");
    };
    linha("psLstServidoresJaTentados", servidoresJaTentados);
    linha("psTipoConexao", tipoConexao);
    linha("psVersaoSistema", versaoSistema);
    linha("psCdSistema", cdSistema);
    return texto;
}
