// crypto/SBPKCS8.cpp: the two PKCS#8 structures.
#include "crypto/SBPKCS8.h"

#include <cstring>

#include "crypto/SBASN1Tree.h"
#include "crypto/SBAlgorithmIdentifier.h"

namespace {

// Parses a buffer that must be exactly one constructed SEQUENCE; the code of the failure.
int32_t LoadSingleSequence(TElASN1ConstrainedTag& root, const void* data, size_t size,
                           const TElASN1ConstrainedTag*& seq) {
    if (!LoadTagTree(root, std::string_view(static_cast<const char*>(data), data != nullptr ? size : 0)))
        return SB_PKCS8_ERROR_INVALID_ASN_DATA;
    if (root.GetCount() != 1 || !root.GetChild(0)->CheckType(0x30, true))
        return SB_PKCS8_ERROR_INVALID_FORMAT;
    seq = static_cast<const TElASN1ConstrainedTag*>(root.GetChild(0));
    return 0;
}

// The size protocol shared by the writers: a null buffer or too little room answers false with
// the size needed.
bool SaveTree(const TElASN1ConstrainedTag& tag, void* buffer, size_t& size) {
    const size_t needed = size_t(tag.GetEncodedSize());
    if (buffer == nullptr || size < needed) {
        size = needed;
        return false;
    }
    return tag.SaveToBuffer(buffer, size);
}

// Wipes a tree that held a private key when it goes.
struct WipedTree {
    TElASN1ConstrainedTag tag;
    ~WipedTree() { WipeTagTree(tag); }
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// TElPKCS8PrivateKeyInfo

TElPKCS8PrivateKeyInfo::~TElPKCS8PrivateKeyInfo() {
    ClearString(PrivateKey);
}

void TElPKCS8PrivateKeyInfo::Clear() {
    KeyAlgorithm.clear();
    KeyAlgorithmParams.clear();
    ClearString(PrivateKey);
}

int32_t TElPKCS8PrivateKeyInfo::LoadFromBuffer(const void* data, size_t size) {
    Clear();
    WipedTree root;
    const TElASN1ConstrainedTag* seq = nullptr;
    if (const int32_t r = LoadSingleSequence(root.tag, data, size, seq); r != 0) return r;
    if (seq->GetCount() < 3 || seq->GetCount() > 4) return SB_PKCS8_ERROR_INVALID_FORMAT;
    const TElASN1CustomTag* version = seq->GetChild(0);
    if (!version->CheckType(0x02, false)) return SB_PKCS8_ERROR_INVALID_FORMAT;
    if (static_cast<const TElASN1SimpleTag&>(*version).GetContent() != std::string_view("\0", 1))
        return SB_PKCS8_ERROR_INVALID_VERSION;
    if (const int32_t r = ReadAlgorithmIdentifier(*seq->GetChild(1), KeyAlgorithm, KeyAlgorithmParams);
        r != 0)
        return r;
    const TElASN1CustomTag* key = seq->GetChild(2);
    if (!key->CheckType(0x04, false)) return SB_PKCS8_ERROR_INVALID_FORMAT;
    PrivateKey = static_cast<const TElASN1SimpleTag&>(*key).GetContent();
    return 0;
}

bool TElPKCS8PrivateKeyInfo::SaveToBuffer(void* buffer, size_t& size) const {
    WipedTree t;
    t.tag.TagByte = 0x30;
    AddSimpleChild(t.tag, 0x02, std::string_view("\0", 1));
    WriteAlgorithmIdentifier(AddConstrainedChild(t.tag, 0x30), KeyAlgorithm, KeyAlgorithmParams);
    AddSimpleChild(t.tag, 0x04, PrivateKey);
    return SaveTree(t.tag, buffer, size);
}

// ---------------------------------------------------------------------------------------------
// TElPKCS8EncryptedPrivateKeyInfo

int32_t TElPKCS8EncryptedPrivateKeyInfo::LoadFromBuffer(const void* data, size_t size) {
    TElASN1ConstrainedTag root;
    const TElASN1ConstrainedTag* seq = nullptr;
    if (const int32_t r = LoadSingleSequence(root, data, size, seq); r != 0) return r;
    return ReadFromTag(*seq);
}

int32_t TElPKCS8EncryptedPrivateKeyInfo::ReadFromTag(const TElASN1ConstrainedTag& tag) {
    if (tag.GetCount() != 2 || !tag.GetChild(0)->CheckType(0x30, true) ||
        !tag.GetChild(1)->CheckType(0x04, false))
        return SB_PKCS8_ERROR_INVALID_FORMAT;
    if (const int32_t r =
            ReadAlgorithmIdentifier(*tag.GetChild(0), EncryptionAlgorithm, EncryptionAlgorithmParams);
        r != 0)
        return r;
    EncryptedData = static_cast<const TElASN1SimpleTag&>(*tag.GetChild(1)).GetContent();
    return 0;
}

void TElPKCS8EncryptedPrivateKeyInfo::WriteToTag(TElASN1ConstrainedTag& tag) const {
    tag.Clear();
    tag.TagByte = 0x30;
    WriteAlgorithmIdentifier(AddConstrainedChild(tag, 0x30), EncryptionAlgorithm, EncryptionAlgorithmParams);
    AddSimpleChild(tag, 0x04, EncryptedData);
}

bool TElPKCS8EncryptedPrivateKeyInfo::SaveToBuffer(void* buffer, size_t& size) const {
    TElASN1ConstrainedTag t;
    WriteToTag(t);
    return SaveTree(t, buffer, size);
}
