// pki/SBPKCS7Utils.cpp: the attribute list and its writer.
#include "pki/SBPKCS7Utils.h"

#include <string>

#include "crypto/base/SBASN1Tree.h"

void TElPKCS7Attributes::SetCount(int32_t count) {
    if (count < 0) count = 0;
    types_.resize(size_t(count));
    values_.resize(size_t(count));
}

void TElPKCS7Attributes::SetAttributeType(int32_t index, std::string_view oid) {
    if (index < 0 || index >= GetCount()) return;
    types_[size_t(index)] = ByteString(oid);
}

const ByteString& TElPKCS7Attributes::GetAttributeType(int32_t index) const {
    if (index < 0 || index >= GetCount())
        throw rtl::EListError("List index out of bounds (" + std::to_string(index) + ")");
    return types_[size_t(index)];
}

std::vector<ByteString>* TElPKCS7Attributes::GetValues(int32_t index) {
    if (index < 0 || index >= GetCount()) return nullptr;
    return &values_[size_t(index)];
}

const std::vector<ByteString>* TElPKCS7Attributes::GetValues(int32_t index) const {
    if (index < 0 || index >= GetCount()) return nullptr;
    return &values_[size_t(index)];
}

void WritePKCS7Attributes(TElASN1ConstrainedTag& tag, const TElPKCS7Attributes& attributes, uint8_t tagByte) {
    tag.TagByte = tagByte;
    for (int32_t i = 0; i < attributes.GetCount(); ++i) {
        auto& attr = static_cast<TElASN1ConstrainedTag&>(*tag.GetChild(tag.AddChild(true)));
        attr.TagByte = 0x30;
        auto& type = static_cast<TElASN1SimpleTag&>(*attr.GetChild(attr.AddChild(false)));
        type.TagByte = 0x06;
        type.SetContent(attributes.GetAttributeType(i));
        auto& set = static_cast<TElASN1ConstrainedTag&>(*attr.GetChild(attr.AddChild(true)));
        set.TagByte = 0x31;
        for (const ByteString& value : *attributes.GetValues(i)) {
            // The stored bytes already form the element: no header of its own.
            auto& v = static_cast<TElASN1SimpleTag&>(*set.GetChild(set.AddChild(false)));
            v.EmitHeader = false;
            v.SetContent(value);
        }
    }
}
