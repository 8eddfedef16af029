// rtl/Variant.cpp: conversions and comparison of variant values.
#include "rtl/Variant.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "rtl/Bcd.h"
#include "rtl/DateTime.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

namespace rtl {

namespace {

[[noreturn]] void CastError(VarType from, const char* to) {
    throw EVariantTypeCastError(
        Format("Could not convert variant of type (%s) into type (%s)", VarTypeName(from), to));
}

// A text read as a number: blanks around it are ignored, and the workstation's decimal
// separator is accepted besides ".".
bool TextToDouble(std::string_view text, double& out) {
    std::string t = Trim(text);
    if (t.empty()) return false;
    for (char& c : t)
        if (c == FormatSettings.DecimalSeparator) c = '.';
    const char* b = t.data();
    const char* e = t.data() + t.size();
    if (*b == '+') ++b;
    auto [p, ec] = std::from_chars(b, e, out, std::chars_format::general);
    return ec == std::errc() && p == e;
}

int64_t RoundToInt64(double v, VarType from) {
    const double r = std::nearbyint(v);  // banker's rounding, as the class library rounds
    if (!std::isfinite(r) || r < -9.2233720368547758e18 || r >= 9.2233720368547758e18)
        CastError(from, "Int64");
    return int64_t(r);
}

// A currency amount (ten-thousandths) to a whole number, half to even on the exact count;
// through a double the last digits of large amounts would be lost.
int64_t CurrencyToWhole(int64_t scaled) {
    int64_t q = scaled / 10000;
    const int64_t r = scaled % 10000;  // same sign as scaled
    const int64_t half = r < 0 ? -r : r;
    if (half > 5000 || (half == 5000 && (q % 2) != 0)) q += scaled < 0 ? -1 : 1;
    return q;
}

// A currency amount as exact decimal text: the whole number and up to four places without
// trailing zeros. Through a double (15 significant digits) large amounts would lose digits.
std::string CurrencyToText(int64_t scaled) {
    const bool negative = scaled < 0;
    const uint64_t mag = negative ? uint64_t(0) - uint64_t(scaled) : uint64_t(scaled);
    std::string text = std::to_string(mag / 10000);
    if (const uint64_t frac = mag % 10000; frac != 0) {
        std::string places = std::to_string(frac);
        places.insert(0, 4 - places.size(), '0');
        while (places.back() == '0')
            places.pop_back();
        text += FormatSettings.DecimalSeparator;
        text += places;
    }
    return negative ? "-" + text : text;
}

// A single's value as the double of its shortest decimal text (1.1f gives 1.1, not
// 1.10000002384186), so its text shows the digits the single holds and no binary noise.
double SingleAsDecimal(double v) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, float(v));
    double d = v;
    std::from_chars(buf, r.ptr, d);
    return d;
}

int CompareBytes(const ByteArray& a, const ByteArray& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

VarRelation FromInt(int c) {
    return c == 0 ? VarRelation::Equal : (c < 0 ? VarRelation::Less : VarRelation::Greater);
}

template <typename T>
VarRelation Rel(T a, T b) {
    if (a == b) return VarRelation::Equal;
    return a < b ? VarRelation::Less : VarRelation::Greater;
}

}  // namespace

Variant::Variant(std::string v)
    : type_(VarType::String), s_(std::make_shared<const std::string>(std::move(v))) {}

Variant Variant::Null() {
    return Variant(VarType::Null, 0);
}

Variant Variant::FromWord(uint16_t w) {
    return Variant(VarType::Word, w);
}

Variant Variant::FromByte(uint8_t b) {
    return Variant(VarType::Byte, b);
}

Variant Variant::FromCurrency(int64_t scaled) {
    return Variant(VarType::Currency, scaled);
}

Variant Variant::FromDateTime(double dateTime) {
    Variant v;
    v.type_ = VarType::Date;
    v.d_ = dateTime;
    return v;
}

Variant Variant::FromBytes(ByteArray bytes) {
    auto data = std::make_shared<VarArrayData>();
    data->element = VarType::Byte;
    data->bounds = {{0, int32_t(bytes.size()) - 1}};
    data->bytes = std::move(bytes);
    Variant v;
    v.type_ = VarType::ByteArray;
    v.array_ = std::move(data);
    return v;
}

Variant Variant::FromArray(std::vector<Variant> items) {
    auto data = std::make_shared<VarArrayData>();
    data->element = VarType::Variant;
    data->bounds = {{0, int32_t(items.size()) - 1}};
    data->items = std::move(items);
    Variant v;
    v.type_ = VarType::Array;
    v.array_ = std::move(data);
    return v;
}

Variant Variant::FromSingle(float f) {
    Variant v;
    v.type_ = VarType::Single;
    v.d_ = f;
    return v;
}

Variant Variant::FromShortInt(int8_t v) {
    return Variant(VarType::ShortInt, v);
}

Variant Variant::FromLongWord(uint32_t v) {
    return Variant(VarType::LongWord, v);
}

Variant Variant::FromError(int32_t code) {
    return Variant(VarType::Error, code);
}

Variant Variant::FromDispatch(std::shared_ptr<DispatchObject> object) {
    Variant v;
    v.type_ = VarType::Dispatch;
    v.dispatch_ = std::move(object);
    return v;
}

Variant Variant::FromSafeArray(VarType elementType, std::vector<VarArrayBound> bounds, std::vector<Variant> items) {
    if (bounds.empty()) throw EVariantError("Variant array has no dimension");
    uint64_t count = 1;
    for (const VarArrayBound& b : bounds) {
        const int64_t length = int64_t(b.high) - int64_t(b.low) + 1;
        if (length < 0) throw EVariantError("Variant array bounds are invalid");
        count *= uint64_t(length);
        if (count > items.size()) break;  // stops the product before it can overflow
    }
    if (count != items.size()) throw EVariantError("Variant array bounds do not match its elements");
    auto data = std::make_shared<VarArrayData>();
    data->element = elementType;
    data->bounds = std::move(bounds);
    Variant v;
    v.array_ = data;
    if (elementType == VarType::Byte) {
        v.type_ = VarType::ByteArray;
        data->bytes.reserve(items.size());
        for (const Variant& e : items) {
            if (e.Type() != VarType::Byte) throw EVariantError("Variant array element is not of its type");
            data->bytes.push_back(uint8_t(e.i_));
        }
        return v;
    }
    for (const Variant& e : items)
        if (elementType != VarType::Variant && e.Type() != elementType)
            throw EVariantError("Variant array element is not of its type");
    if (elementType == VarType::Empty || elementType == VarType::Null || elementType == VarType::ByteArray ||
        elementType == VarType::Array)
        throw EVariantError("Variant array element type is invalid");
    v.type_ = VarType::Array;
    data->items = std::move(items);
    return v;
}

bool Variant::IsIntegral() const {
    switch (type_) {
        case VarType::Smallint:
        case VarType::Integer:
        case VarType::Int64:
        case VarType::Word:
        case VarType::Byte:
        case VarType::Boolean:
        case VarType::ShortInt:
        case VarType::LongWord:
            return true;
        default:
            return false;
    }
}

bool Variant::IsNumeric() const {
    if (type_ == VarType::Boolean) return false;
    return IsIntegral() || type_ == VarType::Double || type_ == VarType::Single || type_ == VarType::Currency ||
           type_ == VarType::Date;
}

namespace {

[[noreturn]] void NotAnArray() {
    throw EVariantError("Variant is not an array");
}

}  // namespace

int Variant::ArrayLowBound() const {
    if (!array_) NotAnArray();
    return array_->bounds.front().low;
}

int Variant::ArrayHighBound() const {
    if (!array_) NotAnArray();
    return array_->bounds.front().high;
}

Variant Variant::Element(int index) const {
    if (!array_) NotAnArray();
    if (array_->bounds.size() != 1) throw EVariantError("Variant array has more than one dimension");
    const VarArrayBound b = array_->bounds.front();
    if (index < b.low || index > b.high) throw EVariantError("Variant or safe array index out of bounds");
    return FlatElement(size_t(int64_t(index) - b.low));
}

int Variant::ArrayDimCount() const {
    if (!array_) NotAnArray();
    return int(array_->bounds.size());
}

VarArrayBound Variant::ArrayBound(int dim) const {
    if (!array_) NotAnArray();
    if (dim < 0 || size_t(dim) >= array_->bounds.size()) throw EVariantError("Variant array dimension out of range");
    return array_->bounds[size_t(dim)];
}

VarType Variant::ArrayElementType() const {
    if (!array_) NotAnArray();
    return array_->element;
}

size_t Variant::ArrayElementCount() const {
    if (!array_) NotAnArray();
    return array_->Count();
}

Variant Variant::FlatElement(size_t index) const {
    if (!array_) NotAnArray();
    if (index >= array_->Count()) throw EVariantError("Variant or safe array index out of bounds");
    if (type_ == VarType::ByteArray) return FromByte(array_->bytes[index]);
    return array_->items[index];
}

std::shared_ptr<DispatchObject> Variant::AsDispatch() const {
    if (type_ != VarType::Dispatch) CastError(type_, "Dispatch");
    return dispatch_;
}

const ByteArray* Variant::Bytes() const {
    return type_ == VarType::ByteArray ? &array_->bytes : nullptr;
}

std::string Variant::AsString() const {
    switch (type_) {
        case VarType::Empty:
        case VarType::Null:
            return "";
        case VarType::Smallint:
        case VarType::Integer:
        case VarType::Int64:
        case VarType::Word:
        case VarType::Byte:
        case VarType::ShortInt:
        case VarType::LongWord:
            return IntToStr(i_);
        case VarType::Boolean:
            return i_ ? "True" : "False";
        case VarType::Double:
            return FloatToStr(d_);
        case VarType::Single:
            return FloatToStr(SingleAsDecimal(d_));
        case VarType::Currency:
            return CurrencyToText(i_);
        case VarType::Date:
            return DateTimeToStr(d_);
        case VarType::String:
            return *s_;
        case VarType::ByteArray:
            return std::string(array_->bytes.begin(), array_->bytes.end());
        case VarType::Array:
        case VarType::Error:
        case VarType::Dispatch:
        case VarType::Variant:
            break;
    }
    CastError(type_, "String");
}

int64_t Variant::AsInt64() const {
    switch (type_) {
        case VarType::Empty:
            return 0;
        case VarType::Null:
        case VarType::ByteArray:
        case VarType::Array:
        case VarType::Dispatch:
        case VarType::Variant:
            CastError(type_, "Int64");
        case VarType::Boolean:
            return i_ ? -1 : 0;
        case VarType::Double:
        case VarType::Single:
        case VarType::Date:
            return RoundToInt64(d_, type_);
        case VarType::Currency:
            return CurrencyToWhole(i_);
        case VarType::String: {
            int64_t v = 0;
            if (TryStrToInt64(Trim(*s_), v)) return v;
            double d = 0;
            if (TextToDouble(*s_, d)) return RoundToInt64(d, type_);
            CastError(type_, "Int64");
        }
        default:
            return i_;
    }
}

int32_t Variant::AsInteger() const {
    const int64_t v = AsInt64();
    if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
        CastError(type_, "Integer");
    return int32_t(v);
}

double Variant::AsDouble() const {
    switch (type_) {
        case VarType::Empty:
            return 0;
        case VarType::Null:
        case VarType::ByteArray:
        case VarType::Array:
        case VarType::Dispatch:
        case VarType::Variant:
            CastError(type_, "Double");
        case VarType::Boolean:
            return i_ ? -1 : 0;
        case VarType::Double:
        case VarType::Single:
        case VarType::Date:
            return d_;
        case VarType::Currency:
            return double(i_) / 10000.0;
        case VarType::String: {
            double d = 0;
            if (TextToDouble(*s_, d)) return d;
            CastError(type_, "Double");
        }
        default:
            return double(i_);
    }
}

int64_t Variant::AsCurrency() const {
    if (type_ == VarType::Currency) return i_;
    if (IsIntegral() || type_ == VarType::Empty) {
        const int64_t v = AsInt64();
        // The amount must fit the currency's range; a wrapped product would be a wrong value.
        if (v > std::numeric_limits<int64_t>::max() / 10000 ||
            v < std::numeric_limits<int64_t>::min() / 10000)
            CastError(type_, "Currency");
        return v * 10000;
    }
    if (type_ == VarType::String) {
        // A decimal text of at most four places is taken exactly, not through a double (which
        // holds fewer digits than a currency).
        const std::string text = Trim(*s_);
        const size_t point = text.find('.');
        const int places = point == std::string::npos ? 0 : int(text.size() - point - 1);
        TBcd bcd;
        int64_t scaled = 0;
        if (places <= 4 && TextToBcd(text, bcd, places)) {
            if (!BcdToCurrency(bcd, scaled)) CastError(type_, "Currency");
            return scaled;
        }
    }
    const double v = AsDouble() * 10000.0;
    return RoundToInt64(v, type_);
}

double Variant::AsDateTime() const {
    if (type_ == VarType::String) {
        double d = 0;
        if (TryStrToDateTime(*s_, d)) return d;
        CastError(type_, "Date");
    }
    return AsDouble();
}

bool Variant::AsBoolean() const {
    switch (type_) {
        case VarType::Empty:
            return false;
        case VarType::String: {
            const std::string t = Trim(*s_);
            if (SameText(t, "True")) return true;
            if (SameText(t, "False")) return false;
            double d = 0;
            if (TextToDouble(t, d)) return d != 0;
            CastError(type_, "Boolean");
        }
        case VarType::Null:
        case VarType::ByteArray:
        case VarType::Array:
        case VarType::Dispatch:
        case VarType::Variant:
            CastError(type_, "Boolean");
        case VarType::Double:
        case VarType::Single:
        case VarType::Date:
            return d_ != 0;
        default:
            return i_ != 0;
    }
}

ByteArray Variant::AsBytes() const {
    switch (type_) {
        case VarType::Empty:
        case VarType::Null:
            return {};
        case VarType::ByteArray:
            return array_->bytes;
        case VarType::String:
            return ByteArray(s_->begin(), s_->end());
        case VarType::Array: {
            ByteArray out;
            out.reserve(array_->items.size());
            for (const auto& e : array_->items)
                out.push_back(uint8_t(e.AsInt64() & 0xFF));
            return out;
        }
        default:
            CastError(type_, "Array of Byte");
    }
}

bool Variant::operator==(const Variant& other) const {
    return VarCompareValue(*this, other) == VarRelation::Equal;
}

VarRelation VarCompareValue(const Variant& a, const Variant& b) {
    const VarType ta = a.Type();
    const VarType tb = b.Type();
    if (ta == VarType::Null || tb == VarType::Null)
        return ta == tb ? VarRelation::Equal : VarRelation::NotEqual;
    if (a.IsArray() || b.IsArray()) {
        if (!a.IsArray() || !b.IsArray()) return VarRelation::NotEqual;
        if (a.Bytes() && b.Bytes()) return FromInt(CompareBytes(*a.Bytes(), *b.Bytes()));
        const size_t na = a.ArrayElementCount();
        const size_t nb = b.ArrayElementCount();
        for (size_t i = 0; i < std::min(na, nb); ++i) {
            const VarRelation r = VarCompareValue(a.FlatElement(i), b.FlatElement(i));
            if (r != VarRelation::Equal) return r;
        }
        return Rel(na, nb);
    }
    // Objects are equal only when they are the same object.
    if (ta == VarType::Dispatch || tb == VarType::Dispatch) {
        if (ta != tb) return VarRelation::NotEqual;
        return a.AsDispatch() == b.AsDispatch() ? VarRelation::Equal : VarRelation::NotEqual;
    }
    if (ta == VarType::Empty && tb == VarType::Empty) return VarRelation::Equal;
    const bool textA = ta == VarType::String || ta == VarType::Empty;
    const bool textB = tb == VarType::String || tb == VarType::Empty;
    if (textA && textB) return FromInt(a.AsString().compare(b.AsString()));
    if (a.IsIntegral() && b.IsIntegral()) return Rel(a.AsInt64(), b.AsInt64());
    if (ta == VarType::Currency && tb == VarType::Currency) return Rel(a.AsCurrency(), b.AsCurrency());
    return Rel(a.AsDouble(), b.AsDouble());
}

const char* VarTypeName(VarType t) {
    switch (t) {
        case VarType::Empty:
            return "Empty";
        case VarType::Null:
            return "Null";
        case VarType::Smallint:
            return "SmallInt";
        case VarType::Integer:
            return "Integer";
        case VarType::Int64:
            return "Int64";
        case VarType::Word:
            return "Word";
        case VarType::Byte:
            return "Byte";
        case VarType::Double:
            return "Double";
        case VarType::Currency:
            return "Currency";
        case VarType::Date:
            return "Date";
        case VarType::Boolean:
            return "Boolean";
        case VarType::String:
            return "String";
        case VarType::ByteArray:
            return "Array of Byte";
        case VarType::Array:
            return "Array";
        case VarType::Single:
            return "Single";
        case VarType::ShortInt:
            return "ShortInt";
        case VarType::LongWord:
            return "LongWord";
        case VarType::Error:
            return "Error";
        case VarType::Dispatch:
            return "Dispatch";
        case VarType::Variant:
            return "Variant";
    }
    return "Unknown";
}

}  // namespace rtl
