// rtl/Field.h: fields and field definitions of the data-set base (the SQL library's class base).
//
// A TFieldDef describes a column a data set can deliver (name, type, size, number); a TField is
// the live accessor of one column or one calculated value of the current record. There is one
// field class: its DataType tag decides how the bytes of its slot in a record buffer read and
// write. The data set owns its fields (TDataSet::AddField / CreateFields) and its definitions;
// a field only refers back to its data set, which always outlives it.
//
// Native layouts in a record slot (what GetData copies out and SetData copies in):
//   ftString, ftFixedChar, ftGuid, ftWideString   zero-terminated text, at most Size characters
//   ftSmallint, ftBoolean 16-bit signed (a boolean is not 0 when true); ftWord 16-bit unsigned
//   ftInteger, ftAutoInc 32-bit signed; ftLargeint 64-bit signed
//   ftFloat, ftCurrency  64-bit float; ftBCD, ftFMTBcd the 34-byte packed decimal (rtl/Bcd.h)
//   ftDate  32-bit day number (day 1 = 0001-01-01), ftTime 32-bit milliseconds of the day,
//   ftDateTime 64-bit float milliseconds on the same scale; these three take 8 bytes in a record
//   ftBytes Size raw bytes; ftVarBytes a 16-bit length and up to Size bytes
//   ftTimeStamp 16 bytes: year (16-bit signed), month, day, hour, minute, second (16-bit), fraction
//   (32-bit nanoseconds)
// Blob types keep no bytes in the slot (only the record's value-present byte); their content is
// read and written through the data set's blob stream. All values are in the machine's byte
// order, copied with memcpy.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "rtl/DateTime.h"
#include "rtl/FieldType.h"
#include "rtl/Variant.h"

namespace rtl {

class TDataSet;

enum TFieldKind : int32_t { fkData, fkCalculated, fkLookup, fkInternalCalc, fkAggregate };

// The class library's data size of a field of that type and size (the bytes GetData copies).
int FieldDataSize(TFieldType type, int size);
// The bytes the field's value takes in a record: the data size, but 8 for the date types.
int FieldRecordSize(TFieldType type, int size);
// ftBlob .. ftTypedBinary, ftOraBlob, ftOraClob.
bool IsBlobFieldTypeTag(TFieldType type);
// The blob types whose content is text (ftMemo, ftFmtMemo, ftOraClob).
bool IsTextBlobType(TFieldType type);

class TFieldDef {
public:
    std::string Name;
    TFieldType DataType = ftUnknown;
    int Size = 0;
    int Precision = 0;
    int FieldNo = 0;
    bool Required = false;
    bool FixedChar = false;
    bool AutoIncrement = false;  // the server fills the column (an identity or serial column)
};

class TFieldDefs {
public:
    explicit TFieldDefs(TDataSet* dataSet) : dataSet_(dataSet) {}

    int Count() const { return int(items_.size()); }
    // rtl::EListError for an index outside the list.
    TFieldDef& operator[](int index);
    const TFieldDef& operator[](int index) const;
    // A new definition at the end; its FieldNo is its 1-based position unless given.
    TFieldDef& Add(const std::string& name, TFieldType type, int size = 0, bool required = false);
    // Without regard to case; nullptr / -1 when absent.
    TFieldDef* Find(std::string_view name);
    int IndexOf(std::string_view name) const;
    void Clear() { items_.clear(); }
    void Assign(const TFieldDefs& other) { items_ = other.items_; }
    // Asks the data set to build its definitions (opening its cursor for information when it is
    // closed).
    void Update();

private:
    TDataSet* dataSet_;
    std::vector<TFieldDef> items_;
};

class TField {
public:
    TField(TDataSet& dataSet, std::string fieldName, TFieldType type, int size, TFieldKind kind);
    TField(const TField&) = delete;
    TField& operator=(const TField&) = delete;

    TDataSet& DataSet() const { return *dataSet_; }
    const std::string& FieldName() const { return fieldName_; }
    // DisplayLabel when set, else FieldName.
    const std::string& DisplayName() const { return displayLabel_.empty() ? fieldName_ : displayLabel_; }
    void SetDisplayLabel(std::string label) { displayLabel_ = std::move(label); }
    TFieldType DataType() const { return dataType_; }
    int Size() const { return size_; }
    TFieldKind FieldKind() const { return kind_; }
    bool Calculated() const { return kind_ == fkCalculated || kind_ == fkLookup; }
    // 1-based number of the column it reads (set when the data set binds its fields); 0 for a
    // calculated field. A new number forgets the record slot (below) until the data set sets it
    // again for the new layout.
    int FieldNo() const { return fieldNo_; }
    void SetFieldNo(int n) {
        fieldNo_ = n;
        recordSlot_ = -1;
    }
    // Offset of a calculated field in the calculated-field area of a record.
    int Offset() const { return offset_; }
    void SetOffset(int offset) { offset_ = offset; }
    int DataSize() const { return dataSize_; }
    int RecordSize() const { return recordSize_; }
    bool IsBlob() const { return IsBlobFieldTypeTag(dataType_); }

    bool ReadOnly = false;
    bool Required = false;
    bool FixedChar = false;
    // The column is filled by the server (an identity or serial column).
    bool AutoIncrement = false;
    int Precision = 0;
    std::string DefaultExpression;
    // The field's value was written since the record's edit or insert began (by SetData, or
    // by a blob stream); the data set clears it when the record is posted or cancelled.
    bool Modified = false;
    // A lookup field (fkLookup) shows LookupResultField of the record of LookupDataSet whose
    // LookupKeyFields hold this record's KeyFields (several names separated by ";"); null when
    // a key is null or no record matches. The lookup data set must outlive this field's data set
    // or be cleared first.
    TDataSet* LookupDataSet = nullptr;
    std::string KeyFields;
    std::string LookupKeyFields;
    std::string LookupResultField;

    bool IsNull() const;
    // The value of the field in the record of the data set's current state (null when none).
    Variant Value() const;
    void SetValue(const Variant& value);
    void Clear() { SetData(nullptr); }
    std::string AsString() const;
    void SetAsString(std::string_view value) { SetValue(Variant(std::string(value))); }
    int32_t AsInteger() const;
    void SetAsInteger(int32_t value) { SetValue(Variant(value)); }
    int64_t AsLargeInt() const;
    void SetAsLargeInt(int64_t value) { SetValue(Variant(value)); }
    double AsFloat() const;
    void SetAsFloat(double value) { SetValue(Variant(value)); }
    bool AsBoolean() const;
    void SetAsBoolean(bool value) { SetValue(Variant(value)); }
    TDateTime AsDateTime() const;
    void SetAsDateTime(TDateTime value) { SetValue(Variant::FromDateTime(value)); }
    ByteArray AsBytes() const;
    void SetAsBytes(const ByteArray& value) { SetValue(Variant::FromBytes(value)); }
    // The value before the record was changed, and the value being written.
    Variant OldValue() const;
    Variant NewValue() const;
    // Takes another field's value (null stays null).
    void Assign(const TField& source);

    // Copies the field's bytes out of (into) the record of the current state; GetData answers
    // whether the value is present, dest may be nullptr to ask only that. SetData(nullptr) makes
    // the value null.
    bool GetData(void* dest) const;
    void SetData(const void* source);

    // The native bytes of a value and back (see the header comment); data points to at least
    // RecordSize() bytes. Not for blob fields.
    Variant DecodeNative(const uint8_t* data) const;
    void EncodeNative(const Variant& value, uint8_t* data) const;

private:
    friend class TDataSet;

    const uint8_t* ReadNative(uint8_t* local, size_t size, std::vector<uint8_t>& large) const;
    // ReadNative for a value the data set is asked for.
    const uint8_t* ReadNativeAsked(uint8_t* local, size_t size, std::vector<uint8_t>& large) const;

    TDataSet* dataSet_;
    std::string fieldName_;
    std::string displayLabel_;
    TFieldType dataType_;
    int size_;
    TFieldKind kind_;
    // Type and size never change, so their sizes are worked out once.
    int dataSize_;
    int recordSize_;
    int fieldNo_ = 0;
    int offset_ = 0;
    // Where every record buffer of the data set holds this field: a value-present byte, then the
    // value's RecordSize() bytes (TDataSet::SetFieldRecordSlot); -1 when the data set does not
    // say, and values are read through it.
    int recordSlot_ = -1;
};

}  // namespace rtl
