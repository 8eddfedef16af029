// pki/SBPKCS7_enveloped.cpp: enveloped, signed-and-enveloped and authenticated data, and
// their key-transport recipients.
#include "pki/SBPKCS7.h"
#include "pki/SBPKCS7Tree.h"

using namespace pkcs7tree;

namespace {

// A version that must be 0 where only the last byte is looked at: a primitive INTEGER (else
// malformed) whose last content byte is 0 (else the version code; no content byte at all is a
// wrong version too).
int32_t CheckLastByteZero(const TElASN1ConstrainedTag& seq, int index, int32_t malformed,
                          int32_t wrongVersion) {
    const TElASN1SimpleTag* version = PrimitiveChild(seq, index, 0x02);
    if (version == nullptr) return malformed;
    const ByteString v = version->GetContent();
    if (v.empty() || v.back() != 0) return wrongVersion;
    return 0;
}

}  // namespace

TElPKCS7Signer* TElPKCS7SignedAndEnvelopedData::GetSigner(int32_t index) const {
    if (index < 0 || index >= Signers.Count()) return nullptr;
    return Signers.GetItem(index);
}

bool TElPKCS7AuthenticatedData::RemoveRecipient(int32_t index) {
    if (index < 0 || index >= Recipients.Count()) return false;
    Recipients.Delete(index);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Readers

// EnvelopedData ::= SEQUENCE { version, recipientInfos SET, encryptedContentInfo } (RFC 2315
// 10.1); originatorInfo and unprotectedAttrs of CMS are not accepted.
int32_t TElPKCS7Message::ReadEnvelopedData(const TElASN1CustomTag* content) {
    if (!content->CheckType(0x30, true)) return SB_PKCS7_ERROR_INVALID_ENVELOPED_DATA;
    const auto& seq = static_cast<const TElASN1ConstrainedTag&>(*content);
    if (seq.GetCount() != 3) return SB_PKCS7_ERROR_INVALID_ENVELOPED_DATA;
    if (const int32_t r = CheckLastByteZero(seq, 0, SB_PKCS7_ERROR_INVALID_ENVELOPED_DATA,
                                            SB_PKCS7_ERROR_INVALID_ENVELOPED_DATA_VERSION);
        r != 0)
        return r;
    TElPKCS7EnvelopedData& ed = *envelopedData_;
    ed.ClearRecipients();
    if (const int32_t r = ReadRecipients(*seq.GetChild(1), ed.Recipients); r != 0) return r;
    if (!seq.GetChild(2)->CheckType(0x30, true)) return SB_PKCS7_ERROR_INVALID_ENVELOPED_DATA;
    return ReadEncryptedContentInfo(*seq.GetChild(2), ed.EncryptedContent);
}

int32_t TElPKCS7Message::ReadRecipients(const TElASN1CustomTag& tag, TElPKCS7RecipientList& list) {
    if (!tag.CheckType(0x31, true)) return SB_PKCS7_ERROR_INVALID_RECIPIENT_INFOS;
    const auto& set = static_cast<const TElASN1ConstrainedTag&>(tag);
    for (int i = 0; i < set.GetCount(); ++i) {
        TElPKCS7Recipient* recipient = list.GetItem(list.Add(std::make_unique<TElPKCS7Recipient>()));
        if (const int32_t r = ReadRecipient(*set.GetChild(i), *recipient); r != 0) return r;
    }
    return 0;
}

// KeyTransRecipientInfo ::= SEQUENCE { version (0), issuerAndSerialNumber,
// keyEncryptionAlgorithm, encryptedKey OCTET STRING } (RFC 2315 10.2).
int32_t TElPKCS7Message::ReadRecipient(const TElASN1CustomTag& tag, TElPKCS7Recipient& recipient) {
    if (!tag.CheckType(0x30, true)) return SB_PKCS7_ERROR_INVALID_RECIPIENT_INFO;
    const auto& seq = static_cast<const TElASN1ConstrainedTag&>(tag);
    if (seq.GetCount() < 4) return SB_PKCS7_ERROR_INVALID_RECIPIENT_INFO;
    if (const int32_t r = CheckLastByteZero(seq, 0, SB_PKCS7_ERROR_INVALID_RECIPIENT_INFO,
                                            SB_PKCS7_ERROR_INVALID_RECIPIENT_INFO_VERSION);
        r != 0)
        return r;
    if (const int32_t r = ReadIssuerAndSerialNumber(*seq.GetChild(1), recipient.Issuer); r != 0) return r;
    if (const int32_t r = ReadAlgorithmIdentifier(*seq.GetChild(2), recipient.KeyEncryptionAlgorithm,
                                                  recipient.KeyEncryptionAlgorithmParams);
        r != 0)
        return r;
    const TElASN1SimpleTag* key = PrimitiveChild(seq, 3, 0x04);
    if (key == nullptr) return SB_PKCS7_ERROR_INVALID_ENCRYPTED_KEY;
    recipient.EncryptedKey = key->GetContent();
    return 0;
}

// SignedAndEnvelopedData ::= SEQUENCE { version (1), recipientInfos, digestAlgorithms,
// encryptedContentInfo, certificates [0] OPTIONAL, crls [1] OPTIONAL, signerInfos } (RFC 2315
// 11.1).
int32_t TElPKCS7Message::ReadSignedAndEnvelopedData(const TElASN1CustomTag* content) {
    constexpr int32_t bad = SB_PKCS7_ERROR_INVALID_SIGNED_AND_ENVELOPED_DATA;
    if (!content->CheckType(0x30, true)) return bad;
    const auto& seq = static_cast<const TElASN1ConstrainedTag&>(*content);
    const int n = seq.GetCount();
    if (n < 5) return bad;
    const TElASN1SimpleTag* version = PrimitiveChild(seq, 0, 0x02);
    if (version == nullptr) return bad;
    if (!IsVersion(*version, 1)) return SB_PKCS7_ERROR_INVALID_SIGNED_AND_ENVELOPED_DATA_VERSION;
    TElPKCS7SignedAndEnvelopedData& sed = *signedAndEnvelopedData_;
    if (ConstructedChild(seq, 1, 0x31) == nullptr) return bad;
    sed.Recipients.Clear();
    if (const int32_t r = ReadRecipients(*seq.GetChild(1), sed.Recipients); r != 0) return r;
    if (!seq.GetChild(3)->IsConstrained()) return bad;
    if (const int32_t r = ReadEncryptedContentInfo(*seq.GetChild(3), sed.EncryptedContent); r != 0) return r;
    const TElASN1CustomTag* fifth = seq.GetChild(4);
    if (!fifth->IsConstrained()) return bad;
    int signers;
    if (fifth->TagByte == 0xA0 && n >= 6) {
        if (!ReadCertificates(static_cast<const TElASN1ConstrainedTag&>(*fifth), sed.Certificates))
            return bad;
        if (seq.GetChild(5)->TagByte == 0xA1 && n >= 7) {
            signers = 6;
        } else {
            if (seq.GetChild(5)->TagByte != 0x31) return bad;
            signers = 5;
        }
    } else if (fifth->TagByte == 0xA1 && n >= 6) {
        sed.Certificates.Clear();
        if (ConstructedChild(seq, 5, 0x31) == nullptr) return bad;
        signers = 5;
    } else if (fifth->TagByte == 0x31) {
        sed.Certificates.Clear();
        signers = 4;
    } else {
        return bad;
    }
    sed.Signers.Clear();
    return ReadSigners(*seq.GetChild(signers), &sed.Signers);
}

// AuthenticatedData ::= SEQUENCE { version, originatorInfo [0] OPTIONAL, recipientInfos,
// macAlgorithm, digestAlgorithm [1] OPTIONAL, encapContentInfo, authAttrs [2] OPTIONAL, mac
// OCTET STRING, unauthAttrs [3] OPTIONAL } (RFC 5652 9.1).
int32_t TElPKCS7Message::ReadAuthenticatedData(const TElASN1CustomTag* content) {
    constexpr int32_t bad = SB_PKCS7_ERROR_INVALID_AUTHENTICATED_DATA;
    if (!content->CheckType(0x30, true)) return SB_PKCS7_ERROR_INVALID_ENCRYPTED_DATA;
    const auto& seq = static_cast<const TElASN1ConstrainedTag&>(*content);
    if (seq.GetCount() < 1) return bad;
    const TElASN1SimpleTag* version = PrimitiveChild(seq, 0, 0x02);
    if (version == nullptr) return bad;
    if (!IsVersion(*version, 0)) return SB_PKCS7_ERROR_INVALID_AUTHENTICATED_DATA_VERSION;
    TElPKCS7AuthenticatedData& ad = *authenticatedData_;
    int p = 1;
    if (seq.GetChild(p) != nullptr && seq.GetChild(p)->TagByte == 0xA0) ++p;  // originatorInfo, skipped
    if (seq.GetChild(p) == nullptr) return bad;
    ad.Recipients.Clear();
    if (const int32_t r = ReadRecipients(*seq.GetChild(p), ad.Recipients); r != 0) return r;
    ++p;
    if (seq.GetChild(p) == nullptr) return bad;
    if (const int32_t r = ReadAlgorithmIdentifier(*seq.GetChild(p), ad.MacAlgorithm, ad.MacAlgorithmParams);
        r != 0)
        return r;
    ++p;
    if (seq.GetChild(p) == nullptr) return bad;
    if (seq.GetChild(p)->TagByte == 0xA1) {
        if (const int32_t r =
                ReadAlgorithmIdentifier(*seq.GetChild(p), ad.DigestAlgorithm, ad.DigestAlgorithmParams, true);
            r != 0)
            return r;
        ++p;
    }
    if (seq.GetChild(p) == nullptr || !seq.GetChild(p)->IsConstrained()) return bad;
    ad.ClearContentParts();
    if (!ReadEncapsulatedContent(*seq.GetChild(p), ad, ad.ContentType)) return bad;
    ++p;
    if (seq.GetChild(p) == nullptr) return bad;
    ad.AuthenticatedAttributes.SetCount(0);
    ad.UnauthenticatedAttributes.SetCount(0);
    if (const TElASN1ConstrainedTag* auth = ConstructedChild(seq, p, 0xA2); auth != nullptr) {
        if (const int32_t r = ReadPKCS7Attributes(*auth, ad.AuthenticatedAttributes); r != 0) return r;
        ++p;
    }
    const TElASN1SimpleTag* mac = PrimitiveChild(seq, p, 0x04);
    if (mac == nullptr) return bad;
    ad.Mac = mac->GetContent();
    ++p;
    if (seq.GetChild(p) == nullptr) return 0;
    const TElASN1ConstrainedTag* unauth = ConstructedChild(seq, p, 0xA3);
    if (unauth == nullptr) return bad;
    return ReadPKCS7Attributes(*unauth, ad.UnauthenticatedAttributes);
}

// ---------------------------------------------------------------------------------------------
// Writers

void TElPKCS7Message::WriteEnvelopedData(TElASN1ConstrainedTag& tag) {
    TElPKCS7EnvelopedData& ed = *envelopedData_;
    tag.TagByte = 0x30;
    tag.IndefiniteLength = IndefiniteLength;
    AddVersion(tag, 0);
    WriteRecipients(AddConstrainedChild(tag, 0x31), ed.Recipients);
    WriteEncryptedContentInfo(AddConstrainedChild(tag, 0x30), ed.EncryptedContent);
}

void TElPKCS7Message::WriteRecipients(TElASN1ConstrainedTag& tag, const TElPKCS7RecipientList& recipients) {
    tag.TagByte = 0x31;
    for (int i = 0; i < recipients.Count(); ++i)
        WriteRecipient(AddConstrainedChild(tag, 0x30), *recipients.GetItem(i));
}

void TElPKCS7Message::WriteRecipient(TElASN1ConstrainedTag& tag, const TElPKCS7Recipient& recipient) {
    tag.TagByte = 0x30;
    AddVersion(tag, 0);
    WriteIssuerAndSerialNumber(AddConstrainedChild(tag, 0x30), recipient.Issuer);
    WriteAlgorithmIdentifier(AddConstrainedChild(tag, 0x30), recipient.KeyEncryptionAlgorithm,
                             recipient.KeyEncryptionAlgorithmParams);
    AddSimpleChild(tag, 0x04, recipient.EncryptedKey);
}

void TElPKCS7Message::WriteSignedAndEnvelopedData(TElASN1ConstrainedTag& tag) {
    TElPKCS7SignedAndEnvelopedData& sed = *signedAndEnvelopedData_;
    tag.TagByte = 0x30;
    tag.IndefiniteLength = IndefiniteLength;
    AddVersion(tag, sed.Version);
    WriteRecipients(AddConstrainedChild(tag, 0x31), sed.Recipients);
    WriteDigestAlgorithms(AddConstrainedChild(tag, 0x31), sed.Signers);
    WriteEncryptedContentInfo(AddConstrainedChild(tag, 0x30), sed.EncryptedContent);
    if (sed.Certificates.GetCount() > 0) WriteCertificates(AddConstrainedChild(tag, 0xA0), sed.Certificates);
    WriteSigners(AddConstrainedChild(tag, 0x31), sed.Signers);
}

void TElPKCS7Message::WriteAuthenticatedData(TElASN1ConstrainedTag& tag) {
    TElPKCS7AuthenticatedData& ad = *authenticatedData_;
    tag.TagByte = 0x30;
    tag.IndefiniteLength = IndefiniteLength;
    AddVersion(tag, ad.Version);
    WriteRecipients(AddConstrainedChild(tag, 0x31), ad.Recipients);
    WriteAlgorithmIdentifier(AddConstrainedChild(tag, 0x30), ad.MacAlgorithm, {});
    const bool authenticated = ad.AuthenticatedAttributes.GetCount() > 0;
    if (authenticated) WriteAlgorithmIdentifier(AddConstrainedChild(tag, 0xA1), ad.DigestAlgorithm, {}, 0xA1);
    TElASN1ConstrainedTag& encap = AddConstrainedChild(tag, 0x30);
    AddSimpleChild(encap, 0x06, ad.ContentType);
    TElASN1ConstrainedTag& explicitTag = AddConstrainedChild(encap, 0xA0);
    if (ad.ContentPartCount() > 1) {
        TElASN1ConstrainedTag& segmented = AddConstrainedChild(explicitTag, 0x24);
        for (int32_t i = 0; i < ad.ContentPartCount(); ++i)
            ad.GetContentPart(i)->CopyTo(AddSimpleChild(segmented, 0x04).DataSource());
    } else {
        ad.FirstContentPart().CopyTo(AddSimpleChild(explicitTag, 0x04).DataSource());
    }
    if (authenticated) WritePKCS7Attributes(AddConstrainedChild(tag, 0xA2), ad.AuthenticatedAttributes, 0xA2);
    AddSimpleChild(tag, 0x04, ad.Mac);
    if (ad.UnauthenticatedAttributes.GetCount() > 0)
        WritePKCS7Attributes(AddConstrainedChild(tag, 0xA3), ad.UnauthenticatedAttributes, 0xA3);
}
