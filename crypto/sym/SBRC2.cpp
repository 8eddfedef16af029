// crypto/sym/SBRC2.cpp: RC2 key expansion, the mixing and mashing rounds, CBC, and the DER of
// the RC2-CBC parameters through the ASN.1 tag tree.
//
// The expansion reduces the key to T1 effective bits (RFC 2268 section 2): T8 = ceil(T1/8)
// bytes, the top one masked with TM. With T1 = 8T (the contexts' rule) the mask is 0xFF and
// the key bytes pass through PITABLE unreduced.
#include "crypto/sym/SBRC2.h"

#include <cstring>

#include "crypto/base/SBASN1Tree.h"
#include "crypto/sym/CBCBuffering.h"
#include "rtl/Bytes.h"
#include "rtl/Format.h"

namespace {

// The RC2 PITABLE (a permutation of 0..255 built from the digits of pi), generated from the
// shared table file.
constexpr uint8_t kPiTable[256] = {
    0xD9, 0x78, 0xF9, 0xC4, 0x19, 0xDD, 0xB5, 0xED, 0x28, 0xE9, 0xFD, 0x79, 0x4A, 0xA0, 0xD8, 0x9D,
    0xC6, 0x7E, 0x37, 0x83, 0x2B, 0x76, 0x53, 0x8E, 0x62, 0x4C, 0x64, 0x88, 0x44, 0x8B, 0xFB, 0xA2,
    0x17, 0x9A, 0x59, 0xF5, 0x87, 0xB3, 0x4F, 0x13, 0x61, 0x45, 0x6D, 0x8D, 0x09, 0x81, 0x7D, 0x32,
    0xBD, 0x8F, 0x40, 0xEB, 0x86, 0xB7, 0x7B, 0x0B, 0xF0, 0x95, 0x21, 0x22, 0x5C, 0x6B, 0x4E, 0x82,
    0x54, 0xD6, 0x65, 0x93, 0xCE, 0x60, 0xB2, 0x1C, 0x73, 0x56, 0xC0, 0x14, 0xA7, 0x8C, 0xF1, 0xDC,
    0x12, 0x75, 0xCA, 0x1F, 0x3B, 0xBE, 0xE4, 0xD1, 0x42, 0x3D, 0xD4, 0x30, 0xA3, 0x3C, 0xB6, 0x26,
    0x6F, 0xBF, 0x0E, 0xDA, 0x46, 0x69, 0x07, 0x57, 0x27, 0xF2, 0x1D, 0x9B, 0xBC, 0x94, 0x43, 0x03,
    0xF8, 0x11, 0xC7, 0xF6, 0x90, 0xEF, 0x3E, 0xE7, 0x06, 0xC3, 0xD5, 0x2F, 0xC8, 0x66, 0x1E, 0xD7,
    0x08, 0xE8, 0xEA, 0xDE, 0x80, 0x52, 0xEE, 0xF7, 0x84, 0xAA, 0x72, 0xAC, 0x35, 0x4D, 0x6A, 0x2A,
    0x96, 0x1A, 0xD2, 0x71, 0x5A, 0x15, 0x49, 0x74, 0x4B, 0x9F, 0xD0, 0x5E, 0x04, 0x18, 0xA4, 0xEC,
    0xC2, 0xE0, 0x41, 0x6E, 0x0F, 0x51, 0xCB, 0xCC, 0x24, 0x91, 0xAF, 0x50, 0xA1, 0xF4, 0x70, 0x39,
    0x99, 0x7C, 0x3A, 0x85, 0x23, 0xB8, 0xB4, 0x7A, 0xFC, 0x02, 0x36, 0x5B, 0x25, 0x55, 0x97, 0x31,
    0x2D, 0x5D, 0xFA, 0x98, 0xE3, 0x8A, 0x92, 0xAE, 0x05, 0xDF, 0x29, 0x10, 0x67, 0x6C, 0xBA, 0xC9,
    0xD3, 0x00, 0xE6, 0xCF, 0xE1, 0x9E, 0xA8, 0x2C, 0x63, 0x16, 0x01, 0x3F, 0x58, 0xE2, 0x89, 0xA9,
    0x0D, 0x38, 0x34, 0x1B, 0xAB, 0x33, 0xFF, 0xB0, 0xBB, 0x48, 0x0C, 0x5F, 0xB9, 0xB1, 0xCD, 0x2E,
    0xC5, 0xF3, 0xDB, 0x47, 0xE5, 0xA5, 0x9C, 0x77, 0x0A, 0xA6, 0x20, 0x68, 0xFE, 0x7F, 0xC1, 0xAD,
};

constexpr size_t kMaxKeyBytes = 128;

void CheckKeyLength(std::span<const uint8_t> key) {
    if (key.empty() || key.size() > kMaxKeyBytes)
        throw EEncryptionError(rtl::Format("Invalid key size [%d bits]", int64_t(key.size()) * 8));
}

inline uint16_t Rol16(uint16_t x, unsigned n) {
    return uint16_t((x << n) | (x >> (16 - n)));
}
inline uint16_t Ror16(uint16_t x, unsigned n) {
    return uint16_t((x >> n) | (x << (16 - n)));
}

void Expand(std::span<const uint8_t> key, size_t effectiveBits, TRC2ExpandedKey& expandedKey) {
    uint8_t L[128] = {};
    const size_t T = key.size();
    const size_t T8 = (effectiveBits + 7) / 8;
    const uint8_t TM = uint8_t(0xFF >> (8 * T8 - effectiveBits));
    std::memcpy(L, key.data(), T);
    for (size_t i = T; i < 128; ++i)
        L[i] = kPiTable[uint8_t(L[i - 1] + L[i - T])];
    L[128 - T8] = kPiTable[L[128 - T8] & TM];
    for (size_t i = 128 - T8; i-- > 0;)
        L[i] = kPiTable[L[i + 1] ^ L[i + T8]];
    for (int i = 0; i < 64; ++i)
        expandedKey.K[i] = uint16_t(L[2 * i] | (L[2 * i + 1] << 8));
    rtl::secure_wipe(L, sizeof L);
}

// R[i] += K[j] + (R[i-1] & R[i-2]) + (~R[i-1] & R[i-3]), rotated left by 1, 2, 3, 5.
inline void Mix(uint16_t* R, const uint16_t* K, int& j) {
    R[0] = Rol16(uint16_t(R[0] + K[j++] + (R[3] & R[2]) + (~R[3] & R[1])), 1);
    R[1] = Rol16(uint16_t(R[1] + K[j++] + (R[0] & R[3]) + (~R[0] & R[2])), 2);
    R[2] = Rol16(uint16_t(R[2] + K[j++] + (R[1] & R[0]) + (~R[1] & R[3])), 3);
    R[3] = Rol16(uint16_t(R[3] + K[j++] + (R[2] & R[1]) + (~R[2] & R[0])), 5);
}

inline void Mash(uint16_t* R, const uint16_t* K) {
    R[0] = uint16_t(R[0] + K[R[3] & 63]);
    R[1] = uint16_t(R[1] + K[R[0] & 63]);
    R[2] = uint16_t(R[2] + K[R[1] & 63]);
    R[3] = uint16_t(R[3] + K[R[2] & 63]);
}

inline void ReverseMix(uint16_t* R, const uint16_t* K, int& j) {
    R[3] = uint16_t(Ror16(R[3], 5) - K[j--] - (R[2] & R[1]) - (~R[2] & R[0]));
    R[2] = uint16_t(Ror16(R[2], 3) - K[j--] - (R[1] & R[0]) - (~R[1] & R[3]));
    R[1] = uint16_t(Ror16(R[1], 2) - K[j--] - (R[0] & R[3]) - (~R[0] & R[2]));
    R[0] = uint16_t(Ror16(R[0], 1) - K[j--] - (R[3] & R[2]) - (~R[3] & R[1]));
}

inline void ReverseMash(uint16_t* R, const uint16_t* K) {
    R[3] = uint16_t(R[3] - K[R[2] & 63]);
    R[2] = uint16_t(R[2] - K[R[1] & 63]);
    R[1] = uint16_t(R[1] - K[R[0] & 63]);
    R[0] = uint16_t(R[0] - K[R[3] & 63]);
}

// Version number of the parameters <-> effective key bits.
constexpr struct {
    int32_t bits;
    uint32_t version;
} kVersions[] = {{40, 160}, {64, 120}, {128, 58}};

// The INTEGER's whole value, when it is a non-negative number that fits an int32.
bool WholeInteger(const ByteString& content, int64_t& value) {
    if (content.empty() || (uint8_t(content[0]) & 0x80) != 0) return false;
    size_t start = 0;
    while (start + 1 < content.size() && content[start] == 0)
        ++start;
    if (content.size() - start > 4) return false;
    uint64_t v = 0;
    for (size_t i = start; i < content.size(); ++i)
        v = (v << 8) | uint8_t(content[i]);
    if (v > uint64_t(INT32_MAX)) return false;
    value = int64_t(v);
    return true;
}

}  // namespace

TRC2ExpandedKey::~TRC2ExpandedKey() {
    rtl::secure_wipe(K, sizeof K);
}

RC2Context::~RC2Context() {
    rtl::secure_wipe(Chain, sizeof Chain);
    rtl::secure_wipe(Pending, sizeof Pending);
    PendingCount = 0;
}

void RC2KeySchedule(std::span<const uint8_t> key, TRC2ExpandedKey& expandedKey) {
    CheckKeyLength(key);
    expandedKey = TRC2ExpandedKey();
    Expand(key, key.size() * 8, expandedKey);
}

void RC2KeySchedule(std::span<const uint8_t> key, int32_t effectiveBits, TRC2ExpandedKey& expandedKey) {
    CheckKeyLength(key);
    if (effectiveBits < 1 || effectiveBits > 1024)
        throw EEncryptionError(rtl::Format("Invalid key size [%d bits]", effectiveBits));
    expandedKey = TRC2ExpandedKey();
    Expand(key, size_t(effectiveBits), expandedKey);
}

void RC2EncryptBlock(const uint8_t* input, const TRC2ExpandedKey& expandedKey, uint8_t* output) {
    uint16_t R[4] = {rtl::load_le16(input), rtl::load_le16(input + 2), rtl::load_le16(input + 4),
                     rtl::load_le16(input + 6)};
    const uint16_t* K = expandedKey.K;
    int j = 0;
    for (int i = 0; i < 5; ++i)
        Mix(R, K, j);
    Mash(R, K);
    for (int i = 0; i < 6; ++i)
        Mix(R, K, j);
    Mash(R, K);
    for (int i = 0; i < 5; ++i)
        Mix(R, K, j);
    for (int i = 0; i < 4; ++i)
        rtl::store_le16(output + 2 * i, R[i]);
}

void RC2DecryptBlock(const uint8_t* input, const TRC2ExpandedKey& expandedKey, uint8_t* output) {
    uint16_t R[4] = {rtl::load_le16(input), rtl::load_le16(input + 2), rtl::load_le16(input + 4),
                     rtl::load_le16(input + 6)};
    const uint16_t* K = expandedKey.K;
    int j = 63;
    for (int i = 0; i < 5; ++i)
        ReverseMix(R, K, j);
    ReverseMash(R, K);
    for (int i = 0; i < 6; ++i)
        ReverseMix(R, K, j);
    ReverseMash(R, K);
    for (int i = 0; i < 5; ++i)
        ReverseMix(R, K, j);
    for (int i = 0; i < 4; ++i)
        rtl::store_le16(output + 2 * i, R[i]);
}

int32_t InitRC2EncryptionContext(RC2Context& context, std::span<const uint8_t> key, const uint8_t* iv) {
    RC2KeySchedule(key, context.ExpandedKey);
    std::memcpy(context.Chain, iv, 8);
    context.PendingCount = 0;
    return 0;
}

int32_t InitRC2DecryptionContext(RC2Context& context, std::span<const uint8_t> key, const uint8_t* iv) {
    return InitRC2EncryptionContext(context, key, iv);
}

bool EncryptRC2CBC(RC2Context& context, const void* input, size_t inputSize, void* output,
                   size_t& outputSize) {
    return cbc_detail::Run(
        context.Chain, context.Pending, context.PendingCount, input, inputSize, output, outputSize, true,
        [&](const uint8_t* in, uint8_t* out) { RC2EncryptBlock(in, context.ExpandedKey, out); });
}

bool DecryptRC2CBC(RC2Context& context, const void* input, size_t inputSize, void* output,
                   size_t& outputSize) {
    return cbc_detail::Run(
        context.Chain, context.Pending, context.PendingCount, input, inputSize, output, outputSize, false,
        [&](const uint8_t* in, uint8_t* out) { RC2DecryptBlock(in, context.ExpandedKey, out); });
}

bool DecodeRC2CBCParameters(const ByteString& parameters, ByteString& iv, int32_t& effectiveBits) {
    TElASN1ConstrainedTag root;
    if (!root.LoadFromBuffer(parameters.data(), parameters.size()) || root.GetCount() != 1) return false;
    const TElASN1CustomTag* seq = root.GetChild(0);
    if (!seq->CheckType(0x30, true)) return false;
    const auto& sequence = static_cast<const TElASN1ConstrainedTag&>(*seq);
    if (sequence.GetCount() < 1) return false;

    int ivIndex = 0;
    const TElASN1CustomTag* first = sequence.GetChild(0);
    if (first->CheckType(0x02, false)) {
        // The whole number counts: a version of 256 or more is the bit count itself.
        int64_t version = 0;
        if (!WholeInteger(static_cast<const TElASN1SimpleTag&>(*first).GetContent(), version)) return false;
        int32_t bits = -1;
        for (const auto& v : kVersions)
            if (version == int64_t(v.version)) bits = v.bits;
        if (bits < 0) {
            if (version < 256) return false;
            bits = int32_t(version);
        }
        effectiveBits = bits;
        ivIndex = 1;
    } else {
        effectiveBits = 32;
    }
    const TElASN1CustomTag* ivTag = sequence.GetChild(ivIndex);
    if (ivTag == nullptr || !ivTag->CheckType(0x04, false)) return false;
    iv = static_cast<const TElASN1SimpleTag&>(*ivTag).GetContent();
    return true;
}

void EncodeRC2CBCParameters(const ByteString& iv, int32_t effectiveBits, ByteString& parameters) {
    TElASN1ConstrainedTag sequence;
    sequence.TagByte = 0x30;
    if (effectiveBits != 32) {
        uint32_t version = uint32_t(effectiveBits);
        for (const auto& v : kVersions)
            if (effectiveBits == v.bits) version = v.version;
        auto& integer = static_cast<TElASN1SimpleTag&>(*sequence.GetChild(sequence.AddChild(false)));
        WriteTagInteger(integer, version);
    }
    auto& octets = static_cast<TElASN1SimpleTag&>(*sequence.GetChild(sequence.AddChild(false)));
    octets.TagByte = 0x04;
    octets.SetContent(iv);
    size_t size = 0;
    sequence.SaveToBuffer(nullptr, size);
    ByteString out(size, '\0');
    sequence.SaveToBuffer(out.data(), size);
    out.resize(size);
    parameters = std::move(out);
}
