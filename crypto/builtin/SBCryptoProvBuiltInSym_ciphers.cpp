// crypto/builtin/SBCryptoProvBuiltInSym_ciphers.cpp: the thirteen cipher classes of the engine and
// the factory that picks one by algorithm code.
//
// Each class is a table of what it accepts (codes, OIDs, lengths) and a small subclass that
// checks key and IV lengths, builds its key schedule when a message starts and runs one block
// or stream step. Modes, padding and buffering stay in the engine.
#include <cstring>

#include "crypto/builtin/SBCryptoProvBuiltInSym.h"
#include "crypto/prov/SBCryptoProvRS.h"
#include "crypto/prov/SBCryptoProvUtils.h"
#include "crypto/sym/SB3DES.h"
#include "crypto/sym/SBAES.h"
#include "crypto/sym/SBBlowfish.h"
#include "crypto/sym/SBCAST128.h"
#include "crypto/sym/SBCamellia.h"
#include "crypto/sym/SBDES.h"
#include "crypto/sym/SBRC2.h"
#include "crypto/sym/SBRabbit.h"
#include "crypto/sym/SBSeed.h"
#include "crypto/sym/SBSerpent.h"
#include "crypto/sym/SBTwofish.h"
#include "rtl/Bytes.h"

using SBCryptoProvBuiltInSym::EElSymmetricCryptoError;

namespace {

using Algorithm = TElBuiltInSymmetricCryptoClass::Algorithm;
using ObjectIdentifier = TElBuiltInSymmetricCryptoClass::ObjectIdentifier;

template <class T>
std::unique_ptr<TElBuiltInSymmetricCrypto> Make(const TElBuiltInSymmetricCryptoClass& cls, int32_t code,
                                                uint8_t mode) {
    return std::make_unique<T>(cls, code, mode);
}

[[noreturn]] void BadKey() {
    throw EElSymmetricCryptoError(SInvalidKeyMaterial);
}

// Key length in one of the listed lengths, IV empty or of the given length (0: not checked).
void CheckLengths(const TElCustomCryptoKey* key, std::initializer_list<size_t> keyLengths, size_t ivLength) {
    if (key == nullptr) BadKey();
    bool ok = false;
    for (size_t n : keyLengths)
        ok |= key->GetValue().size() == n;
    if (!ok) BadKey();
    if (ivLength != 0 && !key->GetIV().empty() && key->GetIV().size() != ivLength) BadKey();
}

void CheckRange(const TElCustomCryptoKey* key, size_t minLength, size_t maxLength, size_t ivLength) {
    if (key == nullptr) BadKey();
    const size_t n = key->GetValue().size();
    if (n < minLength || n > maxLength) BadKey();
    if (ivLength != 0 && !key->GetIV().empty() && key->GetIV().size() != ivLength) BadKey();
}

// The decryption key schedule is a different one only in ECB and CBC; CTR and CFB run the
// cipher forwards in both directions.
bool UsesInverseCipher(uint8_t mode) {
    return mode == SYMMETRIC_MODE_ECB || mode == SYMMETRIC_MODE_CBC;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// AES (FIPS 197): three schedules, one per key size, and the multi-block routines of SBAES.

class TElBuiltInAESSymmetricCrypto final : public TElBuiltInSymmetricCrypto {
public:
    TElBuiltInAESSymmetricCrypto(const TElBuiltInSymmetricCryptoClass& cls, int32_t code, uint8_t mode)
        : TElBuiltInSymmetricCrypto(cls, code, mode) {}

    void SetKey(TElCustomCryptoKey* key) override {
        CheckLengths(key, {16, 24, 32}, 16);
        TElBuiltInSymmetricCrypto::SetKey(key);
    }
    void InitializeEncryption() override {
        TElBuiltInSymmetricCrypto::InitializeEncryption();
        Expand(false);
    }
    void InitializeDecryption() override {
        TElBuiltInSymmetricCrypto::InitializeDecryption();
        Expand(UsesInverseCipher(GetMode()));
    }

protected:
    void EncryptBlock(const uint8_t* in, uint8_t* out) override { EncryptECB(in, out, 1); }
    void DecryptBlock(const uint8_t* in, uint8_t* out) override { DecryptECB(in, out, 1); }
    void EncryptECB(const uint8_t* in, uint8_t* out, size_t blocks) override {
        switch (rounds_) {
            case 10:
                return AESEncryptBlocks128(in, k128_, out, blocks);
            case 12:
                return AESEncryptBlocks192(in, k192_, out, blocks);
            default:
                return AESEncryptBlocks256(in, k256_, out, blocks);
        }
    }
    void DecryptECB(const uint8_t* in, uint8_t* out, size_t blocks) override {
        switch (rounds_) {
            case 10:
                return AESDecryptBlocks128(in, k128_, out, blocks);
            case 12:
                return AESDecryptBlocks192(in, k192_, out, blocks);
            default:
                return AESDecryptBlocks256(in, k256_, out, blocks);
        }
    }
    void EncryptCBC(const uint8_t* in, uint8_t* out, size_t blocks, uint8_t* chain) override {
        switch (rounds_) {
            case 10:
                return AESEncryptBlocksCBC128(in, k128_, chain, out, blocks);
            case 12:
                return AESEncryptBlocksCBC192(in, k192_, chain, out, blocks);
            default:
                return AESEncryptBlocksCBC256(in, k256_, chain, out, blocks);
        }
    }
    void DecryptCBC(const uint8_t* in, uint8_t* out, size_t blocks, uint8_t* chain) override {
        switch (rounds_) {
            case 10:
                return AESDecryptBlocksCBC128(in, k128_, chain, out, blocks);
            case 12:
                return AESDecryptBlocksCBC192(in, k192_, chain, out, blocks);
            default:
                return AESDecryptBlocksCBC256(in, k256_, chain, out, blocks);
        }
    }
    void CryptCTR(const uint8_t* in, uint8_t* out, size_t blocks, uint8_t* counter) override {
        switch (rounds_) {
            case 10:
                return AESEncryptBlocksCTR128(in, k128_, counter, out, blocks);
            case 12:
                return AESEncryptBlocksCTR192(in, k192_, counter, out, blocks);
            default:
                return AESEncryptBlocksCTR256(in, k256_, counter, out, blocks);
        }
    }

private:
    void Expand(bool forDecryption) {
        const std::span<const uint8_t> k = KeyValue();
        rounds_ = int(k.size() / 4 + 6);
        switch (rounds_) {
            case 10:
                AESExpandKey128(k.data(), k128_);
                if (forDecryption) AESDecryptKeySchedule128(k128_);
                break;
            case 12:
                AESExpandKey192(k.data(), k192_);
                if (forDecryption) AESDecryptKeySchedule192(k192_);
                break;
            default:
                AESExpandKey256(k.data(), k256_);
                if (forDecryption) AESDecryptKeySchedule256(k256_);
                break;
        }
    }

    int rounds_ = 10;
    TAESExpandedKey128 k128_;
    TAESExpandedKey192 k192_;
    TAESExpandedKey256 k256_;
};

// ---------------------------------------------------------------------------------------------
// Identity: copies its input; keeps any key without a check.

class TElBuiltInIdentitySymmetricCrypto final : public TElBuiltInSymmetricCrypto {
public:
    TElBuiltInIdentitySymmetricCrypto(const TElBuiltInSymmetricCryptoClass& cls, int32_t code, uint8_t mode)
        : TElBuiltInSymmetricCrypto(cls, code, mode) {}

    void SetKey(TElCustomCryptoKey* key) override {
        if (key == nullptr) BadKey();
        StoreKey(key);
    }

protected:
    void StreamEncrypt(const uint8_t* in, uint8_t* out, size_t n) override {
        if (n != 0 && in != out) std::memmove(out, in, n);
    }
    void StreamDecrypt(const uint8_t* in, uint8_t* out, size_t n) override { StreamEncrypt(in, out, n); }
};

// ---------------------------------------------------------------------------------------------
// Blowfish: two big-endian words per block; CBC encryption through the multi-block routine.

class TElBuiltInBlowfishSymmetricCrypto final : public TElBuiltInSymmetricCrypto {
public:
    TElBuiltInBlowfishSymmetricCrypto(const TElBuiltInSymmetricCryptoClass& cls, int32_t code, uint8_t mode)
        : TElBuiltInSymmetricCrypto(cls, code, mode) {}

    void SetKey(TElCustomCryptoKey* key) override {
        CheckRange(key, 4, 56, 8);
        TElBuiltInSymmetricCrypto::SetKey(key);
    }
    void InitializeEncryption() override {
        TElBuiltInSymmetricCrypto::InitializeEncryption();
        BlowfishKeySchedule(state_, KeyValue());
    }
    void InitializeDecryption() override {
        TElBuiltInSymmetricCrypto::InitializeDecryption();
        BlowfishKeySchedule(state_, KeyValue());
    }

protected:
    void EncryptBlock(const uint8_t* in, uint8_t* out) override {
        uint32_t l = rtl::load_be32(in), r = rtl::load_be32(in + 4);
        BlowfishEncryptWords(state_, l, r);
        rtl::store_be32(out, l);
        rtl::store_be32(out + 4, r);
    }
    void DecryptBlock(const uint8_t* in, uint8_t* out) override {
        uint32_t l = rtl::load_be32(in), r = rtl::load_be32(in + 4);
        BlowfishDecryptWords(state_, l, r);
        rtl::store_be32(out, l);
        rtl::store_be32(out + 4, r);
    }
    void EncryptCBC(const uint8_t* in, uint8_t* out, size_t blocks, uint8_t* chain) override {
        BlowfishEncryptBlocksCBC(in, state_, chain, out, blocks);
    }

private:
    BlowfishState state_;
};

// ---------------------------------------------------------------------------------------------
// Twofish

class TElBuiltInTwofishSymmetricCrypto final : public TElBuiltInSymmetricCrypto {
public:
    TElBuiltInTwofishSymmetricCrypto(const TElBuiltInSymmetricCryptoClass& cls, int32_t code, uint8_t mode)
        : TElBuiltInSymmetricCrypto(cls, code, mode) {}

    void SetKey(TElCustomCryptoKey* key) override {
        CheckLengths(key, {16, 24, 32}, 16);
        TElBuiltInSymmetricCrypto::SetKey(key);
    }
    void InitializeEncryption() override {
        TElBuiltInSymmetricCrypto::InitializeEncryption();
        TwofishKeySchedule(KeyValue(), subkeys_);
    }
    void InitializeDecryption() override {
        TElBuiltInSymmetricCrypto::InitializeDecryption();
        TwofishKeySchedule(KeyValue(), subkeys_);
    }

protected:
    void EncryptBlock(const uint8_t* in, uint8_t* out) override { TwofishEncryptBlock(subkeys_, in, out); }
    void DecryptBlock(const uint8_t* in, uint8_t* out) override { TwofishDecryptBlock(subkeys_, in, out); }

private:
    TwofishSubkeys subkeys_;
};

// ---------------------------------------------------------------------------------------------
// CAST-128 (RFC 2144), 128-bit keys

class TElBuiltInCAST128SymmetricCrypto final : public TElBuiltInSymmetricCrypto {
public:
    TElBuiltInCAST128SymmetricCrypto(const TElBuiltInSymmetricCryptoClass& cls, int32_t code, uint8_t mode)
        : TElBuiltInSymmetricCrypto(cls, code, mode) {}

    void SetKey(TElCustomCryptoKey* key) override {
        CheckLengths(key, {16}, 8);
        TElBuiltInSymmetricCrypto::SetKey(key);
    }
    void InitializeEncryption() override {
        TElBuiltInSymmetricCrypto::InitializeEncryption();
        CAST128KeySchedule(KeyValue(), subkeys_);
    }
    void InitializeDecryption() override {
        TElBuiltInSymmetricCrypto::InitializeDecryption();
        CAST128KeySchedule(KeyValue(), subkeys_);
    }

protected:
    void EncryptBlock(const uint8_t* in, uint8_t* out) override { CAST128EncryptBlock(out, in, subkeys_); }
    void DecryptBlock(const uint8_t* in, uint8_t* out) override { CAST128DecryptBlock(out, in, subkeys_); }

private:
    CAST128Subkeys subkeys_;
};

// ---------------------------------------------------------------------------------------------
// RC2 (RFC 2268). The effective key bits come with the key (its effective-key-length
// property, from the RC2-CBC parameters); a key without them uses 8 times its length.

class TElBuiltInRC2SymmetricCrypto final : public TElBuiltInSymmetricCrypto {
public:
    TElBuiltInRC2SymmetricCrypto(const TElBuiltInSymmetricCryptoClass& cls, int32_t code, uint8_t mode)
        : TElBuiltInSymmetricCrypto(cls, code, mode) {}

    void SetKey(TElCustomCryptoKey* key) override {
        CheckRange(key, 1, 16, 8);
        TElBuiltInSymmetricCrypto::SetKey(key);
    }
    void InitializeEncryption() override {
        TElBuiltInSymmetricCrypto::InitializeEncryption();
        Expand();
    }
    void InitializeDecryption() override {
        TElBuiltInSymmetricCrypto::InitializeDecryption();
        Expand();
    }

protected:
    void EncryptBlock(const uint8_t* in, uint8_t* out) override { RC2EncryptBlock(in, schedule_, out); }
    void DecryptBlock(const uint8_t* in, uint8_t* out) override { RC2DecryptBlock(in, schedule_, out); }

private:
    void Expand() {
        const std::span<const uint8_t> k = KeyValue();
        int32_t bits = PropertyValueToInteger(GetKey()->GetKeyProp(SB_KEYPROP_EFFECTIVE_KEY_LENGTH), 0);
        if (bits <= 0 || bits > 1024) bits = int32_t(k.size() * 8);
        RC2KeySchedule(k, bits, schedule_);
    }

    TRC2ExpandedKey schedule_;
};

// ---------------------------------------------------------------------------------------------
// RC4: keys of 1 to 32 bytes; a set number of keystream bytes dropped after every key set-up.

TElBuiltInRC4SymmetricCrypto::TElBuiltInRC4SymmetricCrypto(const TElBuiltInSymmetricCryptoClass& cls, int32_t code,
                                                           uint8_t mode)
    : TElBuiltInSymmetricCrypto(cls, code, mode) {}

void TElBuiltInRC4SymmetricCrypto::SetKey(TElCustomCryptoKey* key) {
    CheckRange(key, 1, 32, 0);
    TElBuiltInSymmetricCrypto::SetKey(key);
}

void TElBuiltInRC4SymmetricCrypto::KeySetup() {
    InitRC4Context(context_, KeyValue());
    if (skip_ > 0) {
        uint8_t discard[256];
        for (int32_t left = skip_; left > 0;) {
            const size_t n = left < 256 ? size_t(left) : sizeof discard;
            std::memset(discard, 0, n);
            EncryptRC4(context_, discard, discard, n);
            left -= int32_t(n);
        }
        rtl::secure_wipe(discard, sizeof discard);
    }
}

void TElBuiltInRC4SymmetricCrypto::InitializeEncryption() {
    TElBuiltInSymmetricCrypto::InitializeEncryption();
    KeySetup();
}

void TElBuiltInRC4SymmetricCrypto::InitializeDecryption() {
    TElBuiltInSymmetricCrypto::InitializeDecryption();
    KeySetup();
}

void TElBuiltInRC4SymmetricCrypto::StreamEncrypt(const uint8_t* in, uint8_t* out, size_t n) {
    EncryptRC4(context_, in, out, n);
}

void TElBuiltInRC4SymmetricCrypto::StreamDecrypt(const uint8_t* in, uint8_t* out, size_t n) {
    DecryptRC4(context_, in, out, n);
}

// ---------------------------------------------------------------------------------------------
// SEED (RFC 4269): the key is copied in and each block derives its round keys from it.

class TElBuiltInSEEDSymmetricCrypto final : public TElBuiltInSymmetricCrypto {
public:
    TElBuiltInSEEDSymmetricCrypto(const TElBuiltInSymmetricCryptoClass& cls, int32_t code, uint8_t mode)
        : TElBuiltInSymmetricCrypto(cls, code, mode) {}
    ~TElBuiltInSEEDSymmetricCrypto() override { rtl::secure_wipe(key_, sizeof key_); }

    void SetKey(TElCustomCryptoKey* key) override {
        CheckLengths(key, {16}, 0);
        TElBuiltInSymmetricCrypto::SetKey(key);
        std::memcpy(key_, key->GetValue().data(), 16);
    }

protected:
    void EncryptBlock(const uint8_t* in, uint8_t* out) override { SEEDCryptBlock(in, 16, key_, out, 16, false); }
    void DecryptBlock(const uint8_t* in, uint8_t* out) override { SEEDCryptBlock(in, 16, key_, out, 16, true); }

private:
    uint8_t key_[16] = {};
};

// ---------------------------------------------------------------------------------------------
// Rabbit (RFC 4503) as a 16-byte block step: the key (and IV) set-up runs when the key is set,
// and the keystream continues across messages until the key is set again.

class TElBuiltInRabbitSymmetricCrypto final : public TElBuiltInSymmetricCrypto {
public:
    TElBuiltInRabbitSymmetricCrypto(const TElBuiltInSymmetricCryptoClass& cls, int32_t code, uint8_t mode)
        : TElBuiltInSymmetricCrypto(cls, code, mode) {}

    void SetKey(TElCustomCryptoKey* key) override {
        CheckLengths(key, {16}, 16);
        TElBuiltInSymmetricCrypto::SetKey(key);
        RabbitKeySetup(context_, key->GetValue());
        if (!key->GetIV().empty()) RabbitIVSetup(context_, key->GetIV());
    }

protected:
    void EncryptBlock(const uint8_t* in, uint8_t* out) override {
        RabbitProcess(context_, std::span<const uint8_t>(in, 16), std::span<uint8_t>(out, 16));
    }
    void DecryptBlock(const uint8_t* in, uint8_t* out) override { EncryptBlock(in, out); }

private:
    RabbitContext context_;
};

// ---------------------------------------------------------------------------------------------
// DES and triple DES (FIPS 46-3, SP 800-67)

class TElBuiltInDESSymmetricCrypto final : public TElBuiltInSymmetricCrypto {
public:
    TElBuiltInDESSymmetricCrypto(const TElBuiltInSymmetricCryptoClass& cls, int32_t code, uint8_t mode)
        : TElBuiltInSymmetricCrypto(cls, code, mode) {}

    void SetKey(TElCustomCryptoKey* key) override {
        CheckLengths(key, {8}, 8);
        TElBuiltInSymmetricCrypto::SetKey(key);
    }
    void InitializeEncryption() override {
        TElBuiltInSymmetricCrypto::InitializeEncryption();
        DESKeySchedule(KeyValue().data(), schedule_);
    }
    void InitializeDecryption() override {
        TElBuiltInSymmetricCrypto::InitializeDecryption();
        if (UsesInverseCipher(GetMode()))
            DESDecryptKeySchedule(KeyValue().data(), schedule_);
        else
            DESKeySchedule(KeyValue().data(), schedule_);
    }

protected:
    void EncryptBlock(const uint8_t* in, uint8_t* out) override { DESCryptBlock(in, schedule_, out); }
    void DecryptBlock(const uint8_t* in, uint8_t* out) override { DESCryptBlock(in, schedule_, out); }

private:
    TDESExpandedKey schedule_;
};

class TElBuiltIn3DESSymmetricCrypto final : public TElBuiltInSymmetricCrypto {
public:
    TElBuiltIn3DESSymmetricCrypto(const TElBuiltInSymmetricCryptoClass& cls, int32_t code, uint8_t mode)
        : TElBuiltInSymmetricCrypto(cls, code, mode) {}

    void SetKey(TElCustomCryptoKey* key) override {
        CheckLengths(key, {24}, 8);
        TElBuiltInSymmetricCrypto::SetKey(key);
    }
    void InitializeEncryption() override {
        TElBuiltInSymmetricCrypto::InitializeEncryption();
        TripleDESKeySchedule(KeyValue().data(), schedule_);
    }
    void InitializeDecryption() override {
        TElBuiltInSymmetricCrypto::InitializeDecryption();
        if (UsesInverseCipher(GetMode()))
            TripleDESDecryptKeySchedule(KeyValue().data(), schedule_);
        else
            TripleDESKeySchedule(KeyValue().data(), schedule_);
    }

protected:
    void EncryptBlock(const uint8_t* in, uint8_t* out) override { TripleDESEncryptBlock(in, schedule_, out); }
    void DecryptBlock(const uint8_t* in, uint8_t* out) override { TripleDESDecryptBlock(in, schedule_, out); }

private:
    TTripleDESExpandedKey schedule_;
};

// ---------------------------------------------------------------------------------------------
// Camellia (RFC 3713): one block routine, the decryption schedule in ECB and CBC, and the
// multi-block routine for CBC encryption.

class TElBuiltInCamelliaSymmetricCrypto final : public TElBuiltInSymmetricCrypto {
public:
    TElBuiltInCamelliaSymmetricCrypto(const TElBuiltInSymmetricCryptoClass& cls, int32_t code, uint8_t mode)
        : TElBuiltInSymmetricCrypto(cls, code, mode) {}

    void SetKey(TElCustomCryptoKey* key) override {
        CheckLengths(key, {16, 24, 32}, 16);
        TElBuiltInSymmetricCrypto::SetKey(key);
    }
    void InitializeEncryption() override {
        TElBuiltInSymmetricCrypto::InitializeEncryption();
        CamelliaKeySchedule(KeyValue(), subkeys_);
    }
    void InitializeDecryption() override {
        TElBuiltInSymmetricCrypto::InitializeDecryption();
        if (UsesInverseCipher(GetMode()))
            CamelliaDecryptKeySchedule(KeyValue(), subkeys_);
        else
            CamelliaKeySchedule(KeyValue(), subkeys_);
    }

protected:
    void EncryptBlock(const uint8_t* in, uint8_t* out) override {
        CamelliaCryptBlock(in, out, subkeys_, KeyValue().size() > 16);
    }
    void DecryptBlock(const uint8_t* in, uint8_t* out) override { EncryptBlock(in, out); }
    void EncryptCBC(const uint8_t* in, uint8_t* out, size_t blocks, uint8_t* chain) override {
        CamelliaEncryptBlocksCBC(in, subkeys_, KeyValue().size() > 16, chain, out, blocks);
    }

private:
    CamelliaSubkeys subkeys_;
};

// ---------------------------------------------------------------------------------------------
// Serpent

class TElBuiltInSerpentSymmetricCrypto final : public TElBuiltInSymmetricCrypto {
public:
    TElBuiltInSerpentSymmetricCrypto(const TElBuiltInSymmetricCryptoClass& cls, int32_t code, uint8_t mode)
        : TElBuiltInSymmetricCrypto(cls, code, mode) {}

    void SetKey(TElCustomCryptoKey* key) override {
        CheckLengths(key, {16, 24, 32}, 16);
        TElBuiltInSymmetricCrypto::SetKey(key);
    }
    void InitializeEncryption() override {
        TElBuiltInSymmetricCrypto::InitializeEncryption();
        SerpentKeySchedule(KeyValue(), subkeys_);
    }
    void InitializeDecryption() override {
        TElBuiltInSymmetricCrypto::InitializeDecryption();
        SerpentKeySchedule(KeyValue(), subkeys_);
    }

protected:
    void EncryptBlock(const uint8_t* in, uint8_t* out) override { SerpentEncryptBlock(in, out, subkeys_); }
    void DecryptBlock(const uint8_t* in, uint8_t* out) override { SerpentDecryptBlock(in, out, subkeys_); }

private:
    SerpentSubkeys subkeys_;
};

// ---------------------------------------------------------------------------------------------
// The class tables: codes with (fixed key size, default key, default block), OIDs likewise.

namespace {

constexpr Algorithm kAESCodes[] = {{SB_ALG_AES128, 16, 16, 16}, {SB_ALG_AES192, 24, 24, 16}, {SB_ALG_AES256, 32, 32, 16}};
constexpr ObjectIdentifier kAESOIDs[] = {{SB_OID_AES128_CBC, SB_ALG_AES128, 16, 16, 16},
                                         {SB_OID_AES192_CBC, SB_ALG_AES192, 24, 24, 16},
                                         {SB_OID_AES256_CBC, SB_ALG_AES256, 32, 32, 16}};
constexpr Algorithm kIdentityCodes[] = {{SB_ALG_IDENTITY, 0, 0, 0}};
constexpr ObjectIdentifier kIdentityOIDs[] = {{SB_OID_IDENTITY, SB_ALG_IDENTITY, 0, 0, 0}};
constexpr Algorithm kBlowfishCodes[] = {{SB_ALG_BLOWFISH, 0, 16, 8}};
constexpr ObjectIdentifier kBlowfishOIDs[] = {{SB_OID_BLOWFISH_CBC, SB_ALG_BLOWFISH, 16, 16, 8}};
constexpr Algorithm kTwofishCodes[] = {{SB_ALG_TWOFISH, 0, 0, 16},
                                       {SB_ALG_TWOFISH128, 16, 16, 16},
                                       {SB_ALG_TWOFISH192, 24, 24, 16},
                                       {SB_ALG_TWOFISH256, 32, 32, 16}};
constexpr Algorithm kCAST128Codes[] = {{SB_ALG_CAST128, 16, 16, 8}};
constexpr ObjectIdentifier kCAST128OIDs[] = {{SB_OID_CAST128_CBC, SB_ALG_CAST128, 16, 16, 8}};
constexpr Algorithm kRC2Codes[] = {{SB_ALG_RC2, 0, 16, 8}};
constexpr ObjectIdentifier kRC2OIDs[] = {{SB_OID_RC2_CBC, SB_ALG_RC2, 0, 16, 8}};
constexpr Algorithm kRC4Codes[] = {{SB_ALG_RC4, 0, 16, 0}};
constexpr ObjectIdentifier kRC4OIDs[] = {{SB_OID_RC4, SB_ALG_RC4, 0, 16, 0}};
constexpr Algorithm kSEEDCodes[] = {{SB_ALG_SEED, 16, 16, 16}};
constexpr ObjectIdentifier kSEEDOIDs[] = {{SB_OID_SEED, SB_ALG_SEED, 16, 16, 16}};
constexpr Algorithm kRabbitCodes[] = {{SB_ALG_RABBIT, 16, 16, 16}};
constexpr ObjectIdentifier kRabbitOIDs[] = {{SB_OID_RABBIT, SB_ALG_RABBIT, 16, 16, 16}};
constexpr Algorithm kDESCodes[] = {{SB_ALG_DES, 8, 8, 8}};
constexpr ObjectIdentifier kDESOIDs[] = {{SB_OID_DES_CBC, SB_ALG_DES, 8, 8, 8}};
constexpr Algorithm k3DESCodes[] = {{SB_ALG_3DES, 24, 24, 8}};
constexpr ObjectIdentifier k3DESOIDs[] = {{SB_OID_DES_EDE3_CBC, SB_ALG_3DES, 24, 24, 8}};
constexpr Algorithm kCamelliaCodes[] = {{SB_ALG_CAMELLIA, 0, 0, 16},
                                        {SB_ALG_CAMELLIA128, 16, 16, 16},
                                        {SB_ALG_CAMELLIA192, 24, 24, 16},
                                        {SB_ALG_CAMELLIA256, 32, 32, 16}};
constexpr ObjectIdentifier kCamelliaOIDs[] = {{SB_OID_CAMELLIA128_CBC, SB_ALG_CAMELLIA128, 16, 16, 16},
                                              {SB_OID_CAMELLIA192_CBC, SB_ALG_CAMELLIA192, 24, 24, 16},
                                              {SB_OID_CAMELLIA256_CBC, SB_ALG_CAMELLIA256, 32, 32, 16}};
constexpr Algorithm kSerpentCodes[] = {{SB_ALG_SERPENT, 0, 0, 16},
                                       {SB_ALG_SERPENT128, 16, 16, 16},
                                       {SB_ALG_SERPENT192, 24, 24, 16},
                                       {SB_ALG_SERPENT256, 32, 32, 16}};
constexpr ObjectIdentifier kSerpentOIDs[] = {{SB_OID_SERPENT128_CBC, SB_ALG_SERPENT128, 16, 16, 16},
                                             {SB_OID_SERPENT192_CBC, SB_ALG_SERPENT192, 24, 24, 16},
                                             {SB_OID_SERPENT256_CBC, SB_ALG_SERPENT256, 32, 32, 16}};

// Name, stream, block, default code, any code, codes, OIDs, lengths for an unlisted OID, maker.
const TElBuiltInSymmetricCryptoClass kAES{"TElBuiltInAESSymmetricCrypto", false, 16, SB_ALG_AES128, false,
                                          kAESCodes, kAESOIDs, 0, 0, Make<TElBuiltInAESSymmetricCrypto>};
const TElBuiltInSymmetricCryptoClass kIdentity{"TElBuiltInIdentitySymmetricCrypto", true, 1, SB_ALG_IDENTITY, true,
                                               kIdentityCodes, kIdentityOIDs, 0, 0, Make<TElBuiltInIdentitySymmetricCrypto>};
const TElBuiltInSymmetricCryptoClass kBlowfish{"TElBuiltInBlowfishSymmetricCrypto", false, 8, SB_ALG_BLOWFISH, false,
                                               kBlowfishCodes, kBlowfishOIDs, 0, 0,
                                               Make<TElBuiltInBlowfishSymmetricCrypto>};
const TElBuiltInSymmetricCryptoClass kTwofish{"TElBuiltInTwofishSymmetricCrypto", false, 16, SB_ALG_TWOFISH, false,
                                              kTwofishCodes, {}, 16, 16, Make<TElBuiltInTwofishSymmetricCrypto>};
const TElBuiltInSymmetricCryptoClass kCAST128{"TElBuiltInCAST128SymmetricCrypto", false, 8, SB_ALG_CAST128, false,
                                              kCAST128Codes, kCAST128OIDs, 0, 0,
                                              Make<TElBuiltInCAST128SymmetricCrypto>};
const TElBuiltInSymmetricCryptoClass kRC2{"TElBuiltInRC2SymmetricCrypto", false, 8, SB_ALG_RC2, false,
                                          kRC2Codes, kRC2OIDs, 0, 0, Make<TElBuiltInRC2SymmetricCrypto>};
const TElBuiltInSymmetricCryptoClass kRC4{"TElBuiltInRC4SymmetricCrypto", true, 1, SB_ALG_RC4, false,
                                          kRC4Codes, kRC4OIDs, 0, 0, Make<TElBuiltInRC4SymmetricCrypto>};
const TElBuiltInSymmetricCryptoClass kSEED{"TElBuiltInSEEDSymmetricCrypto", false, 16, SB_ALG_SEED, false,
                                           kSEEDCodes, kSEEDOIDs, 0, 0, Make<TElBuiltInSEEDSymmetricCrypto>};
const TElBuiltInSymmetricCryptoClass kRabbit{"TElBuiltInRabbitSymmetricCrypto", false, 16, SB_ALG_RABBIT, false,
                                             kRabbitCodes, kRabbitOIDs, 0, 0,
                                             Make<TElBuiltInRabbitSymmetricCrypto>};
const TElBuiltInSymmetricCryptoClass kDES{"TElBuiltInDESSymmetricCrypto", false, 8, SB_ALG_DES, false,
                                          kDESCodes, kDESOIDs, 0, 0, Make<TElBuiltInDESSymmetricCrypto>};
const TElBuiltInSymmetricCryptoClass k3DES{"TElBuiltIn3DESSymmetricCrypto", false, 8, SB_ALG_3DES, false,
                                           k3DESCodes, k3DESOIDs, 0, 0, Make<TElBuiltIn3DESSymmetricCrypto>};
const TElBuiltInSymmetricCryptoClass kCamellia{"TElBuiltInCamelliaSymmetricCrypto", false, 16, SB_ALG_CAMELLIA, false,
                                               kCamelliaCodes, kCamelliaOIDs, 0, 16,
                                               Make<TElBuiltInCamelliaSymmetricCrypto>};
const TElBuiltInSymmetricCryptoClass kSerpent{"TElBuiltInSerpentSymmetricCrypto", false, 16, SB_ALG_SERPENT128, false,
                                              kSerpentCodes, kSerpentOIDs, 0, 0,
                                              Make<TElBuiltInSerpentSymmetricCrypto>};

}  // namespace

// clang-format off
template <> const TElBuiltInSymmetricCryptoClass& ClassOf<TElBuiltInAESSymmetricCrypto>() { return kAES; }
template <> const TElBuiltInSymmetricCryptoClass& ClassOf<TElBuiltInIdentitySymmetricCrypto>() { return kIdentity; }
template <> const TElBuiltInSymmetricCryptoClass& ClassOf<TElBuiltInBlowfishSymmetricCrypto>() { return kBlowfish; }
template <> const TElBuiltInSymmetricCryptoClass& ClassOf<TElBuiltInTwofishSymmetricCrypto>() { return kTwofish; }
template <> const TElBuiltInSymmetricCryptoClass& ClassOf<TElBuiltInCAST128SymmetricCrypto>() { return kCAST128; }
template <> const TElBuiltInSymmetricCryptoClass& ClassOf<TElBuiltInRC2SymmetricCrypto>() { return kRC2; }
template <> const TElBuiltInSymmetricCryptoClass& ClassOf<TElBuiltInRC4SymmetricCrypto>() { return kRC4; }
template <> const TElBuiltInSymmetricCryptoClass& ClassOf<TElBuiltInSEEDSymmetricCrypto>() { return kSEED; }
template <> const TElBuiltInSymmetricCryptoClass& ClassOf<TElBuiltInRabbitSymmetricCrypto>() { return kRabbit; }
template <> const TElBuiltInSymmetricCryptoClass& ClassOf<TElBuiltInDESSymmetricCrypto>() { return kDES; }
template <> const TElBuiltInSymmetricCryptoClass& ClassOf<TElBuiltIn3DESSymmetricCrypto>() { return k3DES; }
template <> const TElBuiltInSymmetricCryptoClass& ClassOf<TElBuiltInCamelliaSymmetricCrypto>() { return kCamellia; }
template <> const TElBuiltInSymmetricCryptoClass& ClassOf<TElBuiltInSerpentSymmetricCrypto>() { return kSerpent; }
// clang-format on

// ---------------------------------------------------------------------------------------------
// The factory

TElBuiltInSymmetricCryptoFactory::TElBuiltInSymmetricCryptoFactory() {
    RegisterDefaultClasses();
}

void TElBuiltInSymmetricCryptoFactory::RegisterDefaultClasses() {
    for (const TElBuiltInSymmetricCryptoClass* cls :
         {&kAES, &kIdentity, &kBlowfish, &kTwofish, &kCAST128, &kRC2, &kRC4, &kSEED, &kRabbit, &kDES, &k3DES,
          &kCamellia, &kSerpent})
        RegisterClass(*cls);
}

void TElBuiltInSymmetricCryptoFactory::RegisterClass(const TElBuiltInSymmetricCryptoClass& cls) {
    classes_.push_back(&cls);
}

const TElBuiltInSymmetricCryptoClass* TElBuiltInSymmetricCryptoFactory::Find(int32_t code) const {
    for (const TElBuiltInSymmetricCryptoClass* cls : classes_)
        if (cls->IsAlgorithmSupported(code)) return cls;
    return nullptr;
}

std::unique_ptr<TElBuiltInSymmetricCrypto> TElBuiltInSymmetricCryptoFactory::CreateInstance(int32_t code,
                                                                                          uint8_t mode) const {
    const TElBuiltInSymmetricCryptoClass* cls = Find(code);
    return cls != nullptr ? cls->CreateByAlgorithm(code, mode) : nullptr;
}

bool TElBuiltInSymmetricCryptoFactory::IsAlgorithmSupported(int32_t code) const {
    return Find(code) != nullptr;
}

bool TElBuiltInSymmetricCryptoFactory::GetDefaultKeyAndBlockLength(int32_t code, int32_t& keyLength,
                                                                   int32_t& blockLength) const {
    const TElBuiltInSymmetricCryptoClass* cls = Find(code);
    if (cls == nullptr) return false;
    cls->GetDefaultKeyAndBlockLength(code, keyLength, blockLength);
    return true;
}
