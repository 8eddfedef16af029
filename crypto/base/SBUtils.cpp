// crypto/base/SBUtils.cpp: byte strings, comparison, hexadecimal, Base64, Unicode, string
// converters and paths. Time texts live in SBUtils_time.cpp, the algorithm lookups in
// SBUtils_oid.cpp, the DSA signature coder in SBUtils_dsa.cpp.
#include "crypto/base/SBUtils.h"

#include <algorithm>
#include <cstring>

#include "rtl/Bytes.h"
#include "rtl/Unicode.h"

std::unique_ptr<TElStringConverter> GlobalStringConverter = std::make_unique<TElPlatformStringConverter>();

// ---------------------------------------------------------------------------------------------
// Byte strings and arrays

ByteString ByteArrayToString(const ByteArray& a) {
    return ByteString(a.begin(), a.end());
}

ByteString ByteArrayRangeToString(const ByteArray& a, int64_t start, int64_t count) {
    if (start < 0 || count <= 0 || start >= int64_t(a.size())) return {};
    const int64_t n = std::min<int64_t>(count, int64_t(a.size()) - start);
    return ByteString(a.begin() + start, a.begin() + start + n);
}

ByteArray StringToByteArray(std::string_view s) {
    return ByteArray(s.begin(), s.end());
}

ByteString ToByteString(std::string_view text) {
    return ByteString(text);
}

ByteString BufferToString(const void* p, int64_t count) {
    if (count <= 0 || p == nullptr) return {};
    return ByteString(static_cast<const char*>(p), size_t(count));
}

ByteArray CloneByteArray(const ByteArray& a) {
    return a;
}

ByteArray CopyBytesRange(const ByteArray& a, int64_t start, int64_t count) {
    if (start < 0 || count <= 0 || start >= int64_t(a.size())) return {};
    const int64_t n = std::min<int64_t>(count, int64_t(a.size()) - start);
    return ByteArray(a.begin() + start, a.begin() + start + n);
}

ByteString Digest128ToString(std::span<const uint8_t, 16> digest) {
    return ByteString(reinterpret_cast<const char*>(digest.data()), digest.size());
}

ByteString ReverseByteString(std::string_view s) {
    return ByteString(s.rbegin(), s.rend());
}

ByteString SwapByteOrder16String(std::string_view s) {
    ByteString r(s);
    SwapByteOrder16Buffer(r.data(), r.size());
    return r;
}

void SwapByteOrder16Buffer(void* p, size_t count) {
    auto* b = static_cast<uint8_t*>(p);
    for (size_t i = 0; i + 1 < count; i += 2)
        std::swap(b[i], b[i + 1]);
}

void ClearString(ByteString& s) {
    rtl::secure_wipe(s.data(), s.size());
    s.clear();
}

void ClearBytes(ByteArray& a) {
    rtl::secure_wipe(a.data(), a.size());
    a.clear();
}

// ---------------------------------------------------------------------------------------------
// Comparison and search

bool AreByteStringsEqual(std::string_view a, std::string_view b) {
    return a == b;
}

bool AreBytesEqualToString(const ByteArray& a, std::string_view s) {
    return a.size() == s.size() && (a.empty() || std::memcmp(a.data(), s.data(), a.size()) == 0);
}

bool AreBuffersEqual(const void* p, const void* q, size_t length) {
    return length == 0 || std::memcmp(p, q, length) == 0;
}

bool AreBuffersEqualCT(const void* p, const void* q, size_t length) {
    return rtl::ct_equal(p, q, length);
}

bool AreByteStringsEqualCT(std::string_view a, std::string_view b) {
    // The lengths of MACs and paddings are public; only the bytes need constant time.
    if (a.size() != b.size()) return false;
    return rtl::ct_equal(a.data(), b.data(), a.size());
}

int64_t FindStringInBytes(std::string_view pattern, const ByteArray& a, int64_t start) {
    if (start < 0) start = 0;
    // Compared without adding, so a start near the top of the range cannot overflow.
    if (pattern.size() > a.size() || start > int64_t(a.size() - pattern.size())) return -1;
    const auto* begin = reinterpret_cast<const char*>(a.data());
    const std::string_view hay(begin, a.size());
    const size_t at = hay.find(pattern, size_t(start));
    return at == std::string_view::npos ? -1 : int64_t(at);
}

int64_t FindStringInBytes(const ByteArray& a, std::string_view pattern, int64_t start) {
    return FindStringInBytes(pattern, a, start);
}

// ---------------------------------------------------------------------------------------------
// Numbers and byte order

uint32_t SwapByteOrder32(uint32_t v) {
    return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}
uint32_t ByteSwap32(uint32_t v) {
    return SwapByteOrder32(v);
}
uint64_t ByteSwap64(uint64_t v) {
    return (uint64_t(SwapByteOrder32(uint32_t(v))) << 32) | SwapByteOrder32(uint32_t(v >> 32));
}

// ---------------------------------------------------------------------------------------------
// Hexadecimal text

std::string BufferToHex(const void* p, size_t count) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    const auto* b = static_cast<const uint8_t*>(p);
    std::string r(count * 2, '0');
    for (size_t i = 0; i < count; ++i) {
        r[2 * i] = kDigits[b[i] >> 4];
        r[2 * i + 1] = kDigits[b[i] & 15];
    }
    return r;
}

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    throw rtl::EConvertError("String contains non-hexadecimal characters");
}

}  // namespace

bool HexToBuffer(std::string_view text, void* buffer, size_t& size) {
    if (text.size() % 2 != 0) return false;
    const size_t needed = text.size() / 2;
    if (size < needed || (buffer == nullptr && needed > 0)) {
        size = needed;
        return false;
    }
    auto* out = static_cast<uint8_t*>(buffer);
    for (size_t i = 0; i < needed; ++i)
        out[i] = uint8_t(HexValue(text[2 * i]) << 4 | HexValue(text[2 * i + 1]));
    size = needed;
    return true;
}

// ---------------------------------------------------------------------------------------------
// Base64

namespace {

constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(uint8_t c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

constexpr size_t kBase64LineLength = 64;

}  // namespace

bool EncodeBase64(const void* input, size_t inputSize, void* output, bool lineBreaks, size_t& outputSize) {
    size_t needed = inputSize * 4 / 3 + 4;
    if (lineBreaks) needed += needed >> 5;
    if (outputSize < needed || output == nullptr) {
        outputSize = needed;
        return false;
    }
    const auto* in = static_cast<const uint8_t*>(input);
    auto* out = static_cast<char*>(output);
    size_t written = 0, onLine = 0;
    const size_t totalBits = inputSize * 8;
    for (size_t bit = 0; bit < totalBits; bit += 6) {
        // Six bits starting at 'bit', most significant bit of each byte first, zero-filled
        // past the last byte.
        const size_t byte = bit / 8, shift = bit % 8;
        unsigned v = unsigned(in[byte]) << 8;
        if (byte + 1 < inputSize) v |= in[byte + 1];
        const unsigned group = (v >> (10 - shift)) & 0x3F;
        out[written++] = kBase64Alphabet[group];
        ++onLine;
        if (lineBreaks && onLine == kBase64LineLength && bit + 6 < totalBits) {
            out[written++] = '\n';
            onLine = 0;
        }
    }
    while (onLine % 4 != 0) {
        out[written++] = '=';
        ++onLine;
    }
    outputSize = written;
    return true;
}

int DecodeBase64(const void* text, size_t length, void* output, size_t& outputSize) {
    const auto* in = static_cast<const uint8_t*>(text);
    size_t lineEnds = 0;
    for (size_t i = 0; i < length; ++i)
        if (in[i] == '\r' || in[i] == '\n') ++lineEnds;
    const size_t needed = (length - lineEnds) * 3 / 4;
    // A null output has no room, whatever size comes with it.
    const size_t room = output == nullptr ? 0 : outputSize;
    if (room < needed) {
        outputSize = needed + 1;
        return BASE64_DECODE_NOT_ENOUGH_SPACE;
    }
    auto* out = static_cast<uint8_t*>(output);
    if (room > 0) std::memset(out, 0, room);
    // Bits gather in an accumulator and only whole bytes are stored: a trailing partial byte
    // (an unpadded or hostile text) is dropped, never written. Every alphabet character adds
    // six bits and their count never exceeds length - lineEnds, so the whole bytes stay within
    // 'needed'.
    size_t written = 0;
    uint32_t acc = 0;
    int pending = 0;
    for (size_t i = 0; i < length; ++i) {
        const uint8_t c = in[i];
        if (c == 0 || c == '\r' || c == '\n') continue;
        if (c == '=') {
            while (i + 1 < length && (in[i + 1] == '\r' || in[i + 1] == '\n'))
                ++i;
            continue;
        }
        const int v = Base64Value(c);
        if (v < 0) {
            outputSize = written;
            return BASE64_DECODE_INVALID_CHARACTER;
        }
        acc = (acc << 6) | uint32_t(v);
        pending += 6;
        if (pending >= 8) {
            pending -= 8;
            out[written++] = uint8_t(acc >> pending);
            acc &= (1u << pending) - 1;
        }
    }
    outputSize = written;
    return BASE64_DECODE_OK;
}

int DecodeBase64Wide(const void* text, size_t byteCount, void* output, size_t& outputSize) {
    if (byteCount % 2 != 0) return BASE64_DECODE_WRONG_DATA_SIZE;
    const auto* in = static_cast<const uint8_t*>(text);
    const size_t units = byteCount / 2;
    // A unit with a high byte is no alphabet character (nor a line end or a NUL to skip): it
    // becomes a byte the decoder refuses, instead of passing for its low byte.
    std::string narrow(units, '\0');
    for (size_t i = 0; i < units; ++i)
        narrow[i] = in[2 * i + 1] == 0 ? char(in[2 * i]) : '\xFF';
    return DecodeBase64(narrow.data(), narrow.size(), output, outputSize);
}

// ---------------------------------------------------------------------------------------------
// Unicode

int WideStringToUTF8(std::u16string_view text, ByteString& result, bool lenient, bool bom) {
    result.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        const bool high = cp >= SBHighSurrogateStart && cp <= SBHighSurrogateEnd;
        const bool low = cp >= SBLowSurrogateStart && cp <= SBLowSurrogateEnd;
        if (high && i + 1 < text.size() && text[i + 1] >= SBLowSurrogateStart &&
            text[i + 1] <= SBLowSurrogateEnd) {
            cp = ((cp - SBHighSurrogateStart) << SBSurrogateShift) + (text[i + 1] - SBLowSurrogateStart) +
                 SBSurrogateOffset;
            ++i;
        } else if ((high || low) && !lenient) {
            // An unpaired surrogate, a high one at the very end included: its three-byte form
            // is not UTF-8, which strict mode promises.
            return UTF_SOURCE_ILLEGAL;
        }
        // Lone surrogates come out as their three-byte forms in lenient mode (strict mode
        // has refused them above).
        rtl::AppendUtf8(result, cp, rtl::Surrogates::Keep);
    }
    if (bom && result.compare(0, SBUTF8BOM.size(), SBUTF8BOM) != 0) result.insert(0, SBUTF8BOM);
    return UTF_CONVERSION_OK;
}

void StringToWideBytes(std::string_view text, ByteString& result) {
    if (!GlobalStringConverter) throw EUnicodeError(SUnicodeNotInitialized);
    result = GlobalStringConverter->AnsiToUTF16(text);
}

ByteString TElStringConverter::ConvertByCharset(std::string_view, std::string_view) {
    throw EUnicodeError(SUnicodeNotInitialized);
}
ByteString TElStringConverter::AnsiToUTF8(std::string_view) {
    throw EUnicodeError(SUnicodeNotInitialized);
}
std::string TElStringConverter::UTF8ToAnsi(std::string_view) {
    throw EUnicodeError(SUnicodeNotInitialized);
}
ByteString TElStringConverter::AnsiToUTF16(std::string_view) {
    throw EUnicodeError(SUnicodeNotInitialized);
}
std::string TElStringConverter::UTF16ToAnsi(std::string_view) {
    throw EUnicodeError(SUnicodeNotInitialized);
}

ByteString TElPlatformStringConverter::ConvertByCharset(std::string_view, std::string_view) {
    throw EUnicodeError(SUnsupportedCharset);
}

// The system code page is UTF-8; going through UTF-16 turns stray bytes into the Latin-1
// characters they stand for, as the conversion from an 8-bit code page would.
ByteString TElPlatformStringConverter::AnsiToUTF8(std::string_view text) {
    return rtl::Utf16ToUtf8(rtl::Utf8ToUtf16(text));
}

std::string TElPlatformStringConverter::UTF8ToAnsi(std::string_view utf8) {
    return rtl::Utf16ToUtf8(rtl::Utf8ToUtf16(utf8));
}

ByteString TElPlatformStringConverter::AnsiToUTF16(std::string_view text) {
    const std::u16string units = rtl::Utf8ToUtf16(text);
    ByteString r(units.size() * 2, '\0');
    for (size_t i = 0; i < units.size(); ++i)
        rtl::store_le16(reinterpret_cast<uint8_t*>(&r[2 * i]), units[i]);
    return r;
}

std::string TElPlatformStringConverter::UTF16ToAnsi(std::string_view utf16le) {
    std::u16string units(utf16le.size() / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i)
        units[i] = char16_t(rtl::load_le16(reinterpret_cast<const uint8_t*>(utf16le.data() + 2 * i)));
    return rtl::Utf16ToUtf8(units);
}

// ---------------------------------------------------------------------------------------------
// Paths

std::string ExtractParentPath(std::string_view path) {
    const size_t at = path.find_last_of("\\/");
    return at == std::string_view::npos ? std::string() : std::string(path.substr(0, at));
}

std::string ExtractLastPathElement(std::string_view path) {
    const size_t at = path.find_last_of("\\/");
    return at == std::string_view::npos ? std::string(path) : std::string(path.substr(at + 1));
}
