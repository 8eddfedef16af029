// tests/support/JsonLite.h: a small JSON reader for what the tests' scripted peers log (one
// JSON object per line). Not for outside input: a text that is not JSON throws
// std::runtime_error, and numbers are kept as doubles (exact for the 32-bit values the logs
// carry).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "rtl/Unicode.h"

namespace kwtest {

class Json {
public:
    enum class Kind { Null, Bool, Number, String, Array, Object };

    Kind kind() const { return kind_; }
    bool isNull() const { return kind_ == Kind::Null; }
    bool boolean() const { return b_; }
    double number() const { return n_; }
    int64_t integer() const { return int64_t(n_); }
    const std::string& str() const { return s_; }
    const std::vector<Json>& items() const { return a_; }
    size_t size() const { return kind_ == Kind::Array ? a_.size() : o_.size(); }
    bool has(const std::string& key) const { return o_.count(key) != 0; }
    // A missing key or index gives null.
    const Json& operator[](const std::string& key) const {
        const auto it = o_.find(key);
        return it == o_.end() ? Null() : it->second;
    }
    const Json& operator[](size_t i) const { return i < a_.size() ? a_[i] : Null(); }

    static Json Parse(std::string_view text) {
        size_t pos = 0;
        Json v = ParseValue(text, pos);
        SkipBlanks(text, pos);
        if (pos != text.size()) throw std::runtime_error("JSON: text after the value");
        return v;
    }

private:
    static const Json& Null() {
        static const Json null;
        return null;
    }
    static void SkipBlanks(std::string_view t, size_t& p) {
        while (p < t.size() && (t[p] == ' ' || t[p] == '\n' || t[p] == '\r' || t[p] == '\t'))
            ++p;
    }
    static void Expect(std::string_view t, size_t& p, std::string_view word) {
        if (t.substr(p, word.size()) != word) throw std::runtime_error("JSON: bad literal");
        p += word.size();
    }
    static std::string ParseString(std::string_view t, size_t& p) {
        ++p;  // '"'
        std::string out;
        while (p < t.size() && t[p] != '"') {
            if (t[p] != '\\') {
                out += t[p++];
                continue;
            }
            ++p;
            if (p >= t.size()) break;
            const char e = t[p++];
            switch (e) {
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'u': {
                    uint32_t cp = uint32_t(std::stoul(std::string(t.substr(p, 4)), nullptr, 16));
                    p += 4;
                    if (cp >= 0xD800 && cp < 0xDC00 && t.substr(p, 2) == "\\u") {
                        const uint32_t lo = uint32_t(std::stoul(std::string(t.substr(p + 2, 4)), nullptr, 16));
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
                        p += 6;
                    }
                    rtl::AppendUtf8(out, char32_t(cp));
                    break;
                }
                default: out += e;
            }
        }
        if (p >= t.size()) throw std::runtime_error("JSON: open string");
        ++p;
        return out;
    }
    static Json ParseValue(std::string_view t, size_t& p) {
        SkipBlanks(t, p);
        if (p >= t.size()) throw std::runtime_error("JSON: no value");
        Json v;
        const char c = t[p];
        if (c == '{') {
            v.kind_ = Kind::Object;
            ++p;
            SkipBlanks(t, p);
            if (p < t.size() && t[p] == '}') {
                ++p;
                return v;
            }
            for (;;) {
                SkipBlanks(t, p);
                if (p >= t.size() || t[p] != '"') throw std::runtime_error("JSON: key expected");
                std::string key = ParseString(t, p);
                SkipBlanks(t, p);
                Expect(t, p, ":");
                v.o_[key] = ParseValue(t, p);
                SkipBlanks(t, p);
                if (p < t.size() && t[p] == ',') {
                    ++p;
                    continue;
                }
                Expect(t, p, "}");
                return v;
            }
        }
        if (c == '[') {
            v.kind_ = Kind::Array;
            ++p;
            SkipBlanks(t, p);
            if (p < t.size() && t[p] == ']') {
                ++p;
                return v;
            }
            for (;;) {
                v.a_.push_back(ParseValue(t, p));
                SkipBlanks(t, p);
                if (p < t.size() && t[p] == ',') {
                    ++p;
                    continue;
                }
                Expect(t, p, "]");
                return v;
            }
        }
        if (c == '"') {
            v.kind_ = Kind::String;
            v.s_ = ParseString(t, p);
            return v;
        }
        if (c == 't') {
            Expect(t, p, "true");
            v.kind_ = Kind::Bool;
            v.b_ = true;
            return v;
        }
        if (c == 'f') {
            Expect(t, p, "false");
            v.kind_ = Kind::Bool;
            return v;
        }
        if (c == 'n') {
            Expect(t, p, "null");
            return v;
        }
        size_t used = 0;
        v.kind_ = Kind::Number;
        v.n_ = std::stod(std::string(t.substr(p, 40)), &used);
        p += used;
        return v;
    }

    Kind kind_ = Kind::Null;
    bool b_ = false;
    double n_ = 0;
    std::string s_;
    std::vector<Json> a_;
    std::map<std::string, Json> o_;
};

}  // namespace kwtest
