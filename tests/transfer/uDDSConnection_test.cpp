// Tests of the download-server client's and transfer's pure logic: host parts, whole-file
// names, names and versions from addresses, the base address an address registers, the form
// lines, statuses, the host list and its index errors, and the handler's log lines.
#include "transfer/uDDSConnection.h"

#include <gtest/gtest.h>

#include "common/ukwUpdLog.h"
#include "support/TestSupport.h"
#include "transfer/ukwUpdFileUtilDDS.h"

namespace {

using kwtest::ThrownMessage;

std::vector<std::string> Textos(const TkwUpdLog& log) {
    std::vector<std::string> r;
    for (const std::string& l : log.Linhas())
        r.push_back(l.substr(l.find(" : ") + 3));
    return r;
}

TEST(uDDSConnection, HostPart) {
    struct Caso {
        const char* endereco;
        const char* esquema;
        const char* parte;
    };
    const Caso casos[] = {
        {"http://srv:8080/dist/kwExec.exe_4087", "", "http://srv:8080"},
        {"http://srv:8080/dist/kwExec.exe_4087", "http://", "http://srv:8080"},
        {"https://srv/a", "", "https://srv"},
        {"https://srv/a", "http://", "http://srv"},
        {"DDS:https://srv:1/x", "", "DDS:https://srv:1"},
        {"", "http://", ""},
        // No "/" after the host: the scheme part alone.
        {"http://srv:8080", "", "http://"},
        {"http://srv:8080", "https://", "https://"},
        // No "://": everything up to the first "/" is the host.
        {"srv/a/b", "", "srv"},
        {"srv/a/b", "http://", "http://srv"},
    };
    for (const Caso& c : casos)
        EXPECT_EQ(HostPart(c.endereco, c.esquema), c.parte) << c.endereco << " " << c.esquema;
}

TEST(uDDSConnection, WholeFileName) {
    struct Caso {
        const char* nome;
        const char* inteiro;
    };
    const Caso casos[] = {
        {"PATCH_KWEXEC.EXE_4087_4.0.8.7", "KWEXEC.EXE_4.0.8.7"},
        {"KWEXEC.EXE_4.0.8.7", "KWEXEC.EXE_4.0.8.7"},
        {"", ""},
        {"PATCH_MY_FILE.DLL_12_3_1", "MY_FILE.DLL_12_1"},
        {"patch_KWEXEC.EXE_1_2", "patch_KWEXEC.EXE_1_2"},  // the prefix is upper case
        {"PATCH__1_2", "_2"},
        {"PATCH_X_2", "X_2"},  // only one "_" left: nothing to drop
    };
    for (const Caso& c : casos)
        EXPECT_EQ(WholeFileName(c.nome), c.inteiro) << c.nome;
}

TEST(ukwUpdFileUtilDDS, NameAndVersionFromTheAddress) {
    struct Caso {
        const char* endereco;
        const char* nome;
        const char* versao;
    };
    const Caso casos[] = {
        {"DDS:http://srv:8080/dist/kwExec.exe_4087", "kwExec.exe", "4087"},
        {"DDS:https://srv/dist/kwExec.exe_4.0.8.7", "kwExec.exe", "4.0.8.7"},
        {"DDS:http://srv/dist/my_file.dll_12", "my_file.dll", "12"},
        {"DDS:http://srv/dist/kwExec.exe", "", "kwExec.exe"},
        {"DDS:http://srv/kwExec.exe_", "kwExec.exe", ""},
        {"", "", ""},
        // Without "://" the first two characters count as the scheme part.
        {"abkwExec.exe_3", "kwExec.exe", "3"},
        {"a/b/c_1", "c", "1"},
    };
    for (const Caso& c : casos) {
        std::string nome = "x";
        std::string versao = "y";
        ExtraiaNomeEVersao(c.endereco, nome, versao);
        EXPECT_EQ(nome, c.nome) << c.endereco;
        EXPECT_EQ(versao, c.versao) << c.endereco;
    }
}

TEST(ukwUpdFileUtilDDS, AnAddressKeepsItsOwnScheme) {
    struct Caso {
        const char* endereco;
        const char* base;
    };
    const Caso casos[] = {
        {"DDS:http://srv:8080/dist/kwExec.exe_4087", "http://srv:8080"},
        // An https server is never asked over http: the password grant would go in clear.
        {"DDS:https://srv:8443/dist/kwExec.exe_4087", "https://srv:8443"},
        {"dds:HTTPS://srv/dist/x_1", "https://srv"},
        {"DDS:ftp://srv/dist/x_1", "http://srv"},
        {"http://srv/x_1", "http://srv"},
    };
    for (const Caso& c : casos)
        EXPECT_EQ(EnderecoBaseDDS(c.endereco), c.base) << c.endereco;
}

TEST(uDDSConnection, ParamsHostsAndStatuses) {
    TDDSConnection c;
    c.AddServer("kwLoader", "ana", "s&=+% é", "password", "http://a:1");
    auto p = std::make_unique<TDDSConnectionParams>();
    p->BaseURL = "http://b:2";
    c.AddHost(std::move(p));
    rtl::StringList linhas{"old"};
    c.GetHost(0).ToStrings(linhas);
    EXPECT_EQ(linhas.Text(),
              "client_id=kwLoader\r\nusername=ana\r\npassword=s&=+% é\r\ngrant_type=password\r\n");
    EXPECT_EQ(c.GetHost(0).Timeout, 0);
    EXPECT_EQ(c.GetHost(0).PollingTime, 0);
    EXPECT_EQ(c.GetCurrentHost().BaseURL, "http://a:1");
    EXPECT_EQ(c.GetHost(1).BaseURL, "http://b:2");
    EXPECT_THROW(c.GetHost(2), rtl::EListError);
    EXPECT_FALSE(c.IsAuthenticated());
    EXPECT_TRUE(c.NextHost());
    EXPECT_EQ(c.GetCurrentHost().BaseURL, "http://b:2");
    EXPECT_FALSE(c.NextHost());
    // Past the last host there is no current one.
    EXPECT_EQ(ThrownMessage([&] { c.GetCurrentHost(); }), "List index out of bounds (2)");
    EXPECT_TRUE(c.IsStatusAcceptable(""));
    EXPECT_TRUE(c.IsStatusAcceptable("PATCH_SOURCE_DOES_NOT_EXISTS"));
    for (const char* s : {"PARENT_SERVER_UNAVAILABLE", "PATCH_TARGET_DOES_NOT_EXISTS",
                          "PATCH_SOURCE_AND_TARGET_DOES_NOT_EXISTS", "null", "x"})
        EXPECT_FALSE(c.IsStatusAcceptable(s)) << s;
    EXPECT_EQ(ThrownMessage([] { throw EDDSUnregisteredHost("http://x:1"); }),
              "Host não registrado: http://x:1");
}

TEST(uDDSConnection, PollingTickCountsDown) {
    TDDSConnection c;
    std::vector<int32_t> vistos;
    c.PollingTick();  // without a handler only the count moves
    c.SetOnPolling([&](IDDSConnection* s, int32_t n) {
        EXPECT_EQ(s, &c);
        vistos.push_back(n);
    });
    c.PollingTick();
    c.PollingTick();
    EXPECT_EQ(vistos, (std::vector<int32_t>{-1, -2}));
    EXPECT_EQ(c.PollingCountdown(), -3);
}

TEST(ukwUpdFileUtilDDS, TheHandlerWritesTheLauncherLog) {
    TkwUpdLog log;
    TDDSHandler h(&log);
    h.DownloadBegin(5'000'000'000);
    h.DownloadProgress(10);
    h.Polling(3);
    h.LogLine("ERROR: algo");
    h.DownloadEnd();
    EXPECT_EQ(Textos(log), (std::vector<std::string>{" - Iniciando Download (Tamanho 5000000000 Bytes)",
                                                     " - ERROR: algo", " - Download Finalizado"}));
    TDDSHandler semLog(nullptr);
    semLog.DownloadBegin(1);
    semLog.LogLine("x");
    semLog.DownloadEnd();
}

}  // namespace
