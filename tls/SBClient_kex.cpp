// tls/SBClient_kex.cpp: the key exchanges of TElSecureClient: the server's Certificate and
// the key it carries, the ServerKeyExchange of each key-exchange kind with the check of the
// server's signature, the ClientKeyExchange and its premaster secret, and the client's
// certificate with its CertificateVerify.
//
// What must stay true:
// - the server's key comes from its certificate's SubjectPublicKeyInfo and fits the suite
//   (RSA for RSA key transport, the signing key the suite names, DH for fixed DH);
// - a signed ServerKeyExchange is used only after its signature checked out, in TLS 1.2 only
//   with a signature and hash pair the client offered (RFC 5246 7.4.3);
// - Diffie-Hellman values are range-checked before use (RFC 7919 5.1 and NIST SP 800-56A's
//   public-key check): an odd p of at least 1024 bits, 1 < g < p - 1, 1 < Ys < p - 1;
// - the RSA premaster secret carries the version the hello offered (RFC 5246 7.4.7.1).
#include <algorithm>
#include <cstring>

#include "crypto/base/SBConstants.h"
#include "crypto/facade/SBHashFunction.h"
#include "crypto/keys/SBPKCS8.h"
#include "crypto/keys/SBPublicKeyCrypto.h"
#include "crypto/math/SBRandom.h"
#include "pki/SBCustomCertStorage.h"
#include "pki/SBX509.h"
#include "rtl/Bytes.h"
#include "tls/SBClient.h"
#include "tls/SBClientInternal.h"

using namespace sbtls;

namespace {

std::span<const uint8_t> Bytes(const ByteString& s) {
    return std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

// Big-endian numbers as bytes, leading zeros ignored.
std::span<const uint8_t> Trimmed(std::span<const uint8_t> v) {
    size_t i = 0;
    while (i < v.size() && v[i] == 0) ++i;
    return v.subspan(i);
}

int Compare(std::span<const uint8_t> a, std::span<const uint8_t> b) {
    a = Trimmed(a);
    b = Trimmed(b);
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    const int c = std::memcmp(a.data(), b.data(), a.size());
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

size_t BitLength(std::span<const uint8_t> v) {
    v = Trimmed(v);
    if (v.empty()) return 0;
    size_t bits = (v.size() - 1) * 8;
    for (uint8_t top = v[0]; top != 0; top >>= 1) ++bits;
    return bits;
}

// The digest code of a TLS 1.2 HashAlgorithm (RFC 5246 7.4.1.4.1); 0 when it is none we offer.
int32_t HashOfCode(uint8_t code) {
    switch (code) {
        case 2: return SB_ALG_SHA1;
        case 3: return SB_ALG_SHA224;
        case 4: return SB_ALG_SHA256;
        case 5: return SB_ALG_SHA384;
        case 6: return SB_ALG_SHA512;
        default: return 0;
    }
}

// The digest of the parts; SB_ALG_SSL_HASH is MD5 and SHA-1 side by side, what SSL 3.0 and
// TLS 1.0/1.1 sign.
ByteArray Digest(int32_t algorithm, std::initializer_list<std::span<const uint8_t>> parts) {
    if (algorithm == SB_ALG_SSL_HASH) {
        ByteArray both = Digest(SB_ALG_MD5, parts);
        const ByteArray sha = Digest(SB_ALG_SHA1, parts);
        both.insert(both.end(), sha.begin(), sha.end());
        return both;
    }
    TElHashFunction h(algorithm);
    for (auto part : parts) h.Update(part.data(), part.size());
    const ByteString d = h.Finish();
    return ByteArray(d.begin(), d.end());
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The server's certificate

void TElSecureClient::AddServerCertificate(TElX509CertificateChain& chain, std::span<const uint8_t> der) {
    TElX509Certificate certificate;
    certificate.CryptoProvider = PublicKeyProvider();
    try {
        certificate.LoadFromBuffer(der.data(), der.size());
    } catch (const rtl::Exception&) {
        Refuse(SSLAlertBadCertificate, "Server certificate cannot be read");
    }
    chain.AddCopy(&certificate);
}

void TElSecureClient::AdoptServerChain(std::unique_ptr<TElX509CertificateChain> chain) {
    serverChain_ = std::move(chain);
    CheckServerChain();
    TakeServerKey(*serverChain_->GetCertificate(0));
}

void TElSecureClient::ProcessServerCertificate(const uint8_t* body, size_t length) {
    MessageReader r(body, length);
    MessageReader list(r.vector24());
    r.end();
    auto chain = std::make_unique<TElX509CertificateChain>();
    while (!list.eof()) AddServerCertificate(*chain, list.vector24());
    // RFC 5246 7.4.2: the server's own certificate comes first; an empty list is no
    // certificate at all.
    if (chain->GetCount() == 0) Refuse(SSLAlertBadCertificate, "Server sent no certificate");
    if (peerExtensions_->ServerCertificateType.Enabled &&
        peerExtensions_->ServerCertificateType.GetCertificateType() != 0 &&
        FindByKind(peerExtensions_->ServerCertificateType.GetCertificateType()) == nullptr)
        Refuse(SSLAlertBadCertificate, "Certificate type without a handler");
    AdoptServerChain(std::move(chain));
    state_ = HS::Certificate;
    certificateSeen_ = true;
    statusAllowed_ = extensions_->CertificateStatus.Enabled && peerExtensions_->CertificateStatus.Enabled;
    ExpectServerFlight();
}

void TElSecureClient::TakeServerKey(const TElX509Certificate& certificate) {
    serverRSAKey_.reset();
    serverDSAKey_.reset();
    serverDHKey_.reset();
    TElCustomCryptoProvider* provider = PublicKeyProvider();
    const TElSubjectPublicKeyInfo& spki = certificate.GetTBSCertificate().SubjectPublicKeyInfo;
    SSLSignature keyKind = SSLSignature::None;
    try {
        if (spki.PublicKeyAlgorithm == SB_CERT_ALG_RSA_ENCRYPTION) {
            const auto* rsa = dynamic_cast<const TElRSAEncryptionParameters*>(spki.Parameters.get());
            if (rsa == nullptr) Refuse(SSLAlertBadCertificate, "Server RSA key cannot be read");
            serverRSAKey_ = std::make_unique<TElRSAKeyMaterial>(provider);
            serverRSAKey_->LoadPublicFromModulus(rsa->Modulus.data(), rsa->Modulus.size(), rsa->PublicExponent.data(),
                                                 rsa->PublicExponent.size());
            keyKind = SSLSignature::RSA;
        } else if (spki.PublicKeyAlgorithm == SB_CERT_ALG_DSA) {
            const auto* dsa = dynamic_cast<const TElDSAEncryptionParameters*>(spki.Parameters.get());
            if (dsa == nullptr) Refuse(SSLAlertBadCertificate, "Server DSA key cannot be read");
            serverDSAKey_ = std::make_unique<TElDSAKeyMaterial>(provider);
            serverDSAKey_->ImportPublicKey(dsa->P.data(), dsa->P.size(), dsa->Q.data(), dsa->Q.size(), dsa->G.data(),
                                           dsa->G.size(), dsa->Y.data(), dsa->Y.size());
            keyKind = SSLSignature::DSS;
        } else if (spki.PublicKeyAlgorithm == SB_CERT_ALG_DH) {
            const auto* dh = dynamic_cast<const TElDHEncryptionParameters*>(spki.Parameters.get());
            if (dh == nullptr) Refuse(SSLAlertBadCertificate, "Server DH key cannot be read");
            CheckDHValues(Bytes(dh->P), Bytes(dh->G), Bytes(dh->Y));
            serverDHKey_ = std::make_unique<TElDHKeyMaterial>(provider);
            serverDHKey_->ImportPeerPublicKey(dh->P.data(), dh->P.size(), dh->G.data(), dh->G.size(), dh->Y.data(),
                                              dh->Y.size());
        }
    } catch (const ECryptoLibraryError&) {
        Refuse(SSLAlertBadCertificate, "Server key cannot be read");
    }
    // The key must fit the suite (RFC 5246 7.4.2).
    bool fits = false;
    switch (suite_.KeyExchange) {
        case SSLKeyExchange::RSA:
        case SSLKeyExchange::RSAPSK: fits = serverRSAKey_ != nullptr; break;
        case SSLKeyExchange::DH: fits = serverDHKey_ != nullptr; break;
        case SSLKeyExchange::DHE:
        case SSLKeyExchange::SRP: fits = keyKind == suite_.Signature; break;
        default: fits = true; break;
    }
    if (currentVersion_ == sbSSL2) fits = serverRSAKey_ != nullptr;
    if (!fits) Refuse(SSLAlertUnsupportedCertificate, "Server key does not fit the suite");
}

void TElSecureClient::ProcessSSL2ServerCertificate(std::span<const uint8_t> der) {
    auto chain = std::make_unique<TElX509CertificateChain>();
    AddServerCertificate(*chain, der);
    AdoptServerChain(std::move(chain));
}

// ---------------------------------------------------------------------------------------------
// ServerKeyExchange

void TElSecureClient::CheckDHValues(std::span<const uint8_t> p, std::span<const uint8_t> g,
                                    std::span<const uint8_t> y) const {
    // An odd prime of a size worth its name (512 bits only for an export suite the caller
    // enabled), and values inside 2 .. p - 2.
    const size_t minimum = suite_.Export ? 512 : 1024;
    const auto tp = Trimmed(p);
    if (tp.empty() || (tp.back() & 1) == 0 || BitLength(tp) < minimum)
        Refuse(SSLAlertInsufficientSecurity, "Weak Diffie-Hellman group");
    ByteArray pMinusOne(tp.begin(), tp.end());
    pMinusOne.back() ^= 1;  // p is odd: p - 1 only clears the lowest bit
    const uint8_t one[1] = {1};
    for (auto v : {g, y})
        if (Compare(v, one) <= 0 || Compare(v, pMinusOne) >= 0)
            Refuse(SSLAlertIllegalParameter, "Diffie-Hellman value out of range");
}

void TElSecureClient::ProcessServerKeyExchange(const uint8_t* body, size_t length) {
    serverKeyExchangeSeen_ = true;
    MessageReader r(body, length);
    switch (suite_.KeyExchange) {
        case SSLKeyExchange::DHE:
        case SSLKeyExchange::DHAnon:
        case SSLKeyExchange::DHEPSK: {
            if (suite_.KeyExchange == SSLKeyExchange::DHEPSK) {
                const auto hint = r.vector16();
                pskIdentityHint_.assign(hint.begin(), hint.end());
            }
            const size_t start = length - r.remaining();
            const auto p = r.vector16(), g = r.vector16(), ys = r.vector16();
            const std::span<const uint8_t> params(body + start, length - r.remaining() - start);
            CheckDHValues(p, g, ys);
            if (suite_.KeyExchange == SSLKeyExchange::DHE) {
                VerifyParamsSignature(params, r);
            } else {
                r.end();
            }
            serverDHKey_ = std::make_unique<TElDHKeyMaterial>(PublicKeyProvider());
            serverDHKey_->ImportPeerPublicKey(p.data(), p.size(), g.data(), g.size(), ys.data(), ys.size());
            break;
        }
        case SSLKeyExchange::RSA: {
            // RFC 2246 7.4.3: a temporary RSA key of an export suite, signed by the certificate's.
            const auto modulus = r.vector16(), exponent = r.vector16();
            VerifyParamsSignature(std::span<const uint8_t>(body, length - r.remaining()), r);
            try {
                serverRSAKey_ = std::make_unique<TElRSAKeyMaterial>(PublicKeyProvider());
                serverRSAKey_->LoadPublicFromModulus(modulus.data(), modulus.size(), exponent.data(), exponent.size());
            } catch (const ECryptoLibraryError&) {
                Refuse(SSLAlertHandshakeFailure, "Temporary RSA key cannot be read");
            }
            break;
        }
        case SSLKeyExchange::PSK:
        case SSLKeyExchange::RSAPSK: {
            // RFC 4279 2: the identity hint.
            const auto hint = r.vector16();
            r.end();
            pskIdentityHint_.assign(hint.begin(), hint.end());
            break;
        }
        case SSLKeyExchange::SRP: {
            // RFC 5054 2.7: N, g, s, B, and for the suites with a certificate a signature.
            const auto n = r.vector16(), g = r.vector16(), s = r.vector8(), b = r.vector16();
            (void)n, (void)g, (void)s, (void)b;
            const std::span<const uint8_t> params(body, length - r.remaining());
            if (suite_.Signature != SSLSignature::None) {
                VerifyParamsSignature(params, r);
            } else {
                r.end();
            }
            srpKey_ = std::make_unique<TElSRPKeyMaterial>(PublicKeyProvider());
            if (!srpKey_->LoadServerParams(params.data(), params.size()))
                RefuseWithCode(SSLAlertSRPParameters, SSL_ERROR_BAD_SRP_PARAMETERS, "SRP parameters cannot be read");
            break;
        }
        default: Refuse(SSLAlertUnexpectedMessage, "ServerKeyExchange for this key exchange");
    }
    statusAllowed_ = false;
    ExpectServerFlight();
}

void TElSecureClient::VerifyParamsSignature(std::span<const uint8_t> params, MessageReader& r) {
    // The key that signs: the certificate's RSA key for an export suite's temporary key
    // (RFC 2246 7.4.3), else the one the suite names.
    const SSLSignature kind = suite_.KeyExchange == SSLKeyExchange::RSA ? SSLSignature::RSA : suite_.Signature;
    int32_t hash = 0;
    if (currentVersion_ >= sbTLS12) {
        // RFC 5246 7.4.3: a pair the client offered, for the key the suite signs with.
        const uint8_t hashCode = r.u8(), signatureCode = r.u8();
        hash = HashOfCode(hashCode);
        const uint8_t expectedSignature = kind == SSLSignature::RSA ? 1 : 2;
        if (hash == 0 || signatureCode != expectedSignature)
            Refuse(SSLAlertIllegalParameter, "Signature algorithm not offered");
    }
    const auto signature = r.vector16();
    r.end();
    const std::span<const uint8_t> cr(clientRandom_), sr(serverRandom_);
    int32_t verdict = -1;
    try {
        if (kind == SSLSignature::RSA && serverRSAKey_) {
            TElRSAPublicKeyCrypto rsa(PublicKeyProvider());
            rsa.SetKeyMaterial(serverRSAKey_.get());
            rsa.SetInputIsHash(true);
            ByteArray digest;
            if (hash != 0) {
                rsa.SetScheme(SB_RSA_CRYPTO_SCHEME_PKCS1);
                rsa.SetUseAlgorithmPrefix(true);
                rsa.SetHashAlgorithm(hash);
                digest = Digest(hash, {cr, sr, params});
            } else {
                // RFC 2246 7.4.3 and RFC 6101 5.6.3: MD5 and SHA-1 under the bare PKCS#1 block.
                rsa.SetScheme(SB_RSA_CRYPTO_SCHEME_SSL);
                digest = Digest(SB_ALG_SSL_HASH, {cr, sr, params});
            }
            verdict = rsa.VerifyDetached(digest.data(), digest.size(), signature.data(), signature.size());
        } else if (kind == SSLSignature::DSS && serverDSAKey_) {
            TElDSAPublicKeyCrypto dsa(PublicKeyProvider());
            dsa.SetKeyMaterial(serverDSAKey_.get());
            dsa.SetInputIsHash(true);
            const ByteArray digest = Digest(hash != 0 ? hash : SB_ALG_SHA1, {cr, sr, params});
            verdict = dsa.VerifyDetached(digest.data(), digest.size(), signature.data(), signature.size());
        }
    } catch (const ECryptoLibraryError&) {
        verdict = -1;
    }
    if (verdict != 0) Refuse(SSLAlertHandshakeFailure, "Server key exchange signature does not verify");
}

// ---------------------------------------------------------------------------------------------
// ClientKeyExchange

void TElSecureClient::DoKeyNeeded(const std::string& hint, std::string& identity, ByteArray& key) {
    identity.clear();
    key.clear();
    if (OnKeyNeeded) OnKeyNeeded(this, hint, identity, key);
}

ByteArray TElSecureClient::EncryptWithServerKey(std::span<const uint8_t> data) {
    if (!serverRSAKey_) Refuse(SSLAlertHandshakeFailure, "No server RSA key");
    try {
        TElRSAPublicKeyCrypto rsa(PublicKeyProvider());
        rsa.SetKeyMaterial(serverRSAKey_.get());
        size_t size = 0;
        rsa.Encrypt(data.data(), data.size(), nullptr, size);
        ByteArray out(size);
        rsa.Encrypt(data.data(), data.size(), out.data(), size);
        out.resize(size);
        return out;
    } catch (const ECryptoLibraryError&) {
        Refuse(SSLAlertHandshakeFailure, "Encryption with the server's key failed");
    }
}

void TElSecureClient::AgreeDH(ByteArray& publicValue, rtl::SecureBytes& shared) {
    if (!serverDHKey_) Refuse(SSLAlertHandshakeFailure, "No Diffie-Hellman parameters");
    rtl::SecureBytes exponent(48);
    GenerateRandomBytes(exponent.data(), exponent.size());
    exponent[0] |= 0x80;
    try {
        TElDHPublicKeyCrypto dh(PublicKeyProvider());
        dh.SetKeyMaterial(serverDHKey_.get());
        dh.SetExchangeFlag(true);
        size_t size = 0;
        dh.Encrypt(exponent.data(), exponent.size(), nullptr, size);
        publicValue.resize(size);
        dh.Encrypt(exponent.data(), exponent.size(), publicValue.data(), size);
        publicValue.resize(size);
        size = 0;
        dh.Decrypt(exponent.data(), exponent.size(), nullptr, size);
        rtl::SecureBytes z(size);
        dh.Decrypt(exponent.data(), exponent.size(), z.data(), size);
        z.resize(size);
        // RFC 5246 8.1.2: the shared value without its leading zero bytes.
        const auto trimmed = Trimmed(z);
        shared.assign(trimmed.begin(), trimmed.end());
    } catch (const ECryptoLibraryError&) {
        Refuse(SSLAlertHandshakeFailure, "Diffie-Hellman agreement failed");
    }
}

void TElSecureClient::SendClientKeyExchange() {
    ByteArray body;
    auto psk = [&](std::string& identity, ByteArray& key) {
        DoKeyNeeded(pskIdentityHint_, identity, key);
        if (key.empty()) Refuse(SSLAlertHandshakeFailure, "No pre-shared key");
        if (identity.size() > 0xFFFF || key.size() > 0xFFFF) Refuse(SSLAlertInternalError, "PSK too long");
    };
    // RFC 4279: premaster = the other secret and the key, each with its 2-byte length.
    auto pskPremaster = [&](std::span<const uint8_t> other, ByteArray& key) {
        PutU16(premaster_, other.size());
        premaster_.insert(premaster_.end(), other.begin(), other.end());
        PutU16(premaster_, key.size());
        premaster_.insert(premaster_.end(), key.begin(), key.end());
        rtl::secure_wipe(key.data(), key.size());
    };
    auto rsaPremaster = [&]() {
        // RFC 5246 7.4.7.1: the version our hello offered, then 46 random bytes.
        rtl::SecureBytes pm(48);
        GenerateRandomBytes(pm.data(), pm.size());
        pm[0] = 3;
        pm[1] = uint8_t(helloVersion_ - 1);
        return pm;
    };
    premaster_.clear();
    switch (suite_.KeyExchange) {
        case SSLKeyExchange::RSA: {
            premaster_ = rsaPremaster();
            const ByteArray encrypted = EncryptWithServerKey(premaster_);
            if (currentVersion_ == sbSSL3)
                body = encrypted;  // RFC 6101 5.6.7.1: no length before the block
            else
                PutVector16(body, encrypted);
            break;
        }
        case SSLKeyExchange::DH:
        case SSLKeyExchange::DHE:
        case SSLKeyExchange::DHAnon: {
            ByteArray yc;
            AgreeDH(yc, premaster_);
            PutVector16(body, yc);
            break;
        }
        case SSLKeyExchange::PSK: {
            // RFC 4279 2: the other secret is N zero bytes for the N key bytes.
            std::string identity;
            ByteArray key;
            psk(identity, key);
            pskPremaster(ByteArray(key.size(), 0), key);
            PutVector16(body, Bytes(identity));
            break;
        }
        case SSLKeyExchange::DHEPSK: {
            // RFC 4279 3: the other secret is the DH value.
            std::string identity;
            ByteArray key;
            psk(identity, key);
            ByteArray yc;
            rtl::SecureBytes z;
            AgreeDH(yc, z);
            pskPremaster(z, key);
            PutVector16(body, Bytes(identity));
            PutVector16(body, yc);
            break;
        }
        case SSLKeyExchange::RSAPSK: {
            // RFC 4279 4: the other secret is the 48-byte block sent encrypted.
            std::string identity;
            ByteArray key;
            psk(identity, key);
            const rtl::SecureBytes pm = rsaPremaster();
            const ByteArray encrypted = EncryptWithServerKey(pm);
            pskPremaster(pm, key);
            PutVector16(body, Bytes(identity));
            PutVector16(body, encrypted);
            break;
        }
        case SSLKeyExchange::SRP: {
            // RFC 5054 2.6.
            if (!srpKey_) Refuse(SSLAlertHandshakeFailure, "No SRP parameters");
            ByteArray a;
            try {
                TElSRPPublicKeyCrypto srp(PublicKeyProvider());
                srp.SetKeyMaterial(srpKey_.get());
                srp.ComputeClientKeys(srpUsername_, SRPPassword, a);
                const ByteArray s = srpKey_->GetSharedSecret();
                premaster_.assign(s.begin(), s.end());
            } catch (const ECryptoLibraryError&) {
                RefuseWithCode(SSLAlertSRPParameters, SSL_ERROR_BAD_SRP_PARAMETERS, "SRP parameters refused");
            }
            PutVector16(body, a);
            break;
        }
        case SSLKeyExchange::None: return;
    }
    SendHandshakeMessage(sbtls::ClientKeyExchange, body);
}


// ---------------------------------------------------------------------------------------------
// The client's certificate

void TElSecureClient::ChooseClientCertificate() {
    // One source, the first that applies: ClientCertStorage's first chain, the certificates
    // OnCertificateNeededEx hands over, or a certificate and key from OnCertificateNeeded's
    // buffers. A certificate without its private key cannot sign the CertificateVerify: the
    // server then gets an empty list.
    clientChain_->Clear();
    if (clientCertStorage_ != nullptr && clientCertStorage_->GetCount() > 0) {
        if (clientCertStorage_->GetChainCount() > 0)
            if (const auto chain = clientCertStorage_->BuildChain(0))
                for (int32_t i = 0; i < chain->GetCount(); ++i) clientChain_->Add(chain->GetCertificate(i), true);
    } else if (OnCertificateNeededEx) {
        // The handler returns one certificate per call, null at the end; one that belongs to a
        // chain brings the whole chain. A chain longer than any real one ends the collection.
        for (int32_t n = 0; n < TElCustomCertStorage::MaxPathLength; ++n) {
            TElX509Certificate* certificate = nullptr;
            OnCertificateNeededEx(this, certificate);
            if (certificate == nullptr) break;
            if (TElX509CertificateChain* chain = certificate->GetChain()) {
                for (int32_t i = 0; i < chain->GetCount(); ++i) clientChain_->Add(chain->GetCertificate(i), true);
                break;
            }
            clientChain_->Add(certificate, true);
        }
    } else {
        LoadClientCertificateFromBuffers();
        return;
    }
    if (clientChain_->GetCount() > 0 && !clientChain_->GetCertificate(0)->GetPrivateKeyExists()) clientChain_->Clear();
}

void TElSecureClient::LoadClientCertificateFromBuffers() {
    if (!OnCertificateNeeded) return;
    constexpr int32_t Room = 4096;
    std::vector<uint8_t> certificate(Room);
    rtl::SecureBytes key(Room);
    int32_t certificateSize = Room, keySize = Room;
    TClientCertificateType type = ccRSA;
    if (!requestedTypes_.empty()) {
        switch (requestedTypes_.back()) {
            case 2: type = ccDSS; break;
            case 3: type = ccRSADH; break;
            case 4: type = ccDSSDH; break;
            default: type = ccRSA; break;
        }
    }
    OnCertificateNeeded(this, certificate.data(), certificateSize, key.data(), keySize, type);
    if (certificateSize <= 0) return;
    if (keySize <= 0 || certificateSize > Room || keySize > Room)
        Refuse(SSLAlertBadCertificate, "Client certificate without its key");
    TElX509Certificate loaded;
    loaded.CryptoProvider = PublicKeyProvider();
    try {
        loaded.LoadFromBuffer(certificate.data(), size_t(certificateSize));
        loaded.LoadKeyFromBuffer(key.data(), size_t(keySize));
    } catch (const rtl::Exception&) {
        Refuse(SSLAlertBadCertificate, "Client certificate or key cannot be read");
    }
    if (!loaded.GetPrivateKeyExists()) Refuse(SSLAlertBadCertificate, "Client certificate without its key");
    clientChain_->Add(&loaded, true);
}

TElPublicKeyMaterial* TElSecureClient::ClientKey() const {
    if (sendCertificateURL_) return extensions_->ClientCertURLs.GetURL(0).KeyMaterial;
    return clientChain_->GetCount() > 0 ? clientChain_->GetCertificate(0)->GetKeyMaterial() : nullptr;
}

void TElSecureClient::SendClientCertificate() {
    // RFC 5246 7.4.6: the chain, or an empty list when there is none.
    ByteArray list;
    for (int32_t i = 0; i < clientChain_->GetCount(); ++i) {
        const TElX509Certificate* c = clientChain_->GetCertificate(i);
        PutU24(list, c->GetCertificateSize());
        list.insert(list.end(), c->GetCertificateBinary(), c->GetCertificateBinary() + c->GetCertificateSize());
    }
    ByteArray body;
    PutU24(body, list.size());
    body.insert(body.end(), list.begin(), list.end());
    SendHandshakeMessage(sbtls::Certificate, body);
}

void TElSecureClient::SendClientCertificateURL() {
    // RFC 6066 5: the chain type, then url_and_hash_list<1..2^16-1> of URLAndHash entries:
    // url<1..2^16-1>, then 1 and the SHA-1 hash of what the URL names, or 0 without a hash (the
    // form RFC 4366 gave). Every length is checked against its field before the message is
    // built, so a list that cannot be written allocates nothing.
    TElClientCertURLsSSLExtension& urls = extensions_->ClientCertURLs;
    if (urls.ChainType > 1) Refuse(SSLAlertInternalError, "Unknown certificate chain type");
    size_t listLength = 0;
    for (int32_t i = 0; i < urls.GetCount(); ++i) {
        const TElSSLCertURL& u = urls.GetURL(i);
        if (u.URL.empty() || u.URL.size() > 0xFFFF)
            Refuse(SSLAlertInternalError, "Certificate URL does not fit its field");
        listLength += 2 + u.URL.size() + (u.Hash.size() == 20 ? 21 : 1);
        if (listLength > 0xFFFF) Refuse(SSLAlertInternalError, "Certificate URL list does not fit its field");
    }
    ByteArray body;
    body.reserve(3 + listLength);
    body.push_back(urls.ChainType);
    PutU16(body, listLength);
    for (int32_t i = 0; i < urls.GetCount(); ++i) {
        const TElSSLCertURL& u = urls.GetURL(i);
        PutU16(body, u.URL.size());
        body.insert(body.end(), u.URL.begin(), u.URL.end());
        if (u.Hash.size() == 20) {
            body.push_back(1);
            PutBytes(body, u.Hash);
        } else {
            body.push_back(0);
        }
    }
    SendHandshakeMessage(sbtls::CertificateURL, body);
}

ByteArray TElSecureClient::SignWithClientKey(int32_t hashAlgorithm, std::span<const uint8_t> digest) {
    TElPublicKeyMaterial* key = ClientKey();
    auto* rsaKey = dynamic_cast<TElRSAKeyMaterial*>(key);
    auto* dsaKey = dynamic_cast<TElDSAKeyMaterial*>(key);
    ByteArray signature;
    try {
        size_t size = 0;
        if (rsaKey != nullptr) {
            TElRSAPublicKeyCrypto rsa(PublicKeyProvider());
            rsa.SetKeyMaterial(rsaKey);
            rsa.SetInputIsHash(true);
            if (hashAlgorithm == SB_ALG_SSL_HASH) {
                rsa.SetScheme(SB_RSA_CRYPTO_SCHEME_SSL);
            } else {
                rsa.SetUseAlgorithmPrefix(true);
                rsa.SetHashAlgorithm(hashAlgorithm);
            }
            rsa.SignDetached(digest.data(), digest.size(), nullptr, size);
            signature.resize(size);
            rsa.SignDetached(digest.data(), digest.size(), signature.data(), size);
        } else if (dsaKey != nullptr) {
            TElDSAPublicKeyCrypto dsa(PublicKeyProvider());
            dsa.SetKeyMaterial(dsaKey);
            dsa.SetInputIsHash(true);
            dsa.SignDetached(digest.data(), digest.size(), nullptr, size);
            signature.resize(size);
            dsa.SignDetached(digest.data(), digest.size(), signature.data(), size);
        } else {
            Refuse(SSLAlertInternalError, "No client key to sign with");
        }
        signature.resize(size);
    } catch (const ECryptoLibraryError&) {
        Refuse(SSLAlertInternalError, "The client's key cannot sign");
    }
    if (signature.empty()) Refuse(SSLAlertInternalError, "The client's key cannot sign");
    return signature;
}

uint8_t TElSecureClient::ClientVerifyHash() const {
    // RFC 5246 7.4.8: one of the server's pairs for our key, SHA-256 first.
    const uint8_t signatureCode = dynamic_cast<TElDSAKeyMaterial*>(ClientKey()) != nullptr ? 2 : 1;
    for (uint8_t hash : {4, 5, 6, 2, 3})
        for (size_t i = 0; i + 1 < requestedSignatures_.size(); i += 2)
            if (requestedSignatures_[i] == hash && requestedSignatures_[i + 1] == signatureCode) return hash;
    return 0;
}

bool TElSecureClient::ServerTakesClientKey() const {
    TElPublicKeyMaterial* key = ClientKey();
    const uint8_t type = dynamic_cast<TElRSAKeyMaterial*>(key) != nullptr   ? 1
                         : dynamic_cast<TElDSAKeyMaterial*>(key) != nullptr ? 2
                                                                             : 0;
    const bool listed =
        type != 0 && std::find(requestedTypes_.begin(), requestedTypes_.end(), type) != requestedTypes_.end();
    return listed && (currentVersion_ < sbTLS12 || ClientVerifyHash() != 0);
}

void TElSecureClient::KeepClientChainTheServerTakes() {
    // RFC 5246 7.4.6: a certificate whose key the request does not name (its certificate types,
    // and in TLS 1.2 its signature pairs) is not sent: the server gets an empty list and
    // decides, instead of a CertificateVerify it cannot take.
    if (clientChain_->GetCount() > 0 && !ServerTakesClientKey()) clientChain_->Clear();
}

bool TElSecureClient::CertificateURLAgreed() const {
    return extensions_->ClientCertURLs.Enabled && peerExtensions_->ClientCertURLs.Enabled;
}

void TElSecureClient::ChooseCertificateURL() {
    // The URLs stand for the chain, so no other source is asked. Without a URL there is nothing
    // to send in their place (the list holds at least one, RFC 6066 5): the chain comes from
    // the usual sources. A first URL whose key cannot sign what the server takes gets the
    // server an empty Certificate, as a chain without its key does.
    clientChain_->Clear();
    sendCertificateURL_ = CertificateURLAgreed() && extensions_->ClientCertURLs.GetCount() > 0;
    if (!sendCertificateURL_) {
        ChooseClientCertificate();
        KeepClientChainTheServerTakes();
        return;
    }
    const TElPublicKeyMaterial* key = ClientKey();
    if (key == nullptr || !key->GetSecretKey() || !ServerTakesClientKey()) sendCertificateURL_ = false;
}

void TElSecureClient::SendCertificateVerify() {
    const bool dsa = dynamic_cast<TElDSAKeyMaterial*>(ClientKey()) != nullptr;
    ByteArray body;
    if (currentVersion_ >= sbTLS12) {
        const uint8_t signatureCode = dsa ? 2 : 1;
        const uint8_t chosen = ClientVerifyHash();
        if (chosen == 0) Refuse(SSLAlertHandshakeFailure, "No signature algorithm the server takes");
        const int32_t hash = HashOfCode(chosen);
        const ByteArray signature = SignWithClientKey(hash, TranscriptHash(hash));
        body = {chosen, signatureCode};
        PutVector16(body, signature);
    } else {
        // RFC 6101 5.6.8 for SSL 3.0.
        const ByteArray hashes =
            currentVersion_ == sbSSL3 ? ComputeSSL3Hashes(nullptr) : TranscriptHash(SB_ALG_SSL_HASH);
        const ByteArray signature = dsa ? SignWithClientKey(SB_ALG_SHA1, std::span<const uint8_t>(hashes).subspan(16))
                                        : SignWithClientKey(SB_ALG_SSL_HASH, hashes);
        PutVector16(body, signature);
    }
    SendHandshakeMessage(sbtls::CertificateVerify, body);
}
