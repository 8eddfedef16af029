// transfer/ukwParametrosBalanceador.h: the request a load balancer takes in
// "GetServidorParametros": one "name=value" line per parameter, each ended by CR LF, in the
// order psLstServidoresJaTentados, psTipoConexao, psVersaoSistema, psCdSistema; a parameter
// whose value is empty gives no line.
#pragma once

#include <string>

std::string MonteParametrosBalanceador(const std::string& servidoresJaTentados,
                                       const std::string& tipoConexao, const std::string& versaoSistema,
                                       const std::string& cdSistema);
