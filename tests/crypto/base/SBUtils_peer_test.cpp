// The library's Base64 coder against `openssl base64`, and every OID constant with its dotted
// text against OpenSSL's own OID encoder (`openssl asn1parse -genconf`), arcs above 32 and 64
// bits included.
#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "crypto/ASN1TestSupport.h"
#include "crypto/base/SBASN1Tree.h"
#include "crypto/base/SBConstants.h"
#include "crypto/base/SBUtils.h"

using asn1test::H;
using asn1test::Hex;

namespace {

std::string Encode(const std::string& in, bool lineBreaks) {
    size_t size = 0;
    EncodeBase64(in.data(), in.size(), nullptr, lineBreaks, size);
    std::string out(size, '\0');
    if (!EncodeBase64(in.data(), in.size(), out.data(), lineBreaks, size)) return "<failed>";
    out.resize(size);
    return out;
}

std::string StripTrailingNewline(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
        s.pop_back();
    return s;
}

}  // namespace

TEST(SBUtilsPeer, Base64MatchesOpenSSL) {
    KW_REQUIRE_PEER(asn1test::HaveTool("openssl"), "openssl");
    const size_t sizes[] = {1, 2, 3, 4, 5, 47, 48, 49, 50, 95, 96, 97, 144, 1000, 4097};
    std::mt19937 rng(20240229);
    kwtest::TempDir dir;
    std::ostringstream script;
    std::vector<std::string> inputs;
    for (size_t i = 0; i < std::size(sizes); ++i) {
        std::string in(sizes[i], '\0');
        for (auto& c : in)
            c = char(rng());
        inputs.push_back(in);
        const std::string f = (dir / std::to_string(i)).string();
        kwtest::WriteFile(f, in);
        script << "openssl base64 -in '" << f << "' -out '" << f << ".lines' && openssl base64 -A -in '" << f
               << "' -out '" << f << ".flat'\n";
    }
    kwtest::WriteFile(dir / "run.sh", script.str());
    ASSERT_EQ(asn1test::Run("sh '" + (dir / "run.sh").string() + "'", dir / "run.log"), 0)
        << kwtest::ReadFile(dir / "run.log");

    for (size_t i = 0; i < inputs.size(); ++i) {
        SCOPED_TRACE(sizes[i]);
        const std::string base = (dir / std::to_string(i)).string();
        // OpenSSL ends every line, the last one included, with LF; ours leaves the last open.
        const std::string lines = kwtest::ReadFile(base + ".lines");
        const std::string flat = kwtest::ReadFile(base + ".flat");
        EXPECT_EQ(Encode(inputs[i], true), StripTrailingNewline(lines));
        EXPECT_EQ(Encode(inputs[i], false), StripTrailingNewline(flat));

        // And OpenSSL's text, line feeds and all, decodes back to the input.
        std::string out(lines.size(), '\0');
        size_t size = out.size();
        ASSERT_EQ(DecodeBase64(lines.data(), lines.size(), out.data(), size), 0);
        EXPECT_EQ(out.substr(0, size), inputs[i]);
        // With CR LF line ends too.
        std::string crlf;
        for (const char c : lines)
            crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
        out.assign(crlf.size(), '\0');
        size = out.size();
        ASSERT_EQ(DecodeBase64(crlf.data(), crlf.size(), out.data(), size), 0);
        EXPECT_EQ(out.substr(0, size), inputs[i]);
    }
}

TEST(SBUtilsPeer, EveryOIDConstantAndItsDottedTextMatchOpenSSLsEncoding) {
    KW_REQUIRE_PEER(asn1test::HaveTool("openssl"), "openssl");
    struct Item {
        std::string name, oid;
    };
    std::vector<Item> items;
    for (const auto& e : SBOIDTable())
        items.push_back({std::string(e.Name), std::string(e.OID)});
    // Arcs beyond 32 and 64 bits, and a UUID arc.
    for (const char* extra : {"2A 90 80 80 80 00 05", "2A 8F FF FF FF 7F", "2A 82 80 80 80 80 80 80 80 80 00",
                              "88 37 01", "69 83 F0 9D A7 EB CF DE E0 C7 A1 A7 B2 C0 94 8C C8 F9 D7 76"})
        items.push_back({std::string("extra ") + extra, H(extra)});
    ASSERT_GT(items.size(), 150u);

    // One configuration: a SEQUENCE of every OID, written by OpenSSL from our dotted texts.
    std::ostringstream conf;
    conf << "asn1 = SEQUENCE:oids\n[oids]\n";
    for (size_t i = 0; i < items.size(); ++i)
        conf << "o" << i << " = OID:" << OIDToText(items[i].oid) << "\n";
    kwtest::TempDir dir;
    kwtest::WriteFile(dir / "oids.cnf", conf.str());
    const std::string der = (dir / "oids.der").string();
    ASSERT_EQ(
        asn1test::Run("openssl asn1parse -genconf '" + (dir / "oids.cnf").string() + "' -out '" + der + "'",
                      dir / "log"),
        0)
        << kwtest::ReadFile(dir / "log");

    const std::string encoded = kwtest::ReadFile(der);
    TElASN1ConstrainedTag root;
    ASSERT_TRUE(root.LoadFromBuffer(encoded.data(), encoded.size()));
    ASSERT_EQ(root.GetCount(), 1);
    const auto& seq = dynamic_cast<const TElASN1ConstrainedTag&>(*root.GetChild(0));
    ASSERT_EQ(seq.GetCount(), int(items.size()));
    for (size_t i = 0; i < items.size(); ++i) {
        SCOPED_TRACE(items[i].name + " " + OIDToText(items[i].oid));
        const TElASN1CustomTag* t = seq.GetChild(int(i));
        ASSERT_TRUE(t->CheckType(0x06, false));
        EXPECT_EQ(Hex(dynamic_cast<const TElASN1SimpleTag&>(*t).GetContent()), Hex(items[i].oid));
    }
}
