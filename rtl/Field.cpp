// rtl/Field.cpp: field definitions and the one field class: native layouts and value access.
#include "rtl/Field.h"

#include <cmath>
#include <cstring>

#include "rtl/Bcd.h"
#include "rtl/DataSet.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

namespace rtl {

namespace {

template <typename T>
T Load(const uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <typename T>
void Store(uint8_t* p, T v) {
    std::memcpy(p, &v, sizeof v);
}

// Date-time values on the milliseconds scale of the drivers (day 1 = 0001-01-01).
double DateTimeToMSecs(TDateTime dt) {
    return TimeStampToMSecs(DateTimeToTimeStamp(dt));
}

// The date-time of an ftDate, ftTime or ftDateTime value's native bytes.
TDateTime NativeDateTime(TFieldType type, const uint8_t* p) {
    switch (type) {
        case ftDate: {
            TTimeStamp ts;
            ts.Date = Load<int32_t>(p);
            ts.Time = 0;
            return TimeStampToDateTime(ts);
        }
        case ftTime:
            return double(Load<int32_t>(p)) / MSecsPerDay;
        default:
            return MSecsToDateTime(Load<double>(p));
    }
}

}  // namespace

int FieldDataSize(TFieldType type, int size) {
    switch (type) {
        case ftString:
        case ftFixedChar:
        case ftGuid:
            return size + 1;
        case ftWideString:
            return (size + 1) * 2;
        case ftBytes:
            return size;
        case ftVarBytes:
            return size + 2;
        default:
            return FixedFieldTypeSize(type);
    }
}

int FieldRecordSize(TFieldType type, int size) {
    if (type == ftDate || type == ftTime || type == ftDateTime) return 8;
    return FieldDataSize(type, size);
}

bool IsBlobFieldTypeTag(TFieldType type) {
    return (type >= ftBlob && type <= ftTypedBinary) || type == ftOraBlob || type == ftOraClob;
}

bool IsTextBlobType(TFieldType type) {
    return type == ftMemo || type == ftFmtMemo || type == ftOraClob;
}

// ---------------------------------------------------------------------------------------------
// Field definitions

TFieldDef& TFieldDefs::operator[](int index) {
    if (index < 0 || index >= Count()) throw EListError(Format("List index out of bounds (%d)", index));
    return items_[size_t(index)];
}

const TFieldDef& TFieldDefs::operator[](int index) const {
    return const_cast<TFieldDefs&>(*this)[index];
}

TFieldDef& TFieldDefs::Add(const std::string& name, TFieldType type, int size, bool required) {
    TFieldDef def;
    def.Name = name;
    def.DataType = type;
    def.Size = size;
    def.Required = required;
    def.FieldNo = Count() + 1;
    items_.push_back(std::move(def));
    return items_.back();
}

TFieldDef* TFieldDefs::Find(std::string_view name) {
    const int i = IndexOf(name);
    return i < 0 ? nullptr : &items_[size_t(i)];
}

int TFieldDefs::IndexOf(std::string_view name) const {
    for (size_t i = 0; i < items_.size(); ++i)
        if (SameText(items_[i].Name, name)) return int(i);
    return -1;
}

void TFieldDefs::Update() {
    if (dataSet_ != nullptr) dataSet_->InitFieldDefs();
}

// ---------------------------------------------------------------------------------------------
// Field

TField::TField(TDataSet& dataSet, std::string fieldName, TFieldType type, int size, TFieldKind kind)
    : dataSet_(&dataSet),
      fieldName_(std::move(fieldName)),
      dataType_(type),
      size_(type == ftGuid && size == 0 ? 38 : size),
      kind_(kind),
      dataSize_(FieldDataSize(dataType_, size_)),
      recordSize_(FieldRecordSize(dataType_, size_)) {}

bool TField::GetData(void* dest) const {
    return dataSet_->GetFieldData(*this, dest);
}

void TField::SetData(const void* source) {
    dataSet_->SetFieldData(*this, source);
    Modified = true;
}

bool TField::IsNull() const {
    return !GetData(nullptr);
}

Variant TField::DecodeNative(const uint8_t* p) const {
    switch (dataType_) {
        case ftString:
        case ftFixedChar:
        case ftGuid:
        case ftWideString: {
            // At most the field's characters, whether or not the writer left the terminating zero.
            const size_t limit = size_t(std::max(DataSize() - 1, 0));
            const void* zero = std::memchr(p, 0, limit);
            const size_t n = zero != nullptr ? size_t(static_cast<const uint8_t*>(zero) - p) : limit;
            return Variant(std::string(reinterpret_cast<const char*>(p), n));
        }
        case ftSmallint:
            return Variant(Load<int16_t>(p));
        case ftWord:
            return Variant::FromWord(Load<uint16_t>(p));
        case ftBoolean:
            return Variant(Load<int16_t>(p) != 0);
        case ftInteger:
        case ftAutoInc:
            return Variant(Load<int32_t>(p));
        case ftLargeint:
            return Variant(Load<int64_t>(p));
        case ftFloat:
        case ftCurrency:
            return Variant(Load<double>(p));
        case ftBCD:
        case ftFMTBcd: {
            TBcd bcd;
            std::memcpy(&bcd, p, sizeof bcd);
            int64_t scaled = 0;
            if ((bcd.SignSpecialPlaces & 0x3F) <= 4 && BcdToCurrency(bcd, scaled))
                return Variant::FromCurrency(scaled);
            // Past a currency's range: the exact decimal text, never a rounded number.
            std::string text = BcdToText(bcd);
            if (text.empty())
                throw EDatabaseError(Format("Valor fora dos limites para o campo '%s'", DisplayName()));
            return Variant(std::move(text));
        }
        case ftDate:
        case ftTime:
        case ftDateTime:
            return Variant::FromDateTime(NativeDateTime(dataType_, p));
        case ftBytes:
            return Variant::FromBytes(ByteArray(p, p + size_));
        case ftVarBytes: {
            const uint16_t n = std::min<uint16_t>(Load<uint16_t>(p), uint16_t(std::max(size_, 0)));
            return Variant::FromBytes(ByteArray(p + 2, p + 2 + n));
        }
        case ftTimeStamp: {
            const int year = Load<int16_t>(p);
            const int month = Load<uint16_t>(p + 2);
            const int day = Load<uint16_t>(p + 4);
            const int hour = Load<uint16_t>(p + 6);
            const int minute = Load<uint16_t>(p + 8);
            const int second = Load<uint16_t>(p + 10);
            const uint32_t fraction = Load<uint32_t>(p + 12);
            return Variant::FromDateTime(CombineDateTime(
                EncodeDate(year, month, day), EncodeTime(hour, minute, second, int(fraction / 1000000u))));
        }
        default:
            throw EDatabaseError(Format("Tipo de campo %s não suportado no campo '%s'",
                                        FieldTypeName(dataType_), DisplayName()));
    }
}

void TField::EncodeNative(const Variant& v, uint8_t* p) const {
    switch (dataType_) {
        case ftString:
        case ftFixedChar:
        case ftGuid:
        case ftWideString: {
            const std::string s = v.AsString();
            const size_t room = size_t(std::max(DataSize() - 1, 0));
            const size_t n = std::min(s.size(), std::min(room, size_t(std::max(size_, 0))));
            std::memcpy(p, s.data(), n);
            p[n] = 0;
            return;
        }
        case ftSmallint: {
            const int32_t i = v.AsInteger();
            if (i < -32768 || i > 32767)
                throw EDatabaseError(
                    Format("%d não é um valor válido para o campo '%s'. A faixa permitida é de %d a %d", i,
                           DisplayName(), -32768, 32767));
            Store<int16_t>(p, int16_t(i));
            return;
        }
        case ftWord: {
            const int32_t i = v.AsInteger();
            if (i < 0 || i > 65535)
                throw EDatabaseError(
                    Format("%d não é um valor válido para o campo '%s'. A faixa permitida é de %d a %d", i,
                           DisplayName(), 0, 65535));
            Store<uint16_t>(p, uint16_t(i));
            return;
        }
        case ftBoolean:
            Store<int16_t>(p, v.AsBoolean() ? int16_t(1) : int16_t(0));
            return;
        case ftInteger:
        case ftAutoInc:
            Store<int32_t>(p, v.AsInteger());
            return;
        case ftLargeint:
            Store<int64_t>(p, v.AsInt64());
            return;
        case ftFloat:
        case ftCurrency:
            Store<double>(p, v.AsDouble());
            return;
        case ftBCD:
        case ftFMTBcd: {
            TBcd bcd;
            // A decimal text is taken exactly, also past a currency's range.
            if (v.IsText() && TextToBcd(Trim(v.AsString()), bcd, std::clamp(size_, 0, 63))) {
                std::memcpy(p, &bcd, sizeof bcd);
                return;
            }
            const int places = std::clamp(size_, 0, 4);
            if (!CurrencyToBcd(v.AsCurrency(), bcd, 32, places))
                throw EDatabaseError(Format("Valor fora dos limites para o campo '%s'", DisplayName()));
            std::memcpy(p, &bcd, sizeof bcd);
            return;
        }
        case ftDate: {
            const TTimeStamp ts = DateTimeToTimeStamp(v.AsDateTime());
            Store<int32_t>(p, ts.Date);
            Store<int32_t>(p + 4, 0);
            return;
        }
        case ftTime: {
            const TTimeStamp ts = DateTimeToTimeStamp(v.AsDateTime());
            Store<int32_t>(p, ts.Time);
            Store<int32_t>(p + 4, 0);
            return;
        }
        case ftDateTime:
            Store<double>(p, DateTimeToMSecs(v.AsDateTime()));
            return;
        case ftBytes: {
            const ByteArray b = v.AsBytes();
            std::memset(p, 0, size_t(size_));
            std::memcpy(p, b.data(), std::min(b.size(), size_t(size_)));
            return;
        }
        case ftVarBytes: {
            const ByteArray b = v.AsBytes();
            const size_t n = std::min(b.size(), size_t(std::max(size_, 0)));
            Store<uint16_t>(p, uint16_t(n));
            std::memcpy(p + 2, b.data(), n);
            return;
        }
        case ftTimeStamp: {
            int year, month, day, hour, minute, second, ms;
            const TDateTime dt = v.AsDateTime();
            DecodeDate(dt, year, month, day);
            DecodeTime(dt, hour, minute, second, ms);
            Store<int16_t>(p, int16_t(year));
            Store<uint16_t>(p + 2, uint16_t(month));
            Store<uint16_t>(p + 4, uint16_t(day));
            Store<uint16_t>(p + 6, uint16_t(hour));
            Store<uint16_t>(p + 8, uint16_t(minute));
            Store<uint16_t>(p + 10, uint16_t(second));
            Store<uint32_t>(p + 12, uint32_t(ms) * 1000000u);
            return;
        }
        default:
            throw EDatabaseError(Format("Tipo de campo %s não suportado no campo '%s'",
                                        FieldTypeName(dataType_), DisplayName()));
    }
}

Variant TField::Value() const {
    if (IsBlob()) {
        if (IsNull()) return Variant::Null();
        const std::unique_ptr<Stream> s = dataSet_->CreateBlobStream(const_cast<TField&>(*this), bmRead);
        std::string bytes(size_t(std::max<int64_t>(s->Size(), 0)), '\0');
        bytes.resize(s->Read(bytes.data(), bytes.size()));
        if (IsTextBlobType(dataType_)) return Variant(std::move(bytes));
        return Variant::FromBytes(ByteArray(bytes.begin(), bytes.end()));
    }
    uint8_t local[256];
    std::vector<uint8_t> large;
    const uint8_t* p = ReadNative(local, sizeof local, large);
    return p == nullptr ? Variant::Null() : DecodeNative(p);
}

void TField::SetValue(const Variant& value) {
    if (IsBlob()) {
        const ByteArray bytes = value.IsEmptyOrNull() ? ByteArray() : value.AsBytes();
        std::unique_ptr<Stream> s = dataSet_->CreateBlobStream(*this, bmWrite);
        if (!bytes.empty()) s->WriteBuffer(bytes.data(), bytes.size());
        s.reset();  // the stream's end marks the field modified and tells the data set
        return;
    }
    if (value.IsEmptyOrNull()) {
        SetData(nullptr);
        return;
    }
    const int n = std::max(RecordSize(), 1);
    std::vector<uint8_t> buffer(size_t(n), 0);
    EncodeNative(value, buffer.data());
    SetData(buffer.data());
}

// The field's bytes in the record of the current state: read in place when the data set can
// point into its record, else copied into a buffer of the caller's (large values in `large`);
// nullptr for null. Value and the typed getters below read through it, the typed ones without
// building a variant for the common types.
inline const uint8_t* TField::ReadNative(uint8_t* local, size_t size, std::vector<uint8_t>& large) const {
    // Values are read in browse state far more than in any other, most of them once per row of
    // a loop: a field whose slot the data set gave reads the active record directly, in the
    // getter itself.
    if (recordSlot_ >= 0 && dataSet_->state_ == dsBrowse) {
        if (!dataSet_->hasRecord_ || !dataSet_->activeBuf_) return nullptr;
        const uint8_t* p = dataSet_->activeBuf_->Data() + recordSlot_;
        return p[0] != 0 ? p + 1 : nullptr;
    }
    return ReadNativeAsked(local, size, large);
}

const uint8_t* TField::ReadNativeAsked(uint8_t* local, size_t size, std::vector<uint8_t>& large) const {
    bool inPlace = false;
    const uint8_t* p = dataSet_->FieldDataInPlace(*this, inPlace);
    if (inPlace) return p;
    const size_t n = size_t(std::max(RecordSize(), 1));
    uint8_t* buffer = local;
    if (n > size) {
        large.assign(n, 0);
        buffer = large.data();
    }
    return GetData(buffer) ? buffer : nullptr;
}

std::string TField::AsString() const {
    switch (dataType_) {
        case ftString:
        case ftFixedChar:
        case ftGuid:
        case ftWideString: {
            uint8_t local[256];
            std::vector<uint8_t> large;
            const uint8_t* p = ReadNative(local, sizeof local, large);
            if (p == nullptr) return std::string();
            const size_t limit = size_t(std::max(DataSize() - 1, 0));
            const void* zero = std::memchr(p, 0, limit);
            const size_t n = zero != nullptr ? size_t(static_cast<const uint8_t*>(zero) - p) : limit;
            return std::string(reinterpret_cast<const char*>(p), n);
        }
        default:
            break;
    }
    const Variant v = Value();
    if (v.Type() == VarType::Date) {
        if (dataType_ == ftDate) return DateToStr(v.AsDateTime());
        if (dataType_ == ftTime) return TimeToStr(v.AsDateTime());
    }
    return v.AsString();
}

int32_t TField::AsInteger() const {
    uint8_t local[8];
    std::vector<uint8_t> large;
    switch (dataType_) {
        case ftInteger:
        case ftAutoInc: {
            const uint8_t* p = ReadNative(local, sizeof local, large);
            return p == nullptr ? 0 : Load<int32_t>(p);
        }
        case ftSmallint: {
            const uint8_t* p = ReadNative(local, sizeof local, large);
            return p == nullptr ? 0 : Load<int16_t>(p);
        }
        case ftWord: {
            const uint8_t* p = ReadNative(local, sizeof local, large);
            return p == nullptr ? 0 : Load<uint16_t>(p);
        }
        default: {
            const Variant v = Value();
            return v.IsNull() ? 0 : v.AsInteger();
        }
    }
}

int64_t TField::AsLargeInt() const {
    if (dataType_ == ftLargeint) {
        uint8_t local[8];
        std::vector<uint8_t> large;
        const uint8_t* p = ReadNative(local, sizeof local, large);
        return p == nullptr ? 0 : Load<int64_t>(p);
    }
    const Variant v = Value();
    return v.IsNull() ? 0 : v.AsInt64();
}

double TField::AsFloat() const {
    if (dataType_ == ftFloat || dataType_ == ftCurrency) {
        uint8_t local[8];
        std::vector<uint8_t> large;
        const uint8_t* p = ReadNative(local, sizeof local, large);
        return p == nullptr ? 0 : Load<double>(p);
    }
    const Variant v = Value();
    return v.IsNull() ? 0 : v.AsDouble();
}

bool TField::AsBoolean() const {
    const Variant v = Value();
    return v.IsNull() ? false : v.AsBoolean();
}

TDateTime TField::AsDateTime() const {
    if (dataType_ == ftDateTime || dataType_ == ftDate || dataType_ == ftTime) {
        uint8_t local[8];
        std::vector<uint8_t> large;
        const uint8_t* p = ReadNative(local, sizeof local, large);
        return p == nullptr ? 0 : NativeDateTime(dataType_, p);
    }
    const Variant v = Value();
    return v.IsNull() ? 0 : v.AsDateTime();
}

ByteArray TField::AsBytes() const {
    const Variant v = Value();
    return v.IsNull() ? ByteArray() : v.AsBytes();
}

Variant TField::OldValue() const {
    return dataSet_->GetStateFieldValue(dsOldValue, *this);
}

Variant TField::NewValue() const {
    return dataSet_->GetStateFieldValue(dsNewValue, *this);
}

void TField::Assign(const TField& source) {
    SetValue(source.Value());
}

}  // namespace rtl
