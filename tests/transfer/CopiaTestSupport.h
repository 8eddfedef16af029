// tests/transfer/CopiaTestSupport.h: what the tests of the protocol copies (FTP, HTTP) share:
// a launcher folder whose kwCFG.ini sets the attempts, the executor's destination in app/
// holding "velho", the copy run with a backup as the executor's self-update runs it, and the
// check that nothing but the destination is left beside it.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "common/LauncherTestHooks.h"
#include "common/ukwUpdLog.h"
#include "support/TestSupport.h"
#include "transfer/ukwUpdFileUtil.h"

namespace kwtest {

class CopiaDeSite : public ::testing::Test {
protected:
    void SetUp() override {
        Configure(1, 1);
        std::filesystem::create_directories(dir / "app");
        WriteFile(Destino(), "velho");
    }
    void TearDown() override { ResetLauncherBaseForTests(""); }

    // The attempts of a download and the seconds between them, and further lines of the
    // [KWUPDATE] section.
    void Configure(int tentativas, int espera, const std::string& extra = {}) {
        WriteFile(dir / "kwCFG.ini", "[KWUPDATE]\r\nMaximoTentativasDownload=" + std::to_string(tentativas) +
                                         "\r\nTempoEsperaSegundosNovaTentativaDownload=" +
                                         std::to_string(espera) + "\r\n" + extra);
        ResetLauncherBaseForTests((dir / "kwLoader").string());
    }
    std::filesystem::path Destino() const { return dir / "app" / "kwExec.exe"; }
    // The copy with a backup, its log in `log`.
    bool Copie(const std::string& origem, const std::string& destino, const std::string& usuario,
               const std::string& senha) {
        log = std::make_unique<TkwUpdLog>();
        bool d2 = true;
        bool d3 = true;
        return CopieArquivo(origem, destino, usuario, senha, true, log.get(), d2, d3, "", "", -999);
    }
    // Only the destination (or nothing) is left in its folder: no backup, no temporary file.
    void SoODestino(const std::string& caso) const {
        for (const auto& e : std::filesystem::directory_iterator(dir / "app"))
            EXPECT_EQ(e.path().filename(), "kwExec.exe") << caso << ": " << e.path();
    }

    TempDir dir;
    std::unique_ptr<TkwUpdLog> log;
};

}  // namespace kwtest
