// The launcher run end to end on the local road, with the demo's workstation (scripts/demo
// --prepare-only): the kwLoader program as built reads the requisites from an SQLite database
// through its ODBC data source, replaces the out-of-date update executor from the folder
// site, writes the change list and the requisites file and starts the executor (the demo's
// stand-in), which carries the changes out, records them in the history and starts the
// application; a second run finds everything current and starts the application itself.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <optional>

#include "launcher/LauncherRunTestSupport.h"
#include "platform/Files.h"
#include "platform/Process.h"
#include "rtl/Text.h"
#include "support/DdsServerPeer.h"
#include "support/LoopbackListeners.h"
#include "support/OtherUser.h"
#include "tests/net/HttpServers.h"
#include "tests/tls/ClientTestSupport.h"
#include "tests/tls/FtpPeers.h"

namespace {

namespace fs = std::filesystem;
using kwtest::Contains;

std::vector<std::string> Linhas(const fs::path& arquivo) {
    return kwtest::SplitLinesOf(kwtest::ReadFile(arquivo));
}

class LocalRoad : public ::testing::Test {
protected:
    void SetUp() override {
        const bool peers = fs::exists("/usr/bin/sqlite3") && fs::exists("/bin/bash") &&
                           fs::exists("/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so");
        KW_REQUIRE_PEER(peers, "bash, the sqlite3 shell and the SQLite ODBC driver");
        const plat::ProcessResult r = kwtest::PrepareDemo(demo_.path());
        ASSERT_EQ(r.exitCode, 0) << r.output;
        ws_ = demo_ / "workstation";
        site_ = demo_ / "update-site";
    }

    struct Execucao {
        int codigo = -1;
        std::string saida;
        std::vector<std::string> log;  // this run's log texts
    };

    Execucao Rode(const std::vector<std::string>& args) { return RodeComo("", args); }

    // The launcher as a real process, as user (empty: as we are, else through runuser), killed
    // by coreutils' timeout when it runs past the limit (codigo is then -1: a hang is a
    // failure, not a test that never ends).
    Execucao RodeComo(const std::string& usuario, const std::vector<std::string>& args,
                      std::chrono::seconds limite = std::chrono::seconds(120)) {
        plat::ProcessOptions o;
        o.wait = true;
        o.output = plat::ProcessOutput::File;
        o.outputFile = (demo_ / "saida.txt").string();
        o.workingFolder = ws_.string();
        kwtest::ScopedEnv sys("ODBCSYSINI", (demo_ / "odbc").string());
        kwtest::ScopedEnv ini("ODBCINI", (demo_ / "odbc" / "odbc.ini").string());
        std::optional<kwtest::ScopedEnv> marcadores;
        std::vector<std::string> todos = {"-s", "KILL", std::to_string(limite.count())};
        if (!usuario.empty()) {
            // The other user's markers in a folder of its own.
            const fs::path m = demo_ / ("markers-" + usuario);
            fs::create_directories(m);
            Dono(m, usuario);
            marcadores.emplace("KW_MARKER_DIR", m.string());
            todos.insert(todos.end(), {"runuser", "-u", usuario, "--"});
        }
        todos.push_back((ws_ / "kwLoader").string());
        todos.insert(todos.end(), args.begin(), args.end());
        Execucao e;
        e.codigo = plat::StartProcess("timeout", todos, o).exitCode;
        if (e.codigo == 128 + SIGKILL) e.codigo = -1;
        e.saida = kwtest::ReadFile(o.outputFile);
        const fs::path log = ws_ / "log" / "kwVerify.log";
        e.log = fs::exists(log) ? kwtest::LogTexts(kwtest::ReadFile(log)) : std::vector<std::string>{};
        const int sep = kwtest::IndexOf(e.log, std::string(54, '='));
        if (sep > 0) e.log.resize(size_t(sep - 1));
        return e;
    }

    // One SQL command on the demo's database.
    void Sql(const std::string& comando) {
        plat::ProcessOptions o;
        o.wait = true;
        o.output = plat::ProcessOutput::Capture;
        const auto r = plat::StartProcess("sqlite3", {(demo_ / "database" / "app.db").string(), comando}, o);
        ASSERT_EQ(r.exitCode, 0) << r.output;
    }

    static void Dono(const fs::path& caminho, const std::string& usuario) {
        plat::ProcessOptions o;
        o.wait = true;
        ASSERT_EQ(plat::StartProcess("chown", {"-R", usuario, caminho.string()}, o).exitCode, 0) << caminho;
    }

    // Whether a log line holds the text.
    static bool TemTrecho(const std::vector<std::string>& log, const std::string& trecho) {
        return std::any_of(log.begin(), log.end(),
                           [&](const std::string& l) { return l.find(trecho) != std::string::npos; });
    }

    size_t InicioDaAplicacao() const {
        const fs::path f = ws_ / "log" / "aplicacao.log";
        return fs::exists(f) ? Linhas(f).size() : 0;
    }

    kwtest::TempDir demo_;
    fs::path ws_, site_;
    kwtest::PrivateMarkers markers_;
    kwtest::ScopedEnv headless_{"KW_HEADLESS", "1"};
};

TEST_F(LocalRoad, FirstTheExecutorThenTheApplication) {
    const std::string w = ws_.string() + "/";
    const std::string s = site_.string() + "/";

    // ---- First run: updates found, the executor refreshed and started.
    const Execucao um = Rode({"um", "x y"});
    EXPECT_EQ(um.codigo, 0) << um.saida;
    for (const char* linha :
         {" - Conexão local. Pegando os dados de requisitos do banco de dados...",
          " - kwCFG.ini -> AliasKw4 (Database,Alias): \"KWDEMO\"", " - Conexão aberta com sucesso.",
          " - 6 registro(s) carregado(s)", "FIM - PegueDadosRequisitosBanco",
          "FIM - TestarSeAtualizacaoVersionadaBanco", " - Os arquivos de backup são diferentes.",
          " - O Sistema deve ser atualizado. Atualizando o sistema...", "FIM - ExecuteAtualizacao"})
        EXPECT_TRUE(Contains(um.log, linha)) << linha;
    EXPECT_TRUE(Contains(um.log, " - " + w + "kwExec.exe desatualizado. Copiando a versão nova..."));

    // The requisites file holds the database's lines; the change list, what the executor does.
    const std::vector<std::string> req = Linhas(ws_ / "log" / "kwExec.req");
    ASSERT_EQ(req.size(), 6u);
    EXPECT_EQ(req[0].rfind("-1;1;leiame.txt;;;1;5;" + s + ";;;", 0), 0u) << req[0];
    EXPECT_EQ(req[1].rfind("1;1;kwExec.exe;;;2;1;" + s + ";;;", 0), 0u) << req[1];
    for (const auto& r : req)
        EXPECT_EQ(std::count(r.begin(), r.end(), ';'), 15) << r;
    EXPECT_EQ(Linhas(ws_ / "log" / "kwVerify.lcm"),
              (std::vector<std::string>{
                  "-1;1;leiame.txt;" + w + "leiame.txt;" + s + "leiame.txt;;;S;N;N;1;1;;",
                  "1;2;KWLOADERAPP.exe;" + w + "KWLOADERAPP.exe;" + s + "KWLOADERAPP.exe;;;S;N;N;2;1;;",
                  "1;3;versao.txt;" + w + "versao.txt;" + s + "versao.txt;;;S;N;N;2;1;;",
                  "1;4;clientes.txt;" + w + "dados\\clientes.txt;" + s + "dados\\clientes.txt;;;S;N;N;1;1;;",
                  "1;5;obsoleto.txt;" + w + "obsoleto.txt;" + s + "obsoleto.txt;;;S;N;N;1;3;;"}));
    // The launcher replaced the executor before starting it.
    EXPECT_EQ(kwtest::ReadFile(ws_ / "kwExec.exe"), kwtest::ReadFile(site_ / "kwExec.exe"));
    const std::string rpc = rtl::StringReplace(kwtest::ReadFile(ws_ / "kwCFG.ini"), "\r\n", "\n");
    EXPECT_NE(rpc.find("[RPC]\nControlarReconexao=1\nConsultarDispIDLocal=0"), std::string::npos) << rpc;

    // The executor carries the list out and starts the application.
    ASSERT_TRUE(kwtest::Eventually([&] { return fs::exists(ws_ / "log" / "kwExecDemo.fim"); },
                                   std::chrono::milliseconds(30000)));
    EXPECT_EQ(kwtest::ReadFile(ws_ / "log" / "kwExecDemo.fim"), "0\n")
        << kwtest::ReadFile(ws_ / "log" / "kwExecDemo.log");
    ASSERT_TRUE(kwtest::Eventually([&] { return InicioDaAplicacao() == 1; }));
    EXPECT_EQ(Linhas(ws_ / "log" / "aplicacao.log").back(),
              "KWLOADERAPP.exe iniciado; versão dos dados: 2; argumentos: \"kwUpdate\" \"um\" \"x y\"");
    EXPECT_EQ(kwtest::ReadFile(ws_ / "dados" / "clientes.txt"),
              kwtest::ReadFile(site_ / "dados" / "clientes.txt"));
    EXPECT_EQ(kwtest::ReadFile(ws_ / "leiame.txt"), kwtest::ReadFile(site_ / "leiame.txt"));
    EXPECT_FALSE(fs::exists(ws_ / "obsoleto.txt"));
    // One history record per object and operation: the launcher's for the executor, the
    // executor's for the rest.
    const std::vector<std::string> hst = Linhas(ws_ / "log" / "kwExec.hst");
    ASSERT_EQ(hst.size(), 6u);
    EXPECT_NE(hst[0].find(";KWEXEC.EXE;2;1;" + w + "kwExec.exe;"), std::string::npos) << hst[0];
    EXPECT_NE(hst[5].find(";OBSOLETO.TXT;1;3;" + w + "obsoleto.txt;;"), std::string::npos) << hst[5];

    // ---- Second run: everything current; the application started by the launcher.
    fs::remove(ws_ / "log" / "kwExecDemo.fim");
    const std::string lista = kwtest::ReadFile(ws_ / "log" / "kwVerify.lcm");
    const Execucao dois = Rode({"dois"});
    EXPECT_EQ(dois.codigo, 0) << dois.saida;
    EXPECT_TRUE(Contains(dois.log, " - Não é necessário executar a atualização"));
    EXPECT_TRUE(Contains(dois.log, " - O sistema já está atualizado."));
    EXPECT_FALSE(Contains(dois.log, " - " + w + "kwExec.exe desatualizado. Copiando a versão nova..."));
    // The [RPC] section did not change: both copies went again.
    EXPECT_TRUE(Contains(dois.log, " - Os arquivos de backup são iguais e serão removidos."));
    ASSERT_TRUE(kwtest::Eventually([&] { return InicioDaAplicacao() == 2; }));
    EXPECT_EQ(Linhas(ws_ / "log" / "aplicacao.log").back(),
              "KWLOADERAPP.exe iniciado; versão dos dados: 2; argumentos: \"kwUpdate\" \"dois\"");
    EXPECT_FALSE(fs::exists(ws_ / "log" / "kwExecDemo.fim"));
    EXPECT_EQ(kwtest::ReadFile(ws_ / "log" / "kwVerify.lcm"), lista);
}

// ---- Faults found by running the launcher as its users do ----------------------------------

// The site's executor has mode 0644 (a site that keeps no execute bits): the installed copy is
// startable all the same, and the executor runs.
TEST_F(LocalRoad, AnExecutorWithoutExecuteBitsOnTheSiteStillStarts) {
    fs::permissions(site_ / "kwExec.exe", fs::perms::owner_read | fs::perms::owner_write |
                                              fs::perms::group_read | fs::perms::others_read);
    const Execucao um = Rode({"um"});
    EXPECT_EQ(um.codigo, 0) << um.saida;
    struct stat st {};
    ASSERT_EQ(::stat((ws_ / "kwExec.exe").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
    ASSERT_TRUE(kwtest::Eventually([&] { return fs::exists(ws_ / "log" / "kwExecDemo.fim"); },
                                   std::chrono::milliseconds(30000)))
        << um.saida;
    EXPECT_EQ(kwtest::ReadFile(ws_ / "log" / "kwExecDemo.fim"), "0\n");
    EXPECT_FALSE(TemTrecho(um.log, "Permission denied")) << um.saida;
    // The site's file is as it was.
    EXPECT_EQ(fs::status(site_ / "kwExec.exe").permissions(), fs::perms::owner_read | fs::perms::owner_write |
                                                                  fs::perms::group_read |
                                                                  fs::perms::others_read);
}

// The site's kwExec.exe is a pipe with no writer, or a link to /dev/zero: the launcher neither
// hangs nor fills the disk; it refuses the file with the real cause in its log, keeps the old
// executor and records nothing. (The run is bounded, and its files limited to 64 MiB, so the
// fault shows as a failure rather than a hung or filled machine.)
TEST_F(LocalRoad, ASiteFileThatIsNotARegularFileIsRefused) {
    const std::string antigo = kwtest::ReadFile(ws_ / "kwExec.exe");
    const std::string historico =
        fs::exists(ws_ / "log" / "kwExec.hst") ? kwtest::ReadFile(ws_ / "log" / "kwExec.hst") : std::string();
    rlimit antes{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &antes), 0);
    struct Volta {
        rlimit r;
        ~Volta() { ::setrlimit(RLIMIT_FSIZE, &r); }
    } volta{antes};
    for (const char* tipo : {"fifo", "zero"}) {
        SCOPED_TRACE(tipo);
        fs::remove(site_ / "kwExec.exe");
        if (std::string(tipo) == "fifo")
            ASSERT_EQ(::mkfifo((site_ / "kwExec.exe").c_str(), 0644), 0);
        else
            fs::create_symlink("/dev/zero", site_ / "kwExec.exe");
        rlimit limite = antes;
        limite.rlim_cur = 64u << 20;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limite), 0);
        ::signal(SIGXFSZ, SIG_IGN);
        const Execucao e = RodeComo("", {"um"}, std::chrono::seconds(30));
        ::setrlimit(RLIMIT_FSIZE, &antes);
        ::signal(SIGXFSZ, SIG_DFL);
        EXPECT_NE(e.codigo, -1) << "the launcher hung";
        EXPECT_TRUE(TemTrecho(e.log, "Not a regular file")) << e.saida;
        EXPECT_EQ(kwtest::ReadFile(ws_ / "kwExec.exe"), antigo);
        const std::string agora = fs::exists(ws_ / "log" / "kwExec.hst")
                                      ? kwtest::ReadFile(ws_ / "log" / "kwExec.hst")
                                      : std::string();
        EXPECT_EQ(agora, historico);
        // No copy of it was left beside the executor (the launcher's own program, with its
        // debugging information, may itself be larger than the limit).
        for (const auto& f : fs::recursive_directory_iterator(ws_))
            if (f.is_regular_file() && f.path() != ws_ / "kwLoader") {
                EXPECT_LT(f.file_size(), 64u << 20) << f.path();
            }
    }
}

// The site's file is read-only and shared: the copy takes it as it is. Before, the launcher
// cleared the source's read-only flag, changing a shared site file's mode.
TEST_F(LocalRoad, TheSiteFileIsNeverModified) {
    fs::permissions(site_ / "kwExec.exe",
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const Execucao e = Rode({"um"});
    EXPECT_EQ(e.codigo, 0) << e.saida;
    EXPECT_EQ(fs::status(site_ / "kwExec.exe").permissions(),
              fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    EXPECT_EQ(kwtest::ReadFile(ws_ / "kwExec.exe"), kwtest::ReadFile(site_ / "kwExec.exe"));
    // The copy is not read-only: the next update can replace it.
    EXPECT_FALSE(plat::IsReadOnly((ws_ / "kwExec.exe").string()));
    ASSERT_TRUE(kwtest::Eventually([&] { return fs::exists(ws_ / "log" / "kwExecDemo.fim"); },
                                   std::chrono::milliseconds(30000)));
}

// A second local user (nobody, through runuser) runs the launcher on its own workstation from
// a site it may only read, root's read-only file: the copy works. Before, clearing the
// source's read-only flag failed with "Operation not permitted" and the run failed.
TEST_F(LocalRoad, AReaderWithoutWriteRightsOnTheSiteCopiesFromIt) {
    if (!kwtest::CanActAsOtherUser()) GTEST_SKIP() << "needs root to act as two users";
    fs::permissions(site_ / "kwExec.exe",
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    Dono(ws_, "nobody");
    const Execucao e = RodeComo("nobody", {"dois"});
    EXPECT_EQ(e.codigo, 0) << e.saida;
    EXPECT_FALSE(TemTrecho(e.log, "Operation not permitted")) << e.saida;
    EXPECT_TRUE(Contains(e.log, " - Atualização do kwExec OK")) << e.saida;
    EXPECT_EQ(kwtest::ReadFile(ws_ / "kwExec.exe"), kwtest::ReadFile(site_ / "kwExec.exe"));
    struct stat st {};
    ASSERT_EQ(::stat((site_ / "kwExec.exe").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
    EXPECT_EQ(st.st_uid, 0u);
    ASSERT_TRUE(kwtest::Eventually([&] { return fs::exists(ws_ / "log" / "kwExecDemo.fim"); },
                                   std::chrono::milliseconds(30000)));
    EXPECT_EQ(kwtest::ReadFile(ws_ / "log" / "kwExecDemo.fim"), "0\n");
}

// The launcher's folder belongs to the administrator and refuses new files to the user (nobody),
// who may write kwCFG.ini and the log folder only: the [RPC] write is made in place and the run
// goes on. Before, the write went through a temporary file in the folder and the run failed
// with "Unable to write to <file>".
TEST_F(LocalRoad, AReadOnlyLauncherFolderWithAWritableSettingsFile) {
    if (!kwtest::CanActAsOtherUser()) GTEST_SKIP() << "needs root to act as two users";
    // A first run by the administrator brings the workstation up to date.
    const Execucao um = Rode({"um"});
    ASSERT_EQ(um.codigo, 0) << um.saida;
    ASSERT_TRUE(kwtest::Eventually([&] { return fs::exists(ws_ / "log" / "kwExecDemo.fim"); },
                                   std::chrono::milliseconds(30000)));
    ASSERT_TRUE(kwtest::Eventually([&] { return InicioDaAplicacao() == 1; }));
    // The database now asks for another switch, so the user's run must change kwCFG.ini.
    Sql("update epadConfigServidor set deValor = 'FALSE' where deChave = 'RPC.CONTROLAR_RECONEXAO'");
    fs::permissions(ws_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(ws_ / "kwCFG.ini", fs::perms::owner_read | fs::perms::owner_write |
                                           fs::perms::group_read | fs::perms::group_write |
                                           fs::perms::others_read | fs::perms::others_write);
    Dono(ws_ / "log", "nobody");
    struct stat antes {};
    ASSERT_EQ(::stat((ws_ / "kwCFG.ini").c_str(), &antes), 0);
    const auto nomes = [&] {
        std::vector<std::string> r;
        for (const auto& e : fs::directory_iterator(ws_))
            r.push_back(e.path().filename().string());
        std::sort(r.begin(), r.end());
        return r;
    };
    const std::vector<std::string> pasta = nomes();

    const Execucao dois = RodeComo("nobody", {"dois"});
    EXPECT_EQ(dois.codigo, 0) << dois.saida;
    EXPECT_TRUE(Contains(dois.log, " - Concluída configurações de RPC no kwCFG.ini")) << dois.saida;
    EXPECT_TRUE(Contains(dois.log, " - O sistema já está atualizado.")) << dois.saida;
    const std::string cfg = rtl::StringReplace(kwtest::ReadFile(ws_ / "kwCFG.ini"), "\r\n", "\n");
    EXPECT_NE(cfg.find("[RPC]\nControlarReconexao=0\nConsultarDispIDLocal=0"), std::string::npos) << cfg;
    // The same file, still the administrator's, and nothing new in the folder.
    struct stat depois {};
    ASSERT_EQ(::stat((ws_ / "kwCFG.ini").c_str(), &depois), 0);
    EXPECT_EQ(depois.st_ino, antes.st_ino);
    EXPECT_EQ(depois.st_uid, 0u);
    EXPECT_EQ(depois.st_mode, antes.st_mode);
    EXPECT_EQ(nomes(), pasta);
    ASSERT_TRUE(kwtest::Eventually([&] { return InicioDaAplicacao() == 2; }));
}

// A kwCFG.ini the user (nobody) may not read: the run says so with the system's reason. Before,
// the reader took it for an empty file and the run ended on an empty CdSistema.
TEST_F(LocalRoad, ASettingsFileTheUserCannotReadIsSaidSo) {
    if (!kwtest::CanActAsOtherUser()) GTEST_SKIP() << "needs root to act as two users";
    Dono(ws_, "nobody");
    ASSERT_EQ(::chown((ws_ / "kwCFG.ini").c_str(), 0, 0), 0);
    fs::permissions(ws_ / "kwCFG.ini", fs::perms::owner_read | fs::perms::owner_write);
    const Execucao e = RodeComo("nobody", {});
    EXPECT_EQ(e.codigo, 1) << e.saida;
    const std::string mensagem = "O arquivo \"" + ws_.string() +
                                 "/kwCFG.ini\" não pode ser lido. Mensagem de erro: Permission denied (13)";
    EXPECT_TRUE(Contains(e.log, "EXCEPTION: " + mensagem)) << e.saida;
    EXPECT_NE(e.saida.find(mensagem), std::string::npos) << e.saida;
}

// A requisite's destination that leads out of the launcher's folder ends the run with a clear
// line, before anything lands there; "\x" is a folder of the launcher's (normalising drops the
// leading "\"), not one at the root of the file system.
TEST_F(LocalRoad, DestinationsStayInsideTheWorkstation) {
    const fs::path fora = demo_.path().parent_path() / "escape";
    const std::string raiz = "kwad-raiz-" + demo_.path().filename().string();
    fs::remove_all(fora / "kwExec.exe");
    const std::string antigo = kwtest::ReadFile(ws_ / "kwExec.exe");

    Sql("update epadObjetoUpdate set nmLocalDestino = '..\\..\\escape\\' where nmObjeto = 'kwExec.exe'");
    const Execucao um = Rode({"um"});
    EXPECT_NE(um.codigo, 0) << um.saida;
    EXPECT_TRUE(Contains(um.log,
                         "EXCEPTION: O destino \"..\\..\\escape\\\" do objeto \"kwExec.exe\" fica fora da "
                         "pasta do launcher (" +
                             ws_.string() + "/). A verificação foi interrompida."))
        << um.saida;
    EXPECT_FALSE(TemTrecho(um.log, "Execução OK")) << um.saida;
    EXPECT_FALSE(fs::exists(fora / "kwExec.exe"));
    EXPECT_EQ(kwtest::ReadFile(ws_ / "kwExec.exe"), antigo);
    EXPECT_FALSE(fs::exists(ws_ / "log" / "kwExec.hst") &&
                 kwtest::ReadFile(ws_ / "log" / "kwExec.hst").find("KWEXEC.EXE") != std::string::npos);

    // "\<folder>\" is the launcher's own folder's: the run goes on and the file lands there.
    Sql("update epadObjetoUpdate set nmLocalDestino = '' where nmObjeto = 'kwExec.exe'");
    Sql("update epadObjetoUpdate set nmLocalDestino = '\\" + raiz + "\\x\\' where nmObjeto = 'clientes.txt'");
    const Execucao dois = Rode({"dois"});
    EXPECT_EQ(dois.codigo, 0) << dois.saida;
    ASSERT_TRUE(kwtest::Eventually([&] { return fs::exists(ws_ / "log" / "kwExecDemo.fim"); },
                                   std::chrono::milliseconds(30000)))
        << dois.saida;
    EXPECT_TRUE(fs::exists(ws_ / raiz / "x" / "clientes.txt"))
        << kwtest::ReadFile(ws_ / "log" / "kwExecDemo.log");
    EXPECT_FALSE(fs::exists("/" + raiz));
}

// What a killed run leaves behind (a whole copy of the log; a copy of the executor) is removed
// by a later run, each by the part of the launcher that makes it; a copy still being written
// (recent) and files of other kinds stay.
TEST_F(LocalRoad, ALaterRunRemovesWhatAKilledRunLeft) {
    fs::create_directories(ws_ / "log");
    const fs::path logVelho = ws_ / "log" / ".kwVerify.log.0badf00d.tmp";
    const fs::path copiaVelha = ws_ / "..kwExec.exe.novo.kwtmp-Ab12Cd";
    const fs::path copiaRecente = ws_ / "..kwExec.exe.novo.kwtmp-Zz99Yy";
    const fs::path outro = ws_ / "log" / ".kwVerify.lcm.0badf00d.tmp";
    for (const fs::path& f : {logVelho, copiaVelha, copiaRecente, outro})
        kwtest::WriteFile(f, std::string(1 << 20, 'x'));
    fs::last_write_time(copiaVelha, fs::last_write_time(copiaVelha) - std::chrono::hours(1));
    const Execucao um = Rode({"um"});
    EXPECT_EQ(um.codigo, 0) << um.saida;
    EXPECT_FALSE(fs::exists(logVelho));
    EXPECT_FALSE(fs::exists(copiaVelha));
    EXPECT_TRUE(fs::exists(copiaRecente));
    EXPECT_TRUE(fs::exists(outro));
}

// The copy of the executor fails for a cause of the workstation's own (its disk is full; its
// log folder cannot be written, so neither can the history): the error shown names that cause,
// not only the second site's flag, so it is known even where the log cannot be written.
TEST_F(LocalRoad, TheFailureShownNamesTheRealCause) {
    if (!kwtest::CanActAsOtherUser()) GTEST_SKIP() << "needs root (a small file system; a second user)";
    // A full disk: the workstation on a file system with room for less than the new executor.
    {
        const fs::path copia = demo_ / "workstation-copia";
        fs::rename(ws_, copia);
        fs::create_directories(ws_);
        uintmax_t usado = 0;
        for (const auto& f : fs::recursive_directory_iterator(copia))
            if (f.is_regular_file()) usado += f.file_size();
        const uintmax_t tamanho = usado + fs::file_size(site_ / "kwExec.exe") / 2;
        plat::ProcessOptions o;
        o.wait = true;
        o.output = plat::ProcessOutput::Capture;
        const auto m =
            plat::StartProcess("mount",
                               {"-t", "tmpfs", "-o", "size=" + std::to_string(tamanho / 1024 + 256) + "k",
                                "tmpfs", ws_.string()},
                               o);
        KW_REQUIRE_PEER(m.exitCode == 0, "a tmpfs mount: " + m.output);
        struct Desmonta {
            fs::path p;
            ~Desmonta() {
                plat::ProcessOptions w;
                w.wait = true;
                w.output = plat::ProcessOutput::Null;
                plat::StartProcess("umount", {"-l", p.string()}, w);
            }
        } desmonta{ws_};
        for (const auto& f : fs::directory_iterator(copia))
            fs::copy(f.path(), ws_ / f.path().filename(), fs::copy_options::recursive);
        const Execucao e = Rode({"um"});
        EXPECT_NE(e.codigo, 0) << e.saida;
        EXPECT_NE(e.saida.find("fldisponivel2 = N"), std::string::npos) << e.saida;
        EXPECT_NE(e.saida.find("No space left on device"), std::string::npos) << e.saida;
        EXPECT_TRUE(TemTrecho(e.log, "No space left on device")) << e.saida;
    }
    // A log folder this user cannot write: the history cannot be recorded, and no log either.
    fs::remove_all(ws_);
    fs::rename(demo_ / "workstation-copia", ws_);
    Dono(ws_, "nobody");
    fs::create_directories(ws_ / "log");
    fs::permissions(ws_ / "log", fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                     fs::perms::others_read | fs::perms::others_exec);  // root's
    const Execucao e = RodeComo("nobody", {"um"});
    EXPECT_NE(e.codigo, 0) << e.saida;
    EXPECT_NE(e.saida.find("fldisponivel2 = N"), std::string::npos) << e.saida;
    EXPECT_NE(e.saida.find("Causa: "), std::string::npos) << e.saida;
    EXPECT_NE(e.saida.find("kwExec.hst"), std::string::npos) << e.saida;
}

// The executor's requisite on a download-server site: the launcher fetches the new executor
// from the scripted download server (token, question, file), checks it and starts it, and the
// executor carries the rest out from the folder site.
TEST_F(LocalRoad, TheExecutorComesFromADownloadServer) {
    kwtest::DdsServerPeer dds(R"({"oauth": {"access_token": "tok-dds"},
        "files": {"_kwExec.exe": [{"isFile": true, "url": "{SELF}/files/kwExec.exe", "status": null}]},
        "content": {"/files/kwExec.exe": {"file": "kwExec.exe"}}})");
    KW_REQUIRE_PEER(dds.Available(), dds.Reason());
    fs::copy_file(site_ / "kwExec.exe", dds.Files() / "kwExec.exe");
    // The executor alone in the generic system, whose site is the download server; what the
    // generic system had goes to system 1 (the executor copies from folder sites only).
    Sql("update epadObjetoUpdate set cdSistema = 1, cdObjetoUpdate = 6 where nmObjeto = 'leiame.txt'");
    Sql("update epadObjetoUpdate set cdSistema = -1 where nmObjeto = 'kwExec.exe'");
    Sql("update epadLocalUpdate set deLocalUpdate = 'DDS:" + dds.BaseURL() + "/dist/' where cdSistema = -1");

    const Execucao um = Rode({"um"});
    EXPECT_EQ(um.codigo, 0) << um.saida;
    EXPECT_TRUE(
        Contains(um.log, " - " + ws_.string() + "/kwExec.exe desatualizado. Copiando a versão nova..."));
    EXPECT_TRUE(Contains(um.log, " - DebugDDSFileNameToAsk: _kwExec.exe")) << um.saida;
    EXPECT_TRUE(Contains(um.log, " - Download Finalizado")) << um.saida;
    EXPECT_FALSE(TemTrecho(um.log, "tok-dds"));
    EXPECT_EQ(kwtest::ReadFile(ws_ / "kwExec.exe"), kwtest::ReadFile(site_ / "kwExec.exe"));
    ASSERT_EQ(dds.Requests("/oauth/token").size(), 1u);
    EXPECT_EQ(dds.Requests("/oauth/token")[0]["form"]["client_id"].str(), "kwLoader");
    const auto arquivo = dds.Requests("/files/kwExec.exe");
    ASSERT_EQ(arquivo.size(), 1u);
    EXPECT_EQ(arquivo[0]["headers"]["authorization"].str(), "Bearer tok-dds");
    // The executor it fetched runs and carries the change list out.
    ASSERT_TRUE(kwtest::Eventually([&] { return fs::exists(ws_ / "log" / "kwExecDemo.fim"); },
                                   std::chrono::milliseconds(30000)))
        << um.saida;
    EXPECT_EQ(kwtest::ReadFile(ws_ / "log" / "kwExecDemo.fim"), "0\n")
        << kwtest::ReadFile(ws_ / "log" / "kwExecDemo.log");
    EXPECT_EQ(kwtest::ReadFile(ws_ / "leiame.txt"), kwtest::ReadFile(site_ / "leiame.txt"));
}

// ---- The executor from FTP and HTTP sites ------------------------------------------------------

class SitesDoExecutor : public LocalRoad {
protected:
    // The executor alone in the generic system, whose sites are these (what the generic system
    // had goes to system 1: the executor copies from folder sites only).
    void SitesDoSistemaGenerico(const std::string& site1, const std::string& site2, const std::string& usuario) {
        Sql("update epadObjetoUpdate set cdSistema = 1, cdObjetoUpdate = 6 where nmObjeto = 'leiame.txt'");
        Sql("update epadObjetoUpdate set cdSistema = -1 where nmObjeto = 'kwExec.exe'");
        Sql("update epadLocalUpdate set deLocalUpdate = " + rtl::QuotedStr(site1) + ", deLocalUpdate2 = " +
            rtl::QuotedStr(site2) + ", flDisponivel2 = '" + (site2.empty() ? "N" : "S") +
            "', deUsuario = " + rtl::QuotedStr(usuario) + ", deSenha = '' where cdSistema = -1");
    }
    // The executor from the second of two sites of the scheme, the first refusing connections.
    void DoSegundoSiteWeb(const std::string& esquema) {
        ASSERT_FALSE(kwtest::TlsCertificates().empty());
        const kwtest::ScopedEnv confia("SSL_CERT_FILE", kwtest::Cert("ca.pem"));
        kwtest::HttpSite http;
        http.AddFile("kwExec.exe", kwtest::ReadFile(site_ / "kwExec.exe"));
        kwtest::Lighttpd servidor(http, esquema == "https" ? kwtest::LighttpdTls() : std::string());
        KW_REQUIRE_PEER(servidor.Available(), servidor.Reason());
        const kwtest::RefusedPort fora;
        SitesDoSistemaGenerico(esquema + "://" + fora.Address() + "/files/", servidor.Url("/files/", esquema),
                               "");
        const Execucao um = Rode({"um"});
        ExecutorAtualizado(um);
        EXPECT_TRUE(
            TemTrecho(um.log, "Tentativa (1/1) de download por HTTP de " + esquema + "://" + fora.Address()))
            << um.saida;
    }
    // The run copied the site's executor, which starts and carries the change list out.
    void ExecutorAtualizado(const Execucao& e) {
        EXPECT_EQ(e.codigo, 0) << e.saida;
        EXPECT_TRUE(Contains(e.log, " - " + ws_.string() + "/kwExec.exe desatualizado. Copiando a versão nova..."));
        EXPECT_TRUE(Contains(e.log, " - Atualização do kwExec OK")) << e.saida;
        EXPECT_EQ(kwtest::ReadFile(ws_ / "kwExec.exe"), kwtest::ReadFile(site_ / "kwExec.exe"));
        ASSERT_TRUE(kwtest::Eventually([&] { return fs::exists(ws_ / "log" / "kwExecDemo.fim"); },
                                       std::chrono::milliseconds(30000)))
            << e.saida;
        EXPECT_EQ(kwtest::ReadFile(ws_ / "log" / "kwExecDemo.fim"), "0\n")
            << kwtest::ReadFile(ws_ / "log" / "kwExecDemo.log");
        EXPECT_EQ(kwtest::ReadFile(ws_ / "leiame.txt"), kwtest::ReadFile(site_ / "leiame.txt"));
    }
};

// The first site's FTP server does not answer; the second, anonymous and passive, has the file.
TEST_F(SitesDoExecutor, FromTheSecondFtpSiteWhenTheFirstIsDown) {
    kwtest::FtpRoot raiz;
    fs::create_directories(raiz.Path() / "dist");
    raiz.Add("dist/kwExec.exe", kwtest::ReadFile(site_ / "kwExec.exe"));
    kwtest::DaemonPeer ftp("python3", {"-m", "pyftpdlib", "-i", "127.0.0.1", "-p", "{PORT}", "-d",
                                       raiz.Path().string()});
    KW_REQUIRE_PEER(ftp.Available(), ftp.Reason());
    const kwtest::RefusedPort recusa;
    const std::string fora = "FTP:" + recusa.Address() + "\\dist\\";
    SitesDoSistemaGenerico(fora, "ftpPassivo:127.0.0.1:" + std::to_string(ftp.Port()) + "\\dist\\", "anonymous");
    const Execucao um = Rode({"um"});
    ExecutorAtualizado(um);
    EXPECT_TRUE(TemTrecho(um.log, "Não foi possível conectar-se com o servidor de FTP: 127.0.0.1")) << um.saida;
}

TEST_F(SitesDoExecutor, FromAnHttpSite) {
    kwtest::HttpSite http;
    http.AddFile("kwExec.exe", kwtest::ReadFile(site_ / "kwExec.exe"));
    kwtest::Lighttpd servidor(http);
    KW_REQUIRE_PEER(servidor.Available(), servidor.Reason());
    SitesDoSistemaGenerico(servidor.Url("/files/"), "", "");
    ExecutorAtualizado(Rode({"um"}));
}

// The first site (HTTP or HTTPS) does not answer; the second, of the same scheme, has the file.
// Over HTTPS the launcher trusts the test CA only through SSL_CERT_FILE.
TEST_F(SitesDoExecutor, FromTheSecondHttpSiteWhenTheFirstIsDown) {
    DoSegundoSiteWeb("http");
}

TEST_F(SitesDoExecutor, FromTheSecondHttpsSiteWhenTheFirstIsDown) {
    DoSegundoSiteWeb("https");
}

// An FTP failure at the only site: the run ends with the FTP server's own answer.
TEST_F(SitesDoExecutor, AnFtpFailureWithTheOtherSitesOff) {
    kwtest::FtpScript script;
    script.Send("220 kw test\r\n").Reply("331 password\r\n").Reply("530 Login incorrect.\r\n").Close();
    kwtest::FtpScriptPeer peer(script);
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    const std::string antigo = kwtest::ReadFile(ws_ / "kwExec.exe");
    SitesDoSistemaGenerico("FTP:127.0.0.1:" + std::to_string(peer.Port()) + "\\dist\\", "", "kw");
    const Execucao e = Rode({"um"});
    EXPECT_NE(e.codigo, 0);
    const std::string mensagem =
        "Não foi possível tentar a atualização no primeiro local update. Retorno do FTP: \"530 Login incorrect.\"";
    EXPECT_NE(e.saida.find(mensagem), std::string::npos) << e.saida;
    EXPECT_NE(e.saida.find("O segundo local update não está disponível."), std::string::npos) << e.saida;
    EXPECT_EQ(kwtest::ReadFile(ws_ / "kwExec.exe"), antigo);
    EXPECT_EQ(peer.Transcript(), "USER kw\r\nPASS kwloader@localhost\r\n");
}

}  // namespace
