// The [RPC] section and the diagnostics around its write: attribute log, before/after copies
// kept when they differ and removed when equal.
#include <gtest/gtest.h>

#include "LauncherBaseTestSupport.h"
#include "common/ukwUpdConfig.h"
#include "common/ukwUpdIni.h"
#include "rtl/DateTime.h"
#include "rtl/IniFile.h"

namespace {

class RPC : public ::testing::Test {
protected:
    kwtest::LauncherFolder dir;
    TkwUpdLog log;
    void SetUp() override { kwUpdIni().SetLog(&log); }
    std::string Cfg() const { return dir.Folder() + "kwCFG.ini"; }
    std::string LogFolder() const { return dir.Folder() + "log/"; }
    // The sequence of the local road.
    void EscrevaComCopias(bool a, bool b) {
        TkwUpdIni& ini = kwUpdIni();
        ini.LogarAtributosArquivoINI();
        ini.CriarCopiaArquivoINI("kwCFG-antes-RPC.ini");
        ini.EscreverConfiguracoesRPC(a, b);
        ini.CriarCopiaArquivoINI("kwCFG-depois-RPC.ini");
        ini.CompararCopiasArquivoINI("kwCFG-antes-RPC.ini", "kwCFG-depois-RPC.ini");
    }
};

TEST_F(RPC, ExistingKeysAreRewrittenInPlaceAndEverythingElseStays) {
    const std::string antes =
        "; configuração da estação\r\n[KWUPDATE]\r\nCdSistema=1\r\n\r\n[RPC]\r\nControlarReconexao=0\r\n"
        "ConsultarDispIDLocal=1\r\n[Outra]\r\nx = y\r\n";
    kwtest::WriteFile(dir / "kwCFG.ini", antes);
    kwUpdIni().EscreverConfiguracoesRPC(true, false);
    EXPECT_EQ(
        kwtest::ReadFile(dir / "kwCFG.ini"),
        "; configuração da estação\r\n[KWUPDATE]\r\nCdSistema=1\r\n\r\n[RPC]\r\nControlarReconexao=1\r\n"
        "ConsultarDispIDLocal=0\r\n[Outra]\r\nx = y\r\n");
    EXPECT_EQ(kwtest::Texts(log),
              (std::vector<std::string>{" - Escrevendo configurações de RPC no kwCFG.ini",
                                        " - Concluída configurações de RPC no kwCFG.ini"}));
}

TEST_F(RPC, ANewSectionIsAddedAfterTheUntouchedContent) {
    const std::string antes = "[KWUPDATE]\nCdSistema=1\n";
    kwtest::WriteFile(dir / "kwCFG.ini", antes);
    kwUpdIni().EscreverConfiguracoesRPC(false, true);
    const std::string depois = kwtest::ReadFile(dir / "kwCFG.ini");
    EXPECT_EQ(depois.substr(0, antes.size()), antes);
    rtl::IniFile lido(Cfg());
    EXPECT_EQ(lido.ReadString("RPC", "ControlarReconexao", "?"), "0");
    EXPECT_EQ(lido.ReadString("RPC", "ConsultarDispIDLocal", "?"), "1");
    EXPECT_EQ(lido.ReadString("KWUPDATE", "CdSistema", "?"), "1");
}

TEST_F(RPC, AWriteThatChangesNothingLeavesNoCopy) {
    kwtest::WriteFile(dir / "kwCFG.ini", "[RPC]\nControlarReconexao=1\nConsultarDispIDLocal=1\n");
    kwUpdConfig().GetDiretorioTrabalho();
    EscrevaComCopias(true, true);
    EXPECT_FALSE(std::filesystem::exists(dir / "log" / "kwCFG-antes-RPC.ini"));
    EXPECT_FALSE(std::filesystem::exists(dir / "log" / "kwCFG-depois-RPC.ini"));
    const auto t = kwtest::Texts(log);
    ASSERT_GE(t.size(), 6u);
    EXPECT_EQ(t[0], " - Propriedades do arquivo " + Cfg());
    const std::vector<std::string> fim(t.end() - 6, t.end());
    const std::vector<std::string> want = {
        " - Escrevendo configurações de RPC no kwCFG.ini",
        " - Concluída configurações de RPC no kwCFG.ini",
        " - Criando a cópia " + LogFolder() + "kwCFG-depois-RPC.ini do arquivo " + Cfg(),
        " - Verificando os arquivos de backup...",
        " - Os arquivos de backup são iguais e serão removidos.",
    };
    EXPECT_EQ(std::vector<std::string>(fim.begin() + 1, fim.end()), want);
    EXPECT_EQ(fim[0], " - Criando a cópia " + LogFolder() + "kwCFG-antes-RPC.ini do arquivo " + Cfg());
}

TEST_F(RPC, AWriteThatAddsTheSectionKeepsBothCopies) {
    const std::string antes = "[KWUPDATE]\nCdSistema=1\n";
    kwtest::WriteFile(dir / "kwCFG.ini", antes);
    kwUpdConfig().GetDiretorioTrabalho();
    EscrevaComCopias(true, false);
    EXPECT_EQ(kwtest::ReadFile(dir / "log" / "kwCFG-antes-RPC.ini"), antes);
    EXPECT_EQ(kwtest::ReadFile(dir / "log" / "kwCFG-depois-RPC.ini"), kwtest::ReadFile(dir / "kwCFG.ini"));
    EXPECT_EQ(kwtest::Texts(log).back(), " - Os arquivos de backup são diferentes.");
}

TEST_F(RPC, CopiesThatDifferOnlyInLetterCaseAreDifferent) {
    kwUpdConfig().GetDiretorioTrabalho();
    kwtest::WriteFile(dir / "log" / "a.ini", "[RPC]\nx=1\n");
    kwtest::WriteFile(dir / "log" / "b.ini", "[rpc]\nx=1\n");
    kwUpdIni().CompararCopiasArquivoINI("a.ini", "b.ini");
    EXPECT_EQ(kwtest::Texts(log).back(), " - Os arquivos de backup são diferentes.");
    EXPECT_TRUE(std::filesystem::exists(dir / "log" / "a.ini"));
    EXPECT_TRUE(std::filesystem::exists(dir / "log" / "b.ini"));
    // Line ends do not count: the files are compared line by line.
    kwtest::WriteFile(dir / "log" / "c.ini", "[RPC]\r\nx=1\r\n");
    kwUpdIni().CompararCopiasArquivoINI("a.ini", "c.ini");
    EXPECT_FALSE(std::filesystem::exists(dir / "log" / "a.ini"));
    EXPECT_FALSE(std::filesystem::exists(dir / "log" / "c.ini"));
}

TEST_F(RPC, AMissingConfigurationIsReportedAtEachStep) {
    kwUpdConfig().GetDiretorioTrabalho();
    TkwUpdIni& ini = kwUpdIni();
    ini.LogarAtributosArquivoINI();
    ini.CriarCopiaArquivoINI("kwCFG-antes-RPC.ini");
    ini.CompararCopiasArquivoINI("kwCFG-antes-RPC.ini", "kwCFG-depois-RPC.ini");
    const std::vector<std::string> want = {
        " - O arquivo " + Cfg() + " NÃO existe.",
        " - Criando a cópia " + LogFolder() + "kwCFG-antes-RPC.ini do arquivo " + Cfg(),
        " - Verificando os arquivos de backup...",
        " - O arquivo de backup " + LogFolder() + "kwCFG-antes-RPC.ini não existe.",
    };
    EXPECT_EQ(kwtest::Texts(log), want);
}

TEST_F(RPC, TheSecondMissingCopyIsNamed) {
    kwUpdConfig().GetDiretorioTrabalho();
    kwtest::WriteFile(dir / "log" / "a.ini", "x");
    kwUpdIni().CompararCopiasArquivoINI("a.ini", "b.ini");
    EXPECT_EQ(kwtest::Texts(log).back(), " - O arquivo de backup " + LogFolder() + "b.ini não existe.");
    EXPECT_TRUE(std::filesystem::exists(dir / "log" / "a.ini"));
}

TEST_F(RPC, AttributeLog) {
    kwtest::WriteFile(dir / ".oculto.ini", "x");
    plat::SetReadOnly((dir / ".oculto.ini").string(), true);
    const std::string path = dir.Folder() + ".oculto.ini";
    kwUpdIni().LogarAtributosArquivo(path);
    const std::string age = rtl::DateTimeToStr(rtl::DateTimeFromTimePoint(plat::FileLastWriteTime(path)));
    const std::vector<std::string> want = {
        " - Propriedades do arquivo " + path,
        " - FileAge: " + age,
        " - ReadOnly: Sim",
        " - Archive: Não",
        " - System: Não",
        " - Hidden: Sim",
    };
    EXPECT_EQ(kwtest::Texts(log), want);
}

TEST_F(RPC, AttributeLogOfAMissingFileLogsTheFailure) {
    const std::string path = dir.Folder() + "nada.ini";
    kwUpdIni().LogarAtributosArquivo(path);
    const auto t = kwtest::Texts(log);
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[0], " - Propriedades do arquivo " + path);
    EXPECT_EQ(t[1].rfind(" - TkwUpdIni.LogarAtributosArquivo: ", 0), 0u) << t[1];
}

// A failed write raises the INI error, its text in the launcher's language with the file and
// the system's reason (before: "Unable to write to <file>", English and without a cause).
TEST_F(RPC, AFailedWriteRaisesTheIniErrorWithItsCause) {
    // A folder where the configuration file should be cannot be written as a file.
    std::filesystem::create_directory(dir / "kwCFG.ini");
    try {
        kwUpdIni().EscreverConfiguracoesRPC(true, true);
        ADD_FAILURE() << "no failure";
    } catch (const rtl::EIniFileException& e) {
        EXPECT_EQ(e.Message(), "Erro ao gravar o arquivo \"" + dir.Folder() +
                                   "kwCFG.ini\". Mensagem de erro: Is a directory (21)");
    }
    EXPECT_EQ(kwtest::Texts(log),
              std::vector<std::string>{" - Escrevendo configurações de RPC no kwCFG.ini"});
}

TEST_F(RPC, ValuesAlreadyReadAreNotAffected) {
    dir.WriteOld("kwCFG.ini", "[KWUPDATE]\nCdSistema=1\n");
    EXPECT_EQ(kwUpdIni().CdSistema(), "1");
    kwUpdIni().EscreverConfiguracoesRPC(true, true);
    kwtest::WriteFile(dir / "kwCFG.ini", "[KWUPDATE]\nCdSistema=2\n");
    EXPECT_EQ(kwUpdIni().CdSistema(), "1");
}

}  // namespace
