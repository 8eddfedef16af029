// database/drivers/SDTdsLiterals.h: what the SQL Server and Sybase drivers write into their
// statement texts, and the version numbers they read from the servers' version texts.
//
// Neither DB-Library nor Client-Library binds parameters to a plain statement, so both
// drivers write each parameter's value into the text as a Transact-SQL literal, in one pass
// over the text the user wrote (SubstituteParamLiterals): a value can never end its literal
// early or turn into SQL. The two dialects differ only in a few types, which the rules below
// carry. What must stay true:
//   - a text literal doubles its apostrophes; a statement that would hold a zero byte is
//     refused (the client libraries take zero-terminated texts, so it would be cut short);
//   - numbers come from their values (an integer parameter holding other text is refused),
//     floats are written with "." whatever the workstation's separator, and a currency keeps
//     all its digits;
//   - catalog patterns pasted into catalog queries have their apostrophes doubled.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "database/engine/SDCommon.h"
#include "database/engine/SDCommonCommand.h"
#include "rtl/DateTime.h"

// The differences between the two drivers' literals.
struct TTdsLiteralRules {
    // The text of a float (SQL Server asks DB-Library's dbconvert); nullptr: the shortest
    // round-trip text with ".".
    std::function<std::string(double)> floatText;
    // ftBlob as "0x" and the hexadecimal digits of the value's characters, "0x" for an empty
    // value (Sybase); otherwise as ftBytes ("NULL" for an empty value).
    bool blobAsTextHex = false;
    // An empty ftString or blob-type value is NULL (Sybase's "EMPTY STRING AS NULL").
    bool emptyStringAsNull = false;
    // ftBCD as a float (Sybase); otherwise as an apostrophe-quoted decimal text.
    bool bcdAsFloat = false;
};

// A date-time in the layout both clients give their datetime (DB-Library's DBDATETIME,
// Client-Library's CS_DATETIME): the days since 1 January 1900, then the 1/300-second ticks
// of the day, each 32 bits. A Pack for the slot conversions (SDCommonSlots.h); 8 bytes.
int32_t PackTdsDateTime(TFieldType fieldType, rtl::TDateTime value, uint8_t* slot, int32_t size);

// 'yyyymmdd hh:nn:ss:zzz' with the parts the type has: the date for ftDate and ftDateTime,
// the time for ftTime and ftDateTime when it is not midnight, the milliseconds when there
// are any ('' for a time of midnight).
std::string TdsDateLiteral(TFieldType fieldType, rtl::TDateTime value);
// The literal of a parameter's value ("NULL" for a null value); EDatabaseError for a value
// that has no literal of its type.
std::string TdsParamLiteral(const TParam& param, const TTdsLiteralRules& rules);
// The statement text with each ":name" (or ":\"name\"") marker replaced by its parameter's
// literal; EDatabaseError when the result would hold a zero byte.
std::string TdsStatementText(const std::string& text, const TParams* params, const TTdsLiteralRules& rules);

// The version number (MakeLong(minor, major)) of the first "major.minor" in a version text,
// wherever its digits start ("Microsoft SQL Server 2019 (RTM) - 15.0.2000.5" gives 15.0,
// "Adaptive Server Enterprise/15.7/EBF..." 15.7); 0 when the text has none.
int32_t ParseServerVersionText(const std::string& text);

// A pattern inside an apostrophe-quoted literal of a catalog query (apostrophes doubled).
std::string TdsQuoted(const std::string& pattern);
// The conditions of the table catalog queries (kinds 0 and 1): by name and owner, "=" or
// "like" by whether the part holds '%', "*" for "any", then the object types.
std::string TdsTableConditions(TSDSchemaType kind, const std::string& pattern);
