// tests/crypto/DsaTestSupport.h: the CAVP DSA files of python3-cryptography-vectors read in
// place ("[mod = L=1024, N=160, SHA-1]" sections with P, Q and G, then records of Msg, X, Y,
// R, S and Result), and a DSA key pair over a domain of those files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "crypto/NistVectorFile.h"
#include "crypto/base/SBConstants.h"

namespace dsatest {

using Bytes = std::vector<uint8_t>;

struct Domain {
    int L = 0, N = 0;
    int32_t hash = 0;
    Bytes p, q, g;
};

struct Record {
    const Domain* domain;
    std::map<std::string, std::string> fields;
    Bytes At(const std::string& name) const {
        auto it = fields.find(name);
        if (it == fields.end()) throw std::runtime_error("record lacks " + name);
        return kwtest::Hex(it->second);
    }
    bool Has(const std::string& name) const { return fields.count(name) != 0; }
};

struct CavpDsaFile {
    std::vector<Domain> domains;  // stable addresses: reserved before reading
    std::vector<Record> records;

    explicit CavpDsaFile(const std::filesystem::path& path) {
        std::ifstream in(path);
        if (!in) throw std::runtime_error("cannot read " + path.string());
        domains.reserve(64);
        std::string line;
        Record current{nullptr, {}};
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.rfind("[mod = ", 0) == 0) {
                Domain d;
                d.L = std::stoi(line.substr(line.find("L=") + 2));
                d.N = std::stoi(line.substr(line.find("N=") + 2));
                const std::string sha = line.substr(line.find("SHA-"));
                d.hash = sha.rfind("SHA-1]", 0) == 0   ? SB_ALG_SHA1
                         : sha.rfind("SHA-224", 0) == 0 ? SB_ALG_SHA224
                         : sha.rfind("SHA-256", 0) == 0 ? SB_ALG_SHA256
                         : sha.rfind("SHA-384", 0) == 0 ? SB_ALG_SHA384
                                                        : SB_ALG_SHA512;
                domains.push_back(d);
                continue;
            }
            const auto eq = line.find(" = ");
            if (eq == std::string::npos || domains.empty()) continue;
            const std::string name = line.substr(0, eq), value = line.substr(eq + 3);
            Domain& d = domains.back();
            if (name == "P") d.p = kwtest::Hex(value);
            if (name == "Q") d.q = kwtest::Hex(value);
            if (name == "G") d.g = kwtest::Hex(value);
            if (name == "P" || name == "Q" || name == "G") continue;
            if (name == "Msg" && !current.fields.empty()) {
                records.push_back(current);
                current.fields.clear();
            }
            current.domain = &d;
            current.fields[name] = value;
        }
        if (!current.fields.empty()) records.push_back(current);
    }
};

inline std::filesystem::path DsaVectorsPath(const std::string& rel) {
    return std::filesystem::path("/usr/lib/python3/dist-packages/cryptography_vectors/asymmetric/DSA") / rel;
}

}  // namespace dsatest
