// database/engine/SDCommonUpdateSql.cpp: update statements and the select-list scan.
#include "database/engine/SDCommonUpdateSql.h"

#include <array>
#include <cctype>
#include <string_view>

#include "database/engine/SDCommonSqlText.h"
#include "database/engine/SDCommonValues.h"
#include "rtl/Assert.h"
#include "rtl/DatabaseError.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

namespace {

// ---------------------------------------------------------------------------------------------
// Generator

std::string Join(const std::vector<std::string>& items, const char* sep) {
    std::string out;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i > 0) out += sep;
        out += items[i];
    }
    return out;
}

// The marker of a field's parameter: ":NAME", or ":\"NAME\"" for a name holding a character
// that cannot be in a marker's name (a blank, "-", "."), which would end it early.
std::string Marker(const char* prefix, const std::string& fieldName) {
    for (char c : fieldName)
        if (!IsParamNameChar(c)) return ":\"" + std::string(prefix) + fieldName + "\"";
    return ":" + std::string(prefix) + fieldName;
}

bool IsChanged(const TSDUpdateField& f) {
    if (f.IsBlob) return f.Modified || f.NewValue != f.OldValue;
    return !SameVariantValues(f.NewValue, f.OldValue, false, false, true);
}

// ---------------------------------------------------------------------------------------------
// Select-list scan. Only characters 0..63 belong to the sets below.

bool IsSeparator(char c) {
    return c == 0 || c == '\n' || c == '\r' || c == ' ' || c == ')' || c == ',' || c == ';';
}
bool IsNameEnd(char c) {
    return IsSeparator(c) || c == '=';
}
bool IsScanBlank(char c) {
    return c == '\n' || c == '\r' || c == ' ';
}
bool IsScanQuote(char c) {
    return c == '\'' || c == '"' || c == '`';
}

const std::array<const char*, 9> kSectionWords = {"SELECT", "ALL",   "DISTINCT", "FROM", "WHERE",
                                                  "ORDER",  "GROUP", "HAVING",   "UNION"};
const std::array<const char*, 7> kJoinWords = {"JOIN", "ON", "LEFT", "RIGHT", "INNER", "OUTER", "FULL"};

template <size_t N>
bool IsWordOf(const std::array<const char*, N>& words, const std::string& token) {
    for (const char* w : words)
        if (rtl::SameText(token, w)) return true;
    return false;
}

// A reading position over a text (0-based here), with the scan's token reader.
class Scanner {
public:
    explicit Scanner(const std::string& text) : text_(text) {}

    bool InText() const { return pos_ < text_.size(); }
    char At() const { return pos_ < text_.size() ? text_[pos_] : char(0); }
    size_t Pos() const { return pos_; }
    void SetPos(size_t p) { pos_ = p; }
    std::string Rest() const { return pos_ < text_.size() ? text_.substr(pos_) : std::string(); }

    void SkipSeparators() {
        while (pos_ < text_.size() && IsSeparator(text_[pos_])) {
            if (text_[pos_] == ')') Close();
            ++pos_;
        }
    }

    // Closing parentheses and blanks after a token, so that a "," after a call's ")" is seen.
    void SkipClosing() {
        while (pos_ < text_.size() && (text_[pos_] == ')' || IsScanBlank(text_[pos_]))) {
            if (text_[pos_] == ')') Close();
            ++pos_;
        }
    }

    // Parentheses opened by the tokens read and not closed yet (never below 0).
    int Depth() const { return depth_; }

    // Characters up to a separator outside quotes (any quote character toggles the state),
    // then the blanks after the token.
    std::string ReadToken() {
        const size_t start = pos_;
        bool inQuotes = false;
        while (pos_ < text_.size()) {
            const char c = text_[pos_];
            if (IsScanQuote(c))
                inQuotes = !inQuotes;
            else if (!inQuotes && IsSeparator(c))
                break;
            else if (!inQuotes && c == '(')
                ++depth_;
            ++pos_;
        }
        std::string token = text_.substr(start, pos_ - start);
        while (pos_ < text_.size() && IsScanBlank(text_[pos_]))
            ++pos_;
        return token;
    }

private:
    void Close() {
        if (depth_ > 0) --depth_;
    }

    const std::string& text_;
    size_t pos_ = 0;
    int depth_ = 0;
};

// A name part: a quoted identifier, or a letter (or "_", or any byte above 127) followed by
// letters, digits, "_", "$" and "#".
bool IsNamePart(std::string_view part) {
    if (part.size() >= 2 && (part.front() == '"' || part.front() == '`') && part.back() == part.front())
        return true;
    if (part.empty()) return false;
    auto letter = [](unsigned char c) { return std::isalpha(c) || c == '_' || c >= 0x80; };
    if (!letter(static_cast<unsigned char>(part.front()))) return false;
    for (char c : part) {
        const auto u = static_cast<unsigned char>(c);
        if (!letter(u) && !std::isdigit(u) && c != '$' && c != '#') return false;
    }
    return true;
}

// A column reference: name parts joined by dots (outside quotes).
bool IsColumnReference(std::string_view text) {
    size_t start = 0;
    char quote = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        const char c = i < text.size() ? text[i] : '.';
        if (quote != 0) {
            if (c == quote) quote = 0;
        } else if (c == '"' || c == '`') {
            quote = c;
        } else if (c == '.') {
            if (!IsNamePart(text.substr(start, i - start))) return false;
            start = i + 1;
        }
    }
    return quote == 0;
}

// The tokens of a select item, read as the scan reads them.
std::vector<std::string> ItemTokens(const std::string& item) {
    std::vector<std::string> tokens;
    Scanner sc(item);
    while (sc.InText()) {
        sc.SkipSeparators();
        std::string token = sc.ReadToken();
        if (token.empty()) break;
        tokens.push_back(std::move(token));
    }
    return tokens;
}

// Whether a select item names a column ("t.col", "col alias", "col AS alias", "alias = col")
// rather than computing a value. The scan drops ")" with the other separators, so "f(x) y"
// arrives as "f(x y": the "(" still marks the call.
bool IsColumnItem(const std::vector<std::string>& t) {
    if (t.size() == 1) {
        const size_t eq = t[0].find('=');
        if (eq == std::string::npos) return IsColumnReference(t[0]);
        return IsNamePart(t[0].substr(0, eq)) && IsColumnReference(t[0].substr(eq + 1));
    }
    if (t.size() == 2) {
        if (t[0].back() == '=') return IsNamePart(t[0].substr(0, t[0].size() - 1)) && IsColumnReference(t[1]);
        if (t[1].front() == '=') return IsNamePart(t[0]) && IsColumnReference(t[1].substr(1));
        return IsColumnReference(t[0]) && IsNamePart(t[1]) && !rtl::SameText(t[1], "AS");
    }
    if (t.size() == 3) {
        if (t[1] == "=") return IsNamePart(t[0]) && IsColumnReference(t[2]);
        return rtl::SameText(t[1], "AS") && IsColumnReference(t[0]) && IsNamePart(t[2]);
    }
    return false;
}

// The name a computed item goes by: what follows its last AS, else a last name that follows an
// operand (not an operator); "" when it has none the scan can tell.
std::string ExpressionName(const std::vector<std::string>& t) {
    const size_t n = t.size();
    if (n >= 2 && rtl::SameText(t[n - 2], "AS") && IsNamePart(t[n - 1])) return t[n - 1];
    if (n >= 2 && IsNamePart(t[n - 1]) && !rtl::SameText(t[n - 1], "END")) {
        const unsigned char before = static_cast<unsigned char>(t[n - 2].back());
        if (std::isalnum(before) || before == '"' || before == '\'' || before == '`' || before == '_' ||
            before >= 0x80)
            return t[n - 1];
    }
    return "";
}

class SelectAnalysis {
public:
    SelectAnalysis(const rtl::StringList& columnNames, rtl::StringList& tables)
        : columnNames_(columnNames), tables_(tables) {}

    rtl::StringList items;

    // The select list; answers the section word that ended it, or "".
    std::string ReadSelectList(Scanner& sc) {
        std::string item;
        std::string last;
        while (sc.InText()) {
            sc.SkipSeparators();
            const std::string token = sc.ReadToken();
            if (token.empty()) break;
            if (IsWordOf(kSectionWords, token)) {
                if (rtl::SameText(token, "ALL") || rtl::SameText(token, "DISTINCT")) continue;
                last = token;
                break;
            }
            if (!item.empty() && token != ".") item += ' ';
            item += token;
            // A "," inside a call's parentheses belongs to the call, not between two items.
            sc.SkipClosing();
            if (sc.At() == ',' && sc.Depth() == 0) {
                CompleteItem(item);
                item.clear();
            }
        }
        if (!item.empty()) CompleteItem(item);
        return last;
    }

    // The FROM list; answers the section word that ended it, else the last token read.
    std::string ReadFromList(Scanner& sc) {
        std::string item;
        std::string last;
        bool inCondition = false;
        while (sc.InText()) {
            sc.SkipSeparators();
            const std::string token = sc.ReadToken();
            if (token.empty()) break;
            last = token;
            if (IsWordOf(kSectionWords, token)) break;
            const bool joinWord = IsWordOf(kJoinWords, token);
            if (!joinWord) {
                if (!item.empty()) item += ' ';
                item += token;
            }
            if (sc.At() == ',' || joinWord) {
                if (!item.empty() && !inCondition) AddTable(item);
                item.clear();
                inCondition = joinWord && rtl::SameText(token, "ON");
            }
        }
        if (!item.empty() && !inCondition) AddTable(item);
        return last;
    }

private:
    void CompleteItem(const std::string& text) {
        const std::vector<std::string> tokens = ItemTokens(text);
        const bool star = tokens.size() == 1 && (tokens[0] == "*" || tokens[0].ends_with(".*"));
        if (star) {
            for (int i = 0; i < columnNames_.Count(); ++i)
                items.Add(columnNames_[i] + "=" + columnNames_[i]);
            return;
        }
        if (!IsColumnItem(tokens)) {
            // A computed value comes from no column. Its name is kept (with an empty
            // expression, which gives no origin) so that a column of the same name after it is
            // told apart as the server tells it apart.
            const std::string name = ExpressionName(tokens);
            if (!name.empty()) AddItem(StripQuotes(name), "");
            return;
        }
        Scanner sc(text);
        size_t end = 0;
        while (end < text.size() && !IsNameEnd(text[end]))
            ++end;
        std::string expression = text.substr(0, end);
        std::string name;
        if (end >= text.size()) {
            name = expression;
        } else {
            sc.SetPos(end);
            sc.SkipSeparators();
            if (sc.At() == '=') {
                sc.SetPos(sc.Pos() + 1);
                sc.SkipSeparators();
                name = expression;
                expression = sc.ReadToken();
            } else {
                name = sc.ReadToken();
                if (rtl::SameText(name, "AS")) {
                    sc.SkipSeparators();
                    name = sc.ReadToken();
                }
            }
        }
        const size_t dot = name.rfind('.');
        if (dot != std::string::npos) name = name.substr(dot + 1);
        AddItem(StripQuotes(name), expression);
    }

    // One quote character removed at each end of the name; a name already taken gets the
    // first free "_1", "_2" ... suffix.
    static std::string StripQuotes(std::string name) {
        if (!name.empty() && IsScanQuote(name.front())) name.erase(0, 1);
        if (!name.empty() && IsScanQuote(name.back())) name.pop_back();
        return name;
    }

    void AddItem(const std::string& name, const std::string& expression) {
        std::string unique = name;
        for (int k = 1; items.IndexOfName(unique) >= 0; ++k)
            unique = rtl::Format("%s_%d", name, k);
        items.Add(unique + "=" + expression);
    }

    void AddTable(const std::string& item) {
        size_t end = 0;
        while (end < item.size() && !IsSeparator(item[end]))
            ++end;
        const std::string table = item.substr(0, end);
        size_t rest = end;
        while (rest < item.size() && IsSeparator(item[rest]))
            ++rest;
        const std::string alias = rest < item.size() ? item.substr(rest) : table;
        const std::string key = rtl::UpperCase(alias);
        const int existing = tables_.IndexOfName(key);
        if (existing >= 0)
            tables_.Set(existing, key + "=" + table);
        else
            tables_.Add(key + "=" + table);
    }

    const rtl::StringList& columnNames_;
    rtl::StringList& tables_;
};

}  // namespace

std::string GenerateModifySql(TSDModifyKind kind, rtl::TUpdateMode mode, const std::string& tableName,
                              bool quote, const std::vector<TSDUpdateField>& fields,
                              const rtl::StringList& origins) {
    std::vector<std::string> selectList;
    std::vector<std::string> setList;
    std::vector<std::string> columnList;
    std::vector<std::string> valueList;
    std::vector<std::string> conditions;
    std::vector<std::string> unassigned;
    for (const TSDUpdateField& f : fields) {
        if (!f.IsDataField) continue;
        const bool changed = IsChanged(f);
        const std::string origin = origins.Values(f.FieldName);
        if (origin.empty()) {
            // A computed select item (or a column the scan could not follow) names no column:
            // it is neither written nor compared. A value given to it could not reach the
            // server, and is refused rather than silently dropped.
            if ((kind == mkModify && changed) || (kind == mkInsert && !f.NewValue.IsNull()))
                rtl::DatabaseErrorFmt("Campo '%s' não pode ser modificado", f.FieldName);
            continue;
        }
        // A column the select list names as a quoted identifier keeps its quotes, once.
        const std::string bare = ExtractBareName(origin);
        const std::string column = QuoteIdentifier(ExtractLastNamePart(origin), quote);
        switch (kind) {
            case mkRefresh:
                selectList.push_back(bare != f.FieldName ? column + " as " + f.FieldName : column);
                break;
            case mkModify:
                if (changed)
                    setList.push_back(f.NewValue.IsNull()
                                          ? rtl::Format("%s%s = NULL", "  ", column)
                                          : rtl::Format("%s%s = %s", "  ", column, Marker("", f.FieldName)));
                break;
            case mkInsert:
                // A null that the record never assigned (or any null of a column the server
                // fills) stays out: naming it with NULL would refuse the row (a not-null key)
                // or replace the column's default. One assigned NULL is written.
                if (f.NewValue.IsNull() && (f.IsAutoInc || !f.Modified)) {
                    if (!f.IsAutoInc) unassigned.push_back(column);
                    break;
                }
                columnList.push_back(column);
                valueList.push_back(f.NewValue.IsNull() ? std::string("NULL") : Marker("", f.FieldName));
                break;
            case mkDelete:
                break;
        }
        if (kind != mkInsert && !f.IsBlob &&
            (mode == rtl::upWhereAll || (mode == rtl::upWhereChanged && (changed || kind == mkRefresh)) ||
             f.IsIndexField)) {
            if (f.OldValue.IsNull())
                conditions.push_back(rtl::Format("%s%s is NULL", "  ", column));
            else if (f.OldValueCondition && mode != rtl::upWhereKeyOnly)
                conditions.push_back("  " + f.OldValueCondition(column, Marker("OLD_", f.FieldName)));
            else
                conditions.push_back(rtl::Format("%s%s = %s", "  ", column, Marker("OLD_", f.FieldName)));
        }
    }
    const std::string table = QuoteIdentifier(tableName, quote);
    const std::string where = conditions.empty() ? std::string() : "where " + Join(conditions, " and");
    switch (kind) {
        case mkRefresh:
            if (where.empty()) return "";
            return rtl::Format("select %s from %s", Join(selectList, ", "), table) + " " + where;
        case mkModify:
            if (setList.empty()) return "";
            if (where.empty())
                rtl::DatabaseErrorFmt("No field identifies the record to update in table '%s'", tableName);
            return rtl::Format("update %s set %s %s", table, Join(setList, ", "), where);
        case mkInsert:
            // Nothing assigned at all: the columns are named with NULL, since servers differ
            // in how they take a row of defaults only.
            if (columnList.empty())
                for (const std::string& column : unassigned) {
                    columnList.push_back(column);
                    valueList.push_back("NULL");
                }
            return rtl::Format("insert into %s (%s) values(%s)", table, Join(columnList, ", "),
                               Join(valueList, ", "));
        case mkDelete:
            if (where.empty())
                rtl::DatabaseErrorFmt("No field identifies the record to delete in table '%s'", tableName);
            return rtl::Format("delete from %s %s", table, where);
    }
    return "";
}

std::string PostgresOldValueCondition(rtl::TFieldType type, TSDHeldAs heldAs, const std::string& column,
                                      const std::string& marker) {
    switch (heldAs) {
        case TSDHeldAs::Milliseconds:
        case TSDHeldAs::Seconds: {
            const char* unit = heldAs == TSDHeldAs::Milliseconds ? "'milliseconds'" : "'second'";
            // date_trunc takes time stamps and intervals; a time of day goes through an interval.
            if (type == rtl::ftTime)
                return "CAST(date_trunc(" + std::string(unit) + ", CAST(" + column +
                       " AS interval)) AS time) = " + marker;
            return "date_trunc(" + std::string(unit) + ", " + column + ") = " + marker;
        }
        case TSDHeldAs::SingleAsDouble:
            return column + " = CAST(" + marker + " AS real)";
        case TSDHeldAs::NumericAsDouble:
            return "CAST(" + column + " AS double precision) = " + marker;
        case TSDHeldAs::Exact:
            break;
    }
    return column + " = " + marker;
}

void AnalyseSelectText(const std::string& text, const rtl::StringList& columnNames, rtl::StringList& origins,
                       rtl::StringList& tables) {
    rtl::Assert(columnNames.Count() > 0, "AnalyseSelectText: no result column names");
    origins.Clear();
    tables.Clear();
    rtl::StringList tableList;
    SelectAnalysis analysis(columnNames, tableList);

    Scanner sc(text);
    while (sc.InText()) {
        sc.SkipSeparators();
        std::string token = sc.ReadToken();
        if (rtl::SameText(token, "BY")) break;
        if (rtl::SameText(token, "SELECT")) {
            const std::string last = analysis.ReadSelectList(sc);
            if (!last.empty()) token = last;
        }
        if (rtl::SameText(token, "FROM")) analysis.ReadFromList(sc);
    }

    for (int i = 0; i < columnNames.Count(); ++i) {
        const std::string& name = columnNames[i];
        const int item = analysis.items.IndexOfName(name);
        if (item < 0) continue;
        const std::string expression = analysis.items.ValueFromIndex(item);
        if (expression.empty()) continue;  // a computed value
        std::string table;
        std::string column;
        // The column keeps the quotes of a quoted identifier: the server tells "Name" from
        // name, and the generated statements must name it as the select list does.
        const std::string last = ExtractLastNamePart(expression);
        if (last.size() < expression.size()) {
            const std::string prefix = expression.substr(0, expression.size() - last.size() - 1);
            const int alias = tableList.IndexOfName(prefix);
            table = alias >= 0 ? tableList.ValueFromIndex(alias) : prefix;
            column = last;
        } else {
            table = tableList.Count() > 0 ? tableList.ValueFromIndex(0) : std::string();
            column = expression;
        }
        origins.Add(name + "=" + rtl::Format("%s.%s", table, column));
    }
    tables.AddStrings(tableList);
}
