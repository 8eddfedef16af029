// fuzz/crypto_TimeTextsBase64.cpp: the library's ASN.1 time texts and Base64 coder on arbitrary
// bytes.
//
// Time texts: UTCTime and GeneralizedTime either answer a date-time or raise rtl::EConvertError
// (any other exception escapes and is a finding); a value that the generalized-time writer can
// write must read back to the same fields, seconds included. Base64: the decoders write nothing
// past the capacity their own size rule asked for (the buffers are exactly that large, so the
// address sanitizer sees any spill), and whatever decodes encodes again (with and without line
// breaks) into a text that decodes to the same bytes.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "crypto/base/SBUtils.h"
#include "rtl/DateTime.h"

namespace {

struct Fields {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    bool operator==(const Fields&) const = default;
};

Fields Split(double dt) {
    Fields f;
    int ms = 0;
    rtl::DecodeDate(dt, f.y, f.mo, f.d);
    rtl::DecodeTime(dt, f.h, f.mi, f.s, ms);
    return f;
}

void CheckTimeText(std::string_view text, bool generalized) {
    double value = 0;
    try {
        value = generalized ? GeneralizedTimeToDateTime(text) : UTCTimeToDateTime(text);
    } catch (const rtl::EConvertError&) {
        return;
    }
    Fields before;
    try {
        before = Split(value);
    } catch (const rtl::EConvertError&) {
        return;  // a value outside the calendar (a short UTCTime gives 0, which is fine)
    }
    if (before.y < 1 || before.y > 9999) return;
    const std::string written = DateTimeToGeneralizedTime(value);
    if (written.size() != 15 || written.back() != 'Z') std::abort();
    if (!(Split(GeneralizedTimeToDateTime(written)) == before)) std::abort();
    // The local-to-UTC conversion never raises: out of range it answers the value unchanged.
    (void)LocalTimeToUTCTime(value);
}

// Decodes into a heap block of exactly the capacity the size rule accepts.
int DecodeExact(const std::string& text, bool wide, std::string& bytes) {
    size_t size = 0;
    const int probe = wide ? DecodeBase64Wide(text.data(), text.size(), nullptr, size)
                           : DecodeBase64(text.data(), text.size(), nullptr, size);
    if (probe != BASE64_DECODE_NOT_ENOUGH_SPACE && probe != BASE64_DECODE_OK) return probe;
    const size_t capacity = probe == BASE64_DECODE_OK ? 0 : size - 1;
    const auto out = std::make_unique<uint8_t[]>(capacity);
    size = capacity;
    const int code = wide ? DecodeBase64Wide(text.data(), text.size(), out.get(), size)
                          : DecodeBase64(text.data(), text.size(), out.get(), size);
    if (code == BASE64_DECODE_NOT_ENOUGH_SPACE || size > capacity) std::abort();
    bytes.assign(reinterpret_cast<const char*>(out.get()), size);
    return code;
}

std::string EncodeExact(const std::string& bytes, bool lineBreaks) {
    size_t size = 0;
    if (EncodeBase64(bytes.data(), bytes.size(), nullptr, lineBreaks, size)) std::abort();
    const auto out = std::make_unique<char[]>(size);
    const size_t capacity = size;
    if (!EncodeBase64(bytes.data(), bytes.size(), out.get(), lineBreaks, size) || size > capacity)
        std::abort();
    return std::string(out.get(), size);
}

void CheckBase64(const std::string& input) {
    std::string decoded;
    DecodeExact(input, false, decoded);
    std::string wideDecoded;
    DecodeExact(input, true, wideDecoded);

    for (const std::string* bytes : {&input, static_cast<const std::string*>(&decoded)}) {
        for (const bool lineBreaks : {false, true}) {
            const std::string text = EncodeExact(*bytes, lineBreaks);
            if (!text.empty() && text.back() == '\n') std::abort();
            std::string again;
            if (DecodeExact(text, false, again) != BASE64_DECODE_OK || again != *bytes) std::abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    CheckTimeText(input, false);
    CheckTimeText(input, true);
    CheckBase64(input);
    return 0;
}
