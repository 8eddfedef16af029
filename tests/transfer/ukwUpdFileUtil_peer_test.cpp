// The copy's text for a backup that cannot be deleted, with an immutable file (chattr +i) as
// the file the system refuses to delete even for root.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/LauncherTestHooks.h"
#include "common/ukwUpdConstante.h"
#include "common/ukwUpdUtil.h"
#include "support/TestSupport.h"
#include "transfer/ukwUpdFileUtil.h"

namespace {

namespace fs = std::filesystem;

// Makes a file immutable for the lifetime of the object (and mutable again, so the temporary
// folder can go).
class Imutavel {
public:
    explicit Imutavel(const fs::path& p) : p_(p) {
        ok_ = std::system(("chattr +i '" + p.string() + "' 2>/dev/null").c_str()) == 0;
    }
    ~Imutavel() {
        if (ok_) std::system(("chattr -i '" + p_.string() + "' 2>/dev/null").c_str());
    }
    bool ok() const { return ok_; }

private:
    fs::path p_;
    bool ok_ = false;
};

TEST(ukwUpdFileUtilPeer, AnOldBackupThatCannotBeDeleted) {
    kwtest::TempDir dir;
    kwtest::WriteFile(dir / "kwCFG.ini", "[KWUPDATE]\r\n");
    ResetLauncherBaseForTests((dir / "QOR.EXE").string());
    kwtest::WriteFile(dir / "site" / "a.exe", "novo");
    kwtest::WriteFile(dir / "app" / "a.exe", "velho");
    kwtest::WriteFile(dir / "app" / "_a.exe", "backup preso");
    {
        Imutavel preso(dir / "app" / "_a.exe");
        KW_REQUIRE_PEER(preso.ok(), "chattr +i (an immutable file on this file system)");
        bool d2 = false;
        bool d3 = false;
        EXPECT_FALSE(CopieArquivo((dir / "site" / "a.exe").string(), (dir / "app" / "a.exe").string(), "", "",
                                  true, nullptr, d2, d3, "", "", -999));
        EXPECT_EQ(UltimoErro, "Erro ao excluir o arquivo \"" + (dir / "app" / "_a.exe").string() +
                                  "\". Mensagem de erro: " + DescrevaErroSistema(EPERM));
        EXPECT_EQ(kwtest::ReadFile(dir / "app" / "a.exe"), "velho");
    }
    ResetLauncherBaseForTests("");
}

}  // namespace
