// rtl/Variant.h: the variant value of the SQL library's class base (parameters, field
// values, keys of locate and filter).
//
// A Variant is empty (never assigned), null (a database NULL) or one typed value: a 16-bit,
// 32-bit or 64-bit integer, a 16-bit word or a byte, a 64-bit float, a currency (an integer
// count of ten-thousandths), a date-time (days since 30 December 1899 with the time as
// fraction), a boolean, a text, a byte array, or an array of variants. Byte arrays and arrays
// answer IsArray() with a low bound of 0; the elements of a byte array read as Byte variants.
// Copies share the contents of arrays (they are never changed in place).
//
// The application-server wire (late-bound calls) adds the automation types: a 32-bit float
// (Single), an 8-bit signed and a 32-bit unsigned integer (ShortInt, LongWord), an error code
// (Error, a 32-bit status) and an object reached by late-bound calls (Dispatch, a shared
// rtl::DispatchObject, rtl/Dispatch.h). Its arrays may have several dimensions with any bounds
// and a declared element type (FromSafeArray); their elements are kept in index order with the
// last dimension varying fastest. Arrays made by FromBytes and FromArray have one dimension
// from 0 and the element types Byte and Variant.
//
// The conversions and the comparison follow the class library's rules:
//   - AsString of empty and null is ""; of a number its decimal text; of a boolean "True" or
//     "False"; of a date-time its text in the workstation's format; of a byte array its bytes.
//   - Numbers compare by value whatever their kind; a boolean counts as -1 (True) or 0; a text
//     compared with a number is read as a number first (EVariantTypeCastError when it is
//     none); two texts compare byte by byte, case-sensitively.
//   - Two nulls are equal, a null and any other value only unequal (VarRelation::NotEqual);
//     empty counts as 0 against a number and "" against a text.
//   - Arrays compare element by element, then by length.
// A conversion that has no meaning (a text that is no number, an array to an integer)
// raises EVariantTypeCastError.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "rtl/Exception.h"

namespace rtl {

RTL_EXCEPTION(EVariantError, Exception);
RTL_EXCEPTION(EVariantTypeCastError, EVariantError);

using ByteArray = std::vector<uint8_t>;

enum class VarType : uint8_t {
    Empty,
    Null,
    Smallint,
    Integer,
    Int64,
    Word,
    Byte,
    Double,
    Currency,
    Date,
    Boolean,
    String,
    ByteArray,
    Array,
    // The automation types (see the header comment).
    Single,
    ShortInt,
    LongWord,
    Error,
    Dispatch,
    // Only an array's element type: elements that are variants of any type.
    Variant,
};

class DispatchObject;
struct VarArrayData;

// The bounds of one dimension of an array (both inclusive; high = low - 1 when empty).
struct VarArrayBound {
    int32_t low = 0;
    int32_t high = -1;
    bool operator==(const VarArrayBound&) const = default;
};

enum class VarRelation { Equal, Less, Greater, NotEqual };

class Variant {
public:
    Variant() = default;  // empty
    Variant(int16_t v) : type_(VarType::Smallint), i_(v) {}
    Variant(int32_t v) : type_(VarType::Integer), i_(v) {}
    Variant(int64_t v) : type_(VarType::Int64), i_(v) {}
    Variant(double v) : type_(VarType::Double), d_(v) {}
    Variant(bool v) : type_(VarType::Boolean), i_(v ? 1 : 0) {}
    Variant(std::string v);
    Variant(std::string_view v) : Variant(std::string(v)) {}
    Variant(const char* v) : Variant(std::string(v ? v : "")) {}

    static Variant Null();
    static Variant FromWord(uint16_t v);
    static Variant FromByte(uint8_t v);
    // value is the currency amount times 10000.
    static Variant FromCurrency(int64_t scaled);
    static Variant FromDateTime(double dateTime);
    static Variant FromBytes(ByteArray bytes);
    static Variant FromArray(std::vector<Variant> items);
    static Variant FromSingle(float v);
    static Variant FromShortInt(int8_t v);
    static Variant FromLongWord(uint32_t v);
    // An error code (a 32-bit status such as 0x80020004, "parameter not found").
    static Variant FromError(int32_t code);
    // An object reached by late-bound calls; nullptr is an unassigned object reference.
    static Variant FromDispatch(std::shared_ptr<DispatchObject> object);
    // An array of the given element type (Byte keeps its elements as bytes; Variant accepts
    // any element) and dimensions; items in index order, last dimension fastest. Raises
    // EVariantError when the count of items is not the product of the dimensions' lengths, a
    // dimension has high < low - 1, there is no dimension, or an item is not of the element
    // type.
    static Variant FromSafeArray(VarType elementType, std::vector<VarArrayBound> bounds, std::vector<Variant> items);

    VarType Type() const { return type_; }
    bool IsEmpty() const { return type_ == VarType::Empty; }
    bool IsNull() const { return type_ == VarType::Null; }
    bool IsEmptyOrNull() const { return IsEmpty() || IsNull(); }
    bool IsText() const { return type_ == VarType::String; }
    bool IsArray() const { return type_ == VarType::ByteArray || type_ == VarType::Array; }
    // Integers of any width, floats, currency and date-times.
    bool IsNumeric() const;
    // Integers of any width and booleans (held as 0 or 1): the values that compare and
    // compute as 64-bit integers.
    bool IsIntegral() const;

    // Arrays: the bounds of the first dimension (0 and the number of elements less one for
    // FromBytes and FromArray). Element(i) takes an index within those bounds of an array of
    // one dimension; it raises EVariantError for an index outside them, an array of several
    // dimensions or a value that is no array.
    int ArrayLowBound() const;
    int ArrayHighBound() const;
    Variant Element(int index) const;
    // Every array: its dimensions, their bounds, its element type and its elements in index
    // order (last dimension fastest). EVariantError for a value that is no array.
    int ArrayDimCount() const;
    VarArrayBound ArrayBound(int dim) const;  // dim counts from 0
    VarType ArrayElementType() const;
    size_t ArrayElementCount() const;
    Variant FlatElement(size_t index) const;

    // The object of a Dispatch value (nullptr for an unassigned reference); EVariantTypeCastError
    // for any other type.
    std::shared_ptr<DispatchObject> AsDispatch() const;

    std::string AsString() const;
    int32_t AsInteger() const;
    int64_t AsInt64() const;
    double AsDouble() const;
    // The currency amount times 10000, rounded.
    int64_t AsCurrency() const;
    double AsDateTime() const;
    bool AsBoolean() const;
    // The bytes of a byte array, of an array of small integers (their low 8 bits) or of a
    // text; empty for empty and null.
    ByteArray AsBytes() const;
    // The byte array's own storage (nullptr unless the value is a byte array).
    const ByteArray* Bytes() const;

    // The class library's equality: two nulls are equal, a null and another value are not.
    bool operator==(const Variant& other) const;
    bool operator!=(const Variant& other) const { return !(*this == other); }

private:
    // A value of one of the types held in the 64-bit integer (null holds 0).
    Variant(VarType type, int64_t i) : type_(type), i_(i) {}

    VarType type_ = VarType::Empty;
    int64_t i_ = 0;
    double d_ = 0;
    std::shared_ptr<const std::string> s_;
    // Arrays (ByteArray and Array): elements, element type and dimensions.
    std::shared_ptr<const VarArrayData> array_;
    std::shared_ptr<DispatchObject> dispatch_;
};

struct VarArrayData {
    VarType element = VarType::Variant;
    std::vector<VarArrayBound> bounds;
    ByteArray bytes;             // element Byte
    std::vector<Variant> items;  // every other element type
    size_t Count() const { return element == VarType::Byte ? bytes.size() : items.size(); }
};

// The class library's comparison of two values (see the header comment).
VarRelation VarCompareValue(const Variant& a, const Variant& b);

// "String", "Integer", ... the name of a variant type, for messages.
const char* VarTypeName(VarType t);

}  // namespace rtl
