// Windows paths from requisites mapped to local ones.
#include "platform/WinPath.h"

#include <cstdlib>
#include <optional>

#include <gtest/gtest.h>

#include "platform/Files.h"
#include "platform/Process.h"
#include "support/TestSupport.h"

namespace {

using kwtest::ScopedEnv;

TEST(WinPath, MappingTable) {
    kwtest::TempDir dir;
    const std::string c = (dir / "c").string(), d = (dir / "d").string(), unc = (dir / "unc").string();
    const std::string launcher = (dir / "kw").string() + "/";
    plat::CreateFolders(c + "/Sistema");
    kwtest::WriteFile(c + "/Sistema/QORAPP.exe", "");
    plat::CreateFolders(launcher + "windows/System32");
    kwtest::WriteFile(launcher + "windows/System32/Comctl32.DLL", "");
    plat::CreateFolders(unc + "/srv/share/Pasta");

    ScopedEnv envC("KW_DRIVE_C", c);
    ScopedEnv envD("KW_DRIVE_D", d + "/");  // a trailing slash in the setting is fine
    ScopedEnv envE("KW_DRIVE_E", std::nullopt);
    ScopedEnv envWin("KW_WINDIR", std::nullopt);
    ScopedEnv envUnc("KW_UNC_ROOT", unc);

    struct Case {
        std::string in, out;
    };
    const Case cases[] = {
        // Drives, either letter case, either separator.
        {"C:\\Sistema\\QORAPP.exe", c + "/Sistema/QORAPP.exe"},
        {"c:\\Sistema\\QORAPP.exe", c + "/Sistema/QORAPP.exe"},
        {"C:/Sistema/QORAPP.exe", c + "/Sistema/QORAPP.exe"},
        {"D:\\Dados\\x.txt", d + "/Dados/x.txt"},
        {"C:\\", c + "/"},
        {"C:", c},
        {"C:\\Dados\\", c + "/Dados/"},
        {"C:\\\\Dados\\\\\\x", c + "/Dados/x"},
        // Found without regard to case when the exact name is absent.
        {"C:\\SISTEMA\\qorapp.EXE", c + "/Sistema/QORAPP.exe"},
        {"C:\\sistema\\novo.dll", c + "/Sistema/novo.dll"},
        // ".." never climbs above the drive's root.
        {"C:\\..\\..\\etc\\passwd", c + "/etc/passwd"},
        {"C:\\Sistema\\..\\Sistema\\.\\QORAPP.exe", c + "/Sistema/QORAPP.exe"},
        {"C:..\\x", c + "/x"},
        // The Windows folder, by default beside the launcher.
        {"$\\System32\\Comctl32.DLL", launcher + "windows/System32/Comctl32.DLL"},
        {"$\\system32\\comctl32.dll", launcher + "windows/System32/Comctl32.DLL"},
        {"$\\", launcher + "windows/"},
        // Network paths under KW_UNC_ROOT; ".." stays inside the share.
        {"\\\\srv\\share\\Pasta\\a.exe", unc + "/srv/share/Pasta/a.exe"},
        {"\\\\SRV\\SHARE\\pasta\\", unc + "/srv/share/Pasta/"},
        {"\\\\srv\\share\\..\\..\\x", unc + "/srv/share/x"},
        // Relative and local paths keep their form.
        {"bin\\a.dll", "bin/a.dll"},
        {"log\\kwVerify.log", "log/kwVerify.log"},
        {"..\\x", "../x"},
        {"/opt/kw/a.exe", "/opt/kw/a.exe"},
        {"/opt/kw/bin\\a.exe", "/opt/kw/bin/a.exe"},
        // Runs of separators of either kind collapse into one.
        {"bin\\\\a.dll", "bin/a.dll"},
        {"/opt//kw\\/\\a.exe", "/opt/kw/a.exe"},
        {"\\", "/"},
        {"$\\\\x\\\\", launcher + "windows/x/"},
        {launcher + "windows\\system32\\COMCTL32.dll", launcher + "windows/System32/Comctl32.DLL"},
        {"", ""},
        {"$CMD", "$CMD"},
    };
    for (const auto& cs : cases)
        EXPECT_EQ(plat::MapWindowsPath(cs.in, launcher), cs.out) << cs.in;
}

TEST(WinPath, UnmappedDriveAndNetworkNameTheVariable) {
    ScopedEnv e("KW_DRIVE_E", std::nullopt);
    ScopedEnv q("KW_DRIVE_Q", "");
    ScopedEnv u("KW_UNC_ROOT", std::nullopt);
    struct Case {
        std::string in, variable;
    };
    const Case cases[] = {
        {"E:\\Dados\\x.txt", "KW_DRIVE_E"},
        {"e:\\Dados\\x.txt", "KW_DRIVE_E"},
        {"Q:", "KW_DRIVE_Q"},  // set but empty counts as unmapped
        {"\\\\server\\share\\a.exe", "KW_UNC_ROOT"},
    };
    for (const auto& c : cases) {
        try {
            plat::MapWindowsPath(c.in, "/opt/kw/");
            ADD_FAILURE() << "no error for " << c.in;
        } catch (const plat::EPathMappingError& err) {
            EXPECT_NE(err.Message().find(c.variable), std::string::npos) << err.Message();
            EXPECT_NE(err.Message().find(c.in), std::string::npos) << err.Message();
            EXPECT_STREQ(err.ClassName(), "EPathMappingError");
        }
    }
}

TEST(WinPath, WindowsFolder) {
    {
        ScopedEnv w("KW_WINDIR", "/srv/win");
        EXPECT_EQ(plat::WindowsFolder("/opt/kw/"), "/srv/win/");
        EXPECT_EQ(plat::MapWindowsPath("$\\a\\b.ini", "/opt/kw/"), "/srv/win/a/b.ini");
    }
    ScopedEnv w("KW_WINDIR", std::nullopt);
    EXPECT_EQ(plat::WindowsFolder("/opt/kw"), "/opt/kw/windows/");
    EXPECT_EQ(plat::WindowsFolder("/opt/kw/"), "/opt/kw/windows/");
    // Without a launcher folder, this program's own folder.
    EXPECT_EQ(plat::WindowsFolder(), plat::CurrentExecutableFolder() + "windows/");
    EXPECT_EQ(plat::MapWindowsPath("$\\x.ini"), plat::CurrentExecutableFolder() + "windows/x.ini");
}

}  // namespace
