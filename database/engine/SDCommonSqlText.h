// database/engine/SDCommonSqlText.h: SQL text analysis (part of unit SDCommon).
//
// Routines that the engine and the drivers run on statement texts: recognising a SELECT and
// the single table it reads, turning ":name" markers into parameters or "?" markers,
// substituting values for markers, quoting identifiers, splitting connection and catalog
// texts, and the small SQL tokenizer they share. None raises for malformed SQL: text they
// cannot follow gives an empty or partial answer.
//
// Definitions used below: a blank is space, CR or LF; the SQL delimiters are CR, LF, space,
// "(", ")", ",", ";" and "="; the quote characters are the apostrophe and the double quote.
//
// Markers are whole words outside literals: a marker counts only outside quoted text (an
// apostrophe or double quote opens a literal that only the same character closes) and only
// when it ends at a delimiter or the end of the text, so ":id" never matches inside ":idx"
// or inside 'a :id literal'. A doubled marker ("::x") is an escaped marker, never a parameter.
//
// A parameter's name (FindParamMarkers, and through it CreateParamsFromSql, the markers the
// drivers replace and the literals they substitute) is the run of name characters after the
// marker (letters, digits, "_", "$", "#", "@" and every byte above 127), or a name in double
// quotes, which may hold anything but the quote: so ":p::int" is the parameter p before a
// cast. Inside brackets a marker right after "[" or after a digit starts no name, so an array
// slice a[1:2] or a[:2] stays as it is.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "rtl/DbParams.h"

// Kinds of token of the SQL tokenizer.
enum TSQLToken {
    stUnknown,
    stTableName,
    stFieldName,
    stValue,
    stParameter,
    stAllFields,
    stPredicate,  // operators, punctuation and the other key words
    stSelect,
    stDistinct,
    stFrom,
    stWhere,
    stGroupBy,
    stHaving,
    stUnion,
    stPlan,
    stOrderBy,
    stForUpdate,
    stEnd,
};

// One step of the tokenizer from a 1-based position, which moves past the token. The kind
// depends on the current section (the last section key word seen): names read in a FROM
// section are table names, elsewhere field names; a name followed by "(" in a SELECT section
// takes the parenthesised arguments into its token (a function call). Quoted names keep
// their quotes; a parenthesised expression in a SELECT section (a sub-query) is one field
// token; a literal in apostrophes is a value without them; a "." between two parts of
// a dotted name is skipped, so the caller reads the parts one by one. Comments (/* */ and
// -- to the end of the line) are skipped.
TSQLToken NextSqlTokenAt(const std::string& text, int& position, TSQLToken section, std::string& token);

bool IsSelectStatement(const std::string& text);
bool IsAggregateExpression(const std::string& text);
bool HasJoinClause(const std::string& text);
// The table after FROM of a single-table SELECT; "" for GROUP BY, UNION, PLAN, aggregate
// select lists and, unless AllowMultipleTables, for FROM lists and joins.
std::string GetTableNameFromSelect(const std::string& text, bool allowMultipleTables);

// One parameter marker of a statement: the offset of the marker character, the length of
// the marker and its name as written (quotes included), and the name (without quotes; ""
// for a marker that names nothing, as ":=" in some dialects).
struct TSDParamMarker {
    size_t Start = 0;
    size_t Length = 0;
    std::string Name;
};
// Every marker that starts a parameter name, in text order: outside literals, not doubled,
// not the last character, not the colon of an array slice.
std::vector<TSDParamMarker> FindParamMarkers(const std::string& text, char marker = ':');
// Whether a character can be part of an unquoted parameter name.
bool IsParamNameChar(char c);

// Appends one input parameter (data type unknown) per marker to the collection, if one is
// given. A name in quotes loses them (":\"my name\"" gives "my name").
void CreateParamsFromSql(rtl::Params* params, const std::string& text, char marker = ':');
// Each parameter's first remaining marker (":name" or ":\"name\"", case ignored) becomes "?".
std::string ReplaceParamsWithMarkers(const std::string& text, const rtl::Params& params);
// The same choice of markers, each becoming the text given for its parameter's 0-based index
// (the Oracle driver numbers them ":1", ":2", ...).
std::string ReplaceParamsWithTexts(const std::string& text, const rtl::Params& params,
                                   const std::function<std::string(int index)>& replacement);
// "{?=CALL name(?, ?)}": "?=" for a result parameter, one "?" per input, output or in-out
// parameter; the parentheses appear when there is an argument or ForceParentheses is set.
std::string BuildOdbcCallStatement(const std::string& procName, const rtl::Params* params,
                                   bool forceParentheses);
// Replaces the marker (case ignored) by the value where it is a whole marker outside
// literals; only the first one when FirstOnly. True when something was replaced.
bool ReplaceParamMarker(bool firstOnly, const std::string& marker, const std::string& value,
                        std::string& text);

std::string DoubleChar(char c, const std::string& text);
// True when the text begins with the prefix (ASCII case ignored) and is longer than it.
bool StartsWithNoCase(const std::string& text, const std::string& prefix);
// 1-based position of sub in text, both upper-cased; 0 when absent. PosNoCaseFrom searches
// from a 1-based position (below 2: the whole text).
int PosNoCase(const std::string& sub, const std::string& text);
int PosNoCaseFrom(const std::string& sub, const std::string& text, int from);

// s.t with Quote gives "s"."t"; a part that is a quoted identifier already keeps its quotes
// as they are ("S".t gives "S"."t"), so that no name is quoted twice.
std::string QuoteIdentifier(const std::string& name, bool quote);
// The content of the quoted text at the start ('a''b' gives a'b); other texts unchanged.
std::string UnquoteText(const std::string& text, char quote);
// The part after the last "." outside double quotes, as written (with its quotes when it is a
// quoted identifier).
std::string ExtractLastNamePart(const std::string& name);
// The part after the last "." outside double quotes, without its double quotes.
std::string ExtractBareName(const std::string& name);
// Without one leading and one trailing quote character.
std::string StripQuotes(const std::string& text);

std::string ExtractServerName(const std::string& remoteDatabase);
std::string ExtractDatabaseName(const std::string& remoteDatabase);
// The trimmed item from the 1-based position to the next delimiter; the position moves past
// that delimiter.
std::string ExtractListItem(const std::string& text, char delimiter, int& position);
std::string ExtractProcName(const std::string& procRef);
bool HasWildcard(const std::string& pattern);
// Splits at the first "."; an owner or name that is blank becomes "%". Always true.
bool SplitOwnerAndName(const std::string& pattern, std::string& owner, std::string& name);
std::string StripOwnerPrefix(const std::string& name, bool strip);
