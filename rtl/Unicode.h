// rtl/Unicode.h: the one place where 8-bit text meets UTF-16.
//
// The system's text is 8-bit; on Linux it is UTF-8. Wire formats that need UTF-16 (variants
// on the application-server wire, PKCS#12 passwords, BMP strings in certificates) convert at
// that boundary with these routines. Bytes that are not valid UTF-8 are taken as Latin-1
// characters (the code page older files were written in), so no text is lost in conversion.
#pragma once

#include <string>
#include <string_view>

namespace rtl {

std::u16string Utf8ToUtf16(std::string_view text);
// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
// What AppendUtf8 does with a surrogate code point: replace it by U+FFFD (well-formed UTF-8),
// or keep it as its three-byte form, for a caller that must carry lone UTF-16 units through.
enum class Surrogates { Replace, Keep };
// One code point in UTF-8 (code points above U+10FFFF become U+FFFD, and so do surrogates
// unless kept).
void AppendUtf8(std::string& out, char32_t cp, Surrogates surrogates = Surrogates::Replace);
// Decodes one code point at text[pos] and advances pos; invalid bytes decode as Latin-1.
// A pos at or past the end raises rtl::EReadError.
char32_t DecodeUtf8(std::string_view text, size_t& pos);
// True when the whole text is well-formed UTF-8.
bool IsValidUtf8(std::string_view text);

}  // namespace rtl
