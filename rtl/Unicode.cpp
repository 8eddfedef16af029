// rtl/Unicode.cpp: UTF-8 and UTF-16 conversion.
#include "rtl/Unicode.h"

#include "rtl/Exception.h"

namespace rtl {

namespace {

// Length of a well-formed sequence starting at text[pos], or 0 when it is not one.
size_t SequenceLength(std::string_view text, size_t pos) {
    const auto b0 = static_cast<unsigned char>(text[pos]);
    size_t n;
    char32_t min;
    if (b0 < 0x80) return 1;
    if ((b0 & 0xE0) == 0xC0) {
        n = 2;
        min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        n = 3;
        min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        n = 4;
        min = 0x10000;
    } else {
        return 0;
    }
    if (pos + n > text.size()) return 0;
    char32_t cp = b0 & (0x7F >> n);
    for (size_t i = 1; i < n; ++i) {
        const auto b = static_cast<unsigned char>(text[pos + i]);
        if ((b & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return n;
}

}  // namespace

char32_t DecodeUtf8(std::string_view text, size_t& pos) {
    if (pos >= text.size())
        throw EReadError("no character to decode at offset " + std::to_string(pos) + " of a text of " +
                         std::to_string(text.size()) + " bytes");
    const size_t n = SequenceLength(text, pos);
    const auto b0 = static_cast<unsigned char>(text[pos]);
    if (n <= 1) {
        ++pos;
        return b0;  // ASCII, or an invalid byte taken as Latin-1
    }
    char32_t cp = b0 & (0x7F >> n);
    for (size_t i = 1; i < n; ++i)
        cp = (cp << 6) | (static_cast<unsigned char>(text[pos + i]) & 0x3F);
    pos += n;
    return cp;
}

bool IsValidUtf8(std::string_view text) {
    for (size_t pos = 0; pos < text.size();) {
        const size_t n = SequenceLength(text, pos);
        if (n == 0) return false;
        pos += n;
    }
    return true;
}

void AppendUtf8(std::string& out, char32_t cp, Surrogates surrogates) {
    const bool surrogate = cp >= 0xD800 && cp <= 0xDFFF;
    if (cp > 0x10FFFF || (surrogate && surrogates == Surrogates::Replace)) cp = 0xFFFD;
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (size_t pos = 0; pos < text.size();) {
        char32_t cp = DecodeUtf8(text, pos);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += char16_t(0xD800 + (cp >> 10));
            out += char16_t(0xDC00 + (cp & 0x3FF));
        } else {
            out += char16_t(cp);
        }
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        AppendUtf8(out, cp);  // a lone surrogate becomes U+FFFD
    }
    return out;
}

}  // namespace rtl
