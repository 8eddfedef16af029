// crypto/builtin/SBCryptoProvBuiltInSym.h: the built-in provider's symmetric half: the cipher engine
// TElBuiltInSymmetricCrypto, one subclass per algorithm family, the factory that picks the
// class for an algorithm code, and the symmetric key TElBuiltInSymmetricCryptoKey with its
// self-checking key blob.
//
// The engine does everything that does not depend on the algorithm: key checks, the four
// block modes (ECB, CBC, CTR, CFB with a whole-block segment), PKCS#5 padding, buffering of
// partial blocks across updates and the size protocol. A subclass supplies its key checks, its
// key schedule and one block (or stream) step, and may take whole runs of blocks at once
// where its algorithm has a faster routine for them (AES).
//
// Engine states, moved on by the operations named:
//   Created   -> SetKey                                -> Keyed
//   Keyed, Encrypting, Decrypting, Finished
//             -> InitializeEncryption / ...Decryption  -> Encrypting / Decrypting
//   Encrypting / Decrypting -> Finalize...             -> Finished
// Updates and finalisations run only in the state their direction started; anything else
// raises, so a finished message never reads keystream its finalisation discarded. In the
// Finished state pending bytes and the held-back block are empty.
//
// Mode numbers are the engine's own: 0 stream, 1 ECB, 2 CBC, 3 CTR, 4 CFB (SBCryptoProv's
// SYMMETRIC_MODE_*). Padding 0 none, 1 PKCS#5. Schedules, chaining values, keystream, pending
// and held-back bytes are key material: they are wiped when the engine goes away.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "crypto/builtin/SBCryptoProvBuiltIn.h"
#include "crypto/prov/SBCryptoProv.h"
#include "crypto/sym/SBRC4.h"
#include "rtl/SecureBytes.h"

namespace SBCryptoProvBuiltInSym {
// The error class of the engine, the cipher classes and the symmetric key; a different class
// from the symmetric facade's error of the same name (SBSymmetricCrypto).
RTL_EXCEPTION(EElSymmetricCryptoError, ECryptoLibraryError);
}  // namespace SBCryptoProvBuiltInSym

class TElBuiltInSymmetricCrypto;

// A cipher class as the factory registers it: its class operations (what it accepts, its
// default lengths) and its constructors. One constant instance per class.
class TElBuiltInSymmetricCryptoClass {
public:
    // An algorithm code the class takes: the key size it fixes (0 none) and the default key
    // and block lengths in bytes.
    struct Algorithm {
        int32_t Code;
        int32_t FixedKeySize;
        int32_t DefaultKeyLength;
        int32_t DefaultBlockLength;
    };
    // An OID the class takes, with the code it stands for and the same three lengths.
    struct ObjectIdentifier {
        std::string_view OID;
        int32_t Code;
        int32_t FixedKeySize;
        int32_t DefaultKeyLength;
        int32_t DefaultBlockLength;
    };
    using Constructor = std::unique_ptr<TElBuiltInSymmetricCrypto> (*)(const TElBuiltInSymmetricCryptoClass& cls,
                                                                        int32_t code, uint8_t mode);

    const char* Name;
    bool StreamCipher;
    int32_t BlockSize;          // bytes; 1 for stream ciphers
    int32_t DefaultAlgorithm;   // the code CreateDefault uses
    bool AnyAlgorithm;          // the identity class: its constructors take every code and OID
    std::span<const Algorithm> Algorithms;
    std::span<const ObjectIdentifier> OIDs;
    // Default lengths asked by an OID the class does not list.
    int32_t UnlistedOIDKeyLength;
    int32_t UnlistedOIDBlockLength;
    Constructor Make;

    bool IsAlgorithmSupported(int32_t code) const;
    bool IsAlgorithmSupportedByOID(std::string_view oid) const;
    bool ClassIsStreamCipher() const { return StreamCipher; }
    void GetDefaultKeyAndBlockLength(int32_t code, int32_t& keyLength, int32_t& blockLength) const;
    void GetDefaultKeyAndBlockLengthByOID(std::string_view oid, int32_t& keyLength, int32_t& blockLength) const;
    // Mode in the engine's numbering; 0 gives CBC for block ciphers, a stream cipher takes
    // only 0 ("Invalid cipher mode of operation"). An unsupported code raises "Unsupported
    // algorithm (%d)".
    std::unique_ptr<TElBuiltInSymmetricCrypto> CreateByAlgorithm(int32_t code, uint8_t mode) const;
    // Mode 0 or CBC (a stream cipher: 0); the OID is recorded in the engine.
    std::unique_ptr<TElBuiltInSymmetricCrypto> CreateByOID(std::string_view oid, uint8_t mode) const;
    std::unique_ptr<TElBuiltInSymmetricCrypto> CreateDefault(uint8_t mode) const;

    const Algorithm* FindAlgorithm(int32_t code) const;
};

// The cipher engine.
class TElBuiltInSymmetricCrypto {
public:
    virtual ~TElBuiltInSymmetricCrypto();
    TElBuiltInSymmetricCrypto(const TElBuiltInSymmetricCrypto&) = delete;
    TElBuiltInSymmetricCrypto& operator=(const TElBuiltInSymmetricCrypto&) = delete;

    // The class this engine was made by.
    const TElBuiltInSymmetricCryptoClass& GetClass() const { return class_; }
    bool IsStreamCipher() const { return class_.StreamCipher; }

    // Checks the key (subclass checks, then the engine's) and keeps a reference to it; the
    // engine reads its value and IV, never owns it.
    virtual void SetKey(TElCustomCryptoKey* key);
    TElCustomCryptoKey* GetKey() const { return key_; }

    // A new message with the current key: the chaining value is a fresh copy of the key's IV.
    virtual void InitializeEncryption();
    virtual void InitializeDecryption();

    // size: the room in output on entry, the bytes written on return. A null output asks for
    // the size (encryption: the bytes the call writes; decryption: the whole blocks it
    // completes, one of which may be held back while padding is on) and changes nothing. A
    // real output with less room than that, a room of 0 included, raises "Buffer too small":
    // an update that writes nothing (bytes kept for a later block) still takes its input. A
    // finalisation with a real output ends the message.
    void EncryptUpdate(const void* input, size_t inputSize, void* output, size_t& size);
    void DecryptUpdate(const void* input, size_t inputSize, void* output, size_t& size);
    virtual void FinalizeEncryption(void* output, size_t& size);
    virtual void FinalizeDecryption(void* output, size_t& size);

    // The data followed by B - n bytes of value B - n (PKCS#5, RFC 8018 section 6.1.1) when
    // padding is on; the data unchanged when it is off. n of a whole block or more raises
    // "Internal error".
    void AddPadding(const void* data, size_t n, rtl::SecureBytes& padded) const;

    uint8_t GetMode() const { return mode_; }
    int32_t GetKeySize() const { return keySize_; }
    int32_t GetBlockSize() const { return blockSize_; }
    uint8_t GetPadding() const { return padding_; }
    void SetPadding(uint8_t padding) { padding_ = padding; }
    // The OID the engine was made for; empty when made by code.
    const ByteString& GetOID() const { return oid_; }

protected:
    // The common initialisation every subclass constructor runs first: a stream cipher gets
    // mode 0 and block 1, a block cipher the given mode (0: CBC) and the class's block size;
    // the key size is what the code fixes.
    TElBuiltInSymmetricCrypto(const TElBuiltInSymmetricCryptoClass& cls, int32_t code, uint8_t mode);

    // The algorithm's steps; the base does nothing.
    virtual void EncryptBlock(const uint8_t* input, uint8_t* output);
    virtual void DecryptBlock(const uint8_t* input, uint8_t* output);
    virtual void StreamEncrypt(const uint8_t* input, uint8_t* output, size_t size);
    virtual void StreamDecrypt(const uint8_t* input, uint8_t* output, size_t size);

    // Whole runs of blocks of one mode; the base runs the block step block by block. A class
    // with a faster routine for runs (AES) takes them here. chain / counter: B bytes, updated.
    virtual void EncryptECB(const uint8_t* input, uint8_t* output, size_t blocks);
    virtual void DecryptECB(const uint8_t* input, uint8_t* output, size_t blocks);
    virtual void EncryptCBC(const uint8_t* input, uint8_t* output, size_t blocks, uint8_t* chain);
    virtual void DecryptCBC(const uint8_t* input, uint8_t* output, size_t blocks, uint8_t* chain);
    // output = input XOR E(counter), E(counter + 1), ...; the counter is one big-endian number
    // of B bytes that wraps to zero after all 0xFF.
    virtual void CryptCTR(const uint8_t* input, uint8_t* output, size_t blocks, uint8_t* counter);

    // The engine's own key checks (fixed key size, IV length, IV present for a chaining mode);
    // subclasses run theirs first, then this, then store the key (StoreKey).
    void CheckKeyForMode(const TElCustomCryptoKey& key) const;
    void StoreKey(TElCustomCryptoKey* key);

    // The key's value (checked by SetKey).
    std::span<const uint8_t> KeyValue() const;

    void SetOID(std::string_view oid) { oid_ = ByteString(oid); }
    friend class TElBuiltInSymmetricCryptoClass;

private:
    enum class State { Created, Keyed, Encrypting, Decrypting, Finished };

    void StartMessage(State direction);
    void CheckState(State expected) const;
    // The mode engines over n bytes (ECB, CBC: whole blocks).
    void EncryptBlocks(const uint8_t* input, uint8_t* output, size_t n);
    void DecryptBlocks(const uint8_t* input, uint8_t* output, size_t n);
    void CheckChainingBlock() const;
    void RunCTR(const uint8_t* input, uint8_t* output, size_t n);
    void RunCFB(const uint8_t* input, uint8_t* output, size_t n, bool encrypt);
    // ECB and CBC updates; decrypting with padding holds the last block back.
    void BlockUpdate(const uint8_t* input, size_t n, uint8_t* output, size_t& size, bool encrypt);
    // The end of a message that writes nothing at its end (stream ciphers, CTR, CFB, no
    // padding): size 0, and with a real output the message is finished.
    void FinishWithoutOutput(void* output, size_t& size);
    // The pad length of the held-back block, checked in constant time: 0 when the padding is
    // not valid.
    size_t CheckedPadLength() const;

    const TElBuiltInSymmetricCryptoClass& class_;
    TElCustomCryptoKey* key_ = nullptr;
    State state_ = State::Created;
    uint8_t mode_ = 0;
    int32_t keySize_ = 0;
    int32_t blockSize_ = 0;
    // PKCS#5 from creation: a context the provider makes (a generic one-shot, DecryptKey) pads
    // unless told otherwise; the facades set it explicitly.
    uint8_t padding_ = SB_SYMENC_PADDING_PKCS5;
    // CBC chaining value, CTR counter, CFB register.
    uint8_t chain_[16] = {};
    size_t chainLength_ = 0;
    // CTR and CFB: keystream bytes of the current block not used yet (B when none are left).
    size_t keystreamRemainder_ = 0;
    // ECB and CBC: input bytes short of a block; CTR and CFB: the current keystream block.
    uint8_t pending_[16] = {};
    size_t pendingCount_ = 0;
    // Decryption with padding: the last decrypted block, kept until the next block or the end.
    uint8_t heldBack_[16] = {};
    bool hasHeldBack_ = false;
    ByteString oid_;
};

// The cipher classes. Each fixes its block size, checks key and IV lengths, builds its key
// schedule when a message starts, and supplies the block or stream step.
class TElBuiltInAESSymmetricCrypto;
class TElBuiltInIdentitySymmetricCrypto;
class TElBuiltInBlowfishSymmetricCrypto;
class TElBuiltInTwofishSymmetricCrypto;
class TElBuiltInCAST128SymmetricCrypto;
class TElBuiltInRC2SymmetricCrypto;
class TElBuiltInRC4SymmetricCrypto;
class TElBuiltInSEEDSymmetricCrypto;
class TElBuiltInRabbitSymmetricCrypto;
class TElBuiltInDESSymmetricCrypto;
class TElBuiltIn3DESSymmetricCrypto;
class TElBuiltInCamelliaSymmetricCrypto;
class TElBuiltInSerpentSymmetricCrypto;

// The class operations of each cipher class: ClassOf<TElBuiltInAESSymmetricCrypto>() and so on.
template <class T>
const TElBuiltInSymmetricCryptoClass& ClassOf();
template <>
const TElBuiltInSymmetricCryptoClass& ClassOf<TElBuiltInAESSymmetricCrypto>();
template <>
const TElBuiltInSymmetricCryptoClass& ClassOf<TElBuiltInIdentitySymmetricCrypto>();
template <>
const TElBuiltInSymmetricCryptoClass& ClassOf<TElBuiltInBlowfishSymmetricCrypto>();
template <>
const TElBuiltInSymmetricCryptoClass& ClassOf<TElBuiltInTwofishSymmetricCrypto>();
template <>
const TElBuiltInSymmetricCryptoClass& ClassOf<TElBuiltInCAST128SymmetricCrypto>();
template <>
const TElBuiltInSymmetricCryptoClass& ClassOf<TElBuiltInRC2SymmetricCrypto>();
template <>
const TElBuiltInSymmetricCryptoClass& ClassOf<TElBuiltInRC4SymmetricCrypto>();
template <>
const TElBuiltInSymmetricCryptoClass& ClassOf<TElBuiltInSEEDSymmetricCrypto>();
template <>
const TElBuiltInSymmetricCryptoClass& ClassOf<TElBuiltInRabbitSymmetricCrypto>();
template <>
const TElBuiltInSymmetricCryptoClass& ClassOf<TElBuiltInDESSymmetricCrypto>();
template <>
const TElBuiltInSymmetricCryptoClass& ClassOf<TElBuiltIn3DESSymmetricCrypto>();
template <>
const TElBuiltInSymmetricCryptoClass& ClassOf<TElBuiltInCamelliaSymmetricCrypto>();
template <>
const TElBuiltInSymmetricCryptoClass& ClassOf<TElBuiltInSerpentSymmetricCrypto>();

// RC4 keeps a count of keystream bytes to discard after every key set-up (the context
// property skip-keystream-bytes); the context reaches it through this class.
class TElBuiltInRC4SymmetricCrypto final : public TElBuiltInSymmetricCrypto {
public:
    TElBuiltInRC4SymmetricCrypto(const TElBuiltInSymmetricCryptoClass& cls, int32_t code, uint8_t mode);

    void SetKey(TElCustomCryptoKey* key) override;
    void InitializeEncryption() override;
    void InitializeDecryption() override;

    int32_t GetSkipKeystreamBytes() const { return skip_; }
    void SetSkipKeystreamBytes(int32_t count) { skip_ = count; }

protected:
    void StreamEncrypt(const uint8_t* input, uint8_t* output, size_t size) override;
    void StreamDecrypt(const uint8_t* input, uint8_t* output, size_t size) override;

private:
    void KeySetup();

    int32_t skip_ = 0;
    RC4Context context_;
};

// The factory: the registered classes in registration order; the first that takes a code wins.
class TElBuiltInSymmetricCryptoFactory final {
public:
    // Registers the default classes: AES, identity, Blowfish, Twofish, CAST-128, RC2, RC4,
    // SEED, Rabbit, DES, triple DES, Camellia, Serpent.
    TElBuiltInSymmetricCryptoFactory();

    void RegisterDefaultClasses();
    void RegisterClass(const TElBuiltInSymmetricCryptoClass& cls);
    // Mode in the engine's numbering. Null when no class takes the code.
    std::unique_ptr<TElBuiltInSymmetricCrypto> CreateInstance(int32_t code, uint8_t mode) const;
    bool IsAlgorithmSupported(int32_t code) const;
    // False, lengths untouched, when no class takes the code.
    bool GetDefaultKeyAndBlockLength(int32_t code, int32_t& keyLength, int32_t& blockLength) const;

private:
    const TElBuiltInSymmetricCryptoClass* Find(int32_t code) const;

    std::vector<const TElBuiltInSymmetricCryptoClass*> classes_;
};

// The symmetric key of the built-in provider: raw value and IV (owned by the key base), the
// algorithm code and, for RC2, the effective key bits. Its blob (ExportSecret/ImportSecret):
//
//   offset  size  field
//   0       2     algorithm code, low 16 bits, big-endian
//   2       2     K, the key length, big-endian
//   4       K     key value
//   4+K     2     I, the IV length, big-endian
//   6+K     I     IV
//   6+K+I   32    SHA-256 of bytes 0 .. 5+K+I
//
// K + I + 38 bytes; a reader ignores bytes after the digest. A reader checks the lengths
// against the algorithm's before it takes anything, and changes nothing when a check fails.
class TElBuiltInSymmetricCryptoKey final : public TElBuiltInCryptoKey {
public:
    static constexpr size_t BlobOverhead = 38;

    explicit TElBuiltInSymmetricCryptoKey(TElCustomCryptoProvider* provider);
    // Algorithm from the OID (0x7FFF when it names none); IV and RC2 effective key bits from
    // the AlgorithmIdentifier parameters when they parse.
    static std::unique_ptr<TElBuiltInSymmetricCryptoKey> CreateByOID(TElCustomCryptoProvider* provider,
                                                                     std::string_view algParams,
                                                                     std::string_view algOID);

    bool GetIsPublic() const override { return true; }
    bool GetIsSecret() const override { return true; }
    bool GetIsExportable() const override { return true; }
    bool GetIsValid() const override { return true; }
    int32_t GetBits() const override;
    int32_t GetAlgorithm() const override { return algorithm_; }
    // Mode 0, IV and value emptied; the algorithm stays.
    void Reset() override;
    // bits / 8 random bytes; bits not a multiple of 8: "Invalid input block size".
    void Generate(int32_t bits, const TElRelativeDistinguishedName* params = nullptr,
                  const TSBProgressFunc& progressFunc = nullptr, void* progressData = nullptr) override;
    void ImportPublic(const void* buffer, size_t size, const TElRelativeDistinguishedName* params = nullptr) override;
    void ImportSecret(const void* buffer, size_t size, const TElRelativeDistinguishedName* params = nullptr) override;
    void ExportPublic(void* buffer, size_t& size, const TElRelativeDistinguishedName* params = nullptr) const override;
    void ExportSecret(void* buffer, size_t& size, const TElRelativeDistinguishedName* params = nullptr) const override;
    std::unique_ptr<TElCustomCryptoKey> Clone(const TElRelativeDistinguishedName* params = nullptr) const override;
    std::unique_ptr<TElCustomCryptoKey> ClonePublic(const TElRelativeDistinguishedName* params = nullptr) const override;
    void ClearPublic() override {}
    void ClearSecret() override {}
    // effective-key-length: the RC2 effective key bits (integer), when set; every other
    // identifier answers an empty value.
    ByteString GetKeyProp(std::string_view propId, std::string_view defaultValue = {}) const override;
    void SetKeyProp(std::string_view propId, std::string_view value) override;
    void ChangeAlgorithm(int32_t algorithm) override { algorithm_ = algorithm; }
    // bits / 8 random bytes as the IV; bits not a multiple of 8: "Invalid input block size".
    void GenerateIV(int32_t bits);

    // RC2 effective key bits (RFC 2268), 0 when not set.
    int32_t GetEffectiveKeyBits() const { return effectiveKeyBits_; }

private:
    void ReadBlob(const void* buffer, size_t size);
    void WriteBlob(void* buffer, size_t& size) const;

    int32_t algorithm_ = 0;
    int32_t effectiveKeyBits_ = 0;
};
