// common/ukwUpdConstante.cpp: the launcher's process-wide error text, file lock and names.
#include "common/ukwUpdConstante.h"

#include <array>

std::string UltimoErro;
std::recursive_mutex SecaoCriticaArquivos;

namespace {

constexpr std::array<std::string_view, 11> kNomesTipoOperacao = {
    "Nenhuma",
    "Atualizar se versão diferente",
    "Executar",
    "Remover arquivo",
    "Remover diretório",
    "Atualizar se versão menor",
    "Shutdown",
    "Executar remotamente",
    "Registrar DLL (regsvr32)",
    "Copiar e descompactar (ZIP)",
    "Aplicar patch de atualização",
};

}  // namespace

std::string_view NomeTipoOperacao(int codigo) {
    if (codigo < 0 || codigo >= int(kNomesTipoOperacao.size())) return {};
    return kNomesTipoOperacao[size_t(codigo)];
}

std::string_view NomeBooleano(bool valor) {
    return valor ? "true" : "false";
}
