// pki/SBPKCS7_signed.cpp: signed data, signers, issuers, attributes and the certificates a
// message carries.
#include <algorithm>

#include "pki/SBPKCS7.h"
#include "pki/SBPKCS7Tree.h"

using namespace pkcs7tree;

// The digestAlgorithms SET: each signer's digest OID once, in order of first occurrence, with
// NULL parameters.
void WriteDigestAlgorithms(TElASN1ConstrainedTag& set, const TElPKCS7SignerList& signers) {
    std::vector<ByteString> seen;
    for (int i = 0; i < signers.Count(); ++i) {
        const ByteString& oid = signers.GetItem(i)->DigestAlgorithm;
        if (std::find(seen.begin(), seen.end(), oid) != seen.end()) continue;
        seen.push_back(oid);
        WriteAlgorithmIdentifier(AddConstrainedChild(set, 0x30), oid, {});
    }
}

// ---------------------------------------------------------------------------------------------
// Readers

// SignedData ::= SEQUENCE { version, digestAlgorithms SET, encapContentInfo, certificates [0]
// OPTIONAL, crls [1] OPTIONAL, signerInfos SET } (RFC 5652 5.1). The CRLs are skipped.
int32_t TElPKCS7Message::ReadSignedData(const TElASN1CustomTag* content) {
    if (!content->CheckType(0x30, true)) return SB_PKCS7_ERROR_INVALID_SIGNED_DATA;
    const auto& seq = static_cast<const TElASN1ConstrainedTag&>(*content);
    const int n = seq.GetCount();
    if (n < 4) return SB_PKCS7_ERROR_INVALID_SIGNED_DATA;
    const TElASN1SimpleTag* version = PrimitiveChild(seq, 0, 0x02);
    if (version == nullptr) return SB_PKCS7_ERROR_INVALID_SIGNED_DATA;
    // Versions 1, 3 and, where CMS writes them, 2 (RFC 5652 5.1): only the last byte counts.
    const ByteString v = version->GetContent();
    if (v.empty() || uint8_t(v.back()) < 1 || uint8_t(v.back()) > 3)
        return SB_PKCS7_ERROR_INVALID_SIGNED_DATA_VERSION;
    TElPKCS7SignedData& sd = *signedData_;
    sd.Version = uint8_t(v.back());
    if (ConstructedChild(seq, 1, 0x31) == nullptr || ConstructedChild(seq, 2, 0x30) == nullptr)
        return SB_PKCS7_ERROR_INVALID_SIGNED_DATA;
    sd.ClearContentParts();
    if (!ReadEncapsulatedContent(*seq.GetChild(2), sd, sd.EncapsulatedContentType))
        return SB_PKCS7_ERROR_INVALID_SIGNED_DATA;
    int signers = 3;
    if (const TElASN1ConstrainedTag* certs = ConstructedChild(seq, 3, 0xA0); certs != nullptr && n >= 5) {
        if (!ReadCertificates(*certs, sd.Certificates)) return SB_PKCS7_ERROR_INVALID_SIGNED_DATA;
        signers = (ConstructedChild(seq, 4, 0xA1) != nullptr && n >= 6) ? 5 : 4;
    } else if (ConstructedChild(seq, 3, 0xA1) != nullptr && n >= 5) {
        signers = 4;
    } else {
        sd.Certificates.Clear();
    }
    if (ConstructedChild(seq, signers, 0x31) == nullptr) return SB_PKCS7_ERROR_INVALID_SIGNED_DATA;
    sd.Signers.Clear();
    return ReadSigners(*seq.GetChild(signers), &sd.Signers);
}

int32_t TElPKCS7Message::ReadSigners(const TElASN1CustomTag& tag, TElPKCS7SignerList* list) {
    if (!tag.IsConstrained()) return SB_PKCS7_ERROR_INVALID_SIGNER_INFOS;
    if (list == nullptr) return SB_PKCS7_ERROR_INTERNAL_ERROR;
    const auto& set = static_cast<const TElASN1ConstrainedTag&>(tag);
    for (int i = 0; i < set.GetCount(); ++i) {
        TElPKCS7Signer* signer = list->GetItem(list->Add(std::make_unique<TElPKCS7Signer>()));
        if (const int32_t r = ReadSigner(*set.GetChild(i), *signer); r != 0) return r;
    }
    return 0;
}

// SignerInfo ::= SEQUENCE { version, issuerAndSerialNumber, digestAlgorithm,
// authenticatedAttributes [0] OPTIONAL, digestEncryptionAlgorithm, encryptedDigest,
// unauthenticatedAttributes [1] OPTIONAL } (RFC 2315 9.2). Version 1 only: the subject key
// identifier form of CMS (version 3) is not read.
int32_t ReadSigner(const TElASN1CustomTag& tag, TElPKCS7Signer& signer) {
    signer.AuthenticatedAttributes.SetCount(0);
    signer.UnauthenticatedAttributes.SetCount(0);
    if (!tag.CheckType(0x30, true)) return SB_PKCS7_ERROR_INVALID_SIGNER_INFO;
    const auto& seq = static_cast<const TElASN1ConstrainedTag&>(tag);
    if (seq.GetCount() < 5) return SB_PKCS7_ERROR_INVALID_SIGNER_INFO;
    const TElASN1SimpleTag* version = PrimitiveChild(seq, 0, 0x02);
    if (version == nullptr) return SB_PKCS7_ERROR_INVALID_SIGNER_INFO;
    if (!IsVersion(*version, 1)) return SB_PKCS7_ERROR_INVALID_SIGNER_INFO_VERSION;
    signer.EncodedValue = SaveTagToString(tag);
    signer.Version = 1;
    if (const int32_t r = ReadIssuerAndSerialNumber(*seq.GetChild(1), signer.Issuer); r != 0) return r;
    if (const int32_t r =
            ReadAlgorithmIdentifier(*seq.GetChild(2), signer.DigestAlgorithm, signer.DigestAlgorithmParams);
        r != 0)
        return r;
    int p = 3;
    if (const TElASN1ConstrainedTag* attrs = ConstructedChild(seq, p, 0xA0); attrs != nullptr) {
        if (const int32_t r = ReadPKCS7Attributes(*attrs, signer.AuthenticatedAttributes); r != 0) return r;
        // The signature covers the attributes as a SET OF (RFC 5652 5.4).
        signer.AuthenticatedAttributesPlain = SaveTagToString(*attrs);
        signer.AuthenticatedAttributesPlain[0] = char(0x31);
        ++p;
    }
    const TElASN1CustomTag* algorithm = seq.GetChild(p);
    if (algorithm == nullptr) return SB_PKCS7_ERROR_INVALID_SIGNER_INFO;
    if (const int32_t r = ReadAlgorithmIdentifier(*algorithm, signer.DigestEncryptionAlgorithm,
                                                  signer.DigestEncryptionAlgorithmParams);
        r != 0)
        return r;
    ++p;
    const TElASN1SimpleTag* digest = PrimitiveChild(seq, p, 0x04);
    if (digest == nullptr) return SB_PKCS7_ERROR_INVALID_SIGNER_INFO;
    signer.EncryptedDigest = digest->GetContent();
    ++p;
    const TElASN1ConstrainedTag* unauth = ConstructedChild(seq, p, 0xA1);
    if (unauth == nullptr) return 0;
    return ReadPKCS7Attributes(*unauth, signer.UnauthenticatedAttributes);
}

// IssuerAndSerialNumber ::= SEQUENCE { issuer Name, serialNumber INTEGER } (RFC 5652 10.2.4).
// Name entries are appended to what the issuer holds; a SET's position is its entries' group.
int32_t ReadIssuerAndSerialNumber(const TElASN1CustomTag& tag, TElPKCS7Issuer& issuer) {
    if (!tag.CheckType(0x30, true)) return SB_PKCS7_ERROR_INVALID_ISSUER;
    const auto& seq = static_cast<const TElASN1ConstrainedTag&>(tag);
    const TElASN1ConstrainedTag* name = ConstructedChild(seq, 0, 0x30);
    if (seq.GetCount() < 2 || name == nullptr) return SB_PKCS7_ERROR_INVALID_ISSUER;
    for (int i = 0; i < name->GetCount(); ++i) {
        const TElASN1ConstrainedTag* set = ConstructedChild(*name, i, 0x31);
        if (set == nullptr || set->GetCount() < 1) return SB_PKCS7_ERROR_INVALID_ISSUER;
        for (int j = 0; j < set->GetCount(); ++j) {
            const TElASN1ConstrainedTag* atv = ConstructedChild(*set, j, 0x30);
            if (atv == nullptr || atv->GetCount() != 2) return SB_PKCS7_ERROR_INVALID_ISSUER;
            const TElASN1SimpleTag* oid = PrimitiveChild(*atv, 0, 0x06);
            if (oid == nullptr) return SB_PKCS7_ERROR_INVALID_ISSUER;
            const TElASN1CustomTag* value = atv->GetChild(1);
            const int32_t index =
                value->IsConstrained()
                    ? issuer.Issuer.Add(oid->GetContent(), SaveTagToString(*value), 0x04)
                    : issuer.Issuer.Add(oid->GetContent(),
                                        static_cast<const TElASN1SimpleTag&>(*value).GetContent(),
                                        value->TagByte);
            issuer.Issuer.SetTag(index, value->IsConstrained() ? 0x04 : value->TagByte);
            issuer.Issuer.SetGroup(index, i);
        }
    }
    const TElASN1SimpleTag* serial = PrimitiveChild(seq, 1, 0x02);
    if (serial == nullptr) return SB_PKCS7_ERROR_INVALID_ISSUER;
    issuer.SerialNumber = serial->GetContent();
    return 0;
}

// SET OF Attribute, Attribute ::= SEQUENCE { attrType OID, attrValues SET OF ANY } (RFC 5652
// 5.3). The values keep their order and their encodings.
int32_t ReadPKCS7Attributes(const TElASN1CustomTag& tag, TElPKCS7Attributes& attributes) {
    attributes.SetCount(0);
    if (!tag.IsConstrained()) return SB_PKCS7_ERROR_INVALID_ATTRIBUTES;
    const auto& set = static_cast<const TElASN1ConstrainedTag&>(tag);
    for (int i = 0; i < set.GetCount(); ++i) {
        const TElASN1ConstrainedTag* attr = ConstructedChild(set, i, 0x30);
        if (attr == nullptr || attr->GetCount() < 2) return SB_PKCS7_ERROR_INVALID_ATTRIBUTES;
        const TElASN1SimpleTag* type = PrimitiveChild(*attr, 0, 0x06);
        const TElASN1ConstrainedTag* values = ConstructedChild(*attr, 1, 0x31);
        if (type == nullptr || values == nullptr) return SB_PKCS7_ERROR_INVALID_ATTRIBUTES;
        const int32_t index = attributes.GetCount();
        attributes.SetCount(index + 1);
        attributes.SetAttributeType(index, type->GetContent());
        std::vector<ByteString>* list = attributes.GetValues(index);
        for (int j = 0; j < values->GetCount(); ++j)
            list->push_back(SaveTagToString(*values->GetChild(j)));
    }
    return 0;
}

bool TElPKCS7Message::ReadCertificates(const TElASN1ConstrainedTag& tag, TElCustomCertStorage& storage) {
    storage.Clear();
    TElX509Certificate certificate;
    for (int i = 0; i < tag.GetCount(); ++i) {
        const ByteString der = SaveTagToString(*tag.GetChild(i));
        try {
            certificate.LoadFromBuffer(der.data(), der.size());
        } catch (const rtl::Exception&) {
            // Bad input is a code of the reader, not an exception out of it.
            return false;
        }
        storage.Add(&certificate, true);
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Writers

void TElPKCS7Message::WriteSignedData(TElASN1ConstrainedTag& tag) {
    TElPKCS7SignedData& sd = *signedData_;
    tag.TagByte = 0x30;
    tag.IndefiniteLength = IndefiniteLength;
    AddVersion(tag, sd.Version);
    WriteDigestAlgorithms(AddConstrainedChild(tag, 0x31), sd.Signers);
    TElASN1ConstrainedTag& encap = AddConstrainedChild(tag, 0x30);
    AddSimpleChild(encap, 0x06,
                   sd.EncapsulatedContentType.empty() ? PKCS7ContentTypeOID(ctData)
                                                      : std::string_view(sd.EncapsulatedContentType));
    TElASN1DataSource& part = sd.FirstContentPart();
    if (part.GetSize() == 0) {
        // A detached signature: no content, and the encapsulating SEQUENCE in the message's form.
        encap.IndefiniteLength = IndefiniteLength;
    } else if (RawSignedContent) {
        TElASN1SimpleTag& raw = AddSimpleChild(encap, 0xA0);
        part.CopyTo(raw.DataSource());
    } else {
        TElASN1SimpleTag& octets = AddSimpleChild(AddConstrainedChild(encap, 0xA0), 0x04);
        part.CopyTo(octets.DataSource());
    }
    if (sd.Certificates.GetCount() > 0) WriteCertificates(AddConstrainedChild(tag, 0xA0), sd.Certificates);
    WriteSigners(AddConstrainedChild(tag, 0x31), sd.Signers);
}

void TElPKCS7Message::WriteCertificates(TElASN1ConstrainedTag& tag, const TElCustomCertStorage& storage) {
    for (int32_t i = 0; i < storage.GetCount(); ++i) {
        const TElX509Certificate* c = storage.GetCertificate(i);
        // The stored DER is already a complete element.
        AddSimpleChild(tag, 0, c->GetDER()).EmitHeader = false;
    }
}

void TElPKCS7Message::WriteSigners(TElASN1ConstrainedTag& tag, const TElPKCS7SignerList& signers) {
    tag.TagByte = 0x31;
    for (int i = 0; i < signers.Count(); ++i)
        WriteSigner(AddConstrainedChild(tag, 0x30), *signers.GetItem(i));
}

void WriteSigner(TElASN1ConstrainedTag& tag, const TElPKCS7Signer& signer) {
    tag.TagByte = 0x30;
    AddVersion(tag, signer.Version);
    WriteIssuerAndSerialNumber(AddConstrainedChild(tag, 0x30), signer.Issuer);
    WriteAlgorithmIdentifier(AddConstrainedChild(tag, 0x30), signer.DigestAlgorithm, {});
    if (signer.AuthenticatedAttributes.GetCount() > 0)
        WritePKCS7Attributes(AddConstrainedChild(tag, 0xA0), signer.AuthenticatedAttributes, 0xA0);
    WriteAlgorithmIdentifier(AddConstrainedChild(tag, 0x30), signer.DigestEncryptionAlgorithm,
                             signer.DigestEncryptionAlgorithmParams);
    AddSimpleChild(tag, 0x04, signer.EncryptedDigest);
    if (signer.UnauthenticatedAttributes.GetCount() > 0)
        WritePKCS7Attributes(AddConstrainedChild(tag, 0xA1), signer.UnauthenticatedAttributes, 0xA1);
}

void WriteIssuerAndSerialNumber(TElASN1ConstrainedTag& tag, const TElPKCS7Issuer& issuer) {
    tag.TagByte = 0x30;
    issuer.Issuer.SaveToTag(AddConstrainedChild(tag, 0x30));
    AddSimpleChild(tag, 0x02, issuer.SerialNumber);
}
