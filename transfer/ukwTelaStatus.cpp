// transfer/ukwTelaStatus.cpp: the program's window, as the file transfers' waits reach it.
#include "transfer/ukwTelaStatus.h"

#include <atomic>

namespace {

std::atomic<IkwTelaStatus*> telaPrograma{nullptr};

}  // namespace

void DefinaTelaStatusPrograma(IkwTelaStatus* tela) {
    telaPrograma.store(tela);
}

IkwTelaStatus* TelaStatusPrograma() {
    return telaPrograma.load();
}

void ProcesseMensagensPrograma() {
    if (IkwTelaStatus* tela = telaPrograma.load()) tela->ProcesseMensagens();
}
