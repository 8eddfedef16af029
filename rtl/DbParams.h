// rtl/DbParams.h: the parameter collection of the SQL library's class base.
//
// A Param is one named value that a statement takes (a ":name" marker) or gives back (an
// output or result parameter of a stored procedure): its name, data type, direction and
// value. Params owns its items in collection order; names are looked up without regard to
// case, and a name may occur more than once (one parameter per marker).
//
// GetDataSize is the number of bytes the value takes in a driver's parameter cell:
//   ftString, ftFixedChar, ftWideString, ftMemo, ftFmtMemo, ftADT   text length + 1
//   ftSmallint, ftWord, ftBoolean 2; ftInteger, ftAutoInc, ftDate, ftTime 4;
//   ftFloat, ftCurrency, ftDateTime, ftLargeint 8; ftBCD, ftFMTBcd 34 (a packed decimal);
//   ftTimeStamp 16; ftGuid 39 (38 characters and a zero)
//   ftBytes, ftVarBytes and the blob types                          length of the byte value
//   every other type                                                 0
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "rtl/FieldType.h"
#include "rtl/Variant.h"

namespace rtl {

class Param {
public:
    Param() = default;
    Param(std::string name, TFieldType dataType, TParamType paramType)
        : name_(std::move(name)), dataType_(dataType), paramType_(paramType) {}

    const std::string& Name() const { return name_; }
    void SetName(std::string name) { name_ = std::move(name); }
    TFieldType DataType() const { return dataType_; }
    void SetDataType(TFieldType t) { dataType_ = t; }
    TParamType ParamType() const { return paramType_; }
    void SetParamType(TParamType t) { paramType_ = t; }
    // Set once a value was given (SetValue, Clear); master-detail links leave bound
    // parameters alone.
    bool Bound() const { return bound_; }
    void SetBound(bool b) { bound_ = b; }

    const Variant& Value() const { return value_; }
    // Stores the value; an unknown data type takes the value's own type.
    void SetValue(const Variant& v);
    // The value becomes null.
    void Clear();
    bool IsNull() const { return value_.IsEmptyOrNull(); }
    std::string AsString() const { return value_.AsString(); }

    int GetDataSize() const;

private:
    std::string name_;
    TFieldType dataType_ = ftUnknown;
    TParamType paramType_ = ptUnknown;
    Variant value_;
    bool bound_ = false;
};

class Params {
public:
    Params() = default;
    Params(const Params& other) { Assign(other); }
    Params& operator=(const Params& other) {
        if (this != &other) Assign(other);
        return *this;
    }

    int Count() const { return int(items_.size()); }
    // rtl::EListError for an index outside the collection.
    Param& operator[](int index);
    const Param& operator[](int index) const;

    Param& CreateParam(TFieldType dataType, std::string_view name, TParamType paramType);
    // The first parameter of that name (case-insensitive), or nullptr.
    Param* FindParam(std::string_view name);
    const Param* FindParam(std::string_view name) const;
    // As FindParam, raising EDatabaseError "Parameter '%s' not found" when there is none.
    Param& ParamByName(std::string_view name);
    void Delete(int index);
    void Clear() { items_.clear(); }
    // Replaces every parameter by a copy of the other collection's.
    void Assign(const Params& other);

private:
    std::vector<std::unique_ptr<Param>> items_;
};

}  // namespace rtl
