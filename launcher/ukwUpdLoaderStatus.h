// launcher/ukwUpdLoaderStatus.h: the launcher's status window, TfkwUpdLoaderStatus, as a
// plain model: the form's controls and their state live in a plat::ui::Form, and a view of
// the platform (FLTK on a display, headless otherwise) renders it.
//
// The window shows the product logo, the current task, the launcher's version and either a
// progress bar of eight steps (the new look, for the product's main executables QOR.EXE,
// QORADM.EXE, ZUL.EXE and ZULADM.EXE) or a running animation (the old look). After a failure
// (MostreErro) it shows the log behind a "Detalhes" button, can save it, and is shown modally
// until "Fechar" is pressed.
//
// What must stay true:
//   - the window belongs to whoever created it and is freed once, by that owner: closing it
//     (the "Fechar" button) only ends a modal display or hides it;
//   - every operation that changes what is shown processes pending window messages, since the
//     launcher has no message loop of its own;
//   - only the main thread touches the window. Another thread that wants to change the task
//     line posts its text to the window's mailbox (CaixaTarefa), which the main thread drains
//     whenever it processes messages; the mailbox outlives the window, so a late post from a
//     thread that timed out lands nowhere instead of in freed memory.
//   - while the window exists it holds the instance marker of its class, when given one, so
//     another launcher can see that a launcher is running.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/InstanceMarker.h"
#include "platform/ui/Form.h"
#include "transfer/ukwTelaStatus.h"

namespace plat::ui {
class FormView;
}

// The mailbox through which a worker thread sets the window's task line.
class TkwUpdCaixaTarefa {
public:
    // Any thread: the task line is to show this text (as written, no "..." added).
    void PosteTextoTarefa(std::string texto);
    // Main thread: the texts posted since the last call, oldest first.
    std::vector<std::string> Retire();
    // The window is gone: later posts are dropped.
    void Feche();

private:
    std::mutex mutex_;
    std::vector<std::string> textos_;
    bool fechada_ = false;
};

class TfkwUpdLoaderStatus final : public IkwTelaStatus {
public:
    // Creates the form hidden (logos and look chosen by the launcher's executable name) and
    // keeps the marker, if given, while the window exists.
    explicit TfkwUpdLoaderStatus(std::unique_ptr<plat::InstanceMarker> marcador = nullptr);
    ~TfkwUpdLoaderStatus() override;
    TfkwUpdLoaderStatus(const TfkwUpdLoaderStatus&) = delete;
    TfkwUpdLoaderStatus& operator=(const TfkwUpdLoaderStatus&) = delete;

    // The task line shows the text followed by "..."; the progress bar grows by one step
    // (never past its maximum); pending messages are processed.
    void DefinaTarefa(const std::string& texto);
    // The version line shows the text; pending messages are processed.
    void DefinaVersao(const std::string& texto);
    // The error state: the memo holds the text (the whole log); when the text is not blank
    // the detail and close buttons appear, the animation stops, the progress bar hides and,
    // in the old look, the task line turns red; a blank text undoes all of that.
    void MostreErro(const std::string& texto);
    // Main thread: the task line shows the text exactly as given and is repainted (the server
    // connection objects report their progress this way).
    void DefinaTextoTarefa(const std::string& texto) override;
    // The mailbox for other threads (see the top of this header).
    std::shared_ptr<TkwUpdCaixaTarefa> CaixaTarefa() const { return caixa_; }

    void Show();
    void Hide();
    bool Visible() const;
    // Shows the window modally until it is closed (at once when headless or when the
    // application is terminating).
    void ShowModal();
    void ProcesseMensagens() override;

    // The window's events, also callable directly.
    void pbDetalhesClick();
    void pbFecharClick();
    void pbSalvarDetClick();
    void MostreDetalhes();
    void EscondaDetalhes();

    // "LOG_" + the launcher's upper-cased base name + "_" + today's date as YYYYMMDD.
    std::string NomeArquivoLogPadrao() const;
    // Writes the memo's lines to the file, each followed by CR LF; raises rtl::EFOpenError
    // when the file cannot be written.
    void SalveDetalhes(const std::string& caminho) const;

    // The launcher's file name is one of the product's main executables (the new look).
    static bool EhExecutavelPrincipal();

    int AlturaInicial() const { return alturaInicial_; }
    bool NovoVisual() const { return novoVisual_; }
    const plat::ui::Form& Formulario() const { return form_; }
    plat::ui::FormView& Vista() { return *vista_; }

private:
    void FormCreate();
    void CarregueLogotipos();
    void ApliqueNovoVisual();
    void Atualize();
    void EsvazieCaixa();
    plat::ui::Control& C(std::string_view nome) { return form_.Find(nome); }

    plat::ui::Form form_;
    std::unique_ptr<plat::ui::FormView> vista_;
    std::unique_ptr<plat::InstanceMarker> marcador_;
    std::shared_ptr<TkwUpdCaixaTarefa> caixa_;
    int tratador_ = 0;
    int alturaInicial_ = 0;
    bool novoVisual_ = false;
    int tagDetalhes_ = 0;
    bool emModal_ = false;
};
