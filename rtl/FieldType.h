// rtl/FieldType.h: the field types and parameter kinds of the SQL library's class base.
//
// TFieldType keeps the ordinal order of the class library the database engine was written
// against: drivers, the filter parser and stored field definitions exchange these ordinals,
// so a new type goes at the end and no entry may move. The ordinals up to ftArray (27) are the
// ones the engine relies on; the entries after it follow the same library's order.
//
// TParamType and TUpdateMode are the parameter directions and the where-clause modes of
// generated update statements; their ordinals are fixed for the same reason.
#pragma once

#include <cstdint>

namespace rtl {

enum TFieldType : int32_t {
    ftUnknown,      // 0
    ftString,       // 1
    ftSmallint,     // 2
    ftInteger,      // 3
    ftWord,         // 4
    ftBoolean,      // 5
    ftFloat,        // 6
    ftCurrency,     // 7
    ftBCD,          // 8
    ftDate,         // 9
    ftTime,         // 10
    ftDateTime,     // 11
    ftBytes,        // 12
    ftVarBytes,     // 13
    ftAutoInc,      // 14
    ftBlob,         // 15
    ftMemo,         // 16
    ftGraphic,      // 17
    ftFmtMemo,      // 18
    ftParadoxOle,   // 19
    ftDBaseOle,     // 20
    ftTypedBinary,  // 21
    ftCursor,       // 22
    ftFixedChar,    // 23
    ftWideString,   // 24
    ftLargeint,     // 25
    ftADT,          // 26
    ftArray,        // 27
    ftReference,    // 28
    ftDataSet,      // 29
    ftOraBlob,      // 30
    ftOraClob,      // 31
    ftVariant,      // 32
    ftInterface,    // 33
    ftIDispatch,    // 34
    ftGuid,         // 35
    ftTimeStamp,    // 36
    ftFMTBcd,       // 37
};

inline constexpr int32_t kFieldTypeCount = ftFMTBcd + 1;

// The class library's display name of a field type ("String", "SmallInt", "Blob", ...);
// "Unknown" for a value outside the enumeration.
const char* FieldTypeName(TFieldType t);

// The bytes a value of a fixed-size type takes in a record or parameter buffer: 2 for the
// small integers and booleans, 4 for integers and the date or time counts, 8 for floats,
// currencies, date-times and large integers, 16 for time stamps, TBcd's 34 for the packed
// decimals; 0 for the types whose size comes from the field or the value.
int FixedFieldTypeSize(TFieldType t);

enum TParamType : int32_t { ptUnknown, ptInput, ptOutput, ptInputOutput, ptResult };

enum TUpdateMode : int32_t { upWhereAll, upWhereChanged, upWhereKeyOnly };

}  // namespace rtl
