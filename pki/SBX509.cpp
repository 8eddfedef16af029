// pki/SBX509.cpp: reading a certificate (RFC 5280 4.1), its algorithm parameters, and the
// chain of copies.
//
// Decode as the grammar reads, then check: the DER is loaded into the tag tree once (which
// bounds every read by the input), the elements are taken in order, and each violation raises
// "Invalid certificate data" at once.
#include "pki/SBX509.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "crypto/base/SBASN1Tree.h"
#include "crypto/base/SBAlgorithmIdentifier.h"
#include "crypto/base/SBConstants.h"
#include "crypto/facade/SBHashFunction.h"
#include "crypto/hash/SBMD.h"
#include "crypto/keys/SBPEM.h"
#include "crypto/keys/SBPublicKeyCrypto.h"

namespace {

[[noreturn]] void Invalid() {
    throw EElCertificateException(SInvalidCertificateData);
}

[[noreturn]] void InvalidAlgorithm() {
    throw EElCertificateException(SInvalidAlgorithmIdentifier);
}

ByteString WithoutLeadingZero(ByteString s) {
    if (!s.empty() && s[0] == '\0') s.erase(0, 1);
    return s;
}

// RSASSA-PSS-params and RSAES-OAEP-params (RFC 4055 3.1, 4.1), read by the RSA key unit.
bool ReadPSSParameters(const TElASN1CustomTag& tag, TElRSAPSSSignParameters& p) {
    const ByteString der = SaveTagToString(tag);
    return TElRSAKeyMaterial::ReadRSASSAPSSParams(der.data(), der.size(), p.HashAlgorithm, p.SaltSize, p.MGF,
                                                  p.MGFHashAlgorithm, p.TrailerField);
}

bool ReadOAEPParameters(const TElASN1CustomTag& tag, TElRSAOAEPEncryptionParameters& p) {
    const ByteString der = SaveTagToString(tag);
    p.MGF = SB_ALG_MGF1;
    return TElRSAKeyMaterial::ReadRSAESOAEPParams(der.data(), der.size(), p.StrLabel, p.HashAlgorithm,
                                                  p.MGFHashAlgorithm);
}

const TElASN1SimpleTag& AsInteger(const TElASN1CustomTag* t) {
    if (t == nullptr || !t->CheckType(0x02, false)) InvalidAlgorithm();
    return static_cast<const TElASN1SimpleTag&>(*t);
}

void OfferNameFields(const TElRelativeDistinguishedName& rdn, TName& name) {
    for (int32_t i = 0; i < rdn.GetCount(); ++i) {
        std::string value = rdn.GetValue(i);
        if (rdn.GetTag(i) == 0x1E) {
            // BMPString: big-endian UTF-16.
            std::u16string units;
            for (size_t j = 0; j + 1 < value.size(); j += 2)
                units += char16_t(uint8_t(value[j]) << 8 | uint8_t(value[j + 1]));
            ByteString utf8;
            WideStringToUTF8(units, utf8, true, false);
            value = utf8;
        }
        const ByteString& oid = rdn.GetOID(i);
        if (oid == SB_OID_X520_COUNTRY)
            name.Country = value;
        else if (oid == SB_OID_X520_STATE_OR_PROVINCE)
            name.StateOrProvince = value;
        else if (oid == SB_OID_X520_LOCALITY)
            name.Locality = value;
        else if (oid == SB_OID_X520_ORGANIZATION)
            name.Organization = value;
        else if (oid == SB_OID_X520_ORGANIZATION_UNIT)
            name.OrganizationUnit = value;
        else if (oid == SB_OID_X520_COMMON_NAME)
            name.CommonName = value;
        else if (oid == SB_OID_EMAIL_ADDRESS)
            name.EMailAddress = value;
    }
}

// The whole text must be a time of its type: UTCTime YYMMDDhhmm[ss](Z|+hhmm|-hhmm),
// GeneralizedTime YYYYMMDDhhmmss[.f...](Z|+hhmm|-hhmm) (X.680 and RFC 5280 4.1.2.5); a text
// with more or other characters would otherwise read as some other moment.
bool IsTimeText(std::string_view text, bool generalized) {
    auto digits = [&](size_t from, size_t n) {
        if (from + n > text.size()) return false;
        for (size_t i = from; i < from + n; ++i)
            if (text[i] < '0' || text[i] > '9') return false;
        return true;
    };
    size_t at = generalized ? 14 : 10;
    if (!digits(0, at)) return false;
    if (generalized) {
        if (at < text.size() && (text[at] == '.' || text[at] == ',')) {
            const size_t start = ++at;
            while (at < text.size() && text[at] >= '0' && text[at] <= '9')
                ++at;
            if (at == start) return false;
        }
    } else if (digits(at, 2)) {
        at += 2;
    }
    if (at < text.size() && text[at] == 'Z') return at + 1 == text.size();
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) return digits(at + 1, 4) && at + 5 == text.size();
    return false;
}

rtl::TDateTime ReadTime(const TElASN1CustomTag* t) {
    rtl::TDateTime value = 0;
    if (!ReadCertificateTime(t, value)) Invalid();
    return value;
}

template <class T>
std::unique_ptr<TElEncryptionParameters> CloneOf(const T& self) {
    auto p = std::make_unique<T>();
    p->Assign(self);
    return p;
}

// DSA and DH keys: exactly one INTEGER, y.
ByteString ReadPublicValue(const TElASN1ConstrainedTag& tag) {
    const TElASN1SimpleTag* y = PrimitiveChild(tag, 0, 0x02);
    if (tag.GetCount() != 1 || y == nullptr) Invalid();
    return y->GetContent();
}

template <class T>
void CopyDomain(T& to, const TElEncryptionParameters& source) {
    if (const auto* s = dynamic_cast<const T*>(&source)) {
        to.P = s->P, to.Q = s->Q, to.G = s->G, to.Y = s->Y, to.X = s->X;
    }
}

}  // namespace

bool ReadCertificateTime(const TElASN1CustomTag* t, rtl::TDateTime& value) {
    if (t == nullptr || t->IsConstrained() || (t->TagByte != 0x17 && t->TagByte != 0x18)) return false;
    const ByteString text = static_cast<const TElASN1SimpleTag&>(*t).GetContent();
    if (!IsTimeText(text, t->TagByte == 0x18)) return false;
    try {
        value = t->TagByte == 0x17 ? UTCTimeToDateTime(text) : GeneralizedTimeToDateTime(text);
        return true;
    } catch (const rtl::EConvertError&) {
        return false;
    }
}

bool DecodeCertificateData(const void* buffer, size_t size, ByteString& der) {
    const auto* p = static_cast<const uint8_t*>(buffer);
    der.clear();
    if (size == 0) return true;
    // The text tests take 32-bit sizes; a larger buffer is DER (Base64 of a certificate that
    // large would be nothing this system meets).
    const bool fits = size <= size_t(INT32_MAX);
    for (const bool wide : {true, false}) {
        if (!fits || !(wide ? IsBase64WideBuffer(p, int32_t(size)) : IsBase64Buffer(p, int32_t(size)))) continue;
        size_t n = size;
        der.resize(n);
        const int r = wide ? DecodeBase64Wide(p, size, der.data(), n) : DecodeBase64(p, size, der.data(), n);
        der.resize(r == BASE64_DECODE_OK ? n : 0);
        return r == BASE64_DECODE_OK;
    }
    der.assign(reinterpret_cast<const char*>(p), size);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Parameters

void TElEncryptionParameters::LoadPublicKey(const TElASN1ConstrainedTag&) {
    Invalid();
}

void TElEncryptionParameters::Assign(const TElEncryptionParameters& source) {
    Algorithm = source.Algorithm;
}

std::unique_ptr<TElEncryptionParameters> TElEncryptionParameters::Clone() const {
    return CloneOf(*this);
}

void TElRSAEncryptionParameters::LoadPublicKey(const TElASN1ConstrainedTag& tag) {
    // RSAPublicKey ::= SEQUENCE { modulus INTEGER, publicExponent INTEGER } (RFC 8017 A.1.1)
    const TElASN1ConstrainedTag* seq = ConstructedChild(tag, 0, 0x30);
    if (tag.GetCount() != 1 || seq == nullptr || seq->GetCount() != 2) Invalid();
    const TElASN1SimpleTag* n = PrimitiveChild(*seq, 0, 0x02);
    const TElASN1SimpleTag* e = PrimitiveChild(*seq, 1, 0x02);
    if (n == nullptr || e == nullptr) Invalid();
    Modulus = n->GetContent();
    PublicExponent = e->GetContent();
}

void TElRSAEncryptionParameters::Assign(const TElEncryptionParameters& source) {
    TElEncryptionParameters::Assign(source);
    if (const auto* s = dynamic_cast<const TElRSAEncryptionParameters*>(&source)) {
        PublicExponent = s->PublicExponent;
        PrivateExponent = s->PrivateExponent;
        Modulus = s->Modulus;
    }
}

std::unique_ptr<TElEncryptionParameters> TElRSAEncryptionParameters::Clone() const {
    return CloneOf(*this);
}

void TElRSAPSSSignParameters::Assign(const TElEncryptionParameters& source) {
    TElRSAEncryptionParameters::Assign(source);
    if (const auto* s = dynamic_cast<const TElRSAPSSSignParameters*>(&source)) {
        SaltSize = s->SaltSize;
        HashAlgorithm = s->HashAlgorithm;
        TrailerField = s->TrailerField;
        MGF = s->MGF;
        MGFHashAlgorithm = s->MGFHashAlgorithm;
    }
}

std::unique_ptr<TElEncryptionParameters> TElRSAPSSSignParameters::Clone() const {
    return CloneOf(*this);
}

void TElRSAOAEPEncryptionParameters::Assign(const TElEncryptionParameters& source) {
    TElRSAEncryptionParameters::Assign(source);
    if (const auto* s = dynamic_cast<const TElRSAOAEPEncryptionParameters*>(&source)) {
        HashAlgorithm = s->HashAlgorithm;
        StrLabel = s->StrLabel;
        MGFHashAlgorithm = s->MGFHashAlgorithm;
        MGF = s->MGF;
    }
}

std::unique_ptr<TElEncryptionParameters> TElRSAOAEPEncryptionParameters::Clone() const {
    return CloneOf(*this);
}

void TElDSAEncryptionParameters::LoadPublicKey(const TElASN1ConstrainedTag& tag) {
    Y = ReadPublicValue(tag);
}

void TElDSAEncryptionParameters::Assign(const TElEncryptionParameters& source) {
    TElEncryptionParameters::Assign(source);
    CopyDomain(*this, source);
}

std::unique_ptr<TElEncryptionParameters> TElDSAEncryptionParameters::Clone() const {
    return CloneOf(*this);
}

void TElDHEncryptionParameters::LoadPublicKey(const TElASN1ConstrainedTag& tag) {
    Y = ReadPublicValue(tag);
}

void TElDHEncryptionParameters::Assign(const TElEncryptionParameters& source) {
    TElEncryptionParameters::Assign(source);
    CopyDomain(*this, source);
}

std::unique_ptr<TElEncryptionParameters> TElDHEncryptionParameters::Clone() const {
    return CloneOf(*this);
}

std::unique_ptr<TElEncryptionParameters> LoadAlgorithmParameters(const TElASN1CustomTag& tag, ByteString* oidOut,
                                                                  ByteString* paramsOut) {
    if (!tag.IsConstrained()) InvalidAlgorithm();
    const auto& seq = static_cast<const TElASN1ConstrainedTag&>(tag);
    const TElASN1SimpleTag* id = PrimitiveChild(seq, 0, 0x06);
    if (id == nullptr) InvalidAlgorithm();
    const ByteString oid = id->GetContent();
    if (oidOut != nullptr) *oidOut = oid;
    if (paramsOut != nullptr) *paramsOut = seq.GetCount() >= 2 ? SaveTagToString(*seq.GetChild(1)) : ByteString();
    int32_t code = GetPKAlgorithmByOID(oid);
    if (code == SB_ALG_UNKNOWN) code = GetSigAlgorithmByOID(oid);
    if (code == SB_ALG_UNKNOWN) return nullptr;

    const int count = seq.GetCount();
    if (count > 2) InvalidAlgorithm();
    const TElASN1CustomTag* second = seq.GetChild(1);
    std::unique_ptr<TElEncryptionParameters> result;
    switch (code) {
        case SB_CERT_ALG_DSA: {
            // Absent parameters are inherited from the issuer (RFC 3279 2.3.2): no key here.
            if (second == nullptr) return nullptr;
            auto p = std::make_unique<TElDSAEncryptionParameters>();
            if (!second->CheckType(0x30, true)) InvalidAlgorithm();
            const auto& pqg = static_cast<const TElASN1ConstrainedTag&>(*second);
            if (pqg.GetCount() != 3) InvalidAlgorithm();
            p->P = WithoutLeadingZero(AsInteger(pqg.GetChild(0)).GetContent());
            p->Q = WithoutLeadingZero(AsInteger(pqg.GetChild(1)).GetContent());
            p->G = WithoutLeadingZero(AsInteger(pqg.GetChild(2)).GetContent());
            result = std::move(p);
            break;
        }
        case SB_CERT_ALG_DSA_SHA1:
            if (second != nullptr && !second->CheckType(0x05, false)) InvalidAlgorithm();
            result = std::make_unique<TElDSAEncryptionParameters>();
            break;
        case SB_CERT_ALG_DH: {
            // DomainParameters ::= SEQUENCE { p, g, q, ... } (RFC 3279 2.3.3)
            if (second == nullptr || !second->CheckType(0x30, true)) InvalidAlgorithm();
            const auto& pgq = static_cast<const TElASN1ConstrainedTag&>(*second);
            if (pgq.GetCount() < 3) InvalidAlgorithm();
            auto p = std::make_unique<TElDHEncryptionParameters>();
            p->P = WithoutLeadingZero(AsInteger(pgq.GetChild(0)).GetContent());
            p->G = WithoutLeadingZero(AsInteger(pgq.GetChild(1)).GetContent());
            p->Q = WithoutLeadingZero(AsInteger(pgq.GetChild(2)).GetContent());
            result = std::move(p);
            break;
        }
        case SB_CERT_ALG_RSASSA_PSS: {
            auto p = std::make_unique<TElRSAPSSSignParameters>();
            if (second != nullptr && !ReadPSSParameters(*second, *p)) InvalidAlgorithm();
            result = std::move(p);
            break;
        }
        case SB_CERT_ALG_RSAES_OAEP: {
            auto p = std::make_unique<TElRSAOAEPEncryptionParameters>();
            if (second != nullptr && !ReadOAEPParameters(*second, *p)) InvalidAlgorithm();
            result = std::move(p);
            break;
        }
        default:
            // rsaEncryption and the RSA signature algorithms (those with a digest).
            if (code != SB_CERT_ALG_RSA_ENCRYPTION && GetHashAlgorithmBySigAlgorithm(code) == SB_ALG_UNKNOWN)
                return nullptr;
            if (second != nullptr && !second->CheckType(0x05, false) && !second->CheckType(0x02, false))
                InvalidAlgorithm();
            result = std::make_unique<TElRSAEncryptionParameters>();
            break;
    }
    result->Algorithm = code;
    return result;
}

// ---------------------------------------------------------------------------------------------
// The to-be-signed part

void TElSubjectPublicKeyInfo::Clear() {
    Parameters.reset();
    PublicKeyAlgorithm = SB_CERT_ALG_NONE;
    RawKey.clear();
    AlgorithmOID.clear();
    AlgorithmParams.clear();
}

void TElTBSCertificate::Clear() {
    Version = 3;
    SerialNumber.clear();
    SignatureParameters.reset();
    ValidFrom = ValidTo = 0;
    SubjectPublicKeyInfo.Clear();
    IssuerUniqueID.clear();
    SubjectUniqueID.clear();
    SignatureOID.clear();
    SignatureParams.clear();
}

// ---------------------------------------------------------------------------------------------
// TElX509Certificate

TElX509Certificate::TElX509Certificate(rtl::Component* owner) : rtl::Component(owner) {}

TElX509Certificate::~TElX509Certificate() = default;

void TElX509Certificate::Clear() {
    issuerName_ = TName();
    subjectName_ = TName();
    der_.clear();
    tbsOffset_ = tbsSize_ = 0;
    issuerRDN_.Clear();
    subjectRDN_.Clear();
    serialPadded_ = false;
    extensions_.Clear();
    tbs_.Clear();
    signatureParams_.reset();
    signatureAlgorithm_ = SB_CERT_ALG_NONE;
    signatureOID_.clear();
    signatureParamsDER_.clear();
    signature_.clear();
    publicKey_.clear();
    pssParams_.Assign(TElRSAPSSSignParameters());
    oaepParams_.Assign(TElRSAOAEPEncryptionParameters());
    keyMaterial_.reset();
}

void TElX509Certificate::LoadFromBuffer(const void* buffer, size_t size) {
    ByteString data;
    const bool decoded = DecodeCertificateData(buffer, size, data);
    Clear();
    if (!decoded) Invalid();
    der_ = std::move(data);
    Parse();
}

void TElX509Certificate::Parse() {
    TElASN1ConstrainedTag root;
    if (!LoadTagTree(root, der_) || root.GetCount() != 1) Invalid();
    const TElASN1ConstrainedTag* cert = ConstructedChild(root, 0, 0x30);
    if (cert == nullptr || cert->GetCount() != 3) Invalid();
    const TElASN1ConstrainedTag* tbs = ConstructedChild(*cert, 0, 0x30);
    const TElASN1ConstrainedTag* sigAlg = ConstructedChild(*cert, 1, 0x30);
    const TElASN1SimpleTag* sigValue = PrimitiveChild(*cert, 2, 0x03);
    if (tbs == nullptr || sigAlg == nullptr || sigValue == nullptr) Invalid();
    tbsOffset_ = size_t(tbs->ElementOffset);
    tbsSize_ = size_t(tbs->ElementSize);
    if (tbsOffset_ > der_.size() || tbsSize_ > der_.size() - tbsOffset_) Invalid();
    ParseTBS(*tbs);

    signatureParams_ = LoadAlgorithmParameters(*sigAlg, &signatureOID_, &signatureParamsDER_);
    signatureAlgorithm_ = signatureParams_ ? signatureParams_->Algorithm : SB_CERT_ALG_NONE;

    const ByteString bits = sigValue->GetContent();
    if (bits.empty()) Invalid();
    signature_ = bits.substr(1);
    CreateKeyMaterial();
}

void TElX509Certificate::CreateKeyMaterial() {
    const TElEncryptionParameters* p = tbs_.SubjectPublicKeyInfo.Parameters.get();
    try {
        if (const auto* rsa = dynamic_cast<const TElRSAEncryptionParameters*>(p)) {
            auto key = std::make_unique<TElRSAKeyMaterial>(CryptoProvider);
            key->SetRawKey(true);
            key->LoadPublic(publicKey_.data(), publicKey_.size());
            if (const auto* pss = dynamic_cast<const TElRSAPSSSignParameters*>(rsa)) {
                key->SetSaltSize(pss->SaltSize);
                key->SetHashAlgorithm(pss->HashAlgorithm);
            } else if (const auto* oaep = dynamic_cast<const TElRSAOAEPEncryptionParameters*>(rsa)) {
                key->SetHashAlgorithm(oaep->HashAlgorithm);
                key->SetStrLabel(oaep->StrLabel);
            }
            keyMaterial_ = std::move(key);
        } else if (const auto* dsa = dynamic_cast<const TElDSAEncryptionParameters*>(p)) {
            auto key = std::make_unique<TElDSAKeyMaterial>(CryptoProvider);
            key->ImportPublicKey(dsa->P.data(), dsa->P.size(), dsa->Q.data(), dsa->Q.size(), dsa->G.data(),
                                 dsa->G.size(), dsa->Y.data(), dsa->Y.size());
            keyMaterial_ = std::move(key);
        } else if (const auto* dh = dynamic_cast<const TElDHEncryptionParameters*>(p)) {
            auto key = std::make_unique<TElDHKeyMaterial>(CryptoProvider);
            key->ImportPeerPublicKey(dh->P.data(), dh->P.size(), dh->G.data(), dh->G.size(), dh->Y.data(),
                                     dh->Y.size());
            keyMaterial_ = std::move(key);
        }
    } catch (const std::exception&) {
        // A key the provider refuses (an RSA modulus of zero, say) signs nothing: no material.
        keyMaterial_.reset();
    }
}

void TElX509Certificate::ParseTBS(const TElASN1ConstrainedTag& tbs) {
    tbs_.Clear();
    int i = 0;
    tbs_.Version = 1;
    if (const TElASN1ConstrainedTag* v = ConstructedChild(tbs, 0, 0xA0)) {
        const TElASN1SimpleTag* n = PrimitiveChild(*v, 0, 0x02);
        if (v->GetCount() == 1 && n != nullptr) {
            const ByteString c = n->GetContent();
            tbs_.Version = c.empty() ? 1 : uint8_t(uint8_t(c[0]) + 1);
            ++i;
        }
    }

    const TElASN1SimpleTag* serial = PrimitiveChild(tbs, i++, 0x02);
    if (serial == nullptr) Invalid();
    tbs_.SerialNumber = serial->GetContent();
    if (tbs_.SerialNumber.empty()) tbs_.SerialNumber.assign(1, '\0');
    if (uint8_t(tbs_.SerialNumber[0]) >= 0x80) {
        tbs_.SerialNumber.insert(tbs_.SerialNumber.begin(), '\0');
        serialPadded_ = true;
    }

    const TElASN1ConstrainedTag* sig = ConstructedChild(tbs, i++, 0x30);
    if (sig == nullptr) Invalid();
    tbs_.SignatureParameters = LoadAlgorithmParameters(*sig, &tbs_.SignatureOID, &tbs_.SignatureParams);

    const TElASN1ConstrainedTag* issuer = ConstructedChild(tbs, i++, 0x30);
    if (issuer == nullptr || !issuerRDN_.LoadFromTag(*issuer)) Invalid();
    OfferNameFields(issuerRDN_, issuerName_);

    const TElASN1ConstrainedTag* validity = ConstructedChild(tbs, i++, 0x30);
    if (validity == nullptr || validity->GetCount() != 2) Invalid();
    tbs_.ValidFrom = ReadTime(validity->GetChild(0));
    tbs_.ValidTo = ReadTime(validity->GetChild(1));

    const TElASN1ConstrainedTag* subject = ConstructedChild(tbs, i++, 0x30);
    if (subject == nullptr || !subjectRDN_.LoadFromTag(*subject)) Invalid();
    OfferNameFields(subjectRDN_, subjectName_);

    const TElASN1ConstrainedTag* spki = ConstructedChild(tbs, i++, 0x30);
    if (spki == nullptr) Invalid();
    ParseSubjectPublicKeyInfo(*spki);

    if (tbs_.Version == 1) {
        if (i != tbs.GetCount()) Invalid();
        return;
    }
    if (const TElASN1SimpleTag* id = PrimitiveChild(tbs, i, 0x81)) {
        tbs_.IssuerUniqueID = WithoutLeadingZero(id->GetContent());
        ++i;
    }
    if (const TElASN1SimpleTag* id = PrimitiveChild(tbs, i, 0x82)) {
        tbs_.SubjectUniqueID = WithoutLeadingZero(id->GetContent());
        ++i;
    }
    if (tbs_.Version == 2) {
        if (i != tbs.GetCount()) Invalid();
        return;
    }
    if (const TElASN1ConstrainedTag* ext = ConstructedChild(tbs, i, 0xA3)) {
        ParseExtensions(*ext);
        ++i;
    }
    if (i != tbs.GetCount()) Invalid();
}

void TElX509Certificate::ParseSubjectPublicKeyInfo(const TElASN1ConstrainedTag& spki) {
    TElSubjectPublicKeyInfo& info = tbs_.SubjectPublicKeyInfo;
    const TElASN1ConstrainedTag* alg = ConstructedChild(spki, 0, 0x30);
    const TElASN1SimpleTag* key = PrimitiveChild(spki, 1, 0x03);
    if (spki.GetCount() != 2 || alg == nullptr || key == nullptr) Invalid();
    try {
        info.Parameters = LoadAlgorithmParameters(*alg, &info.AlgorithmOID, &info.AlgorithmParams);
        info.PublicKeyAlgorithm = SB_CERT_ALG_NONE;
        if (auto* pss = dynamic_cast<TElRSAPSSSignParameters*>(info.Parameters.get())) {
            info.PublicKeyAlgorithm = SB_CERT_ALG_RSASSA_PSS;
            pssParams_.Assign(*pss);
        } else if (auto* oaep = dynamic_cast<TElRSAOAEPEncryptionParameters*>(info.Parameters.get())) {
            info.PublicKeyAlgorithm = SB_CERT_ALG_RSAES_OAEP;
            oaepParams_.Assign(*oaep);
        } else if (dynamic_cast<TElRSAEncryptionParameters*>(info.Parameters.get())) {
            info.PublicKeyAlgorithm = SB_CERT_ALG_RSA_ENCRYPTION;
        } else if (dynamic_cast<TElDSAEncryptionParameters*>(info.Parameters.get())) {
            info.PublicKeyAlgorithm = SB_CERT_ALG_DSA;
        } else if (dynamic_cast<TElDHEncryptionParameters*>(info.Parameters.get())) {
            info.PublicKeyAlgorithm = SB_CERT_ALG_DH;
        }
        const ByteString content = key->GetContent();
        if (content.empty() || content[0] != '\0') Invalid();
        info.RawKey = content;
        publicKey_ = content.substr(1);
        if (info.Parameters) {
            TElASN1ConstrainedTag keyTree;
            if (!LoadTagTree(keyTree, publicKey_)) Invalid();
            info.Parameters->LoadPublicKey(keyTree);
            if (info.PublicKeyAlgorithm == SB_CERT_ALG_RSASSA_PSS) pssParams_.Assign(*info.Parameters);
            if (info.PublicKeyAlgorithm == SB_CERT_ALG_RSAES_OAEP) oaepParams_.Assign(*info.Parameters);
        }
    } catch (const EElCertificateException&) {
        Invalid();
    }
}

void TElX509Certificate::ParseExtensions(const TElASN1ConstrainedTag& wrapper) {
    const TElASN1ConstrainedTag* list = ConstructedChild(wrapper, 0, 0x30);
    if (wrapper.GetCount() != 1 || list == nullptr) Invalid();
    TElExtensionReader reader(extensions_, StrictMode);
    for (int i = 0; i < list->GetCount(); ++i) {
        // Extension ::= SEQUENCE { extnID, critical BOOLEAN DEFAULT FALSE, extnValue OCTET STRING }
        const TElASN1ConstrainedTag* ext = ConstructedChild(*list, i, 0x30);
        if (ext == nullptr) Invalid();
        const TElASN1SimpleTag* id = PrimitiveChild(*ext, 0, 0x06);
        if (id == nullptr) Invalid();
        bool critical = false;
        int at = 1;
        if (const TElASN1SimpleTag* flag = PrimitiveChild(*ext, 1, 0x01)) {
            const ByteString c = flag->GetContent();
            critical = !c.empty() && c[0] != 0;
            at = 2;
        }
        const TElASN1SimpleTag* value = PrimitiveChild(*ext, at, 0x04);
        if (value == nullptr || ext->GetCount() != at + 1) Invalid();
        reader.ParseExtension(id->GetContent(), critical, value->GetContent());
    }
}

bool TElX509Certificate::SaveToBuffer(void* buffer, size_t& size) const {
    if (buffer == nullptr || size < der_.size()) {
        size = der_.size();
        return false;
    }
    if (!der_.empty()) std::memcpy(buffer, der_.data(), der_.size());
    size = der_.size();
    return true;
}

namespace {

// Both values copied when both fit; the sizes become the sizes needed either way.
bool CopyAll(std::initializer_list<std::tuple<const ByteString*, void*, size_t*>> values) {
    bool fits = true;
    for (const auto& [src, dst, size] : values)
        fits = fits && dst != nullptr && *size >= src->size();
    for (const auto& [src, dst, size] : values) {
        if (fits && !src->empty()) std::memcpy(dst, src->data(), src->size());
        *size = src->size();
    }
    return fits;
}

}  // namespace

bool TElX509Certificate::GetRSAParams(void* modulus, size_t& modulusSize, void* publicExponent,
                                      size_t& exponentSize) const {
    const auto* rsa = dynamic_cast<const TElRSAEncryptionParameters*>(tbs_.SubjectPublicKeyInfo.Parameters.get());
    if (rsa == nullptr) throw EElCertificateException(SCertificateAlgorithmMismatch);
    return CopyAll({{&rsa->Modulus, modulus, &modulusSize}, {&rsa->PublicExponent, publicExponent, &exponentSize}});
}

bool TElX509Certificate::GetDSSParams(void* p, size_t& pSize, void* q, size_t& qSize, void* g, size_t& gSize,
                                      void* y, size_t& ySize) const {
    const auto* dsa = dynamic_cast<const TElDSAEncryptionParameters*>(tbs_.SubjectPublicKeyInfo.Parameters.get());
    if (dsa == nullptr) throw EElCertificateException(SCertificateAlgorithmMismatch);
    return CopyAll({{&dsa->P, p, &pSize}, {&dsa->Q, q, &qSize}, {&dsa->G, g, &gSize}, {&dsa->Y, y, &ySize}});
}

bool TElX509Certificate::GetPublicKeyBlob(void* buffer, size_t& size) const {
    return CopyAll({{&publicKey_, buffer, &size}});
}

ByteString TElX509Certificate::GetSerialNumberAsEncoded() const {
    return serialPadded_ ? tbs_.SerialNumber.substr(1) : tbs_.SerialNumber;
}

ByteString TElX509Certificate::GetMD5Hash() const {
    MD5Digest d;
    ComputeMD5(der_.data(), der_.size(), d);
    return ByteString(reinterpret_cast<const char*>(d.data()), d.size());
}

int32_t TElX509Certificate::GetKeyBits() const {
    const TElEncryptionParameters* p = tbs_.SubjectPublicKeyInfo.Parameters.get();
    ByteString value;
    if (const auto* rsa = dynamic_cast<const TElRSAEncryptionParameters*>(p))
        value = rsa->Modulus;
    else if (const auto* dsa = dynamic_cast<const TElDSAEncryptionParameters*>(p))
        value = dsa->P;
    else if (const auto* dh = dynamic_cast<const TElDHEncryptionParameters*>(p))
        value = dh->P;
    const size_t first = value.find_first_not_of('\0');
    if (first == ByteString::npos) return 0;
    int32_t bits = int32_t(value.size() - first - 1) * 8;
    for (auto top = uint8_t(value[first]); top != 0; top >>= 1)
        ++bits;
    return bits;
}

bool TElX509Certificate::IsSelfSigned() const {
    if (!RDNsEqual(issuerRDN_, subjectRDN_)) return false;
    const ByteString& aki = extensions_.AuthorityKeyIdentifier.KeyIdentifier;
    if ((extensions_.Included & ceAuthorityKeyIdentifier) && (extensions_.Included & ceSubjectKeyIdentifier) &&
        !aki.empty())
        return aki == extensions_.SubjectKeyIdentifier.KeyIdentifier;
    return true;
}

bool TElX509Certificate::SignatureAlgorithmsMatch() const {
    return !signatureOID_.empty() && signatureOID_ == tbs_.SignatureOID && signatureParamsDER_ == tbs_.SignatureParams;
}

void TElX509Certificate::CopyTo(TElX509Certificate* target, bool copyPrivateKey) const {
    if (der_.empty() || target == nullptr || target == this) return;
    target->StrictMode = StrictMode;
    target->LoadFromBuffer(der_.data(), der_.size());
    target->keyMaterial_.reset();
    if (keyMaterial_ != nullptr) {
        std::unique_ptr<TElKeyMaterial> clone = keyMaterial_->Clone();
        target->keyMaterial_.reset(static_cast<TElPublicKeyMaterial*>(clone.release()));
        if (!copyPrivateKey) target->keyMaterial_->ClearSecret();
    }
}

void TElX509Certificate::LoadKeyFromBuffer(const void* buffer, size_t size) {
    if (keyMaterial_ == nullptr) return;
    keyMaterial_->ClearSecret();
    if (size == 0) return;
    ByteString data;
    if (!DecodeCertificateData(buffer, size, data)) throw EElPublicKeyCryptoError(SPKInvalidBase64);
    keyMaterial_->LoadSecret(data.data(), data.size());
}

bool TElX509Certificate::SaveKeyToBuffer(void* buffer, size_t& size) const {
    if (keyMaterial_ == nullptr) return false;
    try {
        size_t needed = 0;
        keyMaterial_->SaveSecret(nullptr, needed);
        if (buffer == nullptr || size < needed) {
            size = needed;
            return false;
        }
        size_t written = size;
        keyMaterial_->SaveSecret(buffer, written);
        size = written;
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool TElX509Certificate::GetPrivateKeyExists() const {
    return keyMaterial_ != nullptr && keyMaterial_->GetSecretKey();
}

bool TElX509Certificate::VerifySelfSignature() const {
    return IsSelfSigned() && VerifySignedBy(this);
}

bool TElX509Certificate::VerifySignedBy(const TElX509Certificate* issuer) const {
    // RFC 5280 4.1.1.2: the algorithm inside the signed part must be the outer one; a
    // certificate that says two things signs neither.
    if (issuer == nullptr || !SignatureAlgorithmsMatch()) return false;
    return VerifyCertificateSignature(*issuer, signatureAlgorithm_, tbs_.SignatureParameters.get(), GetTBSBytes(),
                                      signature_);
}

bool VerifyCertificateSignature(const TElX509Certificate& signer, int32_t algorithm,
                                const TElEncryptionParameters* parameters, std::string_view data,
                                std::string_view signature) {
    const TElPublicKeyMaterial* material = signer.GetKeyMaterial();
    const int32_t keyAlgorithm = signer.GetPublicKeyAlgorithm();
    if (material == nullptr) return false;
    try {
        // The check runs on a copy, so the parameters it sets stay off the signer's key.
        std::unique_ptr<TElKeyMaterial> clone = material->Clone();
        auto* key = static_cast<TElPublicKeyMaterial*>(clone.get());
        std::unique_ptr<TElPublicKeyCrypto> crypto;
        if (algorithm == SB_CERT_ALG_DSA_SHA1) {
            if (keyAlgorithm != SB_CERT_ALG_DSA) return false;
            // The digest is the signature algorithm's (SHA-1), whatever size the key's q has:
            // it is computed here and handed over as the input.
            TElHashFunction sha1(SB_ALG_SHA1, signer.CryptoProvider);
            sha1.Update(data.data(), data.size());
            const ByteString digest = sha1.Finish();
            TElDSAPublicKeyCrypto dsa(signer.CryptoProvider);
            dsa.SetKeyMaterial(key);
            dsa.SetHashAlgorithm(SB_ALG_SHA1);
            dsa.SetInputIsHash(true);
            return dsa.VerifyDetached(digest.data(), digest.size(), signature.data(), signature.size()) == 0;
        } else if (algorithm == SB_CERT_ALG_RSASSA_PSS) {
            if (keyAlgorithm != SB_CERT_ALG_RSA_ENCRYPTION && keyAlgorithm != SB_CERT_ALG_RSASSA_PSS) return false;
            int32_t hash = SB_ALG_SHA1, salt = 20;
            if (const auto* pss = dynamic_cast<const TElRSAPSSSignParameters*>(parameters)) {
                hash = pss->HashAlgorithm;
                salt = pss->SaltSize;
            } else if (dynamic_cast<const TElRSAEncryptionParameters*>(parameters) == nullptr) {
                return false;
            }
            auto* rsaKey = dynamic_cast<TElRSAKeyMaterial*>(key);
            if (rsaKey == nullptr) return false;
            rsaKey->SetSaltSize(salt);
            rsaKey->SetHashAlgorithm(hash);
            auto rsa = TElRSAPublicKeyCrypto::CreateByAlgorithm(SB_CERT_ALG_RSASSA_PSS, signer.CryptoProvider);
            rsa->SetKeyMaterial(key);
            rsa->SetHashAlgorithm(hash);
            rsa->PSSSaltSize = salt;
            crypto = std::move(rsa);
        } else if (GetHashAlgorithmBySigAlgorithm(algorithm) != SB_ALG_UNKNOWN) {
            if (keyAlgorithm != SB_CERT_ALG_RSA_ENCRYPTION) return false;
            auto rsa = TElRSAPublicKeyCrypto::CreateByAlgorithm(algorithm, signer.CryptoProvider);
            rsa->SetKeyMaterial(key);
            rsa->SetHashAlgorithm(GetHashAlgorithmBySigAlgorithm(algorithm));
            crypto = std::move(rsa);
        } else {
            return false;
        }
        crypto->SetInputIsHash(false);
        return crypto->VerifyDetached(data.data(), data.size(), signature.data(), signature.size()) == 0;
    } catch (const std::exception&) {
        return false;
    }
}

void TElX509Certificate::AssignTo(TElX509Certificate* dest) const {
    CopyTo(dest, true);
}

// ---------------------------------------------------------------------------------------------
// TElX509CertificateChain

TElX509CertificateChain::TElX509CertificateChain(rtl::Component* owner) : rtl::Component(owner) {}

TElX509CertificateChain::~TElX509CertificateChain() {
    while (!certificates_.empty())
        certificates_.pop_back();
}

bool TElX509CertificateChain::Add(const TElX509Certificate* certificate) {
    if (certificate == nullptr) return false;
    if (!certificates_.empty() && !RDNsEqual(certificates_.back()->GetIssuerRDN(), certificate->GetSubjectRDN()))
        return false;
    AddCopy(certificate);
    return true;
}

int32_t TElX509CertificateChain::AddCopy(const TElX509Certificate* certificate) {
    auto copy = std::make_unique<TElX509Certificate>();
    certificate->CopyTo(copy.get(), true);
    copy->chain_ = this;
    certificates_.push_back(std::move(copy));
    return GetCount() - 1;
}

TElX509Certificate* TElX509CertificateChain::GetCertificate(int32_t index) const {
    if (index < 0 || index >= GetCount()) return nullptr;
    return certificates_[size_t(index)].get();
}
