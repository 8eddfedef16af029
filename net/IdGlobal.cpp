// net/IdGlobal.cpp: byte arrays, text helpers, IPv6 text and ticks.
#include "net/IdGlobal.h"

#include <cstring>

#include "platform/Clock.h"
#include "platform/Thread.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

namespace {

[[noreturn]] void RangeError(const char* helper) {
    EIdException::RaiseIdException(rtl::Format("%s: range outside the array.", helper));
}

template <typename T>
TBytes HostOrderBytes(T v) {
    TBytes b(sizeof v);
    std::memcpy(b.data(), &v, sizeof v);
    return b;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHexLetter(char c) { return (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }
int HexValue(char c) {
    if (IsDigit(c)) return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return c - 'a' + 10;
}

// A group of hexadecimal digits as a 16-bit value; false for an empty group, another
// character or a value above FFFF (read with a cap, so no run of digits can overflow).
bool ReadHexGroup(std::string_view s, uint32_t& value) {
    if (s.empty()) return false;
    value = 0;
    for (char c : s) {
        if (!IsDigit(c) && !IsHexLetter(c)) return false;
        value = value * 16 + uint32_t(HexValue(c));
        if (value > 0xFFFF) return false;
    }
    return true;
}

// A decimal byte of a dotted IPv4 tail: 1 to 3 digits, 0..255.
bool ReadDecimalByte(std::string_view s, uint32_t& value) {
    if (s.empty() || s.size() > 3) return false;
    value = 0;
    for (char c : s) {
        if (!IsDigit(c)) return false;
        value = value * 10 + uint32_t(c - '0');
    }
    return value <= 255;
}

}  // namespace

TBytes TextToBytes(std::string_view text, TIdTextEncoding encoding) {
    if (encoding == enNone) EIdException::RaiseIdException("No encoding specified.");
    return TBytes(text.begin(), text.end());
}

TBytes CharToBytes(char c) { return TBytes{uint8_t(c)}; }
TBytes ByteToBytes(uint8_t b) { return TBytes{b}; }
TBytes Int16ToBytes(int16_t v) { return HostOrderBytes(v); }
TBytes Int32ToBytes(int32_t v) { return HostOrderBytes(v); }
TBytes Cardinal32ToBytes(uint32_t v) { return HostOrderBytes(v); }

TBytes CopyBytesPrefix(const TBytes& src, int32_t count) {
    if (count < 0 || size_t(count) > src.size()) RangeError("CopyBytesPrefix");
    return TBytes(src.begin(), src.begin() + count);
}

void CopyBytes(const TBytes& src, int32_t srcIndex, TBytes& dst, int32_t count, int32_t dstIndex) {
    if (count < 0 || srcIndex < 0 || dstIndex < 0 || int64_t(srcIndex) + count > int64_t(src.size()) ||
        int64_t(dstIndex) + count > int64_t(dst.size()))
        RangeError("CopyBytes");
    if (count > 0) std::memmove(dst.data() + dstIndex, src.data() + srcIndex, size_t(count));
}

void AppendBytes(TBytes& dst, std::span<const uint8_t> src) { dst.insert(dst.end(), src.begin(), src.end()); }

void WriteInt32ToBytes(TBytes& dst, int32_t v) {
    if (dst.size() < 4) RangeError("WriteInt32ToBytes");
    std::memcpy(dst.data(), &v, 4);
}

int32_t FirstInteger(const TBytes& bytes) {
    if (bytes.size() < 4) RangeError("FirstInteger");
    int32_t v;
    std::memcpy(&v, bytes.data(), 4);
    return v;
}

void CopyIPv6Bytes(const TBytes& bytes, TIdIPv6Address& address) {
    if (bytes.size() < 16) return;
    for (size_t i = 0; i < 8; ++i) std::memcpy(&address[i], bytes.data() + 2 * i, 2);
}

std::string BytesToText(const TBytes& bytes, int32_t start, int32_t count) {
    if ((!bytes.empty() || start != 0) && (start < 0 || size_t(start) >= bytes.size()))
        EIdException::RaiseIdException("Index out of bounds.");
    if (count < 0 || int64_t(start) + count > int64_t(bytes.size())) count = int32_t(bytes.size()) - start;
    if (count <= 0) return {};
    return std::string(reinterpret_cast<const char*>(bytes.data()) + start, size_t(count));
}

int32_t ReadStreamToBytes(rtl::Stream& stream, TBytes& bytes, int32_t count) {
    const size_t want = count < 0 ? 0 : std::min(size_t(count), bytes.size());
    return want == 0 ? 0 : int32_t(stream.Read(bytes.data(), want));
}

std::string CutAtDelimiter(std::string& text, std::string_view delimiter, bool remove, bool caseSensitive) {
    if (!caseSensitive) return CutAtDelimiterAnyCase(text, delimiter, remove);
    const int p = TextPos(delimiter, text);
    if (p == 0) {
        std::string result = std::move(text);
        text = remove ? std::string() : result;
        return result;
    }
    std::string result = text.substr(0, size_t(p - 1));
    if (remove) text.erase(0, size_t(p - 1) + delimiter.size());
    return result;
}

std::string CutAtDelimiterAnyCase(std::string& text, std::string_view delimiter, bool remove) {
    // The upper-case fold keeps every character's length, so positions carry over.
    const size_t p = delimiter.empty() ? std::string::npos : rtl::PosText(delimiter, text);
    if (p == std::string::npos) {
        std::string result = std::move(text);
        text = remove ? std::string() : result;
        return result;
    }
    std::string result = text.substr(0, p);
    if (remove) text.erase(0, p + delimiter.size());
    return result;
}

int IndexInTextArray(std::string_view text, std::span<const std::string_view> list, bool caseSensitive) {
    for (size_t i = 0; i < list.size(); ++i)
        if (caseSensitive ? list[i] == text : TextIsSame(list[i], text)) return int(i);
    return -1;
}

int IndexInTextArray(std::string_view text, std::initializer_list<std::string_view> list, bool caseSensitive) {
    return IndexInTextArray(text, std::span<const std::string_view>(list.begin(), list.size()), caseSensitive);
}

bool TextIsSame(std::string_view a, std::string_view b) { return rtl::SameText(a, b); }

int TextPos(std::string_view sub, std::string_view text) {
    if (sub.empty()) return 0;
    const size_t p = text.find(sub);
    return p == std::string_view::npos ? 0 : int(p) + 1;
}

bool CharIsInSet(std::string_view text, int position, std::string_view set) {
    if (position < 1) EIdException::RaiseIdException("Invalid ACharPos in CharIsInSet.");
    if (size_t(position) > text.size()) return false;
    return set.find(text[size_t(position) - 1]) != std::string_view::npos;
}

std::string WithTrailingPathDelimiter(std::string_view path) {
    std::string s(path);
    if (s.empty() || s.back() != '/') s += '/';
    return s;
}

bool IsOctalText(std::string_view text) {
    for (char c : text)
        if (c < '0' || c > '7') return false;
    return true;
}

bool IsHexText(std::string_view text) {
    for (char c : text)
        if (!IsDigit(c) && !IsHexLetter(c)) return false;
    return true;
}

bool IsIntegerText(std::string_view text) {
    int64_t v;
    return rtl::TryStrToInt64(text, v);
}

std::string NormalizeIPv6Text(std::string_view input) {
    if (input.empty()) return {};
    std::string t(input);
    if (t.front() == ':') t.insert(t.begin(), '0');
    if (t.back() == ':') t.push_back('0');

    // A "::" at either end stands for zero groups next to the "0" just put there, so such a
    // text may hold one colon more ("1:2:3:4:5:6:7::" is eight groups, RFC 4291 section 2.2).
    const bool doubleColonAtEnd = input.starts_with("::") || input.ends_with("::");
    const int maxColons = doubleColonAtEnd ? 8 : 7;
    int dots = 0;
    int colons = 0;
    size_t firstDot = std::string::npos;
    size_t lastColon = std::string::npos;
    for (size_t i = 0; i < t.size(); ++i) {
        const char c = t[i];
        if (c == '.') {
            if (++dots > 3) return {};
            if (firstDot == std::string::npos) firstDot = i;
        } else if (c == ':') {
            if (++colons > maxColons) return {};
            lastColon = i;
        } else if (IsDigit(c)) {
        } else if (IsHexLetter(c)) {
            if (dots > 0) return {};
        } else {
            return {};
        }
    }
    if (dots != 0 && dots != 3) return {};
    if (dots == 3 && (colons < 2 || colons > maxColons - 1 || lastColon > firstDot)) return {};
    if (dots == 0 && colons < 2) return {};

    std::vector<std::string> fields = rtl::SplitFields(t, ':');
    std::string v4Tail;
    if (dots == 3) {
        v4Tail = fields.back();
        fields.pop_back();
    }
    // Adjacent colons leave one empty field; the text's ends were filled above, so an empty
    // field is always a "::", and only one is allowed.
    int empties = 0;
    int present = dots == 3 ? 2 : 0;
    for (const std::string& f : fields) (f.empty() ? empties : present) += 1;
    if (empties > 1) return {};
    // "::" stands for one or more zero groups (the "0" put at an end being one of them);
    // without it the groups must be all eight.
    const int missing = 8 - present;
    if (empties == 1 ? missing < (doubleColonAtEnd ? 0 : 1) : missing != 0) return {};

    std::string out;
    for (const std::string& f : fields) {
        if (f.empty()) {
            for (int i = 0; i < missing; ++i) out += "0:";
            continue;
        }
        uint32_t v;
        if (!ReadHexGroup(f, v)) return {};
        out += rtl::Format("%x:", v);
    }
    if (dots == 3) {
        const std::vector<std::string> parts = rtl::SplitFields(v4Tail, '.');
        uint32_t b[4];
        for (size_t i = 0; i < 4; ++i)
            if (!ReadDecimalByte(parts[i], b[i])) return {};
        out += rtl::Format("%.2x%.2x:%.2x%.2x:", b[0], b[1], b[2], b[3]);
    }
    out.pop_back();
    return out;
}

std::string IPv6WordsToText(const TIdIPv6Address& address) {
    std::string out;
    for (uint16_t w : address) out += rtl::Format(":%.4x", w);
    return out;
}

uint32_t GetTickCountHighRes() { return plat::GetClock().TickCount(); }

void SleepMs(uint32_t ms) { plat::GetClock().Sleep(ms); }

uint64_t GetCurrentThreadIdentifier() { return plat::CurrentThreadId(); }

void SetThreadNameForDebugger(std::string_view name) { plat::SetCurrentThreadName(name); }
