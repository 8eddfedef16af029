// common/ukwUpdConfig.h: the names of the launcher's folders and files.
//
// Everything lies beside the launcher's executable: the configuration file, the log folder
// "log/" with the launcher's own files (log, change list, requisites, history), and the update
// executor. The names are local paths (ukwUpdUtil.h); asking for a file of the log folder
// creates the folder when it is missing. One instance serves the whole program (kwUpdConfig()).
#pragma once

#include <string>

class TkwUpdConfig {
public:
    // Computes the log folder from the launcher's folder once.
    TkwUpdConfig();

    // The launcher's folder + "log/"; the folder (with any missing parents) is created when
    // it does not exist, at every call.
    std::string GetDiretorioTrabalho() const;
    // The configuration file, evaluated at every call: "ServidorLocalUpdate.ini" in the
    // launcher's folder when the launcher's file name contains "SERVIDORLOCALUPDATE" (any
    // case); otherwise "kwCFG.ini" there, which "_kwCFG.ini" is renamed to first when it is
    // missing.
    std::string GetArquivoINI() const;
    // Log folder + "kwVerify.lcm", the change list for the executor.
    std::string GetArquivoAlteracoes() const;
    // Log folder + "kwExec.hst", the update history.
    std::string GetArquivoHistorico() const;
    // Log folder + "kwExec.req", the requisites file for the executor.
    std::string GetArquivoRequisitos() const;
    // Log folder + "kwVerify.log", the launcher's log.
    std::string GetArquivoLog() const;
    // "kwExec.exe".
    std::string GetNomeExecutor() const;
    // The launcher's folder + "kwExec.exe".
    std::string GetCaminhoExecutor() const;

private:
    std::string diretorioTrabalho_;
};

// The program's instance, created at its first use.
TkwUpdConfig& kwUpdConfig();

// Frees the program's configuration objects (TkwUpdConfig and TkwUpdIni), so the next use
// creates them again for the launcher folder in force (tests). No reference to the old ones
// may be kept.
void ResetConfigurationSingletons();
