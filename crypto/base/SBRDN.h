// crypto/base/SBRDN.h: TElRelativeDistinguishedName, the ordered list of attribute entries that
// serves as the parameter list of every provider call and as an X.501 Name (certificate
// issuer and subject, CRL issuer, general names, the CA names a TLS server sends).
//
// Each entry is a type (a property identifier, or an OID's content bytes in a Name), a value,
// the value's ASN.1 tag byte and a group number. The four columns always have the same
// length, the entry count; entries keep their insertion order and duplicates are allowed. A
// provider reads a parameter list in index order and never changes it; a null list stands for
// no parameters. An index outside 0 .. count - 1 raises rtl::EListError.
//
// As a Name: consecutive entries of one group form one SET (one RDN) of the DER form. A value
// holds the content octets of the attribute value as they were encoded (text for the string
// types, the encoded inner elements of a constructed value) and the tag its identifier octet,
// so LoadFromTag followed by SaveToTag gives the DER back.
//
// RDNsEqual and RDNIsSubset compare names exactly: type, value and tag byte for byte. Names
// that equal each other only under RFC 5280's case folding and space squeezing (7.1) are
// different names here; a chain is built only where an issuer names its subject exactly.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "crypto/base/SBUtils.h"

class TElASN1ConstrainedTag;
namespace rtl {
class StringList;
}

class TElRelativeDistinguishedName final {
public:
    TElRelativeDistinguishedName() = default;

    // Appends an entry in a group of its own (the last entry's group + 1, 0 for the first);
    // a tag of 0 is stored as 4 (OCTET STRING). Answers the new entry's index.
    int32_t Add(std::string_view oid, std::string_view value, uint8_t tag = 0);
    int32_t GetCount() const { return int32_t(types_.size()); }
    // Grows with empty entries (tag 4, each in a group of its own) or drops entries from the end.
    void SetCount(int32_t count);
    const ByteString& GetOID(int32_t index) const;
    void SetOID(int32_t index, std::string_view oid);
    const ByteString& GetValue(int32_t index) const;
    void SetValue(int32_t index, std::string_view value);
    uint8_t GetTag(int32_t index) const;
    void SetTag(int32_t index, uint8_t tag);
    int32_t GetGroup(int32_t index) const;
    void SetGroup(int32_t index, int32_t group);
    void Clear();

    // With a list: the list is cleared and receives, in entry order, the value of every entry
    // whose type equals oid byte for byte. A null list: nothing happens.
    void GetValuesByOID(std::string_view oid, rtl::StringList* list) const;

    // Replaces the entries from a Name (SEQUENCE OF SET OF AttributeTypeAndValue). A top node
    // that is not a SEQUENCE leaves the entries as they are and answers false unless
    // ignoreTopTag. A malformed SET or attribute ends the load with false, keeping the entries
    // read before it. The position of each SET is the group of its entries.
    bool LoadFromTag(const TElASN1ConstrainedTag& tag, bool ignoreTopTag = false);
    // Fills an empty constructed tag with the DER Name: a new SET for the first entry and
    // whenever the group changes from the previous entry's. Always true.
    bool SaveToTag(TElASN1ConstrainedTag& tag) const;
    // The DER Name as a byte string (SaveToTag on a fresh node, written out).
    ByteString SaveToDER() const;

    // Copies the four columns of source; a null source raises rtl::EConvertError.
    void Assign(const TElRelativeDistinguishedName* source);
    // dest->Assign(this); a null dest raises rtl::EConvertError.
    void AssignTo(TElRelativeDistinguishedName* dest) const;

private:
    size_t Checked(int32_t index) const;

    std::vector<ByteString> types_;
    std::vector<ByteString> values_;
    std::vector<uint8_t> tags_;
    std::vector<int32_t> groups_;
};

// The same entries both ways, as multisets: every entry of a is matched by its own entry of b
// (type, value and tag equal), and the counts are equal. Groups and order are not compared.
bool RDNsEqual(const TElRelativeDistinguishedName& a, const TElRelativeDistinguishedName& b);
// Every entry of a occurs in b (same type, value and tag); true for an empty a.
bool RDNIsSubset(const TElRelativeDistinguishedName& a, const TElRelativeDistinguishedName& b);
