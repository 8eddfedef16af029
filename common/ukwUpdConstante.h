// common/ukwUpdConstante.h: the launcher's process-wide last-error text, its file lock
// and its small name tables.
//
// UltimoErro carries the reason of the last failed file operation (file transfer, shell start)
// from the routine that failed to the message the launcher shows; routines that report through
// it return false and never raise. SecaoCriticaArquivos is the one lock of the file operations
// (copy, folder creation, read-only clearing, size and time reads); it is re-entrant because
// the copy calls the other file routines while it holds it. Both live for the whole program.
#pragma once

#include <mutex>
#include <string>
#include <string_view>

// The last-error text. Not locked: the file operations that fill it run on the main thread.
extern std::string UltimoErro;

// The file lock.
extern std::recursive_mutex SecaoCriticaArquivos;

// The display name of an operation code of the requisites ("Nenhuma" for 0 up to "Aplicar
// patch de atualização" for 10); empty for a code outside 0..10, since codes come from
// outside data.
std::string_view NomeTipoOperacao(int codigo);

// "false" or "true", as the verification logs flags.
std::string_view NomeBooleano(bool valor);
