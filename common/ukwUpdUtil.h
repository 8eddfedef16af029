// common/ukwUpdUtil.h: the launcher's own names and folders, the routines that build
// paths and command lines from the requisites' notation, the shell start, and the JPEG
// pictures built into the program.
//
// Two kinds of path text meet here, and one rule keeps them apart:
//   - Texts from requisites and settings are in Windows notation ("bin", "$\system32",
//     "C:\Dados", "\\servidor\pasta", "ftp:host\pasta\"). NormalizeDiretorio, ExpandaCaminho,
//     MonteLinhaComando, MonteCaminhoOrigem and JunteTextosEntreAspas work on those texts as
//     written, with backslashes, so their results are the same on every platform.
//   - The launcher's own folder (ObtenhaDiretorioExecutavel), the Windows folder
//     (ObtenhaDiretorioWindows) and the files named by TkwUpdConfig are local paths of this
//     machine, ending in '/' when they name a folder.
// A text of either kind (or a mix, such as the launcher's folder followed by "bin\") becomes a
// file of this machine only where a file is touched, through CaminhoLocal, which applies the
// platform's Windows-path mapping: '\' to '/', "X:\" under KW_DRIVE_X, "$\" under the Windows
// folder, "\\server\share" under KW_UNC_ROOT; a local path maps to itself.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "rtl/Exception.h"

// ---- The launcher's own executable ------------------------------------------------------

// The launcher's full executable path (local).
std::string ObtenhaCaminhoExecutavel();
// The launcher's file name without folder, in upper case ("QOR.EXE").
std::string ObtenhaNomeExecutavel();
// That name up to (not including) its first "."; the whole name when it has none ("QOR").
std::string ObtenhaNomeBaseExecutavel();
// The launcher's folder, ending in '/'.
std::string ObtenhaDiretorioExecutavel();
// The folder that stands for the Windows folder (KW_WINDIR, else the launcher's folder +
// "windows/"), ending in '/'; already a folder in normal form.
std::string ObtenhaDiretorioWindows();
// Always false: this platform is of no "Windows 9x" family.
bool EhWindows9x();

// Makes the launcher believe its executable is at `path` (a local path), so tests can build
// a launcher folder anywhere; an empty path restores the real executable.
void SetExecutablePathOverride(const std::string& path);

// ---- Errors ---------------------------------------------------------------------------------

// The system's text for an error number (errno on this platform), then " (", the number in
// decimal and ")": "No such file or directory (2)".
std::string DescrevaErroSistema(int codigo);
// The launcher's sentence for a file that could not be written: "Erro ao gravar o arquivo
// \"<arquivo>\". Mensagem de erro: " and the system's reason the failure carries
// (DescrevaErroSistema), or the failure's own text when it carries none.
std::string MensagemErroGravacao(const std::string& arquivo, const std::exception& falha);

// ---- Texts and paths in the requisites' notation -------------------------------------------

// A folder text in normal form: blanks trimmed at both ends, runs of backslashes collapsed to
// one, one leading "\" dropped (so "\x" is relative to the launcher's folder), a final
// backslash added to a non-empty text. A network path keeps its leading "\\" (collapsing it
// to "\" and then dropping that would make a share a folder of the launcher's).
std::string NormalizeDiretorio(std::string_view texto);

// The two texts joined, less a double quote that ends the first and one that starts the
// second; a non-empty result that contains a double quote but does not start with one gets
// one in front.
std::string JunteTextosEntreAspas(std::string_view primeiro, std::string_view segundo);

// The full form of a destination folder of the requisites, on its normal form n:
//   "$\..."     the Windows folder followed by the rest;
//   "X:\..."    n itself (a drive path);
//   "\\..."    n itself (a network path);
//   "$CMD..."   "cmd /c " followed by the rest;
//   otherwise   the launcher's folder followed by n (a Linux path from the root included).
std::string ExpandaCaminho(std::string_view destino);

// Whether a requisite's destination folder and object name, joined, would land outside the
// place they name: the launcher's folder for a relative folder, the Windows folder for "$\".
// The check is on the text ("." and ".." and separators of either kind, before any mapping),
// so no file is looked at. Drive and network paths are clamped to their mapped folder when
// they are mapped (plat::MapWindowsPath) and never escape.
bool DestinoForaDaEstacao(std::string_view pasta, std::string_view objeto);

// JunteTextosEntreAspas(ExpandaCaminho(programa), parametros): the full path of a
// requisite's object from its destination folder and name.
std::string MonteLinhaComando(std::string_view programa, std::string_view parametros);

// The address of a file on an update site: address + folder + file name, where an FTP
// address ("FTP..." in any case) gets a final "\" and has every "/" turned into "\", an HTTP
// address ("HTTP..." in any case) gets a final "/" and has every "\" turned into "/", and any
// other address (a folder path, "DDS:") is joined unchanged.
std::string MonteCaminhoOrigem(std::string_view endereco, std::string_view pasta, std::string_view arquivo);

// The local file for a path text of either kind (see the top of this header). Raises
// plat::EPathMappingError for a drive or network path that has no local folder.
std::string CaminhoLocal(std::string_view caminho);

// ---- Starting programs ---------------------------------------------------------------------

// Starts a program without waiting for it (detached, shown normally: its output is ours). The
// file is a path text of either kind. On failure UltimoErro becomes catalogue message 30 with
// the file and the reason, and the result is false; UltimoErro is not emptied on success.
bool ExecuteComShell(const std::string& arquivo, const std::vector<std::string>& argumentos);
// The same with the parameters as one Windows command-line text, split the way a Windows
// program splits its own command line ("\"a b\" c" gives two arguments).
bool ExecuteComShell(const std::string& arquivo, const std::string& parametros);

// ---- Pictures built into the program -------------------------------------------------------

// A decoded picture: Width x Height pixels, rows from the top, 3 bytes (red, green, blue)
// per pixel.
struct TPicture {
    int Width = 0;
    int Height = 0;
    std::vector<uint8_t> RGB;
    bool Empty() const { return Width == 0 || Height == 0; }
};

// A JPEG resource that is not a picture libjpeg can decode.
RTL_EXCEPTION(EJPEG, rtl::Exception);

// Decodes the program's resource of that name (any case) and type "JPEG" into the picture.
// A missing or empty resource leaves the picture unchanged; bytes that are not a decodable
// JPEG raise EJPEG and also leave it unchanged.
void CarregueImagemJPEG(std::string_view nomeRecurso, TPicture& imagem);
