// pki/SBPKCS7.cpp: the message, the ContentInfo framing, and the data, digested-data and
// encrypted-data contents.
#include "pki/SBPKCS7.h"

#include <array>
#include <cstring>

#include "pki/SBPKCS7Tree.h"

using namespace pkcs7tree;

namespace {

// RFC 2315 14 and RFC 5652 9.1, in content-type order.
constexpr std::array<std::string_view, 7> kContentTypeOIDs{{
    {"\x2A\x86\x48\x86\xF7\x0D\x01\x07\x01", 9},           // data
    {"\x2A\x86\x48\x86\xF7\x0D\x01\x07\x02", 9},           // signedData
    {"\x2A\x86\x48\x86\xF7\x0D\x01\x07\x03", 9},           // envelopedData
    {"\x2A\x86\x48\x86\xF7\x0D\x01\x07\x04", 9},           // signedAndEnvelopedData
    {"\x2A\x86\x48\x86\xF7\x0D\x01\x07\x05", 9},           // digestedData
    {"\x2A\x86\x48\x86\xF7\x0D\x01\x07\x06", 9},           // encryptedData
    {"\x2A\x86\x48\x86\xF7\x0D\x01\x09\x10\x01\x02", 11},  // id-ct-authData
}};

// A content's octets as a ContentInfo carries them: a segmented OCTET STRING (constructed,
// tag number 4) joined, another constructed element whole, a primitive element's content.
bool ContentOctets(const TElASN1CustomTag& content, ByteString& out) {
    if (content.IsConstrained()) {
        const auto& c = static_cast<const TElASN1ConstrainedTag&>(content);
        if (c.GetTagNumber() == 4) return JoinedContent(c, out);
        out = SaveTagToString(c);
        return true;
    }
    out = static_cast<const TElASN1SimpleTag&>(content).GetContent();
    return true;
}

// The ContentInfo framing (RFC 5652 3): SEQUENCE { OID, [0] { content } OPTIONAL }; content is
// null when the [0] is absent.
bool Frame(const TElASN1CustomTag& tag, ByteString& contentType, const TElASN1CustomTag*& content) {
    if (!tag.CheckType(0x30, true)) return false;
    const auto& seq = static_cast<const TElASN1ConstrainedTag&>(tag);
    if (seq.GetCount() < 1 || seq.GetCount() > 2) return false;
    const TElASN1SimpleTag* oid = PrimitiveChild(seq, 0, 0x06);
    if (oid == nullptr) return false;
    contentType = oid->GetContent();
    content = nullptr;
    if (seq.GetCount() == 1) return true;
    const TElASN1ConstrainedTag* explicitTag = ConstructedChild(seq, 1, 0xA0);
    if (explicitTag == nullptr || explicitTag->GetCount() < 1) return false;
    content = explicitTag->GetChild(0);
    return true;
}

}  // namespace

std::string_view PKCS7ContentTypeOID(TSBPKCS7ContentType type) {
    if (type < 0 || type >= int32_t(kContentTypeOIDs.size())) return {};
    return kContentTypeOIDs[size_t(type)];
}

// ---------------------------------------------------------------------------------------------
// Content parts

void TElPKCS7ContentParts::AddContentPart(std::string_view bytes) {
    auto part = std::make_unique<TElASN1DataSource>();
    part->AssignString(bytes);
    parts_.push_back(std::move(part));
}

void TElPKCS7ContentParts::AddContentPartFromSource(const TElASN1DataSource& source) {
    auto part = std::make_unique<TElASN1DataSource>();
    source.CopyTo(*part);
    parts_.push_back(std::move(part));
}

TElASN1DataSource* TElPKCS7ContentParts::GetContentPart(int32_t index) const {
    if (index < 0 || index >= ContentPartCount()) return nullptr;
    return parts_[size_t(index)].get();
}

TElASN1DataSource& TElPKCS7ContentParts::FirstContentPart() {
    if (parts_.empty()) parts_.push_back(std::make_unique<TElASN1DataSource>());
    return *parts_.front();
}

ByteString TElPKCS7ContentParts::GetContent() const {
    ByteString out;
    for (const auto& p : parts_)
        out += p->ReadString();
    return out;
}

void TElPKCS7EncryptedContent::SetEncryptedContent(std::string_view bytes) {
    parts_.ClearContentParts();
    parts_.AddContentPart(bytes);
}

// ---------------------------------------------------------------------------------------------
// Shared routines

bool ReadContentInfo(const TElASN1CustomTag& tag, ByteString& octets, ByteString& contentType) {
    octets.clear();
    const TElASN1CustomTag* content = nullptr;
    if (!Frame(tag, contentType, content)) return false;
    if (content != nullptr && !ContentOctets(*content, octets)) {
        octets.clear();
        return false;
    }
    return true;
}

bool ReadContentInfo(const TElASN1CustomTag& tag, void* buffer, size_t& size, ByteString& contentType) {
    ByteString octets;
    if (!ReadContentInfo(tag, octets, contentType)) return false;
    if (size < octets.size() || (buffer == nullptr && !octets.empty())) {
        size = octets.size();
        return false;
    }
    if (!octets.empty()) std::memcpy(buffer, octets.data(), octets.size());
    size = octets.size();
    return true;
}

bool ReadEncapsulatedContent(const TElASN1CustomTag& tag, TElPKCS7ContentParts& parts,
                             ByteString& contentType) {
    const TElASN1CustomTag* content = nullptr;
    if (!Frame(tag, contentType, content)) return false;
    if (content == nullptr) return true;
    if (!content->IsConstrained()) {
        parts.AddContentPartFromSource(static_cast<const TElASN1SimpleTag&>(*content).DataSource());
        return true;
    }
    ByteString octets;
    if (!ContentOctets(*content, octets)) return false;
    parts.AddContentPart(octets);
    return true;
}

// ---------------------------------------------------------------------------------------------
// The message

TElPKCS7Message::TElPKCS7Message()
    : tree_(std::make_unique<TElASN1ConstrainedTag>()),
      envelopedData_(std::make_unique<TElPKCS7EnvelopedData>()),
      signedData_(std::make_unique<TElPKCS7SignedData>(this)),
      digestedData_(std::make_unique<TElPKCS7DigestedData>()),
      encryptedData_(std::make_unique<TElPKCS7EncryptedData>()),
      signedAndEnvelopedData_(std::make_unique<TElPKCS7SignedAndEnvelopedData>()),
      authenticatedData_(std::make_unique<TElPKCS7AuthenticatedData>()) {}

TElPKCS7Message::~TElPKCS7Message() = default;

int32_t TElPKCS7Message::LoadFromBuffer(const void* buffer, size_t size) {
    tree_->Clear();
    Data.clear();
    if (buffer == nullptr || size == 0 || tree_->LoadOneFromBuffer(buffer, size) < 0) {
        tree_->Clear();
        return SB_PKCS7_ERROR_INVALID_ASN_DATA;
    }
    return ReadContent();
}

int32_t TElPKCS7Message::ReadContent() {
    if (tree_->GetCount() < 1) return SB_PKCS7_ERROR_NO_DATA;
    const TElASN1CustomTag* top = tree_->GetChild(0);
    if (NoContentInfo) {
        if (ContentType < ctData || ContentType > ctAuthenticatedData)
            return SB_PKCS7_ERROR_UNKNOWN_DATA_TYPE;
        return Dispatch(top);
    }
    if (!top->IsConstrained()) return SB_PKCS7_ERROR_INVALID_CONTENT_INFO;
    const auto& info = static_cast<const TElASN1ConstrainedTag&>(*top);
    const TElASN1SimpleTag* oid = PrimitiveChild(info, 0, 0x06);
    if (oid == nullptr) return SB_PKCS7_ERROR_INVALID_CONTENT_INFO;
    const TElASN1CustomTag* content = nullptr;
    if (info.GetCount() >= 2) {
        // The [0]'s tag byte is not compared: some writers use other context tags here.
        const TElASN1CustomTag* wrapper = info.GetChild(1);
        if (!wrapper->IsConstrained() || static_cast<const TElASN1ConstrainedTag&>(*wrapper).GetCount() < 1)
            return SB_PKCS7_ERROR_INVALID_CONTENT_INFO;
        content = static_cast<const TElASN1ConstrainedTag&>(*wrapper).GetChild(0);
    }
    const ByteString type = oid->GetContent();
    for (size_t i = 0; i < kContentTypeOIDs.size(); ++i) {
        if (type == kContentTypeOIDs[i]) {
            ContentType = TSBPKCS7ContentType(i);
            return Dispatch(content);
        }
    }
    return SB_PKCS7_ERROR_UNKNOWN_DATA_TYPE;
}

int32_t TElPKCS7Message::Dispatch(const TElASN1CustomTag* content) {
    switch (ContentType) {
        case ctData:
            return ReadData(content);
        case ctSignedData:
            return content == nullptr ? SB_PKCS7_ERROR_INVALID_SIGNED_DATA : ReadSignedData(content);
        case ctEnvelopedData:
            return content == nullptr ? SB_PKCS7_ERROR_INVALID_ENVELOPED_DATA : ReadEnvelopedData(content);
        case ctSignedAndEnvelopedData:
            return content == nullptr ? SB_PKCS7_ERROR_INVALID_SIGNED_AND_ENVELOPED_DATA
                                      : ReadSignedAndEnvelopedData(content);
        case ctDigestedData:
            return content == nullptr ? SB_PKCS7_ERROR_INVALID_DIGESTED_DATA : ReadDigestedData(content);
        case ctEncryptedData:
            return content == nullptr ? SB_PKCS7_ERROR_INVALID_ENCRYPTED_DATA : ReadEncryptedData(content);
        default:
            return content == nullptr ? SB_PKCS7_ERROR_INVALID_ENCRYPTED_DATA
                                      : ReadAuthenticatedData(content);
    }
}

int32_t TElPKCS7Message::ReadData(const TElASN1CustomTag* content) {
    Data.clear();
    if (content == nullptr) return 0;
    if (content->GetTagNumber() != 4) return SB_PKCS7_ERROR_INVALID_DATA;
    if (content->IsConstrained()) {
        if (!JoinedContent(static_cast<const TElASN1ConstrainedTag&>(*content), Data)) {
            Data.clear();
            return SB_PKCS7_ERROR_INVALID_DATA;
        }
        return 0;
    }
    Data = static_cast<const TElASN1SimpleTag&>(*content).GetContent();
    return 0;
}

// DigestedData ::= SEQUENCE { version, digestAlgorithm, contentInfo, digest } (RFC 2315 12).
int32_t TElPKCS7Message::ReadDigestedData(const TElASN1CustomTag* content) {
    if (!content->CheckType(0x30, true)) return SB_PKCS7_ERROR_INVALID_DIGESTED_DATA;
    const auto& seq = static_cast<const TElASN1ConstrainedTag&>(*content);
    if (seq.GetCount() != 4) return SB_PKCS7_ERROR_INVALID_DIGESTED_DATA;
    const TElASN1SimpleTag* version = PrimitiveChild(seq, 0, 0x02);
    if (version == nullptr) return SB_PKCS7_ERROR_INVALID_DIGESTED_DATA;
    if (!IsVersion(*version, 0)) return SB_PKCS7_ERROR_INVALID_DIGESTED_DATA_VERSION;
    TElPKCS7DigestedData& d = *digestedData_;
    // A malformed digest AlgorithmIdentifier leaves the fields as they were: the digest
    // itself is what a verifier needs.
    ReadAlgorithmIdentifier(*seq.GetChild(1), d.DigestAlgorithm, d.DigestAlgorithmParams);
    if (!seq.GetChild(2)->IsConstrained()) return SB_PKCS7_ERROR_INVALID_DIGESTED_DATA;
    ByteString type;
    ReadContentInfo(*seq.GetChild(2), d.Content, type);
    const TElASN1SimpleTag* digest = PrimitiveChild(seq, 3, 0x04);
    if (digest == nullptr) return SB_PKCS7_ERROR_INVALID_DIGESTED_DATA;
    d.Digest = digest->GetContent();
    return 0;
}

// EncryptedData ::= SEQUENCE { version, encryptedContentInfo } (RFC 2315 13).
int32_t TElPKCS7Message::ReadEncryptedData(const TElASN1CustomTag* content) {
    if (!content->CheckType(0x30, true)) return SB_PKCS7_ERROR_INVALID_ENCRYPTED_DATA;
    const auto& seq = static_cast<const TElASN1ConstrainedTag&>(*content);
    if (seq.GetCount() != 2) return SB_PKCS7_ERROR_INVALID_ENCRYPTED_DATA;
    const TElASN1SimpleTag* version = PrimitiveChild(seq, 0, 0x02);
    if (version == nullptr) return SB_PKCS7_ERROR_INVALID_ENCRYPTED_DATA;
    if (!IsVersion(*version, 0)) return SB_PKCS7_ERROR_INVALID_ENCRYPTED_DATA_VERSION;
    if (!seq.GetChild(1)->IsConstrained()) return SB_PKCS7_ERROR_INVALID_ENCRYPTED_DATA;
    return ReadEncryptedContentInfo(*seq.GetChild(1), encryptedData_->EncryptedContent);
}

// EncryptedContentInfo ::= SEQUENCE { contentType, contentEncryptionAlgorithm,
// encryptedContent [0] IMPLICIT OCTET STRING OPTIONAL } (RFC 2315 10.1): the content may be
// primitive or segmented (BER).
int32_t TElPKCS7Message::ReadEncryptedContentInfo(const TElASN1CustomTag& tag,
                                                  TElPKCS7EncryptedContent& content) {
    if (!tag.CheckType(0x30, true)) return SB_PKCS7_ERROR_INVALID_ENCRYPTED_CONTENT_INFO;
    const auto& seq = static_cast<const TElASN1ConstrainedTag&>(tag);
    if (seq.GetCount() < 3) return SB_PKCS7_ERROR_INVALID_ENCRYPTED_CONTENT_INFO;
    const TElASN1SimpleTag* type = PrimitiveChild(seq, 0, 0x06);
    if (type == nullptr) return SB_PKCS7_ERROR_INVALID_ENCRYPTED_CONTENT_INFO;
    content.ContentType = type->GetContent();
    if (const int32_t r = ReadAlgorithmIdentifier(*seq.GetChild(1), content.ContentEncryptionAlgorithm,
                                                  content.ContentEncryptionAlgorithmParams);
        r != 0)
        return r;
    content.ClearParts();
    const TElASN1CustomTag* encrypted = seq.GetChild(2);
    if (encrypted->CheckType(0x80, false)) {
        content.AddPartFromSource(static_cast<const TElASN1SimpleTag&>(*encrypted).DataSource());
        return 0;
    }
    if (!encrypted->CheckType(0xA0, true)) return SB_PKCS7_ERROR_INVALID_ENCRYPTED_CONTENT_INFO;
    const auto& segments = static_cast<const TElASN1ConstrainedTag&>(*encrypted);
    for (int i = 0; i < segments.GetCount(); ++i) {
        const TElASN1SimpleTag* segment = PrimitiveChild(segments, i, 0x04);
        if (segment == nullptr) return SB_PKCS7_ERROR_INVALID_ENCRYPTED_CONTENT_INFO;
        content.AddPartFromSource(segment->DataSource());
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Writing

bool TElPKCS7Message::SaveToBuffer(void* buffer, size_t& size) {
    BuildTree();
    const TElASN1CustomTag& top = *tree_->GetChild(0);
    const size_t needed = size_t(top.GetEncodedSize());
    if (buffer == nullptr || size < needed) {
        size = needed;
        return false;
    }
    return top.SaveToBuffer(buffer, size);
}

void TElPKCS7Message::BuildTree() {
    tree_->Clear();
    TElASN1ConstrainedTag& info = AddConstrainedChild(*tree_, 0x30);
    info.IndefiniteLength = IndefiniteLength;
    AddSimpleChild(info, 0x06, PKCS7ContentTypeOID(ContentType));
    TElASN1ConstrainedTag& explicitTag = AddConstrainedChild(info, 0xA0);
    explicitTag.IndefiniteLength = IndefiniteLength;
    switch (ContentType) {
        case ctData:
            AddSimpleChild(explicitTag, 0x04, Data);
            break;
        case ctSignedData:
            WriteSignedData(AddConstrainedChild(explicitTag, 0x30));
            break;
        case ctEnvelopedData:
            WriteEnvelopedData(AddConstrainedChild(explicitTag, 0x30));
            break;
        case ctSignedAndEnvelopedData:
            WriteSignedAndEnvelopedData(AddConstrainedChild(explicitTag, 0x30));
            break;
        case ctDigestedData:
            WriteDigestedData(AddConstrainedChild(explicitTag, 0x30));
            break;
        case ctEncryptedData:
            WriteEncryptedData(AddConstrainedChild(explicitTag, 0x30));
            break;
        default:
            WriteAuthenticatedData(AddConstrainedChild(explicitTag, 0x30));
            break;
    }
}

void TElPKCS7Message::WriteDigestedData(TElASN1ConstrainedTag& tag) {
    const TElPKCS7DigestedData& d = *digestedData_;
    tag.IndefiniteLength = IndefiniteLength;
    AddVersion(tag, d.Version);
    WriteAlgorithmIdentifier(AddConstrainedChild(tag, 0x30), d.DigestAlgorithm, d.DigestAlgorithmParams);
    TElASN1ConstrainedTag& inner = AddConstrainedChild(tag, 0x30);
    AddSimpleChild(inner, 0x06, PKCS7ContentTypeOID(ctData));
    AddSimpleChild(AddConstrainedChild(inner, 0xA0), 0x04, d.Content);
    AddSimpleChild(tag, 0x04, d.Digest);
}

void TElPKCS7Message::WriteEncryptedData(TElASN1ConstrainedTag& tag) {
    tag.IndefiniteLength = IndefiniteLength;
    AddVersion(tag, encryptedData_->Version);
    WriteEncryptedContentInfo(AddConstrainedChild(tag, 0x30), encryptedData_->EncryptedContent);
}

void TElPKCS7Message::WriteEncryptedContentInfo(TElASN1ConstrainedTag& tag,
                                                TElPKCS7EncryptedContent& content) {
    tag.TagByte = 0x30;
    tag.IndefiniteLength = IndefiniteLength;
    AddSimpleChild(tag, 0x06, content.ContentType);
    WriteAlgorithmIdentifier(AddConstrainedChild(tag, 0x30), content.ContentEncryptionAlgorithm,
                             content.ContentEncryptionAlgorithmParams);
    content.FirstPart();
    TElASN1SimpleTag* octets = nullptr;
    if (content.ImplicitEncryptedContent) {
        octets = &AddSimpleChild(tag, 0x80);
    } else {
        TElASN1ConstrainedTag& explicitTag = AddConstrainedChild(tag, 0xA0);
        explicitTag.IndefiniteLength = IndefiniteLength;
        octets = &AddSimpleChild(explicitTag, 0x04);
    }
    // One part goes on as its data source, without copying its bytes.
    if (content.PartCount() == 1)
        content.GetPart(0)->CopyTo(octets->DataSource());
    else
        octets->SetContent(content.GetEncryptedContent());
}
