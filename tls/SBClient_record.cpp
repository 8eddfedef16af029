// tls/SBClient_record.cpp: the SSL 3.0 and TLS record layer of TElSecureClient: the plain
// writer and its fragmenting, MAC-then-encrypt protection of records, the checks of a received
// record, the PRFs of TLS 1.0/1.1 (RFC 2246 5) and TLS 1.2 (RFC 5246 5), the SSL 3.0 key
// derivation (RFC 6101 6.1, 6.2.2), the master secret with and without RFC 7627, the key block
// and the ciphers made from it, and the Finished values.
//
// Each direction has a current protection and a pending one: keys are derived into the pending
// pair, our ChangeCipherSpec makes the pending write side current, the server's makes the
// pending read side current. A renegotiation therefore keeps the old keys until each side's
// ChangeCipherSpec.
//
// With deflate agreed (RFC 3749) each direction's protection carries its compression stream,
// made with its keys: a record is compressed before its MAC and inflated only after its MAC
// checked out, and a compressed fragment is held to RFC 5246 6.2.2's limits before and while
// it is inflated.
//
// A received CBC record is checked in one pass whose time depends only on its length: the
// padding (every byte for TLS, RFC 5246 6.2.3.2; the length byte for SSL 3.0, RFC 6101 5.2.3.2),
// the MAC computed over the length the padding gives, the extra hash compressions that make up
// for a shorter MAC input, and the received MAC taken from its place by masks; every failure
// ends in the one bad_record_mac alert.
#include <algorithm>
#include <cstring>

#include "crypto/base/SBConstants.h"
#include "crypto/facade/SBHashFunction.h"
#include "crypto/facade/SBSymmetricCrypto.h"
#include "crypto/math/SBRandom.h"
#include "rtl/Bytes.h"
#include "tls/SBClient.h"
#include "tls/SBClientInternal.h"

using namespace sbtls;

namespace {

// All-ones when the condition holds, zero otherwise, without a branch.
inline uint32_t MaskIf(bool condition) { return uint32_t(0) - uint32_t(condition); }
inline uint32_t MaskLE(uint32_t a, uint32_t b) {  // a <= b, for values below 2^31
    return uint32_t(int32_t(b - a) >> 31) ^ 0xFFFFFFFFu;
}
inline uint32_t MaskEQ(uint32_t a, uint32_t b) { return MaskLE(a, b) & MaskLE(b, a); }

// The SSL 3.0 MAC and Finished pads (RFC 6101 5.2.3.1).
constexpr size_t SSL3PadLength(int32_t hashAlgorithm) { return hashAlgorithm == SB_ALG_MD5 ? 48 : 40; }

void WipeString(ByteString& s) { rtl::secure_wipe(s.data(), s.size()); }

void Append(rtl::SecureBytes& out, const ByteString& bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); }

// P_hash of RFC 5246 5 with one HMAC.
rtl::SecureBytes PHash(int32_t hmacAlgorithm, std::span<const uint8_t> secret, std::span<const uint8_t> seed,
                       size_t length) {
    TElHMACKeyMaterial key;
    key.SetKey(secret);
    auto hmac = TElHashFunction::CreateWithKey(hmacAlgorithm, &key);
    rtl::SecureBytes out;
    out.reserve(length + 64);
    ByteString a(reinterpret_cast<const char*>(seed.data()), seed.size());  // A(0)
    while (out.size() < length) {
        hmac->Reset();
        hmac->Update(a.data(), a.size());
        ByteString next = hmac->Finish();
        WipeString(a);
        a = std::move(next);
        hmac->Reset();
        hmac->Update(a.data(), a.size());
        hmac->Update(seed.data(), seed.size());
        ByteString block = hmac->Finish();
        Append(out, block);
        WipeString(block);
    }
    WipeString(a);
    out.resize(length);
    return out;
}

// The SSL 3.0 expansion (RFC 6101 6.1, 6.2.2): blocks of MD5(secret + SHA(label + secret +
// first + second)) for the labels "A", "BB", "CCC", ... until length bytes are made. The master
// secret takes the client random first, the key block the server random first.
rtl::SecureBytes SSL3Expand(std::span<const uint8_t> secret, std::span<const uint8_t> first,
                            std::span<const uint8_t> second, size_t length) {
    rtl::SecureBytes out;
    out.reserve(length + 16);
    std::string label;
    while (out.size() < length) {
        label.assign(label.size() + 1, char('A' + label.size()));
        TElHashFunction sha(SB_ALG_SHA1);
        sha.Update(label.data(), label.size());
        sha.Update(secret.data(), secret.size());
        sha.Update(first.data(), first.size());
        sha.Update(second.data(), second.size());
        ByteString inner = sha.Finish();
        TElHashFunction md5(SB_ALG_MD5);
        md5.Update(secret.data(), secret.size());
        md5.Update(inner.data(), inner.size());
        ByteString block = md5.Finish();
        Append(out, block);
        WipeString(inner);
        WipeString(block);
    }
    out.resize(length);
    return out;
}

}  // namespace

TElSecureClient::Protection::Protection() = default;
TElSecureClient::Protection::~Protection() = default;
TElSecureClient::Protection::Protection(Protection&&) noexcept = default;
TElSecureClient::Protection& TElSecureClient::Protection::operator=(Protection&&) noexcept = default;

// ---------------------------------------------------------------------------------------------
// Record compression

namespace sbtls {

RecordCompression::RecordCompression(bool compress) : compress_(compress) {
    const int rc = compress ? InitCompression(stream_, 9) : InitDecompression(stream_);
    if (rc != Z_OK) {
        compress ? EndCompression(stream_) : EndDecompression(stream_);
        Refuse(SSLAlertInternalError, "Record compression cannot start");
    }
}

RecordCompression::~RecordCompression() {
    if (compress_)
        EndCompression(stream_);
    else
        EndDecompression(stream_);
}

bool RecordCompression::Compress(const uint8_t* data, size_t length, rtl::SecureBytes& out) {
    try {
        CompressData(stream_, data, length, out);
    } catch (const rtl::Exception&) {
        return false;
    }
    return out.size() <= length + (MaxCompressed - MaxPlaintext);
}

void RecordCompression::Decompress(const uint8_t* data, size_t length, rtl::SecureBytes& out) {
    out.clear();
    try {
        DecompressWithCallback(stream_, data, length, [&](const uint8_t* piece, size_t size) {
            // RFC 5246 6.2.2: more than 2^14 bytes is a decompression failure; zlib's step is
            // refused before any of it is kept.
            if (size > MaxPlaintext - out.size())
                Refuse(SSLAlertDecompressionFailure, "Record inflates too far");
            out.insert(out.end(), piece, piece + size);
        });
    } catch (const EElSSLError&) {
        throw;
    } catch (const rtl::Exception&) {
        Refuse(SSLAlertDecompressionFailure, "Record does not inflate");
    }
}

}  // namespace sbtls

// ---------------------------------------------------------------------------------------------
// Writing

void TElSecureClient::WritePlainRecord(uint8_t type, const uint8_t* data, size_t length) {
    output_.resize(5 + length);
    output_[0] = type;
    output_[1] = recordMajor_;
    output_[2] = recordMinor_;
    rtl::store_be16(&output_[3], uint16_t(length));
    if (length > 0) std::memcpy(&output_[5], data, length);
    DoSend(output_.data(), output_.size());
}

void TElSecureClient::SendRecordData(uint8_t type, const uint8_t* data, size_t length) {
    // Records of at most the maximum send fragment (RFC 6066 4 may have lowered it); an empty
    // message still makes one record.
    // A closed session sends nothing more.
    if (closed_) return;
    const size_t fragment = size_t(std::max(maxSendFragment_, 1));
    size_t done = 0;
    do {
        const size_t n = std::min(fragment, length - done);
        if (write_.Active)
            SendProtectedFragment(type, data + done, n);
        else
            WritePlainRecord(type, data + done, n);
        done += n;
    } while (done < length);
}

void TElSecureClient::SendProtectedFragment(uint8_t type, const uint8_t* data, size_t length) {
    Protection& w = write_;
    if (w.Compression) {
        if (!w.Compression->Compress(data, length, deflated_)) {
            // The stream is broken: not even an alert can go through it.
            Fail(-1, SSLAlertIndexToErrorCode(SSLAlertInternalError));
            return;
        }
        data = deflated_.data();
        length = deflated_.size();
    }
    const ByteArray mac = ComputeMAC(w, type, data, length);
    const size_t bs = size_t(w.BlockSize);
    const bool explicitIV = bs > 0 && w.Version >= sbTLS11;
    size_t total = (explicitIV ? bs : 0) + length + mac.size();
    size_t padding = 0;
    if (bs > 0) {
        padding = bs - (length + mac.size()) % bs;  // 1 .. bs bytes of value padding - 1
        total += padding;
    }
    output_.resize(5 + total);
    uint8_t* p = &output_[5];
    if (explicitIV) {
        // RFC 4346 6.2.3.2: a fresh random block first, encrypted in the running CBC chain.
        GenerateRandomBytes(p, bs);
        p += bs;
    }
    if (length > 0) std::memcpy(p, data, length);
    p += length;
    if (!mac.empty()) std::memcpy(p, mac.data(), mac.size());
    p += mac.size();
    std::memset(p, int(padding - 1), padding);
    if (w.Crypto) {
        size_t outSize = total;
        w.Crypto->EncryptUpdate(&output_[5], total, &output_[5], outSize);
    }
    output_[0] = type;
    output_[1] = recordMajor_;
    output_[2] = recordMinor_;
    rtl::store_be16(&output_[3], uint16_t(total));
    w.Sequence++;
    DoSend(output_.data(), output_.size());
}

// ---------------------------------------------------------------------------------------------
// MACs

ByteArray TElSecureClient::ComputeMAC(Protection& side, uint8_t type, const uint8_t* data, size_t length) {
    if (!side.MAC) return {};
    uint8_t header[13];
    rtl::store_be64(header, side.Sequence);
    header[8] = type;
    ByteString digest;
    if (side.Version == sbSSL3) {
        // RFC 6101 5.2.3.1: hash(secret + pad_2 + hash(secret + pad_1 + seq + type + length +
        // content)).
        const int32_t hash = SSLMacHashAlgorithm(side.Cipher.Mac);
        const size_t padLength = SSL3PadLength(hash);
        uint8_t pad[48];
        rtl::store_be16(header + 9, uint16_t(length));
        side.MAC->Reset();
        side.MAC->Update(side.MacKey.data(), side.MacKey.size());
        std::memset(pad, 0x36, padLength);
        side.MAC->Update(pad, padLength);
        side.MAC->Update(header, 11);
        side.MAC->Update(data, length);
        ByteString inner = side.MAC->Finish();
        side.MAC->Reset();
        side.MAC->Update(side.MacKey.data(), side.MacKey.size());
        std::memset(pad, 0x5C, padLength);
        side.MAC->Update(pad, padLength);
        side.MAC->Update(inner.data(), inner.size());
        digest = side.MAC->Finish();
    } else {
        // RFC 5246 6.2.3.1: HMAC(seq + type + version + length + content).
        header[9] = recordMajor_;
        header[10] = recordMinor_;
        rtl::store_be16(header + 11, uint16_t(length));
        side.MAC->Reset();
        side.MAC->Update(header, 13);
        side.MAC->Update(data, length);
        digest = side.MAC->Finish();
    }
    digest.resize(std::min(digest.size(), size_t(side.Cipher.MacOutputSize)));
    return ByteArray(digest.begin(), digest.end());
}

void TElSecureClient::PadMACCompressions(Protection& side, size_t maximum, size_t used) {
    // The hash behind the MAC ran over `used` bytes of a record that could have made it run
    // over `maximum`; as many compressions as the difference are run on a spare digest, so the
    // record's time does not tell the padding length (the countermeasure of "Lucky Thirteen",
    // AlFardan and Paterson 2013).
    if (!side.MAC) return;
    const bool wide = side.Cipher.Mac == SSLMac::SHA384 || side.Cipher.Mac == SSLMac::SHA512;
    const uint32_t block = wide ? 128 : 64, lengthField = wide ? 17 : 9;
    auto blocks = [&](size_t bytes) { return uint32_t((bytes + lengthField + block - 1) / block); };
    const uint32_t extra = blocks(maximum) - blocks(used);
    const uint32_t none = MaskEQ(extra, 0) & 1;
    static const uint8_t zeros[1024] = {};
    const size_t dummy = size_t(extra) * block + none * (block - lengthField);
    TElHashFunction spare(SSLMacHashAlgorithm(side.Cipher.Mac));
    spare.Update(zeros, std::min(dummy, sizeof zeros));
}

bool TElSecureClient::CheckCBCRecord(Protection& side, uint8_t type, uint8_t* data, size_t length,
                                     size_t& plainLength) {
    const size_t bs = size_t(side.BlockSize);
    const size_t macLength = size_t(side.Cipher.MacOutputSize);
    const size_t ivLength = side.Version >= sbTLS11 ? bs : 0;
    // Too short for the IV, the MAC and one byte of padding, or not whole blocks: refused with
    // the same alert as a bad MAC (RFC 5246 6.2.3.2).
    const size_t minimum = ivLength + std::max(bs, (macLength + 1 + bs - 1) / bs * bs);
    if (length < minimum || length % bs != 0) return false;
    size_t outSize = length;
    side.Crypto->DecryptUpdate(data, length, data, outSize);
    uint8_t* p = data + ivLength;
    const uint32_t n = uint32_t(length - ivLength);
    const uint32_t padLength = p[n - 1];
    uint32_t good = MaskLE(padLength + 1 + uint32_t(macLength), n);
    if (side.Version == sbSSL3) {
        good &= MaskLE(padLength + 1, uint32_t(bs));  // RFC 6101 5.2.3.2: less than a block
    } else {
        // Every padding byte equals the length byte; the loop runs over the same 256 bytes
        // whatever the padding says.
        const uint32_t scan = std::min<uint32_t>(256, n);
        for (uint32_t i = 0; i < scan; ++i) {
            const uint32_t inPadding = MaskLE(i, padLength);
            good &= ~(inPadding & ~MaskEQ(p[n - 1 - i], padLength));
        }
    }
    // With bad padding the MAC is still computed, over the record as if it had one padding
    // byte, so the failure takes the same time.
    const uint32_t removed = (good & (padLength + 1)) | (~good & 1);
    const uint32_t dataLength = n - uint32_t(macLength) - removed;
    const ByteArray expected = ComputeMAC(side, type, p, dataLength);
    const size_t prefix = side.Version == sbSSL3 ? side.MacKey.size() + SSL3PadLength(SSLMacHashAlgorithm(side.Cipher.Mac)) + 11 : 13;
    PadMACCompressions(side, prefix + n - macLength - 1, prefix + dataLength);
    // The received MAC, taken from wherever the padding puts it without an access that
    // depends on that place.
    uint8_t received[64] = {};
    const uint32_t lowest = n - uint32_t(macLength) >= 256 ? n - uint32_t(macLength) - 256 : 0;
    for (uint32_t start = lowest; start + macLength <= n; ++start) {
        const uint8_t m = uint8_t(MaskEQ(start, dataLength));
        for (size_t k = 0; k < macLength; ++k) received[k] |= uint8_t(p[start + k] & m);
    }
    good &= MaskIf(expected.size() == macLength && rtl::ct_equal(received, expected.data(), macLength));
    rtl::secure_wipe(received, sizeof received);
    if (good == 0) return false;
    plainLength = dataLength;
    if (ivLength > 0 && dataLength > 0) std::memmove(data, p, dataLength);
    return true;
}

std::span<const uint8_t> TElSecureClient::UnprotectRecord(uint8_t type, uint8_t* data, size_t length) {
    if (!read_.Active) {
        if (length > MaxPlaintext) Refuse(SSLAlertRecordOverflow, "Record too long");
        return {data, length};
    }
    Protection& r = read_;
    size_t plain = 0;
    if (r.BlockSize > 0) {
        if (!CheckCBCRecord(r, type, data, length, plain)) Refuse(SSLAlertBadRecordMac, "Bad record MAC");
    } else {
        const size_t macLength = size_t(r.Cipher.MacOutputSize);
        if (length < macLength) Refuse(SSLAlertBadRecordMac, "Bad record MAC");
        if (r.Crypto && length > 0) {
            size_t outSize = length;
            r.Crypto->DecryptUpdate(data, length, data, outSize);
        }
        plain = length - macLength;
        const ByteArray expected = ComputeMAC(r, type, data, plain);
        if (expected.size() != macLength || !rtl::ct_equal(data + plain, expected.data(), macLength))
            Refuse(SSLAlertBadRecordMac, "Bad record MAC");
    }
    r.Sequence++;
    std::span<const uint8_t> out(data, plain);
    if (r.Compression) {
        // RFC 5246 6.2.2 and 7.2.2: a compressed fragment of more than 2^14 + 1024 bytes is a
        // record overflow, found before it is inflated.
        if (plain > MaxCompressed) Refuse(SSLAlertRecordOverflow, "Compressed record too long");
        r.Compression->Decompress(data, plain, inflated_);
        out = inflated_;
    }
    // RFC 5246 6.2.1 and RFC 6066 4: no more plaintext than a record may carry, nor than the
    // negotiated fragment length.
    if (out.size() > MaxPlaintext || out.size() > size_t(maxReceiveFragment_))
        Refuse(SSLAlertRecordOverflow, "Record too long");
    return out;
}

// ---------------------------------------------------------------------------------------------
// Key derivation

rtl::SecureBytes TElSecureClient::PRF(const rtl::SecureBytes& secret, const char* label,
                                      std::span<const uint8_t> seed, size_t length) const {
    rtl::SecureBytes labelSeed(label, label + std::strlen(label));
    labelSeed.insert(labelSeed.end(), seed.begin(), seed.end());
    if (currentVersion_ >= sbTLS12) return PHash(SB_ALG_HMAC_SHA256, secret, labelSeed, length);
    // RFC 2246 5: the secret's halves (sharing a byte when its length is odd) into P_MD5 and
    // P_SHA-1, exclusive-ored.
    const size_t half = (secret.size() + 1) / 2;
    const std::span<const uint8_t> s(secret);
    rtl::SecureBytes out = PHash(SB_ALG_HMAC_MD5, s.first(half), labelSeed, length);
    const rtl::SecureBytes sha = PHash(SB_ALG_HMAC_SHA1, s.last(half), labelSeed, length);
    for (size_t i = 0; i < length; ++i) out[i] ^= sha[i];
    return out;
}

ByteArray TElSecureClient::TranscriptHash(int32_t algorithm) const {
    if (algorithm == SB_ALG_SSL_HASH) {
        ByteArray both = TranscriptHash(SB_ALG_MD5);
        const ByteArray sha = TranscriptHash(SB_ALG_SHA1);
        both.insert(both.end(), sha.begin(), sha.end());
        return both;
    }
    TElHashFunction h(algorithm);
    h.Update(transcript_.data(), transcript_.size());
    const ByteString d = h.Finish();
    return ByteArray(d.begin(), d.end());
}

void TElSecureClient::ComputeMasterSecret() {
    if (currentVersion_ == sbSSL3) {
        masterSecret_ = SSL3Expand(premaster_, clientRandom_, serverRandom_, 48);
    } else if (extendedMasterSecret_) {
        // RFC 7627 4: the session hash covers the handshake up to the ClientKeyExchange.
        const ByteArray sessionHash = TranscriptHash(currentVersion_ >= sbTLS12 ? SB_ALG_SHA256 : SB_ALG_SSL_HASH);
        masterSecret_ = PRF(premaster_, "extended master secret", sessionHash, 48);
    } else {
        uint8_t seed[64];
        std::memcpy(seed, clientRandom_.data(), 32);
        std::memcpy(seed + 32, serverRandom_.data(), 32);
        masterSecret_ = PRF(premaster_, "master secret", seed, 48);
    }
    rtl::secure_wipe(premaster_.data(), premaster_.size());
    premaster_.clear();
}

void TElSecureClient::DeriveKeys() {
    const Suite& s = suite_;
    const size_t macSize = size_t(s.MacSize), keySize = size_t(s.KeySize), ivSize = size_t(s.IVSize);
    const size_t blockLength = 2 * (macSize + keySize + ivSize);
    rtl::SecureBytes block;
    if (currentVersion_ == sbSSL3) {
        block = SSL3Expand(masterSecret_, serverRandom_, clientRandom_, blockLength);
    } else {
        uint8_t seed[64];
        std::memcpy(seed, serverRandom_.data(), 32);
        std::memcpy(seed + 32, clientRandom_.data(), 32);
        block = PRF(masterSecret_, "key expansion", seed, blockLength);
    }
    const uint8_t* p = block.data();
    const uint8_t* clientMac = p;
    const uint8_t* serverMac = p + macSize;
    rtl::SecureBytes clientKey(p + 2 * macSize, p + 2 * macSize + keySize);
    rtl::SecureBytes serverKey(p + 2 * macSize + keySize, p + 2 * (macSize + keySize));
    rtl::SecureBytes clientIV(p + 2 * (macSize + keySize), p + 2 * (macSize + keySize) + ivSize);
    rtl::SecureBytes serverIV(p + 2 * (macSize + keySize) + ivSize, p + blockLength);
    if (s.Export && s.Cipher != SSLCipher::None) {
        const size_t finalLength = s.Cipher == SSLCipher::DES ? 8 : 16;
        if (currentVersion_ == sbSSL3) {
            // RFC 6101 6.2.2.1.
            auto md5 = [](std::initializer_list<std::span<const uint8_t>> parts) {
                TElHashFunction h(SB_ALG_MD5);
                for (auto part : parts) h.Update(part.data(), part.size());
                ByteString d = h.Finish();
                rtl::SecureBytes out(d.begin(), d.end());
                WipeString(d);
                return out;
            };
            const std::span<const uint8_t> cr(clientRandom_), sr(serverRandom_);
            clientKey = md5({clientKey, cr, sr});
            serverKey = md5({serverKey, sr, cr});
            clientIV = md5({cr, sr});
            serverIV = md5({sr, cr});
            clientIV.resize(ivSize);
            serverIV.resize(ivSize);
        } else {
            // RFC 2246 6.3.
            uint8_t seed[64];
            std::memcpy(seed, clientRandom_.data(), 32);
            std::memcpy(seed + 32, serverRandom_.data(), 32);
            clientKey = PRF(clientKey, "client write key", seed, 16);
            serverKey = PRF(serverKey, "server write key", seed, 16);
            const rtl::SecureBytes ivBlock = PRF(rtl::SecureBytes(), "IV block", seed, 2 * ivSize);
            clientIV.assign(ivBlock.begin(), ivBlock.begin() + ptrdiff_t(ivSize));
            serverIV.assign(ivBlock.begin() + ptrdiff_t(ivSize), ivBlock.end());
        }
        clientKey.resize(finalLength);
        serverKey.resize(finalLength);
    }
    BuildProtection(pendingWrite_, clientMac, clientKey, clientIV, true);
    BuildProtection(pendingRead_, serverMac, serverKey, serverIV, false);
}

void TElSecureClient::BuildProtection(Protection& side, const uint8_t* macKey, const rtl::SecureBytes& key,
                                      const rtl::SecureBytes& iv, bool encrypt) {
    side = Protection();
    side.Cipher = suite_;
    side.Version = currentVersion_;
    side.MacKey.assign(macKey, macKey + suite_.MacSize);
    if (suite_.Mac != SSLMac::None) {
        if (currentVersion_ == sbSSL3) {
            side.MAC = std::make_unique<TElHashFunction>(SSLMacHashAlgorithm(suite_.Mac));
        } else {
            side.HMACKey = std::make_unique<TElHMACKeyMaterial>();
            side.HMACKey->SetKey(side.MacKey);
            side.MAC = TElHashFunction::CreateWithKey(SSLMacHMACAlgorithm(suite_.Mac), side.HMACKey.get());
        }
    }
    if (suite_.Cipher != SSLCipher::None) {
        TElCustomCryptoProvider* provider = SymmetricProvider();
        const int32_t algorithm = SSLCipherAlgorithm(suite_.Cipher);
        try {
            side.KeyMaterial = std::make_unique<TElSymmetricKeyMaterial>(provider);
            side.KeyMaterial->SetKey(key);
            if (!SSLCipherIsStream(suite_.Cipher)) side.KeyMaterial->SetIV(iv);
            side.Crypto = TElSymmetricCrypto::CreateByAlgorithm(algorithm, 0, provider);
            side.Crypto->SetKeyMaterial(side.KeyMaterial.get());
            side.Crypto->SetPadding(0);
            if (encrypt)
                side.Crypto->InitializeEncryption();
            else
                side.Crypto->InitializeDecryption();
        } catch (const ECryptoLibraryError&) {
            // The provider cannot make this cipher: reported without an alert.
            RefuseWithCode(-1, SSLAlertIndexToErrorCode(SSLAlertIllegalParameter), "Cipher not available");
        }
        side.BlockSize = SSLCipherIsStream(suite_.Cipher) ? 0 : side.Crypto->GetBlockSize();
    }
    if (compressionActive_) {
        // RFC 3749 2: a fresh stream with each new set of keys, at zlib's level 9 for ours.
        side.Compression = std::make_unique<RecordCompression>(encrypt);
        rtl::SecureBytes& buffer = encrypt ? deflated_ : inflated_;
        if (buffer.capacity() < MaxCompressed) buffer.reserve(MaxCompressed);
    }
    side.Active = true;
}

void TElSecureClient::ChangeWriteKeys() {
    write_ = std::move(pendingWrite_);
    pendingWrite_ = Protection();
    write_.Sequence = 0;
}

void TElSecureClient::ChangeReadKeys() {
    read_ = std::move(pendingRead_);
    pendingRead_ = Protection();
    read_.Sequence = 0;
}

void TElSecureClient::ClearProtection() {
    read_ = Protection();
    write_ = Protection();
    pendingRead_ = Protection();
    pendingWrite_ = Protection();
}

// ---------------------------------------------------------------------------------------------
// Finished

ByteArray TElSecureClient::ComputeSSL3Hashes(const char* sender) const {
    // RFC 6101 5.6.9: MD5 and SHA of (transcript + sender + master + pad_1), each under an
    // outer hash with pad_2; the sender is left out for CertificateVerify.
    ByteArray out;
    for (int32_t algorithm : {SB_ALG_MD5, SB_ALG_SHA1}) {
        const size_t padLength = SSL3PadLength(algorithm);
        uint8_t pad[48];
        TElHashFunction inner(algorithm);
        inner.Update(transcript_.data(), transcript_.size());
        if (sender != nullptr) inner.Update(sender, 4);
        inner.Update(masterSecret_.data(), masterSecret_.size());
        std::memset(pad, 0x36, padLength);
        inner.Update(pad, padLength);
        ByteString innerHash = inner.Finish();
        TElHashFunction outer(algorithm);
        outer.Update(masterSecret_.data(), masterSecret_.size());
        std::memset(pad, 0x5C, padLength);
        outer.Update(pad, padLength);
        outer.Update(innerHash.data(), innerHash.size());
        const ByteString d = outer.Finish();
        out.insert(out.end(), d.begin(), d.end());
    }
    return out;
}

ByteArray TElSecureClient::ComputeFinished(bool client) const {
    if (currentVersion_ == sbSSL3) return ComputeSSL3Hashes(client ? "CLNT" : "SRVR");
    // RFC 5246 7.4.9: PRF(master, label, Hash(handshake messages))[0..11], SHA-256 in TLS 1.2,
    // MD5 and SHA-1 before.
    const ByteArray hash = TranscriptHash(currentVersion_ >= sbTLS12 ? SB_ALG_SHA256 : SB_ALG_SSL_HASH);
    const rtl::SecureBytes v = PRF(masterSecret_, client ? "client finished" : "server finished", hash, 12);
    return ByteArray(v.begin(), v.end());
}
