// pki/SBCustomCertStorage.h: certificate storages, their lookups, chains and the validation
// of a certificate against what they hold.
//
// A storage holds certificates it trusts (roots and intermediates the application gave it)
// and an optional revocation list. TElMemoryCertStorage keeps owned copies in memory; the TLS
// engine and its clients hand it around for received, offered and trusted certificates.
// TElCertificateLookup describes which certificates to find and walks a storage to the next
// one that fits.
//
// What must stay true:
// - the contents are guarded by the storage's TElSharedResource: Add, Remove, Clear and
//   SetCRL write, every reader (count, certificate, index, list, walk, validation) reads; the
//   chain index has a lock of its own, so readers that rebuild it at once do not race;
// - a certificate handed out by GetCertificate belongs to the storage and lives until it is
//   removed;
// - Validate collects the faults of every certificate of the path (a status per certificate,
//   ValidatePath) instead of stopping at the first, and trusts a certificate only through a
//   path of checked signatures that ends at a stored certificate.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "crypto/base/SBRDN.h"
#include "crypto/base/SBSharedResource.h"
#include "pki/SBCRL.h"
#include "pki/SBX509.h"
#include "pki/SBX509Ext.h"
#include "rtl/Stream.h"
#include "rtl/StringList.h"

class TElCustomCertStorage;

// ---------------------------------------------------------------------------------------------
// Lookup

using TSBLookupCriteria = uint16_t;
inline constexpr TSBLookupCriteria lcIssuer = 1u << 0;
inline constexpr TSBLookupCriteria lcSubject = 1u << 1;
inline constexpr TSBLookupCriteria lcValidity = 1u << 2;
inline constexpr TSBLookupCriteria lcPublicKeyAlgorithm = 1u << 3;
inline constexpr TSBLookupCriteria lcSignatureAlgorithm = 1u << 4;
inline constexpr TSBLookupCriteria lcPublicKeySize = 1u << 5;
inline constexpr TSBLookupCriteria lcAuthorityKeyIdentifier = 1u << 6;
inline constexpr TSBLookupCriteria lcSubjectKeyIdentifier = 1u << 7;
inline constexpr TSBLookupCriteria lcKeyUsage = 1u << 8;
inline constexpr TSBLookupCriteria lcEmail = 1u << 9;
inline constexpr TSBLookupCriteria lcSerialNumber = 1u << 10;
inline constexpr TSBLookupCriteria lcPublicKeyHash = 1u << 11;
inline constexpr TSBLookupCriteria lcCertificateHash = 1u << 12;

using TSBLookupOptions = uint8_t;
inline constexpr TSBLookupOptions loExactMatch = 1u << 0;
inline constexpr TSBLookupOptions loMatchAll = 1u << 1;

using TSBDateLookupOptions = uint8_t;
inline constexpr TSBDateLookupOptions dloBefore = 1u << 0;
inline constexpr TSBDateLookupOptions dloAfter = 1u << 1;
inline constexpr TSBDateLookupOptions dloBetween = 1u << 2;

enum TSBKeySizeLookupOption : uint8_t { ksloSmaller, ksloGreater, ksloBetween };

using TSBKeyUsageLookupOptions = uint8_t;
inline constexpr TSBKeyUsageLookupOptions kuloMatchAll = 1u << 0;

class TElCertificateLookup : public rtl::Component {
public:
    explicit TElCertificateLookup(rtl::Component* owner = nullptr) : rtl::Component(owner) {}

    TSBLookupCriteria GetCriteria() const { return criteria_; }
    // Also restarts the walk.
    void SetCriteria(TSBLookupCriteria criteria);
    // The next matching storage index after the last one examined, or -1 when the storage is
    // exhausted. With loMatchAll every chosen criterion must fit, without it one suffices; with
    // no criterion chosen nothing is found.
    virtual int32_t FindNext(const TElCustomCertStorage& storage);
    // Restarts the walk: the next FindNext examines index 0 first.
    void Reset() { position_ = -1; }
    // Whether one certificate fits (the test FindNext applies).
    bool Matches(const TElX509Certificate& certificate) const;

    TSBLookupOptions Options = 0;
    TElRelativeDistinguishedName IssuerRDN;
    TElRelativeDistinguishedName SubjectRDN;
    rtl::TDateTime ValidFrom = 0;
    rtl::TDateTime ValidTo = 0;
    int32_t PublicKeyAlgorithm = 0;
    int32_t SignatureAlgorithm = 0;
    int32_t PublicKeySizeMin = 0;
    int32_t PublicKeySizeMax = 0;
    ByteString AuthorityKeyIdentifier;
    ByteString SubjectKeyIdentifier;
    TSBKeyUsage KeyUsage = 0;
    rtl::StringList EmailAddresses;
    ByteString SerialNumber;  // as the certificate keeps it, padding zero included
    ByteString PublicKeyHash;
    int32_t PublicKeyHashAlgorithm = 0x7101;  // SHA-1
    ByteString CertificateHash;
    int32_t CertificateHashAlgorithm = 0;  // none
    TSBDateLookupOptions DateLookupOptions = 0;
    TSBKeySizeLookupOption KeySizeLookupOption = ksloSmaller;
    TSBKeyUsageLookupOptions KeyUsageLookupOptions = 0;

private:
    bool Fits(TSBLookupCriteria criterion, const TElX509Certificate& c) const;

    TSBLookupCriteria criteria_ = 0;
    int32_t position_ = -1;
};

// ---------------------------------------------------------------------------------------------
// Validation results

// Results of Validate.
using TSBCertificateValidity = int32_t;
inline constexpr TSBCertificateValidity cvOk = 0;
inline constexpr TSBCertificateValidity cvSelfSigned = 1;
inline constexpr TSBCertificateValidity cvInvalid = 2;

// Reasons, a set of bits.
using TSBCertificateValidityReason = uint32_t;
inline constexpr TSBCertificateValidityReason vrRevoked = 0x02;
inline constexpr TSBCertificateValidityReason vrNotYetValid = 0x04;
inline constexpr TSBCertificateValidityReason vrExpired = 0x08;
inline constexpr TSBCertificateValidityReason vrInvalidSignature = 0x10;
inline constexpr TSBCertificateValidityReason vrUnknownCA = 0x20;
// An issuer that may not issue: not a CA, no keyCertSign, a path length exceeded, a version 1
// issuer that is not stored.
inline constexpr TSBCertificateValidityReason vrCAUnauthorized = 0x40;
// A critical extension the validation does not act on, or an extension met twice.
inline constexpr TSBCertificateValidityReason vrUnsupportedExtension = 0x80;
// The assigned CRL names an issuer of the path but cannot be used: not signed by that issuer,
// not current, or with a critical extension the validation does not act on.
inline constexpr TSBCertificateValidityReason vrCRLUnusable = 0x100;

// One certificate of a validated path and what was found wrong with it.
struct TElCertificatePathStatus {
    const TElX509Certificate* Certificate = nullptr;
    TSBCertificateValidityReason Reason = 0;
    bool Stored = false;  // the trusted end of the path
};

// ---------------------------------------------------------------------------------------------
// Storages

using TSBCertStorageOptions = uint8_t;
inline constexpr TSBCertStorageOptions csoStrictChainBuilding = 1u << 0;

class TElCustomCertStorage : public TElBaseCertStorage {
public:
    explicit TElCustomCertStorage(rtl::Component* owner = nullptr);
    ~TElCustomCertStorage() override;

    virtual int32_t GetCount() const { return 0; }
    // The stored certificate (not a copy); null outside the storage.
    virtual TElX509Certificate* GetCertificate(int32_t index) const {
        (void)index;
        return nullptr;
    }
    // cvOk, cvSelfSigned or cvInvalid with the reasons of every certificate of the path (see
    // ValidatePath). A moment of exactly 0 means now, in UTC.
    virtual TSBCertificateValidity Validate(const TElX509Certificate* certificate,
                                            TSBCertificateValidityReason& reason, rtl::TDateTime validityMoment);
    // The base only marks the chain index stale.
    virtual void Add(const TElX509Certificate* certificate, bool copyPrivateKey = true);
    virtual void Remove(int32_t index);
    // Add (certificate, true) on storage for every certificate, in order.
    virtual void ExportTo(TElCustomCertStorage& storage) const;
    // The first certificate with the same DER, -1 when none.
    virtual int32_t IndexOf(const TElX509Certificate* certificate) const;
    virtual void Clear();
    // The first stored certificate that issued certificate (IsIssuerOf) and is not the
    // certificate itself; -1 when none.
    virtual int32_t FindIssuer(const TElX509Certificate* certificate) const;
    // Add (certificate, true) for every certificate of the chain, in order.
    virtual void ImportFrom(const TElX509CertificateChain& chain);

    // Candidate's subject names certificate's issuer: the same entries both ways, values
    // compared without regard to letter case, tags ignored; with csoStrictChainBuilding and
    // both key identifiers present, they are equal too.
    bool IsIssuerOf(const TElX509Certificate& certificate, const TElX509Certificate& candidate) const;

    int32_t GetChainCount() const;
    // The storage index of chain n's end-entity certificate, -1 outside.
    int32_t GetChainHead(int32_t n) const;
    // A new chain: head n, then its issuers found in the storage, to the top (a certificate
    // without a stored issuer, or a self-issued one); null outside. The caller owns it.
    std::unique_ptr<TElX509CertificateChain> BuildChain(int32_t n) const;

    int32_t FindFirst(TElCertificateLookup& lookup) const;
    int32_t FindNext(TElCertificateLookup& lookup) const;

    // PKCS#12 exchange (pki/SBCustomCertStorage_pfx.cpp). ImportFromPFX adds every certificate
    // of the PFX with its private key and answers the PKCS#12 result code; a failed load
    // leaves the storage as it was. ExportToPFX writes a PFX of copies of every certificate
    // (private keys included) under the given PBE codes (pki/SBPKCS12.h) and 2048 iterations;
    // size is the room on entry and the size needed on return (a null buffer asks for it).
    int32_t ImportFromPFX(const void* buffer, size_t size, std::string_view password);
    int32_t ExportToPFX(void* buffer, size_t& size, int32_t keyAlgorithm, int32_t certificateAlgorithm,
                        std::string_view password) const;

    // The storage as a stored component property: "BinaryCertificates" is a 4-byte
    // little-endian size and a PFX of that size (RC4 for keys and certificates), stored only
    // while the storage holds a certificate; "Certificates", the older name, is read with its
    // size as an integer value of the component stream (a type byte 2, 3 or 4 and a 1, 2 or
    // 4-byte little-endian value). A size of 0 or less read clears the storage. The PFX of
    // this form is under StreamPassword, twelve letters fixed in the program for writing and
    // reading alike: anyone with the program has them, so this form protects no key, and a
    // storage whose private keys matter is not streamed this way.
    static constexpr std::string_view StreamPassword = "kwStoragePFX";
    bool StoresBinaryCertificates() const { return GetCount() > 0; }
    void WriteBinaryCertificates(rtl::Stream& stream) const;
    void ReadBinaryCertificates(rtl::Stream& stream);
    void ReadCertificates(rtl::Stream& stream);

    // The validation, with a status per certificate of the path it decided on, from
    // certificate up to the stored one that ends it (RFC 5280 6.1 in this system's terms):
    // - trust: stored certificates are trusted; untrusted intermediates come from the
    //   certificate's own chain. The path goes up over every candidate whose subject is the
    //   issuer's name exactly (the same attributes in the same order and RDNs: a name's
    //   reordering is another name), no certificate twice, each signature checked, until a stored
    //   certificate signs the last link; a stored certificate validated itself is trusted as
    //   it is. No such path: the certificate alone, with vrUnknownCA (or vrInvalidSignature
    //   when issuers by name were found but none signed it).
    // - every certificate of the path: valid at the moment, inner and outer signature
    //   algorithms equal, each extension once, no critical extension but basic constraints,
    //   key usage, extended key usage, key identifiers, alternative names, certificate
    //   policies, CRL distribution points and authority information access;
    // - every issuer: a CA by its basic constraints (a version 1 issuer only when stored),
    //   keyCertSign when it has a key usage, path lengths by RFC 5280 6.1.4;
    // - the CRL, when assigned, for every certificate whose issuer it names: usable only when
    //   signed by a certificate of that issuer's name, of the path above the certificate or
    //   stored (cRLSign when it has a key usage), current at the moment, and
    //   without a critical extension it does not act on (vrCRLUnusable otherwise); then an
    //   entry for the certificate is vrRevoked.
    // The result is cvSelfSigned for a stored self-signed certificate with a good signature
    // and no fault, cvOk for any other path without fault, cvInvalid otherwise.
    TSBCertificateValidity ValidatePath(const TElX509Certificate& certificate, rtl::TDateTime validityMoment,
                                        std::vector<TElCertificatePathStatus>& path,
                                        TSBCertificateValidityReason& reason) const;

    // The revocation list is read and set under the storage's lock (set as a writer).
    TElCertificateRevocationList* GetCRL() const;
    void SetCRL(TElCertificateRevocationList* crl);
    TSBCertStorageOptions Options = csoStrictChainBuilding;

    // The longest chain built or path validated: far more than any real hierarchy, and a bound
    // on the work a storage full of hostile look-alike certificates can cause.
    static constexpr int32_t MaxPathLength = 32;

protected:
    void Notification(rtl::Component* component, Operation operation) override;
    void MarkStale();
    void ReadLock() const { lock_.AcquireRead(); }
    void WriteLock() const { lock_.AcquireWrite(); }
    void Unlock() const { lock_.Release(); }
    // FindIssuer without taking the lock (the caller holds it).
    int32_t FindIssuerLocked(const TElX509Certificate& certificate) const;

private:
    void RebuildChainIndex() const;

    friend class TElCertificateLookup;

    mutable TElSharedResource lock_;
    // Taken before lock_, never after it: a rebuild reads the contents while holding it.
    mutable std::mutex chainIndexLock_;
    mutable std::atomic<bool> stale_{true};
    mutable std::vector<int32_t> chainHeads_;
    TElCertificateRevocationList* crl_ = nullptr;
};

class TElMemoryCertStorage : public TElCustomCertStorage {
public:
    explicit TElMemoryCertStorage(rtl::Component* owner = nullptr);
    ~TElMemoryCertStorage() override;

    int32_t GetCount() const override;
    TElX509Certificate* GetCertificate(int32_t index) const override;
    // A copy of certificate (its private key only with copyPrivateKey) is appended.
    void Add(const TElX509Certificate* certificate, bool copyPrivateKey = true) override;
    void Remove(int32_t index) override;

private:
    std::vector<std::unique_ptr<TElX509Certificate>> certificates_;
};
