// common/ukwUpdVersao.cpp: the launcher's version number from the build's version.
#include "common/ukwUpdVersao.h"

#include <filesystem>
#include <mutex>

#include "kwBuildVersion.h"
#include "common/ukwUpdUtil.h"

namespace {

std::mutex gMutex;
std::string gCaminho;
std::optional<TkwVersaoArquivo> gSubstituta;

bool MesmoArquivo(const std::string& a, const std::string& b) {
    std::error_code ec;
    if (std::filesystem::equivalent(a, b, ec)) return true;
    const auto na = std::filesystem::weakly_canonical(a, ec);
    if (ec) return a == b;
    const auto nb = std::filesystem::weakly_canonical(b, ec);
    if (ec) return a == b;
    return na == nb;
}

}  // namespace

void SetLauncherExeName(const std::string& caminho) {
    std::lock_guard lock(gMutex);
    gCaminho = caminho;
}

int32_t NumeroDaVersao(const TkwVersaoArquivo& v) {
    return int32_t(v.Major) * 1000 + int32_t(v.Minor) * 100 + int32_t(v.Release) * 10 + int32_t(v.Build);
}

std::optional<TkwVersaoArquivo> LeiaVersaoArquivo(const std::string& caminho) {
    if (caminho.empty()) return std::nullopt;
    std::string local;
    try {
        local = CaminhoLocal(caminho);
    } catch (const rtl::Exception&) {
        return std::nullopt;  // a drive without a local folder holds no file of ours
    }
    if (!MesmoArquivo(local, ObtenhaCaminhoExecutavel())) return std::nullopt;
    std::lock_guard lock(gMutex);
    if (gSubstituta) return gSubstituta;
    return TkwVersaoArquivo{KW_BUILD_VERSION_MAJOR, KW_BUILD_VERSION_MINOR, KW_BUILD_VERSION_PATCH,
                            KW_BUILD_VERSION_TWEAK};
}

int32_t ObtenhaNumeroVersao() {
    std::string caminho;
    {
        std::lock_guard lock(gMutex);
        caminho = gCaminho;
    }
    const auto v = LeiaVersaoArquivo(caminho);
    return v ? NumeroDaVersao(*v) : 0;
}

void SetLauncherVersionOverride(std::optional<TkwVersaoArquivo> versao) {
    std::lock_guard lock(gMutex);
    gSubstituta = versao;
}
