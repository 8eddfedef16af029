// database/engine/SDCommonSqlText.cpp: SQL text analysis and the SQL tokenizer.
#include "database/engine/SDCommonSqlText.h"

#include <algorithm>
#include <array>
#include <vector>

#include "rtl/Format.h"
#include "rtl/Text.h"

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\r' || c == '\n';
}

// Only characters 8..63 are tested; a zero character is not a delimiter.
bool IsSqlDelimiter(char c) {
    switch (c) {
        case '\r':
        case '\n':
        case ' ':
        case '(':
        case ')':
        case ',':
        case ';':
        case '=':
            return true;
        default:
            return false;
    }
}

bool IsQuote(char c) {
    return c == '\'' || c == '"';
}

char AsciiUpperChar(char c) {
    return (c >= 'a' && c <= 'z') ? char(c - 32) : c;
}

std::string AsciiUpper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = AsciiUpperChar(c);
    return out;
}

// ---------------------------------------------------------------------------------------------
// Markers outside literals

}  // namespace

bool IsParamNameChar(char c) {
    return static_cast<unsigned char>(c) >= 0x80 || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
           (c >= '0' && c <= '9') || c == '_' || c == '$' || c == '#' || c == '@';
}

std::vector<TSDParamMarker> FindParamMarkers(const std::string& text, char marker) {
    enum class State { Plain, InQuote };
    std::vector<TSDParamMarker> out;
    State state = State::Plain;
    char quote = 0;
    int brackets = 0;  // depth of "[" outside literals
    size_t i = 0;
    const size_t n = text.size();
    while (i < n && text[i] != 0) {
        const char c = text[i];
        switch (state) {
            case State::InQuote:
                if (c == quote) state = State::Plain;
                ++i;
                break;
            case State::Plain:
                if (c == marker && i + 1 < n) {
                    if (text[i + 1] == marker) {  // escaped marker: stands for itself
                        i += 2;
                        break;
                    }
                    // The colon of an array slice: a[1:2], a[:2].
                    const char before = i > 0 ? text[i - 1] : char(0);
                    if (brackets > 0 && (before == '[' || (before >= '0' && before <= '9'))) {
                        ++i;
                        break;
                    }
                    size_t j = i + 1;
                    std::string name;
                    if (IsQuote(text[j])) {
                        // A quoted name runs to its closing quote; an unclosed one opens a literal.
                        const size_t close = text.find(text[j], j + 1);
                        if (close == std::string::npos) {
                            state = State::InQuote;
                            quote = text[j];
                            i = j + 1;
                            break;
                        }
                        name = text.substr(j + 1, close - j - 1);
                        j = close + 1;
                    } else {
                        while (j < n && IsParamNameChar(text[j]))
                            ++j;
                        name = text.substr(i + 1, j - i - 1);
                    }
                    out.push_back({i, j - i, std::move(name)});
                    i = j;
                    break;
                }
                if (IsQuote(c)) {
                    state = State::InQuote;
                    quote = c;
                } else if (c == '[') {
                    ++brackets;
                } else if (c == ']' && brackets > 0) {
                    --brackets;
                }
                ++i;
                break;
        }
    }
    return out;
}

namespace {

// Offsets of the characters of the text that lie outside literals (an apostrophe or double
// quote opens a literal that the same character closes).
std::vector<bool> OutsideLiterals(const std::string& text) {
    std::vector<bool> outside(text.size(), true);
    char quote = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quote != 0) {
            outside[i] = false;
            if (c == quote) quote = 0;
        } else if (IsQuote(c)) {
            outside[i] = false;
            quote = c;
        }
    }
    return outside;
}

// ---------------------------------------------------------------------------------------------
// Tokenizer

bool IsNameStart(char c) {
    const auto u = static_cast<unsigned char>(c);
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == '$' || c == '#' || c == '@' ||
           u >= 0x80;
}

bool IsNameChar(char c) {
    return IsNameStart(c) || (c >= '0' && c <= '9');
}
bool IsDigitChar(char c) {
    return c >= '0' && c <= '9';
}

// A text cursor for the tokenizer: every read checks the end.
class Cursor {
public:
    Cursor(const std::string& text, size_t pos) : text_(&text), pos_(pos) {}
    bool AtEnd() const { return pos_ >= text_->size() || (*text_)[pos_] == 0; }
    char Peek(size_t ahead = 0) const {
        return pos_ + ahead < text_->size() ? (*text_)[pos_ + ahead] : char(0);
    }
    void Advance(size_t n = 1) { pos_ = std::min(pos_ + n, text_->size()); }
    size_t Pos() const { return pos_; }
    std::string From(size_t start) const { return text_->substr(start, pos_ - start); }

    // Blanks, control characters and comments.
    void SkipSpace() {
        for (;;) {
            while (!AtEnd() && static_cast<unsigned char>(Peek()) <= ' ')
                Advance();
            if (Peek() == '/' && Peek(1) == '*') {
                Advance(2);
                while (!AtEnd() && !(Peek() == '*' && Peek(1) == '/'))
                    Advance();
                Advance(2);
            } else if (Peek() == '-' && Peek(1) == '-') {
                while (!AtEnd() && Peek() != '\n')
                    Advance();
            } else {
                return;
            }
        }
    }

    // A quoted run from the opening character to the matching close (doubled closers stay
    // inside); the cursor ends after it.
    void SkipQuoted(char close) {
        Advance();
        while (!AtEnd()) {
            if (Peek() == close) {
                if (Peek(1) == close) {
                    Advance(2);
                    continue;
                }
                Advance();
                return;
            }
            Advance();
        }
    }

    // A balanced parenthesised run (literals respected); the cursor ends after it.
    void SkipParenthesised() {
        int depth = 0;
        while (!AtEnd()) {
            const char c = Peek();
            if (c == '\'' || c == '"') {
                SkipQuoted(c);
                continue;
            }
            Advance();
            if (c == '(')
                ++depth;
            else if (c == ')' && --depth == 0)
                return;
        }
    }

    std::string ReadWord() {
        const size_t start = pos_;
        while (!AtEnd() && IsNameChar(Peek()))
            Advance();
        return From(start);
    }

    // The next word after blanks, without moving.
    std::string PeekWord() const {
        Cursor c = *this;
        c.SkipSpace();
        return c.ReadWord();
    }

private:
    const std::string* text_;
    size_t pos_;
};

TSQLToken SectionOfWord(const std::string& upper, Cursor& cur) {
    if (upper == "SELECT") return stSelect;
    if (upper == "FROM") return stFrom;
    if (upper == "WHERE") return stWhere;
    if (upper == "HAVING") return stHaving;
    if (upper == "UNION") return stUnion;
    if (upper == "PLAN") return stPlan;
    if (upper == "DISTINCT") return stDistinct;
    auto twoWords = [&](const char* second, TSQLToken kind) {
        if (AsciiUpper(cur.PeekWord()) != second) return stUnknown;
        cur.SkipSpace();
        cur.ReadWord();
        return kind;
    };
    if (upper == "GROUP") return twoWords("BY", stGroupBy);
    if (upper == "ORDER") return twoWords("BY", stOrderBy);
    if (upper == "FOR") return twoWords("UPDATE", stForUpdate);
    return stUnknown;
}

bool IsKeyWord(const std::string& upper) {
    static constexpr std::array<const char*, 26> kWords = {
        "AND", "OR",   "NOT",    "LIKE",  "IS",    "NULL",  "IN",   "BETWEEN", "AS",
        "ON",  "JOIN", "LEFT",   "RIGHT", "INNER", "OUTER", "FULL", "CROSS",   "ALL",
        "ASC", "DESC", "EXISTS", "ANY",   "SOME",  "CASE",  "WHEN", "ESCAPE"};
    return std::find(kWords.begin(), kWords.end(), upper) != kWords.end();
}

bool IsSectionKeyword(TSQLToken t) {
    switch (t) {
        case stSelect:
        case stFrom:
        case stWhere:
        case stGroupBy:
        case stHaving:
        case stUnion:
        case stPlan:
        case stOrderBy:
        case stForUpdate:
            return true;
        default:
            return false;
    }
}

}  // namespace

TSQLToken NextSqlTokenAt(const std::string& text, int& position, TSQLToken section, std::string& token) {
    token.clear();
    Cursor cur(text, position < 1 ? 0 : size_t(position - 1));
    cur.SkipSpace();
    // A "." that joins two parts of a dotted name is not a token of its own.
    if (cur.Peek() == '.' &&
        (IsNameStart(cur.Peek(1)) || cur.Peek(1) == '"' || cur.Peek(1) == '`' || cur.Peek(1) == '[')) {
        cur.Advance();
    }
    auto done = [&](TSQLToken kind) {
        position = int(cur.Pos()) + 1;
        return kind;
    };
    if (cur.AtEnd()) return done(stEnd);

    const size_t start = cur.Pos();
    const char c = cur.Peek();
    const TSQLToken nameKind = section == stFrom ? stTableName : stFieldName;
    if (c == '\'') {
        cur.SkipQuoted('\'');
        token = UnquoteText(cur.From(start), '\'');
        return done(stValue);
    }
    if (c == '"' || c == '`' || c == '[') {
        cur.SkipQuoted(c == '[' ? ']' : c);
        token = cur.From(start);
        return done(nameKind);
    }
    if (c == ':' && IsNameChar(cur.Peek(1))) {
        cur.Advance();
        cur.ReadWord();
        token = cur.From(start);
        return done(stParameter);
    }
    if (IsDigitChar(c) || (c == '.' && IsDigitChar(cur.Peek(1)))) {
        while (!cur.AtEnd() && (IsDigitChar(cur.Peek()) || cur.Peek() == '.'))
            cur.Advance();
        if ((cur.Peek() == 'e' || cur.Peek() == 'E') &&
            (IsDigitChar(cur.Peek(1)) ||
             ((cur.Peek(1) == '-' || cur.Peek(1) == '+') && IsDigitChar(cur.Peek(2))))) {
            cur.Advance(2);
            while (IsDigitChar(cur.Peek()))
                cur.Advance();
        }
        token = cur.From(start);
        return done(stValue);
    }
    if (IsNameStart(c)) {
        const std::string word = cur.ReadWord();
        const std::string upper = AsciiUpper(word);
        const TSQLToken kind = SectionOfWord(upper, cur);
        if (kind != stUnknown) {
            token = cur.From(start);
            return done(kind);
        }
        if (IsKeyWord(upper)) {
            token = word;
            return done(stPredicate);
        }
        if (section == stSelect) {
            Cursor look = cur;
            look.SkipSpace();
            if (look.Peek() == '(') {
                cur = look;
                cur.SkipParenthesised();
            }
        }
        token = cur.From(start);
        return done(nameKind);
    }
    if (c == '(' && section == stSelect) {
        // A parenthesised expression of the select list (a sub-query among them) is one
        // token, so that its words never count as the statement's own.
        cur.SkipParenthesised();
        token = cur.From(start);
        return done(stFieldName);
    }
    if (c == '*') {
        cur.Advance();
        token = "*";
        return done(section == stSelect ? stAllFields : stPredicate);
    }
    // Operators and punctuation; two-character operators stay together.
    cur.Advance();
    const char d = cur.Peek();
    if ((c == '<' && (d == '=' || d == '>')) || (c == '>' && d == '=') || (c == '!' && d == '=') ||
        (c == '|' && d == '|'))
        cur.Advance();
    token = cur.From(start);
    return done(stPredicate);
}

bool IsSelectStatement(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    if (text.size() - i < 7) return false;
    return AsciiUpper(text.substr(i, 6)) == "SELECT" && IsBlank(text[i + 6]);
}

bool IsAggregateExpression(const std::string& text) {
    const std::string upper = rtl::UpperCase(text);
    const size_t paren = upper.find('(');
    if (paren == std::string::npos) return false;
    const std::string head = rtl::Trim(upper.substr(0, paren));
    for (const char* name : {"AVG", "COUNT", "MAX", "STDDEV", "SUM"})
        if (head.rfind(name, 0) == 0) return true;
    return false;
}

bool HasJoinClause(const std::string& text) {
    const std::string upper = rtl::UpperCase(text);
    for (const char* phrase : {"LEFT JOIN", "RIGHT JOIN", "INNER JOIN", "OUTER JOIN", "JOIN"}) {
        const size_t p = upper.find(phrase);
        if (p == std::string::npos) continue;
        const size_t after = p + std::string_view(phrase).size();
        return after < upper.size() && IsSqlDelimiter(upper[after]);
    }
    return false;
}

std::string GetTableNameFromSelect(const std::string& text, bool allowMultipleTables) {
    if (!IsSelectStatement(text)) return "";
    int pos = 1;
    TSQLToken section = stUnknown;
    TSQLToken kind;
    std::string token;
    for (;;) {
        kind = NextSqlTokenAt(text, pos, section, token);
        if (IsSectionKeyword(kind)) section = kind;
        if (kind == stGroupBy || kind == stUnion || kind == stPlan || kind == stFrom || kind == stEnd) break;
        if (kind == stFieldName && section == stSelect && IsAggregateExpression(token)) break;
    }
    if (kind != stFrom) return "";

    bool firstTable = true;
    std::string name;
    for (;;) {
        kind = NextSqlTokenAt(text, pos, section, token);
        if (IsSectionKeyword(kind) && kind != stFrom && section == stFrom) firstTable = false;
        if (IsSectionKeyword(kind)) section = kind;
        if (kind == stGroupBy || kind == stUnion || kind == stPlan) return "";
        if (kind == stEnd) return rtl::Trim(name);
        if ((kind == stTableName || kind == stValue) && section == stFrom && firstTable) {
            if (name.empty()) {
                name = token;
                while (size_t(pos) <= text.size() && text[size_t(pos) - 1] == '.') {
                    std::string part;
                    NextSqlTokenAt(text, pos, section, part);
                    name += "." + part;
                }
            }
            const std::string rest =
                size_t(pos) <= text.size() ? text.substr(size_t(pos) - 1) : std::string();
            size_t r = 0;
            while (r < rest.size() && IsBlank(rest[r]))
                ++r;
            if ((r < rest.size() && rest[r] == ',') || HasJoinClause(rest))
                return allowMultipleTables ? rtl::Trim(name) : std::string();
        }
    }
}

void CreateParamsFromSql(rtl::Params* params, const std::string& text, char marker) {
    for (const TSDParamMarker& m : FindParamMarkers(text, marker)) {
        // A marker right before a delimiter names nothing (":=" in some dialects).
        if (m.Name.empty() || params == nullptr) continue;
        params->CreateParam(rtl::ftUnknown, m.Name, rtl::ptInput);
    }
}

std::string ReplaceParamsWithMarkers(const std::string& text, const rtl::Params& params) {
    return ReplaceParamsWithTexts(text, params, [](int) { return std::string("?"); });
}

std::string ReplaceParamsWithTexts(const std::string& text, const rtl::Params& params,
                                   const std::function<std::string(int index)>& replacement) {
    const std::vector<TSDParamMarker> markers = FindParamMarkers(text, ':');
    std::vector<int> owner(markers.size(), -1);
    for (int i = 0; i < params.Count(); ++i) {
        const std::string& name = params[i].Name();
        for (size_t k = 0; k < markers.size(); ++k) {
            if (owner[k] >= 0 || !rtl::SameText(markers[k].Name, name)) continue;
            owner[k] = i;
            break;
        }
    }
    std::string out;
    size_t from = 0;
    for (size_t k = 0; k < markers.size(); ++k) {
        if (owner[k] < 0) continue;
        out.append(text, from, markers[k].Start - from);
        out += replacement(owner[k]);
        from = markers[k].Start + markers[k].Length;
    }
    out.append(text, from, std::string::npos);
    return out;
}

std::string BuildOdbcCallStatement(const std::string& procName, const rtl::Params* params,
                                   bool forceParentheses) {
    std::string result;
    std::string args;
    if (params != nullptr) {
        for (int i = 0; i < params->Count(); ++i) {
            switch ((*params)[i].ParamType()) {
                case rtl::ptResult:
                    result = "?=";
                    break;
                case rtl::ptInput:
                case rtl::ptOutput:
                case rtl::ptInputOutput:
                    args += args.empty() ? "?" : ", ?";
                    break;
                default:
                    break;
            }
        }
    }
    if (!args.empty() || forceParentheses) args = "(" + args + ")";
    return rtl::Format("{%sCALL %s%s}", result, procName, args);
}

bool ReplaceParamMarker(bool firstOnly, const std::string& marker, const std::string& value,
                        std::string& text) {
    if (marker.empty()) return false;
    bool replaced = false;
    int from = 1;
    for (;;) {
        const int p = PosNoCaseFrom(marker, text, from);
        if (p == 0) break;
        const size_t start = size_t(p - 1);
        const size_t end = start + marker.size();
        const std::vector<bool> outside = OutsideLiterals(text);
        const bool whole = end >= text.size() || IsSqlDelimiter(text[end]);
        const bool escaped = start > 0 && marker[0] == ':' && text[start - 1] == ':';
        if (!whole || !outside[start] || escaped) {
            from = p + 1;
            continue;
        }
        text.replace(start, marker.size(), value);
        replaced = true;
        if (firstOnly) break;
        from = int(start + value.size()) + 1;
    }
    return replaced;
}

std::string DoubleChar(char c, const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        out += ch;
        if (ch == c) out += ch;
    }
    return out;
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
    return text.size() > prefix.size() && AsciiUpper(text.substr(0, prefix.size())) == AsciiUpper(prefix);
}

int PosNoCase(const std::string& sub, const std::string& text) {
    return PosNoCaseFrom(sub, text, 1);
}

int PosNoCaseFrom(const std::string& sub, const std::string& text, int from) {
    const size_t start = from < 2 ? 0 : size_t(from - 1);
    if (start > text.size()) return 0;
    const size_t p = rtl::UpperCase(text).find(rtl::UpperCase(sub), start);
    return p == std::string::npos ? 0 : int(p) + 1;
}

namespace {

// The dotted parts of a name; a "." inside double quotes belongs to its part.
std::vector<std::string> NameParts(const std::string& name) {
    std::vector<std::string> parts(1);
    bool quoted = false;
    for (char c : name) {
        if (c == '"') quoted = !quoted;
        if (c == '.' && !quoted)
            parts.emplace_back();
        else
            parts.back() += c;
    }
    return parts;
}

bool IsQuotedIdentifier(const std::string& part) {
    return part.size() >= 2 && part.front() == '"' && part.back() == '"';
}

}  // namespace

std::string QuoteIdentifier(const std::string& name, bool quote) {
    if (!quote) return name;
    std::string out;
    for (const std::string& part : NameParts(name)) {
        if (!out.empty()) out += '.';
        out += IsQuotedIdentifier(part) ? part : "\"" + part + "\"";
    }
    return out;
}

std::string UnquoteText(const std::string& text, char quote) {
    if (quote == 0 || (!text.empty() && text[0] != quote)) return text;
    std::string out;
    for (size_t i = 1; i < text.size(); ++i) {
        if (text[i] == quote) {
            if (i + 1 < text.size() && text[i + 1] == quote) {
                out += quote;
                ++i;
                continue;
            }
            break;
        }
        out += text[i];
    }
    return out;
}

std::string ExtractLastNamePart(const std::string& name) {
    return NameParts(name).back();
}

std::string ExtractBareName(const std::string& name) {
    std::string bare = ExtractLastNamePart(name);
    bare.erase(std::remove(bare.begin(), bare.end(), '"'), bare.end());
    return bare;
}

std::string StripQuotes(const std::string& text) {
    std::string s = text;
    if (!s.empty() && IsQuote(s.front())) s.erase(0, 1);
    if (!s.empty() && IsQuote(s.back())) s.pop_back();
    return s;
}

std::string ExtractServerName(const std::string& remoteDatabase) {
    const size_t p = remoteDatabase.find_first_of(":@");
    return p == std::string::npos ? remoteDatabase : remoteDatabase.substr(0, p);
}

std::string ExtractDatabaseName(const std::string& remoteDatabase) {
    const size_t p = remoteDatabase.find_first_of(":@");
    if (p == std::string::npos) return "";
    const size_t q = remoteDatabase.find_first_not_of(":@", p);
    return q == std::string::npos ? std::string() : remoteDatabase.substr(q);
}

std::string ExtractListItem(const std::string& text, char delimiter, int& position) {
    const size_t start = position < 1 ? 0 : size_t(position - 1);
    if (start >= text.size()) {
        position = int(text.size()) + 1;
        return "";
    }
    const size_t d = text.find(delimiter, start);
    const size_t end = d == std::string::npos ? text.size() : d;
    position = int(d == std::string::npos ? text.size() : d + 1) + 1;
    return rtl::Trim(text.substr(start, end - start));
}

std::string ExtractProcName(const std::string& procRef) {
    return procRef.substr(0, procRef.find(';'));
}

bool HasWildcard(const std::string& pattern) {
    return pattern.find('%') != std::string::npos;
}

bool SplitOwnerAndName(const std::string& pattern, std::string& owner, std::string& name) {
    const size_t dot = pattern.find('.');
    if (dot == std::string::npos) {
        owner.clear();
        name = pattern;
    } else {
        owner = pattern.substr(0, dot);
        name = pattern.substr(dot + 1);
    }
    if (rtl::Trim(owner).empty()) owner = "%";
    if (rtl::Trim(name).empty()) name = "%";
    return true;
}

std::string StripOwnerPrefix(const std::string& name, bool strip) {
    if (!strip || name.empty()) return name;
    std::string owner;
    std::string bare;
    SplitOwnerAndName(name, owner, bare);
    return bare;
}
