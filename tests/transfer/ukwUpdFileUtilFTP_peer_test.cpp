// The FTP update sites through CopieArquivo (with the backup, as the executor's self-update
// copies): pyftpdlib with a user and write access, pyftpdlib and vsftpd for anonymous downloads
// in active and passive mode, proftpd for the upload, and the scripted FTP peer for the exact commands,
// a 421 greeting, a listing that cannot be read with a name in other letters, and a data
// connection cut mid-file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "CopiaTestSupport.h"
#include "common/LauncherTestHooks.h"
#include "common/ukwTransfereVersaoComum.h"
#include "common/ukwUpdConstante.h"
#include "common/ukwUpdLog.h"
#include "common/ukwUpdUtil.h"
#include "platform/Clock.h"
#include "support/TestSupport.h"
#include "tests/tls/FtpPeers.h"
#include "transfer/ukwUpdFileUtil.h"
#include "transfer/ukwUpdFileUtilFTP.h"

namespace {

namespace fs = std::filesystem;
using kwtest::FtpRoot;
using kwtest::FtpScript;
using kwtest::FtpScriptPeer;

class CopiaFTP : public kwtest::CopiaDeSite {
protected:
    bool Baixe(const std::string& origem, const std::string& usuario = "kw", const std::string& senha = "secret") {
        return Copie(origem, Destino().string(), usuario, senha);
    }
    std::vector<std::string> Tentativas() const {
        std::vector<std::string> r;
        for (const std::string& l : log->Linhas())
            if (l.find("Tentativa (") != std::string::npos) r.push_back(l.substr(l.find(" : ") + 3));
        return r;
    }
    static std::string Host(int porta) { return "127.0.0.1:" + std::to_string(porta); }

    plat::ManualClock relogio;
    plat::ScopedClock usaRelogio{relogio};
};

const std::string kClasse = "\r\nExceptionClass=EFTPSError";

// One passive data command of the scripted peer: TYPE answered, PASV, the command answered
// 150, the data sent on the data connection, which closes, and 226.
FtpScript& Dados(FtpScript& s, const std::string& dados) {
    return s.Reply("200 ok\r\n").Cmd().Pasv().Reply("150 here\r\n").Accept().Data(dados).DataClose().Send(
        "226 done\r\n");
}

TEST_F(CopiaFTP, DecisionTableAgainstPyftpdlib) {
    FtpRoot raiz;
    fs::create_directories(raiz.Path() / "dist" / "sub");
    ::chmod((raiz.Path() / "dist").c_str(), 0777);
    ::chmod((raiz.Path() / "dist" / "sub").c_str(), 0777);
    raiz.Add("dist/kwExec.exe", "novo de dist");
    raiz.Add("dist/sub/kwExec.exe", "novo de sub");
    raiz.Add("kwExec.exe", "novo da raiz");
    kwtest::PyFtpd servidor(raiz);
    KW_REQUIRE_PEER(servidor.Available(), servidor.Reason());
    const std::string h = Host(servidor.Port());

    struct Caso {
        std::string nome;
        std::string origem;
        std::string senha;
        bool resultado;
        std::string conteudo;    // of the destination afterwards
        std::string ultimoErro;  // exact
    };
    const Caso casos[] = {
        {"active", "FTP:" + h + "\\dist\\kwExec.exe", "secret", true, "novo de dist", ""},
        {"passive in mixed case", "ftpPassivo:" + h + "\\dist\\sub\\kwExec.exe", "secret", true, "novo de sub", ""},
        {"no folder", "FTP:" + h + "\\kwExec.exe", "secret", true, "novo da raiz", ""},
        {"file name in other letters", "FTP:" + h + "\\dist\\KWEXEC.exe", "secret", false, "velho",
         "Erro ao transferir o arquivo: \"KWEXEC.exe\"\r\nMensagem traduzida: \"" + DescrevaErroSistema(550) +
             "\"\r\nMensagem original do servidor:\"550 No such file or directory.\""},
        {"missing folder", "FTP:" + h + "\\nada\\dentro\\kwExec.exe", "secret", false, "velho",
         "Erro ao mudar o diretório no servidor de FTP para: \"nada/dentro/\"\r\nProvável causa: Diretório não "
         "existe no servidor.\r\nMensagem original do servidor: \"550 No such file or directory.\"" +
             kClasse},
        {"missing file", "FTPPASSIVO:" + h + "\\dist\\kwNada.exe", "secret", false, "velho",
         "O arquivo \"kwNada.exe\" não pode ser encontrado no servidor. FTP: 127.0.0.1"},
    };
    for (const Caso& c : casos) {
        EXPECT_EQ(Baixe(c.origem, "kw", c.senha), c.resultado) << c.nome << ": " << UltimoErro;
        EXPECT_EQ(kwtest::ReadFile(Destino()), c.conteudo) << c.nome;
        EXPECT_EQ(UltimoErro, c.ultimoErro) << c.nome;
        EXPECT_EQ(ClienteFTPAtual, nullptr) << c.nome;
        SoODestino(c.nome);
        kwtest::WriteFile(Destino(), "velho");
    }
}

TEST_F(CopiaFTP, AMissingFileIsRetriedByTheAttemptLoop) {
    Configure(3, 2);
    FtpRoot raiz;
    kwtest::PyFtpd servidor(raiz);
    KW_REQUIRE_PEER(servidor.Available(), servidor.Reason());
    const std::string origem = "FTP:" + Host(servidor.Port()) + "\\kwExec.exe";
    EXPECT_FALSE(Baixe(origem));
    EXPECT_EQ(UltimoErro, "O arquivo \"kwExec.exe\" não pode ser encontrado no servidor. FTP: 127.0.0.1");
    const std::vector<std::string> tentativas = Tentativas();
    ASSERT_EQ(tentativas.size(), 3u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(tentativas[size_t(i)], " -  - Tentativa (" + std::to_string(i + 1) + "/3) de download por FTP de " +
                                             origem + " falhou. Aguardando 2 segundos antes de tentar novamente ");
    EXPECT_EQ(relogio.Elapsed(), 6000u);
    EXPECT_EQ(kwtest::ReadFile(Destino()), "velho");
    SoODestino("missing file");

    // The file appears between two calls: the next copy finds it.
    raiz.Add("kwExec.exe", "agora existe");
    EXPECT_TRUE(Baixe(origem)) << UltimoErro;
    EXPECT_EQ(kwtest::ReadFile(Destino()), "agora existe");
}

// Anonymous downloads from pyftpdlib and from vsftpd, in active and in passive mode.
TEST_F(CopiaFTP, AnonymousDownloadsActiveAndPassive) {
    FtpRoot raiz;
    raiz.Add("kwExec.exe", std::string(300000, 'x') + "fim");
    kwtest::DaemonPeer pyftpdlib(
        "python3", {"-m", "pyftpdlib", "-i", "127.0.0.1", "-p", "{PORT}", "-d", raiz.Path().string()});
    KW_REQUIRE_PEER(pyftpdlib.Available(), pyftpdlib.Reason());
    kwtest::VsFtpd vsftpd(raiz);
    KW_REQUIRE_PEER(vsftpd.Available(), vsftpd.Reason());
    for (const auto& [nome, porta] :
         {std::pair<std::string, int>{"pyftpdlib", pyftpdlib.Port()}, {"vsftpd", vsftpd.Port()}}) {
        // The empty password goes as the anonymous address (the exact line is checked with the
        // scripted peer); a password given is sent as it is, also for anonymous.
        for (const std::string prefixo : {"FTP:", "FTPPASSIVO:"}) {
            for (const std::string senha : {"", "ana@example.com"}) {
                const std::string caso = nome + " " + prefixo + " [" + senha + "]";
                kwtest::WriteFile(Destino(), "velho");
                EXPECT_TRUE(Baixe(prefixo + Host(porta) + "\\kwExec.exe", "anonymous", senha))
                    << caso << UltimoErro;
                EXPECT_EQ(kwtest::ReadFile(Destino()), raiz.Read("kwExec.exe")) << caso;
                SoODestino(caso);
            }
        }
    }
}

TEST_F(CopiaFTP, UploadsIgnoreTheRefusedDeletionAndHttpDestinationsGoByFtp) {
    FtpRoot raiz;
    fs::create_directories(raiz.Path() / "dist");
    ::chmod((raiz.Path() / "dist").c_str(), 0777);
    raiz.Add("dist/velho.exe", "substituir");
    kwtest::ProFtpd servidor(raiz);
    KW_REQUIRE_PEER(servidor.Available(), servidor.Reason());
    kwtest::WriteFile(dir / "site" / "up.exe", "enviado");
    const std::string local = (dir / "site" / "up.exe").string();
    const std::string h = Host(servidor.Port());

    // The file is not there yet: DELE is refused with 550, which an upload expects.
    EXPECT_TRUE(Copie(local, "FTP:" + h + "\\dist\\up.exe", "kw", "secret")) << UltimoErro;
    EXPECT_EQ(raiz.Read("dist/up.exe"), "enviado");
    // An existing file is replaced.
    EXPECT_TRUE(Copie(local, "ftppassivo:" + h + "\\dist\\velho.exe", "kw", "secret")) << UltimoErro;
    EXPECT_EQ(raiz.Read("dist/velho.exe"), "enviado");
    // An HTTP destination is uploaded by FTP to the same host and path.
    EXPECT_TRUE(Copie(local, "http://" + h + "/dist/http.exe", "kw", "secret")) << UltimoErro;
    EXPECT_EQ(raiz.Read("dist/http.exe"), "enviado");
    // The source stays as it was, and no backup of it appears.
    EXPECT_EQ(kwtest::ReadFile(dir / "site" / "up.exe"), "enviado");
    EXPECT_FALSE(fs::exists(dir / "site" / "_up.exe"));
}

// A local file that cannot be written (the process's file size limit stands in for a full
// disk): message 27, and the old file back.
TEST_F(CopiaFTP, ALocalWriteFailure) {
    FtpRoot raiz;
    raiz.Add("kwExec.exe", "um arquivo maior que o limite");
    kwtest::PyFtpd servidor(raiz);
    KW_REQUIRE_PEER(servidor.Available(), servidor.Reason());
    rlimit antes{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &antes), 0);
    const auto sinal = ::signal(SIGXFSZ, SIG_IGN);
    rlimit limite = antes;
    limite.rlim_cur = 8;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limite), 0);
    const bool resultado = Baixe("FTP:" + Host(servidor.Port()) + "\\kwExec.exe");
    ::setrlimit(RLIMIT_FSIZE, &antes);
    ::signal(SIGXFSZ, sinal);
    EXPECT_FALSE(resultado);
    EXPECT_TRUE(UltimoErro.starts_with("Erro ao transferir o arquivo: \"kwExec.exe\"\r\nMensagem traduzida: \"Espaço "
                                       "insuficiente no disco local para copiar o arquivo.\"\r\nMensagem original do "
                                       "servidor: \""))
        << UltimoErro;
    EXPECT_EQ(kwtest::ReadFile(Destino()), "velho");
    SoODestino("write failure");
}

// ---- The scripted peer: exact commands and hostile servers -----------------------------------

TEST_F(CopiaFTP, TheCommandsOfAPassiveAnonymousDownload) {
    FtpScript s;
    s.Greeting()
        .Reply("550 no home\r\n")  // CWD ~
        .Reply("250 ok\r\n")       // CWD /
        .Reply("250 ok\r\n");      // CWD dist/sub/
    Dados(s, "outro.exe\r\nkwExec.exe\r\n");                              // NLST
    Dados(s, "-rw-r--r--   1 ftp ftp  5 Jan 01  2020 kwExec.exe\r\n");  // LIST
    Dados(s, "novo!").Close();                                         // RETR
    FtpScriptPeer peer(s);
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    EXPECT_TRUE(Baixe("FTPPASSIVO:" + Host(peer.Port()) + "\\dist\\sub\\kwExec.exe", "ana", "")) << UltimoErro;
    EXPECT_EQ(kwtest::ReadFile(Destino()), "novo!");
    EXPECT_EQ(peer.Transcript(),
              "USER ana\r\nPASS kwloader@localhost\r\nFEAT\r\nCWD ~\r\nCWD /\r\nCWD dist/sub/\r\n"
              "TYPE A\r\nPASV\r\nNLST\r\nTYPE A\r\nPASV\r\nLIST\r\nTYPE I\r\nPASV\r\nRETR kwExec.exe\r\n");
    EXPECT_TRUE(peer.Finished()) << peer.Errors();
    SoODestino("passive");
}

// (pyftpdlib answers a wrong password only after a pause of its own, close to the 3500 ms of
// the login: the scripted peer answers at once.)
TEST_F(CopiaFTP, AWrongPasswordIsReadBackAsAnFtpFailure) {
    FtpScript s;
    s.Send("220 kw test\r\n").Reply("331 password\r\n").Reply("530 Login incorrect.\r\n").Close();
    FtpScriptPeer peer(s);
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    EXPECT_FALSE(Baixe("FTP:" + Host(peer.Port()) + "\\dist\\kwExec.exe", "kw", "errada"));
    EXPECT_EQ(UltimoErro,
              "Não foi possível conectar-se com o servidor de FTP: 127.0.0.1\r\nProvável causa : Usuário ou senha "
              "inválida.\r\nMensagem original do servidor: \"530 Login incorrect.\"" +
                  kClasse);
    EXPECT_EQ(peer.Transcript(), "USER kw\r\nPASS errada\r\n");
    EXPECT_EQ(kwtest::ReadFile(Destino()), "velho");
    SoODestino("wrong password");
}

TEST_F(CopiaFTP, AFullServerAnswers421) {
    FtpScript s;
    s.Send("421 Too many users, sorry\r\n").Close();
    FtpScriptPeer peer(s);
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    EXPECT_FALSE(Baixe("FTP:" + Host(peer.Port()) + "\\kwExec.exe"));
    EXPECT_EQ(UltimoErro,
              "Não foi possível conectar-se com o servidor de FTP: 127.0.0.1\r\nProvável causa: Número máximo de "
              "conexões ao servidor alcançado.\r\nMensagem original do servidor: \"421 Too many users, sorry\"" +
                  kClasse);
    EXPECT_EQ(kwtest::ReadFile(Destino()), "velho");
    EXPECT_TRUE(peer.Finished()) << peer.Errors();
}

// A long listing that cannot be read hides the size; the retrieval under the asked name fails,
// and the name list gives the server's own letters, under which the file comes. The trace
// file records the recovery.
TEST_F(CopiaFTP, AnUnreadableListingAndANameInOtherLetters) {
    FtpScript s;
    s.Greeting();
    Dados(s, "KWEXEC.EXE\r\n");                // NLST
    Dados(s, "isto não é uma listagem\r\n");  // LIST
    s.Reply("200 ok\r\n").Cmd().Pasv().Reply("550 kwExec.exe: No such file\r\n");
    Dados(s, "KWEXEC.EXE\r\n");
    Dados(s, "isto não é uma listagem\r\n");
    Dados(s, "pelo nome do servidor").Close();
    FtpScriptPeer peer(s);
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    ReinicieContadorLogDepuracao();
    EXPECT_TRUE(TransfiraArquivoFTP("FTPPASSIVO:" + Host(peer.Port()) + "\\kwExec.exe", Destino().string(), "kw",
                                    "secret", "kwFTP.log"))
        << UltimoErro;
    EXPECT_EQ(kwtest::ReadFile(Destino()), "pelo nome do servidor");
    const std::string transcript = peer.Transcript();
    EXPECT_NE(transcript.find("RETR kwExec.exe\r\n"), std::string::npos) << transcript;
    EXPECT_TRUE(transcript.ends_with("RETR KWEXEC.EXE\r\n")) << transcript;
    const std::string rastro = kwtest::ReadFile(dir / "kwFTP.log");
    EXPECT_NE(rastro.find(" - Antes de fazer tratamento erro 1\r\n"), std::string::npos) << rastro;
    EXPECT_NE(rastro.find(" - Depois de fazer tratamento erro 1\r\n"), std::string::npos) << rastro;
    EXPECT_TRUE(peer.Finished()) << peer.Errors();
}

// The data connection ends after 4 of the 10 bytes the listing announced: the transfer fails
// even though the server says 226, and nothing of the cut file is left: the old file is back,
// and where there was none no file appears.
TEST_F(CopiaFTP, ADataConnectionCutMidFile) {
    for (const bool existia : {true, false}) {
        const std::string caso = existia ? "cut, old file" : "cut, no file before";
        if (existia)
            kwtest::WriteFile(Destino(), "velho");
        else
            fs::remove(Destino());
        FtpScript s;
        Dados(s.Greeting(), "kwExec.exe\r\n");
        Dados(s, "-rw-r--r--   1 ftp ftp  10 Jan 01  2020 kwExec.exe\r\n");
        Dados(s, "meta").Close();
        FtpScriptPeer peer(s);
        KW_REQUIRE_PEER(peer.Available(), peer.Reason());
        EXPECT_FALSE(Baixe("FTPPASSIVO:" + Host(peer.Port()) + "\\kwExec.exe")) << caso;
        EXPECT_TRUE(
            UltimoErro.starts_with("Erro ao transferir o arquivo: \"kwExec.exe\"\r\nMensagem traduzida: \""))
            << UltimoErro;
        EXPECT_NE(UltimoErro.find("10 bytes expected, 4 received"), std::string::npos) << UltimoErro;
        if (existia)
            EXPECT_EQ(kwtest::ReadFile(Destino()), "velho");
        else
            EXPECT_TRUE(fs::is_empty(dir / "app")) << caso;
        SoODestino(caso);
        EXPECT_TRUE(peer.Finished()) << peer.Errors();
    }
}

// The other texts of the failure table: a folder change refused with another reply than 550
// (23), a recovery that fails as well (25), and a failure of no FTP kind while nothing was
// written yet (15: an upload whose local file is missing).
TEST_F(CopiaFTP, TheOtherFailureTexts) {
    struct Caso {
        std::string nome;
        std::function<void(FtpScript&)> script;
        std::string origem;  // "{H}" is the peer's host and port
        std::string destino;
        std::string ultimoErro;
    };
    const std::string faltando = (dir / "site" / "nada.exe").string();
    const Caso casos[] = {
        {"folder change refused with 450",
         [](FtpScript& s) { s.Greeting().Reply("250 ok\r\n").Reply("450 busy\r\n").Close(); },
         "FTP:{H}\\dist\\kwExec.exe", Destino().string(),
         "Erro ao mudar o diretório no servidor de FTP para: \"dist/\"\r\nMensagem original do servidor: "
         "\"450 busy\"" +
             kClasse},
        {"the recovery fails too",
         [](FtpScript& s) {
             s.Greeting();
             Dados(s, "kwExec.exe\r\n");
             Dados(s, "ilegível\r\n");
             s.Reply("200 ok\r\n").Cmd().Pasv().Reply("550 no\r\n");
             Dados(s, "outro.exe\r\n").Close();
         },
         "FTPPASSIVO:{H}\\kwExec.exe", Destino().string(),
         "Erro ao transferir o arquivo: \"kwExec.exe\"\r\nMensagem original do servidor: \"O arquivo "
         "\"kwExec.exe\" não pode ser encontrado no servidor.\""},
        {"an upload whose local file is missing",
         [](FtpScript& s) { s.Greeting().Reply("550 no such file\r\n").Close(); }, faltando,
         "FTP:{H}\\dist\\nada.exe", ""},
    };
    for (const Caso& c : casos) {
        FtpScript s;
        c.script(s);
        FtpScriptPeer peer(s);
        KW_REQUIRE_PEER(peer.Available(), peer.Reason());
        const auto troque = [&](std::string t) {
            const size_t p = t.find("{H}");
            if (p != std::string::npos) t.replace(p, 3, Host(peer.Port()));
            return t;
        };
        EXPECT_FALSE(Copie(troque(c.origem), troque(c.destino), "kw", "secret")) << c.nome;
        if (c.ultimoErro.empty())
            EXPECT_TRUE(UltimoErro.starts_with("Erro não tratado.\r\nMensagem original do servidor: \"")) << UltimoErro;
        else
            EXPECT_EQ(UltimoErro, c.ultimoErro) << c.nome;
        EXPECT_EQ(kwtest::ReadFile(Destino()), "velho") << c.nome;
        SoODestino(c.nome);
        EXPECT_TRUE(peer.Finished()) << c.nome << ": " << peer.Errors();
    }
}

TEST(ukwUpdFileUtilFTP, NormalizePastaFTP) {
    EXPECT_EQ(NormalizePastaFTP(""), "");
    EXPECT_EQ(NormalizePastaFTP("dist"), "dist/");
    EXPECT_EQ(NormalizePastaFTP("dist\\app"), "dist/app/");
    EXPECT_EQ(NormalizePastaFTP("dist\\app\\"), "dist/app/");
    EXPECT_EQ(NormalizePastaFTP("dist/app/"), "dist/app/");
}

}  // namespace
