// crypto/prov/SBCryptoProvUtils.cpp: property values and cipher parameters.
#include "crypto/prov/SBCryptoProvUtils.h"

#include "crypto/base/SBASN1Tree.h"
#include "crypto/base/SBConstants.h"
#include "rtl/Bytes.h"

int32_t PropertyValueToInteger(std::string_view value, int32_t def) {
    if (value.size() != 4) return def;
    return int32_t(rtl::load_be32(reinterpret_cast<const uint8_t*>(value.data())));
}

ByteString IntegerToPropertyValue(int32_t value) {
    ByteString r(4, '\0');
    rtl::store_be32(reinterpret_cast<uint8_t*>(r.data()), uint32_t(value));
    return r;
}

bool PropertyValueToBoolean(std::string_view value, bool def) {
    if (value.size() != 1) return def;
    if (value[0] == '\x01') return true;
    if (value[0] == '\x00') return false;
    return def;
}

ByteString BooleanToPropertyValue(bool value) {
    return ByteString(1, value ? '\x01' : '\x00');
}

int32_t RC2VersionToEffectiveBits(std::string_view versionContent) {
    uint64_t version = 0;
    for (const char c : versionContent) {
        version = (version << 8) | uint8_t(c);
        if (version > 0xFFFFFFFF) return -1;
    }
    switch (version) {
        case 160:
            return 40;
        case 120:
            return 64;
        case 58:
            return 128;
        default:
            break;
    }
    if (version >= 256 && version <= 1024) return int32_t(version);
    return -1;
}

bool ReadCipherParameters(std::string_view algorithmOID, std::string_view parameters,
                          int32_t& effectiveKeyBits, ByteString& iv) {
    effectiveKeyBits = 0;
    const int32_t algorithm = GetAlgorithmByOID(algorithmOID, false);
    if (algorithm == SB_ALG_RC4) return false;

    TElASN1ConstrainedTag tree;
    if (!tree.LoadFromBuffer(parameters.data(), parameters.size())) return false;
    const TElASN1CustomTag* first = tree.GetChild(0);

    if (algorithm == SB_ALG_RC2) {
        if (first == nullptr) return false;
        if (!first->IsConstrained()) {
            if (!first->CheckType(0x04, false)) return false;
            const ByteString v = static_cast<const TElASN1SimpleTag&>(*first).GetContent();
            if (v.size() != 8) return false;
            effectiveKeyBits = 32;
            iv = v;
            return true;
        }
        if (!first->CheckType(0x30, true)) return false;
        const auto& seq = static_cast<const TElASN1ConstrainedTag&>(*first);
        if (seq.GetCount() != 2) return false;
        const TElASN1CustomTag* version = seq.GetChild(0);
        const TElASN1CustomTag* ivTag = seq.GetChild(1);
        if (!version->CheckType(0x02, false) || !ivTag->CheckType(0x04, false)) return false;
        const int32_t bits =
            RC2VersionToEffectiveBits(static_cast<const TElASN1SimpleTag&>(*version).GetContent());
        if (bits < 0) return false;
        effectiveKeyBits = bits;
        const ByteString v = static_cast<const TElASN1SimpleTag&>(*ivTag).GetContent();
        if (v.size() != 8) return false;
        iv = v;
        return true;
    }

    if (first != nullptr && first->CheckType(0x04, false))
        iv = static_cast<const TElASN1SimpleTag&>(*first).GetContent();
    return true;
}
