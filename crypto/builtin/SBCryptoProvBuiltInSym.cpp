// crypto/builtin/SBCryptoProvBuiltInSym.cpp: the cipher engine's modes, padding and buffering, and the
// class operations every cipher class shares. The cipher classes and the factory are in
// SBCryptoProvBuiltInSym_ciphers.cpp, the symmetric key in SBCryptoProvBuiltInSym_key.cpp.
#include <cstring>

#include "crypto/builtin/SBCryptoProvBuiltInSym.h"
#include "crypto/prov/SBCryptoProvRS.h"
#include "rtl/Bytes.h"
#include "rtl/Format.h"

using SBCryptoProvBuiltInSym::EElSymmetricCryptoError;

namespace {

// out = a XOR b over n bytes, eight at a time where it can.
inline void XorBytes(uint8_t* out, const uint8_t* a, const uint8_t* b, size_t n) {
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t x, y;
        std::memcpy(&x, a + i, 8);
        std::memcpy(&y, b + i, 8);
        x ^= y;
        std::memcpy(out + i, &x, 8);
    }
    for (; i < n; ++i)
        out[i] = uint8_t(a[i] ^ b[i]);
}

// The counter block as one big-endian number, plus one; all 0xFF wraps to all zero.
inline void IncrementCounter(uint8_t* counter, size_t length) {
    for (size_t i = length; i-- > 0;)
        if (++counter[i] != 0) return;
}

bool Overlap(const void* a, size_t an, const void* b, size_t bn) {
    const auto pa = reinterpret_cast<uintptr_t>(a), pb = reinterpret_cast<uintptr_t>(b);
    return an != 0 && bn != 0 && pa < pb + bn && pb < pa + an;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Class operations

const TElBuiltInSymmetricCryptoClass::Algorithm* TElBuiltInSymmetricCryptoClass::FindAlgorithm(int32_t code) const {
    for (const Algorithm& a : Algorithms)
        if (a.Code == code) return &a;
    return nullptr;
}

bool TElBuiltInSymmetricCryptoClass::IsAlgorithmSupported(int32_t code) const {
    return FindAlgorithm(code) != nullptr;
}

bool TElBuiltInSymmetricCryptoClass::IsAlgorithmSupportedByOID(std::string_view oid) const {
    for (const ObjectIdentifier& o : OIDs)
        if (o.OID == oid) return true;
    return false;
}

void TElBuiltInSymmetricCryptoClass::GetDefaultKeyAndBlockLength(int32_t code, int32_t& keyLength,
                                                                 int32_t& blockLength) const {
    keyLength = 0;
    blockLength = 0;
    if (const Algorithm* a = FindAlgorithm(code)) {
        keyLength = a->DefaultKeyLength;
        blockLength = a->DefaultBlockLength;
    }
}

void TElBuiltInSymmetricCryptoClass::GetDefaultKeyAndBlockLengthByOID(std::string_view oid, int32_t& keyLength,
                                                                      int32_t& blockLength) const {
    keyLength = UnlistedOIDKeyLength;
    blockLength = UnlistedOIDBlockLength;
    for (const ObjectIdentifier& o : OIDs) {
        if (o.OID == oid) {
            keyLength = o.DefaultKeyLength;
            blockLength = o.DefaultBlockLength;
        }
    }
}

std::unique_ptr<TElBuiltInSymmetricCrypto> TElBuiltInSymmetricCryptoClass::CreateByAlgorithm(int32_t code,
                                                                                             uint8_t mode) const {
    if (!AnyAlgorithm && !IsAlgorithmSupported(code))
        throw EElSymmetricCryptoError(rtl::Format(SUnsupportedAlgorithmInt, code));
    if (StreamCipher && !AnyAlgorithm && mode != SYMMETRIC_MODE_DEFAULT)
        throw EElSymmetricCryptoError(SInvalidCipherMode);
    return Make(*this, code, mode);
}

std::unique_ptr<TElBuiltInSymmetricCrypto> TElBuiltInSymmetricCryptoClass::CreateByOID(std::string_view oid,
                                                                                       uint8_t mode) const {
    const ObjectIdentifier* found = nullptr;
    for (const ObjectIdentifier& o : OIDs)
        if (o.OID == oid) found = &o;
    if (found == nullptr && !AnyAlgorithm)
        throw EElSymmetricCryptoError(rtl::Format(SUnsupportedAlgorithmStr, OIDToText(oid)));
    const bool modeAllowed = StreamCipher ? mode == SYMMETRIC_MODE_DEFAULT
                                          : (mode == SYMMETRIC_MODE_DEFAULT || mode == SYMMETRIC_MODE_CBC);
    if (!modeAllowed) throw EElSymmetricCryptoError(SInvalidCipherMode);
    std::unique_ptr<TElBuiltInSymmetricCrypto> engine =
        Make(*this, found != nullptr ? found->Code : DefaultAlgorithm, StreamCipher ? 0 : SYMMETRIC_MODE_CBC);
    if (found != nullptr) engine->keySize_ = found->FixedKeySize;
    engine->SetOID(oid);
    return engine;
}

std::unique_ptr<TElBuiltInSymmetricCrypto> TElBuiltInSymmetricCryptoClass::CreateDefault(uint8_t mode) const {
    return CreateByAlgorithm(DefaultAlgorithm, mode);
}

// ---------------------------------------------------------------------------------------------
// Construction and keys

TElBuiltInSymmetricCrypto::TElBuiltInSymmetricCrypto(const TElBuiltInSymmetricCryptoClass& cls, int32_t code,
                                                     uint8_t mode)
    : class_(cls) {
    if (cls.StreamCipher) {
        mode_ = SYMMETRIC_MODE_DEFAULT;
        blockSize_ = 1;
    } else {
        mode_ = mode == SYMMETRIC_MODE_DEFAULT ? SYMMETRIC_MODE_CBC : mode;
        blockSize_ = cls.BlockSize;
    }
    if (const auto* a = cls.FindAlgorithm(code)) keySize_ = a->FixedKeySize;
}

TElBuiltInSymmetricCrypto::~TElBuiltInSymmetricCrypto() {
    rtl::secure_wipe(chain_, sizeof chain_);
    rtl::secure_wipe(pending_, sizeof pending_);
    rtl::secure_wipe(heldBack_, sizeof heldBack_);
}

void TElBuiltInSymmetricCrypto::CheckKeyForMode(const TElCustomCryptoKey& key) const {
    const size_t valueLength = key.GetValue().size();
    if (keySize_ > 0 && valueLength != size_t(keySize_)) throw EElSymmetricCryptoError(SInvalidKeyMaterial);
    if (IsStreamCipher()) return;
    const size_t ivLength = key.GetIV().size();
    if (blockSize_ > 0 && ivLength != 0 && ivLength != size_t(blockSize_))
        throw EElSymmetricCryptoError(SInvalidKeyMaterial);
    if (ivLength == 0 &&
        (mode_ == SYMMETRIC_MODE_CBC || mode_ == SYMMETRIC_MODE_CTR || mode_ == SYMMETRIC_MODE_CFB))
        throw EElSymmetricCryptoError(SInvalidKeyMaterial);
}

void TElBuiltInSymmetricCrypto::StoreKey(TElCustomCryptoKey* key) {
    key_ = key;
    if (!IsStreamCipher() && !key->GetIV().empty()) blockSize_ = int32_t(key->GetIV().size());
    if (!key->GetValue().empty()) keySize_ = int32_t(key->GetValue().size());
    state_ = State::Keyed;
}

void TElBuiltInSymmetricCrypto::SetKey(TElCustomCryptoKey* key) {
    if (key == nullptr) throw EElSymmetricCryptoError(SInvalidKeyMaterial);
    CheckKeyForMode(*key);
    StoreKey(key);
}

std::span<const uint8_t> TElBuiltInSymmetricCrypto::KeyValue() const {
    return key_ != nullptr ? key_->GetValue() : std::span<const uint8_t>();
}

void TElBuiltInSymmetricCrypto::StartMessage(State direction) {
    if (state_ == State::Created || key_ == nullptr) throw EElSymmetricCryptoError(SInvalidKeyMaterial);
    rtl::secure_wipe(chain_, sizeof chain_);
    chainLength_ = 0;
    if (!IsStreamCipher()) {
        const std::span<const uint8_t> iv = key_->GetIV();
        chainLength_ = iv.size() <= sizeof chain_ ? iv.size() : 0;
        if (chainLength_ != 0) std::memcpy(chain_, iv.data(), chainLength_);
    }
    rtl::secure_wipe(pending_, sizeof pending_);
    pendingCount_ = 0;
    keystreamRemainder_ = size_t(blockSize_);
    rtl::secure_wipe(heldBack_, sizeof heldBack_);
    hasHeldBack_ = false;
    state_ = direction;
}

void TElBuiltInSymmetricCrypto::InitializeEncryption() {
    StartMessage(State::Encrypting);
}

void TElBuiltInSymmetricCrypto::InitializeDecryption() {
    StartMessage(State::Decrypting);
}

void TElBuiltInSymmetricCrypto::CheckState(State expected) const {
    if (state_ != expected) throw EElSymmetricCryptoError(SCipherNotInitialized);
}

// ---------------------------------------------------------------------------------------------
// Algorithm steps: the base has none.

void TElBuiltInSymmetricCrypto::EncryptBlock(const uint8_t*, uint8_t*) {}
void TElBuiltInSymmetricCrypto::DecryptBlock(const uint8_t*, uint8_t*) {}
void TElBuiltInSymmetricCrypto::StreamEncrypt(const uint8_t*, uint8_t*, size_t) {}
void TElBuiltInSymmetricCrypto::StreamDecrypt(const uint8_t*, uint8_t*, size_t) {}

void TElBuiltInSymmetricCrypto::EncryptECB(const uint8_t* input, uint8_t* output, size_t blocks) {
    const size_t b = size_t(blockSize_);
    for (size_t i = 0; i < blocks; ++i)
        EncryptBlock(input + i * b, output + i * b);
}

void TElBuiltInSymmetricCrypto::DecryptECB(const uint8_t* input, uint8_t* output, size_t blocks) {
    const size_t b = size_t(blockSize_);
    for (size_t i = 0; i < blocks; ++i)
        DecryptBlock(input + i * b, output + i * b);
}

void TElBuiltInSymmetricCrypto::EncryptCBC(const uint8_t* input, uint8_t* output, size_t blocks, uint8_t* chain) {
    const size_t b = size_t(blockSize_);
    for (size_t i = 0; i < blocks; ++i) {
        XorBytes(chain, chain, input + i * b, b);
        EncryptBlock(chain, chain);
        std::memcpy(output + i * b, chain, b);
    }
}

void TElBuiltInSymmetricCrypto::DecryptCBC(const uint8_t* input, uint8_t* output, size_t blocks, uint8_t* chain) {
    const size_t b = size_t(blockSize_);
    uint8_t cipher[16];
    for (size_t i = 0; i < blocks; ++i) {
        std::memcpy(cipher, input + i * b, b);  // the output may be the input
        DecryptBlock(cipher, output + i * b);
        XorBytes(output + i * b, output + i * b, chain, b);
        std::memcpy(chain, cipher, b);
    }
    rtl::secure_wipe(cipher, sizeof cipher);
}

void TElBuiltInSymmetricCrypto::CryptCTR(const uint8_t* input, uint8_t* output, size_t blocks, uint8_t* counter) {
    const size_t b = size_t(blockSize_);
    uint8_t keystream[16];
    for (size_t i = 0; i < blocks; ++i) {
        EncryptBlock(counter, keystream);
        IncrementCounter(counter, b);
        XorBytes(output + i * b, input + i * b, keystream, b);
    }
    rtl::secure_wipe(keystream, sizeof keystream);
}

// ---------------------------------------------------------------------------------------------
// Mode engines

void TElBuiltInSymmetricCrypto::CheckChainingBlock() const {
    if (chainLength_ != size_t(blockSize_)) throw EElSymmetricCryptoError(SInvalidKeyMaterial);
    if (blockSize_ != 8 && blockSize_ != 16) throw EElSymmetricCryptoError(SInternalException);
}

void TElBuiltInSymmetricCrypto::RunCTR(const uint8_t* input, uint8_t* output, size_t n) {
    const size_t b = size_t(blockSize_);
    // Keystream left in the current block is used first.
    while (n > 0 && keystreamRemainder_ > 0 && keystreamRemainder_ < b) {
        *output++ = uint8_t(*input++ ^ pending_[b - keystreamRemainder_]);
        --keystreamRemainder_;
        --n;
    }
    if (keystreamRemainder_ == 0) keystreamRemainder_ = b;
    const size_t blocks = n / b;
    if (blocks > 0) CryptCTR(input, output, blocks, chain_);
    input += blocks * b;
    output += blocks * b;
    n -= blocks * b;
    if (n > 0) {
        // A partial last block: its keystream waits in pending for the next call.
        EncryptBlock(chain_, pending_);
        IncrementCounter(chain_, b);
        XorBytes(output, input, pending_, n);
        keystreamRemainder_ = b - n;
    }
}

void TElBuiltInSymmetricCrypto::RunCFB(const uint8_t* input, uint8_t* output, size_t n, bool encrypt) {
    // CFB with a segment of a whole block (NIST SP 800-38A, section 6.3): the register holds
    // the last ciphertext block; the keystream block E(register) is kept in pending while it
    // is being used up, and the ciphertext bytes go into the register in its place.
    const size_t b = size_t(blockSize_);
    while (n > 0) {
        if (keystreamRemainder_ == b && n >= b) {
            EncryptBlock(chain_, pending_);
            if (encrypt) {
                XorBytes(output, input, pending_, b);
                std::memcpy(chain_, output, b);
            } else {
                std::memcpy(chain_, input, b);  // before the output is written: it may be the input
                XorBytes(output, input, pending_, b);
            }
            input += b;
            output += b;
            n -= b;
            continue;
        }
        if (keystreamRemainder_ == b) EncryptBlock(chain_, pending_);
        const size_t at = b - keystreamRemainder_;
        const uint8_t in = *input++;
        const uint8_t out = uint8_t(in ^ pending_[at]);
        *output++ = out;
        chain_[at] = encrypt ? out : in;
        --n;
        if (--keystreamRemainder_ == 0) keystreamRemainder_ = b;
    }
}

void TElBuiltInSymmetricCrypto::EncryptBlocks(const uint8_t* input, uint8_t* output, size_t n) {
    const size_t b = size_t(blockSize_);
    switch (mode_) {
        case SYMMETRIC_MODE_ECB:
            EncryptECB(input, output, n / b);
            return;
        case SYMMETRIC_MODE_CBC:
            CheckChainingBlock();
            EncryptCBC(input, output, n / b, chain_);
            return;
        case SYMMETRIC_MODE_CTR:
            CheckChainingBlock();
            RunCTR(input, output, n);
            return;
        case SYMMETRIC_MODE_CFB:
            CheckChainingBlock();
            RunCFB(input, output, n, true);
            return;
        default:
            throw EElSymmetricCryptoError(SUnsupportedOperation);
    }
}

void TElBuiltInSymmetricCrypto::DecryptBlocks(const uint8_t* input, uint8_t* output, size_t n) {
    const size_t b = size_t(blockSize_);
    switch (mode_) {
        case SYMMETRIC_MODE_ECB:
            DecryptECB(input, output, n / b);
            return;
        case SYMMETRIC_MODE_CBC:
            CheckChainingBlock();
            DecryptCBC(input, output, n / b, chain_);
            return;
        case SYMMETRIC_MODE_CTR:
            CheckChainingBlock();
            RunCTR(input, output, n);
            return;
        case SYMMETRIC_MODE_CFB:
            CheckChainingBlock();
            RunCFB(input, output, n, false);
            return;
        default:
            throw EElSymmetricCryptoError(SUnsupportedOperation);
    }
}

// ---------------------------------------------------------------------------------------------
// Updates

void TElBuiltInSymmetricCrypto::BlockUpdate(const uint8_t* input, size_t n, uint8_t* output, size_t& size,
                                            bool encrypt) {
    const size_t b = size_t(blockSize_);
    const size_t blocks = (pendingCount_ + n) / b;
    const bool holdBack = !encrypt && padding_ == SB_SYMENC_PADDING_PKCS5;
    if (blocks == 0) {
        if (n != 0) std::memcpy(pending_ + pendingCount_, input, n);
        pendingCount_ += n;
        size = 0;
        return;
    }
    // Output and input may share memory; where the output runs ahead of the input (bytes
    // pending or a block held back), the input is copied first so no byte is overwritten
    // before it is read.
    rtl::SecureBytes copy;
    if (Overlap(input, n, output, blocks * b) && (input != output || pendingCount_ != 0 || hasHeldBack_)) {
        copy.assign(input, input + n);
        input = copy.data();
    }
    uint8_t* out = output;
    if (hasHeldBack_) {
        std::memcpy(out, heldBack_, b);
        out += b;
        hasHeldBack_ = false;
    }
    size_t remaining = blocks;
    // The block completed from pending bytes first.
    if (pendingCount_ != 0) {
        const size_t take = b - pendingCount_;
        std::memcpy(pending_ + pendingCount_, input, take);
        input += take;
        n -= take;
        pendingCount_ = 0;
        uint8_t* target = (holdBack && remaining == 1) ? heldBack_ : out;
        if (encrypt)
            EncryptBlocks(pending_, target, b);
        else
            DecryptBlocks(pending_, target, b);
        if (target == out) out += b;
        else hasHeldBack_ = true;
        --remaining;
    }
    // Whole blocks straight from the input; with padding on the last one is held back.
    const size_t direct = holdBack && remaining > 0 ? remaining - 1 : remaining;
    if (direct > 0) {
        if (encrypt)
            EncryptBlocks(input, out, direct * b);
        else
            DecryptBlocks(input, out, direct * b);
        input += direct * b;
        out += direct * b;
        n -= direct * b;
        remaining -= direct;
    }
    if (remaining == 1) {
        DecryptBlocks(input, heldBack_, b);
        hasHeldBack_ = true;
        input += b;
        n -= b;
    }
    if (n != 0) std::memcpy(pending_, input, n);
    pendingCount_ = n;
    size = size_t(out - output);
}

void TElBuiltInSymmetricCrypto::EncryptUpdate(const void* input, size_t inputSize, void* output, size_t& size) {
    CheckState(State::Encrypting);
    const bool byBytes = IsStreamCipher() || mode_ == SYMMETRIC_MODE_CTR || mode_ == SYMMETRIC_MODE_CFB;
    const size_t needed = byBytes ? inputSize : (pendingCount_ + inputSize) / size_t(blockSize_) * size_t(blockSize_);
    if (output == nullptr) {
        size = needed;
        return;
    }
    if (size < needed) throw EElSymmetricCryptoError(SBufferTooSmall);
    const auto* in = static_cast<const uint8_t*>(input);
    auto* out = static_cast<uint8_t*>(output);
    if (IsStreamCipher()) {
        StreamEncrypt(in, out, inputSize);
    } else if (byBytes) {
        EncryptBlocks(in, out, inputSize);
    } else {
        size_t written = 0;
        BlockUpdate(in, inputSize, out, written, true);
    }
    size = needed;
}

void TElBuiltInSymmetricCrypto::DecryptUpdate(const void* input, size_t inputSize, void* output, size_t& size) {
    CheckState(State::Decrypting);
    const bool byBytes = IsStreamCipher() || mode_ == SYMMETRIC_MODE_CTR || mode_ == SYMMETRIC_MODE_CFB;
    const size_t needed = byBytes ? inputSize : (pendingCount_ + inputSize) / size_t(blockSize_) * size_t(blockSize_);
    if (output == nullptr) {
        size = needed;
        return;
    }
    if (size < needed) throw EElSymmetricCryptoError(SBufferTooSmall);
    const auto* in = static_cast<const uint8_t*>(input);
    auto* out = static_cast<uint8_t*>(output);
    if (IsStreamCipher()) {
        StreamDecrypt(in, out, inputSize);
        size = needed;
    } else if (byBytes) {
        DecryptBlocks(in, out, inputSize);
        size = needed;
    } else {
        BlockUpdate(in, inputSize, out, size, false);
    }
}

// ---------------------------------------------------------------------------------------------
// Padding and finalisation

void TElBuiltInSymmetricCrypto::AddPadding(const void* data, size_t n, rtl::SecureBytes& padded) const {
    const size_t b = size_t(blockSize_);
    if (n >= b) throw EElSymmetricCryptoError(SInternalError);
    const auto* p = static_cast<const uint8_t*>(data);
    padded.assign(p, p + n);
    if (padding_ == SB_SYMENC_PADDING_PKCS5) padded.resize(b, uint8_t(b - n));
}

void TElBuiltInSymmetricCrypto::FinishWithoutOutput(void* output, size_t& size) {
    size = 0;
    // A null output only asks for the size; the message goes on.
    if (output == nullptr) return;
    rtl::secure_wipe(pending_, sizeof pending_);
    pendingCount_ = 0;
    state_ = State::Finished;
}

void TElBuiltInSymmetricCrypto::FinalizeEncryption(void* output, size_t& size) {
    CheckState(State::Encrypting);
    if (IsStreamCipher() || mode_ == SYMMETRIC_MODE_CTR || mode_ == SYMMETRIC_MODE_CFB)
        return FinishWithoutOutput(output, size);
    if (padding_ != SB_SYMENC_PADDING_PKCS5) {
        if (pendingCount_ != 0) throw EElSymmetricCryptoError(SInvalidPadding);
        return FinishWithoutOutput(output, size);
    }
    const size_t b = size_t(blockSize_);
    if (output == nullptr) {
        size = b;
        return;
    }
    if (size < b) throw EElSymmetricCryptoError(SBufferTooSmall);
    rtl::SecureBytes padded;
    AddPadding(pending_, pendingCount_, padded);
    rtl::secure_wipe(pending_, sizeof pending_);
    pendingCount_ = 0;
    EncryptBlocks(padded.data(), static_cast<uint8_t*>(output), b);
    size = b;
    state_ = State::Finished;
}

size_t TElBuiltInSymmetricCrypto::CheckedPadLength() const {
    // PKCS#5 (RFC 8018, section 6.1.1): the last p bytes all hold p, 1 <= p <= B. Every byte
    // is looked at and no branch depends on the data, so the time taken says nothing about
    // where a padding went wrong (a padding oracle needs exactly that).
    const uint32_t b = uint32_t(blockSize_);
    const uint32_t p = heldBack_[b - 1];
    // all-ones when x < y, else zero (x, y below 2^31)
    auto lessMask = [](uint32_t x, uint32_t y) { return uint32_t(0) - ((x - y) >> 31); };
    uint32_t bad = ~lessMask(0, p) | lessMask(b, p);  // p == 0 or p > B
    for (uint32_t i = 0; i < b; ++i) {
        const uint32_t inPad = lessMask(b - 1 - i, p);  // position i is one of the last p
        bad |= inPad & (uint32_t(heldBack_[i]) ^ p);
    }
    // bad is zero exactly when the padding is good; fold it to one bit.
    const uint32_t good = 1 & (((bad | (0 - bad)) >> 31) ^ 1);
    return size_t(p * good);
}

void TElBuiltInSymmetricCrypto::FinalizeDecryption(void* output, size_t& size) {
    CheckState(State::Decrypting);
    if (IsStreamCipher() || mode_ == SYMMETRIC_MODE_CTR || mode_ == SYMMETRIC_MODE_CFB)
        return FinishWithoutOutput(output, size);
    if (pendingCount_ != 0) throw EElSymmetricCryptoError(SInvalidPadding);
    if (padding_ != SB_SYMENC_PADDING_PKCS5) return FinishWithoutOutput(output, size);
    // A padded message is at least one block: no block at all is no padding.
    if (!hasHeldBack_) throw EElSymmetricCryptoError(SInvalidPadding);
    const size_t pad = CheckedPadLength();
    if (pad == 0) throw EElSymmetricCryptoError(SInvalidPadding);
    const size_t d = size_t(blockSize_) - pad;
    if (output == nullptr) {
        size = d;
        return;
    }
    if (size < d) throw EElSymmetricCryptoError(SBufferTooSmall);
    std::memcpy(output, heldBack_, d);
    size = d;
    rtl::secure_wipe(heldBack_, sizeof heldBack_);
    hasHeldBack_ = false;
    state_ = State::Finished;
}
