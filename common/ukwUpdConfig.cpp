// common/ukwUpdConfig.cpp: the launcher's folders and file names.
#include "common/ukwUpdConfig.h"

#include <memory>
#include <mutex>

#include "common/ukwFuncoesString.h"
#include "common/ukwUpdIni.h"
#include "common/ukwUpdUtil.h"
#include "platform/Files.h"

namespace {

std::mutex gMutex;
std::unique_ptr<TkwUpdConfig> gConfig;

}  // namespace

TkwUpdConfig::TkwUpdConfig() : diretorioTrabalho_(ObtenhaDiretorioExecutavel() + "log/") {}

std::string TkwUpdConfig::GetDiretorioTrabalho() const {
    // A folder that cannot be created shows up as a failure of the file written into it.
    plat::TryCreateFolders(CaminhoLocal(diretorioTrabalho_));
    return diretorioTrabalho_;
}

std::string TkwUpdConfig::GetArquivoINI() const {
    const std::string pasta = ObtenhaDiretorioExecutavel();
    if (ObtenhaNomeExecutavel().find("SERVIDORLOCALUPDATE") != std::string::npos)
        return pasta + "ServidorLocalUpdate.ini";
    const std::string arquivo = pasta + "kwCFG.ini";
    const std::string local = CaminhoLocal(arquivo);
    if (!plat::FileExists(local)) {
        // A configuration shipped as "_kwCFG.ini" takes its place; the outcome is not looked at.
        plat::TryRenameFile(CaminhoLocal(pasta + "_kwCFG.ini"), local, false);
    }
    return arquivo;
}

std::string TkwUpdConfig::GetArquivoAlteracoes() const {
    return GetDiretorioTrabalho() + "kwVerify.lcm";
}

std::string TkwUpdConfig::GetArquivoHistorico() const {
    return GetDiretorioTrabalho() + "kwExec.hst";
}

std::string TkwUpdConfig::GetArquivoRequisitos() const {
    return GetDiretorioTrabalho() + "kwExec.req";
}

std::string TkwUpdConfig::GetArquivoLog() const {
    return GetDiretorioTrabalho() + "kwVerify.log";
}

std::string TkwUpdConfig::GetNomeExecutor() const {
    return "kwExec.exe";
}

std::string TkwUpdConfig::GetCaminhoExecutor() const {
    return ObtenhaDiretorioExecutavel() + GetNomeExecutor();
}

TkwUpdConfig& kwUpdConfig() {
    std::lock_guard lock(gMutex);
    if (!gConfig) gConfig = std::make_unique<TkwUpdConfig>();
    return *gConfig;
}

void ResetConfigurationSingletons() {
    {
        std::lock_guard lock(gMutex);
        gConfig.reset();
    }
    ResetIniSingleton();
}
