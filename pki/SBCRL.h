// pki/SBCRL.h: X.509 certificate revocation lists (RFC 5280 5, versions 1 and 2): the list,
// its entries, and the CRL and entry extensions.
//
// A list is read from DER (or bare Base64 of it) and keeps the DER of the whole list and of
// the signed part, so its users can check the signature; SaveToBuffer gives back what was
// loaded. IndexOf answers which entry revokes a certificate: the list's issuer must name the
// certificate's issuer (the same attributes both ways, values compared without regard to
// letter case) and an entry must carry the certificate's serial as encoded. A removeFromCRL
// entry (RFC 5280 5.3.1, meaningful only in delta lists) revokes nothing.
//
// Readers report bad input as result codes and do not raise, with one exception inherited from
// the extension rules: a critical authority key identifier that is not one SEQUENCE raises
// EElCertificateException "Unrecognized critical certificate extension".
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "crypto/base/SBRDN.h"
#include "crypto/base/SBUtils.h"
#include "pki/SBX509.h"
#include "pki/SBX509Ext.h"
#include "rtl/Component.h"
#include "rtl/DateTime.h"

class TElASN1ConstrainedTag;

inline constexpr int32_t SB_CRL_ERROR_INVALID_FORMAT = 0x2201;
inline constexpr int32_t SB_CRL_ERROR_BAD_SIGNATURE_ALGORITHM = 0x2202;
inline constexpr int32_t SB_CRL_ERROR_INVALID_VERSION = 0x2205;
inline constexpr int32_t SB_CRL_ERROR_BUFFER_TOO_SMALL = 0x220D;
inline constexpr int32_t SB_CRL_ERROR_NOTHING_LOADED = 0x220F;

inline constexpr const char* SInvalidCRL = "Invalid CRL";

// CRLReason (RFC 5280 5.3.1).
enum TSBCRLReasonCode : uint8_t {
    rcUnspecified = 0,
    rcKeyCompromise = 1,
    rcCACompromise = 2,
    rcAffiliationChanged = 3,
    rcSuperseded = 4,
    rcCessationOfOperation = 5,
    rcCertificateHold = 6,
    rcRemoveFromCRL = 8,
    rcPrivilegeWithdrawn = 9,
    rcAACompromise = 10,
};

// Every CRL extension keeps the value it was read from and gives it back; a class built from
// its fields alone writes the fields.
class TElAuthorityKeyIdentifierCRLExtension final : public TElCustomExtension {
public:
    void Clear() override;
    ByteString GetOID() const override;
    void SetOID(std::string_view) override {}
    void SetValue(std::string_view value) override;
    ByteString GetValue() const override;

    ByteString KeyIdentifier;
    TElGeneralNames AuthorityCertIssuer;
    ByteString AuthorityCertSerial;
    bool IssuerSet = false;  // write the issuer names when building the value
};

class TElCRLNumberCRLExtension final : public TElCustomExtension {
public:
    ByteString GetOID() const override;
    void SetOID(std::string_view) override {}
    // An INTEGER of up to 32 bits gives the number; anything else leaves it 0.
    void SetValue(std::string_view value) override;
    ByteString GetValue() const override;

    uint32_t Number = 0;
};

class TElDeltaCRLIndicatorCRLExtension final : public TElCustomExtension {
public:
    ByteString GetOID() const override;
    void SetOID(std::string_view) override {}
    void SetValue(std::string_view value) override;
    ByteString GetValue() const override;

    uint32_t BaseCRLNumber = 0;
};

class TElReasonCodeCRLExtension final : public TElCustomExtension {
public:
    ByteString GetOID() const override;
    void SetOID(std::string_view) override {}
    void SetValue(std::string_view value) override;
    ByteString GetValue() const override;

    uint8_t Reason = rcUnspecified;
    bool RemoveFromCRL = false;
};

class TElHoldInstructionCodeCRLExtension final : public TElCustomExtension {
public:
    ByteString GetOID() const override;
    void SetOID(std::string_view) override {}
    void SetValue(std::string_view value) override;
    ByteString GetValue() const override;

    uint8_t Code = 0;  // 0 none, 1 call issuer, 2 reject
};

class TElInvalidityDateCRLExtension final : public TElCustomExtension {
public:
    ByteString GetOID() const override;
    void SetOID(std::string_view) override {}
    void SetValue(std::string_view value) override;
    ByteString GetValue() const override;

    rtl::TDateTime InvalidityDate = 0;
};

class TElCertificateIssuerCRLExtension final : public TElCustomExtension {
public:
    ByteString GetOID() const override;
    void SetOID(std::string_view) override {}
    void SetValue(std::string_view value) override;
    ByteString GetValue() const override;

    TElGeneralNames Issuer;
};

// Included masks.
inline constexpr uint8_t crlAuthorityKeyIdentifier = 0x1;
inline constexpr uint8_t crlIssuerAlternativeName = 0x2;
inline constexpr uint8_t crlCRLNumber = 0x4;
inline constexpr uint8_t crlDeltaCRLIndicator = 0x8;
inline constexpr uint8_t crlReasonCode = 0x1;
inline constexpr uint8_t crlHoldInstructionCode = 0x2;
inline constexpr uint8_t crlInvalidityDate = 0x4;
inline constexpr uint8_t crlCertificateIssuer = 0x8;

class TElCRLExtensions final {
public:
    TElCRLExtensions();
    void Clear();

    std::unique_ptr<TElAuthorityKeyIdentifierCRLExtension> AuthorityKeyIdentifier;
    std::unique_ptr<TElAlternativeNameExtension> IssuerAlternativeName;
    std::unique_ptr<TElCRLNumberCRLExtension> CRLNumber;
    std::unique_ptr<TElDeltaCRLIndicatorCRLExtension> DeltaCRLIndicator;
    std::vector<std::unique_ptr<TElCustomExtension>> OtherExtensions;
    uint8_t Included = 0;
};

class TElCRLEntryExtensions final {
public:
    TElCRLEntryExtensions();
    void Clear();

    std::unique_ptr<TElReasonCodeCRLExtension> ReasonCode;
    std::unique_ptr<TElHoldInstructionCodeCRLExtension> HoldInstructionCode;
    std::unique_ptr<TElInvalidityDateCRLExtension> InvalidityDate;
    std::unique_ptr<TElCertificateIssuerCRLExtension> CertificateIssuer;
    std::vector<std::unique_ptr<TElCustomExtension>> OtherExtensions;
    uint8_t Included = 0;
};

class TElRevocationItem final {
public:
    ByteString SerialNumber;  // the INTEGER's content as encoded
    rtl::TDateTime RevocationDate = 0;
    TElCRLEntryExtensions Extensions;
};

class TElCertificateRevocationList : public rtl::Component {
public:
    explicit TElCertificateRevocationList(rtl::Component* owner = nullptr);
    ~TElCertificateRevocationList() override;

    // 0, or a result code (0x2201, 0x2202, 0x2205, or 0x1E0E for a malformed AlgorithmIdentifier).
    int32_t LoadFromBuffer(const void* buffer, size_t size);
    // 0x220F when nothing is loaded; 0x220D with size set when the buffer is too small (or
    // null); otherwise the list as loaded, size set, 0.
    int32_t SaveToBuffer(void* buffer, size_t& size) const;
    // The entry that revokes the certificate, -1 when none does.
    int32_t IndexOf(const TElX509Certificate* certificate) const;
    bool IsRevoked(const TElX509Certificate* certificate) const { return IndexOf(certificate) >= 0; }
    // Loads the source's list; a null source or one that holds nothing raises ECryptoLibraryError
    // "Invalid CRL".
    void Assign(const TElCertificateRevocationList* source);
    // Frees the entries and forgets the encoded list.
    void ClearEntries();
    // The list's signature checked with issuer's key, as a certificate's (a loaded list only).
    bool VerifySignedBy(const TElX509Certificate* issuer) const;

    // The list's issuer names the certificate's issuer: every attribute of one is in the
    // other (same type, value equal without regard to letter case), both ways.
    bool IssuerMatches(const TElRelativeDistinguishedName& certificateIssuer) const;

    int32_t GetCount() const { return int32_t(Items.size()); }
    TElRevocationItem* GetItem(int32_t index) const;
    std::string_view GetEncodedList() const { return encoded_; }
    std::string_view GetSignedPart() const { return signedPart_; }

    TElRelativeDistinguishedName Issuer;
    ByteString SignatureAlgorithmOID;     // of the TBSCertList's signature field
    ByteString SignatureAlgorithmParams;  // DER, empty when absent
    std::unique_ptr<TElEncryptionParameters> SignatureParameters;  // of the outer signatureAlgorithm
    rtl::TDateTime ThisUpdate = 0;
    rtl::TDateTime NextUpdate = 0;  // 0 when the list has none
    int32_t Version = 0;            // 0 for version 1, 2 for version 2
    int32_t SignatureAlgorithm = 0;
    std::vector<std::unique_ptr<TElRevocationItem>> Items;
    ByteString Signature;
    TElCRLExtensions Extensions;

private:
    int32_t ReadTBS(const TElASN1ConstrainedTag& tbs);
    int32_t ReadEntries(const TElASN1ConstrainedTag& list);

    ByteString signedPart_;
    ByteString encoded_;
};
