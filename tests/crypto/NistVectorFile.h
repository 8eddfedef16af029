// tests/crypto/NistVectorFile.h: reads the known-answer files of the CAVP ".rsp" layout (and
// the RFC files reformatted to it) that python3-cryptography-vectors installs, in place.
//
// A file is a run of "[SECTION]" lines and records of "NAME = value" lines; a record starts at
// its COUNT line. Values stay text; Hex() turns the hexadecimal ones into bytes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace kwtest {

struct NistRecord {
    std::string section;  // "ENCRYPT", "DECRYPT" or empty
    std::map<std::string, std::string> fields;

    bool Has(const std::string& name) const { return fields.count(name) != 0; }
    const std::string& At(const std::string& name) const {
        auto it = fields.find(name);
        if (it == fields.end()) throw std::runtime_error("vector record lacks " + name);
        return it->second;
    }
};

inline std::vector<uint8_t> Hex(const std::string& text) {
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        throw std::runtime_error(std::string("not a hexadecimal digit: ") + c);
    };
    std::vector<uint8_t> out;
    int high = -1;
    for (char c : text) {
        if (c == ' ' || c == ':') continue;
        const int v = nibble(c);
        if (high < 0) {
            high = v;
        } else {
            out.push_back(uint8_t(high << 4 | v));
            high = -1;
        }
    }
    if (high >= 0) throw std::runtime_error("odd number of hexadecimal digits");
    return out;
}

inline std::string ToHex(const uint8_t* p, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}
inline std::string ToHex(const std::vector<uint8_t>& v) {
    return ToHex(v.data(), v.size());
}

inline std::vector<NistRecord> ReadNistFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    std::vector<NistRecord> records;
    std::string section;
    std::string line;
    auto trim = [](std::string s) {
        const auto b = s.find_first_not_of(" \t\r");
        if (b == std::string::npos) return std::string();
        const auto e = s.find_last_not_of(" \t\r");
        return s.substr(b, e - b + 1);
    };
    while (std::getline(in, line)) {
        line = trim(line);
        if (line.empty() || line[0] == '#') continue;
        if (line.front() == '[') {
            section = line.substr(1, line.find(']') - 1);
            continue;
        }
        const auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string name = trim(line.substr(0, eq));
        const std::string value = trim(line.substr(eq + 1));
        if (name == "COUNT" || records.empty()) records.push_back(NistRecord{section, {}});
        records.back().fields[name] = value;
    }
    return records;
}

// Where python3-cryptography-vectors keeps its cipher files on Debian.
inline std::filesystem::path CryptographyVectorsPath(const std::string& rel) {
    return std::filesystem::path("/usr/lib/python3/dist-packages/cryptography_vectors/ciphers") / rel;
}

}  // namespace kwtest
