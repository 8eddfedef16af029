// rtl/Text.cpp: 8-bit text helpers.
#include "rtl/Text.h"

#include <charconv>

#include "rtl/Exception.h"

namespace rtl {

namespace {

bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

// Folds one character of s at i into out; returns how many bytes were consumed.
// upper: a-z -> A-Z and U+00E0..U+00FE (but U+00F7) -> U+00C0..U+00DE; lower the reverse.
size_t FoldAt(std::string_view s, size_t i, bool upper, std::string& out) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
        if (upper && c >= 'a' && c <= 'z')
            out += char(c - 32);
        else if (!upper && c >= 'A' && c <= 'Z')
            out += char(c + 32);
        else
            out += char(c);
        return 1;
    }
    // U+00C0..U+00FF are 0xC3 and one continuation byte. A 0xC3 followed by anything else is
    // a stray byte (a Latin-1 file): it must not swallow the next character unfolded.
    if (c == 0xC3 && i + 1 < s.size() && (static_cast<unsigned char>(s[i + 1]) & 0xC0) == 0x80) {
        const auto d = static_cast<unsigned char>(s[i + 1]);
        out += char(c);
        if (upper && d >= 0xA0 && d <= 0xBE && d != 0xB7)
            out += char(d - 0x20);
        else if (!upper && d >= 0x80 && d <= 0x9E && d != 0x97)
            out += char(d + 0x20);
        else
            out += char(d);
        return 2;
    }
    out += char(c);
    return 1;
}

std::string Fold(std::string_view s, bool upper) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();)
        i += FoldAt(s, i, upper, out);
    return out;
}

template <typename T>
bool TryParse(std::string_view s, T& value) {
    if (s.empty()) return false;
    const char* b = s.data();
    const char* e = s.data() + s.size();
    if (*b == '+') {  // from_chars takes '-' but not '+'
        ++b;
        if (b == e || *b == '-') return false;
    }
    T v{};
    auto [p, ec] = std::from_chars(b, e, v, 10);
    if (ec != std::errc() || p != e) return false;
    value = v;
    return true;
}

}  // namespace

std::string Trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b]))
        ++b;
    while (e > b && IsBlank(s[e - 1]))
        --e;
    return std::string(s.substr(b, e - b));
}

std::string TrimLeft(std::string_view s) {
    size_t b = 0;
    while (b < s.size() && IsBlank(s[b]))
        ++b;
    return std::string(s.substr(b));
}

std::string TrimRight(std::string_view s) {
    size_t e = s.size();
    while (e > 0 && IsBlank(s[e - 1]))
        --e;
    return std::string(s.substr(0, e));
}

std::string UpperCase(std::string_view s) {
    return Fold(s, true);
}
std::string LowerCase(std::string_view s) {
    return Fold(s, false);
}

int CompareText(std::string_view a, std::string_view b) {
    const std::string ua = UpperCase(a), ub = UpperCase(b);
    const int c = ua.compare(ub);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

bool SameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;  // folding never changes a length
    // ASCII texts (most names) are compared in place, without two folded copies.
    for (size_t i = 0; i < a.size(); ++i) {
        const auto x = static_cast<unsigned char>(a[i]);
        const auto y = static_cast<unsigned char>(b[i]);
        if ((x | y) >= 0x80) return UpperCase(a.substr(i)) == UpperCase(b.substr(i));
        if (x == y) continue;
        const unsigned lx = x | 0x20u;  // the same letter in either case differs in this bit only
        if (lx != (y | 0x20u) || lx < 'a' || lx > 'z') return false;
    }
    return true;
}

bool StartsText(std::string_view prefix, std::string_view s) {
    return prefix.size() <= s.size() && SameText(prefix, s.substr(0, prefix.size()));
}

bool EndsText(std::string_view suffix, std::string_view s) {
    return suffix.size() <= s.size() && SameText(suffix, s.substr(s.size() - suffix.size()));
}

size_t PosText(std::string_view sub, std::string_view s) {
    return UpperCase(s).find(UpperCase(sub));
}

bool ContainsText(std::string_view s, std::string_view sub) {
    return PosText(sub, s) != std::string::npos;
}

std::vector<std::string> SplitFields(std::string_view s, char sep) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        const size_t p = s.find(sep, start);
        if (p == std::string_view::npos) {
            out.emplace_back(s.substr(start));
            return out;
        }
        out.emplace_back(s.substr(start, p - start));
        start = p + 1;
    }
}

std::string JoinFields(const std::vector<std::string>& fields, char sep) {
    std::string out;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i) out += sep;
        out += fields[i];
    }
    return out;
}

bool TryStrToInt(std::string_view s, int32_t& value) {
    return TryParse(s, value);
}
bool TryStrToInt64(std::string_view s, int64_t& value) {
    return TryParse(s, value);
}

int32_t StrToInt(std::string_view s) {
    int32_t v;
    if (!TryStrToInt(s, v)) throw EConvertError("'" + std::string(s) + "' is not a valid integer value");
    return v;
}

int64_t StrToInt64(std::string_view s) {
    int64_t v;
    if (!TryStrToInt64(s, v)) throw EConvertError("'" + std::string(s) + "' is not a valid integer value");
    return v;
}

int32_t StrToIntDef(std::string_view s, int32_t def) {
    int32_t v;
    return TryStrToInt(s, v) ? v : def;
}

std::string IntToStr(int64_t v) {
    return std::to_string(v);
}

std::string IntToHex(uint64_t v, int digits) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    do {
        out.insert(out.begin(), kHex[v & 15]);
        v >>= 4;
    } while (v != 0);
    if (int(out.size()) < digits) out.insert(0, size_t(digits) - out.size(), '0');
    return out;
}

std::string StringReplace(std::string_view s, std::string_view from, std::string_view to, bool all,
                          bool ignoreCase) {
    if (from.empty()) return std::string(s);
    const std::string hay = ignoreCase ? UpperCase(s) : std::string(s);
    const std::string needle = ignoreCase ? UpperCase(from) : std::string(from);
    std::string out;
    size_t start = 0;
    for (;;) {
        const size_t p = hay.find(needle, start);
        if (p == std::string::npos) break;
        out.append(s.substr(start, p - start));
        out.append(to);
        start = p + from.size();
        if (!all) break;
    }
    out.append(s.substr(start));
    return out;
}

std::string QuotedStr(std::string_view s, char q) {
    std::string out(1, q);
    for (char c : s) {
        out += c;
        if (c == q) out += q;
    }
    out += q;
    return out;
}

}  // namespace rtl
