// database/drivers/SDTdsLiterals.cpp: Transact-SQL literals and server version texts.
#include "database/drivers/SDTdsLiterals.h"

#include <cmath>
#include <cstring>

#include "database/drivers/SDSqlLiterals.h"
#include "database/engine/SDCommonSqlText.h"
#include "database/engine/SDCommonValues.h"
#include "rtl/DatabaseError.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

namespace {

std::string Quoted(const std::string& text) {
    return rtl::Format("'%s'", DoubleChar('\'', text));
}

std::string FloatText(double value, const TTdsLiteralRules& rules) {
    // NaN and the infinities have no literal in T-SQL; a converter would write "nan" or
    // "inf", which the server reads as a column name.
    if (!std::isfinite(value)) rtl::DatabaseError("A float parameter must be a finite number");
    if (rules.floatText) {
        const std::string text = rules.floatText(value);
        if (!text.empty()) return text;
    }
    return FloatLiteral(value);
}

// A currency, BCD or float value without the round trip through a double when the value is
// a currency already: a money amount keeps every one of its digits.
std::string DecimalText(const rtl::Variant& v, const TTdsLiteralRules& rules) {
    if (v.Type() == rtl::VarType::Currency) return CurrencyLiteral(v.AsCurrency());
    return FloatText(v.AsDouble(), rules);
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

int32_t PackTdsDateTime(TFieldType, rtl::TDateTime value, uint8_t* slot, int32_t) {
    const rtl::TTimeStamp ts = rtl::DateTimeToTimeStamp(value);
    const int32_t days = ts.Date - (rtl::DateDelta + 2);
    const int32_t ticks = int32_t(int64_t(ts.Time) * 3 / 10);
    std::memcpy(slot, &days, sizeof days);
    std::memcpy(slot + 4, &ticks, sizeof ticks);
    return 8;
}

std::string TdsDateLiteral(TFieldType fieldType, rtl::TDateTime value) {
    std::string text;
    if (fieldType == ftDate || fieldType == ftDateTime) {
        int year = 0, month = 0, day = 0;
        rtl::DecodeDate(value, year, month, day);
        text = rtl::Format("%.4d%.2d%.2d", year, month, day);
    }
    if (fieldType == ftTime || fieldType == ftDateTime) {
        int hour = 0, minute = 0, second = 0, ms = 0;
        rtl::DecodeTime(value, hour, minute, second, ms);
        if (hour != 0 || minute != 0 || second != 0 || ms != 0) {
            if (!text.empty()) text += ' ';
            text += rtl::Format("%.2d:%.2d:%.2d", hour, minute, second);
            if (ms != 0) text = rtl::Format("%s:%.3d", text, ms);
        }
    }
    return rtl::Format("'%s'", text);
}

std::string TdsParamLiteral(const TParam& param, const TTdsLiteralRules& rules) {
    const TFieldType type = param.DataType();
    if (param.IsNull()) return "NULL";
    const rtl::Variant& v = param.Value();
    if (rules.emptyStringAsNull) {
        const std::string text = param.AsString();
        // A text of nothing but zero characters is written as the empty text: NULL too. A
        // blob's zero bytes are its value.
        if ((type == ftString && text.find_first_not_of('\0') == std::string::npos) ||
            (IsBlobFieldType(stSybase, type) && text.empty()))
            return "NULL";
    }
    switch (type) {
        case ftSmallint:
        case ftInteger:
        case ftWord:
        case ftAutoInc:
        case ftLargeint:
            return IntegerLiteral(param);
        case ftBoolean:
            return v.AsBoolean() ? "1" : "0";
        case ftFloat:
            return FloatText(v.AsDouble(), rules);
        case ftCurrency:
            return DecimalText(v, rules);
        case ftBCD:
            if (rules.bcdAsFloat) return DecimalText(v, rules);
            return rtl::Format("'%s'", DecimalText(v, TTdsLiteralRules{}));
        case ftDate:
        case ftTime:
        case ftDateTime:
            return TdsDateLiteral(type, v.AsDateTime());
        case ftBytes:
        case ftVarBytes:
            return VariantToHexLiteral(v);
        case ftBlob:
            if (rules.blobAsTextHex) {
                static const char digits[] = "0123456789abcdef";
                std::string hex = "0x";
                for (unsigned char c : param.AsString()) {
                    hex += digits[c >> 4];
                    hex += digits[c & 15];
                }
                return hex;
            }
            return VariantToHexLiteral(v);
        default: {
            std::string text = param.AsString();
            while (!text.empty() && text.back() == '\0')
                text.pop_back();
            return Quoted(text);
        }
    }
}

std::string TdsStatementText(const std::string& text, const TParams* params, const TTdsLiteralRules& rules) {
    std::string sql =
        SubstituteParamLiterals(text, params, [&rules](const TParam& p) { return TdsParamLiteral(p, rules); });
    if (sql.find('\0') != std::string::npos) rtl::DatabaseError("A statement text cannot hold a zero byte");
    return sql;
}

int32_t ParseServerVersionText(const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (!IsDigit(text[i]) || (i > 0 && IsDigit(text[i - 1]))) continue;
        size_t j = i;
        int64_t major = 0;
        while (j < text.size() && IsDigit(text[j])) {
            major = std::min<int64_t>(major * 10 + (text[j] - '0'), 0xFFFF);
            ++j;
        }
        if (j + 1 >= text.size() || text[j] != '.' || !IsDigit(text[j + 1])) continue;
        int64_t minor = 0;
        for (++j; j < text.size() && IsDigit(text[j]); ++j)
            minor = std::min<int64_t>(minor * 10 + (text[j] - '0'), 0xFFFF);
        return MakeVersionNumber(int32_t(major), int32_t(minor));
    }
    return 0;
}

std::string TdsQuoted(const std::string& pattern) {
    return DoubleChar('\'', pattern);
}

std::string TdsTableConditions(TSDSchemaType kind, const std::string& pattern) {
    std::string owner;
    std::string name;
    SplitOwnerAndName(pattern, owner, name);
    if (owner == "*") owner.clear();
    if (name == "*") name.clear();
    std::string conditions;
    if (!name.empty())
        conditions += rtl::Format(HasWildcard(name) ? " and so.name like '%s'" : " and so.name = '%s'", TdsQuoted(name));
    if (!owner.empty())
        conditions +=
            rtl::Format(HasWildcard(owner) ? " and su.name like '%s'" : " and su.name = '%s'", TdsQuoted(owner));
    conditions += kind == stSysTables ? " and so.type in ('S')" : " and so.type in ('U', 'V')";
    return conditions;
}
