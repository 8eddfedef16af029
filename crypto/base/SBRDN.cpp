// crypto/base/SBRDN.cpp: the entry list, its DER Name form and the two comparisons.
#include "crypto/base/SBRDN.h"

#include <algorithm>
#include <string>
#include <tuple>

#include "crypto/base/SBASN1Tree.h"
#include "rtl/StringList.h"

int32_t TElRelativeDistinguishedName::Add(std::string_view oid, std::string_view value, uint8_t tag) {
    const int32_t group = groups_.empty() ? 0 : groups_.back() + 1;
    types_.emplace_back(oid);
    values_.emplace_back(value);
    tags_.push_back(tag == 0 ? 4 : tag);
    groups_.push_back(group);
    return GetCount() - 1;
}

void TElRelativeDistinguishedName::SetCount(int32_t count) {
    if (count < 0) count = 0;
    if (count <= GetCount()) {
        types_.resize(size_t(count));
        values_.resize(size_t(count));
        tags_.resize(size_t(count));
        groups_.resize(size_t(count));
        return;
    }
    while (GetCount() < count)
        Add({}, {}, 0);
}

size_t TElRelativeDistinguishedName::Checked(int32_t index) const {
    if (index < 0 || index >= GetCount())
        throw rtl::EListError("List index out of bounds (" + std::to_string(index) + ")");
    return size_t(index);
}

const ByteString& TElRelativeDistinguishedName::GetOID(int32_t index) const {
    return types_[Checked(index)];
}

void TElRelativeDistinguishedName::SetOID(int32_t index, std::string_view oid) {
    types_[Checked(index)] = ByteString(oid);
}

const ByteString& TElRelativeDistinguishedName::GetValue(int32_t index) const {
    return values_[Checked(index)];
}

void TElRelativeDistinguishedName::SetValue(int32_t index, std::string_view value) {
    values_[Checked(index)] = ByteString(value);
}

uint8_t TElRelativeDistinguishedName::GetTag(int32_t index) const {
    return tags_[Checked(index)];
}

void TElRelativeDistinguishedName::SetTag(int32_t index, uint8_t tag) {
    tags_[Checked(index)] = tag;
}

int32_t TElRelativeDistinguishedName::GetGroup(int32_t index) const {
    return groups_[Checked(index)];
}

void TElRelativeDistinguishedName::SetGroup(int32_t index, int32_t group) {
    groups_[Checked(index)] = group;
}

void TElRelativeDistinguishedName::Clear() {
    types_.clear();
    values_.clear();
    tags_.clear();
    groups_.clear();
}

void TElRelativeDistinguishedName::GetValuesByOID(std::string_view oid, rtl::StringList* list) const {
    if (list == nullptr) return;
    list->Clear();
    for (size_t i = 0; i < types_.size(); ++i)
        if (types_[i] == oid) list->Add(values_[i]);
}

bool TElRelativeDistinguishedName::LoadFromTag(const TElASN1ConstrainedTag& tag, bool ignoreTopTag) {
    if (!ignoreTopTag && tag.TagByte != 0x30) return false;
    Clear();
    for (int n = 0; n < tag.GetCount(); ++n) {
        const TElASN1CustomTag* set = tag.GetChild(n);
        if (!set->CheckType(0x31, true)) return false;
        const auto& rdn = static_cast<const TElASN1ConstrainedTag&>(*set);
        for (int i = 0; i < rdn.GetCount(); ++i) {
            const TElASN1CustomTag* atv = rdn.GetChild(i);
            if (!atv->CheckType(0x30, true)) return false;
            const auto& pair = static_cast<const TElASN1ConstrainedTag&>(*atv);
            if (pair.GetCount() != 2 || !pair.GetChild(0)->CheckType(0x06, false)) return false;
            const TElASN1CustomTag* value = pair.GetChild(1);
            // A tag number of 31 or more does not fit the one tag byte an entry keeps, and
            // would be written back as another element: such a name is refused, not altered.
            if ((value->TagByte & 0x1F) == 0x1F) return false;
            const auto& type = static_cast<const TElASN1SimpleTag&>(*pair.GetChild(0));
            types_.push_back(type.GetContent());
            values_.push_back(TagContentToString(*value));
            tags_.push_back(value->TagByte);
            groups_.push_back(n);
        }
    }
    return true;
}

bool TElRelativeDistinguishedName::SaveToTag(TElASN1ConstrainedTag& tag) const {
    tag.TagByte = 0x30;
    TElASN1ConstrainedTag* set = nullptr;
    for (size_t i = 0; i < types_.size(); ++i) {
        if (set == nullptr || groups_[i] != groups_[i - 1]) {
            set = static_cast<TElASN1ConstrainedTag*>(tag.GetChild(tag.AddChild(true)));
            set->TagByte = 0x31;
        }
        auto& atv = static_cast<TElASN1ConstrainedTag&>(*set->GetChild(set->AddChild(true)));
        atv.TagByte = 0x30;
        auto& type = static_cast<TElASN1SimpleTag&>(*atv.GetChild(atv.AddChild(false)));
        type.TagByte = 0x06;
        type.SetContent(types_[i]);
        // A constructed value keeps its encoded inner elements as content; the primitive node
        // writes them back under the stored identifier octet as they are.
        auto& value = static_cast<TElASN1SimpleTag&>(*atv.GetChild(atv.AddChild(false)));
        value.TagByte = tags_[i];
        value.SetContent(values_[i]);
    }
    return true;
}

ByteString TElRelativeDistinguishedName::SaveToDER() const {
    TElASN1ConstrainedTag tag;
    SaveToTag(tag);
    return SaveTagToString(tag);
}

void TElRelativeDistinguishedName::Assign(const TElRelativeDistinguishedName* source) {
    if (source == nullptr)
        throw rtl::EConvertError("Can not assign nil to TElRelativeDistinguishedName");
    if (source == this) return;
    types_ = source->types_;
    values_ = source->values_;
    tags_ = source->tags_;
    groups_ = source->groups_;
}

void TElRelativeDistinguishedName::AssignTo(TElRelativeDistinguishedName* dest) const {
    if (dest == nullptr) throw rtl::EConvertError("Can not assign TElRelativeDistinguishedName to nil");
    dest->Assign(this);
}

namespace {

using Entry = std::tuple<std::string_view, std::string_view, uint8_t>;

std::vector<Entry> SortedEntries(const TElRelativeDistinguishedName& n) {
    std::vector<Entry> v;
    v.reserve(size_t(n.GetCount()));
    for (int32_t i = 0; i < n.GetCount(); ++i)
        v.emplace_back(n.GetOID(i), n.GetValue(i), n.GetTag(i));
    std::sort(v.begin(), v.end());
    return v;
}

}  // namespace

bool RDNsEqual(const TElRelativeDistinguishedName& a, const TElRelativeDistinguishedName& b) {
    // Equality of entries is exact, so two multisets are equal exactly when their sorted
    // sequences are: {CN=a, CN=a} is not {CN=a, O=b}.
    if (a.GetCount() != b.GetCount()) return false;
    return SortedEntries(a) == SortedEntries(b);
}

bool RDNIsSubset(const TElRelativeDistinguishedName& a, const TElRelativeDistinguishedName& b) {
    for (int32_t i = 0; i < a.GetCount(); ++i) {
        bool found = false;
        for (int32_t j = 0; j < b.GetCount() && !found; ++j)
            found = a.GetOID(i) == b.GetOID(j) && a.GetValue(i) == b.GetValue(j) && a.GetTag(i) == b.GetTag(j);
        if (!found) return false;
    }
    return true;
}
