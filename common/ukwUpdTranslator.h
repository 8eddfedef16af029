// common/ukwUpdTranslator.h: the message catalogue: every text the launcher and its
// file transfer show to the user, by number, in Portuguese or Spanish.
//
// Numbers run from 1 to 96 (41 has no text). The Spanish text of a number takes the same
// placeholders in the same order as the Portuguese one, so callers pass the same arguments
// whatever the language. Texts are format patterns and go through rtl::Format with the
// caller's arguments only: a mismatch raises rtl::EConvertError, never undefined behaviour.
//
// The language is read once, at the first text asked for, from "kwCFG.ini" in the launcher's
// folder (whatever configuration file the launcher otherwise uses): section "Geral", key
// "Lingua", else key "Idioma"; "10" selects Spanish, anything else Portuguese.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "rtl/Format.h"

enum class TkwIdioma { Portugues, Espanhol };

// The language in use (read at the first call).
TkwIdioma IdiomaAtual();
// Forgets the language read, so the next text reads it again (tests build launcher folders
// with different settings).
void RecarregueIdioma();

// The format pattern of a number in a language; empty for 0, 41, negatives and numbers
// above 96.
std::string_view TextoCatalogo(int numero, TkwIdioma idioma);

// The text of a number in the current language formatted with the arguments; empty (and the
// arguments not looked at) for a number without text.
std::string TraduzaV(int numero, std::span<const rtl::FormatArg> argumentos);

template <typename... Args>
std::string Traduza(int numero, const Args&... argumentos) {
    if constexpr (sizeof...(Args) == 0) {
        return TraduzaV(numero, {});
    } else {
        const rtl::FormatArg lista[] = {rtl::FormatArg(argumentos)...};
        return TraduzaV(numero, std::span<const rtl::FormatArg>(lista, sizeof...(Args)));
    }
}

// Traduza without arguments, for texts without placeholders.
std::string TraduzaSemArgumentos(int numero);
