// launcher/base/LauncherTestHooks.cpp: resetting the base's process-wide state for tests.
#include "launcher/base/LauncherTestHooks.h"

#include "launcher/base/ukwTransfereVersaoComum.h"
#include "launcher/base/ukwUpdConfig.h"
#include "launcher/base/ukwUpdConstante.h"
#include "launcher/base/ukwUpdTranslator.h"
#include "launcher/base/ukwUpdUtil.h"
#include "launcher/base/ukwUpdVersao.h"

void ResetLauncherBaseForTests(const std::string& executavel) {
    SetExecutablePathOverride(executavel);
    ResetConfigurationSingletons();
    RecarregueIdioma();
    ReinicieContadorLogDepuracao();
    UltimoErro.clear();
    SetLauncherExeName("");
    SetLauncherVersionOverride(std::nullopt);
}
