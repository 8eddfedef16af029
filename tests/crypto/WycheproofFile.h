// tests/crypto/WycheproofFile.h: reads the JSON test-vector files of Project Wycheproof in
// place (../shared/vectors/wycheproof) and walks their groups and tests.
//
// A file holds "testGroups", each with its parameters (key sizes, keys) and "tests"; a test has
// "tcId", "comment", "flags", its inputs (hexadecimal strings) and a "result" of "valid",
// "invalid" or "acceptable". The small JSON reader below knows exactly what these files use:
// objects, arrays, strings with escapes, numbers, true, false and null.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/NistVectorFile.h"
#include "support/TestSupport.h"

namespace kwtest {

struct Json {
    enum class Kind { Null, Boolean, Number, String, Array, Object };
    Kind kind = Kind::Null;
    bool boolean = false;
    double number = 0;
    std::string text;
    std::vector<Json> items;
    std::map<std::string, Json> members;

    bool Has(const std::string& key) const { return kind == Kind::Object && members.count(key) != 0; }
    const Json& operator[](const std::string& key) const {
        auto it = members.find(key);
        if (kind != Kind::Object || it == members.end()) throw std::runtime_error("JSON lacks member " + key);
        return it->second;
    }
    const std::string& Str() const {
        if (kind != Kind::String) throw std::runtime_error("JSON value is not a string");
        return text;
    }
    int64_t Int() const {
        if (kind != Kind::Number) throw std::runtime_error("JSON value is not a number");
        return int64_t(number);
    }
};

class JsonReader {
public:
    explicit JsonReader(std::string_view text) : s_(text) {}

    Json ReadDocument() {
        Json v = Value();
        Space();
        if (i_ != s_.size()) Fail("text after the document");
        return v;
    }

private:
    [[noreturn]] void Fail(const char* what) const {
        throw std::runtime_error(std::string("JSON: ") + what + " at offset " + std::to_string(i_));
    }
    void Space() {
        while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\n' || s_[i_] == '\r' || s_[i_] == '\t'))
            ++i_;
    }
    bool Take(char c) {
        Space();
        if (i_ < s_.size() && s_[i_] == c) {
            ++i_;
            return true;
        }
        return false;
    }
    void Expect(char c) {
        if (!Take(c)) Fail("unexpected character");
    }
    bool Word(std::string_view w) {
        if (s_.substr(i_, w.size()) != w) return false;
        i_ += w.size();
        return true;
    }
    std::string String() {
        Expect('"');
        std::string out;
        while (i_ < s_.size() && s_[i_] != '"') {
            char c = s_[i_++];
            if (c != '\\') {
                out += c;
                continue;
            }
            if (i_ >= s_.size()) Fail("escape at the end");
            c = s_[i_++];
            switch (c) {
                case 'n': out += '\n'; break;
                case 't': out += '\t'; break;
                case 'r': out += '\r'; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'u': {
                    if (i_ + 4 > s_.size()) Fail("short \\u escape");
                    const unsigned cp = unsigned(std::stoul(std::string(s_.substr(i_, 4)), nullptr, 16));
                    i_ += 4;
                    // Comments are the only place these files use escapes; a UTF-8 form suffices.
                    if (cp < 0x80) {
                        out += char(cp);
                    } else if (cp < 0x800) {
                        out += char(0xC0 | (cp >> 6));
                        out += char(0x80 | (cp & 0x3F));
                    } else {
                        out += char(0xE0 | (cp >> 12));
                        out += char(0x80 | ((cp >> 6) & 0x3F));
                        out += char(0x80 | (cp & 0x3F));
                    }
                    break;
                }
                default: out += c; break;
            }
        }
        Expect('"');
        return out;
    }
    Json Value() {
        Space();
        if (i_ >= s_.size()) Fail("value expected");
        Json v;
        const char c = s_[i_];
        if (c == '{') {
            ++i_;
            v.kind = Json::Kind::Object;
            if (Take('}')) return v;
            do {
                Space();
                std::string key = String();
                Expect(':');
                v.members.emplace(std::move(key), Value());
            } while (Take(','));
            Expect('}');
        } else if (c == '[') {
            ++i_;
            v.kind = Json::Kind::Array;
            if (Take(']')) return v;
            do
                v.items.push_back(Value());
            while (Take(','));
            Expect(']');
        } else if (c == '"') {
            v.kind = Json::Kind::String;
            v.text = String();
        } else if (Word("true")) {
            v.kind = Json::Kind::Boolean;
            v.boolean = true;
        } else if (Word("false")) {
            v.kind = Json::Kind::Boolean;
        } else if (Word("null")) {
        } else {
            size_t used = 0;
            v.kind = Json::Kind::Number;
            v.number = std::stod(std::string(s_.substr(i_, 32)), &used);
            if (used == 0) Fail("number expected");
            i_ += used;
        }
        return v;
    }

    std::string_view s_;
    size_t i_ = 0;
};

// One test of a Wycheproof file, with the group it belongs to.
struct WycheproofTest {
    const Json* group;
    const Json* test;

    int64_t Id() const { return (*test)["tcId"].Int(); }
    const std::string& Result() const { return (*test)["result"].Str(); }
    bool Valid() const { return Result() == "valid"; }
    bool Invalid() const { return Result() == "invalid"; }
    bool HasFlag(const std::string& flag) const {
        for (const Json& f : (*test)["flags"].items)
            if (f.text == flag) return true;
        return false;
    }
    // A hexadecimal field of the test as bytes.
    std::vector<uint8_t> Bytes(const std::string& field) const { return Hex((*test)[field].Str()); }
    std::string Describe() const {
        return "tcId " + std::to_string(Id()) + " (" + (*test)["comment"].Str() + ")";
    }
};

class WycheproofFile {
public:
    // The file of that name in the shared vectors folder; empty when the folder is missing.
    static std::filesystem::path PathOf(const std::string& name) {
        return SharedPath("vectors/wycheproof/" + name);
    }

    explicit WycheproofFile(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        if (!in) throw std::runtime_error("cannot read " + path.string());
        std::ostringstream text;
        text << in.rdbuf();
        root_ = JsonReader(text.str()).ReadDocument();
        for (const Json& group : root_["testGroups"].items)
            for (const Json& test : group["tests"].items)
                tests_.push_back({&group, &test});
    }

    const Json& Root() const { return root_; }
    const std::vector<WycheproofTest>& Tests() const { return tests_; }
    // The count the file announces, to check that every test was read.
    int64_t AnnouncedCount() const { return root_["numberOfTests"].Int(); }

private:
    Json root_;
    std::vector<WycheproofTest> tests_;
};

}  // namespace kwtest
