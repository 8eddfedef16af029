// The tag tree against OpenSSL on real certificates: every certificate of the system's CA
// bundle, turned into DER by `openssl x509`, loads into the tree and saves back byte for byte,
// and every node's offset, depth, header size and length agree with `openssl asn1parse -i`.
// The PEM bodies also decode to the same DER through the library's own Base64 decoder.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "crypto/ASN1TestSupport.h"
#include "crypto/base/SBASN1Tree.h"
#include "crypto/base/SBUtils.h"
#include "rtl/Stream.h"

namespace fs = std::filesystem;
using asn1test::Save;

namespace {

std::vector<fs::path> CaBundle() {
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator("/etc/ssl/certs", ec))
        if (e.path().extension() == ".pem") files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

// "offset d=depth hl=header l=length cons|prim" per element, from lines such as
// "   13:d=2  hl=2 l=   8 prim:   INTEGER           :5EC3B7A6437FA4E0".
std::vector<std::string> OpenSSLLayout(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string offset, depth, hl, l, kind;
        if (!std::getline(fields >> std::ws, offset, ':')) continue;
        fields >> depth >> hl >> l;
        // The length is right-aligned after "l=", so it may be a separate word.
        if (l == "l=") {
            std::string value;
            fields >> value;
            l += value;
        }
        fields >> kind;
        if (depth.rfind("d=", 0) != 0 || hl.rfind("hl=", 0) != 0 || l.rfind("l=", 0) != 0) continue;
        if (kind != "cons:" && kind != "prim:") continue;
        kind.pop_back();
        out.push_back(offset + " " + depth + " " + hl + " " + l + " " + kind);
    }
    return out;
}

std::vector<std::string> OurLayout(const TElASN1ConstrainedTag& root) {
    std::vector<std::string> out;
    asn1test::Walk(root, [&out](const TElASN1CustomTag& t, int depth) {
        out.push_back(std::to_string(t.ElementOffset) + " d=" + std::to_string(depth) + " hl=" +
                      std::to_string(t.HeaderSize) + " l=" + std::to_string(t.ElementSize - t.HeaderSize) +
                      (t.IsConstrained() ? " cons" : " prim"));
    });
    return out;
}

std::string PemBody(const std::string& pem) {
    const size_t begin = pem.find("-----BEGIN CERTIFICATE-----");
    const size_t end = pem.find("-----END CERTIFICATE-----");
    if (begin == std::string::npos || end == std::string::npos) return {};
    const size_t from = pem.find('\n', begin) + 1;
    return pem.substr(from, end - from);
}

}  // namespace

TEST(SBASN1TreePeer, EveryCertificateOfTheCABundleRoundTripsWithOpenSSLLayout) {
    KW_REQUIRE_PEER(asn1test::HaveTool("openssl"), "openssl");
    const auto files = CaBundle();
    KW_REQUIRE_PEER(!files.empty(), "/etc/ssl/certs/*.pem (ca-certificates)");

    // One shell run converts and parses them all.
    kwtest::TempDir dir;
    std::ostringstream script;
    for (size_t i = 0; i < files.size(); ++i) {
        const std::string der = (dir / (std::to_string(i) + ".der")).string();
        const std::string txt = (dir / (std::to_string(i) + ".txt")).string();
        script << "openssl x509 -in '" << files[i].string() << "' -outform DER -out '" << der
               << "' && openssl asn1parse -inform DER -i -in '" << der << "' > '" << txt << "'\n";
    }
    kwtest::WriteFile(dir / "run.sh", script.str());
    ASSERT_EQ(asn1test::Run("sh '" + (dir / "run.sh").string() + "'", dir / "run.log"), 0)
        << kwtest::ReadFile(dir / "run.log");

    size_t checked = 0;
    for (size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(files[i].string());
        const std::string der = kwtest::ReadFile(dir / (std::to_string(i) + ".der"));
        const std::string parsed = kwtest::ReadFile(dir / (std::to_string(i) + ".txt"));
        ASSERT_FALSE(der.empty());

        TElASN1ConstrainedTag root;
        ASSERT_TRUE(root.LoadFromBuffer(der.data(), der.size()));
        ASSERT_EQ(root.GetCount(), 1);
        EXPECT_EQ(Save(*root.GetChild(0)), der);
        const auto expected = OpenSSLLayout(parsed);
        ASSERT_GT(expected.size(), 10u);
        EXPECT_EQ(OurLayout(root), expected);

        // The same certificate from a stream, its large contents left in the stream.
        rtl::MemoryStream stream(der);
        TElASN1ConstrainedTag fromStream;
        fromStream.MaxInMemorySize = 16;
        ASSERT_TRUE(fromStream.LoadFromStream(stream));
        rtl::MemoryStream out;
        fromStream.GetChild(0)->SaveToStream(out);
        EXPECT_EQ(out.Data(), der);
        EXPECT_EQ(OurLayout(fromStream), expected);

        // The library's Base64 decoder reads the PEM body to the same DER.
        const std::string body = PemBody(kwtest::ReadFile(files[i]));
        std::string decoded(body.size(), '\0');
        size_t size = decoded.size();
        ASSERT_EQ(DecodeBase64(body.data(), body.size(), decoded.data(), size), 0);
        decoded.resize(size);
        EXPECT_EQ(decoded, der);
        ++checked;
    }
    EXPECT_EQ(checked, files.size());
}
