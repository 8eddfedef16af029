// The launcher's folders and file names, and the choice of its configuration file.
#include "common/ukwUpdConfig.h"

#include <gtest/gtest.h>

#include "LauncherBaseTestSupport.h"
#include "common/ukwUpdIni.h"
#include "common/ukwUpdTranslator.h"

namespace {

TEST(TkwUpdConfig, NamesLieBesideTheLauncherAndTheLogFolderIsCreated) {
    kwtest::LauncherFolder dir;
    const std::string pasta = dir.Folder();
    TkwUpdConfig& c = kwUpdConfig();
    EXPECT_FALSE(std::filesystem::exists(dir / "log"));
    EXPECT_EQ(c.GetDiretorioTrabalho(), pasta + "log/");
    EXPECT_TRUE(std::filesystem::is_directory(dir / "log"));
    std::filesystem::remove(dir / "log");
    // Every name of the log folder creates the folder again.
    EXPECT_EQ(c.GetArquivoLog(), pasta + "log/kwVerify.log");
    EXPECT_TRUE(std::filesystem::is_directory(dir / "log"));
    EXPECT_EQ(c.GetArquivoAlteracoes(), pasta + "log/kwVerify.lcm");
    EXPECT_EQ(c.GetArquivoHistorico(), pasta + "log/kwExec.hst");
    EXPECT_EQ(c.GetArquivoRequisitos(), pasta + "log/kwExec.req");
    EXPECT_EQ(c.GetNomeExecutor(), "kwExec.exe");
    EXPECT_EQ(c.GetCaminhoExecutor(), pasta + "kwExec.exe");
    EXPECT_EQ(c.GetArquivoINI(), pasta + "kwCFG.ini");
}

TEST(TkwUpdConfig, AShippedUnderscoreFileTakesTheConfigurationsPlace) {
    kwtest::LauncherFolder dir;
    kwtest::WriteFile(dir / "_kwCFG.ini", "[KWUPDATE]\nCdSistema=7\n");
    // The reader binds the file when it is created, so the rename happens then.
    EXPECT_EQ(kwUpdIni().CdSistema(), "7");
    EXPECT_TRUE(std::filesystem::exists(dir / "kwCFG.ini"));
    EXPECT_FALSE(std::filesystem::exists(dir / "_kwCFG.ini"));
}

TEST(TkwUpdConfig, AnExistingConfigurationIsNeverReplacedByTheUnderscoreFile) {
    kwtest::LauncherFolder dir;
    kwtest::WriteFile(dir / "kwCFG.ini", "[KWUPDATE]\nCdSistema=1\n");
    kwtest::WriteFile(dir / "_kwCFG.ini", "[KWUPDATE]\nCdSistema=2\n");
    kwUpdConfig().GetArquivoINI();
    EXPECT_EQ(kwtest::ReadFile(dir / "kwCFG.ini"), "[KWUPDATE]\nCdSistema=1\n");
    EXPECT_TRUE(std::filesystem::exists(dir / "_kwCFG.ini"));
}

TEST(TkwUpdConfig, TheLocalUpdateServerReadsItsOwnFileButTakesItsLanguageFromKwCfg) {
    kwtest::LauncherFolder dir("kwServidorLocalUpdate.exe");
    kwtest::WriteFile(dir / "kwCFG.ini", "[Geral]\nLingua=10\n[KWUPDATE]\nCdSistema=1\n");
    kwtest::WriteFile(dir / "ServidorLocalUpdate.ini", "[KWUPDATE]\nCdSistema=2\n");
    kwtest::WriteFile(dir / "_kwCFG.ini", "x");
    EXPECT_EQ(kwUpdConfig().GetArquivoINI(), dir.Folder() + "ServidorLocalUpdate.ini");
    TkwUpdLog log;
    kwUpdIni().SetLog(&log);
    EXPECT_EQ(kwUpdIni().CdSistema(), "2");
    EXPECT_EQ(kwtest::Texts(log), std::vector<std::string>{
                                      " - ServidorLocalUpdate.ini -> CdSistema (KWUPDATE,CdSistema): \"2\""});
    EXPECT_EQ(IdiomaAtual(), TkwIdioma::Espanhol);
    // No other file is looked at: the underscore file stays.
    EXPECT_TRUE(std::filesystem::exists(dir / "_kwCFG.ini"));
}

TEST(TkwUpdConfig, AConfigurationNamedInAnotherCaseIsFound) {
    kwtest::LauncherFolder dir;
    kwtest::WriteFile(dir / "KWCFG.INI", "[kwupdate]\ncdsistema=9\n");
    EXPECT_EQ(kwUpdIni().CdSistema(), "9");
}

}  // namespace
