// crypto/keys/SBPEM.cpp: PEM armour and the streaming Base64 coders (see the header).
#include "crypto/keys/SBPEM.h"

#include <cstring>
#include <string_view>

#include "crypto/hash/SBMD.h"
#include "crypto/math/SBRandom.h"
#include "crypto/sym/SB3DES.h"
#include "crypto/sym/SBDES.h"
#include "rtl/Bytes.h"
#include "rtl/SecureBytes.h"

namespace {

constexpr std::string_view kBegin = "-----BEGIN ";
constexpr std::string_view kEnd = "\n-----END ";
constexpr std::string_view kProcType = "Proc-Type";
constexpr std::string_view kDekInfo = "DEK-Info:";
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Byte classes of the streaming decoder: 0..63 a value, kPad "=", kSkip ignorable, kBad.
constexpr uint8_t kPad = 64, kSkip = 65, kBad = 66;

struct DecodeTable {
    uint8_t v[256];
    constexpr DecodeTable() : v() {
        for (int i = 0; i < 256; ++i)
            v[i] = kBad;
        for (int i = 0; i < 64; ++i)
            v[uint8_t(kAlphabet[i])] = uint8_t(i);
        v[uint8_t('=')] = kPad;
        for (char c : {'\t', '\n', '\r', ' '})
            v[uint8_t(c)] = kSkip;
    }
};
constexpr DecodeTable kDecode;

std::string HexUpper(const uint8_t* p, size_t n) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

// The body's Base64 (CR, LF and NUL skipped, as the library's decoder does) into a wiped array.
int32_t DecodeBody(std::string_view body, rtl::SecureBytes& out) {
    size_t size = body.size() * 3 / 4 + 4;
    out.assign(size, 0);
    const int r = DecodeBase64(body.data(), body.size(), out.data(), size);
    if (r == BASE64_DECODE_OK) {
        out.resize(size);
        return PEM_DECODE_RESULT_OK;
    }
    return PEM_DECODE_RESULT_INVALID_FORMAT;
}

// CBC decryption of whole blocks in place, then the PKCS#5 padding: its length n must be 1 to 8
// and the last n bytes must all be n (RFC 1423 1.1). The bytes are checked as one mask, and
// every failure is the same code, so a wrong passphrase shows nothing beyond "wrong".
int32_t DecryptBody(rtl::SecureBytes& data, const ByteString& key, const uint8_t* iv, bool tripleDES) {
    if (data.empty() || data.size() % 8 != 0) return PEM_DECODE_RESULT_INVALID_PASSPHRASE;
    size_t size = data.size();
    bool ok;
    if (tripleDES) {
        TripleDESContext ctx;
        InitTripleDESDecryptionContext(ctx, reinterpret_cast<const uint8_t*>(key.data()), iv);
        ok = DecryptTripleDESCBC(ctx, data.data(), data.size(), data.data(), size);
    } else {
        DESContext ctx;
        InitDESDecryptionContext(ctx, reinterpret_cast<const uint8_t*>(key.data()), iv);
        ok = DecryptDESCBC(ctx, data.data(), data.size(), data.data(), size);
    }
    if (!ok || size != data.size()) return PEM_DECODE_RESULT_INVALID_PASSPHRASE;
    const uint8_t pad = data.back();
    uint32_t bad = uint32_t((pad - 1) & 0xFF) >> 3;  // pad outside 1..8 sets a bit
    for (size_t i = 1; i <= 8; ++i) {
        // Byte i from the end must equal pad when i <= pad; the comparison runs for all eight.
        const uint32_t inPad = uint32_t(int32_t(i) - int32_t(pad) - 1) >> 31;
        bad |= inPad & uint32_t(data[data.size() - i] != pad);
    }
    if (bad != 0) return PEM_DECODE_RESULT_INVALID_PASSPHRASE;
    data.resize(data.size() - pad);
    return PEM_DECODE_RESULT_OK;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

void PassphraseToPEMKey(const ByteString& Passphrase, const ByteString& Salt, int32_t KeyLength, ByteString& Key) {
    rtl::SecureBytes key;
    MD5Digest d{};
    bool first = true;
    while (KeyLength > 0 && key.size() < size_t(KeyLength)) {
        MD5Context ctx;
        InitMD5Context(ctx);
        if (!first) UpdateMD5Context(ctx, d.data(), d.size());
        UpdateMD5Context(ctx, Passphrase.data(), Passphrase.size());
        UpdateMD5Context(ctx, Salt.data(), Salt.size());
        FinishMD5Context(ctx, d);
        key.insert(key.end(), d.begin(), d.end());
        first = false;
    }
    rtl::secure_wipe(d.data(), d.size());
    ClearString(Key);
    Key.assign(key.begin(), key.begin() + (KeyLength > 0 ? KeyLength : 0));
}

void HexStringToBytes(const std::string& Text, ByteString& Bytes) {
    Bytes.clear();
    if (Text.size() % 2 != 0) return;
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return 0;
    };
    for (size_t i = 0; i < Text.size(); i += 2)
        Bytes.push_back(char(nibble(Text[i]) << 4 | nibble(Text[i + 1])));
}

namespace {

template <class Unit>
bool IsBase64Units(const Unit* p, size_t count) {
    int pads = 0;
    for (size_t i = 0; i < count; ++i) {
        const uint32_t c = p[i];
        if (c == '\r' || c == '\n') continue;
        const bool alpha = c < 128 && kDecode.v[c] < 64;
        if (alpha) {
            if (pads > 0) return false;
        } else if (c == '=') {
            if (pads >= 2) return false;
            ++pads;
        } else if (c == 0) {
            if (pads == 0) return false;
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

bool IsBase64Buffer(const void* Buffer, int32_t Size) {
    if (Size <= 0) return true;
    return IsBase64Units(static_cast<const uint8_t*>(Buffer), size_t(Size));
}

bool IsBase64WideBuffer(const void* Buffer, int32_t Size) {
    if (Size <= 0) return true;
    const auto* p = static_cast<const uint8_t*>(Buffer);
    std::basic_string<uint16_t> units;
    for (int32_t i = 0; i + 1 < Size; i += 2) {
        if (p[i + 1] != 0) return false;
        units.push_back(p[i]);
    }
    return IsBase64Units(units.data(), units.size());
}

// ---------------------------------------------------------------------------------------------
// Armour

bool PEMEncode(const void* Input, int32_t InputSize, void* Output, int32_t& OutputSize, const std::string& Header,
               bool Encrypt, const ByteString& Passphrase) {
    const size_t n = InputSize > 0 ? size_t(InputSize) : 0;
    rtl::SecureBytes body(static_cast<const uint8_t*>(Input), static_cast<const uint8_t*>(Input) + n);
    std::string head = std::string(kBegin) + Header + "-----\n";
    if (Encrypt) {
        // RFC 1421 4.6.1.1 with RFC 1423 1.1: a random IV, the key from the passphrase salted
        // with the IV, PKCS#5 padding of 1 to 8 bytes, triple DES (EDE) in CBC mode.
        uint8_t iv[8];
        GenerateRandomBytes(iv, sizeof(iv));
        ByteString key;
        PassphraseToPEMKey(Passphrase, ByteString(reinterpret_cast<const char*>(iv), 8), 24, key);
        const size_t pad = 8 - body.size() % 8;
        body.insert(body.end(), pad, uint8_t(pad));
        TripleDESContext ctx;
        InitTripleDESEncryptionContext(ctx, reinterpret_cast<const uint8_t*>(key.data()), iv);
        size_t written = body.size();
        EncryptTripleDESCBC(ctx, body.data(), body.size(), body.data(), written);
        ClearString(key);
        head += "Proc-Type: 4,ENCRYPTED\nDEK-Info: DES-EDE3-CBC," + HexUpper(iv, 8) + "\n\n";
    }
    size_t textSize = 0;
    EncodeBase64(body.data(), body.size(), nullptr, true, textSize);
    std::string text(textSize, '\0');
    if (!EncodeBase64(body.data(), body.size(), text.data(), true, textSize)) return false;
    text.resize(textSize);
    const std::string foot = std::string(kEnd) + Header + "-----\n";
    const size_t needed = head.size() + text.size() + foot.size();
    if (Output == nullptr || OutputSize < 0 || size_t(OutputSize) < needed) {
        OutputSize = int32_t(needed);
        return false;
    }
    auto* out = static_cast<char*>(Output);
    std::memcpy(out, head.data(), head.size());
    std::memcpy(out + head.size(), text.data(), text.size());
    std::memcpy(out + head.size() + text.size(), foot.data(), foot.size());
    OutputSize = int32_t(needed);
    return true;
}

int32_t PEMDecode(const void* Input, int32_t InputSize, void* Output, const ByteString& Passphrase, int32_t& OutputSize,
                  std::string& Header) {
    const std::string_view text(static_cast<const char*>(Input), InputSize > 0 ? size_t(InputSize) : 0);
    const size_t begin = text.find(kBegin);
    if (begin == std::string_view::npos) return PEM_DECODE_RESULT_INVALID_FORMAT;
    // The BEGIN line ends at its first LF (CR LF and CR CR LF end there too). Text before the
    // BEGIN line is ignored, as RFC 7468 section 2 asks of parsers.
    const size_t lf = text.find('\n', begin);
    if (lf == std::string_view::npos) {
        OutputSize = 0;
        return PEM_DECODE_RESULT_INVALID_FORMAT;
    }
    size_t lineEnd = lf;
    while (lineEnd > begin && text[lineEnd - 1] == '\r' && lf - lineEnd < 2)
        --lineEnd;
    const size_t wordStart = begin + kBegin.size();
    if (lineEnd < wordStart + 5) return PEM_DECODE_RESULT_INVALID_FORMAT;
    const std::string header(text.substr(wordStart, lineEnd - wordStart - 5));
    const std::string_view rest = text.substr(lf + 1);

    rtl::SecureBytes data;
    int32_t result;
    if (rest.substr(0, kProcType.size()) != kProcType) {
        // A body must be closed by its END line: without it the text is cut off, not empty.
        const size_t end = rest.find(kEnd);
        if (end == std::string_view::npos) return PEM_DECODE_RESULT_INVALID_FORMAT;
        result = DecodeBody(rest.substr(0, end), data);
    } else {
        size_t blank = rest.find("\r\r\n\r\r\n");
        size_t blankLength = 6;
        if (blank == std::string_view::npos) {
            blank = rest.find("\n\n");
            blankLength = 2;
        }
        if (blank == std::string_view::npos) {
            blank = rest.find("\r\n\r\n");
            blankLength = 4;
        }
        if (blank == std::string_view::npos) return PEM_DECODE_RESULT_INVALID_FORMAT;
        // The first header line that begins with DEK-Info.
        const std::string_view headers = rest.substr(0, blank + 1);
        size_t at = 0;
        std::string_view dek;
        while (at < headers.size()) {
            size_t eol = headers.find('\n', at);
            if (eol == std::string_view::npos) eol = headers.size();
            std::string_view line = headers.substr(at, eol - at);
            while (!line.empty() && line.back() == '\r')
                line.remove_suffix(1);
            if (line.substr(0, kDekInfo.size()) == kDekInfo) {
                dek = line;
                break;
            }
            at = eol + 1;
        }
        if (dek.empty()) return PEM_DECODE_RESULT_INVALID_FORMAT;
        const size_t space = dek.find(' ');
        if (space == std::string_view::npos) return PEM_DECODE_RESULT_INVALID_FORMAT;
        const std::string_view value = dek.substr(space + 1);
        const size_t comma = value.find(',');
        const std::string_view cipher = value.substr(0, comma);
        const std::string ivText(comma == std::string_view::npos ? std::string_view() : value.substr(comma + 1));
        bool tripleDES;
        if (cipher == "DES-CBC") {
            tripleDES = false;
        } else if (cipher == "DES-EDE3-CBC") {
            tripleDES = true;
        } else {
            return PEM_DECODE_RESULT_UNKNOWN_CIPHER;
        }
        ByteString iv;
        HexStringToBytes(ivText, iv);
        if (iv.size() < 8 || HexUpper(reinterpret_cast<const uint8_t*>(iv.data()), 8) != ivText)
            return PEM_DECODE_RESULT_INVALID_PASSPHRASE;
        const std::string_view body = rest.substr(blank + blankLength);
        const size_t end = body.find(kEnd);
        if (end == std::string_view::npos) return PEM_DECODE_RESULT_INVALID_FORMAT;
        result = DecodeBody(body.substr(0, end), data);
        if (result == PEM_DECODE_RESULT_OK) {
            ByteString key;
            PassphraseToPEMKey(Passphrase, iv.substr(0, 8), tripleDES ? 24 : 8, key);
            result = DecryptBody(data, key, reinterpret_cast<const uint8_t*>(iv.data()), tripleDES);
            ClearString(key);
        }
    }
    if (result != PEM_DECODE_RESULT_OK) return result;
    if ((Output == nullptr && !data.empty()) || OutputSize < 0 || size_t(OutputSize) < data.size()) {
        OutputSize = int32_t(data.size());
        return PEM_DECODE_RESULT_NOT_ENOUGH_SPACE;
    }
    if (!data.empty()) std::memcpy(Output, data.data(), data.size());
    OutputSize = int32_t(data.size());
    Header = header;
    return PEM_DECODE_RESULT_OK;
}

// ---------------------------------------------------------------------------------------------
// Streaming Base64

namespace {

// The output of one encoder call: characters go out one by one, and a separator follows every
// full line as soon as it is full.
struct EncoderWriter {
    Base64Context& ctx;
    uint8_t* out;
    size_t written = 0;
    void Char(char c) {
        out[written++] = uint8_t(c);
        ++ctx.LinePosition;
        if (ctx.LineLength > 0 && ctx.SeparatorLength > 0 && ctx.LinePosition == ctx.LineLength) {
            std::memcpy(out + written, ctx.Separator, size_t(ctx.SeparatorLength));
            written += size_t(ctx.SeparatorLength);
            ctx.LinePosition = 0;
        }
    }
    void Group(const uint8_t* b) {
        Char(kAlphabet[b[0] >> 2]);
        Char(kAlphabet[((b[0] & 3) << 4) | (b[1] >> 4)]);
        Char(kAlphabet[((b[1] & 15) << 2) | (b[2] >> 6)]);
        Char(kAlphabet[b[2] & 63]);
    }
};

}  // namespace

bool Base64EncodeInit(Base64Context& Context, int32_t LineLength, int32_t SeparatorKind) {
    Context = Base64Context();
    const bool usable = LineLength >= 4;
    Context.LineLength = usable ? LineLength : 0;
    const char* separators[] = {"\r\n", "\r", "\n"};
    if (SeparatorKind >= 0 && SeparatorKind <= 2) {
        Context.SeparatorLength = int32_t(std::strlen(separators[SeparatorKind]));
        std::memcpy(Context.Separator, separators[SeparatorKind], size_t(Context.SeparatorLength));
    }
    return usable;
}

bool Base64EncodeUpdate(Base64Context& Context, const void* Input, int32_t Size, void* Output, int32_t& OutputSize) {
    const size_t size = Size > 0 ? size_t(Size) : 0;
    const size_t total = size_t(Context.PendingCount) + size;
    const size_t chars = total / 3 * 4;
    size_t needed = chars;
    if (Context.LineLength > 0 && Context.SeparatorLength > 0)
        needed += (size_t(Context.LinePosition) + chars) / size_t(Context.LineLength) * size_t(Context.SeparatorLength);
    if ((needed > 0 && Output == nullptr) || OutputSize < 0 || size_t(OutputSize) < needed) {
        OutputSize = int32_t(needed);
        return false;
    }
    const auto* in = static_cast<const uint8_t*>(Input);
    if (total < 3) {
        std::memcpy(Context.Pending + Context.PendingCount, in, size);
        Context.PendingCount = int32_t(total);
        OutputSize = 0;
        return true;
    }
    EncoderWriter w{Context, static_cast<uint8_t*>(Output)};
    size_t used = 0;
    if (Context.PendingCount > 0) {
        const size_t take = 3 - size_t(Context.PendingCount);
        std::memcpy(Context.Pending + Context.PendingCount, in, take);
        used = take;
        w.Group(Context.Pending);
    }
    while (size - used >= 3) {
        w.Group(in + used);
        used += 3;
    }
    Context.PendingCount = int32_t(size - used);
    std::memcpy(Context.Pending, in + used, size - used);
    OutputSize = int32_t(w.written);
    return true;
}

bool Base64EncodeFinal(Base64Context& Context, void* Output, int32_t& OutputSize) {
    const size_t sep = size_t(Context.SeparatorLength);
    size_t needed = 0;
    if (Context.PendingCount == 0) {
        needed = Context.LinePosition > 0 ? sep : 0;
    } else {
        needed = 4 + sep;
    }
    if ((needed > 0 && Output == nullptr) || OutputSize < 0 || size_t(OutputSize) < needed) {
        OutputSize = int32_t(needed);
        return false;
    }
    auto* out = static_cast<uint8_t*>(Output);
    size_t written = 0;
    if (Context.PendingCount > 0) {
        const uint8_t b0 = Context.Pending[0], b1 = Context.PendingCount > 1 ? Context.Pending[1] : 0;
        out[written++] = uint8_t(kAlphabet[b0 >> 2]);
        out[written++] = uint8_t(kAlphabet[((b0 & 3) << 4) | (b1 >> 4)]);
        out[written++] = Context.PendingCount > 1 ? uint8_t(kAlphabet[(b1 & 15) << 2]) : uint8_t('=');
        out[written++] = '=';
    }
    if (needed > written) {
        std::memcpy(out + written, Context.Separator, sep);
        written += sep;
    }
    OutputSize = int32_t(written);
    return true;
}

bool Base64DecodeInit(Base64Context& Context) {
    Context.PendingCount = 0;
    Context.PaddingCount = 0;
    return true;
}

bool Base64DecodeUpdate(Base64Context& Context, const void* Input, int32_t Size, void* Output, int32_t& OutputSize) {
    if (Size <= 0) {
        OutputSize = 0;
        return true;
    }
    const auto* in = static_cast<const uint8_t*>(Input);
    size_t count = size_t(Context.PendingCount);
    int32_t pads = Context.PaddingCount;
    for (int32_t i = 0; i < Size; ++i) {
        const uint8_t c = kDecode.v[in[i]];
        if (c < 64) {
            ++count;
        } else if (c == kPad) {
            if (pads == 2) {
                OutputSize = 0;
                return false;
            }
            ++pads;
        } else if (c == kBad) {
            OutputSize = 0;
            return false;
        }
    }
    const size_t needed = count / 4 * 3;
    if ((needed > 0 && Output == nullptr) || OutputSize < 0 || size_t(OutputSize) < needed) {
        OutputSize = int32_t(needed);
        return false;
    }
    Context.PaddingCount = pads;
    auto* out = static_cast<uint8_t*>(Output);
    size_t written = 0;
    for (int32_t i = 0; i < Size; ++i) {
        const uint8_t c = kDecode.v[in[i]];
        if (c >= 64) continue;
        Context.Pending[Context.PendingCount++] = c;
        if (Context.PendingCount == 4) {
            const uint8_t* v = Context.Pending;
            out[written++] = uint8_t(v[0] << 2 | v[1] >> 4);
            out[written++] = uint8_t(v[1] << 4 | v[2] >> 2);
            out[written++] = uint8_t(v[2] << 6 | v[3]);
            Context.PendingCount = 0;
        }
    }
    OutputSize = int32_t(written);
    return true;
}

bool Base64DecodeFinal(Base64Context& Context, void* Output, int32_t& OutputSize) {
    const int32_t pads = Context.PaddingCount, pending = Context.PendingCount;
    if (pads == 0) {
        OutputSize = 0;
        return pending == 0;
    }
    if ((pads == 1 && pending != 3) || (pads == 2 && pending != 2)) {
        OutputSize = 0;
        return false;
    }
    const int32_t needed = pads == 1 ? 2 : 1;
    if (Output == nullptr || OutputSize < needed) {
        OutputSize = needed;
        return false;
    }
    const uint8_t* v = Context.Pending;
    auto* out = static_cast<uint8_t*>(Output);
    out[0] = uint8_t(v[0] << 2 | v[1] >> 4);
    if (needed == 2) out[1] = uint8_t(v[1] << 4 | v[2] >> 2);
    OutputSize = needed;
    return true;
}
