// common/LauncherTestHooks.cpp: resetting the base's process-wide state for tests.
#include "common/LauncherTestHooks.h"

#include "common/ukwTransfereVersaoComum.h"
#include "common/ukwUpdConfig.h"
#include "common/ukwUpdConstante.h"
#include "common/ukwUpdTranslator.h"
#include "common/ukwUpdUtil.h"
#include "common/ukwUpdVersao.h"

void ResetLauncherBaseForTests(const std::string& executavel) {
    SetExecutablePathOverride(executavel);
    ResetConfigurationSingletons();
    RecarregueIdioma();
    ReinicieContadorLogDepuracao();
    UltimoErro.clear();
    SetLauncherExeName("");
    SetLauncherVersionOverride(std::nullopt);
}
