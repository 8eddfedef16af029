// rtl/FieldType.cpp: names and fixed sizes of the field types.
#include "rtl/FieldType.h"

#include "rtl/Bcd.h"

namespace rtl {

const char* FieldTypeName(TFieldType t) {
    static constexpr const char* kNames[kFieldTypeCount] = {
        "Unknown",     "String",    "SmallInt",  "Integer",    "Word",     "Boolean",    "Float",
        "Currency",    "BCD",       "Date",      "Time",       "DateTime", "Bytes",      "VarBytes",
        "AutoInc",     "Blob",      "Memo",      "Graphic",    "FmtMemo",  "ParadoxOle", "dBaseOle",
        "TypedBinary", "Cursor",    "FixedChar", "WideString", "Largeint", "ADT",        "Array",
        "Reference",   "DataSet",   "OraBlob",   "OraClob",    "Variant",  "Interface",  "IDispatch",
        "Guid",        "TimeStamp", "FMTBcd"};
    if (t < 0 || t >= kFieldTypeCount) return kNames[0];
    return kNames[t];
}

int FixedFieldTypeSize(TFieldType t) {
    switch (t) {
        case ftSmallint:
        case ftWord:
        case ftBoolean:
            return 2;
        case ftInteger:
        case ftAutoInc:
        case ftDate:
        case ftTime:
            return 4;
        case ftFloat:
        case ftCurrency:
        case ftDateTime:
        case ftLargeint:
            return 8;
        case ftBCD:
        case ftFMTBcd:
            return int(sizeof(TBcd));
        case ftTimeStamp:
            return 16;
        default:
            return 0;
    }
}

}  // namespace rtl
