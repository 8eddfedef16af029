// crypto/SBRDN.cpp: the entry list.
#include "crypto/SBRDN.h"

#include <string>

int32_t TElRelativeDistinguishedName::Add(std::string_view oid, std::string_view value, uint8_t tag) {
    const int32_t group = groups_.empty() ? 0 : groups_.back() + 1;
    types_.emplace_back(oid);
    values_.emplace_back(value);
    tags_.push_back(tag == 0 ? 4 : tag);
    groups_.push_back(group);
    return GetCount() - 1;
}

size_t TElRelativeDistinguishedName::Checked(int32_t index) const {
    if (index < 0 || index >= GetCount())
        throw rtl::EListError("List index out of bounds (" + std::to_string(index) + ")");
    return size_t(index);
}

const ByteString& TElRelativeDistinguishedName::GetOID(int32_t index) const {
    return types_[Checked(index)];
}

const ByteString& TElRelativeDistinguishedName::GetValue(int32_t index) const {
    return values_[Checked(index)];
}

uint8_t TElRelativeDistinguishedName::GetTag(int32_t index) const {
    return tags_[Checked(index)];
}

int32_t TElRelativeDistinguishedName::GetGroup(int32_t index) const {
    return groups_[Checked(index)];
}
