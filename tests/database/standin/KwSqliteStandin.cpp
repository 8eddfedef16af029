// tests/database/standin/KwSqliteStandin.cpp: the helpers the stand-in client libraries share.
#include "database/standin/KwSqliteStandin.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace kwstandin {

void Journal::Add(const std::string& line) {
    std::lock_guard<std::mutex> guard(lock_);
    text_ += line + "\n";
}

const char* Journal::Text() {
    std::lock_guard<std::mutex> guard(lock_);
    copy_ = text_;
    return copy_.c_str();
}

void Journal::Clear() {
    std::lock_guard<std::mutex> guard(lock_);
    text_.clear();
}

void FailureSwitch::Arm(const std::string& call, int code, int count) {
    std::lock_guard<std::mutex> guard(lock_);
    if (count <= 0)
        entries_.erase(call);
    else
        entries_[call] = Entry{code, count};
}

bool FailureSwitch::Take(const std::string& call, int& code) {
    std::lock_guard<std::mutex> guard(lock_);
    for (const std::string& key : {call, std::string("*")}) {
        auto it = entries_.find(key);
        if (it == entries_.end()) continue;
        code = it->second.code;
        if (--it->second.count <= 0) entries_.erase(it);
        return true;
    }
    return false;
}

void FailureSwitch::Clear() {
    std::lock_guard<std::mutex> guard(lock_);
    entries_.clear();
}

std::string Upper(std::string s) {
    for (char& c : s)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

bool SameText(const std::string& a, const std::string& b) {
    return Upper(a) == Upper(b);
}

std::string TrimText(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b])))
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1])))
        --e;
    return s.substr(b, e - b);
}

DeclaredType ParseDeclaredType(const char* declared) {
    DeclaredType t;
    if (declared == nullptr) return t;
    std::string name;
    std::string numbers;
    bool inNumbers = false;
    for (const char* p = declared; *p != 0; ++p) {
        const char c = *p;
        if (c == '(') {
            inNumbers = true;
            continue;
        }
        if (c == ')') {
            inNumbers = false;
            continue;
        }
        if (inNumbers) {
            numbers += c;
            continue;
        }
        const char n = c == '_' ? ' ' : char(std::toupper(static_cast<unsigned char>(c)));
        if (n == ' ' && (name.empty() || name.back() == ' ')) continue;
        name += n;
    }
    while (!name.empty() && name.back() == ' ')
        name.pop_back();
    t.Name = name;
    if (!numbers.empty()) {
        const size_t comma = numbers.find(',');
        t.Length = std::atoi(numbers.substr(0, comma).c_str());
        if (comma != std::string::npos) t.Scale = std::atoi(numbers.substr(comma + 1).c_str());
    }
    return t;
}

Value Value::Int(int64_t v) {
    Value r;
    r.Type = SQLITE_INTEGER;
    r.Integer = v;
    return r;
}

Value Value::Float(double v) {
    Value r;
    r.Type = SQLITE_FLOAT;
    r.Real = v;
    return r;
}

Value Value::Text(std::string v) {
    Value r;
    r.Type = SQLITE_TEXT;
    r.Bytes = std::move(v);
    return r;
}

Value Value::Blob(std::string v) {
    Value r;
    r.Type = SQLITE_BLOB;
    r.Bytes = std::move(v);
    return r;
}

std::string Value::AsText() const {
    switch (Type) {
        case SQLITE_INTEGER:
            return std::to_string(Integer);
        case SQLITE_FLOAT: {
            char text[64];
            std::snprintf(text, sizeof text, "%.17g", Real);
            // The shortest form that reads back as the same double.
            for (int digits = 1; digits <= 17; ++digits) {
                char shorter[64];
                std::snprintf(shorter, sizeof shorter, "%.*g", digits, Real);
                if (std::strtod(shorter, nullptr) == Real) return shorter;
            }
            return text;
        }
        case SQLITE_NULL:
            return "";
        default:
            return Bytes;
    }
}

double Value::AsReal() const {
    switch (Type) {
        case SQLITE_INTEGER:
            return double(Integer);
        case SQLITE_FLOAT:
            return Real;
        case SQLITE_NULL:
            return 0;
        default:
            return std::strtod(Bytes.c_str(), nullptr);
    }
}

int64_t Value::AsInteger() const {
    switch (Type) {
        case SQLITE_INTEGER:
            return Integer;
        case SQLITE_FLOAT:
            return int64_t(Real);
        case SQLITE_NULL:
            return 0;
        default:
            return std::strtoll(Bytes.c_str(), nullptr, 10);
    }
}

Value ColumnValue(sqlite3_stmt* stmt, int column) {
    switch (sqlite3_column_type(stmt, column)) {
        case SQLITE_INTEGER:
            return Value::Int(sqlite3_column_int64(stmt, column));
        case SQLITE_FLOAT:
            return Value::Float(sqlite3_column_double(stmt, column));
        case SQLITE_TEXT: {
            const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
            return Value::Text(std::string(p, size_t(sqlite3_column_bytes(stmt, column))));
        }
        case SQLITE_BLOB: {
            const auto* p = static_cast<const char*>(sqlite3_column_blob(stmt, column));
            const int n = sqlite3_column_bytes(stmt, column);
            return Value::Blob(p != nullptr ? std::string(p, size_t(n)) : std::string());
        }
        default:
            return Value::Null();
    }
}

void BindValue(sqlite3_stmt* stmt, int index, const Value& v) {
    switch (v.Type) {
        case SQLITE_INTEGER:
            sqlite3_bind_int64(stmt, index, v.Integer);
            break;
        case SQLITE_FLOAT:
            sqlite3_bind_double(stmt, index, v.Real);
            break;
        case SQLITE_TEXT:
            sqlite3_bind_text(stmt, index, v.Bytes.data(), int(v.Bytes.size()), SQLITE_TRANSIENT);
            break;
        case SQLITE_BLOB:
            sqlite3_bind_blob(stmt, index, v.Bytes.data(), int(v.Bytes.size()), SQLITE_TRANSIENT);
            break;
        default:
            sqlite3_bind_null(stmt, index);
            break;
    }
}

namespace {

bool Digits(const std::string& s, size_t at, size_t count, int& value) {
    if (at + count > s.size()) return false;
    value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
        value = value * 10 + (s[i] - '0');
    }
    return true;
}

}  // namespace

bool ParseZone(const std::string& text, int& hours, int& minutes) {
    const std::string t = TrimText(text);
    if (t.size() != 6 || (t[0] != '+' && t[0] != '-') || t[3] != ':') return false;
    int h = 0, m = 0;
    if (!Digits(t, 1, 2, h) || !Digits(t, 4, 2, m)) return false;
    const int sign = t[0] == '-' ? -1 : 1;
    hours = sign * h;
    minutes = sign * m;
    return true;
}

bool ParseDateTime(const std::string& text, DateTimeParts& p) {
    p = DateTimeParts();
    const std::string s = TrimText(text);
    if (!Digits(s, 0, 4, p.Year) || s.size() < 10 || s[4] != '-' || s[7] != '-' || !Digits(s, 5, 2, p.Month) ||
        !Digits(s, 8, 2, p.Day))
        return false;
    size_t at = 10;
    if (at < s.size() && (s[at] == ' ' || s[at] == 'T') && at + 9 <= s.size() && s[at + 3] == ':') {
        if (!Digits(s, at + 1, 2, p.Hour) || !Digits(s, at + 4, 2, p.Minute) || s[at + 6] != ':' ||
            !Digits(s, at + 7, 2, p.Second))
            return false;
        at += 9;
        if (at < s.size() && s[at] == '.') {
            ++at;
            uint32_t ns = 0;
            int digits = 0;
            while (at < s.size() && std::isdigit(static_cast<unsigned char>(s[at]))) {
                if (digits < 9) {
                    ns = ns * 10 + uint32_t(s[at] - '0');
                    ++digits;
                }
                ++at;
            }
            while (digits++ < 9)
                ns *= 10;
            p.Nanosecond = ns;
        }
    }
    while (at < s.size() && s[at] == ' ')
        ++at;
    if (at < s.size()) {
        if (!ParseZone(s.substr(at), p.ZoneHours, p.ZoneMinutes)) return false;
        p.HasZone = true;
    }
    return true;
}

std::string FormatDateTime(const DateTimeParts& p) {
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", p.Year, p.Month, p.Day, p.Hour, p.Minute,
                  p.Second);
    std::string out = text;
    if (p.Nanosecond != 0) {
        if (p.Nanosecond % 1000000 == 0)
            std::snprintf(text, sizeof text, ".%03u", p.Nanosecond / 1000000);
        else
            std::snprintf(text, sizeof text, ".%09u", p.Nanosecond);
        out += text;
    }
    if (p.HasZone) {
        const bool negative = p.ZoneHours < 0 || p.ZoneMinutes < 0;
        std::snprintf(text, sizeof text, " %c%02d:%02d", negative ? '-' : '+', std::abs(p.ZoneHours),
                      std::abs(p.ZoneMinutes));
        out += text;
    }
    return out;
}

}  // namespace kwstandin
