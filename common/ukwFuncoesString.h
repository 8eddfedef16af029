// common/ukwFuncoesString.h: the launcher's small text routines: fields of a separated
// text, removing a character, upper case.
//
// Fields are 1-based and counted between occurrences of a separator text (usually ";"); the
// routines never fail: a field that does not exist is empty text.
#pragma once

#include <string>
#include <string_view>

// The text with every occurrence of the character removed.
std::string RemovaCaractere(std::string_view texto, char caractere);

// The N-th field (1-based) of the text split at the separator. Empty when N < 1, when the
// separator is empty or when the text has fewer than N - 1 separators. Field 1 of a text
// without separator is the whole text.
std::string ObtenhaCampo(std::string_view texto, std::string_view separador, int n);

// The number of separator occurrences plus 1 (1 for an empty text); 0 for an empty separator.
int ConteCampos(std::string_view texto, std::string_view separador);

// The text in upper case (ASCII and the Latin-1 letters, as every case-insensitive compare of
// the system folds them).
std::string ConvertaParaMaiusculas(std::string_view texto);
