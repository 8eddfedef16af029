// transfer/ukwBinaryPatch.cpp: the checks, the command line and the hidden run of the patch
// tool.
#include "transfer/ukwBinaryPatch.h"

#include <vector>

#include "common/ukwUpdUtil.h"
#include "platform/Files.h"
#include "platform/Process.h"
#include "rtl/Format.h"
#include "rtl/Text.h"
#include "transfer/ukwTelaStatus.h"

namespace {

const char* const kNaoEncontrado =
    "Não foi possível concluir a operação pois o arquivo \"%s\" não foi encontrado.";
const char* const kNaoInformado =
    "Não foi possível concluir a operação pois o arquivo \"%s\" não foi informado.";

// A file of either notation exists here (a drive without a local folder holds none).
bool ExisteArquivo(const std::string& caminho) {
    try {
        return plat::FileExists(CaminhoLocal(caminho));
    } catch (const rtl::Exception&) {
        return false;
    }
}

void ConfiraEntrada(const std::string& arquivo, const char* rotulo) {
    if (rtl::Trim(arquivo).empty()) throw EInOutError(rtl::Format(kNaoInformado, rotulo));
    if (!ExisteArquivo(arquivo)) throw EInOutError(rtl::Format(kNaoEncontrado, arquivo));
}

// One argument between double quotes, written so that the Windows splitting rules
// (plat::SplitWindowsCommandLine) give it back unchanged: backslashes before a quote are
// doubled and the quote escaped; backslashes before the closing quote are doubled; every
// other character stands as it is.
std::string EntreAspas(const std::string& argumento) {
    std::string r = "\"";
    size_t barras = 0;
    for (const char c : argumento) {
        if (c == '\\') {
            ++barras;
            continue;
        }
        if (c == '"') {
            r.append(barras * 2 + 1, '\\');
        } else {
            r.append(barras, '\\');
        }
        r += c;
        barras = 0;
    }
    r.append(barras * 2, '\\');
    r += '"';
    return r;
}

}  // namespace

std::string TkwBinaryPatch::MonteLinhaComando(const std::string& antigo, const std::string& novo,
                                              const std::string& patch) {
    return EntreAspas(kNomeFerramenta) + " " + EntreAspas(antigo) + " " + EntreAspas(novo) + " " +
           EntreAspas(patch);
}

void TkwBinaryPatch::AplicarPatch(const std::string& antigo, const std::string& novo,
                                  const std::string& patch) {
    const std::string ferramenta = ObtenhaDiretorioExecutavel() + kNomeFerramenta;
    if (!plat::FileExists(ferramenta)) throw EInOutError(rtl::Format(kNaoEncontrado, ferramenta));
    ConfiraEntrada(antigo, "Versão Origem");
    ConfiraEntrada(patch, "Patch");
    // The tool is a program of this machine: it gets local paths.
    const std::string novoLocal = CaminhoLocal(novo);
    const std::string linha = MonteLinhaComando(CaminhoLocal(antigo), novoLocal, CaminhoLocal(patch));
    std::string saida;
    const int32_t codigo = TkwBinaryPatch().Execute(linha, saida, false);
    // A tool that failed produced no usable file: the old copy must not be given up for it.
    if (codigo != 0)
        throw EInOutError(rtl::Format("Não foi possível aplicar o patch \"%s\": %s terminou com o código %d.",
                                      patch, std::string(kNomeFerramenta), codigo));
    if (!plat::FileExists(novoLocal))
        throw EInOutError(
            rtl::Format("Não foi possível aplicar o patch \"%s\": %s terminou com o código 0 sem produzir o "
                        "arquivo \"%s\".",
                        patch, std::string(kNomeFerramenta), novo));
}

int32_t TkwBinaryPatch::Execute(const std::string& linhaComando, std::string& saida, bool capturar) {
    std::vector<std::string> argumentos = plat::SplitWindowsCommandLine(linhaComando);
    if (argumentos.empty()) return -1;
    // A bare name is a program of the launcher's folder, never one found through a search
    // path (a folder earlier in PATH must not be able to stand in for the tool).
    const std::string nome = argumentos.front();
    std::string programa;
    try {
        programa = nome.find_first_of("/\\") == std::string::npos ? ObtenhaDiretorioExecutavel() + nome
                                                                  : CaminhoLocal(nome);
    } catch (const rtl::Exception&) {
        return -1;
    }
    argumentos.erase(argumentos.begin());
    plat::ProcessOptions opcoes;
    opcoes.wait = true;
    opcoes.argv0 = nome;
    opcoes.output = capturar ? plat::ProcessOutput::Capture : plat::ProcessOutput::Null;
    // The wait keeps the program's window painted.
    opcoes.whileWaiting = ProcesseMensagensPrograma;
    plat::ProcessResult r;
    try {
        r = plat::StartProcess(programa, argumentos, opcoes);
    } catch (const plat::EProcessPipeError&) {
        return -2;
    } catch (const plat::EProcessError&) {
        return -1;
    }
    if (capturar) saida += r.output;
    return r.exitCode;
}
