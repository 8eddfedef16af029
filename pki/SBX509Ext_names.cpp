// pki/SBX509Ext_names.cpp: the GeneralName choice (RFC 5280 4.2.1.6), lists of it, and the
// IP address texts.
#include <charconv>
#include <string>

#include "crypto/base/SBASN1Tree.h"
#include "pki/SBX509Ext.h"

namespace {

TElASN1SimpleTag& AddPrimitive(TElASN1ConstrainedTag& parent, uint8_t tagByte, std::string_view content) {
    auto& t = static_cast<TElASN1SimpleTag&>(*parent.GetChild(parent.AddChild(false)));
    t.TagByte = tagByte;
    t.SetContent(content);
    return t;
}

// The permanent identifier inside an other name's value: SEQUENCE { UTF8String OPTIONAL,
// OBJECT IDENTIFIER OPTIONAL } (RFC 4043 2).
void ReadPermanentIdentifier(std::string_view value, TElPermanentIdentifier& out) {
    TElASN1ConstrainedTag root;
    if (!LoadTagTree(root, value) || root.GetCount() != 1) return;
    const TElASN1ConstrainedTag* seq = ConstructedChild(root, 0, 0x30);
    if (seq == nullptr || seq->GetCount() < 1) return;
    int i = 0;
    if (const TElASN1SimpleTag* id = PrimitiveChild(*seq, i, 0x0C)) {
        out.PermanentIdentifier = id->GetContent();
        ++i;
    }
    if (const TElASN1SimpleTag* assigner = PrimitiveChild(*seq, i, 0x06)) out.Assigner = assigner->GetContent();
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TElGeneralName

bool TElGeneralName::LoadFromTag(const TElASN1CustomTag& tag) {
    NameType = gnUnknown;
    const bool constructed = tag.IsConstrained();
    const auto* node = constructed ? static_cast<const TElASN1ConstrainedTag*>(&tag) : nullptr;
    const ByteString content = constructed ? ByteString() : static_cast<const TElASN1SimpleTag&>(tag).GetContent();
    switch (tag.TagByte) {
        case 0xA0: {
            if (!constructed || node->GetCount() != 2) return false;
            const TElASN1SimpleTag* type = PrimitiveChild(*node, 0, 0x06);
            const TElASN1ConstrainedTag* wrapped = ConstructedChild(*node, 1, 0xA0);
            if (type == nullptr || wrapped == nullptr) return false;
            OtherName.OID = type->GetContent();
            OtherName.Value = TagContentToString(*wrapped);
            NameType = gnOtherName;
            if (OtherName.OID == SB_OID_PERMANENT_IDENTIFIER) {
                PermanentIdentifier = TElPermanentIdentifier();
                ReadPermanentIdentifier(OtherName.Value, PermanentIdentifier);
                NameType = gnPermanentIdentifier;
            }
            return true;
        }
        case 0x81:
            if (constructed) return false;
            RFC822Name = content;
            NameType = gnRFC822Name;
            return true;
        case 0x82:
            if (constructed) return false;
            DNSName = content;
            NameType = gnDNSName;
            return true;
        case 0xA3:
            // An X.400 address: accepted and not kept.
            return constructed;
        case 0xA4: {
            if (!constructed) return false;
            if (const TElASN1ConstrainedTag* name = ConstructedChild(*node, 0, 0x30);
                name != nullptr && node->GetCount() == 1)
                DirectoryName.LoadFromTag(*name);
            NameType = gnDirectoryName;
            return true;
        }
        case 0xA5: {
            if (!constructed) return false;
            int i = 0;
            EdiPartyName.NameAssigner.clear();
            if (const TElASN1SimpleTag* assigner = PrimitiveChild(*node, 0, 0x80)) {
                EdiPartyName.NameAssigner = assigner->GetContent();
                ++i;
            }
            if (const TElASN1SimpleTag* party = PrimitiveChild(*node, i, 0x81)) EdiPartyName.PartyName = party->GetContent();
            NameType = gnEdiPartyName;
            return true;
        }
        case 0x86:
            if (constructed) return false;
            UniformResourceIdentifier = content;
            NameType = gnUniformResourceIdentifier;
            return true;
        case 0x87:
            if (constructed) return false;
            IpAddress = IPBytesToText(content);
            NameType = gnIPAddress;
            return true;
        case 0x88:
            if (constructed) return false;
            RegisteredID = content;
            NameType = gnRegisteredID;
            return true;
        default:
            return false;
    }
}

bool TElGeneralName::SaveToTag(TElASN1ConstrainedTag& parent) {
    if (NameType == gnPermanentIdentifier) {
        ByteString inner;
        if (!PermanentIdentifier.PermanentIdentifier.empty())
            inner += EncodeDERTLV(0x0C, PermanentIdentifier.PermanentIdentifier);
        if (!PermanentIdentifier.Assigner.empty()) inner += EncodeDERTLV(0x06, PermanentIdentifier.Assigner);
        OtherName.OID = ByteString(SB_OID_PERMANENT_IDENTIFIER);
        OtherName.Value = EncodeDERTLV(0x30, inner);
        NameType = gnOtherName;
    }
    switch (NameType) {
        case gnRFC822Name:
            AddPrimitive(parent, 0x81, RFC822Name);
            return true;
        case gnDNSName:
            AddPrimitive(parent, 0x82, DNSName);
            return true;
        case gnUniformResourceIdentifier:
            AddPrimitive(parent, 0x86, UniformResourceIdentifier);
            return true;
        case gnRegisteredID:
            AddPrimitive(parent, 0x88, RegisteredID);
            return true;
        case gnIPAddress:
            AddPrimitive(parent, 0x87, IPTextToBytes(IpAddress));
            return true;
        case gnDirectoryName:
            AddPrimitive(parent, 0xA4, DirectoryName.SaveToDER());
            return true;
        case gnEdiPartyName: {
            ByteString inner;
            if (!EdiPartyName.NameAssigner.empty()) inner += EncodeDERTLV(0x80, EdiPartyName.NameAssigner);
            inner += EncodeDERTLV(0x81, EdiPartyName.PartyName);
            AddPrimitive(parent, 0xA5, inner);
            return true;
        }
        case gnOtherName:
            AddPrimitive(parent, 0xA0, EncodeDERTLV(0x06, OtherName.OID) + EncodeDERTLV(0xA0, OtherName.Value));
            return true;
        default:
            return false;
    }
}

void TElGeneralName::Assign(const TElGeneralName* source) {
    if (source == nullptr) throw EElCertificateException(SInvalidTypeCast);
    if (source == this) return;
    RFC822Name = source->RFC822Name;
    DNSName = source->DNSName;
    DirectoryName.Assign(&source->DirectoryName);
    EdiPartyName = source->EdiPartyName;
    UniformResourceIdentifier = source->UniformResourceIdentifier;
    IpAddress = source->IpAddress;
    RegisteredID = source->RegisteredID;
    OtherName = source->OtherName;
    PermanentIdentifier = source->PermanentIdentifier;
    NameType = source->NameType;
}

void TElGeneralName::AssignTo(TElGeneralName* dest) const {
    if (dest == nullptr) throw EElCertificateException(SInvalidTypeCast);
    dest->Assign(this);
}

// ---------------------------------------------------------------------------------------------
// TElGeneralNames

TElGeneralName* TElGeneralNames::GetNames(int32_t index) const {
    if (index < 0 || index >= GetCount()) throw EElCertificateException(SListIndexOutOfBounds);
    return names_[size_t(index)].get();
}

int32_t TElGeneralNames::Add() {
    names_.push_back(std::make_unique<TElGeneralName>());
    return GetCount() - 1;
}

void TElGeneralNames::Remove(int32_t index) {
    if (index < 0 || index >= GetCount()) throw EElCertificateException(SListIndexOutOfBounds);
    names_.erase(names_.begin() + index);
}

void TElGeneralNames::Clear() {
    names_.clear();
}

bool TElGeneralNames::LoadFromTag(const TElASN1ConstrainedTag& tag, bool lenient) {
    Clear();
    bool all = true;
    for (int i = 0; i < tag.GetCount(); ++i) {
        const TElASN1CustomTag& child = *tag.GetChild(i);
        TElGeneralName& name = *names_[size_t(Add())];
        if (name.LoadFromTag(child)) continue;
        if (lenient && child.CheckType(0x30, true)) {
            // Some writers put a bare Name where a directoryName belongs.
            name.DirectoryName.LoadFromTag(static_cast<const TElASN1ConstrainedTag&>(child));
            name.NameType = gnDirectoryName;
            continue;
        }
        names_.pop_back();
        all = false;
    }
    return all;
}

bool TElGeneralNames::SaveToTag(TElASN1ConstrainedTag& tag) {
    for (auto& name : names_)
        name->SaveToTag(tag);
    tag.TagByte = 0x30;
    return true;
}

void TElGeneralNames::Assign(const TElGeneralNames* source) {
    if (source == nullptr) throw EElCertificateException(SInvalidTypeCast);
    if (source == this) return;
    Clear();
    for (const auto& name : source->names_)
        names_[size_t(Add())]->Assign(name.get());
}

void TElGeneralNames::AssignTo(TElGeneralNames* dest) const {
    if (dest == nullptr) throw EElCertificateException(SInvalidTypeCast);
    dest->Assign(this);
}

int32_t GetGeneralNameCount(const TElGeneralNames& names) {
    return names.GetCount();
}

TElGeneralName* GetGeneralName(const TElGeneralNames& names, int32_t index) {
    return names.GetNames(index);
}

// ---------------------------------------------------------------------------------------------
// IP address texts

std::string IPBytesToText(std::string_view bytes) {
    std::string text;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i != 0) text += '.';
        text += std::to_string(uint8_t(bytes[i]));
    }
    return text;
}

ByteString IPTextToBytes(std::string_view text) {
    ByteString bytes;
    size_t start = 0;
    while (true) {
        const size_t dot = text.find('.', start);
        const std::string_view part = text.substr(start, dot == std::string_view::npos ? text.npos : dot - start);
        unsigned value = 0;
        const auto [end, ec] = std::from_chars(part.data(), part.data() + part.size(), value);
        if (part.empty() || ec != std::errc() || end != part.data() + part.size() || value > 255)
            throw rtl::EConvertError("'" + std::string(part) + "' is not a valid address part");
        bytes += char(value);
        if (dot == std::string_view::npos) break;
        start = dot + 1;
    }
    // The reader makes 4 parts for IPv4, 16 for IPv6, and 8 or 32 for an address with its mask
    // (RFC 5280 4.2.1.10); a shorter text stands for an IPv4 address with zero parts after it.
    if (bytes.size() < 4) bytes.resize(4, '\0');
    if (bytes.size() != 4 && bytes.size() != 8 && bytes.size() != 16 && bytes.size() != 32)
        throw rtl::EConvertError("'" + std::string(text) + "' is not a valid address");
    return bytes;
}
