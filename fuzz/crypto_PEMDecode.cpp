// fuzz/crypto_PEMDecode.cpp: PEMDecode on arbitrary text (with and without a passphrase), and
// the streaming Base64 decoder fed the same text whole and in two pieces.
//
// Nothing may crash or read past the input. The size question must answer the exact length
// the decoding then writes; decoded data armoured again (unencrypted) must decode to the same
// bytes under the same header word; the two-piece decoding must agree with the whole one.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "crypto/keys/SBPEM.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The size question, then the decoding into exactly that room.
int32_t Decode(const void* text, int32_t size, const ByteString& pass, Bytes& out, std::string& header) {
    int32_t needed = 0;
    int32_t code = PEMDecode(text, size, nullptr, pass, needed, header);
    out.clear();
    if (code != PEM_DECODE_RESULT_NOT_ENOUGH_SPACE) return code;
    out.assign(size_t(needed) + 1, 0);
    int32_t got = needed;
    code = PEMDecode(text, size, out.data(), pass, got, header);
    // Both calls read the same body with the same key: the answer cannot change.
    if (code != PEM_DECODE_RESULT_OK || got != needed) std::abort();
    out.resize(size_t(got));
    return code;
}

void Armour(const uint8_t* data, int32_t size, const ByteString& pass) {
    Bytes out;
    std::string header;
    if (Decode(data, size, pass, out, header) != PEM_DECODE_RESULT_OK) return;
    if (header.find_first_of("\r\n") != std::string::npos || header.find("-----") != std::string::npos) return;
    int32_t textSize = 0;
    PEMEncode(out.data(), int32_t(out.size()), nullptr, textSize, header, false, "");
    std::string text(size_t(textSize), '\0');
    if (!PEMEncode(out.data(), int32_t(out.size()), text.data(), textSize, header, false, "")) std::abort();
    Bytes back;
    std::string header2;
    const int32_t code = Decode(text.data(), textSize, "", back, header2);
    if (!(code == PEM_DECODE_RESULT_OK || (out.empty() && code != PEM_DECODE_RESULT_INVALID_PASSPHRASE)))
        std::abort();
    if (code == PEM_DECODE_RESULT_OK && (back != out || header2 != header)) std::abort();
}

Bytes Stream(const uint8_t* data, int32_t size, int32_t split, bool& ok) {
    Base64Context ctx;
    Base64DecodeInit(ctx);
    Bytes out;
    ok = true;
    for (auto [from, count] : {std::pair<int32_t, int32_t>{0, split}, {split, size - split}}) {
        // The size question decodes by itself when no whole group is ready.
        int32_t n = 0;
        if (Base64DecodeUpdate(ctx, data + from, count, nullptr, n)) continue;
        if (n == 0) {
            ok = false;
            return out;
        }
        Bytes part(static_cast<size_t>(n));
        if (!Base64DecodeUpdate(ctx, data + from, count, part.data(), n)) std::abort();
        out.insert(out.end(), part.begin(), part.begin() + n);
    }
    uint8_t tail[4];
    int32_t tailSize = 4;
    ok = Base64DecodeFinal(ctx, tail, tailSize);
    if (ok) out.insert(out.end(), tail, tail + tailSize);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 1 << 16) return 0;
    const int32_t n = int32_t(size - 1);
    const uint8_t* text = data + 1;
    Armour(text, n, (data[0] & 1) != 0 ? "passphrase" : "");
    bool wholeOk = false, splitOk = false;
    const Bytes whole = Stream(text, n, 0, wholeOk);
    const Bytes pieces = Stream(text, n, n > 0 ? data[0] % (n + 1) : 0, splitOk);
    if (wholeOk != splitOk || (wholeOk && whole != pieces)) std::abort();
    return 0;
}
