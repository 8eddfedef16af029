// database/SDCommonUpdateSql.cpp: update statements and the select-list scan.
#include "database/SDCommonUpdateSql.h"

#include <array>

#include "database/SDCommonSqlText.h"
#include "database/SDCommonValues.h"
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
        while (pos_ < text_.size() && IsSeparator(text_[pos_]))
            ++pos_;
    }

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
            ++pos_;
        }
        std::string token = text_.substr(start, pos_ - start);
        while (pos_ < text_.size() && IsScanBlank(text_[pos_]))
            ++pos_;
        return token;
    }

private:
    const std::string& text_;
    size_t pos_ = 0;
};

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
            if (sc.At() == ',') {
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
        if (text.find('*') != std::string::npos) {
            for (int i = 0; i < columnNames_.Count(); ++i)
                items.Add(columnNames_[i] + "=" + columnNames_[i]);
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
        if (!name.empty() && IsScanQuote(name.front())) name.erase(0, 1);
        if (!name.empty() && IsScanQuote(name.back())) name.pop_back();
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
    for (const TSDUpdateField& f : fields) {
        if (!f.IsDataField) continue;
        const bool changed = IsChanged(f);
        const std::string bare = ExtractBareName(origins.Values(f.FieldName));
        const std::string column = QuoteIdentifier(bare, quote);
        switch (kind) {
            case mkRefresh:
                selectList.push_back(bare != f.FieldName ? column + " as " + f.FieldName : column);
                break;
            case mkModify:
                if (changed)
                    setList.push_back(f.NewValue.IsNull()
                                          ? rtl::Format("%s%s = NULL", "  ", column)
                                          : rtl::Format("%s%s = :%s", "  ", column, f.FieldName));
                break;
            case mkInsert:
                // Naming it with NULL would refuse the row (a not-null key) or defeat the
                // server's own value.
                if (f.IsAutoInc && f.NewValue.IsNull()) break;
                columnList.push_back(column);
                valueList.push_back(f.NewValue.IsNull() ? std::string("NULL") : ":" + f.FieldName);
                break;
            case mkDelete:
                break;
        }
        if (kind != mkInsert && !f.IsBlob &&
            (mode == rtl::upWhereAll || (mode == rtl::upWhereChanged && (changed || kind == mkRefresh)) ||
             f.IsIndexField)) {
            conditions.push_back(f.OldValue.IsNull()
                                     ? rtl::Format("%s%s is NULL", "  ", column)
                                     : rtl::Format("%s%s = :OLD_%s", "  ", column, f.FieldName));
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
            return rtl::Format("insert into %s (%s) values(%s)", table, Join(columnList, ", "),
                               Join(valueList, ", "));
        case mkDelete:
            if (where.empty())
                rtl::DatabaseErrorFmt("No field identifies the record to delete in table '%s'", tableName);
            return rtl::Format("delete from %s %s", table, where);
    }
    return "";
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
        std::string table;
        std::string column;
        const size_t dot = expression.rfind('.');
        if (dot != std::string::npos) {
            const std::string prefix = expression.substr(0, dot);
            const int alias = tableList.IndexOfName(prefix);
            table = alias >= 0 ? tableList.ValueFromIndex(alias) : prefix;
            column = UnquoteText(expression.substr(dot + 1), '"');
        } else {
            table = tableList.Count() > 0 ? tableList.ValueFromIndex(0) : std::string();
            column = expression;
        }
        origins.Add(name + "=" + rtl::Format("%s.%s", table, column));
    }
    tables.AddStrings(tableList);
}
