// crypto/SBRDN.h: TElRelativeDistinguishedName, the ordered list of attribute entries that
// serves as the parameter list of every provider call (and, with the certificate code, as an
// X.501 Name).
//
// Each entry is a type (a property identifier, or an OID's content bytes in a Name), a value,
// the value's ASN.1 tag byte and a group number. The four columns always have the same
// length, the entry count; entries keep their insertion order and duplicates are allowed. A
// provider reads a parameter list in index order and never changes it; a null list stands for
// no parameters. An index outside 0 .. count - 1 raises rtl::EListError.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "crypto/SBUtils.h"

class TElRelativeDistinguishedName final {
public:
    TElRelativeDistinguishedName() = default;

    // Appends an entry in a group of its own (the last entry's group + 1, 0 for the first);
    // a tag of 0 is stored as 4 (OCTET STRING). Answers the new entry's index.
    int32_t Add(std::string_view oid, std::string_view value, uint8_t tag = 0);
    int32_t GetCount() const { return int32_t(types_.size()); }
    const ByteString& GetOID(int32_t index) const;
    const ByteString& GetValue(int32_t index) const;
    uint8_t GetTag(int32_t index) const;
    int32_t GetGroup(int32_t index) const;

private:
    size_t Checked(int32_t index) const;

    std::vector<ByteString> types_;
    std::vector<ByteString> values_;
    std::vector<uint8_t> tags_;
    std::vector<int32_t> groups_;
};
