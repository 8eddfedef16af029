// pki/SBCustomCertStorage.cpp: the storages, their chain index and lookups.
#include "pki/SBCustomCertStorage.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <set>
#include <tuple>

#include "crypto/SBHashFunction.h"
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

void TElCustomCertStorage::SetCRL(TElCertificateRevocationList* crl) {
    if (crl_ == crl) return;
    if (crl_ != nullptr) RemoveFreeNotification(crl_);
    crl_ = crl;
    if (crl_ != nullptr) FreeNotification(crl_);
}

void TElCustomCertStorage::Notification(rtl::Component* component, Operation operation) {
    TElBaseCertStorage::Notification(component, operation);
    if (operation == Operation::Remove && component == crl_) crl_ = nullptr;
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
