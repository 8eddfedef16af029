// crypto/keys/SBPKCS5.cpp: the PKCS#5 schemes, their parameter blocks and key derivations.
#include "crypto/keys/SBPKCS5.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "crypto/base/SBASN1Tree.h"
#include "crypto/base/SBAlgorithmIdentifier.h"
#include "crypto/base/SBConstants.h"
#include "crypto/facade/SBHashFunction.h"
#include "crypto/facade/SBSymmetricCrypto.h"
#include "crypto/hash/SBSHA.h"
#include "crypto/math/SBRandom.h"
#include "crypto/sym/SBRC2.h"
#include "rtl/Bytes.h"
#include "rtl/Format.h"

namespace {

struct SchemeRow {
    std::string_view oid;
    int32_t scheme;
    int32_t digest;
    int32_t cipher;
};

// RFC 8018 appendix A.3 and A.4 (the PBES1 rows) and A.4 (id-PBES2). Row indices are stable:
// CreateForCipher names rows 2, 5 and 6.
constexpr std::array<SchemeRow, 7> kSchemes{{
    {SB_OID_PBE_MD2_DES, SB_ALG_PBES1, SB_ALG_MD2, SB_ALG_DES},
    {SB_OID_PBE_MD5_DES, SB_ALG_PBES1, SB_ALG_MD5, SB_ALG_DES},
    {SB_OID_PBE_SHA1_DES, SB_ALG_PBES1, SB_ALG_SHA1, SB_ALG_DES},
    {SB_OID_PBE_MD2_RC2, SB_ALG_PBES1, SB_ALG_MD2, SB_ALG_RC2},
    {SB_OID_PBE_MD5_RC2, SB_ALG_PBES1, SB_ALG_MD5, SB_ALG_RC2},
    {SB_OID_PBE_SHA1_RC2, SB_ALG_PBES1, SB_ALG_SHA1, SB_ALG_RC2},
    {SB_OID_PBES2, SB_ALG_PBES2, SB_ALG_UNKNOWN, SB_ALG_UNKNOWN},
}};
constexpr int kRowSHA1DES = 2;
constexpr int kRowSHA1RC2 = 5;
constexpr int kRowPBES2 = 6;

// PBES1 always derives 16 bytes: an 8-byte key and an 8-byte IV (RFC 8018 6.1.1).
constexpr size_t kPBES1DerivedLength = 16;
constexpr size_t kHMACSHA1Size = 20;
constexpr size_t kIVSize = 8;
constexpr int32_t kRC2MaxBits = 1024;

int FindScheme(std::string_view oid) {
    for (size_t i = 0; i < kSchemes.size(); ++i)
        if (kSchemes[i].oid == oid) return int(i);
    return -1;
}

[[noreturn]] void Unsupported(const std::string& what) {
    throw EElPKCS5UnsupportedError(rtl::Format(SPKCS5UnsupportedAlgorithm, what));
}

[[noreturn]] void InvalidParameters() {
    throw EElPKCS5InvalidParameterError(SPKCS5InvalidParameters);
}

// One parameter block as a tree: exactly one top-level element, a constructed SEQUENCE.
const TElASN1ConstrainedTag* SingleSequence(TElASN1ConstrainedTag& root, std::string_view der) {
    if (!LoadTagTree(root, der) || root.GetCount() != 1) return nullptr;
    const TElASN1CustomTag* top = root.GetChild(0);
    if (!top->CheckType(0x30, true)) return nullptr;
    return static_cast<const TElASN1ConstrainedTag*>(top);
}

const TElASN1SimpleTag* Primitive(const TElASN1ConstrainedTag& seq, int index, uint8_t tagByte) {
    const TElASN1CustomTag* t = seq.GetChild(index);
    if (t == nullptr || !t->CheckType(tagByte, false)) return nullptr;
    return static_cast<const TElASN1SimpleTag*>(t);
}

// An iteration count from a file: 1 .. MaxIterationCount.
bool ReadCount(const TElASN1SimpleTag* tag, int32_t& count) {
    uint32_t v = 0;
    if (tag == nullptr || !ReadTagIntegerBounded(*tag, TElPKCS5PBE::MaxIterationCount, v) || v == 0)
        return false;
    count = int32_t(v);
    return true;
}

void CheckCount(int32_t iterations) {
    if (iterations < 1 || uint32_t(iterations) > TElPKCS5PBE::MaxIterationCount)
        throw EElPKCS5InvalidParameterError(SPKCS5InvalidSaltOrCount);
}

// SEQUENCE { OCTET STRING salt, INTEGER iterationCount }: the PBES1 parameters (RFC 8018
// A.3) and the head of the PBKDF2 parameters (A.2).
void AddSaltAndCount(TElASN1ConstrainedTag& seq, std::string_view salt, int32_t iterations) {
    AddSimpleChild(seq, 0x04, salt);
    WriteTagInteger(AddSimpleChild(seq, 0x02), uint32_t(iterations));
}

// HMAC-SHA1 keyed once (RFC 2104): the inner and outer pad blocks are hashed up front and
// every PRF call continues from copies of those two states. PBKDF2 runs the PRF once per
// iteration and block, so this is where a key load spends its time; two compressions per call
// instead of four plus a provider context.
class HMACSHA1 final {
public:
    explicit HMACSHA1(std::string_view key) {
        uint8_t block[64] = {};
        if (key.size() > sizeof(block)) {
            SHA1Digest d;
            ComputeSHA1(key.data(), key.size(), d);
            std::memcpy(block, d.data(), d.size());
            rtl::secure_wipe(d.data(), d.size());
        } else if (!key.empty()) {
            std::memcpy(block, key.data(), key.size());
        }
        uint8_t pad[64];
        for (size_t i = 0; i < sizeof(pad); ++i)
            pad[i] = uint8_t(block[i] ^ 0x36);
        InitSHA1Context(inner_);
        UpdateSHA1Context(inner_, pad, sizeof(pad));
        for (size_t i = 0; i < sizeof(pad); ++i)
            pad[i] = uint8_t(block[i] ^ 0x5C);
        InitSHA1Context(outer_);
        UpdateSHA1Context(outer_, pad, sizeof(pad));
        rtl::secure_wipe(block, sizeof(block));
        rtl::secure_wipe(pad, sizeof(pad));
    }

    void Mac(const void* data, size_t size, SHA1Digest& out) const {
        SHA1Context c = inner_;
        UpdateSHA1Context(c, data, size);
        FinishSHA1Context(c, out);
        c = outer_;
        UpdateSHA1Context(c, out.data(), out.size());
        FinishSHA1Context(c, out);
    }

private:
    SHA1Context inner_;
    SHA1Context outer_;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Construction

TElPKCS5PBE::~TElPKCS5PBE() = default;

bool TElPKCS5PBE::IsAlgorithmSupported(std::string_view oid) {
    return FindScheme(oid) >= 0;
}

TElPKCS5PBE::TElPKCS5PBE(std::string_view algorithmOID, std::string_view parameters) {
    index_ = FindScheme(algorithmOID);
    if (index_ < 0) Unsupported(OIDToText(algorithmOID));
    schemeOID_ = ByteString(algorithmOID);
    schemeParams_ = ByteString(parameters);
    const SchemeRow& row = kSchemes[size_t(index_)];
    if (row.scheme == SB_ALG_PBES1) {
        ReadPBES1Parameters(parameters);
        kdf_ = SB_ALG_PBKDF1;
        digest_ = row.digest;
        cipher_ = row.cipher;
        version_ = 0;
    } else {
        ReadPBES2Parameters(parameters);
        version_ = 1;
    }
}

std::unique_ptr<TElPKCS5PBE> TElPKCS5PBE::CreateForCipher(int32_t cipher, bool pbes2, int32_t digest) {
    (void)digest;
    std::unique_ptr<TElPKCS5PBE> p(new TElPKCS5PBE());
    if (pbes2) {
        switch (cipher) {
            case SB_ALG_DES:
                p->keyLength_ = 8;
                p->cipherOID_ = ByteString(SB_OID_DES_CBC);
                break;
            case SB_ALG_3DES:
                p->keyLength_ = 24;
                p->cipherOID_ = ByteString(SB_OID_DES_EDE3_CBC);
                break;
            case SB_ALG_RC2:
                p->keyLength_ = 16;
                p->cipherOID_ = ByteString(SB_OID_RC2_CBC);
                break;
            default:
                Unsupported(std::to_string(cipher));
        }
        p->index_ = kRowPBES2;
        p->cipher_ = cipher;
        p->kdf_ = SB_ALG_PBKDF2;
        p->prf_ = SB_ALG_HMAC_SHA1;
        p->prfSize_ = int32_t(kHMACSHA1Size);
        p->digest_ = SB_ALG_SHA1;
        p->iv_.resize(kIVSize);
        GenerateRandomBytes(p->iv_.data(), p->iv_.size());
        p->version_ = 1;
    } else {
        if (cipher == SB_ALG_DES)
            p->index_ = kRowSHA1DES;
        else if (cipher == SB_ALG_RC2)
            p->index_ = kRowSHA1RC2;
        else
            Unsupported(std::to_string(cipher));
        p->cipher_ = cipher;
        p->kdf_ = SB_ALG_PBKDF1;
        p->digest_ = SB_ALG_SHA1;
        p->version_ = 0;
    }
    p->schemeOID_ = ByteString(kSchemes[size_t(p->index_)].oid);
    p->iterations_ = DefaultIterationCount;
    p->salt_.resize(SaltSize);
    GenerateRandomBytes(p->salt_.data(), p->salt_.size());
    p->schemeParams_ = pbes2 ? p->WritePBES2Parameters() : p->WritePBES1Parameters();
    return p;
}

// ---------------------------------------------------------------------------------------------
// Parameter blocks

// PBEParameter ::= SEQUENCE { salt OCTET STRING (SIZE(8)), iterationCount INTEGER } (RFC 8018
// A.3).
void TElPKCS5PBE::ReadPBES1Parameters(std::string_view parameters) {
    TElASN1ConstrainedTag root;
    const TElASN1ConstrainedTag* seq = SingleSequence(root, parameters);
    if (seq == nullptr || seq->GetCount() != 2) InvalidParameters();
    const TElASN1SimpleTag* salt = Primitive(*seq, 0, 0x04);
    if (salt == nullptr || salt->DataSource().GetSize() != int64_t(SaltSize)) InvalidParameters();
    if (!ReadCount(Primitive(*seq, 1, 0x02), iterations_)) InvalidParameters();
    salt_ = salt->GetContent();
}

ByteString TElPKCS5PBE::WritePBES1Parameters() const {
    TElASN1ConstrainedTag seq;
    seq.TagByte = 0x30;
    AddSaltAndCount(seq, salt_, iterations_);
    return SaveTagToString(seq);
}

// PBES2-params ::= SEQUENCE { keyDerivationFunc AlgorithmIdentifier, encryptionScheme
// AlgorithmIdentifier } (RFC 8018 A.4).
void TElPKCS5PBE::ReadPBES2Parameters(std::string_view parameters) {
    TElASN1ConstrainedTag root;
    const TElASN1ConstrainedTag* seq = SingleSequence(root, parameters);
    if (seq == nullptr || seq->GetCount() != 2 || !seq->GetChild(0)->CheckType(0x30, true) ||
        !seq->GetChild(1)->CheckType(0x30, true))
        InvalidParameters();
    ByteString kdfOID, kdfParams, encOID, encParams;
    if (ReadAlgorithmIdentifier(*seq->GetChild(0), kdfOID, kdfParams) != 0 ||
        ReadAlgorithmIdentifier(*seq->GetChild(1), encOID, encParams) != 0)
        InvalidParameters();
    if (kdfOID != SB_OID_PBKDF2) Unsupported(OIDToText(kdfOID));
    ReadPBKDF2Parameters(kdfParams);
    kdf_ = SB_ALG_PBKDF2;
    prf_ = SB_ALG_HMAC_SHA1;
    prfSize_ = int32_t(kHMACSHA1Size);
    ReadEncryptionScheme(encOID, encParams);
}

// PBKDF2-params ::= SEQUENCE { salt OCTET STRING, iterationCount INTEGER (1..MAX), keyLength
// INTEGER OPTIONAL, prf AlgorithmIdentifier DEFAULT hmacWithSHA1 } (RFC 8018 A.2). The key
// length used is the encryption scheme's; a keyLength here is accepted and not consulted.
void TElPKCS5PBE::ReadPBKDF2Parameters(std::string_view parameters) {
    TElASN1ConstrainedTag root;
    const TElASN1ConstrainedTag* seq = SingleSequence(root, parameters);
    if (seq == nullptr || seq->GetCount() < 2) InvalidParameters();
    const TElASN1SimpleTag* salt = Primitive(*seq, 0, 0x04);
    if (salt == nullptr || !ReadCount(Primitive(*seq, 1, 0x02), iterations_)) InvalidParameters();
    salt_ = salt->GetContent();
    int next = 2;
    if (Primitive(*seq, next, 0x02) != nullptr) ++next;
    if (next < seq->GetCount()) {
        const TElASN1CustomTag* prf = seq->GetChild(next);
        if (!prf->CheckType(0x30, true)) InvalidParameters();
        ByteString prfOID, prfParams;
        if (ReadAlgorithmIdentifier(*prf, prfOID, prfParams) != 0) InvalidParameters();
        if (prfOID != SB_OID_HMACSHA1_PKCS) Unsupported(OIDToText(prfOID));
        ++next;
    }
    if (next != seq->GetCount()) InvalidParameters();
}

void TElPKCS5PBE::ReadEncryptionScheme(std::string_view oid, std::string_view parameters) {
    const int32_t code = GetAlgorithmByOID(oid);
    if (code == SB_ALG_UNKNOWN) Unsupported(OIDToText(oid));
    if (code == SB_ALG_RC2) {
        ByteString iv;
        int32_t bits = 0;
        // Parameters that do not decode leave the scheme without a cipher: every operation
        // then reports it unsupported. So do effective bits outside what RC2 has (RFC 2268: at
        // most 1024, a 128-byte key): a version of up to 2^31 - 1 would otherwise size the key
        // PBKDF2 derives, 256 MB of HMAC blocks for one hostile file.
        if (!DecodeRC2CBCParameters(ByteString(parameters), iv, bits) || bits < 8 || bits > kRC2MaxBits)
            return;
        keyLength_ = bits / 8;
        iv_ = iv;
        cipherOID_ = ByteString(oid);
        cipher_ = code;
        return;
    }
    TElASN1ConstrainedTag root;
    if (!LoadTagTree(root, parameters) || root.GetCount() != 1 || !root.GetChild(0)->CheckType(0x04, false))
        throw EElPKCS5UnsupportedError(SPKCS5InvalidParameters);
    const ByteString iv = static_cast<const TElASN1SimpleTag&>(*root.GetChild(0)).GetContent();
    if (code == SB_ALG_DES)
        keyLength_ = 8;
    else if (code == SB_ALG_3DES)
        keyLength_ = 24;
    else
        Unsupported(OIDToText(oid));
    iv_ = iv;
    cipherOID_ = ByteString(oid);
    cipher_ = code;
}

ByteString TElPKCS5PBE::WritePBES2Parameters() const {
    if (kdf_ != SB_ALG_PBKDF2) Unsupported(std::to_string(kdf_));
    // PBKDF2-params: salt, count and the PRF written out (hmacWithSHA1, NULL); no keyLength.
    TElASN1ConstrainedTag kdfParams;
    kdfParams.TagByte = 0x30;
    AddSaltAndCount(kdfParams, salt_, iterations_);
    WriteAlgorithmIdentifier(AddConstrainedChild(kdfParams, 0x30), SB_OID_HMACSHA1_PKCS, {});

    ByteString encParams;
    if (cipher_ == SB_ALG_RC2) {
        EncodeRC2CBCParameters(iv_, keyLength_ * 8, encParams);
    } else {
        encParams.reserve(2 + iv_.size());
        encParams += char(0x04);
        encParams += char(iv_.size());
        encParams += iv_;
    }
    TElASN1ConstrainedTag seq;
    seq.TagByte = 0x30;
    WriteAlgorithmIdentifier(AddConstrainedChild(seq, 0x30), SB_OID_PBKDF2, SaveTagToString(kdfParams));
    WriteAlgorithmIdentifier(AddConstrainedChild(seq, 0x30), cipherOID_, encParams);
    return SaveTagToString(seq);
}

// ---------------------------------------------------------------------------------------------
// Key derivation

// RFC 8018 5.1: T_1 = Hash(P || S), T_i = Hash(T_{i-1}); the first length bytes of T_c.
rtl::SecureBytes TElPKCS5PBE::PBKDF1(int32_t digest, std::string_view password, std::string_view salt,
                                     int32_t iterations, size_t length) {
    int32_t bits = 0;
    try {
        bits = TElHashFunction::GetDigestSizeBits(digest);
        if (bits <= 0)
            throw EElPKCS5UnsupportedError(rtl::Format(SPKCS5UnsupportedAlgorithm, std::to_string(digest)));
    } catch (const EElPKCS5Error&) {
        throw;
    } catch (const rtl::Exception& e) {
        throw EElPKCS5UnsupportedError(e.Message());
    }
    if (size_t(bits / 8) < length) throw EElPKCS5InternalError(SPKCS5DigestTooShort);
    if (salt.size() != TElPKCS5PBE::SaltSize) throw EElPKCS5InvalidParameterError(SPKCS5InvalidSaltOrCount);
    CheckCount(iterations);
    rtl::SecureBytes t;
    try {
        TElHashFunction h(digest);
        h.Update(password.data(), password.size());
        h.Update(salt.data(), salt.size());
        ByteString d = h.Finish();
        for (int32_t i = 1; i < iterations; ++i) {
            h.Reset();
            h.Update(d.data(), d.size());
            ByteString next = h.Finish();
            ClearString(d);
            d.swap(next);
        }
        t.assign(d.begin(), d.end());
        ClearString(d);
    } catch (const rtl::Exception&) {
        throw EElPKCS5InternalError(SPKCS5InternalError);
    }
    t.resize(length);
    return t;
}

// RFC 8018 5.2: T_i = U_1 ^ ... ^ U_c with U_1 = PRF(P, S || INT(i)), U_j = PRF(P, U_{j-1}).
rtl::SecureBytes TElPKCS5PBE::PBKDF2(int32_t prf, std::string_view password, std::string_view salt,
                                     int32_t iterations, size_t length) {
    if (prf != SB_ALG_HMAC_SHA1) Unsupported(std::to_string(prf));
    CheckCount(iterations);
    const HMACSHA1 mac(password);
    rtl::SecureBytes out;
    out.reserve(length + kHMACSHA1Size);
    rtl::SecureBytes first(salt.begin(), salt.end());
    first.resize(salt.size() + 4);
    SHA1Digest u, block;
    for (uint32_t i = 1; out.size() < length; ++i) {
        rtl::store_be32(first.data() + salt.size(), i);
        mac.Mac(first.data(), first.size(), u);
        block = u;
        for (int32_t j = 1; j < iterations; ++j) {
            mac.Mac(u.data(), u.size(), u);
            for (size_t k = 0; k < block.size(); ++k)
                block[k] ^= u[k];
        }
        out.insert(out.end(), block.begin(), block.end());
    }
    rtl::secure_wipe(u.data(), u.size());
    rtl::secure_wipe(block.data(), block.size());
    out.resize(length);
    return out;
}

// The cipher key, and the IV the scheme uses with it.
rtl::SecureBytes TElPKCS5PBE::DeriveKey(std::string_view password, rtl::SecureBytes& iv) const {
    if (version_ == 0) {
        rtl::SecureBytes dk = PBKDF1(digest_, password, salt_, iterations_, kPBES1DerivedLength);
        iv.assign(dk.begin() + 8, dk.end());
        dk.resize(8);
        return dk;
    }
    if (kdf_ != SB_ALG_PBKDF2) Unsupported(std::to_string(kdf_));
    if (cipher_ == 0) Unsupported(std::to_string(kSchemes[size_t(index_)].cipher));
    iv.assign(iv_.begin(), iv_.end());
    return PBKDF2(prf_, password, salt_, iterations_, size_t(keyLength_));
}

// ---------------------------------------------------------------------------------------------
// Encryption

void TElPKCS5PBE::Run(bool encrypt, const void* input, size_t inputSize, std::string_view password,
                      size_t& outputSize, void* output) const {
    // A PBES2 scheme whose RC2 parameters did not decode has no cipher: the row's code names it.
    if (cipher_ == 0) Unsupported(std::to_string(kSchemes[size_t(index_)].cipher));
    const TElSymmetricCryptoFactory factory;
    std::unique_ptr<TElSymmetricCrypto> crypto = factory.CreateInstance(cipher_, 0);
    if (!crypto) Unsupported(std::to_string(kSchemes[size_t(index_)].cipher));
    rtl::SecureBytes iv;
    const rtl::SecureBytes key = DeriveKey(password, iv);
    TElSymmetricKeyMaterial material;
    material.SetKey(key);
    material.SetIV(iv);
    crypto->SetKeyMaterial(&material);
    if (encrypt)
        crypto->Encrypt(input, inputSize, output, outputSize);
    else
        crypto->Decrypt(input, inputSize, output, outputSize);
}

void TElPKCS5PBE::Decrypt(const void* input, size_t inputSize, std::string_view password, size_t& outputSize,
                          void* output) const {
    if (outputSize == 0 || output == nullptr) {
        outputSize = inputSize;
        return;
    }
    Run(false, input, inputSize, password, outputSize, output);
}

void TElPKCS5PBE::Encrypt(const void* input, size_t inputSize, std::string_view password, size_t& outputSize,
                          void* output) const {
    if (outputSize == 0 || output == nullptr) {
        outputSize = inputSize + 32;
        return;
    }
    Run(true, input, inputSize, password, outputSize, output);
}
