// launcher/ukwUpdEstradaRequisitos.cpp: the roads this build carries.
//
// A road not yet part of the build is a road that fails: a run configured for it stops in the
// run's error path with a message naming what is missing, never with an empty success.
#include "launcher/ukwUpdEstradaRequisitos.h"

#include <utility>

#include "common/ukwUpdLog.h"
#include "launcher/ukwUpdLoader.h"
#include "launcher/ukwUpdRequisitosBanco.h"

namespace {

class TkwUpdEstradaAusente final : public TkwUpdEstradaRequisitos {
public:
    explicit TkwUpdEstradaAusente(std::string mensagem) : mensagem_(std::move(mensagem)) {}
    TkwUpdRequisitosObtidos ObtenhaRequisitos(TkwUpdLoader& loader) override {
        throw TkwUpdException(mensagem_, *loader.Log);
    }

private:
    std::string mensagem_;
};

}  // namespace

std::unique_ptr<TkwUpdEstradaRequisitos> CrieEstradaServidor() {
    return std::make_unique<TkwUpdEstradaAusente>(
        "Esta versão do kwLoader não busca os requisitos no servidor de aplicação (TipoServidor REMOTO).");
}

std::unique_ptr<TkwUpdEstradaRequisitos> CrieEstradaBanco() {
    return std::make_unique<TkwUpdEstradaBanco>();
}
