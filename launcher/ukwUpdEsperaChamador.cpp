// launcher/ukwUpdEsperaChamador.cpp: the wait for the application, over the platform's
// process scan.
#include "launcher/ukwUpdEsperaChamador.h"

#include <utility>

#include "platform/Clock.h"
#include "platform/Process.h"
#include "platform/ui/UserInterface.h"
#include "rtl/Exception.h"

namespace {

// The file name without its folder (either separator).
std::string NomeSemPasta(const std::string& caminho) {
    const size_t barra = caminho.find_last_of("/\\");
    return barra == std::string::npos ? caminho : caminho.substr(barra + 1);
}

}  // namespace

TkwUpdEsperaChamador::TkwUpdEsperaChamador(std::string aplicacao) : Aplicacao(std::move(aplicacao)) {}

void TkwUpdEsperaChamador::Aguarde() {
    const std::string sufixo = Reticencias ? "..." : "";
    for (int32_t verificacao = 1; verificacao <= MaximoVerificacoes; ++verificacao) {
        if (!AplicacaoEmExecucao(Aplicacao)) return;
        if (OnAguardando) OnAguardando("Aguardando o encerramento da aplicação" + sufixo);
        plat::GetClock().Sleep(uint32_t(IntervaloMs > 0 ? IntervaloMs : 0));
        plat::ui::ProcessMessages();
    }
    // The pause after the last look is not followed by another look.
    throw rtl::Exception("A aplicação '" + NomeSemPasta(Aplicacao) + "'" +
                         " está em uso ou bloqueada por outra aplicação e não é possível " +
                         "realizar a atualização.");
}

bool TkwUpdEsperaChamador::AplicacaoEmExecucao(const std::string& caminho) {
    return plat::IsProcessRunning(caminho);
}

std::string TkwUpdEsperaChamador::ObtenhaCaminhoProcesso(int pid) {
    return plat::ProcessExecutablePath(pid);
}
