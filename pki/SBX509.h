// pki/SBX509.h: TElX509Certificate, one X.509 certificate (RFC 5280 4.1), and the chain of
// certificate copies a TLS peer or a storage hands around.
//
// A certificate keeps the DER exactly as loaded, the parsed to-be-signed part, the issuer and
// subject names, the extensions (pki/SBX509Ext.h) and the subject public key's parameters.
// Signatures are checked over exactly the tbsCertificate bytes of the DER. The system only
// reads certificates: nothing here builds or signs one.
//
// What must stay true:
// - a load either fills the certificate from the whole input or raises EElCertificateException
//   ("Invalid certificate data", "Invalid algorithm identifier"); any size loads, the DER is
//   kept whole, and a load of malformed data leaves what the parse filled before the error;
// - GetCertificateBinary / GetCertificateSize are the DER; the TBS offset and size lie inside it;
// - the serial number is the INTEGER's content with a zero byte put in front when its first
//   byte has the top bit set (SerialPadded tells); GetSerialNumberAsEncoded gives the bytes as
//   they stand in the DER, which is what revocation lists compare;
// - a certificate whose inner and outer signature algorithms differ (RFC 5280 4.1.1.2) has no
//   valid signature.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/base/SBRDN.h"
#include "crypto/base/SBUtils.h"
#include "pki/SBX509Ext.h"
#include "rtl/Component.h"
#include "rtl/DateTime.h"

class TElASN1ConstrainedTag;
class TElASN1CustomTag;
class TElCustomCryptoProvider;
class TElPublicKeyMaterial;
class TElX509CertificateChain;

inline constexpr const char* SInvalidCertificateData = "Invalid certificate data";
inline constexpr const char* SInvalidAlgorithmIdentifier = "Invalid algorithm identifier";
inline constexpr const char* SCertificateAlgorithmMismatch = "Certificate algorithm mismatch";

// ---------------------------------------------------------------------------------------------
// Algorithm parameters

class TElEncryptionParameters {
public:
    virtual ~TElEncryptionParameters() = default;
    TElEncryptionParameters() = default;
    TElEncryptionParameters(const TElEncryptionParameters&) = delete;
    TElEncryptionParameters& operator=(const TElEncryptionParameters&) = delete;

    // Reads the subjectPublicKey DER; raises EElCertificateException "Invalid certificate
    // data" for what does not fit the algorithm (and always in the base).
    virtual void LoadPublicKey(const TElASN1ConstrainedTag& tag);
    // Copies the algorithm and, from a source of the same class or a descendant, the values.
    virtual void Assign(const TElEncryptionParameters& source);
    // A new object of the same class holding the same values.
    virtual std::unique_ptr<TElEncryptionParameters> Clone() const;

    int32_t Algorithm = 0;  // CertAlgorithmId
};

class TElRSAEncryptionParameters : public TElEncryptionParameters {
public:
    // Exactly one SEQUENCE of exactly two INTEGERs: modulus, public exponent (their contents).
    void LoadPublicKey(const TElASN1ConstrainedTag& tag) override;
    void Assign(const TElEncryptionParameters& source) override;
    std::unique_ptr<TElEncryptionParameters> Clone() const override;

    ByteString PublicExponent;
    ByteString PrivateExponent;
    ByteString Modulus;
};

// RSASSA-PSS-params (RFC 4055 3.1); the defaults are SHA-1, MGF1 with SHA-1, 20, 1.
class TElRSAPSSSignParameters final : public TElRSAEncryptionParameters {
public:
    void Assign(const TElEncryptionParameters& source) override;
    std::unique_ptr<TElEncryptionParameters> Clone() const override;

    int32_t SaltSize = 20;
    int32_t HashAlgorithm = 0x7101;
    int32_t TrailerField = 1;
    int32_t MGF = 0x201;
    int32_t MGFHashAlgorithm = 0x7101;
};

// RSAES-OAEP-params (RFC 4055 4.1); the defaults are SHA-1, an empty label, MGF1 with SHA-1.
class TElRSAOAEPEncryptionParameters final : public TElRSAEncryptionParameters {
public:
    void Assign(const TElEncryptionParameters& source) override;
    std::unique_ptr<TElEncryptionParameters> Clone() const override;

    int32_t HashAlgorithm = 0x7101;
    ByteString StrLabel;
    int32_t MGFHashAlgorithm = 0x7101;
    int32_t MGF = 0x201;
};

class TElDSAEncryptionParameters final : public TElEncryptionParameters {
public:
    // Exactly one INTEGER: y.
    void LoadPublicKey(const TElASN1ConstrainedTag& tag) override;
    void Assign(const TElEncryptionParameters& source) override;
    std::unique_ptr<TElEncryptionParameters> Clone() const override;

    ByteString P, Q, G, Y, X;
};

class TElDHEncryptionParameters final : public TElEncryptionParameters {
public:
    // Exactly one INTEGER: y.
    void LoadPublicKey(const TElASN1ConstrainedTag& tag) override;
    void Assign(const TElEncryptionParameters& source) override;
    std::unique_ptr<TElEncryptionParameters> Clone() const override;

    ByteString P, Q, G, Y, X;
};

// The algorithm-identifier rule of certificates and CRLs: the OID is mapped by the key
// algorithm table, then the signature algorithm table; known algorithms must carry the
// parameters their RFC gives (else EElCertificateException "Invalid algorithm identifier") and
// give a parameters object of their class; an unknown OID gives null. oid and params, when
// given, receive the OID's content and the parameters' DER (empty when absent).
std::unique_ptr<TElEncryptionParameters> LoadAlgorithmParameters(const TElASN1CustomTag& tag,
                                                                  ByteString* oid = nullptr,
                                                                  ByteString* params = nullptr);

// A UTCTime or GeneralizedTime element, read when its whole text is a time of its type
// (RFC 5280 4.1.2.5); false for anything else.
bool ReadCertificateTime(const TElASN1CustomTag* tag, rtl::TDateTime& value);

// The bytes a certificate or CRL loader parses: bare Base64 text (8-bit, or UTF-16LE with
// every high byte zero) decoded, anything else as it is. False when text that looks like
// Base64 does not decode. PEM armour is not Base64 text here.
bool DecodeCertificateData(const void* buffer, size_t size, ByteString& der);

// ---------------------------------------------------------------------------------------------
// The to-be-signed part

class TElSubjectPublicKeyInfo final {
public:
    void Clear();

    std::unique_ptr<TElEncryptionParameters> Parameters;  // null when the algorithm is unknown
    int32_t PublicKeyAlgorithm = 0xFFFF;                  // 0, 4, 6, 11, 12 or 0xFFFF
    ByteString RawKey;  // the whole BIT STRING content, unused-bits octet included
    ByteString AlgorithmOID;
    ByteString AlgorithmParams;  // DER, empty when absent
};

class TElTBSCertificate final {
public:
    void Clear();

    uint8_t Version = 3;  // 1, 2 or 3 after a load
    ByteString SerialNumber;
    std::unique_ptr<TElEncryptionParameters> SignatureParameters;  // null when unknown
    rtl::TDateTime ValidFrom = 0;
    rtl::TDateTime ValidTo = 0;
    TElSubjectPublicKeyInfo SubjectPublicKeyInfo;
    ByteString IssuerUniqueID;
    ByteString SubjectUniqueID;
    // The signature AlgorithmIdentifier inside the TBS part: OID and parameters' DER.
    ByteString SignatureOID;
    ByteString SignatureParams;
};

// The seven name fields kept beside each name: the last value of each type; a BMPString
// value converted to UTF-8, any other value kept as its bytes.
struct TName {
    std::string Country;           // 2.5.4.6
    std::string StateOrProvince;   // 2.5.4.8
    std::string Locality;          // 2.5.4.7
    std::string Organization;      // 2.5.4.10
    std::string OrganizationUnit;  // 2.5.4.11
    std::string CommonName;        // 2.5.4.3
    std::string EMailAddress;      // 1.2.840.113549.1.9.1
};

// ---------------------------------------------------------------------------------------------
// The certificate

class TElX509Certificate : public rtl::Component {
public:
    explicit TElX509Certificate(rtl::Component* owner = nullptr);
    ~TElX509Certificate() override;

    // Loads DER, or bare Base64 of DER (8-bit or UTF-16LE text; PEM armour is not read here).
    // Raises EElCertificateException for data that is not a certificate.
    void LoadFromBuffer(const void* buffer, size_t size);
    // Size below the DER size (or a null buffer): false with size := DER size. Otherwise the DER
    // is copied, size := DER size, true.
    bool SaveToBuffer(void* buffer, size_t& size) const;

    // Requires an RSA, RSA-PSS or RSA-OAEP key (else "Certificate algorithm mismatch"). Both
    // values copied when both sizes suffice (true); the sizes are set to the sizes needed.
    bool GetRSAParams(void* modulus, size_t& modulusSize, void* publicExponent, size_t& exponentSize) const;
    // Requires a DSA key; the same all-or-nothing rule for P, Q, G and Y.
    bool GetDSSParams(void* p, size_t& pSize, void* q, size_t& qSize, void* g, size_t& gSize, void* y,
                      size_t& ySize) const;
    // The subjectPublicKey bytes (without the unused-bits octet); size is always set.
    bool GetPublicKeyBlob(void* buffer, size_t& size) const;

    // The certificate's private key into its key material (nothing without one): the secret
    // part is cleared, then a non-empty buffer (PEM or DER, PKCS#1 or PKCS#8, or bare Base64 of
    // DER, 8-bit or UTF-16LE) is loaded; the key material's errors pass through.
    void LoadKeyFromBuffer(const void* buffer, size_t size);
    // The private key as the key material saves it; false without key material or secret part,
    // or when size is too small (size := the size needed); any failure inside gives false.
    bool SaveKeyToBuffer(void* buffer, size_t& size) const;
    // The key material holds a secret part.
    bool GetPrivateKeyExists() const;
    // The subject public key as a key material of the certificate's provider; null when the key
    // algorithm is not supported (or its key does not load).
    TElPublicKeyMaterial* GetKeyMaterial() const { return keyMaterial_.get(); }

    const ByteString& GetSerialNumber() const { return tbs_.SerialNumber; }
    // The serial as encoded in the DER (without the padding zero).
    ByteString GetSerialNumberAsEncoded() const;
    bool SerialPadded() const { return serialPadded_; }
    // MD5 of the DER (16 bytes).
    ByteString GetMD5Hash() const;
    rtl::TDateTime GetValidFrom() const { return tbs_.ValidFrom; }
    rtl::TDateTime GetValidTo() const { return tbs_.ValidTo; }
    int32_t GetPublicKeyAlgorithm() const { return tbs_.SubjectPublicKeyInfo.PublicKeyAlgorithm; }
    // The key size in bits (the modulus, or DSA / DH p), 0 without key parameters.
    int32_t GetKeyBits() const;
    const uint8_t* GetCertificateBinary() const { return reinterpret_cast<const uint8_t*>(der_.data()); }
    size_t GetCertificateSize() const { return der_.size(); }
    std::string_view GetDER() const { return der_; }
    // The tbsCertificate element's bytes: what the signature covers.
    std::string_view GetTBSBytes() const { return std::string_view(der_).substr(tbsOffset_, tbsSize_); }
    size_t GetTBSOffset() const { return tbsOffset_; }
    size_t GetTBSSize() const { return tbsSize_; }

    // Issuer equals subject (RDNsEqual); when the certificate carries an authority key
    // identifier with a key identifier and a subject key identifier, the two are equal too.
    bool IsSelfSigned() const;
    // Inner and outer signature AlgorithmIdentifiers are the same (RFC 5280 4.1.1.2).
    bool SignatureAlgorithmsMatch() const;
    // False unless IsSelfSigned; otherwise the signature checked with the certificate's own key.
    bool VerifySelfSignature() const;
    // The signature checked with issuer's key: RSA PKCS#1 v1.5 for the RSA signature
    // algorithms, PSS with the parameters of the TBS part, DSA with SHA-1. False for a null
    // issuer, an issuer key that does not fit the algorithm, an unknown algorithm, and when the
    // inner and outer algorithms differ.
    bool VerifySignedBy(const TElX509Certificate* issuer) const;

    // The copy parses the DER itself; the provider and the chain are not copied.
    void CopyTo(TElX509Certificate* target, bool copyPrivateKey) const;
    // A TElX509Certificate destination gets CopyTo with the private key.
    void AssignTo(TElX509Certificate* dest) const;

    const TElTBSCertificate& GetTBSCertificate() const { return tbs_; }
    uint8_t GetVersion() const { return tbs_.Version; }
    const TElRelativeDistinguishedName& GetIssuerRDN() const { return issuerRDN_; }
    const TElRelativeDistinguishedName& GetSubjectRDN() const { return subjectRDN_; }
    const TName& GetIssuerName() const { return issuerName_; }
    const TName& GetSubjectName() const { return subjectName_; }
    const TElCertificateExtensions& GetExtensions() const { return extensions_; }
    // CertAlgorithmId of the outer signatureAlgorithm, 0xFFFF when the algorithm is unknown.
    int32_t GetSignatureAlgorithm() const { return signatureAlgorithm_; }
    const TElEncryptionParameters* GetSignatureParameters() const { return signatureParams_.get(); }
    const ByteString& GetSignatureOID() const { return signatureOID_; }
    const ByteString& GetSignatureParams() const { return signatureParamsDER_; }
    // The signatureValue BIT STRING without its unused-bits octet.
    const ByteString& GetSignature() const { return signature_; }
    const ByteString& GetPublicKeyBytes() const { return publicKey_; }
    const TElRSAPSSSignParameters& GetPSSParams() const { return pssParams_; }
    const TElRSAOAEPEncryptionParameters& GetOAEPParams() const { return oaepParams_; }

    TElCustomCryptoProvider* CryptoProvider = nullptr;  // not owned; null: the default
    // Handed to the extension reader: a critical extension that must not be critical fails
    // the load.
    bool StrictMode = false;

    TElX509CertificateChain* GetChain() const { return chain_; }

private:
    friend class TElX509CertificateChain;
    void Clear();
    void Parse();
    void ParseTBS(const TElASN1ConstrainedTag& tbs);
    void ParseSubjectPublicKeyInfo(const TElASN1ConstrainedTag& spki);
    void ParseExtensions(const TElASN1ConstrainedTag& wrapper);
    void CreateKeyMaterial();

    TElTBSCertificate tbs_;
    std::unique_ptr<TElEncryptionParameters> signatureParams_;
    TElRSAPSSSignParameters pssParams_;
    TElRSAOAEPEncryptionParameters oaepParams_;
    ByteString signature_;
    TName issuerName_;
    TName subjectName_;
    bool serialPadded_ = false;
    ByteString der_;
    size_t tbsOffset_ = 0;
    size_t tbsSize_ = 0;
    int32_t signatureAlgorithm_ = 0xFFFF;
    ByteString signatureOID_;
    ByteString signatureParamsDER_;
    TElCertificateExtensions extensions_;
    TElRelativeDistinguishedName issuerRDN_;
    TElRelativeDistinguishedName subjectRDN_;
    ByteString publicKey_;
    std::unique_ptr<TElPublicKeyMaterial> keyMaterial_;
    TElX509CertificateChain* chain_ = nullptr;
};

// A signature checked with the signer certificate's key: algorithm is the CertAlgorithmId of
// the signature, parameters its AlgorithmIdentifier's parameters object (PSS values). False
// for a key that does not fit the algorithm, an algorithm not listed, and any failure.
bool VerifyCertificateSignature(const TElX509Certificate& signer, int32_t algorithm,
                                const TElEncryptionParameters* parameters, std::string_view data,
                                std::string_view signature);

// The base type of every certificate storage.
class TElBaseCertStorage : public rtl::Component {
public:
    explicit TElBaseCertStorage(rtl::Component* owner = nullptr) : rtl::Component(owner) {}
};

// ---------------------------------------------------------------------------------------------
// Chains

// An ordered list of certificate copies, index 0 the end-entity certificate, each further
// one the issuer of the one before it. Each copy's chain field points back here.
class TElX509CertificateChain : public rtl::Component {
public:
    explicit TElX509CertificateChain(rtl::Component* owner = nullptr);
    ~TElX509CertificateChain() override;

    // False for null, and when the chain is not empty and the last certificate's issuer is not
    // certificate's subject (RDNsEqual); otherwise a copy (private key included) is appended.
    bool Add(const TElX509Certificate* certificate);
    // Appends a copy (private key included) whatever its names; answers its index.
    int32_t AddCopy(const TElX509Certificate* certificate);
    // Null outside the chain.
    TElX509Certificate* GetCertificate(int32_t index) const;
    int32_t GetCount() const { return int32_t(certificates_.size()); }

private:
    std::vector<std::unique_ptr<TElX509Certificate>> certificates_;
};
