// tests/crypto/Pkcs1VectorFile.h: reads the RSA example files of the PKCS#1 test-vector
// layout (pkcs1v15sign-vectors.txt, pkcs1v15crypt-vectors.txt, oaep-vect.txt, pss-vect.txt and
// the oaep-custom files of python3-cryptography-vectors) in place.
//
// A file is a run of "# Label:" lines, each followed by hexadecimal lines (bytes separated by
// blanks or not). "# Public key" and "# Private key" open the key sections, whose labels are
// Modulus, Exponent, Public exponent, Prime 1, Prime 2, Prime exponent 1, Prime exponent 2 and
// Coefficient; every other label (Message, Message to be signed, Salt, Seed, Signature,
// Encryption) belongs to the current example, which ends with its Signature or Encryption.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "crypto/NistVectorFile.h"
#include "crypto/base/SBASN1.h"

namespace kwtest {

struct Pkcs1Key {
    std::vector<uint8_t> n, e, d, p, q, dP, dQ, qInv;

    // The DER RSAPrivateKey of the key.
    std::string Blob() const {
        auto integer = [](const std::vector<uint8_t>& v) {
            return EncodeDERInteger(std::string(v.begin(), v.end()));
        };
        return EncodeDERSequence({EncodeDERInteger(std::string(1, '\0')), integer(n), integer(e), integer(d),
                                  integer(p), integer(q), integer(dP), integer(dQ), integer(qInv)});
    }
};

struct Pkcs1Example {
    size_t key;  // index into the file's keys
    std::map<std::string, std::vector<uint8_t>> fields;

    const std::vector<uint8_t>& At(const std::string& name) const {
        auto it = fields.find(name);
        if (it == fields.end()) throw std::runtime_error("example lacks " + name);
        return it->second;
    }
};

struct Pkcs1VectorFile {
    std::vector<Pkcs1Key> keys;
    std::vector<Pkcs1Example> examples;

    explicit Pkcs1VectorFile(const std::filesystem::path& path) {
        std::ifstream in(path);
        if (!in) throw std::runtime_error("cannot read " + path.string());
        enum class Section { None, Public, Private, Example } section = Section::None;
        std::string label, hex, line;
        Pkcs1Example current{0, {}};
        auto flush = [&] {
            if (label.empty()) return;
            // Numbers are sometimes written without their leading zero digit ("10001").
            std::string digits;
            for (char c : hex)
                if (c != ' ' && c != '\t') digits += c;
            if (digits.size() % 2) digits.insert(digits.begin(), '0');
            const std::vector<uint8_t> bytes = Hex(digits);
            if (section == Section::Private) {
                Pkcs1Key& k = keys.back();
                if (label == "Modulus") k.n = bytes;
                if (label == "Public exponent") k.e = bytes;
                if (label == "Exponent") k.d = bytes;
                if (label == "Prime 1") k.p = bytes;
                if (label == "Prime 2") k.q = bytes;
                if (label == "Prime exponent 1") k.dP = bytes;
                if (label == "Prime exponent 2") k.dQ = bytes;
                if (label == "Coefficient") {
                    k.qInv = bytes;
                    section = Section::Example;
                }
            } else if (section == Section::Example) {
                current.fields[label] = bytes;
                if (label == "Signature" || label == "Encryption") {
                    current.key = keys.size() - 1;
                    examples.push_back(current);
                    current.fields.clear();
                }
            }
            label.clear();
            hex.clear();
        };
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.rfind("#", 0) == 0) {
                flush();
                std::string text = line.substr(1);
                while (!text.empty() && text.front() == ' ')
                    text.erase(0, 1);
                while (!text.empty() && text.back() == ' ')
                    text.pop_back();
                if (text == "Public key") section = Section::Public;
                if (text == "Private key") {
                    section = Section::Private;
                    keys.emplace_back();
                }
                if (!text.empty() && text.back() == ':') label = text.substr(0, text.size() - 1);
                continue;
            }
            if (!label.empty()) hex += line;
        }
        flush();
    }
};

// Where python3-cryptography-vectors keeps its RSA files on Debian.
inline std::filesystem::path RsaVectorsPath(const std::string& rel) {
    return std::filesystem::path("/usr/lib/python3/dist-packages/cryptography_vectors/asymmetric/RSA") / rel;
}

}  // namespace kwtest
