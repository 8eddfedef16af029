// kwrun_loader: the kwLoader program with a requisites road the tests control: when
// KW_TEST_REQUISITOS names a file, both roads return that file's text as the requisites, and
// the versioned-update flag is KW_TEST_VERSIONADA=1. Without it, the program is kwLoader as
// built.
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>

#include "launcher/kwLoader.h"
#include "launcher/ukwUpdLoader.h"
#include "rtl/Stream.h"

namespace {

class EstradaDeArquivo final : public TkwUpdEstradaRequisitos {
public:
    explicit EstradaDeArquivo(std::string arquivo) : arquivo_(std::move(arquivo)) {}
    TkwUpdRequisitosObtidos ObtenhaRequisitos(TkwUpdLoader& loader) override {
        rtl::MemoryStream dados;
        dados.LoadFromFile(arquivo_);
        TkwUpdRequisitosObtidos r;
        r.Requisitos.assign(reinterpret_cast<const char*>(dados.Memory()), size_t(dados.Size()));
        const char* versionada = std::getenv("KW_TEST_VERSIONADA");
        r.AtualizacaoVersionada = versionada != nullptr && std::string(versionada) == "1";
        loader.Log->AdicioneDetalhe("Requisitos de teste lidos de " + arquivo_);
        return r;
    }

private:
    std::string arquivo_;
};

}  // namespace

int main(int argc, char** argv) {
    return ExecuteProgramaKwLoader(argc, argv, [](TkwUpdLoader& loader) {
        const char* arquivo = std::getenv("KW_TEST_REQUISITOS");
        if (arquivo == nullptr) return;
        loader.DefinaEstradaServidor(std::make_unique<EstradaDeArquivo>(arquivo));
        loader.DefinaEstradaBanco(std::make_unique<EstradaDeArquivo>(arquivo));
    });
}
