// tests/crypto/ASN1TestSupport.h: what the tests of the ASN.1 units and utilities share: hex
// literals, a runner for reference tools (openssl, python3) and a walk over a loaded tag tree.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "crypto/base/SBASN1Tree.h"
#include "support/TestSupport.h"

namespace asn1test {

// "30 03 02 01 05" -> the five bytes (blanks ignored).
inline std::string H(std::string_view hex) {
    std::string out;
    int hi = -1;
    for (const char c : hex) {
        int v;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            v = c - 'A' + 10;
        else
            continue;
        if (hi < 0) {
            hi = v;
        } else {
            out += char(hi << 4 | v);
            hi = -1;
        }
    }
    return out;
}

inline std::string Hex(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string r;
    for (const char c : bytes) {
        r += kDigits[uint8_t(c) >> 4];
        r += kDigits[uint8_t(c) & 15];
    }
    return r;
}

// Runs a shell command with its output sent to outFile; answers the exit status.
inline int Run(const std::string& command, const std::filesystem::path& outFile) {
    const std::string full = command + " > '" + outFile.string() + "' 2>&1";
    return std::system(full.c_str());
}

// Runs the openssl tool with args inside folder dir (file names relative to it), its output
// in dir/openssl.log; answers the exit status.
inline int OpenSSLIn(const std::filesystem::path& dir, const std::string& args) {
    return Run("cd '" + dir.string() + "' && openssl " + args, dir / "openssl.log");
}

inline bool HaveTool(const std::string& name) {
    const std::string cmd = "command -v " + name + " > /dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

// innermost wrapped in levels definite-length SEQUENCEs.
inline std::string Nested(int levels, const std::string& innermost) {
    std::string s = innermost;
    for (int i = 0; i < levels; ++i)
        s = std::string("\x30", 1) + EncodeDERLength(s.size()) + s;
    return s;
}

// Saves a node to a byte string through the size protocol.
inline std::string Save(const TElASN1CustomTag& tag) {
    size_t size = 0;
    tag.SaveToBuffer(nullptr, size);
    std::string out(size, '\0');
    if (!tag.SaveToBuffer(out.data(), size)) return "<save failed>";
    out.resize(size);
    return out;
}

// Pre-order walk with the depth of each node (children of the root have depth 0).
inline void Walk(const TElASN1ConstrainedTag& root,
                 const std::function<void(const TElASN1CustomTag&, int)>& visit, int depth = 0) {
    for (int i = 0; i < root.GetCount(); ++i) {
        const TElASN1CustomTag* c = root.GetChild(i);
        visit(*c, depth);
        if (c->IsConstrained()) Walk(static_cast<const TElASN1ConstrainedTag&>(*c), visit, depth + 1);
    }
}

}  // namespace asn1test
