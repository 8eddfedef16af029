// database/drivers/SDPgSQLText.cpp: PostgreSQL literals and the decoders of the server's text
// forms (unit SDPgSQL).
//
// Literals are escape-string literals (E'...'): their backslashes mean the same whatever the
// server's standard_conforming_strings, which a plain '...' literal does not (with the
// setting on, the default, a backslash written to escape a quote is taken literally and the
// quote ends the value). Quotes are doubled rather than backslashed, so that a reader of the
// statement that knows only the SQL quoting rule still finds the literal's end.
//
// The decoders read outside input (what the server sends): each checks every byte it reads
// against what is left, and a malformed text gives false and nothing else.
#include <algorithm>
#include <charconv>
#include <vector>

#include "database/drivers/SDPgSQL.h"
#include "database/drivers/SDSqlLiterals.h"
#include "rtl/DatabaseError.h"
#include "rtl/Format.h"

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsOctal(char c) {
    return c >= '0' && c <= '7';
}

// bytea's hex form after its "\x": pairs of hexadecimal digits.
bool DecodeHexForm(const char* text, size_t length, rtl::ByteArray& bytes, std::string& error) {
    if (length % 2 != 0) {
        error = "Invalid hexadecimal bytea value (odd number of digits) in Blob field";
        return false;
    }
    rtl::ByteArray out(length / 2);
    for (size_t i = 0; i < length; i += 2) {
        const int high = HexValue(text[i]);
        const int low = HexValue(text[i + 1]);
        if (high < 0 || low < 0) {
            // 1-based, counting the "\\x" in front.
            error = rtl::Format("Invalid hexadecimal digit(offset:%d) in Blob field", int64_t(i + (high < 0 ? 3 : 4)));
            return false;
        }
        out[i / 2] = uint8_t(high << 4 | low);
    }
    bytes = std::move(out);
    return true;
}

// bytea's escape form: backslash-quote and a doubled backslash stand for themselves, a
// backslash and three octal digits for that byte; a backslash that ends the text is dropped.
bool DecodeEscapeForm(const char* text, size_t length, rtl::ByteArray& bytes, std::string& error) {
    rtl::ByteArray out;
    out.reserve(length);
    size_t i = 0;
    while (i < length) {
        const char c = text[i];
        if (c != '\\') {
            out.push_back(uint8_t(c));
            ++i;
            continue;
        }
        if (i + 1 >= length) break;
        const char next = text[i + 1];
        if (next == '\\' || next == '\'') {
            out.push_back(uint8_t(next));
            i += 2;
            continue;
        }
        // Three octal digits of at most 377.
        if (i + 3 < length && next >= '0' && next <= '3' && IsOctal(text[i + 2]) && IsOctal(text[i + 3])) {
            out.push_back(uint8_t((next - '0') << 6 | (text[i + 2] - '0') << 3 | (text[i + 3] - '0')));
            i += 4;
            continue;
        }
        error = rtl::Format("Invalid octal number format(offset:%d) in Blob field", int64_t(i + 2));
        return false;
    }
    bytes = std::move(out);
    return true;
}

}  // namespace

std::string PgStringLiteral(const std::string& text) {
    if (text.find('\0') != std::string::npos) rtl::DatabaseError("A PostgreSQL text value cannot hold a zero byte");
    std::string out = "E'";
    out.reserve(text.size() + 4);
    for (char c : text) {
        if (c == '\'' || c == '\\') out += c;
        out += c;
    }
    out += '\'';
    return out;
}

std::string PgByteaLiteral(const rtl::ByteArray& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out = "E'\\\\x";
    out.reserve(bytes.size() * 2 + 6);
    for (uint8_t b : bytes) {
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
    }
    out += '\'';
    return out;
}

std::string PgParamLiteral(const TParam& param) {
    static const TSqlLiteralDialect kPg{"TRUE", "FALSE", PgByteaLiteral, PgStringLiteral};
    return ParamLiteral(param, kPg);
}

bool DecodePgBytea(const char* text, size_t length, rtl::ByteArray& bytes, std::string& error) {
    if (text == nullptr) length = 0;
    if (length >= 2 && text[0] == '\\' && text[1] == 'x') return DecodeHexForm(text + 2, length - 2, bytes, error);
    return DecodeEscapeForm(text, length, bytes, error);
}

bool DecodePgMoney(const char* text, size_t length, double& value) {
    if (text == nullptr) return false;
    // The amount's digits, where each separator stood among them, and the sign; currency
    // symbols and blanks (in any encoding) are passed over.
    std::string digits;
    struct Separator {
        char c;
        size_t digitsBefore;
    };
    std::vector<Separator> separators;
    bool negative = false;
    for (size_t i = 0; i < length; ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            digits += c;
        } else if (c == '.' || c == ',') {
            if (!digits.empty()) separators.push_back({c, digits.size()});
        } else if (c == '-' || c == '(') {
            negative = true;
        }
    }
    if (digits.empty()) return false;
    // The decimal separator is the last separator when both kinds occur, and a lone one unless
    // three digits follow it (then it groups thousands, as in "¥1,234").
    size_t decimals = 0;
    if (!separators.empty()) {
        const Separator& last = separators.back();
        const bool mixed = std::any_of(separators.begin(), separators.end(),
                                       [&](const Separator& s) { return s.c != last.c; });
        const size_t after = digits.size() - last.digitsBefore;
        const bool lone = separators.size() == 1;
        if (mixed || (lone && after != 3)) decimals = after;
    }
    std::string number = digits.substr(0, digits.size() - decimals);
    if (number.empty()) number = "0";
    if (decimals > 0) number += "." + digits.substr(digits.size() - decimals);
    double v = 0;
    const auto r = std::from_chars(number.data(), number.data() + number.size(), v);
    if (r.ec != std::errc() || r.ptr != number.data() + number.size()) return false;
    value = negative ? -v : v;
    return true;
}
