// crypto/keys/SBPKCS8.cpp: the two PKCS#8 structures.
#include "crypto/keys/SBPKCS8.h"

#include <cstring>
#include <memory>

#include "crypto/base/SBASN1Tree.h"
#include "crypto/base/SBAlgorithmIdentifier.h"
#include "crypto/base/SBConstants.h"
#include "crypto/facade/SBHashFunction.h"
#include "crypto/facade/SBSymmetricCrypto.h"
#include "crypto/keys/SBPEM.h"
#include "crypto/keys/SBPKCS5.h"
#include "rtl/SecureBytes.h"

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

// ---------------------------------------------------------------------------------------------
// TElPKCS8PrivateKey

namespace {

// RC4 under the MD5 digest of the passphrase, no salt: the old form some tools wrote. RC4 is
// its own inverse, so the one routine decrypts.
rtl::SecureBytes RC4WithMD5Key(std::string_view passphrase, std::string_view data) {
    TElHashFunction md5(SB_ALG_MD5);
    md5.Update(passphrase.data(), passphrase.size());
    ByteString digest = md5.Finish();
    const rtl::SecureBytes key(digest.begin(), digest.end());
    ClearString(digest);
    std::unique_ptr<TElSymmetricCrypto> rc4 = TElSymmetricCryptoFactory().CreateInstance(SB_ALG_RC4);
    if (!rc4) throw EElPKCS5UnsupportedError(SPKCS5InvalidParameters);
    TElSymmetricKeyMaterial material;
    material.SetKey(key);
    rc4->SetKeyMaterial(&material);
    rtl::SecureBytes out(data.size());
    size_t size = out.size();
    rc4->Decrypt(data.data(), data.size(), out.data(), size);
    out.resize(size);
    return out;
}

// The DER of a structure through its size protocol, in a wiped buffer.
template <class Info>
rtl::SecureBytes SaveInfo(const Info& info) {
    size_t size = 0;
    info.SaveToBuffer(nullptr, size);
    rtl::SecureBytes out(size);
    info.SaveToBuffer(out.data(), size);
    out.resize(size);
    return out;
}

}  // namespace

void TElPKCS8PrivateKey::SetPrivateKeyBlob(std::string_view blob) {
    ClearString(keyInfo_.PrivateKey);
    keyInfo_.PrivateKey = ByteString(blob);
}

int32_t TElPKCS8PrivateKey::LoadFromBuffer(const void* data, size_t size, std::string_view passphrase) {
    CipherAlgorithm = 0xFFFF;
    if (data == nullptr) size = 0;
    // PEM of any header word; anything that is not PEM is taken as DER.
    rtl::SecureBytes work(size);
    int32_t workSize = int32_t(work.size());
    std::string header;
    const int32_t pem = size > size_t(INT32_MAX) ? PEM_DECODE_RESULT_INVALID_FORMAT
                                                 : PEMDecode(data, int32_t(size), work.data(),
                                                             ByteString(passphrase), workSize, header);
    if (pem == PEM_DECODE_RESULT_OK)
        work.resize(size_t(workSize));
    else if (pem == PEM_DECODE_RESULT_INVALID_FORMAT)
        work.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
    else
        return pem;
    if (keyInfo_.LoadFromBuffer(work.data(), work.size()) == 0) {
        CipherAlgorithm = SB_ALG_IDENTITY;
        return 0;
    }
    if (const int32_t r = encryptedKeyInfo_.LoadFromBuffer(work.data(), work.size()); r != 0) return r;
    return DecryptKeyInfo(passphrase);
}

int32_t TElPKCS8PrivateKey::DecryptKeyInfo(std::string_view passphrase) {
    const TElPKCS8EncryptedPrivateKeyInfo& e = encryptedKeyInfo_;
    rtl::SecureBytes plain;
    if (TElPKCS5PBE::IsAlgorithmSupported(e.EncryptionAlgorithm)) {
        try {
            const TElPKCS5PBE pbe(e.EncryptionAlgorithm, e.EncryptionAlgorithmParams);
            size_t size = 0;
            pbe.Decrypt(e.EncryptedData.data(), e.EncryptedData.size(), passphrase, size, nullptr);
            plain.resize(size);
            if (size > 0)
                pbe.Decrypt(e.EncryptedData.data(), e.EncryptedData.size(), passphrase, size, plain.data());
            plain.resize(size);
            CipherAlgorithm = pbe.CipherAlgorithm();
            UsePBES2 = pbe.SchemeVersion() == 1;
        } catch (const EElPKCS5UnsupportedError&) {
            return SB_PKCS8_ERROR_UNSUPPORTED_ALGORITHM;
        } catch (const EElPKCS5InvalidParameterError&) {
            return SB_PKCS8_ERROR_INVALID_PARAMETER;
        } catch (const EElPKCS5InvalidPasswordError&) {
            return SB_PKCS8_ERROR_INVALID_PASSWORD;
        } catch (const rtl::Exception&) {
            // The cipher layer refusing the padding of a wrongly decrypted last block, mostly.
            return SB_PKCS8_ERROR_INTERNAL_ERROR;
        }
    } else if (GetAlgorithmByOID(e.EncryptionAlgorithm) == SB_ALG_RC4) {
        try {
            plain = RC4WithMD5Key(passphrase, e.EncryptedData);
        } catch (const rtl::Exception&) {
            return SB_PKCS8_ERROR_INTERNAL_ERROR;
        }
        CipherAlgorithm = SB_ALG_RC4;
    } else {
        return SB_PKCS8_ERROR_UNSUPPORTED_ALGORITHM;
    }
    const int32_t r = keyInfo_.LoadFromBuffer(plain.data(), plain.size());
    return r == SB_PKCS8_ERROR_INVALID_ASN_DATA ? SB_PKCS8_ERROR_INVALID_PASSWORD : r;
}

int32_t TElPKCS8PrivateKey::SaveToBuffer(void* buffer, size_t& size, bool pem, std::string_view passphrase) {
    rtl::SecureBytes der;
    if (const int32_t r = SaveToBytes(der, pem, passphrase); r != 0) return r;
    const size_t room = size;
    size = der.size();
    if (buffer == nullptr || room < der.size()) return SB_PKCS8_ERROR_BUFFER_TOO_SMALL;
    std::memcpy(buffer, der.data(), der.size());
    return 0;
}

int32_t TElPKCS8PrivateKey::SaveToBytes(rtl::SecureBytes& out, bool pem, std::string_view passphrase) {
    if (keyInfo_.KeyAlgorithm.empty()) return SB_PKCS8_ERROR_UNSUPPORTED_ALGORITHM;
    rtl::SecureBytes der;
    const char* word = "PRIVATE KEY";
    if (!passphrase.empty()) {
        // RC4 under an unsalted MD5 key would give every key saved under this passphrase the
        // same keystream: such keys are read, never written.
        if (CipherAlgorithm == SB_ALG_RC4) return SB_PKCS8_ERROR_UNSUPPORTED_ALGORITHM;
        try {
            const std::unique_ptr<TElPKCS5PBE> pbe =
                TElPKCS5PBE::CreateForCipher(CipherAlgorithm, UsePBES2, SB_ALG_SHA1);
            const rtl::SecureBytes plain = SaveInfo(keyInfo_);
            size_t encryptedSize = 0;
            pbe->Encrypt(plain.data(), plain.size(), passphrase, encryptedSize, nullptr);
            ByteString encrypted(encryptedSize, '\0');
            pbe->Encrypt(plain.data(), plain.size(), passphrase, encryptedSize, encrypted.data());
            encrypted.resize(encryptedSize);
            encryptedKeyInfo_.EncryptionAlgorithm = pbe->SchemeOID();
            encryptedKeyInfo_.EncryptionAlgorithmParams = pbe->SchemeParams();
            encryptedKeyInfo_.EncryptedData = encrypted;
        } catch (const rtl::Exception&) {
            return SB_PKCS8_ERROR_UNSUPPORTED_ALGORITHM;
        }
        der = SaveInfo(encryptedKeyInfo_);
        word = "ENCRYPTED PRIVATE KEY";
    } else {
        der = SaveInfo(keyInfo_);
    }
    if (pem) {
        int32_t armouredSize = 0;
        PEMEncode(der.data(), int32_t(der.size()), nullptr, armouredSize, word, false, {});
        rtl::SecureBytes armoured(static_cast<size_t>(armouredSize));
        if (!PEMEncode(der.data(), int32_t(der.size()), armoured.data(), armouredSize, word, false, {}))
            return SB_PKCS8_ERROR_UNSUPPORTED_ALGORITHM;
        armoured.resize(size_t(armouredSize));
        der.swap(armoured);
    }
    out.swap(der);
    return 0;
}
