// pki/SBPKCS7.h: PKCS#7 / CMS messages (RFC 2315, RFC 5652): one ContentInfo with its content
// of one of seven types (data, signed data, enveloped data, signed-and-enveloped data,
// digested data, encrypted data, authenticated data), read into objects and written back.
//
// Only the structures are handled: nothing is signed, verified, encrypted or decrypted here.
// The message owns one object per content type and fills the one the ContentInfo names;
// writing builds a tag tree from the object of the current content type. The PKCS#12 code
// reads and writes the data and encrypted-data ContentInfos of a PFX through it.
//
// What must stay true:
// - every reader answers bad input with a code of the SB_PKCS7_ERROR_* family (0 success) and
//   raises nothing for it: a certificate that does not load is reported as malformed signed
//   (or signed-and-enveloped) data, not thrown; nested readers' codes come up unchanged;
// - a reader empties the lists and fields it fills (data, encrypted parts, certificates,
//   content parts, signers, recipients, attributes) before filling them, and a failed read
//   leaves what it filled before the failure;
// - attributes and their values keep the order they were read in, so a loaded signer's
//   attributes are written back byte for byte (the signature covers them);
// - everything read stays within the loaded buffer: element sizes come from the tag tree,
//   which never reads or allocates past its input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "crypto/base/SBASN1Tree.h"
#include "crypto/base/SBAlgorithmIdentifier.h"
#include "crypto/base/SBRDN.h"
#include "crypto/base/SBUtils.h"
#include "pki/SBCustomCertStorage.h"
#include "pki/SBPKCS7Utils.h"

// ---------------------------------------------------------------------------------------------
// Content types and result codes

using TSBPKCS7ContentType = int32_t;
inline constexpr TSBPKCS7ContentType ctData = 0;
inline constexpr TSBPKCS7ContentType ctSignedData = 1;
inline constexpr TSBPKCS7ContentType ctEnvelopedData = 2;
inline constexpr TSBPKCS7ContentType ctSignedAndEnvelopedData = 3;
inline constexpr TSBPKCS7ContentType ctDigestedData = 4;
inline constexpr TSBPKCS7ContentType ctEncryptedData = 5;
inline constexpr TSBPKCS7ContentType ctAuthenticatedData = 6;

// The content-type OIDs, indexed by content type (RFC 2315 14, RFC 5652 9.1).
std::string_view PKCS7ContentTypeOID(TSBPKCS7ContentType type);

inline constexpr int32_t SB_PKCS7_ERROR_INVALID_ASN_DATA = 0x1E01;
inline constexpr int32_t SB_PKCS7_ERROR_NO_DATA = 0x1E02;
inline constexpr int32_t SB_PKCS7_ERROR_INVALID_CONTENT_INFO = 0x1E03;
inline constexpr int32_t SB_PKCS7_ERROR_UNKNOWN_DATA_TYPE = 0x1E04;
inline constexpr int32_t SB_PKCS7_ERROR_INVALID_DATA = 0x1E05;
inline constexpr int32_t SB_PKCS7_ERROR_INVALID_ENVELOPED_DATA = 0x1E06;
inline constexpr int32_t SB_PKCS7_ERROR_INVALID_ENVELOPED_DATA_VERSION = 0x1E07;
inline constexpr int32_t SB_PKCS7_ERROR_INVALID_ENCRYPTED_CONTENT_INFO = 0x1E08;
inline constexpr int32_t SB_PKCS7_ERROR_INVALID_RECIPIENT_INFOS = 0x1E09;
inline constexpr int32_t SB_PKCS7_ERROR_INVALID_RECIPIENT_INFO = 0x1E0A;
inline constexpr int32_t SB_PKCS7_ERROR_INVALID_RECIPIENT_INFO_VERSION = 0x1E0B;
inline constexpr int32_t SB_PKCS7_ERROR_INVALID_ENCRYPTED_KEY = 0x1E0C;
inline constexpr int32_t SB_PKCS7_ERROR_INVALID_ISSUER = 0x1E0D;
// 0x1E0E, a malformed AlgorithmIdentifier: SB_PKCS7_ERROR_INVALID_ALGORITHM_IDENTIFIER.
inline constexpr int32_t SB_PKCS7_ERROR_INVALID_SIGNED_DATA = 0x1E0F;
inline constexpr int32_t SB_PKCS7_ERROR_INVALID_SIGNED_DATA_VERSION = 0x1E10;
inline constexpr int32_t SB_PKCS7_ERROR_INVALID_SIGNER_INFOS = 0x1E11;
inline constexpr int32_t SB_PKCS7_ERROR_INVALID_SIGNER_INFO_VERSION = 0x1E12;
inline constexpr int32_t SB_PKCS7_ERROR_INVALID_SIGNER_INFO = 0x1E13;
inline constexpr int32_t SB_PKCS7_ERROR_INTERNAL_ERROR = 0x1E14;
inline constexpr int32_t SB_PKCS7_ERROR_INVALID_ATTRIBUTES = 0x1E15;
inline constexpr int32_t SB_PKCS7_ERROR_INVALID_DIGESTED_DATA = 0x1E16;
inline constexpr int32_t SB_PKCS7_ERROR_INVALID_DIGESTED_DATA_VERSION = 0x1E17;
inline constexpr int32_t SB_PKCS7_ERROR_INVALID_ENCRYPTED_DATA = 0x1E18;
inline constexpr int32_t SB_PKCS7_ERROR_INVALID_ENCRYPTED_DATA_VERSION = 0x1E19;
inline constexpr int32_t SB_PKCS7_ERROR_INVALID_SIGNED_AND_ENVELOPED_DATA = 0x1E1A;
inline constexpr int32_t SB_PKCS7_ERROR_INVALID_SIGNED_AND_ENVELOPED_DATA_VERSION = 0x1E1B;
inline constexpr int32_t SB_PKCS7_ERROR_INVALID_AUTHENTICATED_DATA = 0x1E1C;
inline constexpr int32_t SB_PKCS7_ERROR_INVALID_AUTHENTICATED_DATA_VERSION = 0x1E1D;

class TElPKCS7Message;

// ---------------------------------------------------------------------------------------------
// Parts of content: an ordered list of data sources (bytes in memory, or a window of a stream)

class TElPKCS7ContentParts {
public:
    TElPKCS7ContentParts() = default;
    virtual ~TElPKCS7ContentParts() = default;
    TElPKCS7ContentParts(const TElPKCS7ContentParts&) = delete;
    TElPKCS7ContentParts& operator=(const TElPKCS7ContentParts&) = delete;

    void AddContentPart(std::string_view bytes);
    // A copy of the source: the same bytes, or the same window of the same stream.
    void AddContentPartFromSource(const TElASN1DataSource& source);
    void ClearContentParts() { parts_.clear(); }
    // Null outside the list.
    TElASN1DataSource* GetContentPart(int32_t index) const;
    int32_t ContentPartCount() const { return int32_t(parts_.size()); }
    // The first part, created empty when there is none.
    TElASN1DataSource& FirstContentPart();
    // All parts joined.
    ByteString GetContent() const;

private:
    std::vector<std::unique_ptr<TElASN1DataSource>> parts_;
};

// ---------------------------------------------------------------------------------------------
// Issuers, signers and recipients

// IssuerAndSerialNumber (RFC 5652 10.2.4).
class TElPKCS7Issuer final {
public:
    TElRelativeDistinguishedName Issuer;
    // The INTEGER's content octets, sign byte included.
    ByteString SerialNumber;
};

// SignerInfo (RFC 2315 9.2).
class TElPKCS7Signer final {
public:
    int32_t Version = 0;
    TElPKCS7Issuer Issuer;
    ByteString DigestAlgorithm;
    // Read, never written: a signer is written with NULL digest parameters.
    ByteString DigestAlgorithmParams;
    TElPKCS7Attributes AuthenticatedAttributes;
    TElPKCS7Attributes UnauthenticatedAttributes;
    ByteString DigestEncryptionAlgorithm;
    ByteString DigestEncryptionAlgorithmParams;
    ByteString EncryptedDigest;
    // The authenticated attributes as read, their [0] tag byte turned into SET (31): the bytes
    // a signature over them covers (RFC 5652 5.4).
    ByteString AuthenticatedAttributesPlain;
    // The SignerInfo's complete DER as read.
    ByteString EncodedValue;
};

// KeyTransRecipientInfo identified by issuer and serial number (RFC 2315 10.2).
class TElPKCS7Recipient final {
public:
    // Not set by reading; 0 is always written.
    int32_t Version = 0;
    TElPKCS7Issuer Issuer;
    ByteString KeyEncryptionAlgorithm;
    ByteString KeyEncryptionAlgorithmParams;
    ByteString EncryptedKey;
};

using TElPKCS7SignerList = TSBObjectList<TElPKCS7Signer>;
using TElPKCS7RecipientList = TSBObjectList<TElPKCS7Recipient>;

// ---------------------------------------------------------------------------------------------
// Content objects

// EncryptedContentInfo (RFC 2315 10.1): the encrypted content as an ordered list of parts.
class TElPKCS7EncryptedContent final {
public:
    ByteString ContentType;
    ByteString ContentEncryptionAlgorithm;
    ByteString ContentEncryptionAlgorithmParams;
    // Written as a primitive [0] instead of [0] { OCTET STRING }; reading leaves it alone.
    bool ImplicitEncryptedContent = false;

    ByteString GetEncryptedContent() const { return parts_.GetContent(); }
    // Drops every part; the bytes become the single part.
    void SetEncryptedContent(std::string_view bytes);
    void AddPart(std::string_view bytes) { parts_.AddContentPart(bytes); }
    void AddPartFromSource(const TElASN1DataSource& source) { parts_.AddContentPartFromSource(source); }
    void ClearParts() { parts_.ClearContentParts(); }
    TElASN1DataSource* GetPart(int32_t index) const { return parts_.GetContentPart(index); }
    int32_t PartCount() const { return parts_.ContentPartCount(); }
    TElASN1DataSource& FirstPart() { return parts_.FirstContentPart(); }

private:
    TElPKCS7ContentParts parts_;
};

class TElPKCS7DigestedData final {
public:
    int32_t Version = 0;
    ByteString DigestAlgorithm;
    ByteString DigestAlgorithmParams;
    ByteString Content;
    ByteString Digest;
};

class TElPKCS7EncryptedData final {
public:
    int32_t Version = 0;
    TElPKCS7EncryptedContent EncryptedContent;
};

class TElPKCS7SignedData final : public TElPKCS7ContentParts {
public:
    explicit TElPKCS7SignedData(TElPKCS7Message* owner) : owner_(owner) {}

    // Index in range.
    TElPKCS7Signer* GetSigner(int32_t index) const { return Signers.GetItem(index); }
    int32_t SignerCount() const { return Signers.Count(); }
    TElPKCS7Message* GetMessage() const { return owner_; }

    int32_t Version = 0;
    TElPKCS7SignerList Signers;
    TElMemoryCertStorage Certificates;
    // Empty means data when writing.
    ByteString EncapsulatedContentType;

private:
    TElPKCS7Message* owner_;
};

class TElPKCS7EnvelopedData final {
public:
    void ClearRecipients() { Recipients.Clear(); }

    TElPKCS7RecipientList Recipients;
    TElPKCS7EncryptedContent EncryptedContent;
};

class TElPKCS7SignedAndEnvelopedData final {
public:
    // Null when the index is not below the count.
    TElPKCS7Signer* GetSigner(int32_t index) const;
    int32_t SignerCount() const { return Signers.Count(); }

    int32_t Version = 0;
    TElPKCS7RecipientList Recipients;
    TElPKCS7SignerList Signers;
    TElPKCS7EncryptedContent EncryptedContent;
    TElMemoryCertStorage Certificates;
};

// AuthenticatedData (RFC 5652 9.1).
class TElPKCS7AuthenticatedData final : public TElPKCS7ContentParts {
public:
    int32_t RecipientCount() const { return Recipients.Count(); }
    // False when the index is out of range.
    bool RemoveRecipient(int32_t index);

    int32_t Version = 0;
    // Neither read nor written.
    TElMemoryCertStorage OriginatorCerts;
    ByteString MacAlgorithm;
    ByteString MacAlgorithmParams;  // read, not written
    ByteString DigestAlgorithm;
    ByteString DigestAlgorithmParams;  // read, not written
    ByteString ContentType;
    TElPKCS7Attributes AuthenticatedAttributes;
    TElPKCS7Attributes UnauthenticatedAttributes;
    ByteString Mac;
    TElPKCS7RecipientList Recipients;
};

// ---------------------------------------------------------------------------------------------
// The message

class TElPKCS7Message {
public:
    TElPKCS7Message();
    virtual ~TElPKCS7Message();
    TElPKCS7Message(const TElPKCS7Message&) = delete;
    TElPKCS7Message& operator=(const TElPKCS7Message&) = delete;

    // One top-level element is read (bytes after it are ignored); a code of the family.
    int32_t LoadFromBuffer(const void* buffer, size_t size);
    // Builds the tree and writes it; false with the size needed when the buffer is null or
    // too small.
    bool SaveToBuffer(void* buffer, size_t& size);

    TSBPKCS7ContentType ContentType = ctData;
    ByteString Data;
    // Signed data writes a non-empty content part as [0] holding the part's bytes unchanged
    // (a complete encoding), instead of [0] { OCTET STRING part }.
    bool RawSignedContent = false;
    // The ContentInfo, its [0], the SEQUENCE of each content type and a few constructed parts
    // are written in BER indefinite-length form.
    bool IndefiniteLength = true;
    // The buffer holds the content itself; ContentType says how to read it.
    bool NoContentInfo = false;

    TElPKCS7EnvelopedData& GetEnvelopedData() { return *envelopedData_; }
    TElPKCS7SignedData& GetSignedData() { return *signedData_; }
    TElPKCS7DigestedData& GetDigestedData() { return *digestedData_; }
    TElPKCS7EncryptedData& GetEncryptedData() { return *encryptedData_; }
    TElPKCS7SignedAndEnvelopedData& GetSignedAndEnvelopedData() { return *signedAndEnvelopedData_; }
    TElPKCS7AuthenticatedData& GetAuthenticatedData() { return *authenticatedData_; }

    // The readers: each takes its content (null when the ContentInfo has none) and answers a
    // code of the family.
    virtual int32_t ReadData(const TElASN1CustomTag* content);
    virtual int32_t ReadSignedData(const TElASN1CustomTag* content);
    virtual int32_t ReadEnvelopedData(const TElASN1CustomTag* content);
    virtual int32_t ReadSignedAndEnvelopedData(const TElASN1CustomTag* content);
    virtual int32_t ReadDigestedData(const TElASN1CustomTag* content);
    virtual int32_t ReadEncryptedData(const TElASN1CustomTag* content);
    virtual int32_t ReadAuthenticatedData(const TElASN1CustomTag* content);
    virtual int32_t ReadRecipient(const TElASN1CustomTag& tag, TElPKCS7Recipient& recipient);

    int32_t ReadEncryptedContentInfo(const TElASN1CustomTag& tag, TElPKCS7EncryptedContent& content);
    int32_t ReadSigners(const TElASN1CustomTag& tag, TElPKCS7SignerList* list);
    int32_t ReadRecipients(const TElASN1CustomTag& tag, TElPKCS7RecipientList& list);
    // Empties the storage, then loads each element as a certificate; false when one does not
    // load (the certificates before it stay).
    bool ReadCertificates(const TElASN1ConstrainedTag& tag, TElCustomCertStorage& storage);

    // The writers fill a given tag.
    void WriteEncryptedContentInfo(TElASN1ConstrainedTag& tag, TElPKCS7EncryptedContent& content);
    void WriteSignedData(TElASN1ConstrainedTag& tag);
    void WriteSigners(TElASN1ConstrainedTag& tag, const TElPKCS7SignerList& signers);
    void WriteCertificates(TElASN1ConstrainedTag& tag, const TElCustomCertStorage& storage);
    void WriteEnvelopedData(TElASN1ConstrainedTag& tag);
    void WriteSignedAndEnvelopedData(TElASN1ConstrainedTag& tag);
    void WriteAuthenticatedData(TElASN1ConstrainedTag& tag);
    void WriteRecipients(TElASN1ConstrainedTag& tag, const TElPKCS7RecipientList& recipients);
    void WriteRecipient(TElASN1ConstrainedTag& tag, const TElPKCS7Recipient& recipient);

private:
    int32_t ReadContent();
    int32_t Dispatch(const TElASN1CustomTag* content);
    void BuildTree();
    void WriteDigestedData(TElASN1ConstrainedTag& tag);
    void WriteEncryptedData(TElASN1ConstrainedTag& tag);

    std::unique_ptr<TElASN1ConstrainedTag> tree_;
    std::unique_ptr<TElPKCS7EnvelopedData> envelopedData_;
    std::unique_ptr<TElPKCS7SignedData> signedData_;
    std::unique_ptr<TElPKCS7DigestedData> digestedData_;
    std::unique_ptr<TElPKCS7EncryptedData> encryptedData_;
    std::unique_ptr<TElPKCS7SignedAndEnvelopedData> signedAndEnvelopedData_;
    std::unique_ptr<TElPKCS7AuthenticatedData> authenticatedData_;
};

// ---------------------------------------------------------------------------------------------
// Shared routines

// ContentInfo ::= SEQUENCE { contentType OID, content [0] EXPLICIT ANY OPTIONAL }: the type, and
// the content's octets (a segmented OCTET STRING joined, another constructed element whole, a
// primitive element's content) with the size protocol: a null buffer or too small a size
// answers false with the size needed. False for a malformed ContentInfo.
bool ReadContentInfo(const TElASN1CustomTag& tag, void* buffer, size_t& size, ByteString& contentType);
// The same into a string, in one pass; false (content empty) for a malformed ContentInfo.
bool ReadContentInfo(const TElASN1CustomTag& tag, ByteString& content, ByteString& contentType);
// The same framing; the content, if any, becomes one new part of parts.
bool ReadEncapsulatedContent(const TElASN1CustomTag& tag, TElPKCS7ContentParts& parts,
                             ByteString& contentType);

int32_t ReadIssuerAndSerialNumber(const TElASN1CustomTag& tag, TElPKCS7Issuer& issuer);
void WriteIssuerAndSerialNumber(TElASN1ConstrainedTag& tag, const TElPKCS7Issuer& issuer);
int32_t ReadPKCS7Attributes(const TElASN1CustomTag& tag, TElPKCS7Attributes& attributes);
int32_t ReadSigner(const TElASN1CustomTag& tag, TElPKCS7Signer& signer);
void WriteSigner(TElASN1ConstrainedTag& tag, const TElPKCS7Signer& signer);
// The digestAlgorithms SET of signed and signed-and-enveloped data: each signer's digest OID
// once, in order of first occurrence, with NULL parameters.
void WriteDigestAlgorithms(TElASN1ConstrainedTag& set, const TElPKCS7SignerList& signers);
