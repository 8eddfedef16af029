// transfer/ukwBinaryPatch.h: the runner of the patch tool "kwAplicaPatch.exe".
//
// The download server can deliver a patch instead of a whole file; the external tool in the
// launcher's folder turns the old copy and the patch into the new file. AplicarPatch checks
// that the tool and its two input files are there, runs the tool hidden and waits for it,
// processing the program's window messages meanwhile (the launcher has no message loop of its
// own), and fails unless the tool ended with code 0 and produced the file.
//
// The tool's command line is four double-quoted arguments separated by blanks: its bare name,
// the old file, the file to produce and the patch file. Execute splits a command line as a
// Windows program's runtime does and starts its first argument by its full path in the
// launcher's folder (never through a search path), with the bare name as the program's own
// argv[0]; the files are handed over as local paths of this machine. Arguments are quoted so
// that splitting gives each one back unchanged, whatever quotes or backslashes it holds.
#pragma once

#include <cstdint>
#include <string>

#include "rtl/Exception.h"

// An input-output failure of the class library: a file an operation needs is missing, or the
// tool failed.
RTL_EXCEPTION(EInOutError, rtl::Exception);

class TkwBinaryPatch {
public:
    static constexpr const char* kNomeFerramenta = "kwAplicaPatch.exe";

    // Applies the patch: the tool in the launcher's folder turns antigo and patch into novo.
    // Raises EInOutError when the tool, the old file or the patch file is missing (or a name
    // is blank), when the tool ends with another code than 0 (the code is named), and when it
    // ends without producing novo. Paths are texts of either notation (ukwUpdUtil.h).
    static void AplicarPatch(const std::string& antigo, const std::string& novo, const std::string& patch);

    // The tool's command line for the three files, as given.
    static std::string MonteLinhaComando(const std::string& antigo, const std::string& novo,
                                         const std::string& patch);

    // Runs a command line hidden and waits for it, processing the program's window messages;
    // the program's exit code (128 plus the signal for a program ended by one), -1 when it
    // cannot be started, -2 when the pipe for its output cannot be made. With capture, what it
    // writes to its standard output and error is appended to saida.
    int32_t Execute(const std::string& linhaComando, std::string& saida, bool capturar);
};

// The class operation under its plain name.
inline void AplicarPatch(const std::string& antigo, const std::string& novo, const std::string& patch) {
    TkwBinaryPatch::AplicarPatch(antigo, novo, patch);
}
