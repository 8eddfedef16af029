// transfer/ukwUpdFileUtilDDS.h: the download-server transfer of the file copy (the "DDS:"
// update sites of ukwUpdFileUtil).
//
// A "DDS:" address names a download server and a file: "DDS:" + scheme "://" host[:port] +
// path, whose last element is the file's name, "_" and the version asked for
// ("DDS:http://srv:8080/dist/kwExec.exe_4087"). BaixeArquivoDDS registers up to three such
// addresses as hosts of one TDDSConnection (each with its own scheme: an https address stays
// https), authenticates at the first that accepts the credentials, asks that host for the
// file (a patch "PATCH_<NAME>_<control>_<version>" when the workstation keeps an old copy and
// a control number is given, otherwise "<NAME>_<version>", the name upper-cased) and
// downloads it to the destination. The connection's log lines and events reach the launcher
// log through a TDDSHandler.
#pragma once

#include <cstdint>
#include <string>

class TkwUpdLog;

// Name and version from an address: the last path element after its "://" (the first two
// characters count as the scheme without one), split at its last "_". An element without
// "_" gives an empty name and the whole element as version.
void ExtraiaNomeEVersao(const std::string& endereco, std::string& nome, std::string& versao);

// The base address a "DDS:" address registers its host under: its own scheme (http or https,
// in lower case; any other scheme counts as http), "://" and the host with its port.
std::string EnderecoBaseDDS(const std::string& endereco);

// The launcher log as the connection's events reach it. No progress bar or task label exists
// in this system, so those operations change nothing.
class TDDSHandler {
public:
    explicit TDDSHandler(TkwUpdLog* log) : log_(log) {}

    // Detail "Iniciando Download (Tamanho %d Bytes)".
    void DownloadBegin(int64_t tamanho);
    void DownloadProgress(int64_t posicao);
    // Detail "Download Finalizado".
    void DownloadEnd();
    void Polling(int32_t restantes);
    // Detail with the connection's log line unchanged.
    void LogLine(const std::string& texto);

    // The text the task label shows before the countdown (none in this system).
    std::string PrefixoRotulo;

private:
    TkwUpdLog* log_;
};

// Fetches one file from the download server to Destino (see the top of this header).
// Addresses 2 and 3 may be empty. True when the whole file arrived and is in place; patch then
// says whether it is a patch (after false it means nothing; it stays true when no host
// accepted the credentials). NuControle -999 means none. Raises what the connection raises
// for answers it cannot read and for a host that is not registered.
bool BaixeArquivoDDS(const std::string& endereco1, const std::string& endereco2, const std::string& endereco3,
                     const std::string& Destino, const std::string& Usuario, const std::string& Senha,
                     int32_t NuControle, bool copiaAntigaExiste, TkwUpdLog* Log, bool& patch);
