// transfer/ukwUpdFileUtil.h: moving one file from an update site to the workstation, and the
// small file routines the verification relies on.
//
// CopieArquivo picks the transfer by the source's prefix (any case):
//   "HTTP:" / "HTTPS:"        download over HTTP(S)          (attempt loop, word "HTTP")
//   "FTP:" / "FTPPASSIVO:"    FTP, e.g. FTP:srv\dist\kwExec.exe (attempt loop, word "FTP")
//   "DDS:"                    the download-distribution server
//   anything else             a folder path (local or network drive), copied here
// sets the destination aside under its backup name first ("C:\App\kwExec.exe" ->
// "C:\App\_kwExec.exe"), puts it back when the transfer fails and drops it when it succeeds.
// It never raises: failure is false with the reason in UltimoErro; after a failure, also one
// that ended in an unexpected exception, the old file is back under its own name.
//
// The protocol transfers live in units of their own: HTTP(S) in ukwUpdFileUtilHTTP, FTP in
// ukwUpdFileUtilFTP, the download server in ukwUpdFileUtilDDS (whose patches the tool of
// ukwBinaryPatch applies). The HTTP(S) and FTP downloads write a temporary file beside the
// destination and rename it into place only when the transfer is complete, so a failed
// attempt leaves the destination as the backup step left it.
//
// Paths are texts of either notation (ukwUpdUtil.h); a file is touched only through
// CaminhoLocal. The routines that change or read files take SecaoCriticaArquivos, which is
// re-entrant, since CopieArquivo calls the others while it holds it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/Files.h"

class TkwUpdLog;

// ---- Process-wide settings of the transfers ----------------------------------------------

// Socket and transfer time-out of the HTTP and FTP clients, in milliseconds.
extern int32_t TempoLimiteTransferencia;
// Whether HTTP downloads may use the configured proxy; the executor's self-update switches it.
extern bool UsaProxy;
// Whether HTTPS downloads may offer SSL 2.0.
extern bool PermiteSSL2;

// ---- Addresses ------------------------------------------------------------------------------

bool EhEnderecoHTTP(std::string_view endereco);  // "HTTP:" or "HTTPS:"
bool EhEnderecoFTP(std::string_view endereco);   // "FTP:" or "FTPPASSIVO:"
bool EhEnderecoDDS(std::string_view endereco);   // "DDS:"

// "http://h/d/f" -> "ftp:h\d\f" (an upload to an HTTP site goes by FTP to the same host).
std::string ConvertaHTTPParaFTP(std::string_view endereco);
// Folder part, separator, "_", name part ("_" + name when there is no folder).
std::string NomeArquivoBackup(std::string_view arquivo);
// Folder part, separator, "PATCH_", name part.
std::string NomeArquivoPatch(std::string_view arquivo);

// ---- The copy ---------------------------------------------------------------------------------

// Copies Origem to Destino (see the top of this header). Usuario and Senha are the site's
// credentials (clear password); Site2/Site3 are further download-server addresses, used when
// Disponivel2/Disponivel3 say so (a failed download-server transfer clears Disponivel2);
// NuControle names a patch on the download server, -999 for none. Details go to Log when one
// is given. Never raises.
bool CopieArquivo(const std::string& Origem, const std::string& Destino, const std::string& Usuario,
                  const std::string& Senha, bool UsaBackup, TkwUpdLog* Log, bool& Disponivel2,
                  bool& Disponivel3, const std::string& Site2, const std::string& Site3, int32_t NuControle);

// The attempt loop of the HTTP and FTP transfers: up to MaximoTentativasDownload attempts,
// waiting TempoEsperaSegundosNovaTentativaDownload seconds (plat::GetClock) after each failed
// one, with a detail line per failure. An exception of an attempt counts as a failure, except
// when the count is below 1: then it leaves the loop.
bool ExecuteTentativas(const std::string& protocolo, const std::string& origem, TkwUpdLog* log,
                       const std::function<bool()>& transfira);

// The five routines below raise plat::EPathMappingError for a path on a drive or share
// without a local folder; CopieArquivo turns that into its unexpected-error text.

// Sets the file aside under its backup name (an old backup is deleted first; a missing file
// is no failure). True for FTP and HTTP addresses.
bool FacaBackup(const std::string& arquivo);
// Puts the backup back under the file's name, replacing what the failed transfer left.
bool RestaureBackup(const std::string& arquivo);
// Deletes the backup after a successful transfer.
bool ApagueBackup(const std::string& arquivo);
// Copies a file from a folder site, creating the destination's folder when missing.
bool CopieArquivoLocal(const std::string& origem, const std::string& destino);
// Creates the destination's folder (with its parents) when it does not exist.
bool GarantaPastaDestino(const std::string& destino);

// ---- File helpers ---------------------------------------------------------------------------

// Clears the read-only flag of an existing file; false with the system's text in UltimoErro.
bool RemovaSomenteLeitura(const std::string& caminho);
// What one look at a path finds: its local file, whether a file or a folder is there, and for
// a file that is not hidden the size and time texts of PegueDadosArquivo. The exact name is
// looked at first and the case resolved only when nothing is there, so a present file costs
// one system call. Raises plat::EPathMappingError for a drive or share without a local folder.
struct TDadosArquivo {
    std::string local;
    bool arquivo = false;
    bool pasta = false;
    std::string tamanho;
    std::string dataHora;
};
TDadosArquivo ExamineArquivo(const std::string& caminho);

// ExamineArquivo for the many paths of one verification (a file per requisite, thousands of
// them in a handful of folders): into d, whose texts keep their storage; the launcher's folder
// is taken once, and each folder is opened once and its files looked at within it
// (plat::FileInfoLookup). Meant for one pass: the folders must stay where they are meanwhile.
class TExaminadorArquivos {
public:
    TExaminadorArquivos();
    void Examine(const std::string& caminho, TDadosArquivo& d);

private:
    std::string pastaLauncher_;
    plat::FileInfoLookup pastas_;
};

// Size (low 32 bits, signed decimal) and last-write time (UTC, "DD/MM/YYYY HH:MM:SS" with the
// workstation's separators) of a file; both empty for a missing path, a folder or a hidden file.
void PegueDadosArquivo(const std::string& caminho, std::string& tamanho, std::string& dataHora);
// CRC-32 of the whole file; raises rtl::EFOpenError when it cannot be opened.
uint32_t CalculeCRCArquivo(const std::string& caminho);
// A requisite's checksum text is given: neither empty nor exactly "0".
bool TemCRCInformado(std::string_view crc);
// The path is not the launcher's own executable (compared in upper case).
bool NaoEhOProprioExecutavel(const std::string& caminho);
