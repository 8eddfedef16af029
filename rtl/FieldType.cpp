// rtl/FieldType.cpp: names of the field types.
#include "rtl/FieldType.h"

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

}  // namespace rtl
