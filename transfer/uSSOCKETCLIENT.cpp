// transfer/uSSOCKETCLIENT.cpp: loading the cipher library and calling it.
#include "transfer/uSSOCKETCLIENT.h"

#include <filesystem>

#include "common/ukwUpdUtil.h"
#include "rtl/Exception.h"

namespace {

[[noreturn]] void BibliotecaAusente() {
    throw rtl::Exception("A dll SSOCKETCLIENT.DLL não foi localizada.");
}

}  // namespace

TSSOCKETCLIENT::TSSOCKETCLIENT(const std::string& pasta) {
    const std::filesystem::path arquivo = std::filesystem::path(pasta) / kArquivoSSOCKETCLIENT;
    std::error_code ec;
    // A full path, so the loader never looks anywhere but the launcher's folder.
    if (!std::filesystem::is_regular_file(arquivo, ec)) return;
    if (!biblioteca_.Load(std::filesystem::absolute(arquivo, ec).string())) return;
    biblioteca_.KeepLoaded();
    cypher_ = reinterpret_cast<TFuncaoCifra>(biblioteca_.Symbol("Cypher"));
    uncypher_ = reinterpret_cast<TFuncaoCifra>(biblioteca_.Symbol("UnCypher"));
}

int32_t TSSOCKETCLIENT::Cifrar(void* entrada, int32_t tamanhoEntrada, void* saida, int32_t* tamanhoSaida) const {
    if (cypher_ == nullptr) BibliotecaAusente();
    return cypher_(entrada, tamanhoEntrada, saida, tamanhoSaida);
}

int32_t TSSOCKETCLIENT::Decifrar(void* entrada, int32_t tamanhoEntrada, void* saida, int32_t* tamanhoSaida) const {
    if (uncypher_ == nullptr) BibliotecaAusente();
    return uncypher_(entrada, tamanhoEntrada, saida, tamanhoSaida);
}

const TSSOCKETCLIENT& SSOCKETCLIENT() {
    static const TSSOCKETCLIENT instancia(ObtenhaDiretorioExecutavel());
    return instancia;
}
