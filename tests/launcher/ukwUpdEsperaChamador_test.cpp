// Tests of the wait for the application, on real processes: a copy of a test program runs as
// the application; the clock is a manual one, so two minutes of looks take milliseconds.
#include "launcher/ukwUpdEsperaChamador.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "launcher/LauncherRunTestSupport.h"
#include "platform/Clock.h"
#include "platform/Process.h"
#include "rtl/Text.h"

namespace {

namespace fs = std::filesystem;

// A copy of kwrun_app running from `exe` until Stop (or the end of the object).
class RunningApp {
public:
    explicit RunningApp(fs::path exe) : exe_(std::move(exe)) {
        fs::create_directories(exe_.parent_path());
        kwtest::InstallProg("kwrun_app", exe_);
        kwtest::WriteFile(exe_.string() + ".hold", "");
        plat::ProcessOptions o;
        o.detached = true;
        plat::StartProcess(exe_.string(), {}, o);
        EXPECT_TRUE(kwtest::Eventually([&] { return plat::IsProcessRunning(exe_.string()); }));
    }
    ~RunningApp() { Stop(); }
    void Stop() {
        kwtest::WriteFile(exe_.string() + ".stop", "");
        EXPECT_TRUE(kwtest::Eventually([&] { return !plat::IsProcessRunning(exe_.string()); }));
    }
    std::string Path() const { return exe_.string(); }

private:
    fs::path exe_;
};

TEST(TkwUpdEsperaChamador, NotRunningReturnsAfterOneLook) {
    kwtest::HeadlessOutput ui;  // the wait processes window messages
    kwtest::TempDir dir;
    plat::ManualClock clock;
    plat::ScopedClock scoped(clock);
    kwtest::InstallProg("kwrun_app", dir / "QORAPP.exe");  // present, not running
    TkwUpdEsperaChamador espera((dir / "QORAPP.exe").string());
    int chamadas = 0;
    espera.OnAguardando = [&](const std::string&) { ++chamadas; };
    espera.Aguarde();
    EXPECT_EQ(chamadas, 0);
    EXPECT_EQ(clock.Elapsed(), 0u);
}

TEST(TkwUpdEsperaChamador, WhichProcessesCount) {
    kwtest::TempDir dir;
    RunningApp app(dir / "sistema" / "QORAPP.exe");
    kwtest::InstallProg("kwrun_app", dir / "outra" / "QORAPP.exe");
    struct Case {
        std::string path;
        bool running;
    };
    const std::string base = (dir / "sistema").string();
    const Case cases[] = {
        {app.Path(), true},
        {base + "/qorapp.EXE", true},                      // letter case of the name
        {rtl::UpperCase(base) + "/QORAPP.exe", true},      // letter case of the folders
        {(dir / "outra" / "QORAPP.exe").string(), false},  // a copy elsewhere
        {base + "/QORAPP.ex", false},
        {"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TkwUpdEsperaChamador::AplicacaoEmExecucao(c.path), c.running) << c.path;
}

TEST(TkwUpdEsperaChamador, ProcessPathOfARunningProcess) {
    kwtest::TempDir dir;
    RunningApp app(dir / "QORAPP.exe");
    const auto pids = plat::FindProcessesByPath(app.Path());
    ASSERT_EQ(pids.size(), 1u);
    EXPECT_EQ(TkwUpdEsperaChamador::ObtenhaCaminhoProcesso(pids.front()), fs::canonical(app.Path()).string());
    EXPECT_EQ(TkwUpdEsperaChamador::ObtenhaCaminhoProcesso(-1), "");
}

TEST(TkwUpdEsperaChamador, ReturnsAtTheFirstLookAfterTheApplicationClosed) {
    kwtest::HeadlessOutput ui;  // the wait processes window messages
    kwtest::TempDir dir;
    RunningApp app(dir / "QORAPP.exe");
    plat::ManualClock clock;
    plat::ScopedClock scoped(clock);
    TkwUpdEsperaChamador espera(app.Path());
    std::vector<std::string> textos;
    espera.OnAguardando = [&](const std::string& t) {
        textos.push_back(t);
        if (textos.size() == 3) app.Stop();  // closes during the third pause
    };
    espera.Aguarde();
    ASSERT_EQ(textos.size(), 3u);
    EXPECT_EQ(textos[0], "Aguardando o encerramento da aplicação");
    EXPECT_EQ(clock.Elapsed(), 900u);
}

TEST(TkwUpdEsperaChamador, NeverClosingFailsAfterTheLastLook) {
    kwtest::HeadlessOutput ui;  // the wait processes window messages
    kwtest::TempDir dir;
    RunningApp app(dir / "QORAPP.exe");
    plat::ManualClock clock;
    plat::ScopedClock scoped(clock);
    struct Case {
        int maximo;
        int intervalo;
        bool reticencias;
    };
    const Case cases[] = {{400, 300, false}, {3, 50, true}};
    for (const auto& c : cases) {
        const uint64_t antes = clock.Elapsed();
        TkwUpdEsperaChamador espera(app.Path());
        if (c.maximo != 400) espera.MaximoVerificacoes = c.maximo;
        if (c.intervalo != 300) espera.IntervaloMs = c.intervalo;
        espera.Reticencias = c.reticencias;
        int chamadas = 0;
        std::string ultimo;
        espera.OnAguardando = [&](const std::string& t) {
            ++chamadas;
            ultimo = t;
        };
        try {
            espera.Aguarde();
            FAIL() << "the wait should fail";
        } catch (const rtl::Exception& e) {
            EXPECT_STREQ(e.ClassName(), "Exception");
            EXPECT_EQ(
                e.Message(),
                "A aplicação 'QORAPP.exe' está em uso ou bloqueada por outra aplicação e não é possível "
                "realizar a atualização.");
        }
        // One report and one pause per look: 400 looks 300 ms apart are two minutes.
        EXPECT_EQ(chamadas, c.maximo);
        EXPECT_EQ(clock.Elapsed() - antes, uint64_t(c.maximo) * uint64_t(c.intervalo));
        EXPECT_EQ(ultimo, c.reticencias ? "Aguardando o encerramento da aplicação..."
                                        : "Aguardando o encerramento da aplicação");
    }
}

}  // namespace
