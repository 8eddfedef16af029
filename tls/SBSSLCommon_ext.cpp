// tls/SBSSLCommon_ext.cpp: the hello extensions: each turns its settings into extension_data
// and reads them back. Readers work on bytes from the peer: every field is checked against
// what is left before it is taken, and a malformed field ends the reading with what was read so
// far; nothing raises.
#include <algorithm>

#include "crypto/base/SBASN1Tree.h"
#include "rtl/Bytes.h"
#include "tls/SBSSLCommon.h"

namespace {

void PutU16(ByteArray& out, size_t v) {
    out.push_back(uint8_t(v >> 8));
    out.push_back(uint8_t(v));
}

void PutBytes(ByteArray& out, const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    out.insert(out.end(), b, b + n);
}

// A field of a two-byte length and that many bytes (a vector <0..2^16-1>).
void PutU16Field(ByteArray& out, const void* p, size_t n) {
    PutU16(out, n);
    PutBytes(out, p, n);
}

// Whether such a field starts at pos and ends by end (pos <= end).
bool U16FieldFits(const ByteArray& data, size_t pos, size_t end) {
    return end - pos >= 2 && rtl::load_be16(&data[pos]) <= end - pos - 2;
}

// A field of a one-byte length and the bytes: more than 255 bytes are cut to 255.
ByteArray U8Field(const void* p, size_t size) {
    const size_t n = std::min<size_t>(size, 255);
    ByteArray out;
    out.reserve(1 + n);
    out.push_back(uint8_t(n));
    PutBytes(out, p, n);
    return out;
}

}  // namespace

template <class T>
const T& TElCustomSSLExtension::SameClass(const TElCustomSSLExtension& source) {
    const T* s = dynamic_cast<const T*>(&source);
    if (s == nullptr) throw rtl::EConvertError("Invalid object type");
    return *s;
}

void TElCustomSSLExtension::SetExtensionData(const ByteArray& data) {
    // The settings go, the type stays: an extension given its data keeps being the extension
    // it was.
    const int32_t type = type_;
    Clear();
    type_ = type;
    data_ = data;
}

void TElCustomSSLExtension::Assign(const TElCustomSSLExtension& source) {
    if (&source == this) return;
    Clear();
    type_ = source.type_;
    data_ = source.data_;
    Enabled = source.Enabled;
    ServerSide = source.ServerSide;
}

void TElCustomSSLExtension::Clear() {
    type_ = -1;
    data_.clear();
}

// ---------------------------------------------------------------------------------------------
// server_name (RFC 6066 3)

void TElServerNameSSLExtension::SetExtensionData(const ByteArray& data) {
    TElCustomSSLExtension::SetExtensionData(data);
    if (ServerSide || !U16FieldFits(data, 0, data.size())) return;
    size_t pos = 2;
    const size_t end = 2 + rtl::load_be16(data.data());
    while (end - pos > 2) {
        TElSSLServerName& entry = names_.emplace_back();
        entry.NameType = data[pos] == 0 ? 0 : 1;
        const size_t nameLength = rtl::load_be16(&data[pos + 1]);
        pos += 3;
        if (nameLength > end - pos) break;  // the entry stays, with an empty name
        entry.Name.assign(reinterpret_cast<const char*>(&data[pos]), nameLength);
        pos += nameLength;
    }
}

ByteArray TElServerNameSSLExtension::GetExtensionData() const {
    if (ServerSide) return {};
    ByteArray list;
    for (const TElSSLServerName& n : names_) {
        if (n.NameType != 0) continue;
        list.push_back(0);
        PutU16Field(list, n.Name.data(), n.Name.size());
    }
    ByteArray out;
    PutU16Field(out, list.data(), list.size());
    return out;
}

void TElServerNameSSLExtension::Assign(const TElCustomSSLExtension& source) {
    const auto& s = SameClass<TElServerNameSSLExtension>(source);
    if (&s == this) return;
    TElCustomSSLExtension::Assign(source);
    names_ = s.names_;
}

void TElServerNameSSLExtension::Clear() {
    TElCustomSSLExtension::Clear();
    names_.clear();
}

TElSSLServerName& TElServerNameSSLExtension::GetName(int32_t index) {
    if (index < 0 || index >= GetCount()) throw rtl::EListError("List index out of bounds");
    return names_[size_t(index)];
}

int32_t TElServerNameSSLExtension::AddName() {
    names_.emplace_back();
    return GetCount() - 1;
}

// ---------------------------------------------------------------------------------------------
// max_fragment_length (RFC 6066 4)

void TElMaxFragmentLengthSSLExtension::SetExtensionData(const ByteArray& data) {
    TElCustomSSLExtension::SetExtensionData(data);
    MaxLength = (!data.empty() && data[0] >= 1 && data[0] <= 4) ? uint8_t(data[0] - 1) : 4;
}

ByteArray TElMaxFragmentLengthSSLExtension::GetExtensionData() const {
    if (MaxLength > 3) return {};
    return {uint8_t(MaxLength + 1)};
}

void TElMaxFragmentLengthSSLExtension::Assign(const TElCustomSSLExtension& source) {
    const auto& s = SameClass<TElMaxFragmentLengthSSLExtension>(source);
    if (&s == this) return;
    TElCustomSSLExtension::Assign(source);
    MaxLength = s.MaxLength;
}

void TElMaxFragmentLengthSSLExtension::Clear() {
    TElCustomSSLExtension::Clear();
    MaxLength = 3;
}

// ---------------------------------------------------------------------------------------------
// client_certificate_url (RFC 6066 5)

void TElClientCertURLsSSLExtension::SetExtensionData(const ByteArray& data) {
    TElCustomSSLExtension::SetExtensionData(data);
}

void TElClientCertURLsSSLExtension::Assign(const TElCustomSSLExtension& source) {
    const auto& s = SameClass<TElClientCertURLsSSLExtension>(source);
    if (&s == this) return;
    TElCustomSSLExtension::Assign(source);
    ChainType = s.ChainType;
    urls_ = s.urls_;
}

void TElClientCertURLsSSLExtension::Clear() {
    TElCustomSSLExtension::Clear();
    ChainType = 0;
    urls_.clear();
}

TElSSLCertURL& TElClientCertURLsSSLExtension::GetURL(int32_t index) {
    if (index < 0 || index >= GetCount()) throw rtl::EListError("List index out of bounds");
    return urls_[size_t(index)];
}

int32_t TElClientCertURLsSSLExtension::AddURL() {
    urls_.emplace_back();
    return GetCount() - 1;
}

// ---------------------------------------------------------------------------------------------
// trusted_ca_keys (RFC 6066 6)

void TElTrustedCAsSSLExtension::SetExtensionData(const ByteArray& data) {
    TElCustomSSLExtension::SetExtensionData(data);
    if (ServerSide || !U16FieldFits(data, 0, data.size())) return;
    size_t pos = 2;
    const size_t end = 2 + rtl::load_be16(data.data());
    while (end - pos > 1) {
        const int32_t index = AddCA();
        TElSSLTrustedCA& ca = *cas_.back();
        ca.IdentifierType = data[pos++];
        switch (ca.IdentifierType) {
            case 0: break;
            case 1:
            case 3:
                if (end - pos < 20) {
                    RemoveCA(index);
                    return;
                }
                ca.Hash.assign(data.begin() + ptrdiff_t(pos), data.begin() + ptrdiff_t(pos + 20));
                pos += 20;
                break;
            case 2: {
                if (!U16FieldFits(data, pos, end)) {
                    RemoveCA(index);
                    return;
                }
                const size_t nameLength = rtl::load_be16(&data[pos]);
                pos += 2;
                TElASN1ConstrainedTag tree;
                bool named = tree.LoadFromBuffer(&data[pos], nameLength) && tree.GetCount() > 0 &&
                             tree.GetChild(0)->IsConstrained() &&
                             ca.Name.LoadFromTag(static_cast<const TElASN1ConstrainedTag&>(*tree.GetChild(0)));
                pos += nameLength;
                if (!named) RemoveCA(index);  // a name that does not parse is dropped; reading goes on
                break;
            }
            default: RemoveCA(index); return;
        }
    }
}

ByteArray TElTrustedCAsSSLExtension::GetExtensionData() const {
    if (ServerSide) return {};
    ByteArray list;
    for (const auto& ca : cas_) {
        switch (ca->IdentifierType) {
            case 0: list.push_back(0); break;
            case 1:
            case 3: {
                list.push_back(ca->IdentifierType);
                uint8_t hash[20] = {};
                std::copy_n(ca->Hash.begin(), std::min<size_t>(20, ca->Hash.size()), hash);
                PutBytes(list, hash, 20);
                break;
            }
            case 2: {
                list.push_back(2);
                const ByteString der = ca->Name.SaveToDER();
                PutU16Field(list, der.data(), der.size());
                break;
            }
            default: break;
        }
    }
    ByteArray out;
    PutU16Field(out, list.data(), list.size());
    return out;
}

void TElTrustedCAsSSLExtension::Assign(const TElCustomSSLExtension& source) {
    const auto& s = SameClass<TElTrustedCAsSSLExtension>(source);
    if (&s == this) return;
    TElCustomSSLExtension::Assign(source);
    for (const auto& ca : s.cas_) {
        auto copy = std::make_unique<TElSSLTrustedCA>();
        copy->IdentifierType = ca->IdentifierType;
        copy->Hash = ca->Hash;
        copy->Name.Assign(&ca->Name);
        cas_.push_back(std::move(copy));
    }
}

void TElTrustedCAsSSLExtension::Clear() {
    TElCustomSSLExtension::Clear();
    cas_.clear();
}

TElSSLTrustedCA& TElTrustedCAsSSLExtension::GetCA(int32_t index) {
    if (index < 0 || index >= GetCount()) throw rtl::EListError("List index out of bounds");
    return *cas_[size_t(index)];
}

int32_t TElTrustedCAsSSLExtension::AddCA() {
    cas_.push_back(std::make_unique<TElSSLTrustedCA>());
    return GetCount() - 1;
}

void TElTrustedCAsSSLExtension::RemoveCA(int32_t index) {
    if (index < 0 || index >= GetCount()) throw rtl::EListError("List index out of bounds");
    cas_.erase(cas_.begin() + index);
}

// ---------------------------------------------------------------------------------------------
// truncated_hmac (RFC 6066 7)

void TElTruncatedHMACSSLExtension::Assign(const TElCustomSSLExtension& source) {
    SameClass<TElTruncatedHMACSSLExtension>(source);
    TElCustomSSLExtension::Assign(source);
}

// ---------------------------------------------------------------------------------------------
// status_request (RFC 6066 8)

ByteString TElSSLOCSPStatusRequest::GetResponderID(int32_t index) const {
    if (index < 0 || index >= GetResponderIDCount()) throw rtl::EListError("List index out of bounds");
    return responderIDs_[size_t(index)];
}

void TElSSLOCSPStatusRequest::SetResponderID(int32_t index, const ByteString& id) {
    if (index < 0 || index >= GetResponderIDCount()) throw rtl::EListError("List index out of bounds");
    responderIDs_[size_t(index)] = id;
}

void TElSSLOCSPStatusRequest::SetResponderIDCount(int32_t count) { responderIDs_.resize(size_t(std::max(count, 0))); }

void TElCertificateStatusSSLExtension::SetExtensionData(const ByteArray& data) {
    TElCustomSSLExtension::SetExtensionData(data);
    if (ServerSide || data.empty()) return;
    if (data[0] != 1) {
        StatusType = cstUnknown;
        return;
    }
    StatusType = cstOCSP;
    if (data.size() < 4 || !U16FieldFits(data, 1, data.size())) return;
    size_t pos = 3;
    const size_t end = 3 + rtl::load_be16(&data[1]);
    std::vector<ByteString> ids;
    bool malformed = false;
    while (pos < end) {
        if (!U16FieldFits(data, pos, end)) {
            malformed = true;
            break;
        }
        const size_t n = rtl::load_be16(&data[pos]);
        ids.emplace_back(reinterpret_cast<const char*>(&data[pos + 2]), n);
        pos += 2 + n;
    }
    OCSPStatusRequest.SetResponderIDCount(int32_t(ids.size()));
    for (size_t i = 0; i < ids.size(); ++i) OCSPStatusRequest.SetResponderID(int32_t(i), ids[i]);
    // A malformed id ends the reading, without request extensions.
    if (malformed || !U16FieldFits(data, end, data.size())) return;
    const size_t n = rtl::load_be16(&data[end]);
    OCSPStatusRequest.RequestExtensions.assign(data.begin() + ptrdiff_t(end + 2), data.begin() + ptrdiff_t(end + 2 + n));
}

ByteArray TElCertificateStatusSSLExtension::GetExtensionData() const {
    if (ServerSide || StatusType != cstOCSP) return {};
    ByteArray ids;
    for (int32_t i = 0; i < OCSPStatusRequest.GetResponderIDCount(); ++i) {
        const ByteString id = OCSPStatusRequest.GetResponderID(i);
        PutU16Field(ids, id.data(), id.size());
    }
    const ByteArray& extensions = OCSPStatusRequest.RequestExtensions;
    ByteArray out{1};
    PutU16Field(out, ids.data(), ids.size());
    PutU16Field(out, extensions.data(), extensions.size());
    return out;
}

void TElCertificateStatusSSLExtension::Assign(const TElCustomSSLExtension& source) {
    const auto& s = SameClass<TElCertificateStatusSSLExtension>(source);
    if (&s == this) return;
    TElCustomSSLExtension::Assign(source);
    StatusType = s.StatusType;
    OCSPStatusRequest = s.OCSPStatusRequest;
    ResponseData = s.ResponseData;
}

void TElCertificateStatusSSLExtension::Clear() {
    TElCustomSSLExtension::Clear();
    StatusType = cstOCSP;
    OCSPStatusRequest = TElSSLOCSPStatusRequest();
}

// ---------------------------------------------------------------------------------------------
// user_name (RFC 5054 2.8.1)

void TElUserNameSSLExtension::SetExtensionData(const ByteArray& data) {
    TElCustomSSLExtension::SetExtensionData(data);
    if (!data.empty() && data.size() == size_t(data[0]) + 1) userName_.assign(data.begin() + 1, data.end());
}

ByteArray TElUserNameSSLExtension::GetExtensionData() const { return U8Field(userName_.data(), userName_.size()); }

void TElUserNameSSLExtension::Assign(const TElCustomSSLExtension& source) {
    const auto& s = SameClass<TElUserNameSSLExtension>(source);
    if (&s == this) return;
    TElCustomSSLExtension::Assign(source);
    userName_ = s.userName_;
}

void TElUserNameSSLExtension::Clear() {
    TElCustomSSLExtension::Clear();
    userName_.clear();
}

void TElUserNameSSLExtension::SetUserName(const ByteString& name) {
    // The length is one byte: a longer name is cut to 255 bytes, so the data written and the
    // name kept agree.
    SetExtensionData(U8Field(name.data(), name.size()));
}

// ---------------------------------------------------------------------------------------------
// cert_type (RFC 6091)

void TElServerCertificateTypeSSLExtension::Assign(const TElCustomSSLExtension& source) {
    SameClass<TElServerCertificateTypeSSLExtension>(source);
    TElCustomSSLExtension::Assign(source);
}

void TElServerCertificateTypeSSLExtension::SetCertificateType(uint8_t value) { SetExtensionData(ByteArray{value}); }

uint8_t TElServerCertificateTypeSSLExtension::GetCertificateType() const {
    const ByteArray data = GetExtensionData();
    return data.empty() ? 0 : data[0];
}

void TElClientCertificateTypeSSLExtension::SetExtensionData(const ByteArray& data) {
    TElCustomSSLExtension::SetExtensionData(data);
    if (data.empty()) return;
    const size_t n = std::min<size_t>(data[0], data.size() - 1);
    types_.assign(data.begin() + 1, data.begin() + 1 + ptrdiff_t(n));
}

ByteArray TElClientCertificateTypeSSLExtension::GetExtensionData() const {
    return U8Field(types_.data(), types_.size());
}

void TElClientCertificateTypeSSLExtension::Assign(const TElCustomSSLExtension& source) {
    const auto& s = SameClass<TElClientCertificateTypeSSLExtension>(source);
    if (&s == this) return;
    TElCustomSSLExtension::Assign(source);
    types_ = s.types_;
}

void TElClientCertificateTypeSSLExtension::Clear() {
    TElCustomSSLExtension::Clear();
    types_.clear();
}

bool TElClientCertificateTypeSSLExtension::Contains(uint8_t type) const {
    return std::find(types_.begin(), types_.end(), type) != types_.end();
}

uint8_t TElClientCertificateTypeSSLExtension::GetType(int32_t index) const {
    if (index < 0 || index >= GetCount()) throw ECryptoLibraryError("Certificate type number out of index!");
    return types_[size_t(index)];
}

void TElClientCertificateTypeSSLExtension::SetType(int32_t index, uint8_t value) {
    if (index < 0 || index >= GetCount()) throw ECryptoLibraryError("Certificate type number out of index!");
    types_[size_t(index)] = value;
}

// ---------------------------------------------------------------------------------------------
// SessionTicket (RFC 5077 3.2: the ticket is the extension_data itself, with no length of its
// own)

void TElSessionTicketSSLExtension::SetExtensionData(const ByteArray& data) {
    TElCustomSSLExtension::SetExtensionData(data);
    Ticket = data;
}

ByteArray TElSessionTicketSSLExtension::GetExtensionData() const { return Ticket; }

void TElSessionTicketSSLExtension::Assign(const TElCustomSSLExtension& source) {
    const auto& s = SameClass<TElSessionTicketSSLExtension>(source);
    if (&s == this) return;
    TElCustomSSLExtension::Assign(source);
    Ticket = s.Ticket;
}

void TElSessionTicketSSLExtension::Clear() {
    TElCustomSSLExtension::Clear();
    Ticket.clear();
}

// ---------------------------------------------------------------------------------------------
// Certificate hash types

void TElCertHashTypesSSLExtension::SetExtensionData(const ByteArray& data) {
    TElCustomSSLExtension::SetExtensionData(data);
    SetAll(false);
    if (data.empty()) return;
    const size_t n = std::min<size_t>(data[0], data.size() - 1);
    for (size_t i = 1; i <= n; ++i)
        if (data[i] < 5) types_[data[i]] = true;
}

ByteArray TElCertHashTypesSSLExtension::GetExtensionData() const {
    ByteArray out{0};
    for (uint8_t code = 0; code < 5; ++code)
        if (types_[code]) out.push_back(code);
    out[0] = uint8_t(out.size() - 1);
    return out;
}

void TElCertHashTypesSSLExtension::Assign(const TElCustomSSLExtension& source) {
    const auto& s = SameClass<TElCertHashTypesSSLExtension>(source);
    if (&s == this) return;
    TElCustomSSLExtension::Assign(source);
    std::copy_n(s.types_, 5, types_);
}

void TElCertHashTypesSSLExtension::Clear() {
    TElCustomSSLExtension::Clear();
    SetAll(true);
}

void TElCertHashTypesSSLExtension::SetAll(bool value) { std::fill_n(types_, 5, value); }

// ---------------------------------------------------------------------------------------------
// The collection

void TElCustomSSLExtensions::Assign(const TElCustomSSLExtensions& source) {
    if (&source == this) return;
    Clear();
    ServerName.Assign(source.ServerName);
    MaxFragmentLength.Assign(source.MaxFragmentLength);
    TrustedCAs.Assign(source.TrustedCAs);
    TruncatedHMAC.Assign(source.TruncatedHMAC);
    ClientCertURLs.Assign(source.ClientCertURLs);
    UserName.Assign(source.UserName);
    ServerCertificateType.Assign(source.ServerCertificateType);
    ClientCertificateType.Assign(source.ClientCertificateType);
    CertificateStatus.Assign(source.CertificateStatus);
    CertHashTypes.Assign(source.CertHashTypes);
    SessionTicket = source.SessionTicket;
    SetOtherCount(source.GetOtherCount());
    for (size_t i = 0; i < others_.size(); ++i) others_[i]->Assign(*source.others_[i]);
}

void TElCustomSSLExtensions::Clear() {
    ServerName.Clear();
    MaxFragmentLength.Clear();
    TrustedCAs.Clear();
    TruncatedHMAC.Clear();
    ClientCertURLs.Clear();
    CertificateStatus.Clear();
    UserName.Clear();
    CertHashTypes.Clear();
    SessionTicket = false;
    others_.clear();
}

TElCustomSSLExtension& TElCustomSSLExtensions::GetOtherExtension(int32_t index) {
    if (index < 0 || index >= GetOtherCount()) throw rtl::EListError("List index out of bounds");
    return *others_[size_t(index)];
}

void TElCustomSSLExtensions::SetOtherCount(int32_t count) {
    count = std::max(count, 0);
    while (GetOtherCount() > count) others_.pop_back();
    while (GetOtherCount() < count) {
        auto e = std::make_unique<TElCustomSSLExtension>();
        e->SetExtensionType(0);
        e->Enabled = true;
        others_.push_back(std::move(e));
    }
}
