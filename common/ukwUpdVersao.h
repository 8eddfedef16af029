// common/ukwUpdVersao.h: the launcher's version number, which chooses the layouts of
// its files, the variant of the database query and the form of the executor's self-update
// (below 3300 the oldest forms, 3300 to 4029 the middle ones, 4030 and above the newest).
//
// The number of a version major.minor.release.build is major*1000 + minor*100 + release*10
// + build (4.0.8.7 gives 4087, 4.0.12.0 gives 4120). A file's version is its version
// resource on Windows; on this platform files carry none, so the launcher's own executable
// answers with the build's version (project(kwLoader VERSION a.b.c.d)) and every other file
// has no version. Tests replace the launcher's version to reach each threshold.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct TkwVersaoArquivo {
    uint16_t Major = 0;
    uint16_t Minor = 0;
    uint16_t Release = 0;
    uint16_t Build = 0;
};

// Stores the path of the file whose version ObtenhaNumeroVersao reads; the launcher passes
// its own executable first thing.
void SetLauncherExeName(const std::string& caminho);

// The version number of the stored file, read anew at every call; 0 before SetLauncherExeName,
// for an empty path and for a file without version.
int32_t ObtenhaNumeroVersao();

// The version of a file: the launcher's own executable (whatever notation names it) has the
// build's version (or the one a test set); any other file has none.
std::optional<TkwVersaoArquivo> LeiaVersaoArquivo(const std::string& caminho);

// major*1000 + minor*100 + release*10 + build.
int32_t NumeroDaVersao(const TkwVersaoArquivo& versao);

// Replaces the launcher executable's version (tests); std::nullopt restores the build's.
void SetLauncherVersionOverride(std::optional<TkwVersaoArquivo> versao);
