// database/oracle/SDOraTypes.cpp: what both Oracle driver generations share about types (unit
// SDOra): the native type and size of each engine field type, the field type of each Oracle
// type code, NUMBER columns by precision and scale, the seven-byte date, fetched cells in the
// engine's layout, intervals and time-zone offsets, and the texts handed to the client:
// statements with numbered markers, procedure call blocks, the OCI 7 logon text and the
// catalog queries.
//
// The seven-byte date, byte by byte: century + 100, year of the century + 100, month, day,
// hour + 1, minute + 1, second + 1.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "database/engine/SDCommonSlots.h"
#include "database/engine/SDCommonSqlText.h"
#include "database/oracle/SDOra.h"
#include "rtl/Bcd.h"
#include "rtl/DateTime.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

using namespace ociapi;

namespace {

constexpr int kOraDateSize = 7;

// The parameters bound in the engine's shapes (decimals as floats, dates in the seven-byte
// form), and the values output parameters read back; a statement's text is the driver's own.
constexpr TSDSlotMap kParamSlots =
    kEngineSlots.Only({ftString, ftSmallint, ftInteger, ftFloat, ftDate, ftTime, ftDateTime})
        .With(ftBCD, TSDSlotKind::Float64);
constexpr uint16_t kPointerSize = uint16_t(sizeof(void*));

int64_t TimeOfDayMs(int hour, int minute, int second, int ms) {
    return ((int64_t(hour) * 60 + minute) * 60 + second) * 1000 + ms;
}

// A condition value inside a quoted literal of a catalog query.
std::string Literal(const std::string& value) {
    return DoubleChar('\'', value);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Tables

int32_t OraNativeDataType(TFieldType fieldType) {
    switch (fieldType) {
        case ftString:
            return SQLT_AVC;
        case ftSmallint:
        case ftInteger:
        case ftWord:
            return SQLT_INT;
        case ftFloat:
        case ftCurrency:
        case ftBCD:
            return SQLT_FLT;
        case ftDate:
        case ftDateTime:
            return SQLT_DAT;
        case ftBytes:
        case ftVarBytes:
        case ftBlob:
        case ftGraphic:
            return SQLT_LBI;
        case ftMemo:
        case ftFmtMemo:
            return SQLT_LNG;
        case ftCursor:
            return SQLT_CUR;
        case ftFixedChar:
            return SQLT_AFC;
        case ftOraBlob:
            return SQLT_BLOB;
        case ftOraClob:
            return SQLT_CLOB;
        default:
            return 0;
    }
}

uint16_t OraNativeDataSize(TFieldType fieldType) {
    switch (fieldType) {
        case ftSmallint:
        case ftInteger:
        case ftWord:
            return 4;
        case ftFloat:
        case ftCurrency:
        case ftBCD:
            return 8;
        case ftDate:
        case ftDateTime:
            return kOraDateSize;
        case ftCursor:
            return uint16_t(kCdaSize);
        case ftOraBlob:
        case ftOraClob:
            return kPointerSize;  // a locator's address
        default:
            return 0;
    }
}

TFieldType OraFieldDataType(int32_t oraType) {
    switch (oraType) {
        case 1:
        case 11:
        case 96:
        case 97:
        case 105:
        case 106:
            return ftString;
        case 2:
            return ftFloat;
        case 3:
            return ftInteger;
        case 8:
            return ftMemo;
        case 12:
            return ftDateTime;
        case 23:
            return ftVarBytes;
        case 24:
            return ftBlob;
        case 102:
            return ftCursor;
        default:
            return ftUnknown;
    }
}

bool IsOraCharZType(int32_t oraType) {
    if (OraFieldDataType(oraType) != ftString) return false;
    return oraType != 1 && oraType != 11 && oraType != 96 && oraType != 105 && oraType != 106;
}

TFieldType OraNumberFieldType(TFieldType fieldType, int32_t precision, int32_t scale, bool enableBcd,
                              bool enableIntegers) {
    if ((!enableBcd && !enableIntegers) || fieldType != ftFloat || precision < 1) return fieldType;
    if (scale == 0) {
        if (precision <= 5) return ftSmallint;
        if (precision <= 10) return ftInteger;
        return ftFloat;
    }
    if (enableBcd && precision <= 20 && scale >= 1 && scale <= 4) return ftBCD;
    return ftFloat;
}

bool OraRequiresConversion(TFieldType fieldType) {
    switch (fieldType) {
        case ftBCD:
        case ftDate:
        case ftTime:
        case ftDateTime:
        case ftCursor:
            return true;
        default:
            return false;
    }
}

// ---------------------------------------------------------------------------------------------
// Dates, intervals, time zones

int32_t DateTimeToOraDate(TFieldType fieldType, uint8_t* buffer, int32_t bufferSize, rtl::TDateTime value) {
    if (bufferSize < kOraDateSize) rtl::DatabaseError("Insufficient buffer size for internal datetime type");
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ms = 0;
    rtl::DecodeDate(value, year, month, day);
    if (fieldType == ftTime || fieldType == ftDateTime) rtl::DecodeTime(value, hour, minute, second, ms);
    buffer[0] = uint8_t(year / 100 + 100);
    buffer[1] = uint8_t(year % 100 + 100);
    buffer[2] = uint8_t(month);
    buffer[3] = uint8_t(day);
    buffer[4] = uint8_t(hour + 1);
    buffer[5] = uint8_t(minute + 1);
    buffer[6] = uint8_t(second + 1);
    return bufferSize;
}

void OraPartsToDateTimeRec(TFieldType fieldType, const TOraDateTimeParts& p, TSDDateTimeRec& rec) {
    rec = TSDDateTimeRec();
    if (fieldType != ftDate && fieldType != ftTime && fieldType != ftDateTime) return;
    if (p.Hour < 0 || p.Hour > 23 || p.Minute < 0 || p.Minute > 59 || p.Second < 0 || p.Second > 59 ||
        p.Millisecond < 0 || p.Millisecond > 999)
        throw rtl::EConvertError("Invalid argument to time encode");
    const int64_t time = TimeOfDayMs(p.Hour, p.Minute, p.Second, p.Millisecond);
    if (fieldType == ftTime) {
        rec = TSDDateTimeRec::FromTime(int32_t(time));
        return;
    }
    const rtl::TTimeStamp ts = rtl::DateTimeToTimeStamp(rtl::EncodeDate(p.Year, p.Month, p.Day));
    if (fieldType == ftDate)
        rec = TSDDateTimeRec::FromDate(ts.Date);
    else
        rec = TSDDateTimeRec::FromDateTime(double(ts.Date) * double(rtl::MSecsPerDay) + double(time));
}

void OraDateToDateTime(TFieldType fieldType, const uint8_t* d, TSDDateTimeRec& rec) {
    TOraDateTimeParts p;
    p.Year = int(d[0]) * 100 + int(d[1]) - 10100;
    p.Month = d[2];
    p.Day = d[3];
    p.Hour = int(d[4]) - 1;
    p.Minute = int(d[5]) - 1;
    p.Second = int(d[6]) - 1;
    OraPartsToDateTimeRec(fieldType, p, rec);
}

void AddOraTimeZoneOffset(TOraDateTimeParts& p, int offsetHours, int offsetMinutes) {
    // Offsets move the time across midnight and back: carry the minutes into hours and the
    // hours into days, so that 23:30 at +01:00 becomes 00:30 of the next day.
    int64_t minutes = int64_t(p.Hour) * 60 + p.Minute + int64_t(offsetHours) * 60 + offsetMinutes;
    int64_t days = minutes >= 0 ? minutes / 1440 : -((-minutes + 1439) / 1440);
    minutes -= days * 1440;
    p.Hour = int(minutes / 60);
    p.Minute = int(minutes % 60);
    if (days != 0) {
        const rtl::TDateTime date = rtl::EncodeDate(p.Year, p.Month, p.Day) + double(days);
        rtl::DecodeDate(date, p.Year, p.Month, p.Day);
    }
}

int64_t OraYearMonthToScaled(int32_t years, int32_t months) {
    // years * 100 + months, times 10^8, as a four-decimal amount.
    const long double value = ((long double)years * 100 + months) * 1e8L * 1e4L;
    if (std::fabs(double(value)) > 9.2e18) rtl::DatabaseError("Interval value out of range");
    return int64_t(value);
}

int64_t OraDaySecondToScaled(int32_t days, int32_t hours, int32_t minutes, int32_t seconds,
                             int32_t nanoseconds) {
    const long double whole =
        (long double)days * 1000000 + (long double)hours * 10000 + minutes * 100.0L + seconds;
    const long double value = whole * 1e4L + (long double)(nanoseconds / 100000);
    if (std::fabs(double(value)) > 9.2e18) rtl::DatabaseError("Interval value out of range");
    return int64_t(value);
}

// ---------------------------------------------------------------------------------------------
// Cells

bool OraCnvtFieldData(TFieldType fieldType, const uint8_t* cell, void* dest, bool trimChar,
                      int32_t destSize) {
    if (IsBlobFieldType(stOracle, fieldType)) return false;
    int16_t indicator = 0;
    std::memcpy(&indicator, cell, sizeof indicator);
    if (indicator == -1) return false;
    const uint8_t* data = cell + kCellHeaderSize;
    switch (fieldType) {
        case ftDate:
        case ftTime:
        case ftDateTime: {
            TSDDateTimeRec rec;
            OraDateToDateTime(fieldType, data, rec);
            std::memcpy(dest, rec.Bytes, size_t(std::min<int32_t>(destSize, int32_t(sizeof rec.Bytes))));
            return true;
        }
        default:
            break;
    }
    int32_t length = 0;
    std::memcpy(&length, cell + GetCellLengthOffset(), sizeof length);
    const int32_t n = std::max(0, std::min(length, destSize));
    if (fieldType == ftString) {
        char* out = static_cast<char*>(dest);
        std::memcpy(out, data, size_t(n));
        // The text is what comes before its terminator. A text that fills the destination
        // keeps every character: the terminator gets a byte of its own or none, never the
        // place of the last character.
        size_t textLength = 0;
        while (textLength < size_t(n) && out[textLength] != 0)
            ++textLength;
        if (trimChar)
            while (textLength > 0 && out[textLength - 1] == ' ')
                --textLength;
        if (textLength < size_t(destSize)) std::memset(out + textLength, 0, size_t(destSize) - textLength);
        return true;
    }
    if (fieldType == ftBCD) {
        double value = 0;
        std::memcpy(&value, data, sizeof value);
        const double scaled = std::nearbyint(value * 10000.0);
        if (!std::isfinite(scaled) || std::fabs(scaled) > 9.2e18 ||
            !StoreCurrencyAsBcd(int64_t(scaled), 4, dest, destSize))
            rtl::DatabaseError("BCD overflow");
        return true;
    }
    std::memcpy(dest, data, size_t(n));
    return true;
}

int32_t OraParamSize(const TParam& param) {
    const int32_t size = param.GetDataSize();
    switch (param.DataType()) {
        case ftString:
        case ftMemo:
        case ftFixedChar:
            return std::max(0, size - 1);
        default:
            return size;
    }
}

int32_t OraParamCellSize(int32_t dataSize) {
    return int32_t((int64_t(kCellHeaderSize) + dataSize + 7) / 8 * 8);
}

int32_t OraParamsBufferSize(TISqlCommand& command) {
    if (command.Params == nullptr) return 0;
    int64_t size = 0;  // summed wide: a sum past the limit is refused, never wrapped
    for (int i = 0; i < command.Params->Count(); ++i) {
        const TParam& p = (*command.Params)[i];
        if (p.DataType() == ftUnknown)
            rtl::DatabaseErrorFmt("Unknown data type for parameter '%s'", p.Name());
        if (p.ParamType() == ptUnknown)
            rtl::DatabaseErrorFmt("No parameter type for parameter '%s'", p.Name());
        size += OraParamCellSize(command.ParamDataSize(p));
    }
    if (size > kMaxBufferSize) rtl::DatabaseErrorFmt("Parameter buffer of %d bytes is too large", size);
    return int32_t(size);
}

std::string OraParamBytes(const TParam& p) {
    if (p.IsNull()) return "";
    if (const rtl::ByteArray* bytes = p.Value().Bytes()) return std::string(bytes->begin(), bytes->end());
    return p.AsString();
}

int32_t OraReadPlainBlob(TISqlCommand& command, const TSDFieldDesc& desc, const uint8_t* cell,
                         rtl::ByteArray& data) {
    data.assign(size_t(std::max(desc.DataSize, 0)), 0);
    if (!command.GetCnvtFieldData(desc, data.data(), desc.DataSize)) {
        data.clear();
        return 0;
    }
    int32_t indicator = 0, length = 0;
    GetCellHeader(cell, 0, indicator, length);
    length = std::clamp<int32_t>(length, 0, desc.DataSize);
    data.resize(size_t(length));
    return length;
}

bool FillOraParamValue(const TParam& p, uint8_t* value, int32_t size, bool procedure) {
    const bool isNull = p.IsNull();
    if (p.DataType() == ftString && !procedure) {
        // A statement's text fills its cell, without a terminator of its own.
        SetBufferString(value, 0, isNull ? std::string() : p.AsString(), size);
        return true;
    }
    // A procedure's text longer than its cell is cut, always terminated.
    const TSDSlotKind kind = kParamSlots[p.DataType()];
    if (kind == TSDSlotKind::None) return false;
    if (!isNull)
        PutParamSlot(p, kind, value, size, [](TFieldType type, rtl::TDateTime v, uint8_t* slot, int32_t n) {
            return DateTimeToOraDate(type, slot, n, v);
        });
    return true;
}

void SetOraParamValue(TParam& p, const uint8_t* data) {
    if (p.DataType() == ftBCD) {
        rtl::TBcd bcd;
        std::memcpy(&bcd, data, sizeof bcd);
        int64_t scaled = 0;
        if (!rtl::BcdToCurrency(bcd, scaled)) rtl::DatabaseError("BCD overflow");
        p.SetValue(rtl::Variant::FromCurrency(scaled));
        return;
    }
    // The converted value is zero-terminated text or the engine's layout of the type.
    if (!SetParamFromSlot(p, kParamSlots[p.DataType()], data, -1, UnpackEngineDateTime)) p.Clear();
}

// ---------------------------------------------------------------------------------------------
// Texts

std::string PrepareOraSqlText(const std::string& sql, const TParams* params) {
    std::string text = sql;
    while (!text.empty() && (text.back() == 0 || text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    if (params == nullptr || params->Count() == 0) return text;
    // Each parameter renumbers its first remaining marker; markers are whole names outside
    // literals, so ":p1" never renumbers part of ":p10" and a ":a" inside a quoted text stays
    // as it is.
    return ReplaceParamsWithTexts(text, *params, [](int index) { return ":" + rtl::IntToStr(index + 1); });
}

std::string BuildOraProcCall(const std::string& procName, const TParams* params) {
    std::string prefix;
    std::string items;
    for (int i = 0; params != nullptr && i < params->Count(); ++i) {
        const TParam& p = (*params)[i];
        if (p.ParamType() == ptResult) {
            prefix = rtl::Format(":%s := ", p.Name());
            continue;
        }
        if (!items.empty()) items += ", ";
        const std::string name = rtl::UpperCase(p.Name());
        items += rtl::Format("%s => :%s", name, name);
    }
    if (!items.empty()) items = "(" + items + ")";
    return rtl::Format("begin %s%s %s; end;", prefix, rtl::UpperCase(procName), items);
}

std::string BuildOraConnectString(const std::string& remoteDatabase, const std::string& userName,
                                  const std::string& password) {
    std::string text;
    if (!password.empty()) {
        if (!userName.empty()) text += rtl::Trim(userName);
        text += "/" + rtl::Trim(password);
    }
    if (!remoteDatabase.empty()) text += "@" + rtl::Trim(remoteDatabase);
    return text;
}

std::string OraIsolationStatement(TSDTransIsolation level) {
    return level == tiRepeatableRead ? "set transaction READ ONLY" : "set transaction READ WRITE";
}

std::string OraSchemaQueryText(TSDSchemaType kind, const std::string& objectName) {
    // Names arrive from the caller: every value inside a literal has its quotes doubled, so a
    // name holding a quote is looked up as it stands and cannot end the literal.
    // Kind 6 lists packages; the engine's enumeration stops at the indexes (5).
    constexpr int kPackages = 6;
    switch (int(kind)) {
        case stTables:
        case stSysTables: {
            std::string owner, name;
            SplitOwnerAndName(objectName, owner, name);
            if (owner == "*") owner.clear();
            if (name == "*") name.clear();
            std::string conditions;
            if (!name.empty())
                conditions +=
                    (name.find('%') != std::string::npos ? "and OBJECT_NAME like '" : "and OBJECT_NAME = '") +
                    Literal(name) + "' ";
            if (!owner.empty())
                conditions += (owner.find('%') != std::string::npos ? "and OWNER like '" : "and OWNER = '") +
                              Literal(owner) + "' ";
            conditions += kind == stSysTables ? "and OWNER = 'SYS' " : "and OWNER <> 'SYS' ";
            return rtl::Format(
                "select '' as CATALOG_NAME, OWNER as SCHEMA_NAME, OBJECT_NAME as TABLE_NAME, DECODE(OWNER, "
                "'SYS', 4, "
                "0) + DECODE(OBJECT_TYPE, 'TABLE', 1, 'VIEW', 2, 0) as TABLE_TYPE from SYS.ALL_OBJECTS where "
                "OBJECT_TYPE in ('TABLE', 'VIEW') %s order by OWNER, OBJECT_NAME",
                conditions);
        }
        case stProcedures: {
            const std::string condition =
                objectName.empty() ? "" : "and OBJECT_NAME like '" + Literal(objectName) + "' ";
            return rtl::Format(
                "select '' as CATALOG_NAME, OWNER as SCHEMA_NAME, OBJECT_NAME as PROC_NAME, DECODE(OWNER, "
                "'SYS', 8, "
                "0) + DECODE(OBJECT_TYPE, 'PROCEDURE', 1, 'FUNCTION', 2, 0) as PROC_TYPE from "
                "SYS.ALL_OBJECTS where "
                "OBJECT_TYPE in ('PROCEDURE', 'FUNCTION') %s order by OWNER, OBJECT_NAME",
                condition);
        }
        case stColumns: {
            std::string owner, name;
            SplitOwnerAndName(objectName, owner, name);
            return rtl::Format(
                "select '' as CATALOG_NAME, OWNER as SCHEMA_NAME, TABLE_NAME as TABLE_NAME, COLUMN_NAME as "
                "COLUMN_NAME, COLUMN_ID as COLUMN_POSITION, 0 as COLUMN_TYPE, DATA_TYPE as COLUMN_TYPENAME, "
                "DATA_LENGTH as COLUMN_LENGTH, DATA_PRECISION as COLUMN_PRECISION, DATA_SCALE as "
                "COLUMN_SCALE, "
                "DECODE(NULLABLE, 'Y', 1, 0) as COLUMN_NULLABLE, DATA_DEFAULT from SYS.ALL_TAB_COLUMNS where "
                "UPPER(OWNER) like UPPER('%s') and UPPER(TABLE_NAME) like UPPER('%s') order by OWNER, "
                "TABLE_NAME, "
                "COLUMN_ID",
                Literal(owner), Literal(name));
        }
        case stIndexes: {
            std::string owner, name;
            SplitOwnerAndName(objectName, owner, name);
            const std::string o = Literal(owner);
            const std::string n = Literal(name);
            return rtl::Format(
                "select '' as CATALOG_NAME, IND.OWNER as SCHEMA_NAME, IND.TABLE_NAME as TABLE_NAME, "
                "IND.INDEX_NAME "
                "as INDEX_NAME, COLUMN_NAME as COLUMN_NAME, COLUMN_POSITION as COLUMN_POSITION, "
                "DECODE(IND.UNIQUENESS, 'UNIQUE', 2, 1) as INDEX_TYPE, '' as PKEY_NAME, '' as SORT_ORDER, '' "
                "as "
                "INDEX_FILTER from ALL_INDEXES IND, ALL_IND_COLUMNS INDC where IND.OWNER = INDC.INDEX_OWNER  "
                " and "
                "IND.INDEX_NAME = INDC.INDEX_NAME   and IND.TABLE_NAME = INDC.TABLE_NAME   and "
                "IND.TABLE_OWNER = "
                "INDC.TABLE_OWNER   and UPPER(IND.TABLE_OWNER) like UPPER('%s')   and UPPER(IND.TABLE_NAME) "
                "like "
                "UPPER('%s')  union select '', CT.OWNER, CT.TABLE_NAME, CT.CONSTRAINT_NAME, CC.COLUMN_NAME, "
                "CC.POSITION, 4, CT.CONSTRAINT_NAME, '', '' from ALL_CONSTRAINTS CT, ALL_CONS_COLUMNS CC "
                "where "
                "CT.CONSTRAINT_NAME = CC.CONSTRAINT_NAME   and CT.TABLE_NAME        = CC.TABLE_NAME   and "
                "CT.OWNER   "
                "          = CC.OWNER   and CONSTRAINT_TYPE = 'P'   and UPPER(CT.OWNER) like UPPER('%s')   "
                "and "
                "UPPER(CT.TABLE_NAME) like UPPER('%s') order by 7 desc, 2, 3, 4, 6",
                o, n, o, n);
        }
        case kPackages: {
            const std::string condition =
                objectName.empty() ? "" : "and OBJECT_NAME like '" + Literal(objectName) + "' ";
            return rtl::Format(
                "select '' as CATALOG_NAME, OWNER as SCHEMA_NAME, OBJECT_NAME as PACKAGE_NAME from "
                "SYS.ALL_OBJECTS "
                "where OBJECT_TYPE = 'PACKAGE' %s order by OWNER, OBJECT_NAME",
                condition);
        }
        default:
            return "";
    }
}
