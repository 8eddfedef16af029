// The download-server transfer and the "DDS:" branch of CopieArquivo against the scripted
// server (tests/peers/ddsserver.py): which address authenticates, the names asked for (whole,
// patch, patch turned whole, an element without "_"), the patch applied by a stand-in tool
// that records its argument vector and exits as told, failed, cut and timed-out downloads
// that put the old file back, the error texts, exceptions that also put it back, and https
// end to end with the server's certificate checked against the trust store.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "PatchToolSupport.h"
#include "common/LauncherTestHooks.h"
#include "common/ukwUpdConstante.h"
#include "common/ukwUpdLog.h"
#include "platform/Clock.h"
#include "support/DdsServerPeer.h"
#include "support/TestSupport.h"
#include "tests/net/TlsPeers.h"
#include "transfer/ukwUpdFileUtil.h"
#include "transfer/ukwUpdFileUtilDDS.h"

namespace {

namespace fs = std::filesystem;
using kwtest::DdsServerPeer;
using kwtest::Json;

class CopiaDDS : public ::testing::Test {
protected:
    void SetUp() override {
        ResetLauncherBaseForTests((dir / "kwLoader").string());
        fs::create_directories(dir / "app");
        kwtest::WriteFile(Destino(), "velho");
    }
    void TearDown() override {
        TempoLimiteTransferencia = 60000;
        ResetLauncherBaseForTests("");
    }

    fs::path Destino() const { return dir / "app" / "kwExec.exe"; }
    static std::string Endereco(const DdsServerPeer& s, const std::string& elemento) {
        return "DDS:" + s.BaseURL() + "/dist/" + elemento;
    }
    // Runs the copy with a backup, as the executor's self-update runs it (but with a control
    // number of the test's choice).
    bool Copie(const std::string& origem, const std::string& site2 = "", const std::string& site3 = "",
               int32_t controle = -999) {
        disponivel2 = true;
        disponivel3 = true;
        return CopieArquivo(origem, Destino().string(), "ana", "senha", true, log.get(), disponivel2,
                            disponivel3, site2, site3, controle);
    }
    std::vector<std::string> Textos() const {
        std::vector<std::string> r;
        for (const std::string& l : log->Linhas())
            r.push_back(l.substr(l.find(" : ") + 3));
        return r;
    }
    bool TemLinha(const std::string& linha) const {
        for (const std::string& l : Textos())
            if (l == linha) return true;
        return false;
    }
    // Only the destination is left in its folder: no backup, patch or temporary file.
    void SoODestino() const {
        for (const auto& e : fs::directory_iterator(dir / "app"))
            EXPECT_EQ(e.path().filename(), "kwExec.exe") << e.path();
    }
    static std::vector<std::string> NomesPedidos(const DdsServerPeer& s) {
        std::vector<std::string> r;
        for (const Json& q : s.Requests("/file/downloadFile"))
            r.push_back(q["query"]["fileName"][0].str());
        return r;
    }

    kwtest::TempDir dir;
    plat::ManualClock relogio;
    plat::ScopedClock usaRelogio{relogio};
    std::unique_ptr<TkwUpdLog> log = std::make_unique<TkwUpdLog>();
    bool disponivel2 = true;
    bool disponivel3 = true;
};

// A server whose file "nome" is ready at once with that content.
std::string Pronto(const std::string& token, const std::string& nome, const std::string& conteudo,
                   const std::string& senha = "senha") {
    return R"({"oauth": {"access_token": ")" + token + R"(", "password": ")" + senha + R"("},
        "files": {")" +
           nome + R"(": [{"isFile": true, "url": "{SELF}/files/)" + nome + R"(", "status": null}]},
        "content": {"/files/)" +
           nome + R"(": {"data": ")" + conteudo + R"("}}})";
}

TEST_F(CopiaDDS, TheFirstHostThatAcceptsNamesTheFile) {
    DdsServerPeer a(Pronto("tokA", "KWEXEC.EXE_1.0", "de A", "outra"));
    DdsServerPeer b(Pronto("tokB", "KWEXEC.EXE_2.0", "de B"));
    DdsServerPeer c(Pronto("tokC", "KWEXEC.EXE_3.0", "de C"));
    KW_REQUIRE_PEER(a.Available() && b.Available() && c.Available(), a.Reason() + b.Reason() + c.Reason());
    ASSERT_TRUE(
        Copie(Endereco(a, "kwExec.exe_1.0"), Endereco(b, "kwExec.exe_2.0"), Endereco(c, "kwExec.exe_3.0")))
        << UltimoErro;
    EXPECT_EQ(kwtest::ReadFile(Destino()), "de B");
    SoODestino();
    EXPECT_TRUE(disponivel2);
    for (const char* linha : {" -  - bArqTemporarioExiste: SIM", " - DebugDDSFileName: kwExec.exe",
                              " - DebugDDSNewVersion: 2.0", " - DebugDDSFileNameToAsk: KWEXEC.EXE_2.0",
                              " - Iniciando Download (Tamanho 4 Bytes)", " - Download Finalizado"})
        EXPECT_TRUE(TemLinha(linha)) << linha;
    // The connection's own lines reach the log as details.
    EXPECT_TRUE(TemLinha(" - Conectando: " + b.BaseURL()));
    EXPECT_EQ(a.Requests("/oauth/token").size(), 1u);
    EXPECT_EQ(a.Requests("/file/downloadFile").size(), 0u);
    EXPECT_EQ(NomesPedidos(b), (std::vector<std::string>{"KWEXEC.EXE_2.0"}));
    EXPECT_EQ(c.Requests().size(), 0u);

    // The second address empty, the third set: two hosts, the second being the third address.
    kwtest::WriteFile(Destino(), "velho");
    log = std::make_unique<TkwUpdLog>();
    ASSERT_TRUE(Copie(Endereco(a, "kwExec.exe_1.0"), "", Endereco(c, "kwExec.exe_3.0"))) << UltimoErro;
    EXPECT_EQ(kwtest::ReadFile(Destino()), "de C");
    EXPECT_TRUE(TemLinha(" - DebugDDSNewVersion: 3.0"));
}

TEST_F(CopiaDDS, WithoutAControlNumberTheWholeFileIsAskedAndNoPatchApplied) {
    DdsServerPeer s(Pronto("tok", "KWEXEC.EXE_4.0.8.7", "inteiro"));
    KW_REQUIRE_PEER(s.Available(), s.Reason());
    // No patch tool in the launcher's folder: asking for it would fail the copy.
    ASSERT_TRUE(Copie(Endereco(s, "kwExec.exe_4.0.8.7"))) << UltimoErro;
    EXPECT_EQ(kwtest::ReadFile(Destino()), "inteiro");
    EXPECT_EQ(NomesPedidos(s), (std::vector<std::string>{"KWEXEC.EXE_4.0.8.7"}));
    EXPECT_FALSE(TemLinha(" - Aplicando Patch"));
    SoODestino();
}

TEST_F(CopiaDDS, APatchTheServerCannotMakeBecomesTheWholeFile) {
    DdsServerPeer s(R"({"oauth": {"access_token": "tok"}, "params": {"timeout": 10, "pollingTime": 5},
        "files": {"PATCH_KWEXEC.EXE_4087_4.0.8.7": [{"isFile": false, "url": null, "status": null,
                                                    "patchStatus": "PATCH_SOURCE_DOES_NOT_EXISTS"}],
                  "KWEXEC.EXE_4.0.8.7": [{"isFile": false, "url": null, "status": null, "patchStatus": null},
                                         {"isFile": true, "url": "{SELF}/files/k", "status": null}]},
        "content": {"/files/k": {"data": "inteiro"}}})");
    KW_REQUIRE_PEER(s.Available(), s.Reason());
    ASSERT_TRUE(Copie(Endereco(s, "kwExec.exe_4.0.8.7"), "", "", 4087)) << UltimoErro;
    EXPECT_EQ(kwtest::ReadFile(Destino()), "inteiro");
    EXPECT_EQ(NomesPedidos(s), (std::vector<std::string>{"PATCH_KWEXEC.EXE_4087_4.0.8.7",
                                                         "KWEXEC.EXE_4.0.8.7", "KWEXEC.EXE_4.0.8.7"}));
    EXPECT_TRUE(TemLinha(" - DebugDDSFileNameToAsk: PATCH_KWEXEC.EXE_4087_4.0.8.7"));
    EXPECT_FALSE(TemLinha(" - Aplicando Patch"));
    EXPECT_EQ(relogio.Elapsed(), 5000u);
    SoODestino();
}

TEST_F(CopiaDDS, AnElementWithoutUnderscoreAsksForUnderscoreAndTheElement) {
    DdsServerPeer s(Pronto("tok", "_kwExec.exe", "sem versão"));
    KW_REQUIRE_PEER(s.Available(), s.Reason());
    ASSERT_TRUE(Copie(Endereco(s, "kwExec.exe"))) << UltimoErro;
    EXPECT_EQ(NomesPedidos(s), (std::vector<std::string>{"_kwExec.exe"}));
    EXPECT_TRUE(TemLinha(" - DebugDDSFileName: "));
    EXPECT_TRUE(TemLinha(" - DebugDDSNewVersion: kwExec.exe"));
}

TEST_F(CopiaDDS, APatchIsAppliedByTheToolAndAFailingToolPutsTheOldFileBack) {
    DdsServerPeer s(Pronto("tok", "PATCH_KWEXEC.EXE_4087_4.0.8.7", "delta"));
    KW_REQUIRE_PEER(s.Available(), s.Reason());
    const fs::path ferramenta = dir / "kwAplicaPatch.exe";
    kwtest::InstalePatchTeste(ferramenta);

    ASSERT_TRUE(Copie(Endereco(s, "kwExec.exe_4.0.8.7"), "", "", 4087)) << UltimoErro;
    // The tool made the new file from the old one (the backup) and the patch.
    EXPECT_EQ(kwtest::ReadFile(Destino()), "velho+delta");
    EXPECT_EQ(kwtest::ArgumentosGravados(ferramenta),
              (std::vector<std::string>{"kwAplicaPatch.exe", (dir / "app" / "_kwExec.exe").string(),
                                        Destino().string(), (dir / "app" / "PATCH_kwExec.exe").string()}));
    const std::vector<std::string> textos = Textos();
    const auto i = std::find(textos.begin(), textos.end(), " -  - Aplicando Patch");
    ASSERT_NE(i, textos.end());
    EXPECT_EQ(
        std::vector<std::string>(i, std::min(i + 5, textos.end())),
        (std::vector<std::string>{" -  - Aplicando Patch",
                                  " -  - sFilenameOriginal: " + (dir / "app" / "_kwExec.exe").string(),
                                  " -  - sFilenamePatch: " + (dir / "app" / "PATCH_kwExec.exe").string(),
                                  " -  - Patch Aplicado com Sucesso", " -  - Apagando arquivo de Patch"}));
    SoODestino();

    // The tool ends with code 3: the copy fails with the unexpected-error text, and the old
    // file is back under its own name.
    kwtest::WriteFile(Destino(), "velho");
    kwtest::ScopedEnv codigo("KW_PATCH_SAIDA", "3");
    EXPECT_FALSE(Copie(Endereco(s, "kwExec.exe_4.0.8.7"), "", "", 4087));
    EXPECT_EQ(UltimoErro, "Erro inesperado: Não foi possível aplicar o patch \"" +
                              (dir / "app" / "PATCH_kwExec.exe").string() +
                              "\": kwAplicaPatch.exe terminou com o código 3.");
    EXPECT_EQ(kwtest::ReadFile(Destino()), "velho");
    SoODestino();
}

TEST_F(CopiaDDS, FailedDownloadsPutTheOldFileBackAndGiveTheSecondSiteUp) {
    DdsServerPeer s(R"({"oauth": {"access_token": "tok"}, "files": {
          "CUT_1": [{"isFile": true, "url": "{SELF}/files/cut", "status": null}],
          "ERR_1": [{"isFile": true, "url": "{SELF}/files/err", "status": null}],
          "SIL_1": [{"isFile": true, "url": "{SELF}/files/sil", "status": null}]},
        "content": {"/files/cut": {"data": "0123456789", "mode": "cut"},
                    "/files/err": {"data": "x", "mode": "error"},
                    "/files/sil": {"data": "x", "mode": "silent"}}})");
    KW_REQUIRE_PEER(s.Available(), s.Reason());
    // The silent server never answers: its read times out. The token and the question come
    // within it even on a loaded machine.
    TempoLimiteTransferencia = 2000;
    for (const char* elemento : {"cut_1", "err_1", "sil_1"}) {
        kwtest::WriteFile(Destino(), "velho");
        EXPECT_FALSE(Copie(Endereco(s, elemento), "DDS:http://127.0.0.1:1/x_1")) << elemento;
        EXPECT_EQ(UltimoErro, "") << elemento;
        EXPECT_EQ(kwtest::ReadFile(Destino()), "velho") << elemento;
        EXPECT_FALSE(disponivel2) << elemento;
        EXPECT_TRUE(disponivel3) << elemento;
        SoODestino();
    }
}

TEST_F(CopiaDDS, WhatTheServerRefusesIsLoggedAndTheOldFileStays) {
    DdsServerPeer s(R"({"oauth": {"access_token": "tok", "password": "senha"}, "files": {
          "T_1": [{"isFile": false, "url": null, "status": null, "patchStatus": "PATCH_TARGET_DOES_NOT_EXISTS"}],
          "N_1": [{"isFile": false, "url": null, "status": null, "patchStatus": null}],
          "U_1": [{"isFile": true, "url": "http://127.0.0.1:1/files/u", "status": null}],
          "J_1": [{"body": "<html>erro</html>"}]}})");
    KW_REQUIRE_PEER(s.Available(), s.Reason());
    struct Caso {
        std::string origem;
        std::string senha;
        std::string erro;  // the error detail
        std::string ultimoErro;
        bool disponivel2;
    };
    const Caso casos[] = {
        {Endereco(s, "t_1"), "senha",
         " - Erro: O status do arquivo no DDServer é inválido. Status: PATCH_TARGET_DOES_NOT_EXISTS", "",
         false},
        {Endereco(s, "n_1"), "senha", " - Erro: O arquivo não foi localizado no DDServer", "", false},
        {Endereco(s, "n_1"), "errada", " - Erro: Não foi possível autenticar-se no DDServer: ", "", false},
        // An exception inside the copy: its text, and the old file back all the same.
        {Endereco(s, "u_1"), "senha", "", "Erro inesperado: Host não registrado: http://127.0.0.1:1", true},
        {Endereco(s, "j_1"), "senha", "",
         "Erro inesperado: A TJSONObject must begin with \"{\" at character 2 of <html>erro</html>"
         " próximo a : html>erro<\n\r erro no caracter : 2",
         true},
    };
    for (const Caso& c : casos) {
        log = std::make_unique<TkwUpdLog>();
        kwtest::WriteFile(Destino(), "velho");
        disponivel2 = true;
        disponivel3 = true;
        EXPECT_FALSE(CopieArquivo(c.origem, Destino().string(), "ana", c.senha, true, log.get(), disponivel2,
                                  disponivel3, "", "", -999))
            << c.origem;
        if (!c.erro.empty()) {
            EXPECT_TRUE(TemLinha(c.erro)) << c.erro;
        }
        EXPECT_EQ(UltimoErro, c.ultimoErro) << c.origem;
        EXPECT_EQ(disponivel2, c.disponivel2) << c.origem;
        EXPECT_EQ(kwtest::ReadFile(Destino()), "velho") << c.origem;
        SoODestino();
    }
}

TEST_F(CopiaDDS, HttpsEndToEndWithTheServersCertificateChecked) {
    kwtest::TestCertificates certs;
    KW_REQUIRE_PEER(certs.Available(), "openssl (certificates)");
    kwtest::ScopedEnv confianca("SSL_CERT_FILE", certs.Path("ca.pem"));
    DdsServerPeer s(Pronto("tok", "KWEXEC.EXE_5", "por https"), certs.Path("server.pem"),
                    certs.Path("server.key"));
    KW_REQUIRE_PEER(s.Available(), s.Reason());
    ASSERT_TRUE(Copie(Endereco(s, "kwExec.exe_5"))) << UltimoErro;
    EXPECT_EQ(kwtest::ReadFile(Destino()), "por https");
    // The password grant went to the https server (it speaks nothing else).
    const auto token = s.Requests("/oauth/token");
    ASSERT_EQ(token.size(), 1u);
    EXPECT_EQ(token[0]["form"]["password"].str(), "senha");
    EXPECT_EQ(s.Requests("/files/KWEXEC.EXE_5").size(), 1u);

    // A certificate the trust store does not know, or one for another name: nothing is sent.
    for (const char* nome : {"self", "other"}) {
        DdsServerPeer falso(Pronto("tok", "KWEXEC.EXE_5", "falso"), certs.Path(std::string(nome) + ".pem"),
                            certs.Path(std::string(nome) + ".key"));
        KW_REQUIRE_PEER(falso.Available(), falso.Reason());
        log = std::make_unique<TkwUpdLog>();
        kwtest::WriteFile(Destino(), "velho");
        EXPECT_FALSE(Copie(Endereco(falso, "kwExec.exe_5"))) << nome;
        EXPECT_EQ(kwtest::ReadFile(Destino()), "velho") << nome;
        EXPECT_TRUE(TemLinha(" - Erro: Não foi possível autenticar-se no DDServer: ")) << nome;
        EXPECT_EQ(falso.Requests().size(), 0u) << nome;
    }
}

}  // namespace
