// rtl/DbParams.cpp: parameters and their collection.
#include "rtl/DbParams.h"

#include "rtl/DatabaseError.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

namespace rtl {

namespace {

TFieldType TypeOfValue(const Variant& v) {
    switch (v.Type()) {
        case VarType::Smallint:
            return ftSmallint;
        case VarType::Integer:
            return ftInteger;
        case VarType::Int64:
            return ftLargeint;
        case VarType::Word:
        case VarType::Byte:
            return ftWord;
        case VarType::Double:
            return ftFloat;
        case VarType::Currency:
            return ftCurrency;
        case VarType::Date:
            return ftDateTime;
        case VarType::Boolean:
            return ftBoolean;
        case VarType::String:
            return ftString;
        case VarType::ByteArray:
        case VarType::Array:
            return ftBlob;
        default:
            return ftUnknown;
    }
}

}  // namespace

void Param::SetValue(const Variant& v) {
    if (dataType_ == ftUnknown) dataType_ = TypeOfValue(v);
    value_ = v;
    bound_ = true;
}

void Param::Clear() {
    value_ = Variant::Null();
    bound_ = true;
}

int Param::GetDataSize() const {
    switch (dataType_) {
        case ftString:
        case ftFixedChar:
        case ftWideString:
        case ftMemo:
        case ftFmtMemo:
        case ftADT:
            return int(value_.AsString().size()) + 1;
        case ftGuid:
            return 39;
        case ftBytes:
        case ftVarBytes:
        case ftBlob:
        case ftGraphic:
        case ftParadoxOle:
        case ftDBaseOle:
        case ftTypedBinary:
        case ftOraBlob:
        case ftOraClob:
            return int(value_.AsBytes().size());
        default:
            return FixedFieldTypeSize(dataType_);
    }
}

Param& Params::operator[](int index) {
    if (index < 0 || index >= Count()) throw EListError(Format("List index out of bounds (%d)", index));
    return *items_[size_t(index)];
}

const Param& Params::operator[](int index) const {
    return const_cast<Params&>(*this)[index];
}

Param& Params::CreateParam(TFieldType dataType, std::string_view name, TParamType paramType) {
    items_.push_back(std::make_unique<Param>(std::string(name), dataType, paramType));
    return *items_.back();
}

Param* Params::FindParam(std::string_view name) {
    for (auto& p : items_)
        if (SameText(p->Name(), name)) return p.get();
    return nullptr;
}

const Param* Params::FindParam(std::string_view name) const {
    return const_cast<Params&>(*this).FindParam(name);
}

Param& Params::ParamByName(std::string_view name) {
    Param* p = FindParam(name);
    if (p == nullptr) DatabaseErrorFmt("Parameter '%s' not found", name);
    return *p;
}

void Params::Delete(int index) {
    (*this)[index];  // checks the index
    items_.erase(items_.begin() + index);
}

void Params::Assign(const Params& other) {
    std::vector<std::unique_ptr<Param>> copy;
    copy.reserve(other.items_.size());
    for (const auto& p : other.items_)
        copy.push_back(std::make_unique<Param>(*p));
    items_ = std::move(copy);
}

}  // namespace rtl
