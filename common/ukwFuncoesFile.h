// common/ukwFuncoesFile.h: a file's size and version text.
//
// Both take a path text of either notation (see ukwUpdUtil.h) and never raise: a file that
// cannot be found has size -1, a file without version information an empty version.
#pragma once

#include <cstdint>
#include <string>

// Size in bytes of the file, or -1 when there is no such file (a folder, an unmapped drive
// or a missing file).
int64_t ObtenhaTamanhoArquivo(const std::string& nome);

// The file's version as "major.minor.release.build" in decimal; empty for a file without
// version. On this platform only the launcher's own executable has one (ukwUpdVersao.h).
std::string ObtenhaVersaoArquivo(const std::string& caminho);
