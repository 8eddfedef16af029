// The launcher's text and path routines as tables, its own names and folders, file sizes and
// versions, the shell start over a real program, and the name tables.
#include "common/ukwUpdUtil.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

#include "LauncherBaseTestSupport.h"
#include "common/ukwFuncoesFile.h"
#include "common/ukwFuncoesString.h"
#include "common/ukwUpdConstante.h"
#include "common/ukwUpdTranslator.h"
#include "kwBuildVersion.h"
#include "platform/Process.h"
#include "platform/WinError.h"
#include "platform/WinPath.h"
#include "rtl/Text.h"

namespace {

using kwtest::ScopedEnv;

TEST(Fields, ObtenhaCampoAndConteCampos) {
    struct C {
        std::string texto, sep;
        int n;
        std::string campo;
    };
    const C cases[] = {
        {"a;b;c", ";", 1, "a"},    {"a;b;c", ";", 2, "b"},    {"a;b;c", ";", 3, "c"}, {"a;b;c", ";", 4, ""},
        {"a;b;c", ";", 0, ""},     {"a;b;c", ";", -1, ""},    {"", ";", 1, ""},       {"abc", ";", 1, "abc"},
        {"a;;c", ";", 2, ""},      {"a;;c", ";", 3, "c"},     {"a;b;", ";", 3, ""},   {"a;b", "", 1, ""},
        {"x<>y<>z", "<>", 2, "y"}, {"x<>y<>z", "<>", 3, "z"}, {";a", ";", 1, ""},     {";a", ";", 2, "a"},
    };
    for (const C& c : cases)
        EXPECT_EQ(ObtenhaCampo(c.texto, c.sep, c.n), c.campo) << c.texto << " " << c.sep << " " << c.n;

    struct K {
        std::string texto, sep;
        int n;
    };
    const K counts[] = {{"a;b", ";", 2}, {"", ";", 1},         {"a;b", "", 0},
                        {";;", ";", 3},  {"a<>b<>c", "<>", 3}, {"abc", ";", 1}};
    for (const K& k : counts)
        EXPECT_EQ(ConteCampos(k.texto, k.sep), k.n) << k.texto;
}

TEST(Text, RemovaCaractereAndUpperCase) {
    EXPECT_EQ(RemovaCaractere("a;b;;c;", ';'), "abc");
    EXPECT_EQ(RemovaCaractere("", ';'), "");
    EXPECT_EQ(RemovaCaractere("ação", 'a'), "ção");
    EXPECT_EQ(ConvertaParaMaiusculas("c:\\sistema\\ação.exe"), "C:\\SISTEMA\\AÇÃO.EXE");
}

TEST(Paths, NormalizeDiretorio) {
    struct C {
        std::string in, out;
    };
    const C cases[] = {
        {"", ""},
        {"   ", ""},
        {"pasta", "pasta\\"},
        {"pasta\\", "pasta\\"},
        {" pasta\\\\sub ", "pasta\\sub\\"},
        {"a\\\\\\b\\\\", "a\\b\\"},
        {"C:\\Dados", "C:\\Dados\\"},
        {"$\\system32", "$\\system32\\"},
        // A network path keeps its "\\"; a path from the root drops its "\":
        // "\x" is relative to the launcher's folder.
        {"\\\\servidor\\pasta", "\\\\servidor\\pasta\\"},
        {"\\\\\\servidor\\\\pasta\\", "\\\\servidor\\pasta\\"},
        {" \\pasta\\\\sub ", "pasta\\sub\\"},
        {"\\tmp\\x\\", "tmp\\x\\"},
        {"\\", ""},
        {"a/b", "a/b\\"},
    };
    for (const C& c : cases)
        EXPECT_EQ(NormalizeDiretorio(c.in), c.out) << "[" << c.in << "]";
}

TEST(Paths, JunteTextosEntreAspas) {
    struct C {
        std::string a, b, out;
    };
    const C cases[] = {
        {"C:\\App\\", "\"x.exe\"", "\"C:\\App\\x.exe\""},
        {"C:\\App\\", "x.exe", "C:\\App\\x.exe"},
        {"\"C:\\App\\\"", "\"x.exe\"", "\"C:\\App\\x.exe\""},
        {"\"C:\\App\\", "x.exe", "\"C:\\App\\x.exe"},
        {"", "", ""},
        {"\"", "\"", ""},
        {"a", "b \"c\"", "\"ab \"c\""},
    };
    for (const C& c : cases)
        EXPECT_EQ(JunteTextosEntreAspas(c.a, c.b), c.out) << c.a << " + " << c.b;
}

TEST(Paths, ExpandaCaminhoAndMonteLinhaComando) {
    kwtest::LauncherFolder dir;
    ScopedEnv windir("KW_WINDIR", "/opt/windows");
    const std::string exe = dir.Folder();
    struct C {
        std::string in, out;
    };
    const C cases[] = {
        {"$\\system32", "/opt/windows/system32\\"},
        {"$\\", "/opt/windows/"},
        {"C:\\Dados", "C:\\Dados\\"},
        {"c:\\\\dados\\\\sub", "c:\\dados\\sub\\"},
        {"$CMD", "cmd /c \\"},
        {"$CMDdir", "cmd /c dir\\"},
        {"bin", exe + "bin\\"},
        {" bin\\\\x ", exe + "bin\\x\\"},
        {"", exe},
        {"\\\\servidor\\pasta", "\\\\servidor\\pasta\\"},
        {"\\pasta", exe + "pasta\\"},
        {"\\tmp\\x\\", exe + "tmp\\x\\"},
        {"/srv/app", exe + "/srv/app\\"},
    };
    for (const C& c : cases)
        EXPECT_EQ(ExpandaCaminho(c.in), c.out) << "[" << c.in << "]";

    EXPECT_EQ(MonteLinhaComando("bin", "a.dll"), exe + "bin\\a.dll");
    EXPECT_EQ(MonteLinhaComando("C:\\App", "\"x.exe\""), "\"C:\\App\\x.exe\"");
    EXPECT_EQ(MonteLinhaComando("$\\system32", "b.dll"), "/opt/windows/system32\\b.dll");
}

// Destinations that would land outside the launcher's folder (or the Windows folder for
// "$\") are told apart by their text; drive and network paths are clamped when mapped.
TEST(Paths, DestinoForaDaEstacao) {
    struct C {
        std::string pasta, objeto;
        bool fora;
    };
    const C cases[] = {
        {"", "kwExec.exe", false},
        {"bin", "a.dll", false},
        {"bin\\..", "a.dll", false},
        {"bin\\..\\..", "a.dll", true},
        {"..\\..\\escape\\", "kwExec.exe", true},
        {"..", "a.dll", true},
        {"a/../../b", "x", true},
        {"a\\.\\b\\..\\..", "x", false},
        {"\\tmp\\x\\", "a.dll", false},  // relative to the launcher's folder now
        {"$\\system32", "a.dll", false},
        {"$\\..\\..", "a.dll", true},
        {"C:\\..\\..\\x", "a.dll", false},  // clamped to the mapped drive
        {"\\\\srv\\share\\..\\..", "a.dll", false},
        {"bin", "..\\..\\a.dll", true},
        {"bin", "..\\a.dll", false},
        {"", "..", true},
        {"", "\"..\\x.exe\"", true},
        {"bin", "a..b.dll", false},
    };
    for (const C& c : cases)
        EXPECT_EQ(DestinoForaDaEstacao(c.pasta, c.objeto), c.fora)
            << "[" << c.pasta << "] [" << c.objeto << "]";
}

TEST(Paths, TheWindowsFolderDefaultsToTheLaunchersOwn) {
    kwtest::LauncherFolder dir;
    const ScopedEnv semWindir("KW_WINDIR", std::nullopt);
    EXPECT_EQ(ObtenhaDiretorioWindows(), dir.Folder() + "windows/");
    EXPECT_EQ(ExpandaCaminho("$\\system32"), dir.Folder() + "windows/system32\\");
    EXPECT_FALSE(EhWindows9x());
}

TEST(Paths, MonteCaminhoOrigem) {
    struct C {
        std::string endereco, pasta, arquivo, out;
    };
    const C cases[] = {
        {"ftp:servidor/pasta", "sub/", "a.exe", "ftp:servidor\\pasta\\sub\\a.exe"},
        {"FTPPASSIVO:h\\p\\", "s\\", "a.exe", "FTPPASSIVO:h\\p\\s\\a.exe"},
        {"HTTP:servidor\\pasta", "sub\\", "a.exe", "HTTP:servidor/pasta/sub/a.exe"},
        {"https://h/p/", "s/", "a.exe", "https://h/p/s/a.exe"},
        {"\\\\srv\\share\\", "sub/", "a.exe", "\\\\srv\\share\\sub/a.exe"},
        {"C:\\Updates", "sub\\", "a.exe", "C:\\Updatessub\\a.exe"},
        {"DDS:http://h:8080/x", "", "a.exe", "DDS:http://h:8080/xa.exe"},
        {"", "sub\\", "a.exe", "sub\\a.exe"},
        {"ft", "p/", "a", "ftp/a"},
    };
    for (const C& c : cases)
        EXPECT_EQ(MonteCaminhoOrigem(c.endereco, c.pasta, c.arquivo), c.out) << c.endereco;
}

TEST(Paths, CaminhoLocalMapsBothNotations) {
    kwtest::LauncherFolder dir;
    ScopedEnv drive("KW_DRIVE_Q", dir.Folder() + "q");
    std::filesystem::create_directories(dir / "q" / "Dados");
    EXPECT_EQ(CaminhoLocal(dir.Folder() + "log\\kwVerify.log"), dir.Folder() + "log/kwVerify.log");
    EXPECT_EQ(CaminhoLocal("q:\\dados\\a.txt"), dir.Folder() + "q/Dados/a.txt");
    const ScopedEnv semDrive("KW_DRIVE_Z", std::nullopt);
    EXPECT_THROW(CaminhoLocal("Z:\\x"), plat::EPathMappingError);
}

TEST(Executable, NamesAndFolderOfTheLauncher) {
    struct C {
        std::string exe, nome, base;
    };
    const C cases[] = {
        {"Qor.exe", "QOR.EXE", "QOR"},
        {"kw.loader.exe", "KW.LOADER.EXE", "KW"},
        {"semponto", "SEMPONTO", "SEMPONTO"},
        {"ação.exe", "AÇÃO.EXE", "AÇÃO"},
    };
    for (const C& c : cases) {
        kwtest::LauncherFolder dir(c.exe);
        EXPECT_EQ(ObtenhaCaminhoExecutavel(), dir.Folder() + c.exe);
        EXPECT_EQ(ObtenhaNomeExecutavel(), c.nome);
        EXPECT_EQ(ObtenhaNomeBaseExecutavel(), c.base);
        EXPECT_EQ(ObtenhaDiretorioExecutavel(), dir.Folder());
    }
    // Without an override the real program answers.
    ResetLauncherBaseForTests("");
    EXPECT_EQ(ObtenhaCaminhoExecutavel(), plat::CurrentExecutablePath());
    EXPECT_EQ(ObtenhaDiretorioExecutavel(), plat::CurrentExecutableFolder());
}

TEST(Errors, DescrevaErroSistema) {
    EXPECT_EQ(DescrevaErroSistema(ENOENT),
              plat::SystemErrorText(ENOENT) + " (" + std::to_string(ENOENT) + ")");
    EXPECT_EQ(DescrevaErroSistema(550), plat::SystemErrorText(550) + " (550)");
}

TEST(Files, ObtenhaTamanhoArquivo) {
    kwtest::LauncherFolder dir;
    kwtest::WriteFile(dir / "a.bin", std::string(1234, 'x'));
    kwtest::WriteFile(dir / "vazio", "");
    std::filesystem::create_directory(dir / "pasta");
    ScopedEnv drive("KW_DRIVE_Q", dir.Folder());
    const ScopedEnv semDrive("KW_DRIVE_Z", std::nullopt);
    EXPECT_EQ(ObtenhaTamanhoArquivo(dir.Folder() + "a.bin"), 1234);
    EXPECT_EQ(ObtenhaTamanhoArquivo("Q:\\A.BIN"), 1234);
    EXPECT_EQ(ObtenhaTamanhoArquivo(dir.Folder() + "vazio"), 0);
    EXPECT_EQ(ObtenhaTamanhoArquivo(dir.Folder() + "nada"), -1);
    EXPECT_EQ(ObtenhaTamanhoArquivo(dir.Folder() + "pasta"), -1);
    EXPECT_EQ(ObtenhaTamanhoArquivo("Z:\\a.bin"), -1);
}

TEST(Files, OnlyTheLaunchersOwnExecutableHasAVersion) {
    kwtest::LauncherFolder dir;
    kwtest::WriteFile(dir / "QOR.exe", "x");
    kwtest::WriteFile(dir / "outro.exe", "x");
    const std::string build =
        std::to_string(KW_BUILD_VERSION_MAJOR) + "." + std::to_string(KW_BUILD_VERSION_MINOR) + "." +
        std::to_string(KW_BUILD_VERSION_PATCH) + "." + std::to_string(KW_BUILD_VERSION_TWEAK);
    EXPECT_EQ(ObtenhaVersaoArquivo(dir.Exe()), build);
    EXPECT_EQ(ObtenhaVersaoArquivo(dir.Folder() + "qor.EXE"), build);
    EXPECT_EQ(ObtenhaVersaoArquivo(dir.Folder() + "outro.exe"), "");
    EXPECT_EQ(ObtenhaVersaoArquivo(""), "");
}

TEST(Names, OperationsAndBooleans) {
    EXPECT_EQ(NomeTipoOperacao(0), "Nenhuma");
    EXPECT_EQ(NomeTipoOperacao(1), "Atualizar se versão diferente");
    EXPECT_EQ(NomeTipoOperacao(5), "Atualizar se versão menor");
    EXPECT_EQ(NomeTipoOperacao(8), "Registrar DLL (regsvr32)");
    EXPECT_EQ(NomeTipoOperacao(10), "Aplicar patch de atualização");
    EXPECT_EQ(NomeTipoOperacao(11), "");
    EXPECT_EQ(NomeTipoOperacao(-1), "");
    EXPECT_EQ(NomeBooleano(false), "false");
    EXPECT_EQ(NomeBooleano(true), "true");
}

// The arguments kwbase_argv_record recorded, once its file appears (it is written whole).
std::vector<std::string> RecordedArgs(const std::filesystem::path& exe) {
    const auto file = exe.string() + ".args";
    for (int i = 0; i < 1000 && !std::filesystem::exists(file); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const std::string data = kwtest::ReadFile(file);
    std::vector<std::string> r;
    size_t i = 0;
    while (i < data.size()) {
        const size_t colon = data.find(':', i);
        const size_t len = std::stoul(data.substr(i, colon - i));
        r.push_back(data.substr(colon + 1, len));
        i = colon + 1 + len + 1;
    }
    return r;
}

TEST(Shell, StartsTheProgramWithItsParameters) {
    kwtest::LauncherFolder dir;
    std::filesystem::copy_file(kwtest::ProgPath("kwbase_argv_record"), dir / "QORAPP.exe");
    UltimoErro = "anterior";
    // The parameters as the launcher builds them: one text with quoted arguments.
    ASSERT_TRUE(ExecuteComShell(dir.Folder() + "QORAPP.exe", "\"kwUpdate\" \"x y\" \"\" z"));
    EXPECT_EQ(RecordedArgs(dir / "QORAPP.exe"), (std::vector<std::string>{"kwUpdate", "x y", "", "z"}));
    EXPECT_EQ(UltimoErro, "anterior");
}

TEST(Shell, AnArgumentVectorIsPassedUnchanged) {
    kwtest::LauncherFolder dir;
    std::filesystem::create_directory(dir / "bin");
    std::filesystem::copy_file(kwtest::ProgPath("kwbase_argv_record"), dir / "bin" / "kwExec.exe");
    const std::vector<std::string> args = {"C:\\Sys\\QORAPP.exe", "-v", "a \"b\" c", "\\\\srv\\x\\"};
    // The program named in Windows notation relative to the launcher's folder.
    ASSERT_TRUE(ExecuteComShell(ExpandaCaminho("bin") + "kwExec.exe", args));
    EXPECT_EQ(RecordedArgs(dir / "bin" / "kwExec.exe"), args);
}

TEST(Shell, AFailedStartSetsTheLastErrorText) {
    kwtest::LauncherFolder dir;
    const std::string missing = dir.Folder() + "nada.exe";
    EXPECT_FALSE(ExecuteComShell(missing, "\"kwUpdate\""));
    EXPECT_EQ(UltimoErro, Traduza(30, missing, DescrevaErroSistema(ENOENT)));
    EXPECT_EQ(UltimoErro, "Erro ao executar o arquivo \"" + missing +
                              "\". Causa: " + plat::SystemErrorText(ENOENT) + " (2)");

    const ScopedEnv semDrive("KW_DRIVE_Z", std::nullopt);
    EXPECT_FALSE(ExecuteComShell("Z:\\app.exe", std::vector<std::string>{}));
    EXPECT_EQ(UltimoErro.rfind("Erro ao executar o arquivo \"Z:\\app.exe\". Causa: ", 0), 0u) << UltimoErro;
    EXPECT_NE(UltimoErro.find("KW_DRIVE_Z"), std::string::npos) << UltimoErro;
}

}  // namespace
