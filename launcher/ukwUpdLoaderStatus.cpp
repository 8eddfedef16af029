// launcher/ukwUpdLoaderStatus.cpp: the status window's layout and behaviour.
//
// The layout reproduces the original form: a 448 x 265 borderless form, client coordinates
// in pixels, fonts in points, colours as the original's values (blue, green, red bytes from
// high to low). The save and close buttons and their frames are anchored to the bottom and
// right edges, so that they sit below the memo when the details are shown.
#include "launcher/ukwUpdLoaderStatus.h"

#include <algorithm>
#include <utility>

#include "common/ukwFuncoesString.h"
#include "common/ukwUpdTranslator.h"
#include "common/ukwUpdUtil.h"
#include "platform/Clock.h"
#include "platform/InstanceMarker.h"
#include "platform/ui/UserInterface.h"
#include "rtl/DateTime.h"
#include "rtl/StringList.h"
#include "rtl/Text.h"

namespace {

using plat::ui::ColorFromBGR;
using plat::ui::Control;
using plat::ui::ControlKind;
using plat::ui::HAlign;
using plat::ui::VAlign;

constexpr int kLarguraForm = 448;
constexpr int kAlturaForm = 265;
constexpr uint32_t clBlack = 0;
constexpr uint32_t clRed = 255;
constexpr uint32_t clWhite = 0xFFFFFF;
constexpr uint32_t clBtnFace = 0xF0F0F0;
constexpr uint32_t clTitulo = 8421440;
constexpr uint32_t clCinzaNovo = 4868682;  // dark grey, 74 in each colour byte

Control Novo(std::string nome, ControlKind tipo, int left, int top, int width, int height) {
    Control c;
    c.name = std::move(nome);
    c.kind = tipo;
    c.left = left;
    c.top = top;
    c.width = width;
    c.height = height;
    return c;
}

Control Forma(std::string nome, int left, int top, int width, int height) {
    Control c = Novo(std::move(nome), ControlKind::Shape, left, top, width, height);
    c.brush = ColorFromBGR(clWhite);
    c.pen = ColorFromBGR(clBlack);
    return c;
}

Control Botao(std::string nome, int left, int top, int width, int height, std::string legenda,
              std::string dica) {
    Control c = Novo(std::move(nome), ControlKind::Button, left, top, width, height);
    c.caption = std::move(legenda);
    c.hint = std::move(dica);
    return c;
}

bool EhBranco(const std::string& texto) {
    return rtl::Trim(texto).empty();
}

}  // namespace

// ---- TkwUpdCaixaTarefa ------------------------------------------------------------------------

void TkwUpdCaixaTarefa::PosteTextoTarefa(std::string texto) {
    std::lock_guard lock(mutex_);
    if (!fechada_) textos_.push_back(std::move(texto));
}

std::vector<std::string> TkwUpdCaixaTarefa::Retire() {
    std::lock_guard lock(mutex_);
    return std::exchange(textos_, {});
}

void TkwUpdCaixaTarefa::Feche() {
    std::lock_guard lock(mutex_);
    fechada_ = true;
    textos_.clear();
}

// ---- TfkwUpdLoaderStatus --------------------------------------------------------------------

TfkwUpdLoaderStatus::TfkwUpdLoaderStatus(std::unique_ptr<plat::InstanceMarker> marcador)
    : marcador_(std::move(marcador)), caixa_(std::make_shared<TkwUpdCaixaTarefa>()) {
    form_.className = "TfkwUpdLoaderStatus";
    form_.caption = "Carregando o Sistema";
    form_.width = kLarguraForm;
    form_.height = kAlturaForm;
    form_.color = ColorFromBGR(clBtnFace);
    form_.font = plat::ui::Font{"MS Sans Serif", 8, false, ColorFromBGR(clBlack)};

    auto& cs = form_.controls;
    {
        Control borda = Forma("Borda", 0, 0, kLarguraForm, kAlturaForm);
        borda.fillsForm = true;
        cs.push_back(borda);
    }
    {
        Control c = Novo("lbTarefa", ControlKind::Label, 5, 147, 436, 31);
        c.caption = "Tarefa ...";
        c.align = HAlign::Center;
        c.font.bold = true;
        c.echo = true;
        cs.push_back(c);
    }
    {
        Control c = Novo("lbVersao", ControlKind::Label, 407, 117, 33, 13);
        c.caption = "Versão";
        c.align = HAlign::Right;
        c.autoSize = true;
        c.anchorRight = true;
        cs.push_back(c);
    }
    cs.push_back(Botao("pbDetalhes", 146, 209, 74, 22, "Detalhes >>", "Mostra os detalhes do erro ocorrido"));
    {
        Control c = Novo("mmLog", ControlKind::Memo, 4, 6, 440, 81);
        cs.push_back(c);
    }
    cs.push_back(Novo("imLogoProjeto", ControlKind::Image, 1, 1, 446, 264));
    cs.push_back(Novo("imLogoCorvane", ControlKind::Image, -3, 204, 4, 49));
    cs.push_back(Botao("pbFechar", 226, 209, 76, 22, "Fechar", "Fecha o aplicativo"));
    cs.push_back(Forma("shPbDetalhes", 145, 208, 76, 24));
    cs.push_back(Forma("shPbFechar", 225, 208, 78, 24));
    {
        Control c = Novo("lbTitulo", ControlKind::Label, 371, 99, 69, 16);
        c.caption = "Verificador";
        c.align = HAlign::Right;
        c.autoSize = true;
        c.font = plat::ui::Font{"Arial", 10, true, ColorFromBGR(clTitulo)};
        cs.push_back(c);
    }
    cs.push_back(Forma("ShapeBarra", 54, 178, 340, 11));
    {
        Control c = Novo("barra_loader", ControlKind::Animation, 58, 180, 330, 7);
        c.transparent = false;
        cs.push_back(c);
    }
    {
        Control c = Forma("shSalvarDet", 340, 237, 102, 24);
        c.visible = false;
        c.anchorBottom = c.anchorRight = true;
        cs.push_back(c);
    }
    {
        Control c = Botao("pbSalvarDet", 341, 238, 100, 22, "Salvar detalhes...",
                          "Salva os detalhes do erro ocorrido em um arquivo a ser selecionado");
        c.visible = false;
        c.anchorBottom = c.anchorRight = true;
        cs.push_back(c);
    }
    {
        Control c = Novo("pbProgresso", ControlKind::ProgressBar, 52, 150, 343, 9);
        c.visible = false;
        cs.push_back(c);
    }
    FormCreate();

    vista_ = plat::ui::CreateFormView(form_);
    vista_->OnClick = [this](const std::string& controle) {
        if (controle == "pbDetalhes") {
            pbDetalhesClick();
        } else if (controle == "pbFechar") {
            pbFecharClick();
        } else if (controle == "pbSalvarDet") {
            pbSalvarDetClick();
        }
    };
    tratador_ = plat::ui::AddMessageHandler([this] { EsvazieCaixa(); });
}

TfkwUpdLoaderStatus::~TfkwUpdLoaderStatus() {
    plat::ui::RemoveMessageHandler(tratador_);
    caixa_->Feche();
    vista_.reset();
}

void TfkwUpdLoaderStatus::FormCreate() {
    alturaInicial_ = form_.height;
    for (const char* nome : {"pbDetalhes", "pbFechar", "shPbDetalhes", "shPbFechar"})
        C(nome).visible = false;
    C("pbFechar").caption = TraduzaSemArgumentos(89);
    C("pbFechar").hint = TraduzaSemArgumentos(90);
    C("pbDetalhes").caption = TraduzaSemArgumentos(6);
    C("pbSalvarDet").caption = TraduzaSemArgumentos(91);
    C("pbSalvarDet").hint = TraduzaSemArgumentos(92);
    EscondaDetalhes();
    CarregueLogotipos();
}

void TfkwUpdLoaderStatus::CarregueLogotipos() {
    novoVisual_ = false;
    TPicture figura;
    auto& logo = C("imLogoProjeto");
    if (EhExecutavelPrincipal()) {
        CarregueImagemJPEG("LOGO_NOVOSTYLEQOR", figura);
        ApliqueNovoVisual();
    } else {
        CarregueImagemJPEG("LOGO_PROJETO", figura);
        auto& barra = C("barra_loader");
        barra.caption = "BARRA_LOADER";  // the drawn animation stands for that clip
        barra.running = true;
    }
    if (!figura.Empty()) {
        auto imagem = std::make_shared<plat::ui::Picture>();
        imagem->width = figura.Width;
        imagem->height = figura.Height;
        imagem->rgb = std::move(figura.RGB);
        logo.picture = std::move(imagem);
    }
}

void TfkwUpdLoaderStatus::ApliqueNovoVisual() {
    novoVisual_ = true;
    const auto cinza = ColorFromBGR(clCinzaNovo);
    for (const char* nome : {"pbDetalhes", "pbFechar", "pbSalvarDet", "mmLog"})
        C(nome).font.name = "Segoe UI";
    auto& titulo = C("lbTitulo");
    titulo.font.name = "Segoe UI";
    titulo.font.color = cinza;
    titulo.visible = false;
    auto& tarefa = C("lbTarefa");
    tarefa.font.name = "Segoe UI";
    tarefa.font.points = 10;
    tarefa.font.bold = false;
    tarefa.font.color = cinza;
    tarefa.top = 110;
    tarefa.layout = VAlign::Bottom;
    auto& versao = C("lbVersao");
    versao.font.name = "Segoe UI";
    versao.font.color = cinza;
    versao.top = 240;
    versao.left = 20;
    versao.align = HAlign::Left;
    auto& progresso = C("pbProgresso");
    progresso.visible = true;
    progresso.position = 0;
    progresso.maximum = 8;
}

void TfkwUpdLoaderStatus::Atualize() {
    vista_->Changed();
    ProcesseMensagens();
}

void TfkwUpdLoaderStatus::DefinaTarefa(const std::string& texto) {
    // Task texts carry values from files and servers: a control character among them is shown,
    // not drawn (a NUL would cut the line, an escape sequence drive a terminal).
    C("lbTarefa").caption = TextoVisivel(texto) + "...";
    auto& progresso = C("pbProgresso");
    progresso.position = std::min(progresso.position + 1, progresso.maximum);
    Atualize();
}

void TfkwUpdLoaderStatus::DefinaVersao(const std::string& texto) {
    C("lbVersao").caption = texto;
    Atualize();
}

void TfkwUpdLoaderStatus::DefinaTextoTarefa(const std::string& texto) {
    C("lbTarefa").caption = TextoVisivel(texto);
    Atualize();
}

void TfkwUpdLoaderStatus::EsvazieCaixa() {
    for (auto& texto : caixa_->Retire()) {
        C("lbTarefa").caption = TextoVisivel(texto);
        vista_->Changed();
    }
}

void TfkwUpdLoaderStatus::MostreErro(const std::string& texto) {
    C("mmLog").text = texto;
    const bool mostrado = !EhBranco(texto);
    for (const char* nome : {"pbDetalhes", "shPbDetalhes", "pbFechar", "shPbFechar"})
        C(nome).visible = mostrado;
    if (!novoVisual_) C("lbTarefa").font.color = ColorFromBGR(mostrado ? clRed : clBlack);
    C("barra_loader").running = !mostrado;
    C("pbProgresso").visible = !mostrado;
    Atualize();
}

void TfkwUpdLoaderStatus::pbDetalhesClick() {
    auto& botao = C("pbDetalhes");
    if (tagDetalhes_ == 0) {
        botao.caption = "Detalhes <<";
        tagDetalhes_ = 1;
        MostreDetalhes();
    } else {
        botao.caption = "Detalhes >>";
        tagDetalhes_ = 0;
        EscondaDetalhes();
    }
    Atualize();
}

void TfkwUpdLoaderStatus::MostreDetalhes() {
    auto& memo = C("mmLog");
    memo.height = 100;
    memo.top = alturaInicial_;
    memo.left = 5;
    form_.SetHeight(100 + alturaInicial_ + C("pbDetalhes").height + 8);
    C("pbSalvarDet").visible = true;
    C("shSalvarDet").visible = true;
}

void TfkwUpdLoaderStatus::EscondaDetalhes() {
    C("mmLog").height = 0;
    form_.SetHeight(alturaInicial_);
    C("pbSalvarDet").visible = false;
    C("shSalvarDet").visible = false;
}

void TfkwUpdLoaderStatus::pbFecharClick() {
    // Closing ends a modal display (or hides the window); the window is freed by its owner
    // alone, never by closing it.
    if (emModal_) {
        vista_->EndModal();
    } else {
        Hide();
    }
}

void TfkwUpdLoaderStatus::pbSalvarDetClick() {
    plat::ui::SaveDialogOptions opcoes;
    opcoes.title = "Salvar como";
    opcoes.fileName = NomeArquivoLogPadrao() + ".txt";
    opcoes.defaultExtension = "txt";
    opcoes.filters = {{"Todos arquivos (*.*)", "*.*"}, {"Arquivos texto (*.txt)", "*.txt"}};
    const auto escolhido = plat::ui::ChooseSaveFile(opcoes);
    if (!escolhido) return;
    try {
        SalveDetalhes(*escolhido);
    } catch (const rtl::Exception& e) {
        // An event handler has no caller to raise to: the user is told, as the platform's
        // own handler of event exceptions would.
        plat::ui::ShowMessageBox(e.Message(), "Erro");
    }
}

std::string TfkwUpdLoaderStatus::NomeArquivoLogPadrao() const {
    const auto hoje = rtl::DateTimeFromTimePoint(plat::GetClock().Now());
    return "LOG_" + ObtenhaNomeBaseExecutavel() + "_" + rtl::FormatDateTime("yyyymmdd", hoje);
}

void TfkwUpdLoaderStatus::SalveDetalhes(const std::string& caminho) const {
    rtl::StringList linhas;
    linhas.SetText(form_.Find("mmLog").text);
    linhas.SaveToFile(caminho);
}

bool TfkwUpdLoaderStatus::EhExecutavelPrincipal() {
    const std::string nome = ObtenhaNomeExecutavel();
    return nome == "QOR.EXE" || nome == "QORADM.EXE" || nome == "ZUL.EXE" || nome == "ZULADM.EXE";
}

void TfkwUpdLoaderStatus::Show() {
    vista_->Show();
    vista_->Changed();
}

void TfkwUpdLoaderStatus::Hide() {
    vista_->Hide();
}

bool TfkwUpdLoaderStatus::Visible() const {
    return vista_->Visible();
}

void TfkwUpdLoaderStatus::ShowModal() {
    emModal_ = true;
    vista_->Changed();
    vista_->ShowModal();
    emModal_ = false;
}

void TfkwUpdLoaderStatus::ProcesseMensagens() {
    plat::ui::ProcessMessages();
}
