// tests/pki/PKITestSupport.h: what the certificate tests share: the published certificate
// corpora (PKITS and the custom set of python3-cryptography-vectors, the system's CA bundle),
// libcrypto's reading of the same bytes, the openssl tool for fixtures made at test time, and
// edits of DER through the tag tree.
#pragma once

#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "crypto/base/SBASN1Tree.h"
#include "support/TestSupport.h"
#include "tests/crypto/ASN1TestSupport.h"

namespace pkitest {

namespace fs = std::filesystem;

inline fs::path VectorsX509() {
    return "/usr/lib/python3/dist-packages/cryptography_vectors/x509";
}

// Skips (or, under CI, fails) the calling test when the folder is missing.
#define PKI_REQUIRE_DIR(dir)                                                        \
    do {                                                                            \
        if (!std::filesystem::is_directory(dir)) {                                  \
            if (kwtest::InCI()) FAIL() << "missing " << (dir);                      \
            GTEST_SKIP() << "missing " << (dir) << " (python3-cryptography-vectors)"; \
        }                                                                           \
    } while (0)

#define PKI_REQUIRE_OPENSSL()                                                  \
    do {                                                                       \
        if (!asn1test::HaveTool("openssl")) {                                  \
            if (kwtest::InCI()) FAIL() << "the openssl tool is missing";       \
            GTEST_SKIP() << "the openssl tool is missing";                     \
        }                                                                      \
    } while (0)

using X509Ptr = std::unique_ptr<X509, decltype(&X509_free)>;

inline X509Ptr ParseDER(const std::string& der) {
    const auto* p = reinterpret_cast<const unsigned char*>(der.data());
    return X509Ptr(d2i_X509(nullptr, &p, long(der.size())), &X509_free);
}

// The DER of every object of one PEM kind in a text ("CERTIFICATE", "X509 CRL"), in order.
inline std::vector<std::string> PEMBlocks(const std::string& text, const std::string& kind) {
    std::vector<std::string> out;
    const std::string begin = "-----BEGIN " + kind + "-----";
    const std::string end = "-----END " + kind + "-----";
    size_t at = 0;
    while ((at = text.find(begin, at)) != std::string::npos) {
        const size_t stop = text.find(end, at);
        if (stop == std::string::npos) break;
        const std::string block = text.substr(at, stop + end.size() - at) + "\n";
        std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(block.data(), int(block.size())), &BIO_free);
        char* name = nullptr;
        char* header = nullptr;
        unsigned char* data = nullptr;
        long len = 0;
        if (PEM_read_bio(bio.get(), &name, &header, &data, &len) == 1)
            out.emplace_back(reinterpret_cast<const char*>(data), size_t(len));
        OPENSSL_free(name);
        OPENSSL_free(header);
        OPENSSL_free(data);
        at = stop + end.size();
    }
    return out;
}

// The objects of one kind in a file: its PEM blocks, or the whole file when it holds none.
inline std::vector<std::string> LoadObjects(const fs::path& file, const std::string& kind) {
    const std::string text = kwtest::ReadFile(file);
    if (text.find("-----BEGIN ") != std::string::npos) return PEMBlocks(text, kind);
    return {text};
}

// Seconds since 1970 of an ASN1_TIME, and of one of our date-times.
inline int64_t UnixTime(const ASN1_TIME* t) {
    struct tm tm {};
    if (ASN1_TIME_to_tm(t, &tm) != 1) return INT64_MIN;
    return int64_t(timegm(&tm));
}

inline int64_t UnixTime(double dateTime) {
    return int64_t((dateTime - 25569.0) * 86400.0 + (dateTime >= 25569.0 ? 0.5 : -0.5));
}

inline std::string ASN1StringBytes(const ASN1_STRING* s) {
    if (s == nullptr) return {};
    return std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(s)), size_t(ASN1_STRING_length(s)));
}

// Runs the openssl tool with arguments in a folder; answers its exit status. Output goes to
// a file in the folder for the failure message.
inline int OpenSSL(const fs::path& dir, const std::string& args) {
    const std::string cmd = "cd '" + dir.string() + "' && openssl " + args + " > openssl.log 2>&1";
    return std::system(cmd.c_str());
}

inline std::string OpenSSLLog(const fs::path& dir) {
    return kwtest::ReadFile(dir / "openssl.log");
}

// Edits DER through the tag tree: the callback changes the loaded root (whose child 0 is the
// outer element) and the result is the root's children written out again.
inline std::string EditDER(const std::string& der, const std::function<void(TElASN1ConstrainedTag&)>& edit) {
    TElASN1ConstrainedTag root;
    if (!LoadTagTree(root, der)) return {};
    edit(root);
    std::string out;
    for (int i = 0; i < root.GetCount(); ++i)
        out += SaveTagToString(*root.GetChild(i));
    return out;
}

// The node at a path of child indices below the root.
inline TElASN1CustomTag* Node(TElASN1ConstrainedTag& root, std::initializer_list<int> path) {
    TElASN1CustomTag* at = &root;
    for (int i : path) {
        if (at == nullptr || !at->IsConstrained()) return nullptr;
        at = static_cast<TElASN1ConstrainedTag*>(at)->GetChild(i);
    }
    return at;
}

inline TElASN1ConstrainedTag& C(TElASN1ConstrainedTag& root, std::initializer_list<int> path) {
    return static_cast<TElASN1ConstrainedTag&>(*Node(root, path));
}

inline TElASN1SimpleTag& S(TElASN1ConstrainedTag& root, std::initializer_list<int> path) {
    return static_cast<TElASN1SimpleTag&>(*Node(root, path));
}

// The configuration `openssl ca -gencrl` runs with: a database and CRL number in the folder,
// SHA-256, 30 days, an authority key identifier, and an extension section with a critical
// issuing distribution point for lists that name one.
inline constexpr const char* kCAConfig = R"([ca]
default_ca = CA_default
[CA_default]
database = index.txt
crlnumber = crlnumber
default_md = sha256
default_crl_days = 30
crl_extensions = crl_ext
[crl_ext]
authorityKeyIdentifier = keyid:always
[idp_ext]
issuingDistributionPoint = critical, @idp
[idp]
fullname = URI:http://example/crl
)";

// A suite whose fixtures openssl makes once, in a temporary folder of its own: Derived::Make
// (folder) answers whether every command succeeded; each test then fails with openssl's last
// output if not (and skips, or fails under CI, without the tool).
template <class Derived>
class OpenSSLSuite : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!asn1test::HaveTool("openssl")) return;
        dir_ = new kwtest::TempDir();
        ok_ = Derived::Make(dir_->path());
        if (!ok_) log_ = OpenSSLLog(dir_->path());
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    void SetUp() override {
        PKI_REQUIRE_OPENSSL();
        ASSERT_TRUE(ok_) << log_;
    }

    static inline kwtest::TempDir* dir_ = nullptr;
    static inline bool ok_ = false;
    static inline std::string log_;
};

}  // namespace pkitest
