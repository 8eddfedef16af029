// pki/SBX509Ext.cpp: the extension classes, the per-certificate set and the reader.
//
// Every parser follows one shape: SetValue clears the object and keeps the raw value, reads
// the value as exactly one DER element, and on any failure calls CheckCritical (which raises
// for a critical extension) and stops, or goes on with the next child of a list.
#include "pki/SBX509Ext.h"

#include <algorithm>
#include <limits>

#include "crypto/base/SBASN1Tree.h"
#include "crypto/base/SBConstants.h"

namespace {

// Extension OIDs (content octets).
constexpr std::string_view kOidAuthorityKeyIdentifier{"\x55\x1D\x23", 3};     // 2.5.29.35
constexpr std::string_view kOidAuthorityKeyIdentifierOld{"\x55\x1D\x01", 3};  // 2.5.29.1
constexpr std::string_view kOidSubjectKeyIdentifier{"\x55\x1D\x0E", 3};       // 2.5.29.14
constexpr std::string_view kOidKeyUsage{"\x55\x1D\x0F", 3};                   // 2.5.29.15
constexpr std::string_view kOidPrivateKeyUsagePeriod{"\x55\x1D\x10", 3};      // 2.5.29.16
constexpr std::string_view kOidCertificatePolicies{"\x55\x1D\x20", 3};        // 2.5.29.32
constexpr std::string_view kOidPolicyMappings{"\x55\x1D\x21", 3};             // 2.5.29.33
constexpr std::string_view kOidSubjectAltName{"\x55\x1D\x11", 3};             // 2.5.29.17
constexpr std::string_view kOidIssuerAltName{"\x55\x1D\x12", 3};              // 2.5.29.18
constexpr std::string_view kOidBasicConstraints{"\x55\x1D\x13", 3};           // 2.5.29.19
constexpr std::string_view kOidBasicConstraintsOld{"\x55\x1D\x0A", 3};        // 2.5.29.10
constexpr std::string_view kOidNameConstraints{"\x55\x1D\x1E", 3};            // 2.5.29.30
constexpr std::string_view kOidPolicyConstraints{"\x55\x1D\x24", 3};          // 2.5.29.36
constexpr std::string_view kOidExtendedKeyUsage{"\x55\x1D\x25", 3};           // 2.5.29.37
constexpr std::string_view kOidCRLDistributionPoints{"\x55\x1D\x1F", 3};      // 2.5.29.31
constexpr std::string_view kOidAuthorityInfoAccess{"\x2B\x06\x01\x05\x05\x07\x01\x01", 8};
constexpr std::string_view kOidSubjectDirectoryAttributes{"\x55\x1D\x09", 3};  // 2.5.29.9
// 2.16.840.1.113730.1.n
constexpr std::string_view kOidNetscapeCertType{"\x60\x86\x48\x01\x86\xF8\x42\x01\x01", 9};
constexpr std::string_view kOidNetscapeBaseURL{"\x60\x86\x48\x01\x86\xF8\x42\x01\x02", 9};
constexpr std::string_view kOidNetscapeRevokeURL{"\x60\x86\x48\x01\x86\xF8\x42\x01\x03", 9};
constexpr std::string_view kOidNetscapeCARevokeURL{"\x60\x86\x48\x01\x86\xF8\x42\x01\x04", 9};
constexpr std::string_view kOidNetscapeRenewalURL{"\x60\x86\x48\x01\x86\xF8\x42\x01\x07", 9};
constexpr std::string_view kOidNetscapeCAPolicy{"\x60\x86\x48\x01\x86\xF8\x42\x01\x08", 9};
constexpr std::string_view kOidNetscapeServerName{"\x60\x86\x48\x01\x86\xF8\x42\x01\x0C", 9};
constexpr std::string_view kOidNetscapeComment{"\x60\x86\x48\x01\x86\xF8\x42\x01\x0D", 9};

// The value as one element: the loaded root and its only child, or null.
struct OneElement {
    TElASN1ConstrainedTag root;
    const TElASN1CustomTag* Load(std::string_view value) {
        if (!LoadTagTree(root, value) || root.GetCount() != 1) return nullptr;
        return root.GetChild(0);
    }
};

const TElASN1ConstrainedTag* AsConstructed(const TElASN1CustomTag* t, uint8_t tagByte) {
    return t != nullptr && t->CheckType(tagByte, true) ? static_cast<const TElASN1ConstrainedTag*>(t) : nullptr;
}

const TElASN1SimpleTag* AsPrimitive(const TElASN1CustomTag* t, uint8_t tagByte) {
    return t != nullptr && t->CheckType(tagByte, false) ? static_cast<const TElASN1SimpleTag*>(t) : nullptr;
}

// An INTEGER from its last four content bytes, big-endian (fewer bytes: those).
int32_t SmallInteger(const TElASN1SimpleTag& t) {
    return int32_t(ReadTagInteger(t));
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TElCustomExtension

void TElCustomExtension::Clear() {
    FOID.clear();
    FValue.clear();
}

ByteString TElCustomExtension::GetOID() const {
    return FOID;
}

void TElCustomExtension::SetOID(std::string_view oid) {
    FOID = ByteString(oid);
}

void TElCustomExtension::SetValue(std::string_view value) {
    Clear();
    FValue = ByteString(value);
}

ByteString TElCustomExtension::GetValue() const {
    return FValue;
}

void TElCustomExtension::SaveToTag(TElASN1ConstrainedTag& tag) const {
    tag.Clear();
    tag.TagByte = 0x30;
    auto add = [&](uint8_t tagByte, std::string_view content) {
        auto& t = static_cast<TElASN1SimpleTag&>(*tag.GetChild(tag.AddChild(false)));
        t.TagByte = tagByte;
        t.SetContent(content);
    };
    add(0x06, GetOID());
    add(0x01, Critical ? "\xFF" : std::string_view("\x00", 1));
    add(0x04, GetValue());
}

ByteString TElCustomExtension::SaveToDER() const {
    TElASN1ConstrainedTag tag;
    SaveToTag(tag);
    return SaveTagToString(tag);
}

void TElCustomExtension::CheckCritical() const {
    if (Critical) throw EElCertificateException(SUnrecognizedCriticalExtension);
}

// ---------------------------------------------------------------------------------------------
// Authority and subject key identifiers

void TElAuthorityKeyIdentifierExtension::Clear() {
    TElCustomExtension::Clear();
    KeyIdentifier.clear();
    AuthorityCertIssuer.Clear();
    AuthorityCertSerial.clear();
}

ByteString TElAuthorityKeyIdentifierExtension::GetOID() const {
    return FOID.empty() ? ByteString(kOidAuthorityKeyIdentifier) : FOID;
}

void TElAuthorityKeyIdentifierExtension::SetOID(std::string_view oid) {
    if (oid == kOidAuthorityKeyIdentifier || oid == kOidAuthorityKeyIdentifierOld) FOID = ByteString(oid);
}

bool ReadAuthorityKeyIdentifier(std::string_view value, ByteString& keyIdentifier, TElGeneralNames& issuer,
                                ByteString& serial, bool* issuerPresent) {
    OneElement e;
    const TElASN1ConstrainedTag* seq = AsConstructed(e.Load(value), 0x30);
    if (seq == nullptr) return false;
    int i = 0;
    if (const TElASN1SimpleTag* id = PrimitiveChild(*seq, i, 0x80)) {
        keyIdentifier = id->GetContent();
        ++i;
    } else if (const TElASN1ConstrainedTag* wrapped = ConstructedChild(*seq, i, 0xA0)) {
        if (const TElASN1SimpleTag* octets = PrimitiveChild(*wrapped, 0, 0x04)) keyIdentifier = octets->GetContent();
        ++i;
    }
    if (const TElASN1ConstrainedTag* names = ConstructedChild(*seq, i, 0xA1)) {
        issuer.LoadFromTag(*names, true);
        if (issuerPresent != nullptr) *issuerPresent = true;
        ++i;
    }
    if (const TElASN1SimpleTag* number = PrimitiveChild(*seq, i, 0x82)) serial = number->GetContent();
    return true;
}

ByteString BuildAuthorityKeyIdentifier(const ByteString& keyIdentifier, const TElGeneralNames& issuer,
                                       const ByteString& serial, bool alwaysKeyIdentifier, bool withIssuer) {
    ByteString inner;
    if (alwaysKeyIdentifier || !keyIdentifier.empty()) inner += EncodeDERTLV(0x80, keyIdentifier);
    if (withIssuer) {
        TElGeneralNames copy;
        copy.Assign(&issuer);
        TElASN1ConstrainedTag names;
        copy.SaveToTag(names);
        names.TagByte = 0xA1;
        inner += SaveTagToString(names);
    }
    if (!serial.empty()) inner += EncodeDERTLV(0x82, serial);
    return EncodeDERTLV(0x30, inner);
}

void TElAuthorityKeyIdentifierExtension::SetValue(std::string_view value) {
    TElCustomExtension::SetValue(value);
    if (!ReadAuthorityKeyIdentifier(value, KeyIdentifier, AuthorityCertIssuer, AuthorityCertSerial)) CheckCritical();
}

ByteString TElAuthorityKeyIdentifierExtension::GetValue() const {
    if (!FValue.empty()) return FValue;
    return BuildAuthorityKeyIdentifier(KeyIdentifier, AuthorityCertIssuer, AuthorityCertSerial, true,
                                       AuthorityCertIssuer.GetCount() > 0);
}

void TElSubjectKeyIdentifierExtension::Clear() {
    TElCustomExtension::Clear();
    KeyIdentifier.clear();
}

ByteString TElSubjectKeyIdentifierExtension::GetOID() const {
    return ByteString(kOidSubjectKeyIdentifier);
}

void TElSubjectKeyIdentifierExtension::SetValue(std::string_view value) {
    TElCustomExtension::SetValue(value);
    OneElement e;
    const TElASN1SimpleTag* octets = AsPrimitive(e.Load(value), 0x04);
    if (octets == nullptr) return CheckCritical();
    KeyIdentifier = octets->GetContent();
}

// ---------------------------------------------------------------------------------------------
// Key usage and private key usage period

void TElKeyUsageExtension::Clear() {
    TElCustomExtension::Clear();
    DigitalSignature = NonRepudiation = KeyEncipherment = DataEncipherment = KeyAgreement = false;
    KeyCertSign = CRLSign = EncipherOnly = DecipherOnly = false;
}

ByteString TElKeyUsageExtension::GetOID() const {
    return ByteString(kOidKeyUsage);
}

void TElKeyUsageExtension::SetValue(std::string_view value) {
    TElCustomExtension::SetValue(value);
    OneElement e;
    const TElASN1SimpleTag* bits = AsPrimitive(e.Load(value), 0x03);
    if (bits == nullptr) return CheckCritical();
    ByteString c = bits->GetContent();  // the unused-bits octet first
    // Bits the BIT STRING declares unused grant nothing (X.690 8.6.2.3: DER has them zero);
    // read as usages they would give a certificate keyCertSign it never asserted.
    const auto unused = c.empty() ? 0u : unsigned(uint8_t(c[0]));
    if (unused > 7 || (c.size() == 1 && unused != 0)) return CheckCritical();
    if (c.size() >= 2) c.back() = char(uint8_t(c.back()) & uint8_t(0xFF << unused));
    if (c.size() >= 2) {
        const auto b = uint8_t(c[1]);
        DigitalSignature = b & 0x80;
        NonRepudiation = b & 0x40;
        KeyEncipherment = b & 0x20;
        DataEncipherment = b & 0x10;
        KeyAgreement = b & 0x08;
        KeyCertSign = b & 0x04;
        CRLSign = b & 0x02;
        EncipherOnly = b & 0x01;
    }
    if (c.size() >= 3) DecipherOnly = uint8_t(c[2]) & 0x80;
}

TSBKeyUsage TElKeyUsageExtension::GetUsages() const {
    const bool flags[] = {DigitalSignature, NonRepudiation, KeyEncipherment, DataEncipherment, KeyAgreement,
                          KeyCertSign,      CRLSign,        EncipherOnly,    DecipherOnly};
    TSBKeyUsage set = 0;
    for (unsigned i = 0; i < 9; ++i)
        if (flags[i]) set |= TSBKeyUsage(1u << i);
    return set;
}

void TElPrivateKeyUsagePeriodExtension::Clear() {
    TElCustomExtension::Clear();
    NotBefore = NotAfter = 0;
}

ByteString TElPrivateKeyUsagePeriodExtension::GetOID() const {
    return ByteString(kOidPrivateKeyUsagePeriod);
}

void TElPrivateKeyUsagePeriodExtension::SetValue(std::string_view value) {
    TElCustomExtension::SetValue(value);
    OneElement e;
    const TElASN1ConstrainedTag* seq = AsConstructed(e.Load(value), 0x30);
    if (seq == nullptr) return CheckCritical();
    try {
        int i = 0;
        if (const TElASN1SimpleTag* before = PrimitiveChild(*seq, i, 0x80)) {
            NotBefore = GeneralizedTimeToDateTime(before->GetContent());
            ++i;
        }
        if (const TElASN1SimpleTag* after = PrimitiveChild(*seq, i, 0x81))
            NotAfter = GeneralizedTimeToDateTime(after->GetContent());
    } catch (const rtl::EConvertError&) {
        CheckCritical();
    }
}

// ---------------------------------------------------------------------------------------------
// Certificate policies and policy mappings

void TElCertificatePoliciesExtension::Clear() {
    TElCustomExtension::Clear();
    PolicyInformation.clear();
}

ByteString TElCertificatePoliciesExtension::GetOID() const {
    return ByteString(kOidCertificatePolicies);
}

namespace {

bool IsNoticeText(const TElASN1CustomTag* t, bool ia5Allowed) {
    return t != nullptr && !t->IsConstrained() &&
           (t->TagByte == 0x0C || t->TagByte == 0x1A || (ia5Allowed && t->TagByte == 0x16));
}

// UserNotice ::= SEQUENCE { noticeRef NoticeReference OPTIONAL, explicitText DisplayText
// OPTIONAL } (RFC 5280 4.2.1.4).
void ReadUserNotice(const TElASN1ConstrainedTag& notice, TElUserNotice& out) {
    int i = 0;
    if (const TElASN1ConstrainedTag* ref = ConstructedChild(notice, 0, 0x30)) {
        if (ref->GetCount() == 2 && IsNoticeText(ref->GetChild(0), true)) {
            if (const TElASN1ConstrainedTag* numbers = ConstructedChild(*ref, 1, 0x30)) {
                out.Organization = static_cast<const TElASN1SimpleTag&>(*ref->GetChild(0)).GetContent();
                for (int n = 0; n < numbers->GetCount(); ++n)
                    if (const TElASN1SimpleTag* number = PrimitiveChild(*numbers, n, 0x02))
                        out.NoticeNumbers.push_back(SmallInteger(*number));
            }
        }
        i = 1;
    }
    if (IsNoticeText(notice.GetChild(i), false))
        out.ExplicitText = static_cast<const TElASN1SimpleTag&>(*notice.GetChild(i)).GetContent();
}

}  // namespace

void TElCertificatePoliciesExtension::SetValue(std::string_view value) {
    TElCustomExtension::SetValue(value);
    OneElement e;
    const TElASN1ConstrainedTag* seq = AsConstructed(e.Load(value), 0x30);
    if (seq == nullptr) return CheckCritical();
    for (int p = 0; p < seq->GetCount(); ++p) {
        const TElASN1ConstrainedTag* info = ConstructedChild(*seq, p, 0x30);
        if (info == nullptr) {
            CheckCritical();
            continue;
        }
        const TElASN1SimpleTag* id = PrimitiveChild(*info, 0, 0x06);
        if (id == nullptr) continue;
        auto policy = std::make_unique<TElSinglePolicyInformation>();
        policy->PolicyIdentifier = id->GetContent();
        if (const TElASN1ConstrainedTag* qualifiers = ConstructedChild(*info, 1, 0x30)) {
            for (int q = 0; q < qualifiers->GetCount(); ++q) {
                const TElASN1ConstrainedTag* qualifier = ConstructedChild(*qualifiers, q, 0x30);
                if (qualifier == nullptr || qualifier->GetCount() < 2) continue;
                const TElASN1SimpleTag* qid = PrimitiveChild(*qualifier, 0, 0x06);
                if (qid == nullptr) continue;
                const ByteString kind = qid->GetContent();
                if (kind == SB_OID_QT_CPS) {
                    if (const TElASN1SimpleTag* uri = PrimitiveChild(*qualifier, 1, 0x16)) policy->CPSURI = uri->GetContent();
                } else if (kind == SB_OID_QT_UNOTICE) {
                    if (const TElASN1ConstrainedTag* notice = ConstructedChild(*qualifier, 1, 0x30))
                        ReadUserNotice(*notice, policy->UserNotice);
                }
            }
        }
        PolicyInformation.push_back(std::move(policy));
    }
}

void TElPolicyMappingsExtension::Clear() {
    TElCustomExtension::Clear();
    Policies.clear();
}

ByteString TElPolicyMappingsExtension::GetOID() const {
    return ByteString(kOidPolicyMappings);
}

void TElPolicyMappingsExtension::SetValue(std::string_view value) {
    TElCustomExtension::SetValue(value);
    OneElement e;
    const TElASN1ConstrainedTag* seq = AsConstructed(e.Load(value), 0x30);
    if (seq == nullptr) return CheckCritical();
    for (int i = 0; i < seq->GetCount(); ++i) {
        const TElASN1ConstrainedTag* pair = ConstructedChild(*seq, i, 0x30);
        const TElASN1SimpleTag* issuer = pair ? PrimitiveChild(*pair, 0, 0x06) : nullptr;
        const TElASN1SimpleTag* subject = pair ? PrimitiveChild(*pair, 1, 0x06) : nullptr;
        if (pair == nullptr || pair->GetCount() != 2 || issuer == nullptr || subject == nullptr) {
            CheckCritical();
            continue;
        }
        auto mapping = std::make_unique<TElPolicyMapping>();
        mapping->IssuerDomainPolicy = issuer->GetContent();
        mapping->SubjectDomainPolicy = subject->GetContent();
        Policies.push_back(std::move(mapping));
    }
}

// ---------------------------------------------------------------------------------------------
// Alternative names

void TElAlternativeNameExtension::Clear() {
    TElCustomExtension::Clear();
    Content.Clear();
}

ByteString TElAlternativeNameExtension::GetOID() const {
    if (!FOID.empty()) return FOID;
    return ByteString(IssuerAltName ? kOidIssuerAltName : kOidSubjectAltName);
}

void TElAlternativeNameExtension::SetOID(std::string_view oid) {
    if (oid == kOidSubjectAltName || oid == kOidIssuerAltName) FOID = ByteString(oid);
}

void TElAlternativeNameExtension::SetValue(std::string_view value) {
    // Clear forgets the OID: the reader sets it again after the value.
    const ByteString oid = FOID;
    TElCustomExtension::SetValue(value);
    FOID = oid;
    OneElement e;
    const TElASN1ConstrainedTag* seq = AsConstructed(e.Load(value), 0x30);
    if (seq == nullptr) return CheckCritical();
    Content.LoadFromTag(*seq, false);
}

ByteString TElAlternativeNameExtension::GetValue() const {
    if (!FValue.empty()) return FValue;
    TElGeneralNames copy;
    copy.Assign(&Content);
    TElASN1ConstrainedTag tag;
    copy.SaveToTag(tag);
    return SaveTagToString(tag);
}

// ---------------------------------------------------------------------------------------------
// Basic, name and policy constraints

void TElBasicConstraintsExtension::Clear() {
    TElCustomExtension::Clear();
    CA = false;
    PathLenConstraint = 0;
}

ByteString TElBasicConstraintsExtension::GetOID() const {
    return FOID.empty() ? ByteString(kOidBasicConstraints) : FOID;
}

void TElBasicConstraintsExtension::SetOID(std::string_view oid) {
    if (oid == kOidBasicConstraints || oid == kOidBasicConstraintsOld) FOID = ByteString(oid);
}

void TElBasicConstraintsExtension::SetValue(std::string_view value) {
    TElCustomExtension::SetValue(value);
    OneElement e;
    const TElASN1ConstrainedTag* seq = AsConstructed(e.Load(value), 0x30);
    if (seq == nullptr) return CheckCritical();
    int i = 0;
    if (const TElASN1SimpleTag* ca = PrimitiveChild(*seq, 0, 0x01)) {
        const ByteString c = ca->GetContent();
        CA = !c.empty() && c[0] != 0;
        ++i;
    }
    PathLenConstraint = -1;
    if (const TElASN1SimpleTag* len = PrimitiveChild(*seq, i, 0x02)) {
        const ByteString c = len->GetContent();
        // pathLenConstraint is INTEGER (0..MAX) (RFC 5280 4.2.1.9): a negative one is
        // malformed and allows nothing; one past 31 bits allows more than any path holds.
        if (c.empty() || (uint8_t(c[0]) & 0x80) != 0) {
            PathLenConstraint = 0;
            return CheckCritical();
        }
        const size_t significant = c.size() - std::min(c.size(), c.find_first_not_of('\0'));
        const uint32_t v = ReadTagInteger(*len);
        PathLenConstraint = significant > 4 || v > uint32_t(std::numeric_limits<int32_t>::max())
                                ? std::numeric_limits<int32_t>::max()
                                : int32_t(v);
    }
}

void TElNameConstraintsExtension::Clear() {
    TElCustomExtension::Clear();
    PermittedSubtrees.clear();
    ExcludedSubtrees.clear();
}

ByteString TElNameConstraintsExtension::GetOID() const {
    return ByteString(kOidNameConstraints);
}

void TElNameConstraintsExtension::SetValue(std::string_view value) {
    TElCustomExtension::SetValue(value);
    OneElement e;
    const TElASN1ConstrainedTag* seq = AsConstructed(e.Load(value), 0x30);
    if (seq == nullptr) return CheckCritical();
    auto readSubtrees = [&](const TElASN1ConstrainedTag& trees, std::vector<std::unique_ptr<TElNameConstraint>>& out) {
        for (int i = 0; i < trees.GetCount(); ++i) {
            const TElASN1ConstrainedTag* subtree = ConstructedChild(trees, i, 0x30);
            if (subtree == nullptr) {
                CheckCritical();
                continue;
            }
            auto c = std::make_unique<TElNameConstraint>();
            int at = 0;
            if (subtree->GetCount() > 0) {
                c->Base.LoadFromTag(*subtree->GetChild(0));
                at = 1;
            }
            if (const TElASN1SimpleTag* min = PrimitiveChild(*subtree, at, 0x80)) {
                c->Minimum = SmallInteger(*min);
                ++at;
            }
            if (const TElASN1SimpleTag* max = PrimitiveChild(*subtree, at, 0x81)) c->Maximum = SmallInteger(*max);
            out.push_back(std::move(c));
        }
    };
    int i = 0;
    if (const TElASN1ConstrainedTag* permitted = ConstructedChild(*seq, 0, 0xA0)) {
        readSubtrees(*permitted, PermittedSubtrees);
        ++i;
    }
    if (const TElASN1ConstrainedTag* excluded = ConstructedChild(*seq, i, 0xA1)) readSubtrees(*excluded, ExcludedSubtrees);
}

void TElPolicyConstraintsExtension::Clear() {
    TElCustomExtension::Clear();
    RequireExplicitPolicy = InhibitPolicyMapping = 0;
}

ByteString TElPolicyConstraintsExtension::GetOID() const {
    return ByteString(kOidPolicyConstraints);
}

void TElPolicyConstraintsExtension::SetValue(std::string_view value) {
    TElCustomExtension::SetValue(value);
    OneElement e;
    const TElASN1ConstrainedTag* seq = AsConstructed(e.Load(value), 0x30);
    if (seq == nullptr) return CheckCritical();
    int i = 0;
    if (const TElASN1SimpleTag* require = PrimitiveChild(*seq, 0, 0x80)) {
        RequireExplicitPolicy = SmallInteger(*require);
        ++i;
    }
    if (const TElASN1SimpleTag* inhibit = PrimitiveChild(*seq, i, 0x81)) InhibitPolicyMapping = SmallInteger(*inhibit);
}

// ---------------------------------------------------------------------------------------------
// Extended key usage

void TElExtendedKeyUsageExtension::Clear() {
    TElCustomExtension::Clear();
    ServerAuthentication = ClientAuthentication = CodeSigning = EmailProtection = TimeStamping = OCSPSigning = false;
    CustomUsages.clear();
}

ByteString TElExtendedKeyUsageExtension::GetOID() const {
    return ByteString(kOidExtendedKeyUsage);
}

void TElExtendedKeyUsageExtension::SetValue(std::string_view value) {
    TElCustomExtension::SetValue(value);
    OneElement e;
    const TElASN1ConstrainedTag* seq = AsConstructed(e.Load(value), 0x30);
    if (seq == nullptr) return CheckCritical();
    for (int i = 0; i < seq->GetCount(); ++i) {
        const TElASN1SimpleTag* id = PrimitiveChild(*seq, i, 0x06);
        if (id == nullptr) {
            CheckCritical();
            continue;
        }
        const ByteString oid = id->GetContent();
        if (oid == SB_OID_KP_SERVER_AUTH)
            ServerAuthentication = true;
        else if (oid == SB_OID_KP_CLIENT_AUTH)
            ClientAuthentication = true;
        else if (oid == SB_OID_KP_CODE_SIGNING)
            CodeSigning = true;
        else if (oid == SB_OID_KP_EMAIL_PROTECTION)
            EmailProtection = true;
        else if (oid == SB_OID_KP_TIME_STAMPING)
            TimeStamping = true;
        else if (oid == SB_OID_KP_OCSP_SIGNING)
            OCSPSigning = true;
        else
            CustomUsages.push_back(oid);
    }
}

// ---------------------------------------------------------------------------------------------
// CRL distribution points and authority information access

void TElCRLDistributionPointsExtension::Clear() {
    TElCustomExtension::Clear();
    DistributionPoints.clear();
}

ByteString TElCRLDistributionPointsExtension::GetOID() const {
    return ByteString(kOidCRLDistributionPoints);
}

void TElCRLDistributionPointsExtension::SetValue(std::string_view value) {
    TElCustomExtension::SetValue(value);
    OneElement e;
    const TElASN1ConstrainedTag* seq = AsConstructed(e.Load(value), 0x30);
    if (seq == nullptr) return CheckCritical();
    for (int p = 0; p < seq->GetCount(); ++p) {
        const TElASN1ConstrainedTag* dp = ConstructedChild(*seq, p, 0x30);
        if (dp == nullptr) continue;
        auto point = std::make_unique<TElDistributionPoint>();
        int i = 0;
        if (const TElASN1ConstrainedTag* name = ConstructedChild(*dp, i, 0xA0)) {
            if (name->GetCount() == 1) {
                if (const TElASN1ConstrainedTag* full = ConstructedChild(*name, 0, 0xA0)) {
                    point->Name.LoadFromTag(*full, false);
                } else if (const TElASN1ConstrainedTag* relative = ConstructedChild(*name, 0, 0xA1)) {
                    TElGeneralName& dn = *point->Name.GetNames(point->Name.Add());
                    dn.NameType = gnDirectoryName;
                    dn.DirectoryName.LoadFromTag(*relative, true);
                }
            }
            ++i;
        }
        if (const TElASN1SimpleTag* reasons = PrimitiveChild(*dp, i, 0x81)) {
            // ReasonFlags (RFC 5280 4.2.1.13): bit n names reason code n, except that bits 7
            // and 8 name privilegeWithdrawn (9) and aACompromise (10); bit 0 (unused) is
            // ignored.
            const ByteString c = reasons->GetContent();
            TSBCRLReasonFlags set = 0;
            const uint8_t first = c.size() >= 2 ? uint8_t(c[1]) : 0;
            const uint8_t second = c.size() >= 3 ? uint8_t(c[2]) : 0;
            for (unsigned bit = 1; bit <= 6; ++bit)
                if (first & (0x80 >> bit)) set |= TSBCRLReasonFlags(1u << bit);
            if (first & 0x01) set |= rfPrivilegeWithdrawn;
            if (second & 0x80) set |= rfAACompromise;
            point->ReasonFlags = set;
            ++i;
        }
        if (const TElASN1ConstrainedTag* issuer = ConstructedChild(*dp, i, 0xA2)) point->CRLIssuer.LoadFromTag(*issuer, false);
        DistributionPoints.push_back(std::move(point));
    }
}

void TElAuthorityInformationAccessExtension::Clear() {
    TElCustomExtension::Clear();
    AccessDescriptions.clear();
}

ByteString TElAuthorityInformationAccessExtension::GetOID() const {
    return ByteString(kOidAuthorityInfoAccess);
}

void TElAuthorityInformationAccessExtension::SetValue(std::string_view value) {
    TElCustomExtension::SetValue(value);
    OneElement e;
    const TElASN1ConstrainedTag* seq = AsConstructed(e.Load(value), 0x30);
    if (seq == nullptr) return CheckCritical();
    for (int i = 0; i < seq->GetCount(); ++i) {
        const TElASN1ConstrainedTag* ad = ConstructedChild(*seq, i, 0x30);
        if (ad == nullptr) {
            CheckCritical();
            continue;
        }
        const TElASN1SimpleTag* method = PrimitiveChild(*ad, 0, 0x06);
        if (ad->GetCount() != 2 || method == nullptr) continue;
        auto description = std::make_unique<TElAccessDescription>();
        description->AccessMethod = method->GetContent();
        description->AccessLocation.LoadFromTag(*ad->GetChild(1));
        AccessDescriptions.push_back(std::move(description));
    }
}

// ---------------------------------------------------------------------------------------------
// Netscape extensions and the subject directory attributes

void TElNetscapeCertTypeExtension::Clear() {
    TElCustomExtension::Clear();
    CertType = 0;
}

ByteString TElNetscapeCertTypeExtension::GetOID() const {
    return ByteString(kOidNetscapeCertType);
}

void TElNetscapeCertTypeExtension::SetValue(std::string_view value) {
    TElCustomExtension::SetValue(value);
    OneElement e;
    const TElASN1SimpleTag* bits = AsPrimitive(e.Load(value), 0x03);
    if (bits == nullptr) return CheckCritical();
    const ByteString c = bits->GetContent();
    if (c.size() < 2) return;
    const auto b = uint8_t(c[1]);
    // Bit 0x08 is reserved (no type).
    const std::pair<uint8_t, TSBNetscapeCertType> map[] = {{0x80, nsSSLClient}, {0x40, nsSSLServer},
                                                           {0x20, nsSMIME},     {0x10, nsObjectSign},
                                                           {0x04, nsSSLCA},     {0x02, nsSMIMECA},
                                                           {0x01, nsObjectSignCA}};
    for (const auto& [bit, member] : map)
        if (b & bit) CertType |= member;
}

void TElNetscapeString::Clear() {
    TElCustomExtension::Clear();
    Content.clear();
}

ByteString TElNetscapeString::GetOID() const {
    return {};
}

void TElNetscapeString::SetValue(std::string_view value) {
    // The raw value is kept (and the text only replaced by a string value), so the extension
    // is written back as it came whatever its value holds.
    FValue = ByteString(value);
    OneElement e;
    const TElASN1CustomTag* t = e.Load(value);
    if (t == nullptr) return CheckCritical();
    if (!t->IsConstrained() && (t->TagByte == 0x13 || t->TagByte == 0x16 || t->TagByte == 0x1A))
        Content = static_cast<const TElASN1SimpleTag&>(*t).GetContent();
}

ByteString TElNetscapeBaseURL::GetOID() const {
    return ByteString(kOidNetscapeBaseURL);
}
ByteString TElNetscapeRevokeURL::GetOID() const {
    return ByteString(kOidNetscapeRevokeURL);
}
ByteString TElNetscapeCARevokeURL::GetOID() const {
    return ByteString(kOidNetscapeCARevokeURL);
}
ByteString TElNetscapeRenewalURL::GetOID() const {
    return ByteString(kOidNetscapeRenewalURL);
}
ByteString TElNetscapeCAPolicy::GetOID() const {
    return ByteString(kOidNetscapeCAPolicy);
}
ByteString TElNetscapeServerName::GetOID() const {
    return ByteString(kOidNetscapeServerName);
}
ByteString TElNetscapeComment::GetOID() const {
    return ByteString(kOidNetscapeComment);
}
ByteString TElCommonName::GetOID() const {
    return ByteString(SB_OID_X520_COMMON_NAME);
}

void TElSubjectDirectoryAttributesExtension::Clear() {
    TElCustomExtension::Clear();
    Attributes.SetCount(0);
}

ByteString TElSubjectDirectoryAttributesExtension::GetOID() const {
    return ByteString(kOidSubjectDirectoryAttributes);
}

void TElSubjectDirectoryAttributesExtension::SetValue(std::string_view value) {
    TElCustomExtension::SetValue(value);
    OneElement e;
    const TElASN1ConstrainedTag* seq = AsConstructed(e.Load(value), 0x30);
    if (seq == nullptr) return;
    for (int i = 0; i < seq->GetCount(); ++i) {
        const TElASN1ConstrainedTag* attr = ConstructedChild(*seq, i, 0x30);
        if (attr == nullptr || attr->GetCount() != 2) continue;
        const TElASN1SimpleTag* type = PrimitiveChild(*attr, 0, 0x06);
        const TElASN1ConstrainedTag* values = ConstructedChild(*attr, 1, 0x31);
        if (type == nullptr || values == nullptr) continue;
        const int32_t at = Attributes.GetCount();
        Attributes.SetCount(at + 1);
        Attributes.SetAttributeType(at, type->GetContent());
        for (int v = 0; v < values->GetCount(); ++v)
            Attributes.GetValues(at)->push_back(SaveTagToString(*values->GetChild(v)));
    }
}

// ---------------------------------------------------------------------------------------------
// TElCertificateExtensions and the reader

TElCertificateExtensions::TElCertificateExtensions() = default;

void TElCertificateExtensions::Clear() {
    TElCustomExtension* known[] = {&AuthorityKeyIdentifier, &SubjectKeyIdentifier,   &KeyUsage,
                                   &PrivateKeyUsagePeriod,  &CertificatePolicies,    &PolicyMappings,
                                   &SubjectAlternativeName, &IssuerAlternativeName,  &BasicConstraints,
                                   &NameConstraints,        &PolicyConstraints,      &ExtendedKeyUsage,
                                   &CRLDistributionPoints,  &AuthorityInformationAccess, &NetscapeCertType,
                                   &NetscapeComment,        &NetscapeCAPolicy,       &NetscapeCARevokeURL,
                                   &NetscapeRevokeURL,      &NetscapeServerName,     &NetscapeBaseURL,
                                   &NetscapeRenewalURL,     &CommonName,             &SubjectDirectoryAttributes};
    for (TElCustomExtension* x : known) {
        x->Clear();
        x->Critical = false;
    }
    OtherExtensions.clear();
    Included = 0;
    met_.clear();
}

TElCustomExtension* TElCertificateExtensions::FindKnown(std::string_view oid, uint32_t* bit) const {
    auto* self = const_cast<TElCertificateExtensions*>(this);
    const struct {
        std::string_view oid;
        TElCustomExtension* ext;
        uint32_t bit;
    } table[] = {
        {kOidAuthorityKeyIdentifier, &self->AuthorityKeyIdentifier, ceAuthorityKeyIdentifier},
        {kOidAuthorityKeyIdentifierOld, &self->AuthorityKeyIdentifier, ceAuthorityKeyIdentifier},
        {kOidSubjectKeyIdentifier, &self->SubjectKeyIdentifier, ceSubjectKeyIdentifier},
        {kOidKeyUsage, &self->KeyUsage, ceKeyUsage},
        {kOidPrivateKeyUsagePeriod, &self->PrivateKeyUsagePeriod, cePrivateKeyUsagePeriod},
        {kOidCertificatePolicies, &self->CertificatePolicies, ceCertificatePolicies},
        {kOidPolicyMappings, &self->PolicyMappings, cePolicyMappings},
        {kOidSubjectAltName, &self->SubjectAlternativeName, ceSubjectAlternativeName},
        {kOidIssuerAltName, &self->IssuerAlternativeName, ceIssuerAlternativeName},
        {kOidBasicConstraints, &self->BasicConstraints, ceBasicConstraints},
        {kOidBasicConstraintsOld, &self->BasicConstraints, ceBasicConstraints},
        {kOidNameConstraints, &self->NameConstraints, ceNameConstraints},
        {kOidPolicyConstraints, &self->PolicyConstraints, cePolicyConstraints},
        {kOidExtendedKeyUsage, &self->ExtendedKeyUsage, ceExtendedKeyUsage},
        {kOidCRLDistributionPoints, &self->CRLDistributionPoints, ceCRLDistributionPoints},
        {kOidAuthorityInfoAccess, &self->AuthorityInformationAccess, ceAuthorityInformationAccess},
        {kOidNetscapeCertType, &self->NetscapeCertType, ceNetscapeCertType},
        {kOidNetscapeBaseURL, &self->NetscapeBaseURL, ceNetscapeBaseUrl},
        {kOidNetscapeRevokeURL, &self->NetscapeRevokeURL, ceNetscapeRevokeUrl},
        {kOidNetscapeCARevokeURL, &self->NetscapeCARevokeURL, ceNetscapeCARevokeUrl},
        {kOidNetscapeRenewalURL, &self->NetscapeRenewalURL, ceNetscapeRenewalUrl},
        {kOidNetscapeCAPolicy, &self->NetscapeCAPolicy, ceNetscapeCAPolicy},
        {kOidNetscapeServerName, &self->NetscapeServerName, ceNetscapeServerName},
        {kOidNetscapeComment, &self->NetscapeComment, ceNetscapeComment},
        {SB_OID_X520_COMMON_NAME, &self->CommonName, ceCommonName},
        {kOidSubjectDirectoryAttributes, &self->SubjectDirectoryAttributes, ceSubjectDirectoryAttributes},
    };
    for (const auto& row : table)
        if (row.oid == oid) {
            if (bit != nullptr) *bit = row.bit;
            return row.ext;
        }
    if (bit != nullptr) *bit = 0;
    return nullptr;
}

void TElExtensionReader::ParseExtension(std::string_view oid, bool critical, std::string_view value) {
    extensions_.met_.push_back({ByteString(oid), critical});
    uint32_t bit = 0;
    TElCustomExtension* ext = extensions_.FindKnown(oid, &bit);
    if (ext == nullptr) {
        auto other = std::make_unique<TElCustomExtension>();
        other->Critical = critical;
        other->SetValue(value);
        other->SetOID(oid);
        extensions_.OtherExtensions.push_back(std::move(other));
        return;
    }
    extensions_.Included |= bit;
    // RFC 5280 4.2.1.1, 4.2.1.2, 4.2.1.5 and 4.2.2.1: these must not be critical.
    if (strictMode_ && critical &&
        (bit == ceAuthorityKeyIdentifier || bit == ceSubjectKeyIdentifier || bit == cePolicyMappings ||
         bit == ceAuthorityInformationAccess))
        throw EElCertificateException(SNonCriticalMarkedCritical);
    ext->Critical = critical;
    ext->SetValue(value);
    ext->SetOID(oid);
}
