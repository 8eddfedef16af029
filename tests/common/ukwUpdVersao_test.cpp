// The launcher version number: the formula, the thresholds tests need to reach, the build's
// version for the launcher's own executable, and 0 where there is no version.
#include "common/ukwUpdVersao.h"

#include <gtest/gtest.h>

#include "LauncherBaseTestSupport.h"
#include "kwBuildVersion.h"

namespace {

TEST(Versao, NumberOfAVersion) {
    struct C {
        TkwVersaoArquivo v;
        int32_t n;
    };
    const C cases[] = {
        {{4, 0, 8, 7}, 4087},
        {{4, 0, 12, 0}, 4120},
        {{3, 3, 0, 0}, 3300},
        {{4, 0, 2, 9}, 4029},
        {{4, 0, 3, 0}, 4030},
        {{0, 0, 0, 0}, 0},
        {{65535, 65535, 65535, 65535}, 65535 * 1111},
    };
    for (const C& c : cases)
        EXPECT_EQ(NumeroDaVersao(c.v), c.n);
}

TEST(Versao, ZeroBeforeTheLauncherNamesItself) {
    kwtest::LauncherFolder dir;
    EXPECT_EQ(ObtenhaNumeroVersao(), 0);
    SetLauncherExeName("");
    EXPECT_EQ(ObtenhaNumeroVersao(), 0);
}

TEST(Versao, TheLauncherHasTheBuildsVersion) {
    kwtest::LauncherFolder dir;
    SetLauncherExeName(dir.Exe());
    EXPECT_EQ(ObtenhaNumeroVersao(), KW_BUILD_VERSION_MAJOR * 1000 + KW_BUILD_VERSION_MINOR * 100 +
                                         KW_BUILD_VERSION_PATCH * 10 + KW_BUILD_VERSION_TWEAK);
}

TEST(Versao, AnotherFileHasNone) {
    kwtest::LauncherFolder dir;
    kwtest::WriteFile(dir / "outro.exe", "x");
    SetLauncherExeName(dir.Folder() + "outro.exe");
    EXPECT_EQ(ObtenhaNumeroVersao(), 0);
    EXPECT_FALSE(LeiaVersaoArquivo(dir.Folder() + "outro.exe").has_value());
}

TEST(Versao, TestsChooseTheVersionAndItIsReadAtEveryCall) {
    kwtest::LauncherFolder dir;
    SetLauncherExeName(dir.Exe());
    for (const auto& [v, n] :
         {std::pair{TkwVersaoArquivo{3, 2, 9, 9}, 3299}, std::pair{TkwVersaoArquivo{3, 3, 0, 0}, 3300},
          std::pair{TkwVersaoArquivo{4, 0, 2, 9}, 4029}, std::pair{TkwVersaoArquivo{4, 0, 3, 0}, 4030},
          std::pair{TkwVersaoArquivo{0, 0, 0, 0}, 0}}) {
        SetLauncherVersionOverride(v);
        EXPECT_EQ(ObtenhaNumeroVersao(), n);
    }
    SetLauncherVersionOverride(std::nullopt);
    EXPECT_EQ(ObtenhaNumeroVersao(), NumeroDaVersao({KW_BUILD_VERSION_MAJOR, KW_BUILD_VERSION_MINOR,
                                                     KW_BUILD_VERSION_PATCH, KW_BUILD_VERSION_TWEAK}));
}

}  // namespace
