// pki/SBPKCS7Utils.h: TElPKCS7Attributes, a list of ASN.1 attributes (a type OID with a set
// of values), as PKCS#7 signers and authenticated data carry them (signed and unsigned
// attributes), PKCS#12 bags (bag attributes) and the subject directory attributes extension.
//
// Types are OID content bytes; each value is a complete DER element (tag, length, content).
// What must stay true: the type list and the value lists have the same length, the attribute
// count. Reading attributes from DER is done by the users, which fill the list through
// SetCount, SetAttributeType and GetValues; WritePKCS7Attributes writes it back.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "crypto/base/SBUtils.h"

class TElASN1ConstrainedTag;

class TElPKCS7Attributes final {
public:
    int32_t GetCount() const { return int32_t(types_.size()); }
    // Shrinking drops attributes (with their values) from the end; growing appends attributes
    // with an empty type and no values.
    void SetCount(int32_t count);
    // An index outside the list is ignored.
    void SetAttributeType(int32_t index, std::string_view oid);
    // The type of an attribute; an index outside the list raises rtl::EListError.
    const ByteString& GetAttributeType(int32_t index) const;
    // The value list of an attribute, to read or to add DER values to; null outside the list.
    std::vector<ByteString>* GetValues(int32_t index);
    const std::vector<ByteString>* GetValues(int32_t index) const;

private:
    std::vector<ByteString> types_;
    std::vector<std::vector<ByteString>> values_;
};

// Makes tag (tag byte tagByte: 0x31 for a SET OF Attribute, a context tag such as 0xA0 for an
// implicitly tagged set) hold one SEQUENCE { OID, SET { values } } per attribute, in list
// order; the values in the order they were added, written as they are stored.
void WritePKCS7Attributes(TElASN1ConstrainedTag& tag, const TElPKCS7Attributes& attributes, uint8_t tagByte);
