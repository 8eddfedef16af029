// crypto/base/SBUtils_dsa.cpp: the DER form of DSA signatures, SEQUENCE { INTEGER r, INTEGER s },
// read and written through the tag tree.
#include <cstring>

#include "crypto/base/SBASN1Tree.h"
#include "crypto/base/SBUtils.h"

bool DecodeDSASignature(const void* blob, size_t size, void* r, size_t& rSize, void* s, size_t& sSize) {
    TElASN1ConstrainedTag root;
    if (!root.LoadFromBuffer(blob, size) || root.GetCount() != 1) return false;
    const TElASN1CustomTag* seq = root.GetChild(0);
    if (!seq->CheckType(0x30, true)) return false;
    const auto& pair = static_cast<const TElASN1ConstrainedTag&>(*seq);
    if (pair.GetCount() != 2) return false;
    const TElASN1CustomTag* rt = pair.GetChild(0);
    const TElASN1CustomTag* st = pair.GetChild(1);
    if (!rt->CheckType(0x02, false) || !st->CheckType(0x02, false)) return false;
    const ByteString rv = static_cast<const TElASN1SimpleTag&>(*rt).GetContent();
    const ByteString sv = static_cast<const TElASN1SimpleTag&>(*st).GetContent();
    if (rSize < rv.size() || sSize < sv.size() || r == nullptr || s == nullptr) {
        rSize = rv.size();
        sSize = sv.size();
        return false;
    }
    std::memcpy(r, rv.data(), rv.size());
    std::memcpy(s, sv.data(), sv.size());
    rSize = rv.size();
    sSize = sv.size();
    return true;
}

bool EncodeDSASignature(const void* r, size_t rSize, const void* s, size_t sSize, void* blob,
                        size_t& blobSize) {
    const size_t estimate = rSize + sSize + 16;
    if (blobSize < estimate || blob == nullptr) {
        blobSize = estimate;
        return false;
    }
    TElASN1ConstrainedTag seq;
    seq.TagByte = 0x30;
    auto* rt = static_cast<TElASN1SimpleTag*>(seq.GetChild(seq.AddChild(false)));
    auto* st = static_cast<TElASN1SimpleTag*>(seq.GetChild(seq.AddChild(false)));
    WriteTagIntegerBytes(*rt, r, rSize);
    WriteTagIntegerBytes(*st, s, sSize);
    return seq.SaveToBuffer(blob, blobSize);
}
