// launcher/ukwUpdLoader.h: the launcher run, TkwUpdLoader: one linear sequence on the main
// thread from the program's start to the start of the update executor or the application.
//
//   another launcher running?  -> log it, start nothing
//   status window shown; workstation identity and "kwCFG.ini" settings logged
//   updating switched off      -> start the application
//   requisites from the server or the database road (ukwUpdEstradaRequisitos.h)
//   wait until the application has closed
//   verification decides       -> start "kwExec.exe" (update) or the application
//
// Any failure in between is logged, the log goes into the status window's details, the task
// line says what happened (or the offline application is started when "qor.ini" asks for
// it), a message box tells the user, and the window stays up modally until closed.
//
// Ownership: the launcher owns its two logs; destroying it writes the main log to
// "log/kwVerify.log" (newest run first). Execute owns the status window and the "qor.ini"
// reader and frees both, once, when it ends. "Another launcher running" is the instance
// marker of the window's class "TfkwUpdLoaderStatus": Execute takes it atomically before it
// creates the window and the window holds it while it exists. "An update running" is the
// marker "TfkwUpdExecStatus", held by the update executor.
//
// Programs are started from argument vectors, so an argument with blanks or quotes reaches
// the program unchanged; the quoted parameter texts appear only in the log.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/ukwUpdLog.h"
#include "launcher/ukwUpdEstradaRequisitos.h"

class TfkwUpdLoaderStatus;
class TkwQorIni;

namespace kwloader_detail {
// The two logs exist before the base object logs its creation, and the main one is written
// to its file after the base object has logged its destruction.
struct LogsDoLoader {
    LogsDoLoader();
    ~LogsDoLoader();
    std::unique_ptr<TkwUpdLog> secundario;
    std::unique_ptr<TkwUpdLog> principal;
    // Called, after the cause was reported, when the log file could not be written.
    std::function<void()> OnLogNaoGravado;
};
}  // namespace kwloader_detail

class TkwUpdLoader : private kwloader_detail::LogsDoLoader, public TkwUpdClasseBasica {
public:
    // Hands the launcher's own path to the version unit, creates the logs, points the
    // settings reader at the main log, logs the working folder and the launcher's version.
    TkwUpdLoader();
    // Logs its end and writes the main log to its file. A log that cannot be written is
    // reported on standard error, with the file and the system's reason in the launcher's
    // words (the program is ending; there is no one to raise to), and OnLogNaoGravado is
    // called.
    ~TkwUpdLoader() override;
    using LogsDoLoader::OnLogNaoGravado;

    // The whole run. checaCRC: the first argument was "/check" (any case).
    void Execute(bool checaCRC);

    void AdicioneConfiguracaoEstacaoNoLog();
    void CarregueConfiguracoesDoINI();
    void ExecuteAtualizacao(bool versionada);
    void ExecuteAplicacao();
    void ExecuteNoNet();
    // The launcher's folder + its upper-cased base name + "APP.exe".
    std::string ObtenhaCaminhoAplicacao() const;

    // The arguments the program was started with, after its own name (main sets them).
    std::vector<std::string> Argumentos;
    // Credentials of the first database connection (main sets them).
    std::string DBUser;
    std::string DBPassword;
    std::string VersaoLoader;
    bool PodeAtualizar = true;
    int32_t CdSistemaGenerico = -1;
    // [KWUPDATE] LocalUpdate; a blank key leaves it at 0.
    int32_t CdLocalUpdate = 0;
    // The status window, while Execute runs; null otherwise.
    TfkwUpdLoaderStatus* Status = nullptr;

    // Whether the last Execute ended in its error path (the program's exit status says so).
    bool Falhou() const { return falhou_; }

    // Replaces a road (tests, and builds that carry another road).
    void DefinaEstradaServidor(std::unique_ptr<TkwUpdEstradaRequisitos> estrada);
    void DefinaEstradaBanco(std::unique_ptr<TkwUpdEstradaRequisitos> estrada);

    // The arguments passed on to the executor and the application: all of them, less a
    // first "/check" (any case).
    std::vector<std::string> ArgumentosRepassados() const;

private:
    void ExecuteEtapas(bool checaCRC);
    // Raises the launcher's exception when the configuration file is missing, a folder,
    // something other than a regular file, or cannot be read, each said as it is.
    void VerifiqueArquivoINI(const std::string& arquivo);
    void TrateFalha(const std::string& mensagem, bool jaRegistrada, bool semLocalUpdate);

    std::unique_ptr<TkwUpdEstradaRequisitos> estradaServidor_;
    std::unique_ptr<TkwUpdEstradaRequisitos> estradaBanco_;
    TkwQorIni* qorIni_ = nullptr;  // while Execute runs
    bool falhou_ = false;
};
