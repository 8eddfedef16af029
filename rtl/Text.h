// rtl/Text.h: the 8-bit text helpers the whole system shares.
//
// Text is std::string holding UTF-8. Case-insensitive comparison and case conversion go
// through UpperCase/LowerCase here, which fold ASCII and the Latin-1 letters (à-þ / À-Þ) and
// leave every other byte alone, so "ação" and "AÇÃO" compare equal everywhere in the system.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace rtl {

// Blanks and control characters (every byte up to ' ') are trimmed, as the original's Trim does.
std::string Trim(std::string_view s);
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);

std::string UpperCase(std::string_view s);
std::string LowerCase(std::string_view s);
// <0, 0, >0 comparing the upper-cased texts byte by byte.
int CompareText(std::string_view a, std::string_view b);
bool SameText(std::string_view a, std::string_view b);
bool StartsText(std::string_view prefix, std::string_view s);
bool EndsText(std::string_view suffix, std::string_view s);
// Position of sub in s ignoring case, or npos.
size_t PosText(std::string_view sub, std::string_view s);
bool ContainsText(std::string_view s, std::string_view sub);

// Every field between separators, empty ones included: "a;;b" gives {"a", "", "b"};
// "" gives {""}.
std::vector<std::string> SplitFields(std::string_view s, char sep);
std::string JoinFields(const std::vector<std::string>& fields, char sep);

// Whole decimal numbers only: an optional sign and digits, nothing else (no blanks, no
// fractions, no overflow). StrToInt raises rtl::EConvertError; the others do not.
bool TryStrToInt(std::string_view s, int32_t& value);
bool TryStrToInt64(std::string_view s, int64_t& value);
int32_t StrToInt(std::string_view s);
int64_t StrToInt64(std::string_view s);
int32_t StrToIntDef(std::string_view s, int32_t def);

std::string IntToStr(int64_t v);
// Upper-case hexadecimal, at least `digits` digits.
std::string IntToHex(uint64_t v, int digits);

// Replaces the first (or every) occurrence of from by to, optionally ignoring case.
std::string StringReplace(std::string_view s, std::string_view from, std::string_view to, bool all = true,
                          bool ignoreCase = false);

// Quotes a text with q, doubling any q inside ("a'b" -> "'a''b'").
std::string QuotedStr(std::string_view s, char q = '\'');

}  // namespace rtl
