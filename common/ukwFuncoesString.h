// common/ukwFuncoesString.h: the launcher's small text routines: fields of a separated
// text, removing a character, upper case, control characters made visible.
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

// Whether a byte is a control character that a text shown to the user (the log, the status
// window, the message box, standard error) must not carry raw: a NUL cuts the line for many
// readers, an escape sequence drives the terminal that shows it. Line breaks and tabs are not.
inline bool EhControleInvisivel(char c) {
    const auto u = static_cast<unsigned char>(c);
    return (u < 0x20 && c != '\r' && c != '\n' && c != '\t') || u == 0x7F;
}

// The text with each such control character written as "\x" and two upper-case hexadecimal
// digits ("\x00" for a NUL); everything else, line breaks included, as it is.
std::string TextoVisivel(std::string_view texto);
// Appends the four characters that show control character c ("\x1B").
void AcrescenteControleVisivel(char c, std::string& destino);
