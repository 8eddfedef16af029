// pki/SBX509Ext.h: the extensions of X.509 certificates (RFC 5280 4.2) as objects, and the
// GeneralName choice (RFC 5280 4.2.1.6) they are built from.
//
// Every extension the library knows has a class derived from TElCustomExtension. One
// TElCertificateExtensions per certificate holds one instance of each known class, a mask of
// those the certificate carries, and the extensions it does not know, in the order met;
// TElExtensionReader hands each extension of a certificate to its object. Each object keeps the
// DER value as it arrived and the fields parsed from it; SaveToTag writes the extension back
// from that value, so what was read is written back byte for byte.
//
// Parsing is lenient: a malformed extension is read as far as it goes and raises
// EElCertificateException "Unrecognized critical certificate extension" only when it is marked
// critical (CheckCritical); the certificate parse then fails. BOOLEANs are true for any
// non-zero content byte, here as in CRLs.
//
// General names: TElGeneralName holds a field for every kind and a kind selector; the three
// structured kinds have value classes. IP addresses are held as dotted decimal text, one
// number per byte: 4 for IPv4, 16 for IPv6, 8 and 32 for an address with its mask in a name
// constraint; IPTextToBytes writes back exactly those bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/base/SBRDN.h"
#include "crypto/base/SBUtils.h"
#include "pki/SBPKCS7Utils.h"
#include "rtl/DateTime.h"

class TElASN1ConstrainedTag;
class TElASN1CustomTag;

// The plain exception class of the certificate units (message only).
RTL_EXCEPTION(EElCertificateException, rtl::Exception);

inline constexpr const char* SUnrecognizedCriticalExtension = "Unrecognized critical certificate extension";
inline constexpr const char* SNonCriticalMarkedCritical = "Non-critical extension is marked as critical";
inline constexpr const char* SInvalidTypeCast = "Invalid type cast";
inline constexpr const char* SListIndexOutOfBounds = "List index out of bounds";

// ---------------------------------------------------------------------------------------------
// General names

enum TSBGeneralName : uint8_t {
    gnRFC822Name = 0,
    gnDNSName = 1,
    gnDirectoryName = 2,
    gnEdiPartyName = 3,
    gnUniformResourceIdentifier = 4,
    gnIPAddress = 5,
    gnRegisteredID = 6,
    gnOtherName = 7,
    gnUnknown = 8,  // none, or a kind that is not supported (an X.400 address)
    gnPermanentIdentifier = 9,
};

// id-on-permanentIdentifier, 1.3.6.1.5.5.7.8.3 (RFC 4043).
inline constexpr std::string_view SB_OID_PERMANENT_IDENTIFIER{"\x2B\x06\x01\x05\x05\x07\x08\x03", 8};

class TElEDIPartyName final {
public:
    std::string NameAssigner;
    std::string PartyName;
};

class TElOtherName final {
public:
    ByteString OID;    // type-id: OID content bytes
    ByteString Value;  // the DER of the value inside the [0] wrapper
};

class TElPermanentIdentifier final {
public:
    std::string PermanentIdentifier;  // identifierValue
    ByteString Assigner;              // OID content bytes
};

class TElGeneralName final {
public:
    // Reads one GeneralName element; the kind is gnUnknown first. False for a tag that is not
    // a GeneralName or an other name that is not { OID, [0] }; an X.400 address reads as true
    // with kind gnUnknown.
    bool LoadFromTag(const TElASN1CustomTag& tag);
    // Appends the name to parent as one child; false (nothing appended) for gnUnknown. A
    // permanent identifier is first turned into the other name that carries it (kind
    // gnOtherName afterwards). An IP address text that IPTextToBytes refuses raises.
    bool SaveToTag(TElASN1ConstrainedTag& parent);
    // Copies every field and the kind; a null source raises EElCertificateException.
    void Assign(const TElGeneralName* source);
    void AssignTo(TElGeneralName* dest) const;

    std::string RFC822Name;
    std::string DNSName;
    TElRelativeDistinguishedName DirectoryName;
    TElEDIPartyName EdiPartyName;
    std::string UniformResourceIdentifier;
    std::string IpAddress;  // dotted decimal, one number per byte
    ByteString RegisteredID;
    TElOtherName OtherName;
    TElPermanentIdentifier PermanentIdentifier;
    TSBGeneralName NameType = gnUnknown;
};

class TElGeneralNames final {
public:
    int32_t GetCount() const { return int32_t(names_.size()); }
    // The name at index; an index outside the list raises EElCertificateException.
    TElGeneralName* GetNames(int32_t index) const;
    // Index of a new empty name (kind gnUnknown).
    int32_t Add();
    // Frees and removes a name; an index outside the list raises EElCertificateException
    // "List index out of bounds".
    void Remove(int32_t index);
    void Clear();
    // Replaces the list with the names that are the children of tag. A child that does not
    // read is dropped and the result is false; with lenient reading a bare Name SEQUENCE among
    // the children is taken as a directory name instead.
    bool LoadFromTag(const TElASN1ConstrainedTag& tag, bool lenient);
    // Writes every name that can be written as a child and makes tag a SEQUENCE. Always true.
    bool SaveToTag(TElASN1ConstrainedTag& tag);
    void Assign(const TElGeneralNames* source);
    void AssignTo(TElGeneralNames* dest) const;

private:
    std::vector<std::unique_ptr<TElGeneralName>> names_;
};

int32_t GetGeneralNameCount(const TElGeneralNames& names);
TElGeneralName* GetGeneralName(const TElGeneralNames& names, int32_t index);

// Every byte as a decimal number, joined by "."; no bytes give "".
std::string IPBytesToText(std::string_view bytes);
// The reverse, one byte per part. A text of 1 to 4 parts gives 4 bytes (missing parts 0:
// "10.1" is 0A 01 00 00); 8, 16 and 32 parts give that many bytes. A part that is not a
// decimal number from 0 to 255, or another count of parts, raises rtl::EConvertError.
ByteString IPTextToBytes(std::string_view text);

// ---------------------------------------------------------------------------------------------
// The extension base

class TElCustomExtension {
public:
    virtual ~TElCustomExtension() = default;
    TElCustomExtension() = default;
    TElCustomExtension(const TElCustomExtension&) = delete;
    TElCustomExtension& operator=(const TElCustomExtension&) = delete;

    // Empties the OID and the value; known classes reset their own fields instead.
    virtual void Clear();
    // The OID's content bytes: the stored one here, the fixed one of a known class.
    virtual ByteString GetOID() const;
    // Stored here; ignored by every known class but the alternative names.
    virtual void SetOID(std::string_view oid);
    // Clears (virtually), stores the value; known classes then parse it.
    virtual void SetValue(std::string_view value);
    // The stored value; the key identifier and alternative-name classes build one from their
    // fields when none is stored.
    virtual ByteString GetValue() const;
    // Makes tag SEQUENCE { OID, BOOLEAN (FF critical, 00 not; always written), OCTET STRING }.
    virtual void SaveToTag(TElASN1ConstrainedTag& tag) const;
    // The extension's DER (what SaveToTag writes).
    ByteString SaveToDER() const;

    // Raises EElCertificateException "Unrecognized critical certificate extension" when the
    // extension is critical; every parse failure calls it and then carries on.
    void CheckCritical() const;

    bool Critical = false;

protected:
    ByteString FOID;
    ByteString FValue;
};

// ---------------------------------------------------------------------------------------------
// Known extensions

class TElAuthorityKeyIdentifierExtension final : public TElCustomExtension {
public:
    void Clear() override;
    // 2.5.29.35, or the older 2.5.29.1 when the extension was read under it.
    ByteString GetOID() const override;
    void SetOID(std::string_view oid) override;
    void SetValue(std::string_view value) override;
    ByteString GetValue() const override;

    ByteString KeyIdentifier;
    TElGeneralNames AuthorityCertIssuer;
    ByteString AuthorityCertSerial;
};

// AuthorityKeyIdentifier (RFC 5280 4.2.1.1) read into its parts: [0] keyIdentifier (also in
// the older form [0] { OCTET STRING }), [1] authorityCertIssuer (lenient), [2]
// authorityCertSerialNumber. False when the value is not one SEQUENCE; issuerPresent tells
// whether [1] was there.
bool ReadAuthorityKeyIdentifier(std::string_view value, ByteString& keyIdentifier, TElGeneralNames& issuer,
                                ByteString& serial, bool* issuerPresent = nullptr);
// The value built from its parts: [0] always, or only when not empty; [1] when withIssuer;
// [2] when not empty.
ByteString BuildAuthorityKeyIdentifier(const ByteString& keyIdentifier, const TElGeneralNames& issuer,
                                       const ByteString& serial, bool alwaysKeyIdentifier, bool withIssuer);

class TElSubjectKeyIdentifierExtension final : public TElCustomExtension {
public:
    void Clear() override;
    ByteString GetOID() const override;
    void SetOID(std::string_view) override {}
    void SetValue(std::string_view value) override;

    ByteString KeyIdentifier;
};

// TSBKeyUsageType, in bit order of TSBKeyUsage.
enum TSBKeyUsageType : uint8_t {
    kuDigitalSignature = 0,
    kuNonRepudiation,
    kuKeyEncipherment,
    kuDataEncipherment,
    kuKeyAgreement,
    kuKeyCertSign,
    kuCRLSign,
    kuEncipherOnly,
    kuDecipherOnly,
};
// A set of TSBKeyUsageType: bit (1 << usage).
using TSBKeyUsage = uint16_t;
constexpr TSBKeyUsage KeyUsageBit(TSBKeyUsageType u) {
    return TSBKeyUsage(1u << u);
}

class TElKeyUsageExtension final : public TElCustomExtension {
public:
    void Clear() override;
    ByteString GetOID() const override;
    void SetOID(std::string_view) override {}
    void SetValue(std::string_view value) override;
    // The nine flags as a set.
    TSBKeyUsage GetUsages() const;

    bool DigitalSignature = false;
    bool NonRepudiation = false;
    bool KeyEncipherment = false;
    bool DataEncipherment = false;
    bool KeyAgreement = false;
    bool KeyCertSign = false;
    bool CRLSign = false;
    bool EncipherOnly = false;
    bool DecipherOnly = false;
};

class TElPrivateKeyUsagePeriodExtension final : public TElCustomExtension {
public:
    void Clear() override;
    ByteString GetOID() const override;
    void SetOID(std::string_view) override {}
    void SetValue(std::string_view value) override;

    rtl::TDateTime NotBefore = 0;
    rtl::TDateTime NotAfter = 0;
};

class TElUserNotice final {
public:
    std::string Organization;
    std::vector<int32_t> NoticeNumbers;
    std::string ExplicitText;
};

class TElSinglePolicyInformation final {
public:
    ByteString PolicyIdentifier;
    std::string CPSURI;
    TElUserNotice UserNotice;
};

class TElCertificatePoliciesExtension final : public TElCustomExtension {
public:
    void Clear() override;
    ByteString GetOID() const override;
    void SetOID(std::string_view) override {}
    void SetValue(std::string_view value) override;
    int32_t GetCount() const { return int32_t(PolicyInformation.size()); }

    std::vector<std::unique_ptr<TElSinglePolicyInformation>> PolicyInformation;
};

class TElPolicyMapping final {
public:
    ByteString IssuerDomainPolicy;
    ByteString SubjectDomainPolicy;
};

class TElPolicyMappingsExtension final : public TElCustomExtension {
public:
    void Clear() override;
    ByteString GetOID() const override;
    void SetOID(std::string_view) override {}
    void SetValue(std::string_view value) override;
    int32_t GetCount() const { return int32_t(Policies.size()); }

    std::vector<std::unique_ptr<TElPolicyMapping>> Policies;
};

class TElAlternativeNameExtension final : public TElCustomExtension {
public:
    explicit TElAlternativeNameExtension(bool issuerAltName = false) : IssuerAltName(issuerAltName) {}
    void Clear() override;
    // The stored OID when one was set, else 2.5.29.18 (issuer) or 2.5.29.17 (subject).
    ByteString GetOID() const override;
    // Accepts only 2.5.29.17 and 2.5.29.18.
    void SetOID(std::string_view oid) override;
    void SetValue(std::string_view value) override;
    ByteString GetValue() const override;

    TElGeneralNames Content;
    bool IssuerAltName;
};

class TElBasicConstraintsExtension final : public TElCustomExtension {
public:
    void Clear() override;
    // 2.5.29.19, or the older 2.5.29.10 when the extension was read under it.
    ByteString GetOID() const override;
    void SetOID(std::string_view oid) override;
    void SetValue(std::string_view value) override;

    bool CA = false;
    int32_t PathLenConstraint = 0;  // -1: none
};

class TElNameConstraint final {
public:
    TElGeneralName Base;
    int32_t Minimum = 0;
    int32_t Maximum = 0;
};

class TElNameConstraintsExtension final : public TElCustomExtension {
public:
    void Clear() override;
    ByteString GetOID() const override;
    void SetOID(std::string_view) override {}
    void SetValue(std::string_view value) override;

    std::vector<std::unique_ptr<TElNameConstraint>> PermittedSubtrees;
    std::vector<std::unique_ptr<TElNameConstraint>> ExcludedSubtrees;
};

class TElPolicyConstraintsExtension final : public TElCustomExtension {
public:
    void Clear() override;
    ByteString GetOID() const override;
    void SetOID(std::string_view) override {}
    void SetValue(std::string_view value) override;

    int32_t RequireExplicitPolicy = 0;
    int32_t InhibitPolicyMapping = 0;
};

class TElExtendedKeyUsageExtension final : public TElCustomExtension {
public:
    void Clear() override;
    ByteString GetOID() const override;
    void SetOID(std::string_view) override {}
    void SetValue(std::string_view value) override;

    bool ServerAuthentication = false;
    bool ClientAuthentication = false;
    bool CodeSigning = false;
    bool EmailProtection = false;
    bool TimeStamping = false;
    bool OCSPSigning = false;
    std::vector<ByteString> CustomUsages;  // other usages: OID content bytes
};

// The CRL reasons of a distribution point (RFC 5280 5.3.1 codes): bit (1 << code).
using TSBCRLReasonFlags = uint16_t;
inline constexpr TSBCRLReasonFlags rfUnspecified = 1u << 0;
inline constexpr TSBCRLReasonFlags rfKeyCompromise = 1u << 1;
inline constexpr TSBCRLReasonFlags rfCACompromise = 1u << 2;
inline constexpr TSBCRLReasonFlags rfAffiliationChanged = 1u << 3;
inline constexpr TSBCRLReasonFlags rfSuperseded = 1u << 4;
inline constexpr TSBCRLReasonFlags rfCessationOfOperation = 1u << 5;
inline constexpr TSBCRLReasonFlags rfCertificateHold = 1u << 6;
inline constexpr TSBCRLReasonFlags rfRemoveFromCRL = 1u << 8;
inline constexpr TSBCRLReasonFlags rfPrivilegeWithdrawn = 1u << 9;
inline constexpr TSBCRLReasonFlags rfAACompromise = 1u << 10;
// Every member but 7 (the code no reason has).
inline constexpr TSBCRLReasonFlags rfAllReasons = 0x077F;

// Which parts of a distribution point are in use; all set on creation.
using TSBDistributionPointParameters = uint8_t;
inline constexpr TSBDistributionPointParameters dppName = 0x1;
inline constexpr TSBDistributionPointParameters dppCRLIssuer = 0x2;
inline constexpr TSBDistributionPointParameters dppReasonFlags = 0x4;

class TElDistributionPoint final {
public:
    TElGeneralNames Name;
    TElGeneralNames CRLIssuer;
    TSBCRLReasonFlags ReasonFlags = rfAllReasons;
    TSBDistributionPointParameters Included = dppName | dppCRLIssuer | dppReasonFlags;
};

class TElCRLDistributionPointsExtension final : public TElCustomExtension {
public:
    void Clear() override;
    ByteString GetOID() const override;
    void SetOID(std::string_view) override {}
    void SetValue(std::string_view value) override;
    int32_t GetCount() const { return int32_t(DistributionPoints.size()); }

    std::vector<std::unique_ptr<TElDistributionPoint>> DistributionPoints;
};

class TElAccessDescription final {
public:
    ByteString AccessMethod;
    TElGeneralName AccessLocation;
};

class TElAuthorityInformationAccessExtension final : public TElCustomExtension {
public:
    void Clear() override;
    ByteString GetOID() const override;
    void SetOID(std::string_view) override {}
    void SetValue(std::string_view value) override;
    int32_t GetCount() const { return int32_t(AccessDescriptions.size()); }

    std::vector<std::unique_ptr<TElAccessDescription>> AccessDescriptions;
};

// Netscape certificate types: bit (1 << type).
using TSBNetscapeCertType = uint8_t;
inline constexpr TSBNetscapeCertType nsSSLClient = 1u << 0;
inline constexpr TSBNetscapeCertType nsSSLServer = 1u << 1;
inline constexpr TSBNetscapeCertType nsSMIME = 1u << 2;
inline constexpr TSBNetscapeCertType nsObjectSign = 1u << 3;
inline constexpr TSBNetscapeCertType nsSSLCA = 1u << 4;
inline constexpr TSBNetscapeCertType nsSMIMECA = 1u << 5;
inline constexpr TSBNetscapeCertType nsObjectSignCA = 1u << 6;

class TElNetscapeCertTypeExtension final : public TElCustomExtension {
public:
    void Clear() override;
    ByteString GetOID() const override;
    void SetOID(std::string_view) override {}
    void SetValue(std::string_view value) override;

    TSBNetscapeCertType CertType = 0;
};

// The text extensions. The text comes from a PrintableString, IA5String or VisibleString
// value; a value of another type leaves the text as it was. The raw value is kept as given, so
// the extension is written back whole.
class TElNetscapeString : public TElCustomExtension {
public:
    void Clear() override;
    ByteString GetOID() const override;
    void SetOID(std::string_view) override {}
    void SetValue(std::string_view value) override;

    std::string Content;
};

#define SB_NETSCAPE_STRING_CLASS(Name)                 \
    class Name final : public TElNetscapeString {      \
    public:                                            \
        ByteString GetOID() const override;            \
    }
SB_NETSCAPE_STRING_CLASS(TElNetscapeBaseURL);
SB_NETSCAPE_STRING_CLASS(TElNetscapeRevokeURL);
SB_NETSCAPE_STRING_CLASS(TElNetscapeCARevokeURL);
SB_NETSCAPE_STRING_CLASS(TElNetscapeRenewalURL);
SB_NETSCAPE_STRING_CLASS(TElNetscapeCAPolicy);
SB_NETSCAPE_STRING_CLASS(TElNetscapeServerName);
SB_NETSCAPE_STRING_CLASS(TElNetscapeComment);
SB_NETSCAPE_STRING_CLASS(TElCommonName);
#undef SB_NETSCAPE_STRING_CLASS

class TElSubjectDirectoryAttributesExtension final : public TElCustomExtension {
public:
    void Clear() override;
    ByteString GetOID() const override;
    void SetOID(std::string_view) override {}
    void SetValue(std::string_view value) override;

    TElPKCS7Attributes Attributes;
};

// ---------------------------------------------------------------------------------------------
// The set of a certificate's extensions

// The included mask: one bit per known extension the certificate carries.
using TSBCertificateExtensions = uint32_t;
inline constexpr uint32_t ceAuthorityKeyIdentifier = 0x1;
inline constexpr uint32_t ceSubjectKeyIdentifier = 0x2;
inline constexpr uint32_t ceKeyUsage = 0x4;
inline constexpr uint32_t cePrivateKeyUsagePeriod = 0x8;
inline constexpr uint32_t ceCertificatePolicies = 0x10;
inline constexpr uint32_t cePolicyMappings = 0x20;
inline constexpr uint32_t ceSubjectAlternativeName = 0x40;
inline constexpr uint32_t ceIssuerAlternativeName = 0x80;
inline constexpr uint32_t ceBasicConstraints = 0x100;
inline constexpr uint32_t ceNameConstraints = 0x200;
inline constexpr uint32_t cePolicyConstraints = 0x400;
inline constexpr uint32_t ceExtendedKeyUsage = 0x800;
inline constexpr uint32_t ceCRLDistributionPoints = 0x1000;
inline constexpr uint32_t ceAuthorityInformationAccess = 0x2000;
inline constexpr uint32_t ceNetscapeCertType = 0x4000;
inline constexpr uint32_t ceNetscapeBaseUrl = 0x8000;
inline constexpr uint32_t ceNetscapeRevokeUrl = 0x10000;
inline constexpr uint32_t ceNetscapeCARevokeUrl = 0x20000;
inline constexpr uint32_t ceNetscapeRenewalUrl = 0x40000;
inline constexpr uint32_t ceNetscapeCAPolicy = 0x80000;
inline constexpr uint32_t ceNetscapeServerName = 0x100000;
inline constexpr uint32_t ceNetscapeComment = 0x200000;
inline constexpr uint32_t ceCommonName = 0x400000;
inline constexpr uint32_t ceSubjectDirectoryAttributes = 0x800000;

class TElCertificateExtensions final {
public:
    TElCertificateExtensions();
    TElCertificateExtensions(const TElCertificateExtensions&) = delete;
    TElCertificateExtensions& operator=(const TElCertificateExtensions&) = delete;

    // Clears every known extension, frees the other extensions, empties the mask and the
    // record of what was met.
    void Clear();
    int32_t GetOtherCount() const { return int32_t(OtherExtensions.size()); }
    // The known extension of an OID (exact bytes) and its mask bit; null and 0 when unknown.
    TElCustomExtension* FindKnown(std::string_view oid, uint32_t* bit = nullptr) const;
    // Every extension in the order the certificate carries it, known ones included (an OID
    // met twice appears twice): what validation checks for duplicates and critical flags.
    struct TMetExtension {
        ByteString OID;
        bool Critical = false;
    };
    const std::vector<TMetExtension>& Met() const { return met_; }

    TElAuthorityKeyIdentifierExtension AuthorityKeyIdentifier;
    TElSubjectKeyIdentifierExtension SubjectKeyIdentifier;
    TElKeyUsageExtension KeyUsage;
    TElPrivateKeyUsagePeriodExtension PrivateKeyUsagePeriod;
    TElCertificatePoliciesExtension CertificatePolicies;
    TElPolicyMappingsExtension PolicyMappings;
    TElAlternativeNameExtension SubjectAlternativeName{false};
    TElAlternativeNameExtension IssuerAlternativeName{true};
    TElBasicConstraintsExtension BasicConstraints;
    TElNameConstraintsExtension NameConstraints;
    TElPolicyConstraintsExtension PolicyConstraints;
    TElExtendedKeyUsageExtension ExtendedKeyUsage;
    TElCRLDistributionPointsExtension CRLDistributionPoints;
    TElAuthorityInformationAccessExtension AuthorityInformationAccess;
    TElNetscapeCertTypeExtension NetscapeCertType;
    TElNetscapeComment NetscapeComment;
    TElNetscapeCAPolicy NetscapeCAPolicy;
    TElNetscapeCARevokeURL NetscapeCARevokeURL;
    TElNetscapeRevokeURL NetscapeRevokeURL;
    TElNetscapeServerName NetscapeServerName;
    TElNetscapeBaseURL NetscapeBaseURL;
    TElNetscapeRenewalURL NetscapeRenewalURL;
    TElCommonName CommonName;
    TElSubjectDirectoryAttributesExtension SubjectDirectoryAttributes;
    TSBCertificateExtensions Included = 0;
    std::vector<std::unique_ptr<TElCustomExtension>> OtherExtensions;

private:
    friend class TElExtensionReader;
    std::vector<TMetExtension> met_;
};

class TElExtensionReader final {
public:
    TElExtensionReader(TElCertificateExtensions& extensions, bool strictMode)
        : extensions_(extensions), strictMode_(strictMode) {}

    // One extension of a certificate, in certificate order: a known OID sets its mask bit and
    // goes to its object (an OID met twice parses into the same object again); an unknown one
    // becomes a new TElCustomExtension among the other extensions and never raises. In strict
    // mode a critical authority or subject key identifier, policy mappings or authority
    // information access raises EElCertificateException "Non-critical extension is marked as
    // critical" (the bit stays set).
    void ParseExtension(std::string_view oid, bool critical, std::string_view value);

private:
    TElCertificateExtensions& extensions_;
    bool strictMode_;
};
