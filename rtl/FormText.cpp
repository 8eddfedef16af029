// rtl/FormText.cpp: the writer and the reader of a component's text form.
#include "rtl/FormText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <vector>

#include "rtl/ClassRegistry.h"
#include "rtl/Format.h"
#include "rtl/Text.h"
#include "rtl/Unicode.h"

namespace rtl {

namespace {

constexpr std::string_view kCrLf = "\r\n";
// Characters of a text per line before the writer continues it on the next one.
constexpr size_t kLineLength = 64;
// Bytes of a binary property per line of hexadecimal digits.
constexpr size_t kBytesPerLine = 32;

// ---- Writer -------------------------------------------------------------------------------

// A text as quoted runs and #codes, wrapped as the header comment says. The indent is that of
// the continuation lines.
void WriteString(std::string& out, std::string_view s, std::string_view indent) {
    if (s.empty()) {
        out += "''";
        return;
    }
    // Byte offsets of the characters, and one past the last.
    std::vector<size_t> at;
    for (size_t pos = 0; pos < s.size();) {
        at.push_back(pos);
        DecodeUtf8(s, pos);
    }
    const size_t count = at.size();
    at.push_back(s.size());
    auto code = [&](size_t i) {
        size_t pos = at[i];
        return DecodeUtf8(s, pos);
    };
    auto plain = [&](size_t i) {
        const char32_t c = code(i);
        return c >= U' ' && c != U'\'';
    };

    if (count > kLineLength) {
        out += kCrLf;
        out += indent;
    }
    size_t i = 0;
    size_t lineStart = 0;
    while (i < count) {
        bool lineBreak = false;
        if (plain(i)) {
            const size_t j = i;
            do {
                ++i;
            } while (i < count && plain(i) && i - lineStart < kLineLength);
            if (i - lineStart >= kLineLength) lineBreak = true;
            out += '\'';
            out.append(s.substr(at[j], at[i] - at[j]));
            out += '\'';
        } else {
            out += '#';
            out += std::to_string(uint32_t(code(i)));
            ++i;
            if (i - lineStart >= kLineLength) lineBreak = true;
        }
        if (lineBreak && i < count) {
            out += " +";
            out += kCrLf;
            out += indent;
            lineStart = i;
        }
    }
}

void WriteBinary(std::string& out, std::string_view bytes, std::string_view indent) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    const bool multiLine = bytes.size() >= kBytesPerLine;
    out += '{';
    for (size_t i = 0; i < bytes.size(); i += kBytesPerLine) {
        if (multiLine) {
            out += kCrLf;
            out += indent;
        }
        for (size_t k = i; k < bytes.size() && k < i + kBytesPerLine; ++k) {
            const auto b = uint8_t(bytes[k]);
            out += kHex[b >> 4];
            out += kHex[b & 15];
        }
    }
    out += '}';
}

// A float in the fewest digits that read back to the same double, with "." as the separator
// whatever the locale: plain decimal notation for exponents from -5 to 14, otherwise a
// mantissa and "E" with the exponent ("1.5E-7", "1E20"). Integral values carry no separator.
std::string FloatText(double v) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
    const std::string_view sci(buf, size_t(r.ptr - buf));  // "-d.dddde+xx"
    const size_t e = sci.find('e');
    const bool negative = sci[0] == '-';
    std::string digits;
    for (char c : sci.substr(negative ? 1 : 0, e - (negative ? 1 : 0)))
        if (c != '.') digits += c;
    int exponent = 0;
    std::from_chars(sci.data() + e + 1 + (sci[e + 1] == '+'), sci.data() + sci.size(), exponent);

    std::string out = negative ? "-" : "";
    if (exponent < -5 || exponent >= 15) {
        out += digits[0];
        if (digits.size() > 1) out += "." + digits.substr(1);
        out += "E" + std::to_string(exponent);
    } else if (exponent < 0) {
        out += "0." + std::string(size_t(-exponent - 1), '0') + digits;
    } else if (size_t(exponent) + 1 >= digits.size()) {
        out += digits + std::string(size_t(exponent) + 1 - digits.size(), '0');
    } else {
        out += digits.substr(0, size_t(exponent) + 1) + "." + digits.substr(size_t(exponent) + 1);
    }
    return out;
}

// A set as its identifiers in ordinal order: "[pfInUpdate, pfInWhere]", "[]".
std::string SetText(const PropertyInfo& prop, uint32_t bits) {
    std::string out = "[";
    for (size_t i = 0; i < prop.identifiers.size(); ++i) {
        if ((bits & (uint32_t(1) << i)) == 0) continue;
        if (out.size() > 1) out += ", ";
        out += prop.identifiers[i];
        bits &= ~(uint32_t(1) << i);
    }
    if (bits != 0) throw EWriteError(Format("Invalid value %u of property %s", bits, prop.name));
    return out + "]";
}

// ---- Reader -------------------------------------------------------------------------------

enum class Token { End, Symbol, String, Integer, Float, Binary, Char };

// The tokens of a form text: symbols (letters, digits, "_" and "."), texts (quoted runs and
// #codes joined), integers (decimal with a sign, or "$" hexadecimal), floats (decimal digits
// with a sign, a fraction after "." and an exponent after "E", either or both; the token keeps
// the text, converted by the property that takes it), binary blocks between braces, and
// single characters. It counts lines for the error messages.
class Parser {
public:
    explicit Parser(std::string_view text) : text_(text) { Next(); }

    Token token() const { return token_; }
    const std::string& text() const { return value_; }
    int64_t integer() const { return integer_; }
    bool integerInRange() const { return integerInRange_; }
    char ch() const { return ch_; }
    int line() const { return tokenLine_; }

    bool IsSymbol(std::string_view s) const { return token_ == Token::Symbol && SameText(value_, s); }
    bool IsChar(char c) const { return token_ == Token::Char && ch_ == c; }

    [[noreturn]] void Error(std::string_view reason) const {
        throw EParserError(Format("%s on line %d", reason, tokenLine_));
    }
    void ExpectSymbol() const {
        if (token_ != Token::Symbol) Error("Identifier expected");
    }
    void ExpectChar(char c) const {
        if (!IsChar(c)) Error(Format("'%s' expected", c));
    }

    void Next() {
        SkipBlanks();
        tokenLine_ = line_;
        value_.clear();
        if (pos_ >= text_.size()) {
            token_ = Token::End;
            return;
        }
        const char c = text_[pos_];
        if (IsLetter(c) || c == '_') {
            ReadSymbol();
        } else if (c == '\'' || c == '#') {
            ReadString();
        } else if (c == '$' || IsDigit(c) ||
                   ((c == '-' || c == '+') && pos_ + 1 < text_.size() && IsDigit(text_[pos_ + 1]))) {
            ReadNumber();
        } else if (c == '{') {
            ReadBinary();
        } else {
            token_ = Token::Char;
            ch_ = c;
            ++pos_;
        }
    }

private:
    static bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
    static bool IsDigit(char c) { return c >= '0' && c <= '9'; }
    static int HexValue(char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    }

    void SkipBlanks() {
        while (pos_ < text_.size() && uint8_t(text_[pos_]) <= ' ') {
            if (text_[pos_] == '\n') ++line_;
            ++pos_;
        }
    }

    void ReadSymbol() {
        const size_t start = pos_;
        while (pos_ < text_.size() && (IsLetter(text_[pos_]) || IsDigit(text_[pos_]) || text_[pos_] == '_' ||
                                       text_[pos_] == '.'))
            ++pos_;
        token_ = Token::Symbol;
        value_.assign(text_.substr(start, pos_ - start));
    }

    void ReadString() {
        token_ = Token::String;
        while (pos_ < text_.size() && (text_[pos_] == '\'' || text_[pos_] == '#')) {
            if (text_[pos_] == '\'') {
                ++pos_;
                for (;;) {
                    if (pos_ >= text_.size() || text_[pos_] == '\r' || text_[pos_] == '\n')
                        Error("Invalid string constant");
                    if (text_[pos_] == '\'') {
                        if (pos_ + 1 < text_.size() && text_[pos_ + 1] == '\'') {
                            value_ += '\'';
                            pos_ += 2;
                            continue;
                        }
                        ++pos_;
                        break;
                    }
                    value_ += text_[pos_++];
                }
            } else {
                ++pos_;
                const bool hex = pos_ < text_.size() && text_[pos_] == '$';
                if (hex) ++pos_;
                uint32_t code = 0;
                size_t digits = 0;
                while (pos_ < text_.size()) {
                    const int d = hex ? HexValue(text_[pos_]) : (IsDigit(text_[pos_]) ? text_[pos_] - '0' : -1);
                    if (d < 0) break;
                    code = code * (hex ? 16 : 10) + uint32_t(d);
                    if (code > 0x10FFFF) Error("Invalid string constant");
                    ++digits;
                    ++pos_;
                }
                if (digits == 0) Error("Invalid string constant");
                AppendUtf8(value_, char32_t(code));
            }
        }
    }

    void ReadNumber() {
        const size_t start = pos_;
        bool negative = false;
        if (text_[pos_] == '-' || text_[pos_] == '+') negative = text_[pos_++] == '-';
        const bool hex = text_[pos_] == '$';
        if (hex) ++pos_;
        uint64_t magnitude = 0;
        integerInRange_ = true;
        size_t digits = 0;
        while (pos_ < text_.size()) {
            const int d = hex ? HexValue(text_[pos_]) : (IsDigit(text_[pos_]) ? text_[pos_] - '0' : -1);
            if (d < 0) break;
            if (magnitude > (uint64_t(1) << 40)) integerInRange_ = false;  // far past 32 bits
            if (integerInRange_) magnitude = magnitude * (hex ? 16 : 10) + uint64_t(d);
            ++digits;
            ++pos_;
        }
        if (digits == 0) Error("Number expected");
        if (!hex && pos_ < text_.size() && (text_[pos_] == '.' || text_[pos_] == 'e' || text_[pos_] == 'E')) {
            ReadFloatTail();
            token_ = Token::Float;
            value_.assign(text_.substr(start, pos_ - start));
            return;
        }
        token_ = Token::Integer;
        integer_ = negative ? -int64_t(magnitude) : int64_t(magnitude);
        value_.assign(text_.substr(start, pos_ - start));
    }

    // The fraction and the exponent of a float whose integer digits are read: "." and at least
    // one digit, then "E" or "e", an optional sign and at least one digit. The exponent's
    // digits are not counted: an exponent past a double's range is the property's refusal.
    void ReadFloatTail() {
        auto digitsFollow = [&] {
            const size_t from = pos_;
            while (pos_ < text_.size() && IsDigit(text_[pos_]))
                ++pos_;
            return pos_ > from;
        };
        if (text_[pos_] == '.') {
            ++pos_;
            if (!digitsFollow()) Error("Invalid floating-point number");
        }
        if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
            ++pos_;
            if (pos_ < text_.size() && (text_[pos_] == '-' || text_[pos_] == '+')) ++pos_;
            if (!digitsFollow()) Error("Invalid floating-point number");
        }
    }

    void ReadBinary() {
        ++pos_;  // '{'
        token_ = Token::Binary;
        int high = -1;
        for (;;) {
            if (pos_ >= text_.size()) Error("Invalid binary value");
            const char c = text_[pos_++];
            if (c == '}') break;
            if (uint8_t(c) <= ' ') {
                if (c == '\n') ++line_;
                continue;
            }
            const int d = HexValue(c);
            if (d < 0) Error("Invalid binary value");
            if (high < 0) {
                high = d;
            } else {
                value_ += char((high << 4) | d);
                high = -1;
            }
        }
        if (high >= 0) Error("Invalid binary value");
    }

    std::string_view text_;
    size_t pos_ = 0;
    int line_ = 1;
    int tokenLine_ = 1;
    Token token_ = Token::End;
    std::string value_;
    int64_t integer_ = 0;
    bool integerInRange_ = true;
    char ch_ = 0;
};

bool IsObjectKeyword(const Parser& p) {
    return p.IsSymbol("object") || p.IsSymbol("inherited") || p.IsSymbol("inline");
}

// The error of one property, named as the class library names it.
[[noreturn]] void PropertyError(const Component& c, std::string_view property, std::string_view reason) {
    throw EReadError(Format("Error reading %s%s%s: %s", c.Name(), c.Name().empty() ? "" : ".", property, reason));
}

// The value of a float or integer token as a double, read the same whatever the locale;
// false for another token and for a value a double cannot hold (past its range, too small
// for anything but zero).
bool FloatValue(const Parser& p, double& out) {
    if (p.token() == Token::Integer && p.text().find('$') != std::string::npos) {
        if (!p.integerInRange()) return false;
        out = double(p.integer());
        return true;
    }
    if (p.token() != Token::Integer && p.token() != Token::Float) return false;
    std::string_view digits = p.text();
    if (digits.front() == '+') digits.remove_prefix(1);  // from_chars takes "-" but not "+"
    const auto r = std::from_chars(digits.data(), digits.data() + digits.size(), out);
    return r.ec == std::errc() && r.ptr == digits.data() + digits.size() && std::isfinite(out);
}

// The ordinal of the value of an enumeration or a set that the symbol names, in any case. The
// errors name the property as the text spells it.
uint32_t IdentifierOrdinal(const Parser& p, const Component& c, const PropertyInfo& prop,
                           std::string_view name) {
    const auto& ids = prop.identifiers;
    const auto id =
        std::find_if(ids.begin(), ids.end(), [&](const std::string& i) { return SameText(i, p.text()); });
    if (id == ids.end()) PropertyError(c, name, "Invalid property value");
    return uint32_t(id - ids.begin());
}

// "[a, b]" or "[]": identifiers of the property's values, in any order and case.
uint32_t ReadSet(Parser& p, const Component& c, const PropertyInfo& prop, std::string_view name) {
    if (!p.IsChar('[')) PropertyError(c, name, "Invalid property value");
    p.Next();
    uint32_t bits = 0;
    if (!p.IsChar(']')) {
        for (;;) {
            p.ExpectSymbol();
            bits |= uint32_t(1) << IdentifierOrdinal(p, c, prop, name);
            p.Next();
            if (p.IsChar(']')) break;
            p.ExpectChar(',');
            p.Next();
        }
    }
    p.Next();
    return bits;
}

void ReadProperty(Parser& p, Component& c, const ComponentFinder& find) {
    const std::string name = p.text();
    p.Next();
    p.ExpectChar('=');
    p.Next();
    const ComponentClass& cls = c.ClassType();
    if (const PropertyInfo* prop = cls.FindProperty(name); prop != nullptr && prop->stored) {
        switch (prop->kind) {
            case PropertyKind::Integer:
                if (p.token() != Token::Integer || !p.integerInRange() || p.integer() < INT32_MIN ||
                    p.integer() > INT32_MAX)
                    PropertyError(c, name, "Invalid property value");
                prop->setInteger(c, int32_t(p.integer()));
                p.Next();
                return;
            case PropertyKind::String: {
                if (p.token() != Token::String) PropertyError(c, name, "Invalid property value");
                std::string value = p.text();
                p.Next();
                while (p.IsChar('+')) {
                    p.Next();
                    if (p.token() != Token::String) p.Error("String expected");
                    value += p.text();
                    p.Next();
                }
                prop->setString(c, value);
                return;
            }
            case PropertyKind::Enumeration: {
                if (p.token() != Token::Symbol) PropertyError(c, name, "Invalid property value");
                prop->setInteger(c, int32_t(IdentifierOrdinal(p, c, *prop, name)));
                p.Next();
                return;
            }
            case PropertyKind::Set:
                prop->setInteger(c, int32_t(ReadSet(p, c, *prop, name)));
                return;
            case PropertyKind::Float: {
                double value = 0;
                if (!FloatValue(p, value)) PropertyError(c, name, "Invalid property value");
                prop->setFloat(c, value);
                p.Next();
                return;
            }
            case PropertyKind::Component: {
                if (p.token() != Token::Symbol) PropertyError(c, name, "Invalid property value");
                Component* target = find ? find(p.text()) : nullptr;
                try {
                    prop->setComponent(c, target);
                } catch (const EInvalidCast&) {
                    PropertyError(c, name, "Invalid property value");
                }
                p.Next();
                return;
            }
        }
    }
    if (const BinaryPropertyInfo* bin = cls.FindBinaryProperty(name)) {
        if (p.token() != Token::Binary) PropertyError(c, name, "Invalid property value");
        bin->read(c, p.text());
        p.Next();
        return;
    }
    PropertyError(c, name, Format("Property %s does not exist", name));
}

}  // namespace

std::string ComponentToText(const Component& component) {
    const ComponentClass& cls = component.ClassType();
    std::string out = "object ";
    if (!component.Name().empty()) out += component.Name() + ": ";
    out += cls.Name();
    out += kCrLf;
    for (const PropertyInfo* prop : cls.Properties()) {
        if (!prop->IsStored(component)) continue;
        std::string value;
        switch (prop->kind) {
            case PropertyKind::Integer:
                value = IntToStr(prop->getInteger(component));
                break;
            case PropertyKind::String:
                WriteString(value, prop->getString(component), "    ");
                break;
            case PropertyKind::Enumeration: {
                const int32_t ordinal = prop->getInteger(component);
                if (ordinal < 0 || size_t(ordinal) >= prop->identifiers.size())
                    throw EWriteError(Format("Invalid value %d of property %s", ordinal, prop->name));
                value = prop->identifiers[size_t(ordinal)];
                break;
            }
            case PropertyKind::Set:
                value = SetText(*prop, uint32_t(prop->getInteger(component)));
                break;
            case PropertyKind::Float: {
                const double v = prop->getFloat(component);
                // The reader refuses them: a text that cannot be read back is not written.
                if (!std::isfinite(v))
                    throw EWriteError(Format("Invalid value %s of property %s",
                                             std::isnan(v) ? "NAN" : (v > 0 ? "INF" : "-INF"), prop->name));
                value = FloatText(v);
                break;
            }
            case PropertyKind::Component:
                value = prop->getComponent(component)->Name();
                // A component without a name cannot be referred to in text.
                if (value.empty()) continue;
                break;
        }
        out += "  " + prop->name + " = " + value;
        out += kCrLf;
    }
    for (const BinaryPropertyInfo* bin : cls.BinaryProperties()) {
        if (!bin->hasData(component)) continue;
        out += "  " + bin->name + " = ";
        WriteBinary(out, bin->write(component), "    ");
        out += kCrLf;
    }
    out += "end";
    out += kCrLf;
    return out;
}

std::unique_ptr<Component> TextToComponent(std::string_view text, const ComponentFinder& findComponent) {
    Parser p(text);
    if (!IsObjectKeyword(p)) p.Error("'object' expected");
    p.Next();
    p.ExpectSymbol();
    std::string name;
    std::string className = p.text();
    p.Next();
    if (p.IsChar(':')) {
        p.Next();
        p.ExpectSymbol();
        name = className;
        className = p.text();
        p.Next();
    }
    if (p.IsChar('[')) {  // the position of an inherited child; nothing to do with it here
        p.Next();
        if (p.token() != Token::Integer) p.Error("Number expected");
        p.Next();
        p.ExpectChar(']');
        p.Next();
    }
    std::unique_ptr<Component> component = GetClass(className).Create();
    component->BeginLoading();
    component->SetName(name);
    for (;;) {
        if (p.IsSymbol("end")) break;
        if (IsObjectKeyword(p)) p.Error("Nested objects are not supported");
        p.ExpectSymbol();
        ReadProperty(p, *component, findComponent);
    }
    p.Next();
    if (p.token() != Token::End) p.Error("Text after 'end'");
    component->Loaded();
    return component;
}

}  // namespace rtl
