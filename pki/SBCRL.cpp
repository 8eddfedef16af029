// pki/SBCRL.cpp: reading a CertificateList (RFC 5280 5.1) and answering revocation queries.
//
// Decode as the grammar reads: CertificateList { TBSCertList, signatureAlgorithm,
// signatureValue }, TBSCertList { version?, signature, issuer, thisUpdate, nextUpdate?,
// revokedCertificates?, [0] crlExtensions? }; every element that is not where the grammar puts
// it is 0x2201, so no entry is lost silently. Extension values are read through the tag tree,
// inside their own bytes.
#include "pki/SBCRL.h"

#include <cstring>

#include "crypto/base/SBASN1Tree.h"
#include "crypto/base/SBAlgorithmIdentifier.h"
#include "crypto/base/SBConstants.h"
#include "rtl/Text.h"

namespace {

constexpr std::string_view kOidAuthorityKeyIdentifier{"\x55\x1D\x23", 3};  // 2.5.29.35
constexpr std::string_view kOidIssuerAltName{"\x55\x1D\x12", 3};           // 2.5.29.18
constexpr std::string_view kOidCRLNumber{"\x55\x1D\x14", 3};               // 2.5.29.20
constexpr std::string_view kOidDeltaCRLIndicator{"\x55\x1D\x1B", 3};       // 2.5.29.27
constexpr std::string_view kOidReasonCode{"\x55\x1D\x15", 3};              // 2.5.29.21
constexpr std::string_view kOidHoldInstructionCode{"\x55\x1D\x17", 3};     // 2.5.29.23
constexpr std::string_view kOidInvalidityDate{"\x55\x1D\x18", 3};          // 2.5.29.24
constexpr std::string_view kOidCertificateIssuer{"\x55\x1D\x1D", 3};       // 2.5.29.29
// id-holdinstruction-none, -callissuer, -reject: 1.2.840.10040.2.1 to .3
constexpr std::string_view kOidHoldNone{"\x2A\x86\x48\xCE\x38\x02\x01", 7};
constexpr std::string_view kOidHoldCallIssuer{"\x2A\x86\x48\xCE\x38\x02\x02", 7};
constexpr std::string_view kOidHoldReject{"\x2A\x86\x48\xCE\x38\x02\x03", 7};

// The value as one primitive element of the given tag, or null.
struct OnePrimitive {
    TElASN1ConstrainedTag root;
    const TElASN1SimpleTag* Load(std::string_view value, uint8_t tagByte) {
        if (!LoadTagTree(root, value) || root.GetCount() != 1) return nullptr;
        return PrimitiveChild(root, 0, tagByte);
    }
};

// A non-negative INTEGER of up to 32 bits (RFC 5280 5.2.3 allows CRL numbers up to 20 octets;
// longer ones do not fit the field and leave it 0).
bool ReadNumber(std::string_view value, uint32_t& number) {
    OnePrimitive e;
    const TElASN1SimpleTag* n = e.Load(value, 0x02);
    if (n == nullptr) return false;
    ByteString c = n->GetContent();
    if (c.empty() || (uint8_t(c[0]) & 0x80) != 0) return false;
    while (c.size() > 1 && c[0] == '\0')
        c.erase(0, 1);
    if (c.size() > 4) return false;
    number = ReadTagInteger(*n);
    return true;
}

ByteString NumberValue(uint32_t n) {
    const char be[4] = {char(n >> 24), char(n >> 16), char(n >> 8), char(n)};
    return EncodeDERTLV(0x02, std::string_view(be, 4));
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// CRL extension classes

void TElAuthorityKeyIdentifierCRLExtension::Clear() {
    TElCustomExtension::Clear();
    KeyIdentifier.clear();
    AuthorityCertIssuer.Clear();
    AuthorityCertSerial.clear();
    IssuerSet = false;
}

ByteString TElAuthorityKeyIdentifierCRLExtension::GetOID() const {
    return ByteString(kOidAuthorityKeyIdentifier);
}

void TElAuthorityKeyIdentifierCRLExtension::SetValue(std::string_view value) {
    TElCustomExtension::SetValue(value);
    if (!ReadAuthorityKeyIdentifier(value, KeyIdentifier, AuthorityCertIssuer, AuthorityCertSerial, &IssuerSet))
        CheckCritical();
}

ByteString TElAuthorityKeyIdentifierCRLExtension::GetValue() const {
    if (!FValue.empty()) return FValue;
    return BuildAuthorityKeyIdentifier(KeyIdentifier, AuthorityCertIssuer, AuthorityCertSerial, false, IssuerSet);
}

ByteString TElCRLNumberCRLExtension::GetOID() const {
    return ByteString(kOidCRLNumber);
}

void TElCRLNumberCRLExtension::SetValue(std::string_view value) {
    FValue = ByteString(value);
    Number = 0;
    ReadNumber(value, Number);
}

ByteString TElCRLNumberCRLExtension::GetValue() const {
    return FValue.empty() ? NumberValue(Number) : FValue;
}

ByteString TElDeltaCRLIndicatorCRLExtension::GetOID() const {
    return ByteString(kOidDeltaCRLIndicator);
}

void TElDeltaCRLIndicatorCRLExtension::SetValue(std::string_view value) {
    FValue = ByteString(value);
    BaseCRLNumber = 0;
    ReadNumber(value, BaseCRLNumber);
}

ByteString TElDeltaCRLIndicatorCRLExtension::GetValue() const {
    return FValue.empty() ? NumberValue(BaseCRLNumber) : FValue;
}

ByteString TElReasonCodeCRLExtension::GetOID() const {
    return ByteString(kOidReasonCode);
}

void TElReasonCodeCRLExtension::SetValue(std::string_view value) {
    FValue = ByteString(value);
    Reason = rcUnspecified;
    RemoveFromCRL = false;
    OnePrimitive e;
    const TElASN1SimpleTag* code = e.Load(value, 0x0A);
    if (code == nullptr) return;
    const ByteString c = code->GetContent();
    if (c.size() != 1 || uint8_t(c[0]) > rcAACompromise || c[0] == 7) return;
    Reason = uint8_t(c[0]);
    RemoveFromCRL = Reason == rcRemoveFromCRL;
}

ByteString TElReasonCodeCRLExtension::GetValue() const {
    if (!FValue.empty()) return FValue;
    return EncodeDERTLV(0x0A, std::string(1, char(RemoveFromCRL ? uint8_t(rcRemoveFromCRL) : Reason)));
}

ByteString TElHoldInstructionCodeCRLExtension::GetOID() const {
    return ByteString(kOidHoldInstructionCode);
}

void TElHoldInstructionCodeCRLExtension::SetValue(std::string_view value) {
    FValue = ByteString(value);
    Code = 0;
    OnePrimitive e;
    const TElASN1SimpleTag* oid = e.Load(value, 0x06);
    if (oid == nullptr) return;
    const ByteString c = oid->GetContent();
    if (c == kOidHoldCallIssuer) Code = 1;
    if (c == kOidHoldReject) Code = 2;
}

ByteString TElHoldInstructionCodeCRLExtension::GetValue() const {
    if (!FValue.empty()) return FValue;
    return EncodeDERTLV(0x06, Code == 0 ? kOidHoldNone : Code == 1 ? kOidHoldCallIssuer : kOidHoldReject);
}

ByteString TElInvalidityDateCRLExtension::GetOID() const {
    return ByteString(kOidInvalidityDate);
}

void TElInvalidityDateCRLExtension::SetValue(std::string_view value) {
    FValue = ByteString(value);
    InvalidityDate = 0;
    OnePrimitive e;
    const TElASN1SimpleTag* date = e.Load(value, 0x18);
    if (date == nullptr || !ReadCertificateTime(date, InvalidityDate)) InvalidityDate = 0;
}

ByteString TElInvalidityDateCRLExtension::GetValue() const {
    if (!FValue.empty()) return FValue;
    return EncodeDERTLV(0x18, DateTimeToGeneralizedTime(InvalidityDate));
}

ByteString TElCertificateIssuerCRLExtension::GetOID() const {
    return ByteString(kOidCertificateIssuer);
}

void TElCertificateIssuerCRLExtension::SetValue(std::string_view value) {
    FValue = ByteString(value);
    Issuer.Clear();
    TElASN1ConstrainedTag root;
    if (LoadTagTree(root, value) && root.GetCount() == 1)
        if (const TElASN1ConstrainedTag* names = ConstructedChild(root, 0, 0, true)) Issuer.LoadFromTag(*names, false);
}

ByteString TElCertificateIssuerCRLExtension::GetValue() const {
    if (!FValue.empty()) return FValue;
    TElGeneralNames copy;
    copy.Assign(&Issuer);
    TElASN1ConstrainedTag names;
    copy.SaveToTag(names);
    return SaveTagToString(names);
}

// ---------------------------------------------------------------------------------------------
// Extension sets

TElCRLExtensions::TElCRLExtensions() {
    Clear();
}

void TElCRLExtensions::Clear() {
    AuthorityKeyIdentifier = std::make_unique<TElAuthorityKeyIdentifierCRLExtension>();
    IssuerAlternativeName = std::make_unique<TElAlternativeNameExtension>(true);
    CRLNumber = std::make_unique<TElCRLNumberCRLExtension>();
    DeltaCRLIndicator = std::make_unique<TElDeltaCRLIndicatorCRLExtension>();
    OtherExtensions.clear();
    Included = 0;
}

TElCRLEntryExtensions::TElCRLEntryExtensions() {
    Clear();
}

void TElCRLEntryExtensions::Clear() {
    ReasonCode = std::make_unique<TElReasonCodeCRLExtension>();
    HoldInstructionCode = std::make_unique<TElHoldInstructionCodeCRLExtension>();
    InvalidityDate = std::make_unique<TElInvalidityDateCRLExtension>();
    CertificateIssuer = std::make_unique<TElCertificateIssuerCRLExtension>();
    OtherExtensions.clear();
    Included = 0;
}

namespace {

// Extension ::= SEQUENCE { extnID, critical BOOLEAN DEFAULT FALSE, extnValue OCTET STRING };
// the object it goes to, chosen by OID.
template <class Place>
int32_t ReadExtensionList(const TElASN1ConstrainedTag& list, Place place) {
    for (int i = 0; i < list.GetCount(); ++i) {
        const TElASN1ConstrainedTag* ext = ConstructedChild(list, i, 0x30);
        if (ext == nullptr || ext->GetCount() < 2 || ext->GetCount() > 3) return SB_CRL_ERROR_INVALID_FORMAT;
        const TElASN1SimpleTag* id = PrimitiveChild(*ext, 0, 0x06);
        const TElASN1SimpleTag* flag = ext->GetCount() == 3 ? PrimitiveChild(*ext, 1, 0x01) : nullptr;
        const TElASN1SimpleTag* value = PrimitiveChild(*ext, ext->GetCount() - 1, 0x04);
        if (id == nullptr || value == nullptr || (ext->GetCount() == 3 && flag == nullptr))
            return SB_CRL_ERROR_INVALID_FORMAT;
        bool critical = false;
        if (flag != nullptr) {
            const ByteString c = flag->GetContent();
            critical = !c.empty() && c[0] != 0;
        }
        const ByteString oid = id->GetContent();
        TElCustomExtension& target = place(oid);
        target.SetOID(oid);
        target.Critical = critical;
        target.SetValue(value->GetContent());
    }
    return 0;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The list

TElCertificateRevocationList::TElCertificateRevocationList(rtl::Component* owner) : rtl::Component(owner) {}

TElCertificateRevocationList::~TElCertificateRevocationList() = default;

void TElCertificateRevocationList::ClearEntries() {
    Items.clear();
    encoded_.clear();
}

TElRevocationItem* TElCertificateRevocationList::GetItem(int32_t index) const {
    if (index < 0 || index >= GetCount()) return nullptr;
    return Items[size_t(index)].get();
}

int32_t TElCertificateRevocationList::LoadFromBuffer(const void* buffer, size_t size) {
    // A load starts from an empty list: nothing of a list loaded before survives it.
    Version = 0;
    ClearEntries();
    signedPart_.clear();
    Issuer.Clear();
    SignatureAlgorithmOID.clear();
    SignatureAlgorithmParams.clear();
    SignatureParameters.reset();
    ThisUpdate = NextUpdate = 0;
    SignatureAlgorithm = 0;
    Signature.clear();
    Extensions.Clear();
    ByteString der;
    if (!DecodeCertificateData(buffer, size, der)) return SB_CRL_ERROR_INVALID_FORMAT;
    TElASN1ConstrainedTag root;
    if (!LoadTagTree(root, der) || root.GetCount() != 1) return SB_CRL_ERROR_INVALID_FORMAT;
    const TElASN1ConstrainedTag* list = ConstructedChild(root, 0, 0x30);
    const TElASN1ConstrainedTag* tbs = list != nullptr ? ConstructedChild(*list, 0, 0x30) : nullptr;
    if (list == nullptr || list->GetCount() != 3 || tbs == nullptr) return SB_CRL_ERROR_INVALID_FORMAT;
    if (const int32_t r = ReadTBS(*tbs); r != 0) return r;
    signedPart_ = SaveTagToString(*tbs);

    ByteString oid, params;
    if (const int32_t r = ReadAlgorithmIdentifier(*list->GetChild(1), oid, params); r != 0) return r;
    SignatureAlgorithm = GetAlgorithmByOID(oid);
    // RFC 5280 5.1.1.2: the outer algorithm must be the one inside the signed part.
    if (oid != SignatureAlgorithmOID || params != SignatureAlgorithmParams) return SB_CRL_ERROR_BAD_SIGNATURE_ALGORITHM;
    const TElASN1SimpleTag* bits = PrimitiveChild(*list, 2, 0x03);
    if (bits == nullptr) return SB_CRL_ERROR_INVALID_FORMAT;
    try {
        SignatureParameters = LoadAlgorithmParameters(*list->GetChild(1));
    } catch (const EElCertificateException&) {
        return SB_PKCS7_ERROR_INVALID_ALGORITHM_IDENTIFIER;
    }
    const ByteString content = bits->GetContent();
    Signature = !content.empty() && content[0] == '\0' ? content.substr(1) : content;
    encoded_ = der;
    return 0;
}

int32_t TElCertificateRevocationList::ReadTBS(const TElASN1ConstrainedTag& tbs) {
    if (tbs.GetCount() < 1) return SB_CRL_ERROR_INVALID_FORMAT;
    int i = 0;
    if (!tbs.GetChild(0)->IsConstrained()) {
        // Version ::= INTEGER { v1(0), v2(1) }: only v2 is written (RFC 5280 5.1.2.1).
        const TElASN1SimpleTag* v = PrimitiveChild(tbs, 0, 0x02);
        const ByteString c = v != nullptr ? v->GetContent() : ByteString();
        if (v == nullptr || c.size() != 1 || (c[0] != 1 && c[0] != 2)) return SB_CRL_ERROR_INVALID_FORMAT;
        Version = 2;
        ++i;
    }
    const TElASN1CustomTag* sig = tbs.GetChild(i++);
    if (sig == nullptr) return SB_CRL_ERROR_INVALID_FORMAT;
    if (const int32_t r = ReadAlgorithmIdentifier(*sig, SignatureAlgorithmOID, SignatureAlgorithmParams); r != 0)
        return r;
    const TElASN1ConstrainedTag* issuer = ConstructedChild(tbs, i++, 0, true);
    if (issuer == nullptr || !Issuer.LoadFromTag(*issuer)) return SB_CRL_ERROR_INVALID_FORMAT;
    if (!ReadCertificateTime(tbs.GetChild(i++), ThisUpdate)) return SB_CRL_ERROR_INVALID_FORMAT;
    NextUpdate = 0;
    if (const TElASN1CustomTag* next = tbs.GetChild(i); next != nullptr && !next->IsConstrained()) {
        if (!ReadCertificateTime(next, NextUpdate)) return SB_CRL_ERROR_INVALID_FORMAT;
        ++i;
    }
    if (const TElASN1ConstrainedTag* entries = ConstructedChild(tbs, i, 0x30)) {
        if (const int32_t r = ReadEntries(*entries); r != 0) return r;
        ++i;
    }
    if (const TElASN1ConstrainedTag* wrapper = ConstructedChild(tbs, i, 0xA0)) {
        if (Version != 2) return SB_CRL_ERROR_INVALID_VERSION;
        const TElASN1ConstrainedTag* list = ConstructedChild(*wrapper, 0, 0x30);
        if (wrapper->GetCount() != 1 || list == nullptr) return SB_CRL_ERROR_INVALID_FORMAT;
        TElCRLExtensions& x = Extensions;
        const int32_t r = ReadExtensionList(*list, [&x](const ByteString& oid) -> TElCustomExtension& {
            if (oid == kOidAuthorityKeyIdentifier) {
                x.AuthorityKeyIdentifier = std::make_unique<TElAuthorityKeyIdentifierCRLExtension>();
                x.Included |= crlAuthorityKeyIdentifier;
                return *x.AuthorityKeyIdentifier;
            }
            if (oid == kOidIssuerAltName) {
                x.IssuerAlternativeName = std::make_unique<TElAlternativeNameExtension>(true);
                x.Included |= crlIssuerAlternativeName;
                return *x.IssuerAlternativeName;
            }
            if (oid == kOidCRLNumber) {
                x.CRLNumber = std::make_unique<TElCRLNumberCRLExtension>();
                x.Included |= crlCRLNumber;
                return *x.CRLNumber;
            }
            if (oid == kOidDeltaCRLIndicator) {
                x.DeltaCRLIndicator = std::make_unique<TElDeltaCRLIndicatorCRLExtension>();
                x.Included |= crlDeltaCRLIndicator;
                return *x.DeltaCRLIndicator;
            }
            x.OtherExtensions.push_back(std::make_unique<TElCustomExtension>());
            return *x.OtherExtensions.back();
        });
        if (r != 0) return r;
        ++i;
    }
    return i == tbs.GetCount() ? 0 : SB_CRL_ERROR_INVALID_FORMAT;
}

int32_t TElCertificateRevocationList::ReadEntries(const TElASN1ConstrainedTag& list) {
    for (int i = 0; i < list.GetCount(); ++i) {
        // SEQUENCE { userCertificate, revocationDate, crlEntryExtensions OPTIONAL }
        const TElASN1ConstrainedTag* entry = ConstructedChild(list, i, 0x30);
        const TElASN1SimpleTag* serial = entry != nullptr ? PrimitiveChild(*entry, 0, 0x02) : nullptr;
        if (serial == nullptr || entry->GetCount() < 2 || entry->GetCount() > 3) return SB_CRL_ERROR_INVALID_FORMAT;
        auto item = std::make_unique<TElRevocationItem>();
        item->SerialNumber = serial->GetContent();
        if (!ReadCertificateTime(entry->GetChild(1), item->RevocationDate)) return SB_CRL_ERROR_INVALID_FORMAT;
        if (entry->GetCount() == 3) {
            if (Version != 2) return SB_CRL_ERROR_INVALID_VERSION;
            const TElASN1ConstrainedTag* exts = ConstructedChild(*entry, 2, 0x30);
            if (exts == nullptr) return SB_CRL_ERROR_INVALID_FORMAT;
            TElCRLEntryExtensions& x = item->Extensions;
            const int32_t r = ReadExtensionList(*exts, [&x](const ByteString& oid) -> TElCustomExtension& {
                if (oid == kOidReasonCode) {
                    x.ReasonCode = std::make_unique<TElReasonCodeCRLExtension>();
                    x.Included |= crlReasonCode;
                    return *x.ReasonCode;
                }
                if (oid == kOidHoldInstructionCode) {
                    x.HoldInstructionCode = std::make_unique<TElHoldInstructionCodeCRLExtension>();
                    x.Included |= crlHoldInstructionCode;
                    return *x.HoldInstructionCode;
                }
                if (oid == kOidInvalidityDate) {
                    x.Included |= crlInvalidityDate;
                    return *x.InvalidityDate;
                }
                if (oid == kOidCertificateIssuer) {
                    x.CertificateIssuer = std::make_unique<TElCertificateIssuerCRLExtension>();
                    x.Included |= crlCertificateIssuer;
                    return *x.CertificateIssuer;
                }
                x.OtherExtensions.push_back(std::make_unique<TElCustomExtension>());
                return *x.OtherExtensions.back();
            });
            if (r != 0) return r;
        }
        Items.push_back(std::move(item));
    }
    return 0;
}

int32_t TElCertificateRevocationList::SaveToBuffer(void* buffer, size_t& size) const {
    if (encoded_.empty()) return SB_CRL_ERROR_NOTHING_LOADED;
    if (buffer == nullptr || size < encoded_.size()) {
        size = encoded_.size();
        return SB_CRL_ERROR_BUFFER_TOO_SMALL;
    }
    std::memcpy(buffer, encoded_.data(), encoded_.size());
    size = encoded_.size();
    return 0;
}

bool TElCertificateRevocationList::IssuerMatches(const TElRelativeDistinguishedName& certificateIssuer) const {
    auto within = [](const TElRelativeDistinguishedName& a, const TElRelativeDistinguishedName& b) {
        for (int32_t i = 0; i < a.GetCount(); ++i) {
            bool found = false;
            for (int32_t j = 0; j < b.GetCount() && !found; ++j)
                found = a.GetOID(i) == b.GetOID(j) && rtl::SameText(a.GetValue(i), b.GetValue(j));
            if (!found) return false;
        }
        return true;
    };
    return within(Issuer, certificateIssuer) && within(certificateIssuer, Issuer);
}

int32_t TElCertificateRevocationList::IndexOf(const TElX509Certificate* certificate) const {
    if (certificate == nullptr || !IssuerMatches(certificate->GetIssuerRDN())) return -1;
    const ByteString serial = certificate->GetSerialNumberAsEncoded();
    for (size_t i = 0; i < Items.size(); ++i) {
        const TElRevocationItem& item = *Items[i];
        if (item.SerialNumber != serial) continue;
        if ((item.Extensions.Included & crlReasonCode) && item.Extensions.ReasonCode->RemoveFromCRL) continue;
        return int32_t(i);
    }
    return -1;
}

bool TElCertificateRevocationList::VerifySignedBy(const TElX509Certificate* issuer) const {
    if (issuer == nullptr || encoded_.empty()) return false;
    return VerifyCertificateSignature(*issuer, SignatureAlgorithm, SignatureParameters.get(), signedPart_, Signature);
}

void TElCertificateRevocationList::Assign(const TElCertificateRevocationList* source) {
    if (source == nullptr || source->encoded_.empty()) throw ECryptoLibraryError(SInvalidCRL);
    if (source == this) return;
    const ByteString copy = source->encoded_;
    if (LoadFromBuffer(copy.data(), copy.size()) != 0) throw ECryptoLibraryError(SInvalidCRL);
}
