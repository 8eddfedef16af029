// Tests of the status window model: look by executable name, task line and progress, error
// state, details shown and hidden, the save name and file, the catalogue's texts, the
// headless output, and the mailbox through which other threads set the task line.
#include "launcher/ukwUpdLoaderStatus.h"

#include <gtest/gtest.h>

#include <thread>

#include "launcher/LauncherRunTestSupport.h"
#include "common/LauncherBaseTestSupport.h"
#include "platform/InstanceMarker.h"
#include "platform/ui/UserInterface.h"

namespace {

using plat::ui::ColorFromBGR;
using plat::ui::VAlign;

const plat::ui::Control& C(const TfkwUpdLoaderStatus& s, const char* name) {
    return s.Formulario().Find(name);
}

TEST(TfkwUpdLoaderStatus, LookFollowsTheExecutableName) {
    kwtest::HeadlessOutput out;
    struct Case {
        const char* exe;
        bool novo;
    };
    const Case cases[] = {
        {"QOR.exe", true},   {"qoradm.EXE", true}, {"ZUL.exe", true},      {"zuladm.exe", true},
        {"Qor2.exe", false}, {"kwLoader", false},  {"QOR.exe.bak", false}, {"QORADMX.exe", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.exe);
        kwtest::LauncherFolder pasta(c.exe);
        TfkwUpdLoaderStatus s;
        EXPECT_EQ(s.NovoVisual(), c.novo);
        EXPECT_EQ(TfkwUpdLoaderStatus::EhExecutavelPrincipal(), c.novo);
        EXPECT_EQ(s.AlturaInicial(), 265);
        EXPECT_EQ(s.Formulario().width, 448);
        EXPECT_EQ(s.Formulario().className, "TfkwUpdLoaderStatus");
        // Labels size themselves to their text, except the task line.
        EXPECT_FALSE(C(s, "lbTarefa").autoSize);
        EXPECT_TRUE(C(s, "lbVersao").autoSize);
        EXPECT_TRUE(C(s, "lbTitulo").autoSize);

        // Both logos are real pictures built into the program.
        const auto& logo = C(s, "imLogoProjeto");
        ASSERT_TRUE(logo.picture);
        EXPECT_EQ(logo.picture->width, 446);
        EXPECT_EQ(logo.picture->height, 263);
        EXPECT_EQ(logo.picture->rgb.size(), size_t(446 * 263 * 3));

        const auto& tarefa = C(s, "lbTarefa");
        const auto& versao = C(s, "lbVersao");
        const auto& progresso = C(s, "pbProgresso");
        const auto& barra = C(s, "barra_loader");
        if (c.novo) {
            const auto cinza = ColorFromBGR(4868682);
            EXPECT_EQ(cinza, (plat::ui::Color{74, 74, 74}));
            EXPECT_EQ(tarefa.font, (plat::ui::Font{"Segoe UI", 10, false, cinza}));
            EXPECT_EQ(tarefa.top, 110);
            EXPECT_EQ(tarefa.layout, VAlign::Bottom);
            EXPECT_EQ(versao.top, 240);
            EXPECT_EQ(versao.left, 20);
            EXPECT_EQ(versao.align, plat::ui::HAlign::Left);
            EXPECT_EQ(versao.font.color, cinza);
            EXPECT_FALSE(C(s, "lbTitulo").visible);
            EXPECT_EQ(C(s, "lbTitulo").font.color, cinza);
            EXPECT_TRUE(progresso.visible);
            EXPECT_EQ(progresso.maximum, 8);
            EXPECT_EQ(progresso.position, 0);
            EXPECT_FALSE(barra.running);
            EXPECT_EQ(C(s, "pbFechar").font.name, "Segoe UI");
        } else {
            EXPECT_EQ(tarefa.font, (plat::ui::Font{"MS Sans Serif", 8, true, plat::ui::Color{0, 0, 0}}));
            EXPECT_EQ(tarefa.top, 147);
            EXPECT_EQ(tarefa.layout, VAlign::Top);
            EXPECT_EQ(versao.top, 117);
            EXPECT_EQ(versao.align, plat::ui::HAlign::Right);
            EXPECT_TRUE(C(s, "lbTitulo").visible);
            EXPECT_EQ(C(s, "lbTitulo").font,
                      (plat::ui::Font{"Arial", 10, true, plat::ui::Color{64, 128, 128}}));
            EXPECT_FALSE(progresso.visible);
            EXPECT_TRUE(barra.running);
            EXPECT_EQ(barra.caption, "BARRA_LOADER");
        }
        // The working state: no error controls.
        for (const char* n :
             {"pbDetalhes", "shPbDetalhes", "pbFechar", "shPbFechar", "pbSalvarDet", "shSalvarDet"})
            EXPECT_FALSE(C(s, n).visible) << n;
        EXPECT_EQ(C(s, "mmLog").height, 0);
    }
}

TEST(TfkwUpdLoaderStatus, TheTwoLogosDiffer) {
    kwtest::HeadlessOutput out;
    std::shared_ptr<const plat::ui::Picture> novo, antigo;
    {
        kwtest::LauncherFolder pasta("QOR.exe");
        novo = TfkwUpdLoaderStatus().Formulario().Find("imLogoProjeto").picture;
    }
    {
        kwtest::LauncherFolder pasta("Outro.exe");
        antigo = TfkwUpdLoaderStatus().Formulario().Find("imLogoProjeto").picture;
    }
    ASSERT_TRUE(novo && antigo);
    EXPECT_NE(novo->rgb, antigo->rgb);
}

TEST(TfkwUpdLoaderStatus, TaskLineAndProgress) {
    kwtest::HeadlessOutput out;
    struct Case {
        const char* exe;
        int calls;
        int position;
    };
    // The new look counts up to eight steps and stays full; the old look's hidden bar counts
    // to its default maximum of 100.
    const Case cases[] = {{"QOR.exe", 1, 1}, {"QOR.exe", 8, 8}, {"QOR.exe", 11, 8}, {"Qor2.exe", 11, 11}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.exe) + " x" + std::to_string(c.calls));
        kwtest::LauncherFolder pasta(c.exe);
        TfkwUpdLoaderStatus s;
        for (int i = 1; i <= c.calls; ++i)
            s.DefinaTarefa("Passo " + std::to_string(i));
        EXPECT_EQ(C(s, "lbTarefa").caption, "Passo " + std::to_string(c.calls) + "...");
        EXPECT_EQ(C(s, "pbProgresso").position, c.position);
    }
}

TEST(TfkwUpdLoaderStatus, VersionAndDirectTaskText) {
    kwtest::HeadlessOutput out;
    kwtest::LauncherFolder pasta("QOR.exe");
    TfkwUpdLoaderStatus s;
    s.DefinaVersao("Versão do loader: 4.1.0.0");
    EXPECT_EQ(C(s, "lbVersao").caption, "Versão do loader: 4.1.0.0");
    s.DefinaTextoTarefa("Conectando ao servidor de aplicação no seguinte endereço: \r\nhost:211");
    EXPECT_EQ(C(s, "lbTarefa").caption,
              "Conectando ao servidor de aplicação no seguinte endereço: \r\nhost:211");
    EXPECT_EQ(C(s, "pbProgresso").position, 0);  // a direct text is no step
}

TEST(TfkwUpdLoaderStatus, ErrorStateTable) {
    kwtest::HeadlessOutput out;
    struct Case {
        const char* exe;
        const char* texto;
        bool mostrado;
    };
    const Case cases[] = {
        {"Qor2.exe", "01/01/2027 10:00:00 : linha\r\n", true},
        {"QOR.exe", "01/01/2027 10:00:00 : linha\r\n", true},
        {"Qor2.exe", "  \r\n\t", false},
        {"QOR.exe", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.exe) + " [" + c.texto + "]");
        kwtest::LauncherFolder pasta(c.exe);
        TfkwUpdLoaderStatus s;
        const auto corInicial = C(s, "lbTarefa").font.color;
        s.MostreErro(c.texto);
        EXPECT_EQ(C(s, "mmLog").text, c.texto);
        for (const char* n : {"pbDetalhes", "shPbDetalhes", "pbFechar", "shPbFechar"})
            EXPECT_EQ(C(s, n).visible, c.mostrado) << n;
        EXPECT_EQ(C(s, "barra_loader").running, !c.mostrado);
        // Either look: the bar hides with an error and shows again without one.
        EXPECT_EQ(C(s, "pbProgresso").visible, !c.mostrado);
        if (s.NovoVisual()) {
            EXPECT_EQ(C(s, "lbTarefa").font.color, corInicial);
        } else {
            EXPECT_EQ(C(s, "lbTarefa").font.color, ColorFromBGR(c.mostrado ? 255 : 0));
            EXPECT_EQ(C(s, "lbTarefa").font.color, (plat::ui::Color{uint8_t(c.mostrado ? 255 : 0), 0, 0}));
        }
        // The details stay collapsed until asked for.
        EXPECT_EQ(s.Formulario().height, 265);
        EXPECT_EQ(C(s, "mmLog").height, 0);
    }
}

TEST(TfkwUpdLoaderStatus, DetailsShownAndHidden) {
    kwtest::HeadlessOutput out;
    kwtest::LauncherFolder pasta("QOR.exe");
    TfkwUpdLoaderStatus s;
    s.MostreErro("linha 1\r\nlinha 2\r\n");

    struct Step {
        const char* caption;
        int formHeight;
        int memoHeight;
        bool salvar;
        int salvarTop;
        int shSalvarTop;
    };
    // 395 = 100 (memo) + 265 (collapsed height) + 22 (button) + 8; the save button and its
    // frame keep their distance to the bottom edge, below the memo (265..365).
    const Step steps[] = {
        {"Detalhes <<", 395, 100, true, 368, 367},
        {"Detalhes >>", 265, 0, false, 238, 237},
        {"Detalhes <<", 395, 100, true, 368, 367},
    };
    for (const auto& st : steps) {
        s.pbDetalhesClick();
        EXPECT_EQ(C(s, "pbDetalhes").caption, st.caption);
        EXPECT_EQ(s.Formulario().height, st.formHeight);
        EXPECT_EQ(C(s, "Borda").height, st.formHeight);
        EXPECT_EQ(C(s, "mmLog").height, st.memoHeight);
        EXPECT_EQ(C(s, "pbSalvarDet").visible, st.salvar);
        EXPECT_EQ(C(s, "shSalvarDet").visible, st.salvar);
        EXPECT_EQ(C(s, "pbSalvarDet").top, st.salvarTop);
        EXPECT_EQ(C(s, "shSalvarDet").top, st.shSalvarTop);
        if (st.memoHeight > 0) {
            EXPECT_EQ(C(s, "mmLog").top, 265);
            EXPECT_EQ(C(s, "mmLog").left, 5);
            EXPECT_GE(C(s, "pbSalvarDet").top, C(s, "mmLog").top + C(s, "mmLog").height);
        }
        // The buttons of the error state do not move.
        EXPECT_EQ(C(s, "pbDetalhes").top, 209);
        EXPECT_EQ(C(s, "pbFechar").top, 209);
    }
}

TEST(TfkwUpdLoaderStatus, CatalogueTextsFollowTheLanguage) {
    kwtest::HeadlessOutput out;
    struct Case {
        const char* cfg;
        const char* fechar;
        const char* dicaFechar;
        const char* detalhes;
        const char* salvar;
    };
    const Case cases[] = {
        {"", "Fechar", "Fecha o aplicativo", "Detalhes >>", "Salvar..."},
        {"[Geral]\nLingua=10\n", "Cerrar", "Cerrar lo aplicativo", "Detalles >>", "Grabar..."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cfg);
        kwtest::LauncherFolder pasta("QOR.exe");
        pasta.WriteOld("kwCFG.ini", c.cfg);
        TfkwUpdLoaderStatus s;
        EXPECT_EQ(C(s, "pbFechar").caption, c.fechar);
        EXPECT_EQ(C(s, "pbFechar").hint, c.dicaFechar);
        EXPECT_EQ(C(s, "pbDetalhes").caption, c.detalhes);
        EXPECT_EQ(C(s, "pbSalvarDet").caption, c.salvar);
        // The toggled captions are fixed texts in every language.
        s.pbDetalhesClick();
        EXPECT_EQ(C(s, "pbDetalhes").caption, "Detalhes <<");
        s.pbDetalhesClick();
        EXPECT_EQ(C(s, "pbDetalhes").caption, "Detalhes >>");
    }
}

TEST(TfkwUpdLoaderStatus, SaveNameAndFile) {
    kwtest::HeadlessOutput out;
    kwtest::FixedUtcClock relogio;  // 2027-01-15 08:00 UTC
    struct Case {
        const char* exe;
        const char* nome;
    };
    const Case cases[] = {{"Qor.exe", "LOG_QOR_20270115"},
                          {"zuladm.exe", "LOG_ZULADM_20270115"},
                          {"kwLoader", "LOG_KWLOADER_20270115"},
                          {"a.b.exe", "LOG_A_20270115"}};
    for (const auto& c : cases) {
        kwtest::LauncherFolder pasta(c.exe);
        TfkwUpdLoaderStatus s;
        EXPECT_EQ(s.NomeArquivoLogPadrao(), c.nome) << c.exe;
    }

    kwtest::LauncherFolder pasta("QOR.exe");
    TfkwUpdLoaderStatus s;
    s.MostreErro("primeira\r\nsegunda\nterceira\rquarta\r\n");
    const auto arquivo = pasta / "salvo.txt";
    s.SalveDetalhes(arquivo.string());
    EXPECT_EQ(kwtest::ReadFile(arquivo), "primeira\r\nsegunda\r\nterceira\r\nquarta\r\n");
    // A folder that does not exist is a clear error, not a silent loss.
    EXPECT_THROW(s.SalveDetalhes((pasta / "nao-existe" / "x.txt").string()), rtl::Exception);
    // Headless, the save dialog is cancelled: nothing is written and nothing fails.
    s.pbSalvarDetClick();
}

TEST(TfkwUpdLoaderStatus, HeadlessWritesEachNewTaskLine) {
    kwtest::HeadlessOutput out;
    kwtest::LauncherFolder pasta("Qor2.exe");
    {
        TfkwUpdLoaderStatus s;
        s.DefinaTarefa("Carregando o sistema");
        s.Show();
        s.DefinaVersao("Versão do loader: 1.2.3.4");  // not echoed
        s.DefinaTarefa("Aguardando o encerramento da aplicação");
        s.DefinaTarefa("Aguardando o encerramento da aplicação");  // unchanged: written once
        s.DefinaTarefa(
            "Erro ao carregar o sistema.\rFavor entrar em contato com o administrador do sistema.");
        s.Hide();
        s.ShowModal();  // returns at once
    }
    EXPECT_EQ(out.Text(),
              "Carregando o sistema...\n"
              "Aguardando o encerramento da aplicação...\n"
              "Erro ao carregar o sistema.\nFavor entrar em contato com o administrador do sistema....\n");
}

TEST(TfkwUpdLoaderStatus, ClosingNeverFreesTheWindow) {
    kwtest::HeadlessOutput out;
    kwtest::LauncherFolder pasta("QOR.exe");
    TfkwUpdLoaderStatus s;
    s.Show();
    EXPECT_TRUE(s.Visible());
    s.MostreErro("erro\r\n");
    s.pbFecharClick();  // not modal: only hides
    EXPECT_FALSE(s.Visible());
    // Still a whole window: its owner frees it later, once.
    s.DefinaTarefa("depois de fechar");
    EXPECT_EQ(C(s, "lbTarefa").caption, "depois de fechar...");
    s.ShowModal();  // headless: shown and closed at once, ending hidden
    EXPECT_FALSE(s.Visible());
    s.pbFecharClick();
    EXPECT_FALSE(s.Visible());
}

TEST(TfkwUpdLoaderStatus, WorkerThreadsPostThroughTheMailbox) {
    kwtest::HeadlessOutput out;
    kwtest::LauncherFolder pasta("QOR.exe");
    std::shared_ptr<TkwUpdCaixaTarefa> caixa;
    {
        TfkwUpdLoaderStatus s;
        s.DefinaTarefa("Buscando os requisitos do servidor de aplicação");
        caixa = s.CaixaTarefa();
        std::thread worker([caixa] {
            for (int i = 1; i <= 3; ++i)
                caixa->PosteTextoTarefa("Testando conexão " + std::to_string(i));
        });
        worker.join();
        // Posting changed nothing by itself: only the main thread applies it.
        EXPECT_EQ(C(s, "lbTarefa").caption, "Buscando os requisitos do servidor de aplicação...");
        plat::ui::ProcessMessages();
        EXPECT_EQ(C(s, "lbTarefa").caption, "Testando conexão 3");
        EXPECT_TRUE(caixa->Retire().empty());
    }
    // A thread that outlives the window (a timed-out connection) posts into a closed box.
    std::thread late([caixa] { caixa->PosteTextoTarefa("tarde demais"); });
    late.join();
    EXPECT_TRUE(caixa->Retire().empty());
    plat::ui::ProcessMessages();
    const std::string escrito = out.Text();
    EXPECT_NE(escrito.find("Testando conexão 1\nTestando conexão 2\nTestando conexão 3\n"), std::string::npos)
        << escrito;
    EXPECT_EQ(escrito.find("tarde demais"), std::string::npos);
}

TEST(TfkwUpdLoaderStatus, HoldsTheMarkerItIsGivenWhileItExists) {
    kwtest::HeadlessOutput out;
    kwtest::PrivateMarkers markers;
    kwtest::LauncherFolder pasta("QOR.exe");
    auto marcador = std::make_unique<plat::InstanceMarker>("TfkwUpdLoaderStatus");
    ASSERT_TRUE(marcador->TryAcquire());
    {
        TfkwUpdLoaderStatus s(std::move(marcador));
        EXPECT_TRUE(plat::IsInstanceMarkerHeld("TfkwUpdLoaderStatus"));
    }
    EXPECT_FALSE(plat::IsInstanceMarkerHeld("TfkwUpdLoaderStatus"));
}

}  // namespace
