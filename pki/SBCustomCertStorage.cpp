// pki/SBCustomCertStorage.cpp: the storages, their chain index and lookups.
#include "pki/SBCustomCertStorage.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <set>
#include <tuple>

#include "crypto/facade/SBHashFunction.h"
#include "rtl/Text.h"

namespace {

// Holds a storage's lock for reading or writing for one scope.
class Guard {
public:
    Guard(TElSharedResource& lock, bool write) : lock_(lock) {
        if (write)
            lock_.AcquireWrite();
        else
            lock_.AcquireRead();
    }
    ~Guard() { lock_.Release(); }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

private:
    TElSharedResource& lock_;
};

// The digest of bytes with an algorithm code; the empty string when it cannot be computed.
ByteString Digest(int32_t algorithm, std::string_view data) {
    try {
        TElHashFunction hash(algorithm);
        hash.Update(data.data(), data.size());
        return hash.Finish();
    } catch (const std::exception&) {
        return {};
    }
}

bool SameAddress(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// Entries as (type, value folded to upper case), sorted: two names name each other for the
// chain index when these are equal.
std::vector<std::pair<std::string, std::string>> FoldedEntries(const TElRelativeDistinguishedName& n) {
    std::vector<std::pair<std::string, std::string>> v;
    for (int32_t i = 0; i < n.GetCount(); ++i)
        v.emplace_back(n.GetOID(i), rtl::UpperCase(n.GetValue(i)));
    std::sort(v.begin(), v.end());
    return v;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TElCertificateLookup

void TElCertificateLookup::SetCriteria(TSBLookupCriteria criteria) {
    criteria_ = criteria;
    position_ = -1;
}

bool TElCertificateLookup::Fits(TSBLookupCriteria criterion, const TElX509Certificate& c) const {
    const TElCertificateExtensions& ext = c.GetExtensions();
    switch (criterion) {
        case lcIssuer:
            return (Options & loExactMatch) ? RDNsEqual(IssuerRDN, c.GetIssuerRDN())
                                            : RDNIsSubset(IssuerRDN, c.GetIssuerRDN());
        case lcSubject:
            return (Options & loExactMatch) ? RDNsEqual(SubjectRDN, c.GetSubjectRDN())
                                            : RDNIsSubset(SubjectRDN, c.GetSubjectRDN());
        case lcValidity: {
            const rtl::TDateTime from = c.GetValidFrom(), to = c.GetValidTo();
            switch (DateLookupOptions) {
                case 0:
                    return true;
                case dloBefore:
                    return from <= ValidFrom && to <= ValidFrom;
                case dloAfter:
                    return from >= ValidTo && to >= ValidTo;
                case dloBefore | dloAfter:
                    return to <= ValidFrom || from >= ValidTo;
                case dloBetween:
                    return from >= ValidFrom && to <= ValidTo;
                case dloBefore | dloBetween:
                    return from <= ValidFrom && to >= ValidFrom;
                case dloAfter | dloBetween:
                    return from >= ValidFrom && to >= ValidTo;
                default:
                    return from <= ValidFrom && to >= ValidTo;
            }
        }
        case lcPublicKeyAlgorithm:
            return c.GetPublicKeyAlgorithm() == PublicKeyAlgorithm;
        case lcSignatureAlgorithm:
            return c.GetSignatureAlgorithm() == SignatureAlgorithm;
        case lcPublicKeySize: {
            const int32_t bits = c.GetKeyBits();
            switch (KeySizeLookupOption) {
                case ksloSmaller:
                    return bits <= PublicKeySizeMin;
                case ksloGreater:
                    return bits >= PublicKeySizeMax;
                default:
                    return bits >= PublicKeySizeMin && bits <= PublicKeySizeMax;
            }
        }
        case lcAuthorityKeyIdentifier:
            return (ext.Included & ceAuthorityKeyIdentifier) &&
                   ext.AuthorityKeyIdentifier.KeyIdentifier == AuthorityKeyIdentifier;
        case lcSubjectKeyIdentifier:
            return (ext.Included & ceSubjectKeyIdentifier) &&
                   ext.SubjectKeyIdentifier.KeyIdentifier == SubjectKeyIdentifier;
        case lcKeyUsage: {
            if ((ext.Included & ceKeyUsage) == 0) return false;
            const TSBKeyUsage held = ext.KeyUsage.GetUsages();
            // With kuloMatchAll every usage asked for must be set (others may be too).
            if (KeyUsageLookupOptions & kuloMatchAll) return (held & KeyUsage) == KeyUsage;
            return (held & KeyUsage) != 0;
        }
        case lcEmail: {
            for (int i = 0; i < EmailAddresses.Count(); ++i)
                if (SameAddress(EmailAddresses[i], c.GetSubjectName().EMailAddress)) return true;
            if ((ext.Included & ceSubjectAlternativeName) == 0) return false;
            const TElGeneralNames& names = ext.SubjectAlternativeName.Content;
            for (int32_t n = 0; n < names.GetCount(); ++n) {
                const TElGeneralName& name = *names.GetNames(n);
                if (name.NameType != gnRFC822Name) continue;
                for (int i = 0; i < EmailAddresses.Count(); ++i)
                    if (SameAddress(EmailAddresses[i], name.RFC822Name)) return true;
            }
            return false;
        }
        case lcSerialNumber:
            return c.GetSerialNumber() == SerialNumber;
        case lcPublicKeyHash:
            return Digest(PublicKeyHashAlgorithm, c.GetPublicKeyBytes()) == PublicKeyHash;
        case lcCertificateHash:
            return Digest(CertificateHashAlgorithm, c.GetDER()) == CertificateHash;
        default:
            return false;
    }
}

bool TElCertificateLookup::Matches(const TElX509Certificate& certificate) const {
    bool marked = false;
    for (unsigned bit = 0; bit < 13; ++bit) {
        const auto criterion = TSBLookupCriteria(1u << bit);
        if ((criteria_ & criterion) == 0) continue;
        if (Fits(criterion, certificate)) {
            marked = true;
        } else if (Options & loMatchAll) {
            return false;
        }
    }
    return marked;
}

int32_t TElCertificateLookup::FindNext(const TElCustomCertStorage& storage) {
    // The certificates examined stay alive while the walk holds the storage for reading.
    Guard g(storage.lock_, false);
    const int32_t count = storage.GetCount();
    while (position_ + 1 < count) {
        ++position_;
        const TElX509Certificate* c = storage.GetCertificate(position_);
        if (c != nullptr && Matches(*c)) return position_;
    }
    position_ = std::max(position_, count - 1);
    return -1;
}

// ---------------------------------------------------------------------------------------------
// TElCustomCertStorage

TElCustomCertStorage::TElCustomCertStorage(rtl::Component* owner) : TElBaseCertStorage(owner) {}

TElCustomCertStorage::~TElCustomCertStorage() {
    MarkDestroying();
    SetCRL(nullptr);
}

TElCertificateRevocationList* TElCustomCertStorage::GetCRL() const {
    Guard g(lock_, false);
    return crl_;
}

void TElCustomCertStorage::SetCRL(TElCertificateRevocationList* crl) {
    // The list is part of what a validation reads under the read lock: it changes under the
    // write lock, never in the middle of one.
    Guard g(lock_, true);
    if (crl_ == crl) return;
    if (crl_ != nullptr) RemoveFreeNotification(crl_);
    crl_ = crl;
    if (crl_ != nullptr) FreeNotification(crl_);
}

void TElCustomCertStorage::Notification(rtl::Component* component, Operation operation) {
    TElBaseCertStorage::Notification(component, operation);
    if (operation == Operation::Remove && component == crl_) {
        Guard g(lock_, true);
        crl_ = nullptr;
    }
}

void TElCustomCertStorage::MarkStale() {
    stale_ = true;
}

void TElCustomCertStorage::Add(const TElX509Certificate*, bool) {
    MarkStale();
}

void TElCustomCertStorage::Remove(int32_t) {}

void TElCustomCertStorage::ExportTo(TElCustomCertStorage& storage) const {
    Guard g(lock_, false);
    for (int32_t i = 0; i < GetCount(); ++i)
        storage.Add(GetCertificate(i), true);
}

int32_t TElCustomCertStorage::IndexOf(const TElX509Certificate* certificate) const {
    if (certificate == nullptr) return -1;
    Guard g(lock_, false);
    for (int32_t i = 0; i < GetCount(); ++i)
        if (GetCertificate(i)->GetDER() == certificate->GetDER()) return i;
    return -1;
}

void TElCustomCertStorage::Clear() {
    {
        Guard g(lock_, true);
        while (GetCount() > 0)
            Remove(0);
    }
    MarkStale();
}

bool TElCustomCertStorage::IsIssuerOf(const TElX509Certificate& certificate, const TElX509Certificate& candidate) const {
    if (certificate.GetIssuerRDN().GetCount() != candidate.GetSubjectRDN().GetCount()) return false;
    if (FoldedEntries(certificate.GetIssuerRDN()) != FoldedEntries(candidate.GetSubjectRDN())) return false;
    if (Options & csoStrictChainBuilding) {
        const TElCertificateExtensions& c = certificate.GetExtensions();
        const TElCertificateExtensions& i = candidate.GetExtensions();
        if ((c.Included & ceAuthorityKeyIdentifier) && (i.Included & ceSubjectKeyIdentifier) &&
            !c.AuthorityKeyIdentifier.KeyIdentifier.empty() &&
            c.AuthorityKeyIdentifier.KeyIdentifier != i.SubjectKeyIdentifier.KeyIdentifier)
            return false;
    }
    return true;
}

int32_t TElCustomCertStorage::FindIssuerLocked(const TElX509Certificate& certificate) const {
    for (int32_t i = 0; i < GetCount(); ++i) {
        const TElX509Certificate& candidate = *GetCertificate(i);
        if (candidate.GetDER() != certificate.GetDER() && IsIssuerOf(certificate, candidate)) return i;
    }
    return -1;
}

int32_t TElCustomCertStorage::FindIssuer(const TElX509Certificate* certificate) const {
    if (certificate == nullptr) return -1;
    Guard g(lock_, false);
    return FindIssuerLocked(*certificate);
}

void TElCustomCertStorage::ImportFrom(const TElX509CertificateChain& chain) {
    for (int32_t i = 0; i < chain.GetCount(); ++i)
        Add(chain.GetCertificate(i), true);
}

void TElCustomCertStorage::RebuildChainIndex() const {
    // Called with chainIndexLock_ held. A change made while the index is built marks it stale
    // again.
    stale_ = false;
    Guard g(lock_, false);
    std::vector<bool> isIssuer(size_t(GetCount()), false);
    for (int32_t i = 0; i < GetCount(); ++i) {
        const int32_t issuer = FindIssuerLocked(*GetCertificate(i));
        if (issuer >= 0) isIssuer[size_t(issuer)] = true;
    }
    chainHeads_.clear();
    for (int32_t i = 0; i < GetCount(); ++i)
        if (!isIssuer[size_t(i)]) chainHeads_.push_back(i);
}

int32_t TElCustomCertStorage::GetChainCount() const {
    std::lock_guard<std::mutex> g(chainIndexLock_);
    if (stale_) RebuildChainIndex();
    return int32_t(chainHeads_.size());
}

int32_t TElCustomCertStorage::GetChainHead(int32_t n) const {
    std::lock_guard<std::mutex> g(chainIndexLock_);
    if (stale_) RebuildChainIndex();
    if (n < 0 || n >= int32_t(chainHeads_.size())) return -1;
    return chainHeads_[size_t(n)];
}

std::unique_ptr<TElX509CertificateChain> TElCustomCertStorage::BuildChain(int32_t n) const {
    std::lock_guard<std::mutex> index(chainIndexLock_);
    if (stale_) RebuildChainIndex();
    Guard g(lock_, false);
    if (n < 0 || n >= int32_t(chainHeads_.size())) return nullptr;
    const int32_t head = chainHeads_[size_t(n)];
    if (GetCertificate(head) == nullptr) return nullptr;  // removed since the index was built
    auto chain = std::make_unique<TElX509CertificateChain>();
    std::set<int32_t> taken{head};
    chain->AddCopy(GetCertificate(head));
    // Up the issuers to the top: a certificate without a stored issuer, or one whose issuer
    // is already in the chain (a self-issued root, or a loop of cross-certificates).
    for (int32_t at = head; chain->GetCount() < MaxPathLength;) {
        const int32_t issuer = FindIssuerLocked(*GetCertificate(at));
        if (issuer < 0 || !taken.insert(issuer).second) break;
        chain->AddCopy(GetCertificate(issuer));
        at = issuer;
    }
    return chain;
}

int32_t TElCustomCertStorage::FindFirst(TElCertificateLookup& lookup) const {
    lookup.Reset();
    return lookup.FindNext(*this);
}

int32_t TElCustomCertStorage::FindNext(TElCertificateLookup& lookup) const {
    return lookup.FindNext(*this);
}

// ---------------------------------------------------------------------------------------------
// TElMemoryCertStorage

TElMemoryCertStorage::TElMemoryCertStorage(rtl::Component* owner) : TElCustomCertStorage(owner) {}

TElMemoryCertStorage::~TElMemoryCertStorage() {
    MarkDestroying();
    WriteLock();
    certificates_.clear();
    Unlock();
}

int32_t TElMemoryCertStorage::GetCount() const {
    ReadLock();
    const auto n = int32_t(certificates_.size());
    Unlock();
    return n;
}

TElX509Certificate* TElMemoryCertStorage::GetCertificate(int32_t index) const {
    ReadLock();
    TElX509Certificate* c = index >= 0 && index < int32_t(certificates_.size()) ? certificates_[size_t(index)].get() : nullptr;
    Unlock();
    return c;
}

void TElMemoryCertStorage::Add(const TElX509Certificate* certificate, bool copyPrivateKey) {
    if (certificate == nullptr) return;
    auto copy = std::make_unique<TElX509Certificate>();
    certificate->CopyTo(copy.get(), copyPrivateKey);
    WriteLock();
    certificates_.push_back(std::move(copy));
    Unlock();
    MarkStale();
}

void TElMemoryCertStorage::Remove(int32_t index) {
    std::unique_ptr<TElX509Certificate> removed;
    WriteLock();
    if (index >= 0 && index < int32_t(certificates_.size())) {
        removed = std::move(certificates_[size_t(index)]);
        certificates_.erase(certificates_.begin() + index);
    }
    Unlock();
    MarkStale();
}
// ---------------------------------------------------------------------------------------------
// Validation

namespace {

// Critical extensions the validation acts on or that carry nothing a path depends on here.
bool CriticalAllowed(std::string_view oid) {
    static const std::string_view allowed[] = {
        {"\x55\x1D\x13", 3},  // basic constraints
        {"\x55\x1D\x0F", 3},  // key usage
        {"\x55\x1D\x25", 3},  // extended key usage
        {"\x55\x1D\x23", 3},  // authority key identifier
        {"\x55\x1D\x0E", 3},  // subject key identifier
        {"\x55\x1D\x11", 3},  // subject alternative name
        {"\x55\x1D\x12", 3},  // issuer alternative name
        {"\x55\x1D\x20", 3},  // certificate policies
        {"\x55\x1D\x1F", 3},  // CRL distribution points
        {"\x2B\x06\x01\x05\x05\x07\x01\x01", 8},  // authority information access
    };
    for (std::string_view a : allowed)
        if (a == oid) return true;
    return false;
}

// Critical CRL extensions the check acts on (RFC 5280 5.2): an authority key identifier, an
// issuer alternative name and a CRL number change nothing. A delta CRL indicator or an issuing
// distribution point (kinds of list not built here), or anything unknown, make the list
// unusable.
bool CRLExtensionsActedOn(const TElCertificateRevocationList& crl) {
    const TElCRLExtensions& x = crl.Extensions;
    if ((x.Included & crlDeltaCRLIndicator) && x.DeltaCRLIndicator->Critical) return false;
    for (const auto& other : x.OtherExtensions)
        if (other->Critical) return false;
    for (int32_t i = 0; i < crl.GetCount(); ++i) {
        const TElCRLEntryExtensions& e = crl.GetItem(i)->Extensions;
        // A certificate issuer entry extension makes an indirect list (RFC 5280 5.3.3).
        if ((e.Included & crlCertificateIssuer) && e.CertificateIssuer->Critical) return false;
        for (const auto& other : e.OtherExtensions)
            if (other->Critical) return false;
    }
    return true;
}

TSBCertificateValidityReason OwnFaults(const TElX509Certificate& c, rtl::TDateTime moment) {
    TSBCertificateValidityReason r = 0;
    if (c.GetValidFrom() > moment) r |= vrNotYetValid;
    if (c.GetValidTo() < moment) r |= vrExpired;
    if (!c.SignatureAlgorithmsMatch()) r |= vrInvalidSignature;
    const auto& met = c.GetExtensions().Met();
    for (size_t i = 0; i < met.size(); ++i) {
        if (met[i].Critical && !CriticalAllowed(met[i].OID)) r |= vrUnsupportedExtension;
        // RFC 5280 4.2: a certificate must not include more than one instance of an extension.
        for (size_t j = 0; j < i; ++j)
            if (met[j].OID == met[i].OID) r |= vrUnsupportedExtension;
    }
    return r;
}

// Name chaining (RFC 5280 6.1.4 (a), 6.1.3 (a)(4)): the issuer names the subject exactly,
// the same attributes in the same order and the same RDNs, byte for byte. RDNsEqual's freedom of
// order would chain a name to its reordering, which is another name.
bool SameName(const TElRelativeDistinguishedName& a, const TElRelativeDistinguishedName& b) {
    if (a.GetCount() != b.GetCount()) return false;
    for (int32_t i = 0; i < a.GetCount(); ++i) {
        if (a.GetOID(i) != b.GetOID(i) || a.GetValue(i) != b.GetValue(i) || a.GetTag(i) != b.GetTag(i)) return false;
        if (i > 0 && (a.GetGroup(i) == a.GetGroup(i - 1)) != (b.GetGroup(i) == b.GetGroup(i - 1))) return false;
    }
    return true;
}

bool SelfIssued(const TElX509Certificate& c) {
    return SameName(c.GetIssuerRDN(), c.GetSubjectRDN());
}

// The path search: from a certificate up to a stored one over signed links.
class PathSearch {
public:
    PathSearch(const TElCustomCertStorage& storage, const TElX509Certificate& leaf) : storage_(storage) {
        if (const TElX509CertificateChain* chain = leaf.GetChain())
            for (int32_t i = 0; i < chain->GetCount(); ++i)
                untrusted_.push_back(chain->GetCertificate(i));
    }

    // True with path filled (leaf first, the stored certificate last).
    bool Find(const TElX509Certificate& leaf, std::vector<const TElX509Certificate*>& path) {
        path.assign(1, &leaf);
        return Up(path);
    }
    // Candidates named the certificate's issuer, yet none of them signed it.
    bool OnlyBadSignatures() const { return issuerNamed_ && !issuerSigned_; }

private:
    bool Signed(const TElX509Certificate& child, const TElX509Certificate& issuer) {
        const auto key = std::make_pair(&child, &issuer);
        if (const auto it = checked_.find(key); it != checked_.end()) return it->second;
        // A bound on the signatures one validation checks, whatever look-alikes it is given.
        const bool ok = checked_.size() < kMaxSignatureChecks && child.VerifySignedBy(&issuer);
        checked_[key] = ok;
        return ok;
    }

    static bool InPath(const std::vector<const TElX509Certificate*>& path, const TElX509Certificate& c) {
        for (const TElX509Certificate* p : path)
            if (p->GetDER() == c.GetDER()) return true;
        return false;
    }

    bool Up(std::vector<const TElX509Certificate*>& path) {
        const TElX509Certificate& current = *path.back();
        if (int32_t(path.size()) >= TElCustomCertStorage::MaxPathLength) return false;
        // A stored issuer ends the path.
        for (int32_t i = 0; i < storage_.GetCount(); ++i) {
            const TElX509Certificate& candidate = *storage_.GetCertificate(i);
            if (!SameName(candidate.GetSubjectRDN(), current.GetIssuerRDN()) || InPath(path, candidate)) continue;
            if (path.size() == 1) issuerNamed_ = true;
            if (Signed(current, candidate)) {
                if (path.size() == 1) issuerSigned_ = true;
                path.push_back(&candidate);
                return true;
            }
        }
        // Otherwise an untrusted intermediate of the certificate's chain, and on from there.
        for (const TElX509Certificate* candidate : untrusted_) {
            if (!SameName(candidate->GetSubjectRDN(), current.GetIssuerRDN()) || InPath(path, *candidate) ||
                storage_.IndexOf(candidate) >= 0 || failed_.count(candidate->GetDER()))
                continue;
            if (path.size() == 1) issuerNamed_ = true;
            if (!Signed(current, *candidate)) continue;
            if (path.size() == 1) issuerSigned_ = true;
            path.push_back(candidate);
            if (Up(path)) return true;
            path.pop_back();
            failed_.insert(ByteString(candidate->GetDER()));
        }
        return false;
    }

    static constexpr size_t kMaxSignatureChecks = 256;
    const TElCustomCertStorage& storage_;
    std::vector<const TElX509Certificate*> untrusted_;
    std::map<std::pair<const TElX509Certificate*, const TElX509Certificate*>, bool> checked_;
    std::set<ByteString, std::less<>> failed_;
    bool issuerNamed_ = false;
    bool issuerSigned_ = false;
};

}  // namespace

TSBCertificateValidity TElCustomCertStorage::Validate(const TElX509Certificate* certificate,
                                                      TSBCertificateValidityReason& reason,
                                                      rtl::TDateTime validityMoment) {
    if (certificate == nullptr) {
        reason = vrUnknownCA;
        return cvInvalid;
    }
    std::vector<TElCertificatePathStatus> path;
    return ValidatePath(*certificate, validityMoment, path, reason);
}

TSBCertificateValidity TElCustomCertStorage::ValidatePath(const TElX509Certificate& certificate,
                                                          rtl::TDateTime moment,
                                                          std::vector<TElCertificatePathStatus>& path,
                                                          TSBCertificateValidityReason& reason) const {
    if (moment == 0) moment = LocalTimeToUTCTime(rtl::DateTimeFromTimePoint(std::chrono::system_clock::now()));
    Guard g(lock_, false);
    path.clear();
    reason = 0;

    // The path.
    std::vector<const TElX509Certificate*> certs;
    PathSearch search(*this, certificate);
    const bool stored = IndexOf(&certificate) >= 0;
    bool trusted = stored;
    if (stored) {
        certs.assign(1, &certificate);
    } else {
        trusted = search.Find(certificate, certs);
        if (!trusted) certs.assign(1, &certificate);
    }
    for (const TElX509Certificate* c : certs)
        path.push_back({c, OwnFaults(*c, moment), false});
    if (!trusted) {
        path[0].Reason |= search.OnlyBadSignatures() ? vrInvalidSignature : vrUnknownCA;
    } else {
        path.back().Stored = true;
    }

    // A stored self-signed certificate validated itself proves itself by its signature.
    bool selfSigned = false;
    if (stored && certificate.IsSelfSigned()) {
        selfSigned = certificate.VerifySelfSignature();
        if (!selfSigned) path[0].Reason |= vrInvalidSignature;
    }

    // Issuers, from the top down (RFC 5280 6.1.4 (k) to (n)); the stored end counts too.
    if (trusted) {
        const size_t top = path.size() - 1;
        int64_t maxPathLength = int64_t(path.size());
        for (size_t i = top; i >= 1; --i) {
            const TElX509Certificate& issuer = *path[i].Certificate;
            TSBCertificateValidityReason& r = path[i].Reason;
            const TElCertificateExtensions& ext = issuer.GetExtensions();
            const bool isCA = (ext.Included & ceBasicConstraints) ? ext.BasicConstraints.CA
                                                                   : (issuer.GetVersion() == 1 && path[i].Stored);
            if (!isCA) r |= vrCAUnauthorized;
            if ((ext.Included & ceKeyUsage) && !ext.KeyUsage.KeyCertSign) r |= vrCAUnauthorized;
            if (i != top && !SelfIssued(issuer)) {
                if (maxPathLength <= 0) r |= vrCAUnauthorized;
                --maxPathLength;
            }
            if ((ext.Included & ceBasicConstraints) && ext.BasicConstraints.PathLenConstraint >= 0 &&
                ext.BasicConstraints.PathLenConstraint < maxPathLength)
                maxPathLength = ext.BasicConstraints.PathLenConstraint;
        }
    }

    // The revocation list, for every certificate whose issuer it names. Its signer is a
    // certificate of that issuer's name: one of the validated path above the certificate
    // (nearest first; a CA's self-issued certificates carry its other keys, RFC 5280 6.3.3 (f)),
    // or a stored one.
    if (crl_ != nullptr) {
        const size_t last = path.size() == 1 ? 1 : path.size() - 1;  // the stored end is not checked
        const bool current = crl_->ThisUpdate <= moment && (crl_->NextUpdate == 0 || moment <= crl_->NextUpdate);
        const bool actedOn = CRLExtensionsActedOn(*crl_);
        for (size_t i = 0; i < last; ++i) {
            const TElX509Certificate& c = *path[i].Certificate;
            if (!crl_->IssuerMatches(c.GetIssuerRDN())) continue;
            std::vector<const TElX509Certificate*> signers;
            for (size_t j = i + 1; j < path.size(); ++j)
                signers.push_back(path[j].Certificate);
            if (c.IsSelfSigned()) signers.push_back(&c);
            for (int32_t k = 0; k < GetCount(); ++k)
                signers.push_back(GetCertificate(k));
            bool signedByIssuer = false;
            for (const TElX509Certificate* signer : signers) {
                if (!SameName(signer->GetSubjectRDN(), c.GetIssuerRDN())) continue;
                const TElCertificateExtensions& ext = signer->GetExtensions();
                if ((ext.Included & ceKeyUsage) && !ext.KeyUsage.CRLSign) continue;
                if (crl_->VerifySignedBy(signer)) {
                    signedByIssuer = true;
                    break;
                }
            }
            if (!signedByIssuer || !current || !actedOn)
                path[i].Reason |= vrCRLUnusable;
            else if (crl_->IsRevoked(&c))
                path[i].Reason |= vrRevoked;
        }
    }

    for (const auto& p : path)
        reason |= p.Reason;
    if (reason != 0) return cvInvalid;
    return selfSigned ? cvSelfSigned : cvOk;
}
