// transfer/uJSON.h: the JSON reader the download-server client reads its answers with.
//
// A text is parsed into a tree of value objects; values are looked up by key (ignoring case)
// and turned back into text. The grammar is lenient: besides standard JSON it takes comments
// (/* */, // and #), single-quoted strings, unquoted words, "=" or "=>" between key and value,
// ";" between members, trailing separators, hexadecimal (0x1F) and octal (010) integers and
// empty array slots ([1,,2]). Texts are UTF-8: a "\u" escape gives the character's UTF-8
// bytes (a surrogate pair one character, a lone surrogate "?"), and positions count bytes.
//
// The tree:
//   TZAbstractObject                 equals / clone / toString
//     JSONTokener                    the cursor over the text (1-based position)
//     TJSONObject                    members in insertion order (a duplicate key adds one)
//     TJSONArray                     elements; an empty slot is none (nullptr)
//     _Number -> _Integer, _Double   32-bit integer, 64-bit float
//     _Boolean, _String, NULL_JSON
// What must stay true: a container owns its values (TJSONValue frees them) except the three
// shared constants (JSONTrue, JSONFalse, JSONNull), which live for the whole run and which
// no container ever frees; lookups return references owned by the container; a parse that
// fails frees everything it built. Parsing is a state machine over an explicit stack of open
// containers, at most kMaxAninhamentoJSON deep, so no input can exhaust the call stack.
//
// Numbers are read with "." as the decimal separator whatever the workstation's settings say:
// the server writes JSON, not the workstation's locale.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "rtl/Exception.h"

// Lookup failures: a missing key, or a value of another kind than the one asked for.
RTL_EXCEPTION(NoSuchElementException, rtl::Exception);
// A lookup with an empty key.
RTL_EXCEPTION(NullPointerException, rtl::Exception);
// clone of a class that cannot be copied ("Rotina Não Implementada").
RTL_EXCEPTION(NotImplmentedFeature, rtl::Exception);

// A syntax error; Message() is the composed text (the reason, the tokener's text, " próximo a
// : ", ten characters from the position, LF CR, " erro no caracter : " and the position).
class ParseException : public rtl::Exception {
public:
    ParseException(std::string message, int32_t position)
        : rtl::Exception(std::move(message)), position_(position) {}
    const char* ClassName() const noexcept override { return "ParseException"; }
    // The tokener's position (1-based byte index of the next character) at the error.
    int32_t Position() const noexcept { return position_; }

private:
    int32_t position_;
};

// Nesting ceiling: containers open inside each other at once. The server's answers nest two
// or three deep; a deeper text is not an answer of it.
inline constexpr int32_t kMaxAninhamentoJSON = 512;

class TZAbstractObject;

// Frees a value unless it is one of the shared constants.
struct TJSONValueDeleter {
    void operator()(TZAbstractObject* value) const;
};
using TJSONValue = std::unique_ptr<TZAbstractObject, TJSONValueDeleter>;

class TZAbstractObject {
public:
    TZAbstractObject() = default;
    TZAbstractObject(const TZAbstractObject&) = delete;
    TZAbstractObject& operator=(const TZAbstractObject&) = delete;
    virtual ~TZAbstractObject() = default;

    // True when other is this very object.
    virtual bool equals(const TZAbstractObject* other) const;
    // A new copy; raises NotImplmentedFeature for classes without one.
    virtual TJSONValue clone() const;
    // The class name and the object's address: "TZAbstractObject <...>".
    virtual std::string toString() const;
    virtual const char* ClassName() const { return "TZAbstractObject"; }
};

// The cursor over a text. Character 0 stands for the end of the text.
class JSONTokener final : public TZAbstractObject {
public:
    explicit JSONTokener(std::string text);

    // The character at the position (0 just past the end) and one step on; beyond that 0,
    // without moving.
    char Next();
    // One step back (never before the first character).
    void Back();
    // The n characters from the position; "Substring bounds error" when position + n is past
    // the text's length.
    std::string NextChars(int32_t n);
    // The next character that is not a blank, a control character or inside a comment.
    char NextClean();
    // The text up to the quote character, escapes decoded; the opening quote is already read.
    std::string NextString(char quote);
    // The next value: a string, an object, an array, a shared constant, a number or a word.
    TJSONValue NextValue();
    // The syntax error at the position, its text composed as ParseException says.
    ParseException SyntaxError(std::string_view message) const;
    // A word, number or constant whose first character c was just read (NextValue's reading
    // of everything that is neither a string nor a container).
    TJSONValue ReadScalar(char c);

    int32_t Position() const { return position_; }
    const std::string& Text() const { return text_; }

    // " at character " + position + " of " + text.
    std::string toString() const override;
    const char* ClassName() const override { return "JSONTokener"; }

private:
    // One "\u" escape: the four digits after it, and a low surrogate's escape after a high one.
    void AppendUnicodeEscape(std::string& out);

    std::string text_;
    int32_t position_ = 1;
};

class TJSONObject final : public TZAbstractObject {
public:
    TJSONObject() = default;

    // Parses an object from the text; what follows its closing "}" is ignored.
    static std::unique_ptr<TJSONObject> CreateFromText(std::string text);
    // Parses an object at the tokener's position ("A TJSONObject must begin with \"{\"").
    static std::unique_ptr<TJSONObject> Parse(JSONTokener& tokener);

    // The value of the first member whose key equals key ignoring case, or nullptr (an empty
    // key raises NullPointerException "Null key").
    const TZAbstractObject* Opt(std::string_view key) const;
    // Opt, or NoSuchElementException "TJSONObject[" + Quote(key) + "] not found.".
    const TZAbstractObject& GetValue(std::string_view key) const;
    // GetValue, which must be an object ("TJSONObject[...] is not a TJSONObject.").
    const TJSONObject& GetObjectValue(std::string_view key) const;
    // toString of GetValue.
    std::string GetText(std::string_view key) const;
    // The keys in order.
    std::vector<std::string> Keys() const;
    int32_t Length() const { return int32_t(members_.size()); }
    using TMembro = std::pair<std::string, TJSONValue>;
    const std::vector<TMembro>& Members() const { return members_; }

    // Appends a member (a duplicate key adds another).
    void Put(std::string key, TJSONValue value);

    // A new object parsed from this object's text.
    TJSONValue clone() const override;
    // "{" + Quote(key) + ":" + ValueToText(value), "," between members, + "}".
    std::string toString() const override;
    const char* ClassName() const override { return "TJSONObject"; }

private:
    std::vector<TMembro> members_;
};

class TJSONArray final : public TZAbstractObject {
public:
    TJSONArray() = default;

    // Parses an array at the tokener's position ("A TJSONArray must start with \"[\"").
    static std::unique_ptr<TJSONArray> Parse(JSONTokener& tokener);

    // The elements' ValueToText joined by the separator.
    std::string Join(std::string_view separator) const;
    int32_t Length() const { return int32_t(elements_.size()); }
    // The element at index (nullptr for an empty slot); raises rtl::EListError outside.
    const TZAbstractObject* Get(int32_t index) const;

    // Appends an element (nullptr: an empty slot).
    void Put(TJSONValue value);

    // "[" + Join(",") + "]".
    std::string toString() const override;
    const char* ClassName() const override { return "TJSONArray"; }

private:
    std::vector<TJSONValue> elements_;
};

class _Number : public TZAbstractObject {
public:
    virtual double doubleValue() const = 0;
    virtual int32_t intValue() const = 0;
    const char* ClassName() const override { return "_Number"; }
};

class _Integer final : public _Number {
public:
    explicit _Integer(int32_t value) : value_(value) {}
    double doubleValue() const override { return double(value_); }
    int32_t intValue() const override { return value_; }
    TJSONValue clone() const override;
    // Decimal.
    std::string toString() const override;
    const char* ClassName() const override { return "_Integer"; }

private:
    int32_t value_;
};

class _Double final : public _Number {
public:
    explicit _Double(double value) : value_(value) {}
    double doubleValue() const override { return value_; }
    // Truncated toward zero (held within the 32-bit range; NaN gives 0).
    int32_t intValue() const override;
    TJSONValue clone() const override;
    // The value with at least one integer digit and two decimals (half away from zero), "."
    // as separator, between two double-quote characters: "3.50" for 3.5.
    std::string toString() const override;
    const char* ClassName() const override { return "_Double"; }

private:
    double value_;
};

class _Boolean final : public TZAbstractObject {
public:
    explicit _Boolean(bool value) : value_(value) {}
    bool boolValue() const { return value_; }
    TJSONValue clone() const override;
    // "true" or "false".
    std::string toString() const override { return value_ ? "true" : "false"; }
    const char* ClassName() const override { return "_Boolean"; }

private:
    bool value_;
};

class _String final : public TZAbstractObject {
public:
    explicit _String(std::string value) : value_(std::move(value)) {}
    // Another _String with the same text (case-sensitive).
    bool equals(const TZAbstractObject* other) const override;
    TJSONValue clone() const override;
    // The text itself.
    std::string toString() const override { return value_; }
    const char* ClassName() const override { return "_String"; }

private:
    std::string value_;
};

class NULL_JSON final : public TZAbstractObject {
public:
    // None, or another NULL_JSON.
    bool equals(const TZAbstractObject* other) const override;
    // "null".
    std::string toString() const override { return "null"; }
    const char* ClassName() const override { return "NULL_JSON"; }
};

// The shared constants the parser gives for true, false and null.
_Boolean& JSONTrue();
_Boolean& JSONFalse();
NULL_JSON& JSONNull();
// A non-owning handle to a shared constant, for a container to hold.
TJSONValue SharedJSONValue(TZAbstractObject& constant);

// The text between double quotes with every character escaped as JSON writers of this system
// always have: \b \t \n \f \r, \" \\, "\/" after "<", ! $ ' ( ) * - . digits @ letters _ as
// they are, every other character as \u00XX (codes up to 255) or \uXXXX (pairs above 0xFFFF).
std::string Quote(std::string_view text);
// "null" for none or the null constant; a number, Boolean, object or array's toString; a
// string Quote'd.
std::string ValueToText(const TZAbstractObject* value);
